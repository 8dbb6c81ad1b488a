#include "fleetrun.h"

#include "camerajob.h"

#include <QTimer>

FleetRun::FleetRun(int parallel, int canaries, QObject *parent)
    : QObject(parent)
    , parallel(qMax(parallel, 1))
    , canaries(qMax(canaries, 0))
{
}

void FleetRun::SetMaxFailures(int failures)
{
    maxFailures = qMax(failures, 0);
}

void FleetRun::SetAdmission(std::function<QString(CameraJob *)> admission)
{
    admit = std::move(admission);
}

void FleetRun::StopStarting(const QString &reason)
{
    if (started && next < jobs.size())
        EndUnstarted(CameraResult::Outcome::NotStarted, reason);
}

void FleetRun::Add(CameraJob *job)
{
    job->setParent(this);
    const int index = jobs.size();
    jobs.append(job);
    results.append(
        { job->Ip(), CameraResult::Outcome::Failed, QString(), 0, false, job->Mac(), job->Type() });
    hasResult.append(false);
    released.append(false);
    connect(job, &CameraJob::released, this, [this, index] { JobReleased(index); });
    connect(job, &CameraJob::finished, this, [this, index](const CameraResult &result) {
        results[index] = result;
        hasResult[index] = true;
        JobFinished(index, result);
    });
}

void FleetRun::Start()
{
    started = true;
    if (jobs.isEmpty()) {
        QTimer::singleShot(0, this, &FleetRun::finished);
        return;
    }
    StartMore();
}

void FleetRun::StartMore()
{
    // A camera that ended inside Start() would start the next one from within
    // this loop; the loop takes it instead.
    if (starting)
        return;
    starting = true;
    int startedNow = 0;
    while (running < parallel && next < jobs.size()) {
        // Each start claims the camera in the journal, a write of its own:
        // forty at once would hold a window's event loop for a while.
        if (startedNow == startsPerTurn) {
            QTimer::singleShot(0, this, &FleetRun::StartMore);
            break;
        }
        if (next == canaries && !CanariesLetTheOthersGo())
            break;
        if (FailureLimitHolds())
            break;
        CameraJob *job = jobs.at(next++);
        const QString refusal = admit ? admit(job) : QString();
        if (!refusal.isEmpty()) {
            EndOne(next - 1, CameraResult::Outcome::Failed, refusal);
            continue;
        }
        ++running;
        ++startedNow;
        emit jobStarted(job);
        job->Start();
    }
    starting = false;
    // The last cameras may have been refused here, with none to end later.
    if (!jobs.isEmpty())
        FinishIfAllEnded();
}

// Asked once the canaries have all started: false while any has not ended,
// also one that only waits to come back, and false for good once one of them
// has not succeeded.
bool FleetRun::CanariesLetTheOthersGo()
{
    for (int index = 0; index < canaries; ++index) {
        if (!hasResult.at(index))
            return false;
    }
    for (int index = 0; index < canaries; ++index) {
        const CameraResult &result = results.at(index);
        if (result.outcome != CameraResult::Outcome::Succeeded) {
            EndUnstarted(CameraResult::Outcome::NotStarted,
                QStringLiteral("the canary %1 %2: %3")
                    .arg(result.ip, CameraResult::OutcomeName(result.outcome), result.message));
            return false;
        }
    }
    return true;
}

// A camera that waits to come back may yet fail: an image that never boots
// shows only when verification runs out. Until then it counts against the
// limit, so a bricking image reaches no more cameras than the limit allows.
bool FleetRun::FailureLimitHolds() const
{
    return maxFailures > 0 && failures + away >= maxFailures;
}

// Every camera not started yet ends at once, for the reason given.
void FleetRun::EndUnstarted(CameraResult::Outcome outcome, const QString &reason)
{
    const int notStarted = next;
    next = jobs.size();
    for (int index = notStarted; index < jobs.size(); ++index)
        EndOne(index, outcome, reason);
    FinishIfAllEnded();
}

// A camera that never started: its result, without its job.
void FleetRun::EndOne(int index, CameraResult::Outcome outcome, const QString &reason)
{
    const CameraJob *job = jobs.at(index);
    results[index] = { job->Ip(), outcome, reason, 0, false, job->Mac(), job->Type() };
    hasResult[index] = true;
    ++ended;
    emit jobFinished(jobs.at(index), results.at(index));
}

void FleetRun::FinishIfAllEnded()
{
    if (ended < jobs.size() || finishedSaid)
        return;
    finishedSaid = true;
    emit finished();
}

void FleetRun::JobReleased(int index)
{
    if (released.at(index) || hasResult.at(index))
        return;
    released[index] = true;
    --running;
    ++away;
    StartMore();
}

void FleetRun::JobFinished(int index, const CameraResult &result)
{
    if (released.at(index))
        --away;
    else
        --running;
    ++ended;
    emit jobFinished(jobs.at(index), result);
    if (ended == jobs.size()) {
        FinishIfAllEnded();
        return;
    }
    if (result.outcome == CameraResult::Outcome::Failed && maxFailures > 0
        && ++failures >= maxFailures && next < jobs.size()) {
        EndUnstarted(CameraResult::Outcome::NotStarted,
            failures == 1 ? QStringLiteral("stopped after 1 failure")
                          : QStringLiteral("stopped after %1 failures").arg(failures));
        return;
    }
    StartMore();
}

void FleetRun::Interrupt()
{
    if (!started || ended == jobs.size())
        return;
    // Nothing new starts while the running ones end; with none running the
    // run has finished here.
    const int notStarted = next;
    EndUnstarted(
        CameraResult::Outcome::Interrupted, QStringLiteral("interrupted before it started"));
    // The last of them to end says finished().
    for (int index = 0; index < notStarted; ++index) {
        if (!jobs.at(index)->IsFinished())
            jobs.at(index)->Interrupt();
    }
}

QList<CameraResult> FleetRun::Results() const
{
    QList<CameraResult> done;
    for (int index = 0; index < results.size(); ++index) {
        if (hasResult.at(index))
            done.append(results.at(index));
    }
    return done;
}
