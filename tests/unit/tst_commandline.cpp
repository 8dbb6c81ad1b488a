#include "commandline.h"
#include "runoptions.h"

#include <QtTest>

#include <algorithm>
#include <iterator>

Q_DECLARE_METATYPE(RunOptions)

namespace {

// The arguments as the program gets them, its own name first.
QStringList program(const QStringList &arguments)
{
    return QStringList { "./build/bin/ordelctl" } + arguments;
}

} // namespace

// What ordelctl reads from its command line before it sends anything. A usage
// error must be told before any camera is touched, with a message that names
// the fault; a good command line must give the run the values asked for and
// each camera once.
class TestCommandLine : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void refusesUsageErrors_data();
    void refusesUsageErrors();
    void takesEveryCameraOnceInOrder();
    void takesTheValuesGiven();
    void helpAndVersionRunNothing_data();
    void helpAndVersionRunNothing();
    void limitsAreTheCollections_data();
    void limitsAreTheCollections();
    void recordedRunReadsBack_data();
    void recordedRunReadsBack();
};

void TestCommandLine::initTestCase()
{
    QCoreApplication::setApplicationName("ordelctl");
    QCoreApplication::setApplicationVersion("9.8.7");
}

void TestCommandLine::refusesUsageErrors_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("error");
    const QStringList update { "update", "--yes", "--image", "fw.bin" };
    QTest::newRow("unknown option")
        << update + QStringList { "--bogus", "198.51.100.21" } << "Unknown option 'bogus'.";
    QTest::newRow("unknown option before the command")
        << QStringList { "--bogus", "update" } << "Unknown option 'bogus'.";
    QTest::newRow("another command's option")
        << QStringList { "restart", "--image", "fw.bin" } << "Unknown option 'image'.";
    QTest::newRow("unknown command")
        << QStringList { "upgrade", "198.51.100.21" } << "unknown command: upgrade";
    QTest::newRow("no command")
        << QStringList()
        << "a command is needed: search, restart, shutdown, update, history, inventory or resume";
    QTest::newRow("three numbers") << QStringList { "restart", "--yes", "198.51.100" }
                                   << "not a dotted IPv4 address: \"198.51.100\"";
    QTest::newRow("number over 255") << QStringList { "shutdown", "--yes", "198.51.100.21",
        "198.51.100.256" } << "not a dotted IPv4 address: \"198.51.100.256\"";
    QTest::newRow("leading zero") << QStringList { "restart", "198.51.100.011" }
                                  << "not a dotted IPv4 address: \"198.51.100.011\"";
    QTest::newRow("host name") << QStringList { "restart", "camera.local" }
                               << "not a dotted IPv4 address: \"camera.local\"";
    QTest::newRow("address ending in a line feed") << QStringList { "restart",
        "198.51.100.21\n" } << "not a dotted IPv4 address: \"198.51.100.21\n\"";
    QTest::newRow("broadcast") << QStringList { "restart", "255.255.255.255" }
                               << "not a dotted IPv4 address: \"255.255.255.255\"";
    QTest::newRow("restart without addresses")
        << QStringList { "restart", "--yes" } << "name at least one camera's address";
    QTest::newRow("search with an address")
        << QStringList { "search", "198.51.100.21" } << "search takes no address: 198.51.100.21";
    QTest::newRow("--json and --csv")
        << QStringList { "search", "--json", "--csv" } << "--json and --csv exclude each other";
    QTest::newRow("--timeout 0") << QStringList { "search", "--timeout", "0" }
                                 << "--timeout takes a whole number from 1 to 600000, not \"0\"";
    QTest::newRow("update without --image")
        << QStringList { "update", "198.51.100.21" } << "update needs --image FILE";
    QTest::newRow("update with no cameras")
        << update << "name the cameras' addresses, or --all, or --retry FILE";
    QTest::newRow("--all and addresses")
        << update + QStringList { "--all", "198.51.100.21" }
        << "--all, --retry and a list of addresses exclude each other";
    QTest::newRow("--retry and addresses")
        << update + QStringList { "--retry", "run.json", "198.51.100.21" }
        << "--all, --retry and a list of addresses exclude each other";
    QTest::newRow("--parallel 0") << update + QStringList { "--all", "--parallel", "0" }
                                  << "--parallel takes a whole number from 1 to 256, not \"0\"";
    QTest::newRow("--parallel over the limit")
        << update + QStringList { "--all", "--parallel", "257" }
        << "--parallel takes a whole number from 1 to 256, not \"257\"";
    QTest::newRow("--report-timeout 0")
        << update + QStringList { "--all", "--report-timeout", "0" }
        << "--report-timeout takes a whole number from 1 to 86400, not \"0\"";
    // The type rule holds for cameras named by address too.
    QTest::newRow("--type with --any-type on addresses")
        << update + QStringList { "--type", "IPC-D240", "--any-type", "198.51.100.21" }
        << "--type and --any-type exclude each other";
    QTest::newRow("--type with --any-type")
        << update + QStringList { "--all", "--type", "IPC-D240", "--any-type" }
        << "--type and --any-type exclude each other";
    QTest::newRow("--canary 0") << update + QStringList { "--all", "--canary", "0" }
                                << "--canary takes a whole number from 1 to 100000, not \"0\"";
    QTest::newRow("--fw-version empty") << update + QStringList { "--all", "--fw-version", "" }
                                        << "--fw-version needs the version the image installs";
    QTest::newRow("--skip-fw against --fw-version")
        << update + QStringList { "--all", "--skip-fw", "V1.0", "--fw-version", "V2.0" }
        << "--skip-fw and --fw-version name different versions";
    QTest::newRow("--verify-timeout without a version")
        << update + QStringList { "--all", "--verify-timeout", "60" }
        << "--verify-timeout needs --fw-version, the version to verify";
    QTest::newRow("--verify-timeout 0")
        << update + QStringList { "--all", "--fw-version", "V2.0", "--verify-timeout", "0" }
        << "--verify-timeout takes a whole number from 1 to 86400, not \"0\"";
    QTest::newRow("--max-failures 0")
        << update + QStringList { "--all", "--max-failures", "0" }
        << "--max-failures takes a whole number from 1 to 100000, not \"0\"";
    QTest::newRow("--expect without --all")
        << update + QStringList { "--expect", "site.csv", "198.51.100.21" }
        << "--expect names the cameras --all should find";
    QTest::newRow("--journal with --no-journal") << QStringList { "search", "--journal", "j.sqlite",
        "--no-journal" } << "--journal and --no-journal exclude each other";
    QTest::newRow("resume without a journal") << QStringList { "resume",
        "--no-journal" } << "resume reads the journal: --no-journal leaves none";
    QTest::newRow("resume of no run")
        << QStringList { "resume", "0" } << "not a run's number: \"0\"";
    QTest::newRow("resume of one type and any") << QStringList { "resume", "--type", "IPC-D240",
        "--any-type" } << "--type and --any-type exclude each other";
    QTest::newRow("history of one run and one camera") << QStringList { "history", "--run", "3",
        "--camera", "198.51.100.11" } << "--run and --camera exclude each other";
    QTest::newRow("--check on a command")
        << QStringList { "restart", "--check", "198.51.100.21" } << "Unknown option 'check'.";
}

void TestCommandLine::refusesUsageErrors()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, error);
    CommandLine options;
    QCOMPARE(options.Parse(program(arguments)), CommandLine::Status::UsageError);
    QCOMPARE(options.Error(), error);
    // Sent to the command's own help once the command is known.
    const QString word = arguments.value(0);
    const bool known = QStringList { "search", "restart", "shutdown", "update", "history",
        "inventory", "resume" }
                           .contains(word);
    QCOMPARE(options.HelpHint(),
        known ? QString("ordelctl %1 --help").arg(word) : QString("ordelctl --help"));
}

void TestCommandLine::takesEveryCameraOnceInOrder()
{
    CommandLine options;
    QCOMPARE(options.Parse(program({ "update", "--image", "fw.bin", "198.51.100.12",
                 "198.51.100.11", "198.51.100.12", "198.51.100.13", "198.51.100.11" })),
        CommandLine::Status::Run);
    QCOMPARE(options.command, CommandLine::Command::Update);
    QCOMPARE(options.addresses, QStringList({ "198.51.100.12", "198.51.100.11", "198.51.100.13" }));
    QCOMPARE(options.imagePath, QString("fw.bin"));
    // The defaults the help names.
    QCOMPARE(options.parallel, 16);
    QCOMPARE(options.reportTimeoutS, 600);
    QVERIFY(!options.yes);
    QVERIFY(!options.json);
    QVERIFY(!options.selection.all);
    QVERIFY(!options.selection.type);
    QVERIFY(!options.selection.skipFw);
    QCOMPARE(options.selection.canary, 0);
    QVERIFY(options.fwVersion.isEmpty());
    QCOMPARE(options.verifyTimeoutS, 300);
    QCOMPARE(options.maxFailures, 0);
    QVERIFY(!options.check);
}

void TestCommandLine::takesTheValuesGiven()
{
    CommandLine update;
    QCOMPARE(update.Parse(program({ "update", "--yes", "--json", "--all", "--type", "IPC-D240",
                 "--skip-fw", "V2.0", "--canary", "3", "--parallel", "256", "--report-timeout",
                 "86400", "--image", "fw.bin" })),
        CommandLine::Status::Run);
    QVERIFY(update.yes);
    QVERIFY(update.json);
    QVERIFY(update.selection.all);
    QCOMPARE(update.selection.type, std::optional<QString>("IPC-D240"));
    QCOMPARE(update.selection.skipFw, std::optional<QString>("V2.0"));
    QCOMPARE(update.selection.canary, 3);
    QCOMPARE(update.parallel, 256);
    QCOMPARE(update.reportTimeoutS, 86400);
    CommandLine named;
    QCOMPARE(named.Parse(
                 program({ "update", "--type", "IPC-D240", "--image", "fw.bin", "198.51.100.21" })),
        CommandLine::Status::Run);
    QCOMPARE(named.selection.type, std::optional<QString>("IPC-D240"));

    // The version the image installs is the one to skip as well.
    CommandLine rollout;
    QCOMPARE(rollout.Parse(
                 program({ "update", "--check", "--all", "--fw-version", "V2.0", "--verify-timeout",
                     "60", "--max-failures", "2", "--expect", "site.csv", "--image", "fw.bin" })),
        CommandLine::Status::Run);
    QVERIFY(rollout.check);
    QCOMPARE(rollout.fwVersion, QString("V2.0"));
    QCOMPARE(rollout.selection.skipFw, std::optional<QString>("V2.0"));
    QCOMPARE(rollout.verifyTimeoutS, 60);
    QCOMPARE(rollout.maxFailures, 2);
    QCOMPARE(rollout.expectPath, QString("site.csv"));

    CommandLine retry;
    QCOMPARE(retry.Parse(program({ "update", "--retry", "run.json", "--image", "fw.bin" })),
        CommandLine::Status::Run);
    QCOMPARE(retry.retryPath, QString("run.json"));
    QVERIFY(retry.addresses.isEmpty());

    CommandLine search;
    QCOMPARE(
        search.Parse(program({ "search", "--csv", "--timeout", "500" })), CommandLine::Status::Run);
    QCOMPARE(search.command, CommandLine::Command::Search);
    QVERIFY(search.csv);
    QCOMPARE(search.searchTimeoutMs, 500);

    CommandLine expecting;
    QCOMPARE(
        expecting.Parse(program({ "search", "--expect", "site.json" })), CommandLine::Status::Run);
    QCOMPARE(expecting.expectPath, QString("site.json"));
}

void TestCommandLine::helpAndVersionRunNothing_data()
{
    QTest::addColumn<QStringList>("arguments");
    // Each of these is in the text printed.
    QTest::addColumn<QStringList>("shown");
    const QStringList general { "Usage: ordelctl COMMAND [options] [IP...]\n",
        "\n  search    lists the cameras", "\n  update    updates the firmware",
        "\nExit codes: 0 every camera succeeded", "; 1 at least one\n", "; 2 a usage or input\n",
        "128 + N after signal N: 130 Ctrl-C, 129 SIGHUP, 143 SIGTERM.\n" };
    QTest::newRow("--help") << QStringList { "--help" } << general;
    QTest::newRow("-h before a command") << QStringList { "-h", "update" } << general;
    QTest::newRow("--help-all") << QStringList { "--help-all" } << general;
    QTest::newRow("--version") << QStringList { "--version" } << QStringList { "ordelctl 9.8.7\n" };
    QTest::newRow("-v") << QStringList { "-v" } << QStringList { "ordelctl 9.8.7\n" };
    QTest::newRow("update --help")
        << QStringList { "update", "--help" }
        << QStringList { "Usage: ordelctl update --image FILE [--parallel N]",
               "(--all [--expect FILE] | IP... | --retry FILE)\n", "--parallel <N>",
               "at most 256 (default 16).", "image is sent (default 600).", "--retry <FILE>",
               "--yes" };
    QTest::newRow("search -h") << QStringList { "search", "-h" }
                               << QStringList { "(default 2000).", "--csv" };
    QTest::newRow("restart --help-all")
        << QStringList { "restart", "--help-all", "198.51.100" }
        << QStringList { "Usage: ordelctl restart [--yes] [--json] IP...\n", "--yes" };
}

void TestCommandLine::helpAndVersionRunNothing()
{
    QFETCH(QStringList, arguments);
    QFETCH(QStringList, shown);
    CommandLine options;
    QCOMPARE(options.Parse(program(arguments)), CommandLine::Status::Done);
    for (const QString &text : shown)
        QVERIFY2(options.Output().contains(text), qPrintable(options.Output()));
    // Neither the path the program was started by, nor Qt's own words.
    for (const char *text : { "build/bin", "--help-all", "Arguments:\n  update" })
        QVERIFY2(!options.Output().contains(text), qPrintable(options.Output()));
}

void TestCommandLine::limitsAreTheCollections_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("lowest");
    QTest::addColumn<int>("highest");
    QFile file(QStringLiteral(OPTION_LIMITS));
    QVERIFY2(file.open(QIODevice::ReadOnly), qPrintable(file.fileName()));
    const QJsonObject table = QJsonDocument::fromJson(file.readAll()).object();
    QCOMPARE(int(table.size()), int(std::size(RunOptions::numbers)));
    for (auto row = table.constBegin(); row != table.constEnd(); ++row) {
        const QJsonArray range = row.value().toArray();
        QTest::newRow(qPrintable(row.key()))
            << row.key() << range.at(0).toInt() << range.at(1).toInt();
    }
}

// The collection refuses on the controller what ordelctl would: each edge of
// the table is taken, and one step past it is refused.
void TestCommandLine::limitsAreTheCollections()
{
    QFETCH(QString, name);
    QFETCH(int, lowest);
    QFETCH(int, highest);
    const auto number = std::find_if(std::begin(RunOptions::numbers), std::end(RunOptions::numbers),
        [&name](const RunOptions::Number &entry) { return name == QLatin1String(entry.name); });
    QVERIFY(number != std::end(RunOptions::numbers));
    QCOMPARE(number->lowest, lowest);
    QCOMPARE(number->highest, highest);
    const QStringList command = name == "timeout"
        ? QStringList { "search" }
        : QStringList { "update", "--all", "--image", "fw.bin", "--fw-version", "V2.0" };
    for (const int value : { lowest, highest }) {
        CommandLine options;
        QCOMPARE(
            options.Parse(program(command + QStringList { "--" + name, QString::number(value) })),
            CommandLine::Status::Run);
    }
    for (const int value : { lowest - 1, highest + 1 }) {
        CommandLine options;
        QCOMPARE(
            options.Parse(program(command + QStringList { "--" + name, QString::number(value) })),
            CommandLine::Status::UsageError);
        QCOMPARE(options.Error(),
            QString("--%1 takes a whole number from %2 to %3, not \"%4\"")
                .arg(name)
                .arg(lowest)
                .arg(highest)
                .arg(value));
    }
}

void TestCommandLine::recordedRunReadsBack_data()
{
    QTest::addColumn<QStringList>("recorded");
    QTest::addColumn<RunOptions>("options");
    RunOptions window;
    window.imagePath = "/var/tmp/fw.bin";
    window.addresses = QStringList { "198.51.100.11", "198.51.100.12" };
    QTest::newRow("defaults") << QStringList { "update", "--image", "/var/tmp/fw.bin", "--parallel",
        "16", "198.51.100.11", "198.51.100.12" }
                              << window;
    // As the fleet window has recorded its runs all along: journals hold them.
    window.canary = 2;
    window.maxFailures = 3;
    window.fwVersion = "V2.0";
    window.type = QString("IPC-D240");
    QTest::newRow("the fleet window's run") << QStringList { "update", "--image", "/var/tmp/fw.bin",
        "--parallel", "16", "--canary", "2", "--max-failures", "3", "--fw-version", "V2.0",
        "--type", "IPC-D240", "198.51.100.11", "198.51.100.12" }
                                            << window;
    RunOptions highest = window;
    highest.parallel = 256;
    highest.canary = 100000;
    highest.maxFailures = 100000;
    highest.type.reset();
    highest.anyType = true;
    highest.reportTimeoutS = 86400;
    highest.verifyTimeoutS = 86400;
    QTest::newRow("every number at its highest") << QStringList { "update", "--image",
        "/var/tmp/fw.bin", "--parallel", "256", "--canary", "100000", "--max-failures", "100000",
        "--fw-version", "V2.0", "--any-type", "--report-timeout", "86400", "--verify-timeout",
        "86400", "198.51.100.11", "198.51.100.12" }
                                                 << highest;
}

// A run's options recorded in the engine's form read back, as a resume reads
// them, to the options the run had.
void TestCommandLine::recordedRunReadsBack()
{
    QFETCH(QStringList, recorded);
    QFETCH(RunOptions, options);
    QCOMPARE(options.Arguments(), recorded);
    CommandLine read;
    QCOMPARE(read.Parse(program(recorded)), CommandLine::Status::Run);
    QCOMPARE(read.command, CommandLine::Command::Update);
    QCOMPARE(read.imagePath, options.imagePath);
    QCOMPARE(read.addresses, options.addresses);
    QCOMPARE(read.parallel, options.parallel);
    QCOMPARE(read.selection.canary, options.canary);
    QCOMPARE(read.maxFailures, options.maxFailures);
    QCOMPARE(read.fwVersion, options.fwVersion);
    QCOMPARE(read.selection.type, options.type);
    QCOMPARE(read.selection.anyType, options.anyType);
    QCOMPARE(read.reportTimeoutS, options.reportTimeoutS);
    QCOMPARE(read.verifyTimeoutS, options.verifyTimeoutS);
    // The version installed is the one skipped, for the window as for ordelctl.
    std::optional<QString> skipped;
    QVERIFY(RunOptions::SkipInstalledVersion(options.fwVersion, &skipped));
    QCOMPARE(read.selection.skipFw, skipped);
}

QTEST_GUILESS_MAIN(TestCommandLine)
#include "tst_commandline.moc"
