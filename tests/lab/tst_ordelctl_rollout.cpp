#include "labcamera.h"
#include "labcameras.h"
#include "ordelctlrun.h"
#include "updatedriver.h"

#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>

using UpdateDriver::randomBytes;

namespace {

const char oldVersion[] = "V1.0";
const char newVersion[] = "V2.0";
// Longer than the silence that tells a restart from replies lost on the way.
const char restartMs[] = "6500";

} // namespace

// A rollout that proves each update on the camera itself and stops itself:
// four cameras of type IPC-D240, the third already on the new version, and a
// fourth of type IPC-B410. Each restarts after a successful update and comes
// back on what the image installs, unless its faults say otherwise.
class TestOrdelctlRollout : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanup();

    void verifiesEachUpdateOnTheCamera_data();
    void verifiesEachUpdateOnTheCamera();
    void awaitedCamerasHoldNoPlaceAndShareTheProbes();
    void maxFailuresStartsNoMoreCameras_data();
    void maxFailuresStartsNoMoreCameras();
    void checkTouchesNoCamera_data();
    void checkTouchesNoCamera();
    void expectNamesTheCamerasThatAreGone();
    void resumeKeepsTheRunsType();

private:
    // mac: the camera's own unless given; restart: how long it is down.
    LabCamera *start(int index, const QStringList &faults = {}, const QString &mac = {},
        const QString &restart = restartMs);
    bool startSite();
    OrdelctlRun *update(const QStringList &arguments);

    LabCameras cameras;
    QByteArray image;
    QString imagePath;
    QTemporaryDir directory;
};

void TestOrdelctlRollout::initTestCase()
{
    QVERIFY(qEnvironmentVariableIntValue("LAB_CAMERAS") >= 4);
    QVERIFY(directory.isValid());
    image = randomBytes(UpdateDriver::mib / 2 + 123);
    imagePath = UpdateDriver::imageFile("fw-2.0.bin", image);
}

void TestOrdelctlRollout::cleanup()
{
    cameras.clear();
}

LabCamera *TestOrdelctlRollout::start(
    int index, const QStringList &faults, const QString &mac, const QString &restart)
{
    QString identity
        = QString("type=%1,fw=%2")
              .arg(index == 4 ? "IPC-B410" : "IPC-D240", index == 3 ? newVersion : oldVersion);
    if (!mac.isEmpty())
        identity += ",mac=" + mac;
    LabCamera *camera = cameras.start(index,
        QStringList { "--camera", identity, "--restart-ms", restart, "--installs", newVersion }
            + LabCameras::updating(faults));
    return camera->isRunning() ? camera : nullptr;
}

bool TestOrdelctlRollout::startSite()
{
    for (int index = 1; index <= 4; ++index) {
        if (!start(index))
            return false;
    }
    return true;
}

void TestOrdelctlRollout::verifiesEachUpdateOnTheCamera_data()
{
    QTest::addColumn<QStringList>("faults");
    QTest::addColumn<QString>("result");
    QTest::addColumn<QString>("message");
    QTest::addColumn<bool>("verified");
    // The program is stopped this long soon after the camera's final report,
    // as Ctrl-Z and fg would; 0 for not at all.
    QTest::addColumn<int>("stoppedMs");
    // The MAC of both cameras, empty for each its own; the restart's length.
    QTest::addColumn<QString>("sharedMac");
    QTest::addColumn<QString>("restart");
    QTest::newRow("back on the new version")
        << QStringList() << "succeeded"
        << "verified: running V2.0" << true << 0 << "" << restartMs;
    QTest::newRow("back on the old version")
        << QStringList { "back-on-old" } << "failed"
        << "came back on V1.0, not V2.0" << false << 0 << "" << restartMs;
    // Too quick for the silence to tell; its broker going away does.
    QTest::newRow("a quick restart, back on the old version")
        << QStringList { "back-on-old" } << "failed"
        << "came back on V1.0, not V2.0" << false << 0 << ""
        << "2000";
    QTest::newRow("never back") << QStringList { "never-back" } << "failed"
                                << "did not come back within 20 s" << false << 0 << "" << restartMs;
    // No probe went out while the program was stopped: the camera, still up
    // on its old version, has not restarted.
    QTest::newRow("up a while, the program stopped meanwhile")
        << QStringList { "up-after=5000" } << "succeeded"
        << "verified: running V2.0" << true << 3500 << "" << restartMs;
    // Known by its MAC at the address DHCP gave it on its restart.
    QTest::newRow("back at another address")
        << QStringList { "back-at=198.51.100.40" } << "succeeded"
        << "verified: running V2.0, now at 198.51.100.40" << true << 0 << "" << restartMs;
    // The other camera's replies, on the new version, are not this one's.
    QTest::newRow("never back, its MAC shared")
        << QStringList { "never-back" } << "failed"
        << "did not come back within 20 s" << false << 0 << "02:00:00:00:00:01" << restartMs;
}

// The updated camera beside one already on the version, which is skipped.
void TestOrdelctlRollout::verifiesEachUpdateOnTheCamera()
{
    QFETCH(QStringList, faults);
    QFETCH(QString, result);
    QFETCH(QString, message);
    QFETCH(bool, verified);
    QFETCH(int, stoppedMs);
    QFETCH(QString, sharedMac);
    QFETCH(QString, restart);
    LabCamera *camera = start(1, faults, sharedMac, restart);
    LabCamera *current = start(3, {}, sharedMac);
    QVERIFY(camera && current);

    OrdelctlRun run({ "update", "--yes", "--json", "--image", imagePath, "--fw-version", newVersion,
        "--verify-timeout", "20", camera->address(), current->address() });
    QVERIFY(run.start());
    if (stoppedMs > 0) {
        QVERIFY(run.waitFor([camera] { return !camera->events("up").isEmpty(); }));
        QTest::qWait(500);
        run.sendSignal(SIGSTOP);
        QTest::qWait(stoppedMs);
        run.sendSignal(SIGCONT);
    }
    QVERIFY(run.waitForEnd());
    QCOMPARE(run.exitCode(), result == "succeeded" ? 0 : 1);
    const QJsonObject final = run.finalOf(camera->address());
    QCOMPARE(final.value("result").toString(), result);
    QCOMPARE(final.value("message").toString(), message);
    QCOMPARE(final.value("verified").toBool(true), verified);
    QVERIFY(run.phasesOf(camera->address()).contains("verifying"));
    UPDATE_STEP(UpdateDriver::verifyImageArrived(camera, image));

    const QJsonObject skipped = run.finalOf(current->address());
    QCOMPARE(skipped.value("result").toString(), QString("skipped"));
    QCOMPARE(skipped.value("verified").toBool(true), false);
    QVERIFY(OrdelctlRun::onlySearched(current));
}

// At --parallel 1 each camera starts while the one before is still away:
// restarting costs the host nothing. However many cameras are awaited, the
// probe goes out at most once a second.
void TestOrdelctlRollout::awaitedCamerasHoldNoPlaceAndShareTheProbes()
{
    LabCamera *first = start(1);
    LabCamera *second = start(2);
    QVERIFY(first && second);

    OrdelctlRun run({ "update", "--yes", "--json", "--parallel", "1", "--image", imagePath,
        "--fw-version", newVersion, first->address(), second->address() });
    QVERIFY(run.run());
    QCOMPARE(run.exitCode(), 0);
    int firstVerifying = -1;
    int secondStarts = -1;
    int firstEnds = -1;
    const QList<QJsonObject> lines = run.lines();
    for (int index = 0; index < lines.size(); ++index) {
        const QJsonObject &line = lines.at(index);
        const bool ofFirst = line.value("ip").toString() == first->address();
        if (ofFirst && line.value("phase").toString() == "verifying" && firstVerifying < 0)
            firstVerifying = index;
        if (!ofFirst && line.value("phase").toString() == "broker" && secondStarts < 0)
            secondStarts = index;
        if (ofFirst && line.contains("result"))
            firstEnds = index;
    }
    QVERIFY(firstVerifying >= 0 && secondStarts > firstVerifying);
    QVERIFY2(secondStarts < firstEnds, "the second camera waited for the first's return");
    for (LabCamera *camera : { first, second }) {
        QCOMPARE(run.finalOf(camera->address()).value("verified").toBool(), true);
        // The search's rounds, then one a second of the run at most.
        const int probes = camera->events("probe").size();
        QVERIFY2(probes <= 4 + int(run.seconds()) + 1,
            qPrintable(QString("%1 probes in %2 s").arg(probes).arg(run.seconds())));
    }
}

void TestOrdelctlRollout::maxFailuresStartsNoMoreCameras_data()
{
    QTest::addColumn<QStringList>("faults");
    QTest::addColumn<QStringList>("arguments");
    QTest::newRow("a camera reports an error") << QStringList { "error-report" } << QStringList();
    // The image never boots: the first camera is awaited until verification
    // runs out, and no other camera is flashed meanwhile.
    QTest::newRow("an image that never comes back")
        << QStringList { "never-back" }
        << QStringList { "--fw-version", "V3.0", "--verify-timeout", "8" };
}

void TestOrdelctlRollout::maxFailuresStartsNoMoreCameras()
{
    QFETCH(QStringList, faults);
    QFETCH(QStringList, arguments);
    LabCamera *failing = start(1, faults);
    LabCamera *alsoFailing = start(2, faults);
    LabCamera *healthy = start(3);
    QVERIFY(failing && alsoFailing && healthy);

    OrdelctlRun run(QStringList { "update", "--yes", "--json", "--parallel", "1", "--max-failures",
                        "1", "--image", imagePath }
        + arguments
        + QStringList { failing->address(), alsoFailing->address(), healthy->address() });
    QVERIFY(run.run());
    QCOMPARE(run.exitCode(), 1);
    QCOMPARE(run.finalOf(failing->address()).value("result").toString(), QString("failed"));
    for (LabCamera *camera : { alsoFailing, healthy }) {
        const QJsonObject final = run.finalOf(camera->address());
        QCOMPARE(final.value("result").toString(), QString("not started"));
        QCOMPARE(final.value("message").toString(), QString("stopped after 1 failure"));
        QVERIFY2(OrdelctlRun::onlySearched(camera), qPrintable(camera->address()));
    }
}

void TestOrdelctlRollout::checkTouchesNoCamera_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("exitCode");
    // Each camera's plan, or none for a refused run.
    QTest::addColumn<QStringList>("plans");
    QTest::addColumn<QString>("error");
    QTest::newRow("one type") << QStringList { "--type", "IPC-D240" } << 0
                              << QStringList { "update", "update", "skip", "" }
                              << "Update 2 cameras (2 IPC-D240) with fw-2.0.bin";
    QTest::newRow("mixed types refused")
        << QStringList() << 2 << QStringList { "", "", "", "" } << "cameras of 2 types answered";
}

// Everything up to the question as a real run, without --yes or a terminal,
// and no camera sees more than the search.
void TestOrdelctlRollout::checkTouchesNoCamera()
{
    QFETCH(QStringList, arguments);
    QFETCH(int, exitCode);
    QFETCH(QStringList, plans);
    QFETCH(QString, error);
    QVERIFY(startSite());

    OrdelctlRun run(QStringList { "update", "--check", "--json", "--all", "--image", imagePath,
                        "--fw-version", newVersion }
        + arguments);
    QVERIFY(run.run());
    QCOMPARE(run.exitCode(), exitCode);
    QVERIFY2(run.errorText().contains(error), qPrintable(run.errorText()));
    for (LabCamera *camera : cameras.all()) {
        QVERIFY2(OrdelctlRun::onlySearched(camera), qPrintable(camera->address()));
        QString plan;
        for (const QJsonObject &line : run.lines()) {
            if (line.value("ip").toString() == camera->address())
                plan = line.value("plan").toString();
        }
        QCOMPARE(plan, plans.at(camera->index() - 1));
    }
}

// What a search wrote down earlier names a camera switched off since: the
// search says so, and the update counts it as a failure of its own, which
// --retry takes up.
void TestOrdelctlRollout::expectNamesTheCamerasThatAreGone()
{
    LabCamera *staying = start(1);
    LabCamera *leaving = start(2);
    LabCamera *otherType = start(4);
    QVERIFY(staying && leaving && otherType);
    OrdelctlRun before({ "search", "--csv" });
    QVERIFY(before.run());
    QFile listing(directory.filePath("site.csv"));
    QVERIFY(listing.open(QIODevice::WriteOnly));
    listing.write(before.out());
    listing.close();
    const QString gone = leaving->address();
    const QString goneOfOtherType = otherType->address();
    cameras.remove(leaving);
    cameras.remove(otherType);

    OrdelctlRun search({ "search", "--json", "--expect", listing.fileName() });
    QVERIFY(search.run());
    QCOMPARE(search.exitCode(), 1);
    QVERIFY2(search.errorText().contains(gone), qPrintable(search.errorText()));
    QVERIFY(!search.errorText().contains(staying->address()));
    // A script reads the missing among the cameras, marked.
    QMap<QString, bool> listed;
    for (const QJsonObject &line : search.lines())
        listed.insert(line.value("ip").toString(), line.value("missing").toBool());
    QCOMPARE(listed,
        (QMap<QString, bool> {
            { staying->address(), false }, { gone, true }, { goneOfOtherType, true } }));

    // An image for one type expects only the cameras of that type: the other
    // type's camera gone is none of this run's, nor of a retry's.
    OrdelctlRun run({ "update", "--yes", "--json", "--all", "--type", "IPC-D240", "--expect",
        listing.fileName(), "--image", imagePath, "--fw-version", newVersion });
    QVERIFY(run.run());
    QCOMPARE(run.exitCode(), 1);
    QCOMPARE(run.finalOf(staying->address()).value("result").toString(), QString("succeeded"));
    const QJsonObject missing = run.finalOf(gone);
    QCOMPARE(missing.value("result").toString(), QString("missing"));
    QVERIFY2(missing.value("message").toString().contains("did not answer the search"),
        qPrintable(missing.value("message").toString()));
    QVERIFY(run.finalsOf(goneOfOtherType).isEmpty());
}

// Killed while its canary was verifying: the resume verifies the canary
// without sending it anything again, and the camera of the other type that
// did not answer the run's search, answering now, is refused the image.
void TestOrdelctlRollout::resumeKeepsTheRunsType()
{
    LabCamera *canary = start(1);
    LabCamera *otherType = cameras.start(4,
        QStringList { "--camera", "type=IPC-B410,fw=V1.0,fault=bad-crc" } + LabCameras::updating());
    QVERIFY(canary && otherType->isRunning());
    const QStringList journal { "--journal", directory.filePath("types.sqlite") };
    OrdelctlRun run(
        QStringList { "update", "--yes", "--json", "--canary", "1", "--image", imagePath,
            "--fw-version", newVersion, canary->address(), otherType->address() }
        + journal);
    QVERIFY(run.start());
    QVERIFY(run.waitFor([&] { return run.phasesOf(canary->address()).contains("verifying"); }));
    run.sendSignal(SIGKILL);
    QVERIFY(run.waitForEnd(10000));
    cameras.remove(otherType);
    otherType = start(4);
    QVERIFY(otherType);
    QTRY_VERIFY_WITH_TIMEOUT(!canary->events("back").isEmpty(), 20000);

    OrdelctlRun resume(QStringList { "resume", "--yes", "--json" } + journal);
    QVERIFY(resume.run());
    QCOMPARE(resume.exitCode(), 1);
    QVERIFY2(resume.errorText().contains("Only cameras of type IPC-D240, as in that run."),
        qPrintable(resume.errorText()));
    const QJsonObject verified = resume.finalOf(canary->address());
    QCOMPARE(verified.value("result").toString(), QString("succeeded"));
    QCOMPARE(verified.value("verified").toBool(), true);
    QCOMPARE(canary->events("update-request").size(), 1);
    QVERIFY2(resume.finalOf(otherType->address())
                 .value("message")
                 .toString()
                 .startsWith("its type is \"IPC-B410\", not \"IPC-D240\""),
        qPrintable(resume.finalOf(otherType->address()).value("message").toString()));
    QVERIFY(OrdelctlRun::onlySearched(otherType));
}

QTEST_GUILESS_MAIN(TestOrdelctlRollout)
#include "tst_ordelctl_rollout.moc"
