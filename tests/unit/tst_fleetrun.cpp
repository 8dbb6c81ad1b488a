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

void TestFleetRun::stopsAfterTooManyFailures_data()
{
    QTest::addColumn<int>("parallel");
    QTest::addColumn<int>("maxFailures");
    // The outcome each started camera ends with, in the order they start.
    QTest::addColumn<QList<int>>("outcomes");
    QTest::addColumn<QStringList>("results");
    const int failed = int(CameraResult::Outcome::Failed);
    const int succeeded = int(CameraResult::Outcome::Succeeded);
    QTest::newRow("the first failure stops it")
        << 1 << 1 << QList<int> { failed }
        << QStringList { "failed", "not started: stopped after 1 failure",
               "not started: stopped after 1 failure" };
    QTest::newRow("two failures allowed one at a time")
        << 1 << 2 << QList<int> { failed, succeeded, failed }
        << QStringList { "failed", "succeeded", "failed" };
    QTest::newRow("two failures among successes")
        << 1 << 2 << QList<int> { failed, failed }
        << QStringList { "failed", "failed", "not started: stopped after 2 failures" };
    // Cameras in flight when the limit is reached still finish.
    QTest::newRow("in flight finish")
        << 2 << 1 << QList<int> { failed, succeeded }
        << QStringList { "failed", "succeeded", "not started: stopped after 1 failure" };
    QTest::newRow("no limit") << 1 << 0 << QList<int> { failed, failed, failed }
                              << QStringList { "failed", "failed", "failed" };
}

void TestFleetRun::stopsAfterTooManyFailures()
{
    QFETCH(int, parallel);
    QFETCH(int, maxFailures);
    QFETCH(QList<int>, outcomes);
    QFETCH(QStringList, results);
    newRun(parallel, 0, 3);
    run->SetMaxFailures(maxFailures);
    QSignalSpy finished(run, &FleetRun::finished);
    run->Start();
    for (int index = 0; index < outcomes.size(); ++index) {
        QVERIFY2(jobs.at(index)->started, qPrintable(QString::number(index)));
        jobs.at(index)->End(CameraResult::Outcome(outcomes.at(index)));
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
