#include "camerajob.h"
#include "fleetrun.h"

#include <QtTest>

namespace {

// A camera's job that does only what the test tells it.
class ScriptedJob : public CameraJob
{
public:
    using CameraJob::CameraJob;

    void Start() override { started = true; }
    void Interrupt() override { End(CameraResult::Outcome::Interrupted); }
    // Done with the camera itself: it only waits for the camera to come back.
    void Release() { emit released(); }
    void End(CameraResult::Outcome outcome) { Finish(outcome, QStringLiteral("scripted")); }

    bool started = false;

private:
    PhaseName Phase() const override { return started ? donePhase : waitingPhase; }
};

} // namespace

// How a run schedules its cameras: its places in flight, the canaries before
// the others, and the stop after too many failures.
class TestFleetRun : public QObject
{
    Q_OBJECT

private slots:
    void cleanup();

    void aReleasedCameraGivesUpItsPlace();
    void canariesAreAwaitedUntilTheyEnd();
    void manyStartAFewAtATime();
    void stopsAfterTooManyFailures_data();
    void stopsAfterTooManyFailures();

private:
    FleetRun *newRun(int parallel, int canaries, int cameras);
    QList<bool> started() const;

    FleetRun *run = nullptr;
    QList<ScriptedJob *> jobs;
};

void TestFleetRun::cleanup()
{
    delete run;
    run = nullptr;
    jobs.clear();
}

FleetRun *TestFleetRun::newRun(int parallel, int canaries, int cameras)
{
    run = new FleetRun(parallel, canaries);
    for (int index = 0; index < cameras; ++index) {
        jobs.append(new ScriptedJob(QStringLiteral("198.51.100.%1").arg(11 + index)));
        run->Add(jobs.last());
    }
    return run;
}

QList<bool> TestFleetRun::started() const
{
    QList<bool> flags;
    for (const ScriptedJob *job : jobs)
        flags.append(job->started);
    return flags;
}

void TestFleetRun::aReleasedCameraGivesUpItsPlace()
{
    newRun(1, 0, 3);
    QSignalSpy finished(run, &FleetRun::finished);
    run->Start();
    QCOMPARE(started(), QList<bool>({ true, false, false }));
    jobs[0]->Release();
    QCOMPARE(started(), QList<bool>({ true, true, false }));
    QCOMPARE(run->InFlight(), 1);
    QCOMPARE(run->Away(), 1);
    // A second word of the same camera frees no second place.
    jobs[0]->Release();
    QCOMPARE(started(), QList<bool>({ true, true, false }));
    jobs[1]->End(CameraResult::Outcome::Succeeded);
    QCOMPARE(started(), QList<bool>({ true, true, true }));
    jobs[2]->End(CameraResult::Outcome::Succeeded);
    // The released camera has not ended: neither has the run.
    QCOMPARE(finished.count(), 0);
    jobs[0]->End(CameraResult::Outcome::Succeeded);
    QCOMPARE(run->Away(), 0);
    QCOMPARE(finished.count(), 1);
    QCOMPARE(run->Results().size(), 3);
}

// A canary away for its restart has not succeeded yet.
void TestFleetRun::canariesAreAwaitedUntilTheyEnd()
{
    newRun(4, 1, 3);
    run->Start();
    jobs[0]->Release();
    QCOMPARE(started(), QList<bool>({ true, false, false }));
    jobs[0]->End(CameraResult::Outcome::Succeeded);
    QCOMPARE(started(), QList<bool>({ true, true, true }));
}

// Each start is a write to the journal: forty of them in one go would hold a
// window's event loop, so the rest follow from it.
void TestFleetRun::manyStartAFewAtATime()
{
    const int cameras = 3 * FleetRun::startsPerTurn;
    newRun(cameras, 0, cameras);
    run->Start();
    QCOMPARE(run->InFlight(), FleetRun::startsPerTurn);
    QTRY_COMPARE(run->InFlight(), cameras);
}

void TestFleetRun::stopsAfterTooManyFailures_data()
{
    QTest::addColumn<int>("parallel");
    QTest::addColumn<int>("maxFailures");
    // What each camera does, in order: "1 failed" ends the second camera;
    // "0 away" has the first give up its place to wait for its restart. A
    // camera must have started before it acts.
    QTest::addColumn<QStringList>("script");
    QTest::addColumn<QStringList>("results");
    QTest::newRow("the first failure stops it")
        << 1 << 1 << QStringList { "0 failed" }
        << QStringList { "failed", "not started: stopped after 1 failure",
               "not started: stopped after 1 failure" };
    QTest::newRow("two failures allowed one at a time")
        << 1 << 2 << QStringList { "0 failed", "1 succeeded", "2 failed" }
        << QStringList { "failed", "succeeded", "failed" };
    QTest::newRow("two failures among successes")
        << 1 << 2 << QStringList { "0 failed", "1 failed" }
        << QStringList { "failed", "failed", "not started: stopped after 2 failures" };
    // Cameras in flight when the limit is reached still finish.
    QTest::newRow("in flight finish")
        << 2 << 1 << QStringList { "0 failed", "1 succeeded" }
        << QStringList { "failed", "succeeded", "not started: stopped after 1 failure" };
    QTest::newRow("no limit") << 1 << 0 << QStringList { "0 failed", "1 failed", "2 failed" }
                              << QStringList { "failed", "failed", "failed" };
    // A camera awaited after its restart may still fail: it holds back the
    // next until it is verified, so an image that never boots reaches no
    // more cameras than the limit allows.
    QTest::newRow("an awaited camera that fails stops it")
        << 1 << 1 << QStringList { "0 away", "0 failed" }
        << QStringList { "failed", "not started: stopped after 1 failure",
               "not started: stopped after 1 failure" };
    QTest::newRow("an awaited camera that succeeds lets the next go")
        << 1 << 1 << QStringList { "0 away", "0 succeeded", "1 away", "1 succeeded", "2 succeeded" }
        << QStringList { "succeeded", "succeeded", "succeeded" };
    QTest::newRow("failed and awaited together reach the limit")
        << 1 << 2 << QStringList { "0 failed", "1 away", "1 failed" }
        << QStringList { "failed", "failed", "not started: stopped after 2 failures" };
    QTest::newRow("awaited below the limit give up their places")
        << 1 << 3 << QStringList { "0 away", "1 away", "2 succeeded", "0 succeeded", "1 failed" }
        << QStringList { "succeeded", "failed", "succeeded" };
}

void TestFleetRun::stopsAfterTooManyFailures()
{
    QFETCH(int, parallel);
    QFETCH(int, maxFailures);
    QFETCH(QStringList, script);
    QFETCH(QStringList, results);
    newRun(parallel, 0, 3);
    run->SetMaxFailures(maxFailures);
    QSignalSpy finished(run, &FleetRun::finished);
    run->Start();
    for (const QString &line : qAsConst(script)) {
        const QStringList words = line.split(QLatin1Char(' '));
        ScriptedJob *job = jobs.at(words.at(0).toInt());
        QVERIFY2(job->started, qPrintable(line + QStringLiteral(": not started")));
        if (words.at(1) == QLatin1String("away")) {
            job->Release();
            continue;
        }
        CameraResult::Outcome outcome;
        QVERIFY(CameraResult::OutcomeFromName(words.at(1), &outcome));
        job->End(outcome);
    }
    QCOMPARE(finished.count(), 1);
    QStringList ended;
    for (const CameraResult &result : run->Results()) {
        ended.append(CameraResult::OutcomeName(result.outcome));
        if (result.outcome == CameraResult::Outcome::NotStarted)
            ended.last() += QStringLiteral(": ") + result.message;
    }
    QCOMPARE(ended, results);
}

QTEST_GUILESS_MAIN(TestFleetRun)
#include "tst_fleetrun.moc"
