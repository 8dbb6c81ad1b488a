#include "fleetrun.h"

#include "camerajob.h"

#include <QTimer>

FleetRun::FleetRun(int parallel, QObject *parent)
    : QObject(parent)
    , parallel(qMax(parallel, 1))
{
}

void FleetRun::Add(CameraJob *job)
{
    job->setParent(this);
    const int index = jobs.size();
    jobs.append(job);
    results.append({ job->Ip(), CameraResult::Outcome::Failed, QString(), 0 });
    hasResult.append(false);
    connect(job, &CameraJob::finished, this, [this, job, index](const CameraResult &result) {
        results[index] = result;
        hasResult[index] = true;
        JobFinished(job, result);
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
    while (running < parallel && next < jobs.size()) {
        CameraJob *job = jobs.at(next++);
        ++running;
        emit jobStarted(job);
        job->Start();
    }
    starting = false;
}

void FleetRun::JobFinished(CameraJob *job, const CameraResult &result)
{
    --running;
    ++ended;
    emit jobFinished(job, result);
    if (ended == jobs.size()) {
        emit finished();
        return;
    }
    StartMore();
}

void FleetRun::Interrupt()
{
    if (!started || ended == jobs.size())
        return;
    // Nothing new starts while the running ones end.
    const int notStarted = next;
    next = jobs.size();
    for (int index = notStarted; index < jobs.size(); ++index) {
        results[index] = { jobs.at(index)->Ip(), CameraResult::Outcome::Interrupted,
            QStringLiteral("interrupted before it started"), 0 };
        hasResult[index] = true;
        ++ended;
        emit jobFinished(jobs.at(index), results.at(index));
    }
    if (running == 0) {
        emit finished();
        return;
    }
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
