#include "labcamera.h"
#include "labcameras.h"
#include "lossylink.h"
#include "ordelctlrun.h"
#include "protocol.h"
#include "updatedriver.h"

#include <QFile>
#include <QHostAddress>
#include <QSet>
#include <QTemporaryDir>
#include <QtTest>

using UpdateDriver::randomBytes;

namespace {

const char currentVersion[] = "V2.0";

// A crowd that a link losing one reply in ten leaves incomplete in almost
// every search that asks only once.
constexpr int crowdSize = 40;
constexpr int searches = 20;
// The search's default reply window: however it makes up for lost replies,
// a search takes no longer than the pause before the probe and this window,
// plus the program's start and end on a busy machine.
constexpr int defaultWindowMs = 2000;
#ifdef __SANITIZE_ADDRESS__
// Sanitized, the program takes several times longer to start and end.
constexpr int startAndEndMs = 3000;
#else
constexpr int startAndEndMs = 1000;
#endif
constexpr int searchTimeoutMs = 15000;

} // namespace

// Which cameras an update touches, on a mixed site of five simulated cameras:
// three of type IPC-D240 on V1.0, one of them on the current V2.0, one
// IPC-B410, and a fifth IPC-D240 whose replies never pass the search's check.
// Also what a search lists of a crowd over a link that loses replies.
class TestOrdelctlSelection : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanup();

    void updatesExactlyTheChosenCameras_data();
    void updatesExactlyTheChosenCameras();
    void canaryDecidesForTheOthers_data();
    void canaryDecidesForTheOthers();
    void retryUpdatesExactlyTheUnsuccessful();
    void searchListsTheWholeCrowdOverALossyLink_data();
    void searchListsTheWholeCrowdOverALossyLink();

private:
    // Camera index of the mixed site with the given update faults; its
    // camsim arguments without --broker when broker is false.
    LabCamera *startCamera(int index, const QStringList &faults = {}, bool broker = true);
    bool startSite();
    // The camera got exactly one request and the image, or nothing but the
    // search; its one final line says so, or none when the run left it out.
    void verifyUpdated(const OrdelctlRun &run, LabCamera *camera);
    void verifyUntouched(const OrdelctlRun &run, LabCamera *camera, const QString &result);

    LabCameras cameras;
    QByteArray image;
    QString imagePath;
};

void TestOrdelctlSelection::initTestCase()
{
    QVERIFY(qEnvironmentVariableIntValue("LAB_CAMERAS") >= 5);
    image = randomBytes(UpdateDriver::mib + 4321);
    imagePath = UpdateDriver::imageFile("fw-2.0.bin", image);
}

void TestOrdelctlSelection::cleanup()
{
    cameras.clear();
}

LabCamera *TestOrdelctlSelection::startCamera(int index, const QStringList &faults, bool broker)
{
    const QString type = index == 4 ? "IPC-B410" : "IPC-D240";
    const QString version = index == 3 ? currentVersion : "V1.0";
    QString identity = QString("type=%1,fw=%2").arg(type, version);
    if (index == 5)
        identity += ",fault=bad-crc";
    const QStringList arguments = QStringList { "--camera", identity }
        + (broker ? LabCameras::updating(faults) : QStringList());
    LabCamera *camera = cameras.start(index, arguments);
    return camera->isRunning() ? camera : nullptr;
}

bool TestOrdelctlSelection::startSite()
{
    for (int index = 1; index <= 5; ++index) {
        if (!startCamera(index))
            return false;
    }
    return true;
}

void TestOrdelctlSelection::verifyUpdated(const OrdelctlRun &run, LabCamera *camera)
{
    QCOMPARE(run.finalOf(camera->address()).value("result").toString(), QString("succeeded"));
    QCOMPARE(camera->events("update-request").size(), 1);
    UPDATE_STEP(UpdateDriver::verifyImageArrived(camera, image));
}

void TestOrdelctlSelection::verifyUntouched(
    const OrdelctlRun &run, LabCamera *camera, const QString &result)
{
    QStringList results;
    for (const QJsonObject &final : run.finalsOf(camera->address()))
        results << final.value("result").toString();
    QCOMPARE(results, result.isEmpty() ? QStringList() : QStringList { result });
    QVERIFY2(OrdelctlRun::onlySearched(camera), qPrintable(camera->address()));
}

void TestOrdelctlSelection::updatesExactlyTheChosenCameras_data()
{
    // CAMERA3 and CAMERA5 stand for those cameras' addresses.
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QList<int>>("updated");
    QTest::addColumn<QList<int>>("skipped");
    QTest::addColumn<QString>("error");
    QTest::newRow("mixed types refused")
        << QStringList { "--all" } << 2 << QList<int>() << QList<int>()
        << "cameras of 2 types answered: 3 IPC-D240, 1 IPC-B410";
    QTest::newRow("a type nobody has")
        << QStringList { "--all", "--type", "IPC-D24" } << 2 << QList<int>() << QList<int>()
        << "no camera of type \"IPC-D24\" answered";
    QTest::newRow("one type") << QStringList { "--all", "--type", "IPC-D240" } << 0
                              << QList<int> { 1, 2, 3 } << QList<int>() << "";
    QTest::newRow("one type, the current skipped")
        << QStringList { "--all", "--type", "IPC-D240", "--skip-fw", currentVersion } << 0
        << QList<int> { 1, 2 } << QList<int> { 3 } << "";
    QTest::newRow("any type, the current skipped")
        << QStringList { "--all", "--any-type", "--skip-fw", currentVersion } << 0
        << QList<int> { 1, 2, 4 } << QList<int> { 3 } << "";
    // Named by address, as a script or a retry names them, the types are
    // judged all the same.
    QTest::newRow("a list of two types refused")
        << QStringList { "CAMERA1", "CAMERA4" } << 2 << QList<int>() << QList<int>()
        << "cameras of 2 types answered: 1 IPC-B410, 1 IPC-D240";
    // The fifth answers no search, so its version is unknown: it is updated.
    QTest::newRow("a list, the current skipped")
        << QStringList { "CAMERA3", "CAMERA5", "--skip-fw", currentVersion } << 0
        << QList<int> { 5 } << QList<int> { 3 } << "";
    // Nothing to send, yet a result for each camera all the same.
    QTest::newRow("every camera skipped") << QStringList { "CAMERA3", "--skip-fw", currentVersion }
                                          << 0 << QList<int>() << QList<int> { 3 } << "";
}

void TestOrdelctlSelection::updatesExactlyTheChosenCameras()
{
    QFETCH(QStringList, arguments);
    QFETCH(int, exitCode);
    QFETCH(QList<int>, updated);
    QFETCH(QList<int>, skipped);
    QFETCH(QString, error);
    QVERIFY(startSite());
    for (LabCamera *camera : cameras.all())
        arguments.replaceInStrings(QString("CAMERA%1").arg(camera->index()), camera->address());

    OrdelctlRun run(QStringList { "update", "--yes", "--json", "--image", imagePath } + arguments);
    QVERIFY(run.run());
    QCOMPARE(run.exitCode(), exitCode);
    QVERIFY2(run.errorText().contains(error), qPrintable(run.errorText()));
    for (LabCamera *camera : cameras.all()) {
        if (updated.contains(camera->index()))
            UPDATE_STEP(verifyUpdated(run, camera));
        else if (skipped.contains(camera->index()))
            UPDATE_STEP(verifyUntouched(run, camera, "skipped"));
        else
            UPDATE_STEP(verifyUntouched(run, camera, QString()));
    }
}

void TestOrdelctlSelection::canaryDecidesForTheOthers_data()
{
    QTest::addColumn<QStringList>("canaryFaults");
    QTest::addColumn<int>("exitCode");
    QTest::newRow("canary fails") << QStringList { "error-report" } << 1;
    QTest::newRow("canary succeeds") << QStringList() << 0;
}

void TestOrdelctlSelection::canaryDecidesForTheOthers()
{
    QFETCH(QStringList, canaryFaults);
    QFETCH(int, exitCode);
    LabCamera *canary = startCamera(1, canaryFaults);
    LabCamera *second = startCamera(2);
    LabCamera *third = startCamera(3);
    QVERIFY(canary && second && third);

    OrdelctlRun run({ "update", "--yes", "--json", "--canary", "1", "--image", imagePath,
        canary->address(), second->address(), third->address() });
    QVERIFY(run.run());
    QCOMPARE(run.exitCode(), exitCode);
    if (exitCode == 0) {
        // Nothing of the others before the canary's end.
        const QList<QJsonObject> lines = run.lines();
        int canaryEnd = -1;
        int othersBegin = -1;
        for (int index = 0; index < lines.size(); ++index) {
            const QString ip = lines.at(index).value("ip").toString();
            if (ip == canary->address() && lines.at(index).contains("result"))
                canaryEnd = index;
            const bool planned = lines.at(index).value("event").toString() == "planned";
            if (ip != canary->address() && othersBegin < 0 && !ip.isEmpty() && !planned)
                othersBegin = index;
        }
        QVERIFY(canaryEnd >= 0 && canaryEnd < othersBegin);
        for (LabCamera *camera : { canary, second, third })
            UPDATE_STEP(verifyUpdated(run, camera));
        return;
    }
    QCOMPARE(run.finalOf(canary->address()).value("result").toString(), QString("failed"));
    for (LabCamera *camera : { second, third }) {
        UPDATE_STEP(verifyUntouched(run, camera, "not started"));
        QCOMPARE(run.finalOf(camera->address()).value("message").toString(),
            QString("the canary %1 failed: the camera reported error 3: Flash write error")
                .arg(canary->address()));
    }
    // Each result its count in the history, adding up to the run's cameras.
    OrdelctlRun history({ "history", "--json" });
    QVERIFY(history.run());
    const QJsonObject newest = history.lines().value(0);
    QCOMPARE(newest.value("cameras").toInt(), 3);
    QCOMPARE(newest.value("failed").toInt(), 1);
    QCOMPARE(newest.value("not_started").toInt(), 2);
}

void TestOrdelctlSelection::retryUpdatesExactlyTheUnsuccessful()
{
    // Two failures: one camera's broker is down, another reports an error.
    LabCamera *brokerless = startCamera(1, {}, false);
    LabCamera *erring = startCamera(2, { "error-report" });
    QVERIFY(brokerless && erring && startCamera(3) && startCamera(4));
    const QStringList addresses { LabCamera::address(1), LabCamera::address(2),
        LabCamera::address(3), LabCamera::address(4) };
    // Camera 4 is of another type.
    OrdelctlRun first(
        QStringList { "update", "--yes", "--json", "--any-type", "--image", imagePath }
        + addresses);
    QVERIFY(first.run());
    QCOMPARE(first.exitCode(), 1);
    QTemporaryDir directory;
    QFile results(directory.filePath("run.json"));
    QVERIFY(results.open(QIODevice::WriteOnly));
    results.write(first.out());
    results.close();

    // Both mended; the two that succeeded must not hear from the retry.
    cameras.remove(brokerless);
    cameras.remove(erring);
    QVERIFY(startCamera(1) && startCamera(2));
    OrdelctlRun retry(
        { "update", "--yes", "--json", "--retry", results.fileName(), "--image", imagePath });
    QVERIFY(retry.run());
    QCOMPARE(retry.exitCode(), 0);
    QVERIFY2(retry.errorText().contains(
                 QString("Retrying 2 of 4 cameras in %1 with fw-2.0.bin, md5 %2: the image "
                         "that run sent")
                     .arg(results.fileName(), UpdateDriver::md5Hex(image))),
        qPrintable(retry.errorText()));
    QCOMPARE(retry.finals().size(), 2);
    for (LabCamera *camera : cameras.all()) {
        if (camera->index() <= 2) {
            UPDATE_STEP(verifyUpdated(retry, camera));
        } else {
            QVERIFY(retry.finalOf(camera->address()).isEmpty());
            QCOMPARE(camera->events("update-request").size(), 1);
        }
    }
}

void TestOrdelctlSelection::searchListsTheWholeCrowdOverALossyLink_data()
{
    QTest::addColumn<int>("lossPercent");
    QTest::addColumn<int>("leastComplete");
    QTest::newRow("no loss") << 0 << searches;
    QTest::newRow("one reply in ten lost") << 10 << searches - 1;
}

// A camera the search misses is one that --all leaves out. One simulator
// plays the crowd; each of its replies is a datagram of its own, which the
// link drops or passes on its own.
void TestOrdelctlSelection::searchListsTheWholeCrowdOverALossyLink()
{
    QFETCH(int, lossPercent);
    QFETCH(int, leastComplete);
    QVERIFY(cameras.start(1, { "--generate", QString::number(crowdSize) })->isRunning());
    QSet<QString> crowd;
    for (int number = 1; number <= crowdSize; ++number)
        crowd.insert(QHostAddress(quint32((10u << 24) | quint32(number))).toString());
    LossyLink link(lossPercent);
    QVERIFY2(link.isLossy(), qPrintable(link.errorString()));

    const double longestS = (Protocol::probeAfterBindMs + defaultWindowMs + startAndEndMs) / 1000.0;
    int complete = 0;
    QStringList listedCounts;
    for (int search = 0; search < searches; ++search) {
        OrdelctlRun run({ "search", "--json" });
        QVERIFY(run.run(searchTimeoutMs));
        QCOMPARE(run.exitCode(), 0);
        QVERIFY2(run.seconds() <= longestS, qPrintable(QString("took %1 s").arg(run.seconds())));
        QStringList listed;
        for (const QJsonObject &line : run.lines())
            listed.append(line.value("ip").toString());
        const QSet<QString> distinct(listed.cbegin(), listed.cend());
        QCOMPARE(distinct.size(), listed.size());
        QVERIFY2(crowd.contains(distinct), qPrintable(listed.join(' ')));
        complete += distinct == crowd ? 1 : 0;
        listedCounts.append(QString::number(listed.size()));
    }
    QVERIFY2(complete >= leastComplete,
        qPrintable(QString("%1 of %2 searches listed all %3 cameras; listed per search: %4")
                       .arg(complete)
                       .arg(searches)
                       .arg(crowdSize)
                       .arg(listedCounts.join(' '))));
    // The link dropped about the share asked of the replies.
    const int replies = link.replies();
    const int dropped = link.dropped();
    QVERIFY2(replies >= searches * crowdSize
            && qAbs(100 * dropped - lossPercent * replies) <= lossPercent * replies / 2,
        qPrintable(QString("%1 of %2 replies dropped").arg(dropped).arg(replies)));
}

QTEST_GUILESS_MAIN(TestOrdelctlSelection)
#include "tst_ordelctl_selection.moc"
