#include "commandline.h"

#include "cameraaddress.h"
#include "exitcode.h"
#include "runoptions.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFileInfo>

#include <csignal>
#include <iterator>
#include <limits>

namespace {

struct CommandName
{
    CommandLine::Command command;
    const char *name;
    const char *summary;
    // The command's forms, as the manual's synopsis gives them.
    const char *synopsis;
};

// Indexed by the command.
constexpr CommandName commandNames[] = {
    { CommandLine::Command::Search, "search",
        "lists the cameras that answer the discovery probe on every attached network",
        "ordelctl search [--timeout MS] [--json | --csv] [--expect FILE]" },
    { CommandLine::Command::Restart, "restart", "restarts the cameras at the given addresses",
        "ordelctl restart [--yes] [--json] IP..." },
    { CommandLine::Command::Shutdown, "shutdown", "shuts down the cameras at the given addresses",
        "ordelctl shutdown [--yes] [--json] IP..." },
    { CommandLine::Command::Update, "update",
        "updates the firmware of the cameras at the given addresses, or of all found",
        "ordelctl update --image FILE [--parallel N] [--report-timeout S] [--yes] [--json]\n"
        "                [--skip-fw VERSION] [--fw-version V [--verify-timeout S]]\n"
        "                [--canary N] [--max-failures N] [--check]\n"
        "                [--type TYPE | --any-type]\n"
        "                (--all [--expect FILE] | IP... | --retry FILE)" },
    { CommandLine::Command::History, "history",
        "lists the runs the journal remembers, one run's cameras, or one camera's results",
        "ordelctl history [--run N | --camera IP|MAC] [--json | --csv]" },
    { CommandLine::Command::Inventory, "inventory",
        "lists every camera a search has ever listed, with its latest update",
        "ordelctl inventory [--json | --csv]" },
    { CommandLine::Command::Resume, "resume",
        "continues a run whose process died, with the same command, image and options",
        "ordelctl resume [RUN] [--yes] [--json] [--type TYPE | --any-type]" },
};

constexpr bool namesFollowCommands()
{
    for (int index = 0; index < int(std::size(commandNames)); ++index) {
        if (commandNames[index].command != CommandLine::Command(index))
            return false;
    }
    return true;
}

static_assert(std::size(commandNames) == CommandLine::commandCount, "a name for every command");
static_assert(namesFollowCommands(), "the names in the order of the commands");

// addHelpOption() adds it beside --help. The program has no options of Qt's
// to show, so it shows the same help.
const char optionHelpAll[] = "help-all";
const char optionJson[] = "json";
const char optionCsv[] = "csv";
const char optionYes[] = "yes";
constexpr const char *optionTimeout = RunOptions::optionTimeout;
constexpr const char *optionImage = RunOptions::optionImage;
constexpr const char *optionParallel = RunOptions::optionParallel;
constexpr const char *optionReportTimeout = RunOptions::optionReportTimeout;
const char optionAll[] = "all";
constexpr const char *optionType = RunOptions::optionType;
constexpr const char *optionAnyType = RunOptions::optionAnyType;
constexpr const char *optionSkipFw = RunOptions::optionSkipFw;
constexpr const char *optionCanary = RunOptions::optionCanary;
const char optionRetry[] = "retry";
constexpr const char *optionFwVersion = RunOptions::optionFwVersion;
constexpr const char *optionVerifyTimeout = RunOptions::optionVerifyTimeout;
constexpr const char *optionMaxFailures = RunOptions::optionMaxFailures;
const char optionCheck[] = "check";
const char optionExpect[] = "expect";
const char optionJournal[] = "journal";
const char optionNoJournal[] = "no-journal";
const char optionRun[] = "run";
const char optionCamera[] = "camera";
// Options whose value names a file, kept by their absolute path for a resume.
const char *const fileOptions[] = { optionImage, optionRetry, optionExpect, optionJournal };

constexpr RunOptions::Number runLimits { optionRun, 1, std::numeric_limits<int>::max(), 0 };

} // namespace

CommandLine::Status CommandLine::Parse(const QStringList &arguments)
{
    QCommandLineParser parser;
    const QCommandLineOption help = parser.addHelpOption();
    const QCommandLineOption version = parser.addVersionOption();
    // Only the program's own options come before the command word; all that
    // follows it is the command's, options included.
    parser.setOptionsAfterPositionalArgumentsMode(QCommandLineParser::ParseAsPositionalArguments);
    if (!parser.parse(arguments))
        return Refuse(parser.errorText());
    if (parser.isSet(help) || parser.isSet(QLatin1String(optionHelpAll)))
        return Print(GeneralHelp());
    if (parser.isSet(version))
        return Print(QStringLiteral("%1 %2\n").arg(
            QCoreApplication::applicationName(), QCoreApplication::applicationVersion()));
    QStringList rest = parser.positionalArguments();
    const QString word = rest.value(0);
    if (word.isEmpty())
        return Refuse(QStringLiteral("a command is needed: %1").arg(CommandList()));
    if (!CommandFromName(word, &command))
        return Refuse(QStringLiteral("unknown command: %1").arg(word));
    wordRead = true;
    given = rest;
    // The command's parser reads the program's name first, as any parser.
    rest.replace(0, arguments.value(0));
    return ParseCommand(rest);
}

CommandLine::Status CommandLine::ParseCommand(const QStringList &arguments)
{
    QCommandLineParser parser;
    const QCommandLineOption help = parser.addHelpOption();
    AddOptions(parser);
    if (!parser.parse(arguments))
        return Refuse(parser.errorText());
    if (parser.isSet(help) || parser.isSet(QLatin1String(optionHelpAll)))
        return Print(CommandHelp(parser.helpText()));
    return Take(parser) ? Status::Run : Status::UsageError;
}

bool CommandLine::CommandFromName(const QString &name, Command *found)
{
    for (int index = 0; index < commandCount; ++index) {
        if (name == QLatin1String(commandNames[index].name)) {
            *found = Command(index);
            return true;
        }
    }
    return false;
}

// The synopsis and what the command does, then Qt's list of the options and
// the addresses: without its usage line, which names the program by the
// path it was started with, and without --help-all, which shows nothing more.
QString CommandLine::CommandHelp(const QString &parserHelp) const
{
    const CommandName &entry = commandNames[int(command)];
    QString summary = QLatin1String(entry.summary);
    summary[0] = summary.at(0).toUpper();
    QString help = QStringLiteral("Usage: %1\n\n%2.\n").arg(QLatin1String(entry.synopsis), summary);
    const int options = parserHelp.indexOf(QLatin1String("\nOptions:"));
    const QStringList lines = parserHelp.mid(qMax(options, 0)).split(QLatin1Char('\n'));
    for (const QString &line : lines) {
        if (!line.trimmed().startsWith(QLatin1String("--help-all")))
            help += line + QLatin1Char('\n');
    }
    return help.trimmed() + QLatin1Char('\n');
}

QString CommandLine::HelpHint() const
{
    return wordRead
        ? QStringLiteral("ordelctl %1 --help").arg(QLatin1String(commandNames[int(command)].name))
        : QStringLiteral("ordelctl --help");
}

const char *CommandLine::WordOf(Command command)
{
    return commandNames[int(command)].name;
}

QString CommandLine::CommandList()
{
    QStringList names;
    for (const CommandName &entry : commandNames)
        names.append(QLatin1String(entry.name));
    const QString last = names.takeLast();
    return names.join(QLatin1String(", ")) + QLatin1String(" or ") + last;
}

QString CommandLine::GeneralHelp()
{
    QString help = QStringLiteral(
        "Usage: ordelctl COMMAND [options] [IP...]\n\n"
        "Finds, restarts, shuts down and updates the cameras on the networks this host\n"
        "is attached to, many of them at once.\n\nCommands:\n");
    for (const CommandName &entry : commandNames)
        help += QStringLiteral("  %1  %2\n")
                    .arg(QString::fromLatin1(entry.name).leftJustified(8),
                        QLatin1String(entry.summary));
    return help
        + QStringLiteral(
            "\n\"ordelctl COMMAND --help\" lists a command's options.\n\n"
            "Exit codes: %1 every camera succeeded or was sent the command; %2 at least one\n"
            "failed or was interrupted, or the question was answered no; %3 a usage or input\n"
            "error, nothing sent; %4 + N after signal N: %5 Ctrl-C, %6 SIGHUP, %7 SIGTERM.\n")
              .arg(ExitCode::succeeded)
              .arg(ExitCode::failed)
              .arg(ExitCode::usage)
              .arg(ExitCode::signalBase)
              .arg(ExitCode::signalBase + SIGINT)
              .arg(ExitCode::signalBase + SIGHUP)
              .arg(ExitCode::signalBase + SIGTERM);
}

void CommandLine::AddOptions(QCommandLineParser &parser) const
{
    parser.addOptions({
        { QLatin1String(optionJournal),
            QStringLiteral("The journal to write and read, instead of %1.")
                .arg(QStringLiteral("$XDG_STATE_HOME/ordel-toolkits/journal.sqlite")),
            QStringLiteral("FILE") },
        { QLatin1String(optionNoJournal),
            QStringLiteral("Neither read nor write a journal; nothing is remembered.") },
    });
    if (command == Command::History || command == Command::Inventory) {
        if (command == Command::History)
            parser.addOptions({
                { QLatin1String(optionRun), QStringLiteral("The cameras of run N."),
                    QStringLiteral("N") },
                { QLatin1String(optionCamera),
                    QStringLiteral("Every result of the camera with this address or MAC."),
                    QStringLiteral("IP|MAC") },
            });
        parser.addOptions({
            { QLatin1String(optionJson), QStringLiteral("One JSON object a line.") },
            { QLatin1String(optionCsv),
                QStringLiteral("A header line and one CSV record a line.") },
        });
        return;
    }
    if (command == Command::Resume) {
        parser.addOptions({
            { QLatin1String(optionYes), QStringLiteral("Do not ask; needed without a terminal.") },
            { QLatin1String(optionJson),
                QStringLiteral("As the run itself: events and a final object a camera, the "
                               "earlier ones as recorded.") },
            { QLatin1String(optionType),
                QStringLiteral("Update only cameras of this type, instead of the type the run "
                               "recorded; needed for a run that recorded none."),
                QStringLiteral("TYPE") },
            { QLatin1String(optionAnyType),
                QStringLiteral("Update cameras of any type, whatever type the run recorded.") },
        });
        parser.addPositionalArgument(QStringLiteral("RUN"),
            QStringLiteral("The run to continue; the newest that did not end if left out."),
            QStringLiteral("[RUN]"));
        return;
    }
    if (command == Command::Search) {
        parser.addOptions({
            { QLatin1String(optionTimeout),
                QStringLiteral("How long replies are taken after the probe (default %1).")
                    .arg(searchTimeoutMs),
                QStringLiteral("MS") },
            { QLatin1String(optionJson),
                QStringLiteral("One JSON object a camera and line, keys ip, mac, sn, name, type, "
                               "os, fw.") },
            { QLatin1String(optionCsv),
                QStringLiteral("A header line and one CSV record a camera.") },
            { QLatin1String(optionExpect),
                QStringLiteral("The cameras that should answer, as an earlier search's --csv or "
                               "--json output: those missing are named on standard error, and "
                               "the exit code is 1."),
                QStringLiteral("FILE") },
        });
        return;
    }
    if (command == Command::Update) {
        parser.addOptions({
            { QLatin1String(optionImage), QStringLiteral("The firmware image to send."),
                QStringLiteral("FILE") },
            { QLatin1String(optionAll),
                QStringLiteral("Search first, then update every camera that answers.") },
            { QLatin1String(optionParallel),
                QStringLiteral("Cameras updated at once, at most %1 (default %2).")
                    .arg(RunOptions::parallelLimits.highest)
                    .arg(parallel),
                QStringLiteral("N") },
            { QLatin1String(optionReportTimeout),
                QStringLiteral("How long a camera's final report may take once its image is "
                               "sent (default %1).")
                    .arg(reportTimeoutS),
                QStringLiteral("S") },
            { QLatin1String(optionType),
                QStringLiteral("Only cameras whose type is exactly TYPE: --all leaves the others "
                               "out, a named or retried camera of another type is refused, and "
                               "--expect expects only cameras of TYPE. A retry keeps the type "
                               "of the run it retries."),
                QStringLiteral("TYPE") },
            { QLatin1String(optionAnyType),
                QStringLiteral("Send one image to cameras of several types. Without it, cameras "
                               "of several types are refused however they are named.") },
            { QLatin1String(optionSkipFw),
                QStringLiteral("Skip the cameras that report exactly this firmware version."),
                QStringLiteral("VERSION") },
            { QLatin1String(optionCanary),
                QStringLiteral("Update N cameras first, the others only if all of them "
                               "succeeded. The cameras go in the order given, or with --all "
                               "by address, lowest first."),
                QStringLiteral("N") },
            { QLatin1String(optionRetry),
                QStringLiteral("Update the cameras that did not succeed in FILE, a previous "
                               "run's --json output."),
                QStringLiteral("FILE") },
            { QLatin1String(optionFwVersion),
                QStringLiteral("The firmware version the image installs, as cameras report it: "
                               "cameras on it are skipped, and each update succeeds only once "
                               "the camera, restarted, reports it."),
                QStringLiteral("V") },
            { QLatin1String(optionVerifyTimeout),
                QStringLiteral("With --fw-version, how long a camera may take to come back "
                               "(default %1).")
                    .arg(verifyTimeoutS),
                QStringLiteral("S") },
            { QLatin1String(optionMaxFailures),
                QStringLiteral("Start no camera while the cameras failed, together with those "
                               "still awaited after their restart, number N or more; once N "
                               "have failed, start no more."),
                QStringLiteral("N") },
            { QLatin1String(optionCheck),
                QStringLiteral("Plan only: say what would happen to each camera and touch none.") },
            { QLatin1String(optionExpect),
                QStringLiteral("With --all, the cameras that should answer, as an earlier "
                               "search's --csv or --json output: each that does not is a "
                               "failure, missing."),
                QStringLiteral("FILE") },
        });
    }
    parser.addOptions({
        { QLatin1String(optionYes), QStringLiteral("Do not ask; needed without a terminal.") },
        { QLatin1String(optionJson),
            QStringLiteral("Progress events and a final object a camera, as JSON lines on "
                           "standard output.") },
    });
    parser.addPositionalArgument(QStringLiteral("IP"),
        QStringLiteral("A camera's IPv4 address; the same address twice counts once."),
        QStringLiteral("IP..."));
}

bool CommandLine::Take(const QCommandLineParser &parser)
{
    json = parser.isSet(QLatin1String(optionJson));
    if (!TakeJournal(parser))
        return false;
    if (command == Command::History || command == Command::Inventory)
        return TakeHistory(parser);
    if (command == Command::Resume) {
        yes = parser.isSet(QLatin1String(optionYes));
        const QStringList run = parser.positionalArguments();
        if (run.size() > 1)
            return Fail(QStringLiteral("resume takes one run at most"));
        bool ok = true;
        resumeRun = run.isEmpty() ? 0 : run.constFirst().toLongLong(&ok);
        if (!ok || resumeRun < 0 || (!run.isEmpty() && resumeRun == 0))
            return Fail(QStringLiteral("not a run's number: \"%1\"").arg(run.constFirst()));
        if (noJournal)
            return Fail(QStringLiteral("resume reads the journal: --no-journal leaves none"));
        if (parser.isSet(QLatin1String(optionType)))
            selection.type = parser.value(QLatin1String(optionType));
        selection.anyType = parser.isSet(QLatin1String(optionAnyType));
        if (selection.type && selection.anyType)
            return Fail(QStringLiteral("--type and --any-type exclude each other"));
        return true;
    }
    if (command == Command::Search) {
        csv = parser.isSet(QLatin1String(optionCsv));
        if (json && csv)
            return Fail(QStringLiteral("--json and --csv exclude each other"));
        if (!parser.positionalArguments().isEmpty())
            return Fail(QStringLiteral("search takes no address: %1")
                            .arg(parser.positionalArguments().constFirst()));
        expectPath = parser.value(QLatin1String(optionExpect));
        return TakeNumber(parser, RunOptions::searchTimeoutLimits, &searchTimeoutMs);
    }
    yes = parser.isSet(QLatin1String(optionYes));
    if (!TakeAddresses(parser.positionalArguments()))
        return false;
    if (command != Command::Update) {
        if (addresses.isEmpty())
            return Fail(QStringLiteral("name at least one camera's address"));
        return true;
    }
    imagePath = parser.value(QLatin1String(optionImage));
    selection.all = parser.isSet(QLatin1String(optionAll));
    retryPath = parser.value(QLatin1String(optionRetry));
    if (imagePath.isEmpty())
        return Fail(QStringLiteral("update needs --image FILE"));
    if (int(selection.all) + int(!addresses.isEmpty()) + int(!retryPath.isEmpty()) > 1)
        return Fail(QStringLiteral("--all, --retry and a list of addresses exclude each other"));
    if (!selection.all && addresses.isEmpty() && retryPath.isEmpty())
        return Fail(QStringLiteral("name the cameras' addresses, or --all, or --retry FILE"));
    return TakeNumber(parser, RunOptions::parallelLimits, &parallel)
        && TakeNumber(parser, RunOptions::reportTimeoutLimits, &reportTimeoutS)
        && TakeSelection(parser) && TakeRollout(parser);
}

bool CommandLine::TakeJournal(const QCommandLineParser &parser)
{
    noJournal = parser.isSet(QLatin1String(optionNoJournal));
    journalPath = parser.value(QLatin1String(optionJournal));
    if (noJournal && parser.isSet(QLatin1String(optionJournal)))
        return Fail(QStringLiteral("--journal and --no-journal exclude each other"));
    if (parser.isSet(QLatin1String(optionJournal)) && journalPath.isEmpty())
        return Fail(QStringLiteral("--journal needs a file"));
    return true;
}

bool CommandLine::TakeHistory(const QCommandLineParser &parser)
{
    csv = parser.isSet(QLatin1String(optionCsv));
    if (json && csv)
        return Fail(QStringLiteral("--json and --csv exclude each other"));
    if (!parser.positionalArguments().isEmpty())
        return Fail(QStringLiteral("%1 takes no argument: %2")
                        .arg(QLatin1String(commandNames[int(command)].name),
                            parser.positionalArguments().constFirst()));
    if (noJournal)
        return Fail(QStringLiteral("%1 reads the journal: --no-journal leaves none")
                        .arg(QLatin1String(commandNames[int(command)].name)));
    if (command != Command::History)
        return true;
    historyCamera = parser.value(QLatin1String(optionCamera));
    if (parser.isSet(QLatin1String(optionRun)) && parser.isSet(QLatin1String(optionCamera)))
        return Fail(QStringLiteral("--run and --camera exclude each other"));
    int run = 0;
    if (!TakeNumber(parser, runLimits, &run))
        return false;
    historyRun = run;
    return true;
}

QStringList CommandLine::RecordedArguments() const
{
    QStringList recorded = given;
    for (int index = 0; index < recorded.size(); ++index) {
        for (const char *option : fileOptions) {
            const QString name = QStringLiteral("--") + QLatin1String(option);
            if (recorded.at(index) == name && index + 1 < recorded.size()) {
                ++index;
                recorded[index] = QFileInfo(recorded.at(index)).absoluteFilePath();
            } else if (recorded.at(index).startsWith(name + QLatin1Char('='))) {
                recorded[index] = name + QLatin1Char('=')
                    + QFileInfo(recorded.at(index).mid(name.size() + 1)).absoluteFilePath();
            }
        }
    }
    return recorded;
}

bool CommandLine::TakeRollout(const QCommandLineParser &parser)
{
    check = parser.isSet(QLatin1String(optionCheck));
    expectPath = parser.value(QLatin1String(optionExpect));
    if (!expectPath.isEmpty() && !selection.all)
        return Fail(QStringLiteral("--expect names the cameras --all should find"));
    if (parser.isSet(QLatin1String(optionFwVersion))) {
        fwVersion = parser.value(QLatin1String(optionFwVersion));
        if (fwVersion.isEmpty())
            return Fail(QStringLiteral("--fw-version needs the version the image installs"));
        if (!RunOptions::SkipInstalledVersion(fwVersion, &selection.skipFw))
            return Fail(QStringLiteral("--skip-fw and --fw-version name different versions"));
    } else if (parser.isSet(QLatin1String(optionVerifyTimeout))) {
        return Fail(QStringLiteral("--verify-timeout needs --fw-version, the version to verify"));
    }
    return TakeNumber(parser, RunOptions::verifyTimeoutLimits, &verifyTimeoutS)
        && TakeNumber(parser, RunOptions::maxFailuresLimits, &maxFailures);
}

bool CommandLine::TakeSelection(const QCommandLineParser &parser)
{
    if (parser.isSet(QLatin1String(optionType)))
        selection.type = parser.value(QLatin1String(optionType));
    selection.anyType = parser.isSet(QLatin1String(optionAnyType));
    if (parser.isSet(QLatin1String(optionSkipFw)))
        selection.skipFw = parser.value(QLatin1String(optionSkipFw));
    if (selection.type && selection.anyType)
        return Fail(QStringLiteral("--type and --any-type exclude each other"));
    return TakeNumber(parser, RunOptions::canaryLimits, &selection.canary);
}

bool CommandLine::TakeNumber(
    const QCommandLineParser &parser, const RunOptions::Number &limits, int *value)
{
    const QString name = QLatin1String(limits.name);
    if (!parser.isSet(name))
        return true;
    QString refusal;
    return RunOptions::TakeNumber(limits, parser.value(name), value, &refusal) || Fail(refusal);
}

bool CommandLine::TakeAddresses(const QStringList &given)
{
    for (const QString &address : given) {
        if (!IsDottedIpv4(address))
            return Fail(QStringLiteral("not a dotted IPv4 address: \"%1\"").arg(address));
        if (!addresses.contains(address))
            addresses.append(address);
    }
    return true;
}

bool CommandLine::IsDottedIpv4(const QString &text)
{
    return CameraAddress::IsDottedQuad(text) && text != QLatin1String("0.0.0.0")
        && text != QLatin1String("255.255.255.255");
}

CommandLine::Status CommandLine::Print(const QString &text)
{
    output = text;
    return Status::Done;
}

CommandLine::Status CommandLine::Refuse(const QString &reason)
{
    Fail(reason);
    return Status::UsageError;
}

bool CommandLine::Fail(const QString &reason)
{
    error = reason;
    return false;
}
