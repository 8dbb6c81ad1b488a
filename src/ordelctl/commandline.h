#ifndef COMMANDLINE_H
#define COMMANDLINE_H

#include "fleetsearch.h"
#include "rollout.h"
#include "runoptions.h"
#include "selection.h"

#include <QString>
#include <QStringList>

#include <optional>

class QCommandLineParser;

// The command and its options, read and checked before anything is sent: a
// usage error names what is wrong and leaves the cameras alone.
class CommandLine
{
public:
    enum class Command { Search, Restart, Shutdown, Update, History, Inventory, Resume };
    // The table of the commands' names is checked against it when compiled: a
    // command added at the end moves it.
    static constexpr int commandCount = int(Command::Resume) + 1;
    enum class Status {
        Run, // the command is read and checked
        Done, // help or the version was asked for: Output() is to be printed
        UsageError, // Error() says why
    };

    Status Parse(const QStringList &arguments);
    QString Error() const { return error; }
    QString Output() const { return output; }
    // Where a usage error sends the user: the command's own help once the
    // command is known.
    QString HelpHint() const;

    // Four decimal numbers of at most 255 with dots between, without leading
    // zeros (which some readers take for octal), neither 0.0.0.0 nor the
    // broadcast address.
    static bool IsDottedIpv4(const QString &text);
    // The command's word, "update" for Command::Update.
    static const char *WordOf(Command command);

    Command command = Command::Search;
    bool json = false;
    bool csv = false;
    bool yes = false;
    int searchTimeoutMs = RunOptions::searchTimeoutLimits.byDefault;
    QString imagePath;
    int parallel = RunOptions::parallelLimits.byDefault;
    int reportTimeoutS = RunOptions::reportTimeoutLimits.byDefault;
    // Each camera once, in the order first given.
    QStringList addresses;
    // --all, --type, --any-type, --skip-fw and --canary.
    Selection selection;
    // A previous run's --json output, whose unsuccessful cameras to update.
    QString retryPath;
    // The version the image installs: cameras on it are skipped, and each
    // update is proven by the camera answering on it after its restart.
    QString fwVersion;
    int verifyTimeoutS = RunOptions::verifyTimeoutLimits.byDefault;
    // No camera starts once this many have failed; 0 for no limit.
    int maxFailures = 0;
    // Plan only: what would happen to each camera, nothing sent.
    bool check = false;
    // A search's output naming the cameras that should answer.
    QString expectPath;
    // The journal to write and read: this file instead of the default one,
    // or none at all.
    QString journalPath;
    bool noJournal = false;
    // history: one run's cameras, or one camera's results, instead of the runs.
    qint64 historyRun = 0;
    QString historyCamera;
    // resume: the run to continue; 0 for the newest that did not end.
    qint64 resumeRun = 0;

    // The arguments as given, with every file named by its absolute path, so
    // that a resume in another folder finds the same files.
    QStringList RecordedArguments() const;

private:
    Status ParseCommand(const QStringList &arguments);
    static bool CommandFromName(const QString &name, Command *command);
    static QString CommandList();
    static QString GeneralHelp();
    QString CommandHelp(const QString &parserHelp) const;
    void AddOptions(QCommandLineParser &parser) const;
    bool Take(const QCommandLineParser &parser);
    bool TakeNumber(const QCommandLineParser &parser, const RunOptions::Number &limits, int *value);
    bool TakeAddresses(const QStringList &given);
    bool TakeSelection(const QCommandLineParser &parser);
    bool TakeRollout(const QCommandLineParser &parser);
    Status Print(const QString &text);
    Status Refuse(const QString &reason);
    bool Fail(const QString &reason);

    bool TakeJournal(const QCommandLineParser &parser);
    bool TakeHistory(const QCommandLineParser &parser);

    QString error;
    QString output;
    bool wordRead = false;
    QStringList given;
};

#endif // COMMANDLINE_H
