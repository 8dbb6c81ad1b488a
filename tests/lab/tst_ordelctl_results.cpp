#include "labcamera.h"
#include "labcameras.h"
#include "ordelctlrun.h"
#include "updatedriver.h"

#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>

using UpdateDriver::mib;
using UpdateDriver::randomBytes;

namespace {

// A run's standard output saved where --retry can read it.
QString saved(const QTemporaryDir &directory, const QByteArray &output)
{
    QFile file(directory.filePath("run.json"));
    if (!file.open(QIODevice::WriteOnly) || file.write(output) != output.size())
        return QString();
    return file.fileName();
}

} // namespace

// A fleet run's results are the truth, whatever ends the run and whatever the
// cameras claim: every camera the run meant to touch and did not finish is
// taken up again by --retry, and an address that is not one camera's own is
// sent nothing.
class TestOrdelctlResults : public QObject
{
    Q_OBJECT

private slots:
    void cleanup();

    void retryTakesUpWhatASignalCut_data();
    void retryTakesUpWhatASignalCut();
    void aResumedRunsCamerasHaveOneTaker_data();
    void aResumedRunsCamerasHaveOneTaker();
    void addressesNoCameraOwnsAreSentNothing();
    void interruptWhileTheImageIsReadSendsNothing();

private:
    LabCamera *start(int index, const QStringList &arguments);

    LabCameras cameras;
};

void TestOrdelctlResults::cleanup()
{
    cameras.clear();
}

LabCamera *TestOrdelctlResults::start(int index, const QStringList &arguments)
{
    LabCamera *camera = cameras.start(index, arguments);
    return camera->isRunning() ? camera : nullptr;
}

void TestOrdelctlResults::retryTakesUpWhatASignalCut_data()
{
    QTest::addColumn<int>("signalNumber");
    // -1: the program had no chance to say anything.
    QTest::addColumn<int>("exitCode");
    // Taken up by --retry of the saved output, or by resume from the journal.
    QTest::addColumn<bool>("resumed");
    QTest::newRow("SSH session dropped") << int(SIGHUP) << 128 + SIGHUP << false;
    QTest::newRow("killed") << int(SIGKILL) << -1 << false;
    // Nobody saved the output: the journal has it all.
    QTest::newRow("killed, resumed") << int(SIGKILL) << -1 << true;
}

void TestOrdelctlResults::retryTakesUpWhatASignalCut()
{
    QFETCH(int, signalNumber);
    QFETCH(int, exitCode);
    QFETCH(bool, resumed);
    // Two cameras finish; the two slow ones are cut mid-transfer.
    QList<LabCamera *> site;
    for (int index = 1; index <= 4; ++index) {
        site.append(start(index,
            LabCameras::updating(index > 2 ? QStringList { "slow=400000" } : QStringList())));
        QVERIFY(site.last());
    }
    const QByteArray image = randomBytes(2 * mib);
    const QString path = UpdateDriver::imageFile("cut.bin", image);
    QStringList addresses;
    for (LabCamera *camera : site)
        addresses.append(camera->address());

    OrdelctlRun run(QStringList { "update", "--yes", "--json", "--parallel", "2", "--image", path }
        + addresses);
    QVERIFY(run.start());
    QVERIFY(run.waitFor(
        [&] {
            return UpdateDriver::bytesRead(site.at(2)) > 0
                && UpdateDriver::bytesRead(site.at(3)) > 0;
        },
        60000));
    run.sendSignal(signalNumber);
    QVERIFY(run.waitForEnd(10000));
    QCOMPARE(run.exitCode(), exitCode);
    for (LabCamera *camera : { site.at(0), site.at(1) })
        QCOMPARE(run.finalOf(camera->address()).value("result").toString(), QString("succeeded"));

    QTemporaryDir directory;
    const QString results = saved(directory, run.out());
    QVERIFY(!results.isEmpty());
    OrdelctlRun retry(resumed
            ? QStringList { "resume", "--yes", "--json" }
            : QStringList { "update", "--yes", "--json", "--retry", results, "--image", path });
    QVERIFY(retry.run());
    QVERIFY2(retry.errorText().contains(
                 resumed ? "2 cameras to do, 2 done before" : "Retrying 2 of 4 cameras"),
        qPrintable(retry.errorText()));
    // The line ends in a line feed, not in its escape.
    if (!resumed)
        QVERIFY2(retry.errorText().contains(": the image that run sent.\n"),
            qPrintable(retry.errorText()));
    // A resume's output is the whole run's, the earlier results as recorded.
    QCOMPARE(retry.finals().size(), resumed ? 4 : 2);
    // The journal has the cut cameras as claimed, perhaps updated: without a
    // version to verify, a resume sends them nothing and says so.
    QCOMPARE(retry.exitCode(), resumed ? 1 : 0);
    for (LabCamera *camera : site) {
        const bool cut = camera->index() > 2;
        const QJsonObject final = retry.finalOf(camera->address());
        QCOMPARE(final.value("result").toString(),
            !cut && !resumed     ? QString()
                : cut && resumed ? QString("failed")
                                 : QString("succeeded"));
        if (cut && resumed)
            QVERIFY2(final.value("message").toString().endsWith(
                         "may have updated it; check it, then update it by name"),
                qPrintable(final.value("message").toString()));
        QCOMPARE(camera->events("update-request").size(), cut && !resumed ? 2 : 1);
    }
    if (!resumed)
        UPDATE_STEP(UpdateDriver::verifyImageArrived(site.at(3), image));
}

void TestOrdelctlResults::aResumedRunsCamerasHaveOneTaker_data()
{
    // The second process, started once the resume has taken the run over
    // and searches, or once the late camera receives its image from it.
    QTest::addColumn<QStringList>("second");
    QTest::addColumn<bool>("duringTransfer");
    QTest::addColumn<int>("exitCode");
    QTest::newRow("a second resume") << QStringList { "resume", "--yes", "--json" } << false << 2;
    QTest::newRow("an update of the late camera")
        << QStringList { "update", "--yes", "--json" } << true << 1;
}

// A run killed in its first camera, its second camera one that had not
// answered its search: resumed, that camera is the resume's alone, and the
// run keeps one row for it.
void TestOrdelctlResults::aResumedRunsCamerasHaveOneTaker()
{
    QFETCH(QStringList, second);
    QFETCH(bool, duringTransfer);
    QFETCH(int, exitCode);
    QTemporaryDir directory;
    const QStringList journal { "--journal", directory.filePath("journal.sqlite") };
    LabCamera *first = start(1, LabCameras::updating({ "slow=400000" }));
    // Its replies fail their checksum: to the tool it does not answer.
    LabCamera *late
        = start(2, LabCameras::updating() + QStringList { "--camera", "fault=bad-crc" });
    QVERIFY(first && late);
    const QString lateIp = late->address();
    const QString path = UpdateDriver::imageFile("late.bin", randomBytes(2 * mib));
    OrdelctlRun run(QStringList { "update", "--yes", "--json", "--parallel", "1", "--image", path,
                        first->address(), lateIp }
        + journal);
    QVERIFY(run.start());
    QVERIFY(run.waitFor([&] { return UpdateDriver::bytesRead(first) > 0; }, 60000));
    run.sendSignal(SIGKILL);
    QVERIFY(run.waitForEnd(10000));
    cameras.remove(late);
    // Slow enough that the second process searches while it receives.
    late = start(2, LabCameras::updating({ "slow=200000" }));
    QVERIFY(late);

    OrdelctlRun resume(QStringList { "resume", "--yes", "--json" } + journal);
    QVERIFY(resume.start());
    if (duringTransfer)
        QVERIFY(resume.waitFor([&] { return UpdateDriver::bytesRead(late) > 0; }, 60000));
    else
        QVERIFY(resume.waitFor([&] { return resume.errorText().contains("Resuming run 1"); }));
    if (second.constFirst() == "update")
        second << "--image" << path << lateIp;
    OrdelctlRun other(second + journal);
    QVERIFY(other.run());
    QCOMPARE(other.exitCode(), exitCode);
    const QString taker = QString("(process %1)").arg(resume.processId());
    if (exitCode == 2)
        QVERIFY2(other.errorText().contains("run 1 is being resumed by run 2 " + taker),
            qPrintable(other.errorText()));
    else
        QCOMPARE(other.finalOf(lateIp).value("message").toString(),
            "in flight in run 1 of this journal " + taker + ", which still runs");

    QVERIFY(resume.waitForEnd());
    QCOMPARE(resume.finalOf(lateIp).value("result").toString(), QString("succeeded"));
    QCOMPARE(late->events("update-request").size(), 1);
    OrdelctlRun history(QStringList { "history", "--json", "--run", "1" } + journal);
    QVERIFY(history.run());
    QCOMPARE(history.lines().size(), 2);
}

void TestOrdelctlResults::addressesNoCameraOwnsAreSentNothing()
{
    // Two cameras on one address, as new ones on a factory default; one
    // reply that claims loopback and one that claims the tool's own address.
    LabCamera *twins = start(1,
        LabCameras::updating()
            + QStringList { "--camera", "ip=198.51.100.11,mac=00:1a:2b:3c:4d:0a", "--camera",
                "ip=198.51.100.11,mac=00:1a:2b:3c:4d:0b" });
    LabCamera *sound = start(2, LabCameras::updating());
    LabCamera *loopback
        = start(3, LabCameras::updating() + QStringList { "--camera", "ip=127.0.0.1" });
    const QString toolIp = qEnvironmentVariable("LAB_TOOL_IP");
    LabCamera *tool = start(4, LabCameras::updating() + QStringList { "--camera", "ip=" + toolIp });
    QVERIFY(twins && sound && loopback && tool);
    QCOMPARE(twins->address(), QString("198.51.100.11"));
    const QString path = UpdateDriver::imageFile("claims.bin", randomBytes(mib));

    OrdelctlRun run({ "update", "--yes", "--json", "--all", "--image", path });
    QVERIFY(run.run());
    QVERIFY2(run.exitCode() == 1, qPrintable(run.errorText()));
    QCOMPARE(run.finalOf(sound->address()).value("result").toString(), QString("succeeded"));
    const QJsonObject claimed = run.finalOf(twins->address());
    QCOMPARE(claimed.value("result").toString(), QString("failed"));
    QCOMPARE(claimed.value("message").toString(),
        QString("2 cameras claim this address: 00:1A:2B:3C:4D:0A, 00:1A:2B:3C:4D:0B"));
    for (const QString &ip : { QString("127.0.0.1"), toolIp }) {
        QCOMPARE(run.finalOf(ip).value("result").toString(), QString("failed"));
        QCOMPARE(run.finalOf(ip).value("message").toString(),
            QString("address %1 is not a camera's address").arg(ip));
    }

    // The retry reads such results, and is refused the same addresses again.
    QTemporaryDir directory;
    const QString results = saved(directory, run.out());
    OrdelctlRun retry({ "update", "--yes", "--json", "--retry", results, "--image", path });
    QVERIFY(retry.run());
    QCOMPARE(retry.exitCode(), 1);
    QCOMPARE(retry.finals().size(), 3);
    QVERIFY(retry.finalOf(sound->address()).isEmpty());
    for (LabCamera *camera : { twins, loopback, tool })
        QVERIFY2(OrdelctlRun::onlySearched(camera), qPrintable(camera->address()));
    QCOMPARE(sound->events("update-request").size(), 1);
}

void TestOrdelctlResults::interruptWhileTheImageIsReadSendsNothing()
{
    LabCamera *camera = start(1, LabCameras::updating());
    QVERIFY(camera);
    // Large enough that reading and digesting it takes a while; sparse, so
    // the test writes nothing to the disk.
    QTemporaryDir directory;
    QFile large(directory.filePath("large.bin"));
    QVERIFY(large.open(QIODevice::WriteOnly));
    QVERIFY(large.resize(1536 * mib));
    large.close();

    OrdelctlRun run(
        { "update", "--yes", "--json", "--image", large.fileName(), camera->address() });
    QVERIFY(run.start());
    QVERIFY(run.waitFor(
        [&] {
            return run.errorText().contains("Reading large.bin")
                && run.errorText().contains("MD5 digest...\n");
        },
        10000));
    run.interrupt();
    QVERIFY(run.waitForEnd(5000));
    QCOMPARE(run.exitCode(), 128 + SIGINT);
    QVERIFY2(
        run.errorText().contains("Interrupted; nothing was sent."), qPrintable(run.errorText()));
    QVERIFY(run.out().isEmpty());
    // Not even the search began.
    QVERIFY(OrdelctlRun::untouched(camera));
}

QTEST_GUILESS_MAIN(TestOrdelctlResults)
#include "tst_ordelctl_results.moc"
