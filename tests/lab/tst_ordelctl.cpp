#include "labcamera.h"
#include "labcameras.h"
#include "ordelctlrun.h"
#include "protocol.h"
#include "turnfile.h"
#include "updatedriver.h"

#include <QFile>
#include <QRegularExpression>
#include <QUdpSocket>
#include <QtTest>

#include <memory>
#include <signal.h>
#include <sys/stat.h>

using UpdateDriver::mib;
using UpdateDriver::randomBytes;

namespace {

// Twelve updates one after another would take well over a minute and a half.
constexpr double sideBySideBoundS = 45;

QStringList addresses(const QList<LabCamera *> &cameras)
{
    QStringList found;
    for (const LabCamera *camera : cameras)
        found.append(camera->address());
    return found;
}

} // namespace

// The command-line program against simulated cameras on the virtual LAN,
// eight on the first network and four on the second. Every camera's result is
// read from the program's JSON lines, and what the camera got from its log.
class TestOrdelctl : public QObject
{
    Q_OBJECT

private slots:
    void cleanup();

    void updatesTwelveCamerasOnTwoNetworksAtOnce();
    void faultsFailOnlyTheirOwnCamera();
    void updatesTwelveCamerasWithinFortyFiles();
    void lackOfDescriptorsIsTheCamerasReason();
    void interruptClosesEveryCameraAndStartsNoMore();
    void changedImageFailsOnlyCamerasNotYetSent();
    void usageErrorsSendNothing_data();
    void usageErrorsSendNothing();
    void onlyALiveSearchHoldsUpAnother_data();
    void onlyALiveSearchHoldsUpAnother();
    void commandsGoToEachCameraOnce_data();
    void commandsGoToEachCameraOnce();
    void searchListsEachCameraOnceAsData_data();
    void searchListsEachCameraOnceAsData();
    void searchSaysHowManyRepliesTheBufferLost();
    void unreadOutputHoldsUpNoCamera();
    void failedWriteFailsTheRun_data();
    void failedWriteFailsTheRun();

private:
    LabCamera *start(int index, const QStringList &arguments);

    LabCameras cameras;
};

void TestOrdelctl::cleanup()
{
    cameras.clear();
}

LabCamera *TestOrdelctl::start(int index, const QStringList &arguments)
{
    LabCamera *camera = cameras.start(index, arguments);
    return camera->isRunning() ? camera : nullptr;
}

void TestOrdelctl::updatesTwelveCamerasOnTwoNetworksAtOnce()
{
    const int count = qEnvironmentVariableIntValue("LAB_CAMERAS")
        + qEnvironmentVariableIntValue("LAB_SECOND_CAMERAS");
    QCOMPARE(count, 12);
    for (int index = 1; index <= count; ++index)
        QVERIFY(start(index, LabCameras::updating()));
    const QByteArray image = randomBytes(2 * mib + 12345);
    const QString path = UpdateDriver::imageFile("fleet.bin", image);

    // --all: the search finds both networks' cameras.
    OrdelctlRun run({ "update", "--all", "--yes", "--json", "--image", path });
    QVERIFY(run.run());
    QCOMPARE(run.exitCode(), 0);
    QCOMPARE(run.finals().size(), count);
    const QStringList timeline { "broker", "settle", "connect", "send", "close", "report" };
    for (LabCamera *camera : cameras.all()) {
        const QJsonObject final = run.finalOf(camera->address());
        QCOMPARE(final.value("result").toString(), QString("succeeded"));
        QCOMPARE(final.value("message").toString(), QString("Update succeeded"));
        QCOMPARE(run.phasesOf(camera->address()), timeline);
        const QList<QJsonObject> requests = camera->events("update-request");
        QCOMPARE(requests.size(), 1);
        QCOMPARE(requests.first().value("payload").toString(),
            OrdelctlRun::requestFor(camera, "fleet.bin", image));
        UPDATE_STEP(UpdateDriver::verifyImageArrived(camera, image));
    }
    QVERIFY2(run.seconds() < sideBySideBoundS, qPrintable(QString::number(run.seconds())));
}

void TestOrdelctl::faultsFailOnlyTheirOwnCamera()
{
    const struct
    {
        QStringList arguments;
        const char *result;
        const char *message;
        double mostSeconds = 0;
    } table[] = {
        { LabCameras::updating({ "no-listener" }), "failed", "^image port 8000 refused" },
        { LabCameras::updating({ "error-report" }), "failed",
            "^the camera reported error 3: Flash write error$" },
        { {}, "failed", "^broker not reachable$" },
        // The camera's drop and its report of the cut image race each other.
        { LabCameras::updating({ "drop-after=100000" }), "failed",
            "^(image connection lost after \\d+ of 2097152 bytes|the camera reported error 1:)" },
        { LabCameras::updating({ "silent" }), "failed", "^no final report within 6 s$" },
        // A completion before the last byte is an earlier update's.
        { LabCameras::updating({ "stale-completion", "silent" }), "failed",
            "^no final report within 6 s$" },
        { LabCameras::updating({ "close-when-complete" }), "succeeded", "^Update succeeded$" },
        { LabCameras::updating({ "slow=700000" }), "succeeded", "^Update succeeded$" },
        // The floor rate: a camera at 256 KiB/s finishes; one that trickles
        // ends in place of taking 9 minutes, after the 7 s before its first
        // byte and a bound of 27 s: 1 s of pacing, the image at 128 KiB/s and
        // 10 s to spare.
        { LabCameras::updating({ "slow=262144" }), "succeeded", "^Update succeeded$" },
        { LabCameras::updating({ "slow=4000" }), "failed",
            "^the camera took the image slower than 128 KiB/s: \\d+ of 2097152 bytes in 27\\.0 s$",
            40 },
    };
    QList<LabCamera *> started;
    for (const auto &row : table) {
        LabCamera *camera = start(started.size() + 1, row.arguments);
        QVERIFY(camera);
        started.append(camera);
    }
    const QByteArray image = randomBytes(2 * mib);
    const QString path = UpdateDriver::imageFile("mixed.bin", image);

    OrdelctlRun run(
        QStringList { "update", "--yes", "--json", "--report-timeout", "6", "--image", path }
        + addresses(started));
    QVERIFY(run.run());
    QCOMPARE(run.exitCode(), 1);
    for (int index = 0; index < started.size(); ++index) {
        const QJsonObject final = run.finalOf(started.at(index)->address());
        const QString seen
            = final.value("result").toString() + ": " + final.value("message").toString();
        QVERIFY2(final.value("result").toString() == table[index].result, qPrintable(seen));
        QVERIFY2(
            final.value("message").toString().contains(QRegularExpression(table[index].message)),
            qPrintable(seen));
        if (table[index].mostSeconds > 0)
            QVERIFY2(final.value("seconds").toDouble() <= table[index].mostSeconds,
                qPrintable(seen + QString(" after %1 s").arg(final.value("seconds").toDouble())));
        if (final.value("result").toString() == "succeeded")
            UPDATE_STEP(UpdateDriver::verifyImageArrived(started.at(index), image));
    }
}

void TestOrdelctl::updatesTwelveCamerasWithinFortyFiles()
{
    for (int index = 1; index <= 12; ++index)
        QVERIFY(start(index, LabCameras::updating()));
    const QByteArray image = randomBytes(mib / 2 + 999);
    const QString path = UpdateDriver::imageFile("limited.bin", image);

    // Twelve cameras at once would hold 48 descriptors.
    OrdelctlRun run(QStringList { "update", "--yes", "--json", "--parallel", "12", "--image", path }
        + addresses(cameras.all()));
    run.setFileLimit(40);
    QVERIFY(run.run());
    QCOMPARE(run.exitCode(), 0);
    QCOMPARE(run.errorText().count(QRegularExpression(
                 "ordelctl: \\d cameras at once, not 12: the process may open only 40 files\n")),
        1);
    for (LabCamera *camera : cameras.all()) {
        QCOMPARE(run.finalOf(camera->address()).value("result").toString(), QString("succeeded"));
        const QList<QJsonObject> requests = camera->events("update-request");
        QCOMPARE(requests.size(), 1);
        QCOMPARE(requests.first().value("payload").toString(),
            OrdelctlRun::requestFor(camera, "limited.bin", image));
    }
}

void TestOrdelctl::lackOfDescriptorsIsTheCamerasReason()
{
#ifdef __SANITIZE_ADDRESS__
    QSKIP("the sanitizers' own checks open a pipe, and with no descriptor left they report "
          "findings that are not there");
#endif
    LabCamera *camera = start(1, LabCameras::updating());
    QVERIFY(camera);
    const QString path = UpdateDriver::imageFile("starved.bin", randomBytes(100000));

    // What the program holds before its first camera differs between builds,
    // so the limit rises until the program gets as far as the camera: there
    // and one above, the camera runs out of descriptors.
    int reached = 0;
    for (int limit = 6; limit <= 20 && reached < 2; ++limit) {
        OrdelctlRun run({ "update", "--yes", "--json", "--image", path, camera->address() });
        run.setFileLimit(limit);
        QVERIFY(run.run(30000));
        const QJsonObject final = run.finalOf(camera->address());
        if (final.isEmpty() && !reached)
            continue;
        ++reached;
        const QString message = final.value("message").toString();
        QVERIFY2(message.contains(QRegularExpression(
                     QString("^no file descriptor left for .+ \\(the limit is %1\\)$").arg(limit))),
            qPrintable(message));
    }
    QCOMPARE(reached, 2);
    // An update request without the tool's address is never sent.
    QVERIFY(camera->events("update-request").isEmpty());
}

void TestOrdelctl::interruptClosesEveryCameraAndStartsNoMore()
{
    // Slow cameras keep the transfer going when Ctrl-C comes; the third
    // waits for a free place, which --parallel 2 never gives it.
    LabCamera *first = start(1, LabCameras::updating({ "slow=300000" }));
    LabCamera *second = start(9, LabCameras::updating({ "slow=300000" }));
    LabCamera *third = start(2, LabCameras::updating());
    QVERIFY(first && second && third);
    const QByteArray image = randomBytes(3 * mib);
    const QString path = UpdateDriver::imageFile("interrupted.bin", image);

    OrdelctlRun run({ "update", "--yes", "--json", "--parallel", "2", "--image", path,
        first->address(), second->address(), third->address() });
    QVERIFY(run.start());
    QVERIFY(run.waitFor(
        [&] { return UpdateDriver::bytesRead(first) > 0 && UpdateDriver::bytesRead(second) > 0; },
        30000));
    run.interrupt();
    QVERIFY(run.waitForEnd(10000));
    QCOMPARE(run.exitCode(), 130);

    for (LabCamera *camera : { first, second }) {
        const QJsonObject final = run.finalOf(camera->address());
        QCOMPARE(final.value("result").toString(), QString("interrupted"));
        QVERIFY2(
            final.value("message").toString().startsWith("interrupted while sending the image ("),
            qPrintable(final.value("message").toString()));
        // The image connection was closed: the camera sees it end, cut.
        QVERIFY(camera->waitForEvent("image"));
        QVERIFY(UpdateDriver::lastImage(camera).size < image.size());
    }
    QCOMPARE(run.finalOf(third->address()).value("message").toString(),
        QString("interrupted before it started"));
    QVERIFY(OrdelctlRun::onlySearched(third));
    QVERIFY(run.errorText().contains("interrupted before it started"));
}

void TestOrdelctl::changedImageFailsOnlyCamerasNotYetSent()
{
    LabCamera *sending = start(1, LabCameras::updating());
    LabCamera *queued = start(2, LabCameras::updating());
    QVERIFY(sending && queued);
    const QByteArray image = randomBytes(3 * mib);
    const QString path = UpdateDriver::imageFile("changing.bin", image);

    OrdelctlRun run({ "update", "--yes", "--json", "--parallel", "1", "--image", path,
        sending->address(), queued->address() });
    QVERIFY(run.start());
    QVERIFY(run.waitFor([&] { return UpdateDriver::bytesRead(sending) > 0; }, 30000));
    // Same size, other bytes: only the file's time and content tell.
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    QCOMPARE(file.write(randomBytes(image.size())), qint64(image.size()));
    file.close();
    QVERIFY(run.waitForEnd());
    QCOMPARE(run.exitCode(), 1);

    // The camera under way still gets exactly the bytes it was announced.
    QCOMPARE(run.finalOf(sending->address()).value("result").toString(), QString("succeeded"));
    UPDATE_STEP(UpdateDriver::verifyImageArrived(sending, image));
    const QJsonObject refused = run.finalOf(queued->address());
    QCOMPARE(refused.value("result").toString(), QString("failed"));
    QCOMPARE(refused.value("message").toString(),
        QString("the image file %1 changed after it was read").arg(path));
    QVERIFY(OrdelctlRun::onlySearched(queued));
}

void TestOrdelctl::usageErrorsSendNothing_data()
{
    // The options, image files and retry files a run refuses are unit rows
    // (tst_commandline, tst_fleetplan). These prove, for each stage of the
    // program that can refuse, that a refusal sends the camera nothing: the
    // options, the question, the retry file and the search. IMAGE stands for
    // an image file of the test, CAMERA for the camera's address.
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("error");
    // Whether the refusal comes after the search, which probes the camera.
    QTest::addColumn<bool>("searched");
    // Whether another program holds the discovery port, shared, as the
    // window does while it searches.
    QTest::addColumn<bool>("portHeld");
    QTest::newRow("unknown option")
        << QStringList { "update", "--yes", "--image", "IMAGE", "--bogus", "CAMERA" }
        << "Unknown option 'bogus'" << false << false;
    QTest::newRow("no terminal and no --yes")
        << QStringList { "update", "--image", "IMAGE", "CAMERA" } << "give --yes" << false << false;
    QTest::newRow("--retry of a missing file")
        << QStringList { "update", "--yes", "--retry", "/nonexistent/run.json", "--image", "IMAGE" }
        << "cannot retry from /nonexistent/run.json: No such file or directory" << false << false;
    // Nothing to resume or list, and no journal made to say so.
    QTest::newRow("resume of no journal")
        << QStringList { "resume", "--yes", "--journal", "/nonexistent/journal.sqlite" }
        << "there is no journal /nonexistent/journal.sqlite" << false << false;
    QTest::newRow("history of no journal")
        << QStringList { "history", "--journal", "/nonexistent/journal.sqlite" }
        << "there is no journal /nonexistent/journal.sqlite" << false << false;
    QTest::newRow("--all and no camera answering")
        << QStringList { "update", "--yes", "--all", "--image", "IMAGE" }
        << "no camera answered the search" << true << false;
    // The replies would go to the other program's socket: a search that
    // heard nothing must not pass for one that found nobody.
    const QString held = "another program holds UDP port 6999";
    QTest::newRow("search beside another program's")
        << QStringList { "search" } << held << false << true;
    QTest::newRow("update beside another program's search")
        << QStringList { "update", "--yes", "--image", "IMAGE", "CAMERA" } << held << false << true;
}

void TestOrdelctl::usageErrorsSendNothing()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, error);
    QFETCH(bool, searched);
    QFETCH(bool, portHeld);
    QUdpSocket holder;
    if (portHeld)
        QVERIFY(holder.bind(QHostAddress::Any, Protocol::discoveryPort,
            QAbstractSocket::ShareAddress | QAbstractSocket::ReuseAddressHint));
    // The camera's replies do not pass the check, so a search finds nobody.
    LabCamera *camera
        = start(1, LabCameras::updating() + QStringList { "--camera", "fault=bad-crc" });
    QVERIFY(camera);
    arguments.replaceInStrings(
        QRegularExpression("^IMAGE$"), UpdateDriver::imageFile("usage.bin", randomBytes(1000)));
    arguments.replaceInStrings(QRegularExpression("^CAMERA$"), camera->address());

    OrdelctlRun run(arguments);
    QVERIFY(run.run(15000));
    QCOMPARE(run.exitCode(), 2);
    QVERIFY2(run.errorText().contains(error), qPrintable(run.errorText()));
    QVERIFY(run.out().isEmpty());
    QVERIFY(searched ? OrdelctlRun::onlySearched(camera) : OrdelctlRun::untouched(camera));
}

void TestOrdelctl::onlyALiveSearchHoldsUpAnother_data()
{
    // The file beside the turn, left by root with its mode (DEAD stands for
    // a process that has ended, SELF for this test); a search already
    // running for holderMs, by holder; who searches then, and how that ends.
    // HOLDER stands for the first search's process.
    QTest::addColumn<QByteArray>("left");
    QTest::addColumn<int>("mode");
    QTest::addColumn<int>("holderMs");
    QTest::addColumn<QString>("holder");
    QTest::addColumn<QString>("user");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("error");
    QTest::newRow("a killed search's file") << QByteArray("DEAD\nordelctl\n") << 0644 << 0 << ""
                                            << "" << 0 << "";
    // Its number has gone to a process of the same name.
    QTest::newRow("a file naming a live process that holds no lock")
        << QByteArray("SELF\ntst_ordelctl\n") << 0644 << 0 << ""
        << "" << 0 << "";
    QTest::newRow("another user's file it cannot open")
        << QByteArray("DEAD\nordelctl\n") << 0600 << 0 << ""
        << "nobody" << 0 << "";
    QTest::newRow("another user's search that ends within the wait")
        << QByteArray() << 0 << 3000 << "nobody"
        << "" << 0 << "";
    QTest::newRow("another user's search that outlasts the wait")
        << QByteArray() << 0 << 12000 << ""
        << "nobody" << 2 << "process HOLDER (ordelctl) holds UDP port 6999";
}

void TestOrdelctl::onlyALiveSearchHoldsUpAnother()
{
    QFETCH(QByteArray, left);
    QFETCH(int, mode);
    QFETCH(int, holderMs);
    QFETCH(QString, holder);
    QFETCH(QString, user);
    QFETCH(int, exitCode);
    QFETCH(QString, error);
    // A build under a folder closed to other users cannot be run as one.
    for (const QString &other : { holder, user }) {
        OrdelctlRun version({ "--version" });
        version.setUser(other);
        if (!other.isEmpty() && (!version.run(10000) || version.exitCode() != 0))
            QSKIP(qPrintable(other + " cannot run the program here"));
    }
    LabCamera *camera = start(1, {});
    QVERIFY(camera);
    const QString path = TurnFile::ForThisNetwork();
    QFile::remove(path);
    if (!left.isEmpty()) {
        QProcess ended;
        ended.start("true", QStringList());
        QVERIFY(ended.waitForStarted());
        left.replace("DEAD", QByteArray::number(ended.processId()));
        QVERIFY(ended.waitForFinished());
        left.replace("SELF", QByteArray::number(QCoreApplication::applicationPid()));
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        QCOMPARE(file.write(left), qint64(left.size()));
        file.close();
        QCOMPARE(::chmod(QFile::encodeName(path).constData(), mode_t(mode)), 0);
    }
    std::unique_ptr<OrdelctlRun> first;
    if (holderMs > 0) {
        first = std::make_unique<OrdelctlRun>(
            QStringList { "search", "--no-journal", "--timeout", QString::number(holderMs) });
        if (!holder.isEmpty())
            first->setUser(holder);
        QVERIFY(first->start());
        QVERIFY(first->waitFor([&] { return !camera->events("probe").isEmpty(); }, 10000));
        error.replace("HOLDER", QString::number(first->processId()));
    }

    OrdelctlRun run({ "search", "--no-journal", "--json", "--timeout", "1000" });
    if (!user.isEmpty())
        run.setUser(user);
    QVERIFY(run.run(30000));
    QVERIFY2(run.exitCode() == exitCode && run.errorText().contains(error),
        qPrintable(QString::number(run.exitCode()) + ": " + run.errorText()));
    QCOMPARE(run.lines().size(), exitCode == 0 ? 1 : 0);
    if (first) {
        QVERIFY(first->waitForEnd(30000));
        QCOMPARE(first->exitCode(), 0);
    }
    QFile::remove(path);
}

void TestOrdelctl::commandsGoToEachCameraOnce_data()
{
    QTest::addColumn<QString>("command");
    QTest::addColumn<QString>("topic");
    QTest::addColumn<QByteArray>("payload");
    QTest::newRow("restart") << "restart"
                             << "Ordel Tool_in/restart" << QByteArray("Restart");
    QTest::newRow("shutdown") << "shutdown"
                              << "Ordel Tool_in/poweroff" << QByteArray("Shut Down");
}

void TestOrdelctl::commandsGoToEachCameraOnce()
{
    QFETCH(QString, command);
    QFETCH(QString, topic);
    QFETCH(QByteArray, payload);
    LabCamera *first = start(1, { "--broker" });
    LabCamera *second = start(9, { "--broker" });
    LabCamera *brokerless = start(2, {});
    QVERIFY(first && second && brokerless);

    // The first camera is named twice and handled once.
    OrdelctlRun run({ command, "--yes", "--json", first->address(), second->address(),
        brokerless->address(), first->address() });
    QVERIFY(run.run(30000));
    QCOMPARE(run.exitCode(), 1);
    QCOMPARE(run.finals().size(), 3);
    QCOMPARE(run.finalOf(brokerless->address()).value("message").toString(),
        QString("broker not reachable"));
    for (LabCamera *camera : { first, second }) {
        QCOMPARE(run.finalOf(camera->address()).value("result").toString(), QString("sent"));
        QCOMPARE(camera->onlyMessage(), LabCamera::message(topic, payload));
    }
}

void TestOrdelctl::searchListsEachCameraOnceAsData_data()
{
    QTest::addColumn<QString>("format");
    QTest::newRow("table") << "";
    QTest::newRow("json") << "--json";
    QTest::newRow("csv") << "--csv";
}

void TestOrdelctl::searchListsEachCameraOnceAsData()
{
    QFETCH(QString, format);
    // A name with a comma, quotes, an escape sequence and a Latin-1 letter;
    // a camera that answers twice; one whose reply fails the check; one on
    // the second network.
    QVERIFY(start(1,
        { "--camera",
            "mac=00:1a:2b:3c:4d:01,sn=SN1,name=Gate%2C %22North%22%1B[2J%E9,type=IPC-D240,"
            "os=4.19.2,fw=2.8.1,fault=duplicate" }));
    QVERIFY(start(2, { "--camera", "fault=bad-crc" }));
    QVERIFY(start(9, { "--camera", "mac=00:1a:2b:3c:4d:09,sn=SN9,name=Yard,type=IPC-B410" }));
    const QString name = QStringLiteral("Gate, \"North\"\x1b[2J\u00e9");
    const QStringList gate { "198.51.100.11", "00:1A:2B:3C:4D:01", "SN1", name, "IPC-D240",
        "4.19.2", "2.8.1" };
    const QStringList yard { "203.0.113.19", "00:1A:2B:3C:4D:09", "SN9", "Yard", "IPC-B410",
        "4.9.88", "V1.0.0" };

    OrdelctlRun run(format.isEmpty() ? QStringList { "search", "--timeout", "1000" }
                                     : QStringList { "search", "--timeout", "1000", format });
    QVERIFY(run.run(15000));
    QCOMPARE(run.exitCode(), 0);
    QList<QStringList> listed;
    if (format == "--json") {
        const QStringList keys { "ip", "mac", "sn", "name", "type", "os", "fw" };
        for (const QJsonObject &line : run.lines()) {
            QCOMPARE(line.keys().size(), keys.size());
            QStringList fields;
            for (const QString &key : keys)
                fields.append(line.value(key).toString());
            listed.append(fields);
        }
    } else if (format == "--csv") {
        listed = OrdelctlRun::csvRecords(run.out());
        QCOMPARE(listed.value(0), QStringList({ "ip", "mac", "sn", "name", "type", "os", "fw" }));
        listed.removeFirst();
    } else {
        // On a terminal the camera's escape is shown, not obeyed.
        QVERIFY(!run.out().contains('\x1b'));
        QVERIFY(run.out().contains("Gate, \"North\"\\x1b[2J\xc3\xa9"));
        QVERIFY(QString::fromUtf8(run.out()).contains(
            QRegularExpression("\\n203\\.0\\.113\\.19 +00:1A:2B:3C:4D:09 +SN9 +Yard +IPC-B410")));
        QCOMPARE(run.out().count('\n'), 4);
        return;
    }
    QCOMPARE(listed.size(), 2);
    QVERIFY(listed.contains(gate));
    QVERIFY(listed.contains(yard));
}

void TestOrdelctl::searchSaysHowManyRepliesTheBufferLost()
{
#ifdef __SANITIZE_ADDRESS__
    // As with the window's floods: sanitized, the search reads several times
    // slower, and replies still queued when its window ends count as neither
    // listed nor lost.
    QSKIP("a crowd at full speed is measured in the plain build");
#endif
    // Ten times what the largest buffer the search asks for holds.
    const int crowd = 100000;
    LabCamera *camera = start(1, { "--generate", QString::number(crowd) });
    QVERIFY(camera);
    QFile limit("/proc/sys/net/core/rmem_max");
    QVERIFY(limit.open(QIODevice::ReadOnly));
    const bool capped = limit.readAll().trimmed().toInt() < Protocol::searchReceiveBufferBytes;

    // The window outlasts the stop, so that every reply the buffer kept is
    // read.
    OrdelctlRun run({ "search", "--csv", "--timeout", "5000" });
    QVERIFY(run.start());
    // A quiet host may read as fast as the crowd answers. Stopped for the
    // burst, the program is the slow reader a busy host makes it, and only
    // the kernel's buffer holds the replies meanwhile.
    QVERIFY(camera->waitForEvent("probe"));
    QCOMPARE(::kill(pid_t(run.processId()), SIGSTOP), 0);
    const bool burst = camera->waitForEvent("burst", 1, 30000);
    QCOMPARE(::kill(pid_t(run.processId()), SIGCONT), 0);
    QVERIFY(burst);
    QVERIFY(run.waitForEnd(15000));
    QCOMPARE(run.exitCode(), 0);

    const QRegularExpressionMatch lost
        = QRegularExpression("ordelctl: (\\d+) replies were lost because the search's receive "
                             "buffer was full: the list may miss cameras\n")
              .match(run.errorText());
    QVERIFY2(lost.hasMatch(), qPrintable(run.errorText()));
    // Every camera of the crowd is either listed or counted as lost.
    const int listed = OrdelctlRun::csvRecords(run.out()).size() - 1;
    QCOMPARE(listed + lost.captured(1).toInt(), crowd);
    QCOMPARE(run.errorText().contains("receive buffer holds only about"), capped);
}

// A pager not yet scrolled: standard output a pipe nobody reads for 20 s.
// Beside it the same update runs unhindered. In each, one camera floods the
// program with reports, so that the held run prints far more than a pipe
// holds; the other is quiet.
void TestOrdelctl::unreadOutputHoldsUpNoCamera()
{
#ifdef __SANITIZE_ADDRESS__
    // Sanitized, the flood of reports alone costs the simulator and the
    // program seconds, so the gaps would measure that, not the held output.
    QSKIP("the chunk gaps are measured in the plain build");
#endif
    const int holdMs = 20000;
    const qint64 pipeBytes = 64 * 1024;
    const QStringList flooding = LabCameras::updating({ "status-flood=3000" });
    const QList<LabCamera *> held { start(1, flooding), start(2, LabCameras::updating()) };
    const QList<LabCamera *> unhindered { start(3, flooding), start(4, LabCameras::updating()) };
    QVERIFY(!held.contains(nullptr) && !unhindered.contains(nullptr));
    const QByteArray image = randomBytes(4 * mib);
    const QString path = UpdateDriver::imageFile("held.bin", image);
    const QStringList arguments { "update", "--yes", "--json", "--image", path };

    OrdelctlRun heldRun(arguments + addresses(held));
    heldRun.holdOutput(holdMs);
    OrdelctlRun unhinderedRun(arguments + addresses(unhindered));
    QVERIFY(heldRun.start());
    QVERIFY(unhinderedRun.run());
    QVERIFY(heldRun.waitForEnd());
    QVERIFY2(heldRun.out().size() > pipeBytes,
        qPrintable(QString("held run: %1 bytes, %2 reports; unhindered: %3 bytes")
                       .arg(heldRun.out().size())
                       .arg(heldRun.out().count("\"report\""))
                       .arg(unhinderedRun.out().size())));
    QCOMPARE(heldRun.exitCode(), 0);
    QCOMPARE(heldRun.finals().size(), 2);
    QCOMPARE(heldRun.lines().constFirst().value("event").toString(), QString("image"));
    for (int index = 0; index < held.size(); ++index) {
        const QJsonObject final = heldRun.finalOf(held.at(index)->address());
        QCOMPARE(final.value("result").toString(), QString("succeeded"));
        const double seconds = final.value("seconds").toDouble();
        const double unhinderedSeconds
            = unhinderedRun.finalOf(unhindered.at(index)->address()).value("seconds").toDouble();
        QVERIFY2(qAbs(seconds - unhinderedSeconds) < 2,
            qPrintable(QString("%1 s held, %2 s unhindered").arg(seconds).arg(unhinderedSeconds)));
        const QList<qint64> gaps = UpdateDriver::chunkGaps(held.at(index));
        QCOMPARE(gaps.size(), 3);
        for (const qint64 gap : gaps)
            QVERIFY2(gap <= 1000, qPrintable(QString::number(gap)));
    }
}

void TestOrdelctl::failedWriteFailsTheRun_data()
{
    QTest::addColumn<QString>("command");
    QTest::newRow("search") << "search";
    QTest::newRow("update") << "update";
}

// Standard output a full disk: the cameras' work is done all the same, and
// the exit code tells that its record is lost.
void TestOrdelctl::failedWriteFailsTheRun()
{
    QFETCH(QString, command);
    LabCamera *camera = start(1, LabCameras::updating());
    QVERIFY(camera);
    const QByteArray image = randomBytes(100000);
    const QStringList arguments = command == "search"
        ? QStringList { "search", "--timeout", "1000", "--json" }
        : QStringList { "update", "--yes", "--json", "--image",
              UpdateDriver::imageFile("full.bin", image), camera->address() };

    OrdelctlRun run(arguments);
    run.setOutputFile("/dev/full");
    QVERIFY(run.run(30000));
    QCOMPARE(run.exitCode(), 1);
    const QString message = "ordelctl: cannot write to standard output: No space left on device";
    QVERIFY2(run.errorText().count(message) == 1, qPrintable(run.errorText()));
    if (command == "search")
        QVERIFY(camera->waitForEvent("probe"));
    else
        UPDATE_STEP(UpdateDriver::verifyImageArrived(camera, image));
}

QTEST_GUILESS_MAIN(TestOrdelctl)
#include "tst_ordelctl.moc"
