#include "commandline.h"

#include "cameraaddress.h"
#include "console.h"

#include <QCommandLineParser>
#include <QCoreApplication>

namespace {

struct CommandName
{
    CommandLine::Command command;
    const char *name;
    const char *summary;
};

const CommandName commandNames[] = {
    { CommandLine::Command::Search, "search",
        "lists the cameras that answer the discovery probe on every attached network" },
    { CommandLine::Command::Restart, "restart", "restarts the cameras at the given addresses" },
    { CommandLine::Command::Shutdown, "shutdown", "shuts down the cameras at the given addresses" },
    { CommandLine::Command::Update, "update",
        "updates the firmware of the cameras at the given addresses, or of all found" },
};

const char optionJson[] = "json";
const char optionCsv[] = "csv";
const char optionYes[] = "yes";
const char optionTimeout[] = "timeout";
const char optionImage[] = "image";
const char optionParallel[] = "parallel";
const char optionReportTimeout[] = "report-timeout";
const char optionAll[] = "all";
const char optionType[] = "type";
const char optionAnyType[] = "any-type";
const char optionSkipFw[] = "skip-fw";
const char optionCanary[] = "canary";
const char optionRetry[] = "retry";

constexpr int longestSearchMs = 600000;
// A bound for the option alone: the cameras in flight are capped further by
// the descriptors the process may open (DescriptorBudget).
constexpr int mostParallel = 256;
constexpr int longestReportWaitS = 86400;
constexpr int largestCanary = 100000;

} // namespace

CommandLine::Status CommandLine::Parse(const QStringList &arguments)
{
    const QString first = arguments.value(1);
    if (first == QLatin1String("--help") || first == QLatin1String("-h")) {
        Console::Out(GeneralHelp());
        return Status::Done;
    }
    if (first == QLatin1String("--version") || first == QLatin1String("-v")) {
        Console::Out(QStringLiteral("%1 %2\n").arg(
            QCoreApplication::applicationName(), QCoreApplication::applicationVersion()));
        return Status::Done;
    }
    if (first.isEmpty())
        return Refuse(QStringLiteral("a command is needed: search, restart, shutdown or update"));
    if (!CommandFromName(first, &command))
        return Refuse(QStringLiteral("unknown command: %1").arg(first));

    QCommandLineParser parser;
    const QCommandLineOption help = parser.addHelpOption();
    AddOptions(parser);
    QStringList rest = arguments;
    rest.removeAt(1);
    if (!parser.parse(rest))
        return Refuse(parser.errorText());
    if (parser.isSet(help)) {
        Console::Out(parser.helpText());
        return Status::Done;
    }
    return Take(parser) ? Status::Run : Status::UsageError;
}

bool CommandLine::CommandFromName(const QString &name, Command *found)
{
    for (const CommandName &entry : commandNames) {
        if (name == QLatin1String(entry.name)) {
            *found = entry.command;
            return true;
        }
    }
    return false;
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
            "Exit codes: 0 every camera succeeded or was sent the command; 1 at least one\n"
            "failed or was interrupted, or the question was answered no; 2 a usage or input\n"
            "error, nothing sent; 128 + N after signal N: 130 Ctrl-C, 129 SIGHUP, 143 SIGTERM.\n");
}

void CommandLine::AddOptions(QCommandLineParser &parser) const
{
    const CommandName &entry = commandNames[int(command)];
    parser.setApplicationDescription(QLatin1String(entry.summary));
    parser.addPositionalArgument(QLatin1String(entry.name), QStringLiteral("the command"));
    if (command == Command::Search) {
        parser.addOptions({
            { QLatin1String(optionTimeout),
                QStringLiteral("How long replies are taken after the probe (default 2000)."),
                QStringLiteral("MS") },
            { QLatin1String(optionJson),
                QStringLiteral("One JSON object a camera and line, keys ip, mac, sn, name, type, "
                               "os, fw.") },
            { QLatin1String(optionCsv),
                QStringLiteral("A header line and one CSV record a camera.") },
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
                QStringLiteral("Cameras updated at once, at most %1 (default 16).")
                    .arg(mostParallel),
                QStringLiteral("N") },
            { QLatin1String(optionReportTimeout),
                QStringLiteral("How long a camera's final report may take once its image is "
                               "sent (default 600)."),
                QStringLiteral("S") },
            { QLatin1String(optionType),
                QStringLiteral("With --all, only the cameras whose type is exactly TYPE."),
                QStringLiteral("TYPE") },
            { QLatin1String(optionAnyType),
                QStringLiteral("With --all, update cameras of several types with one image.") },
            { QLatin1String(optionSkipFw),
                QStringLiteral("Skip the cameras that report exactly this firmware version."),
                QStringLiteral("VERSION") },
            { QLatin1String(optionCanary),
                QStringLiteral("Update N cameras first, the others only if all of them "
                               "succeeded."),
                QStringLiteral("N") },
            { QLatin1String(optionRetry),
                QStringLiteral("Update the cameras that did not succeed in FILE, a previous "
                               "run's --json output."),
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
    if (command == Command::Search) {
        csv = parser.isSet(QLatin1String(optionCsv));
        if (json && csv)
            return Fail(QStringLiteral("--json and --csv exclude each other"));
        if (!parser.positionalArguments().isEmpty())
            return Fail(QStringLiteral("search takes no address: %1")
                            .arg(parser.positionalArguments().constFirst()));
        return TakeNumber(
            parser, QLatin1String(optionTimeout), 1, longestSearchMs, &searchTimeoutMs);
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
    return TakeNumber(parser, QLatin1String(optionParallel), 1, mostParallel, &parallel)
        && TakeNumber(
            parser, QLatin1String(optionReportTimeout), 1, longestReportWaitS, &reportTimeoutS)
        && TakeSelection(parser);
}

bool CommandLine::TakeSelection(const QCommandLineParser &parser)
{
    if (parser.isSet(QLatin1String(optionType)))
        selection.type = parser.value(QLatin1String(optionType));
    selection.anyType = parser.isSet(QLatin1String(optionAnyType));
    if (parser.isSet(QLatin1String(optionSkipFw)))
        selection.skipFw = parser.value(QLatin1String(optionSkipFw));
    if ((selection.type || selection.anyType) && !selection.all)
        return Fail(QStringLiteral("--type and --any-type choose among the cameras of --all"));
    if (selection.type && selection.anyType)
        return Fail(QStringLiteral("--type and --any-type exclude each other"));
    return TakeNumber(parser, QLatin1String(optionCanary), 1, largestCanary, &selection.canary);
}

bool CommandLine::TakeNumber(
    const QCommandLineParser &parser, const QString &name, int lowest, int highest, int *value)
{
    if (!parser.isSet(name))
        return true;
    bool ok = false;
    const QString text = parser.value(name);
    const int number = text.toInt(&ok, 10);
    if (!ok || number < lowest || number > highest)
        return Fail(QStringLiteral("--%1 takes a whole number from %2 to %3, not \"%4\"")
                        .arg(name)
                        .arg(lowest)
                        .arg(highest)
                        .arg(text));
    *value = number;
    return true;
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
