#ifndef FLEETRUN_H
#define FLEETRUN_H

#include "cameraresult.h"

#include <QList>
#include <QObject>

class CameraJob;

// The cameras of one run, at most a given number of them in flight: the
// others start, in the order added, as cameras finish. The run keeps each
// camera's result in that order.
class FleetRun : public QObject
{
    Q_OBJECT
public:
    explicit FleetRun(int parallel, QObject *parent = nullptr);

    // The run owns the job from here on.
    void Add(CameraJob *job);
    // finished() follows from the event loop, also for a run without cameras.
    void Start();
    // Every camera in flight ends as interrupted; those not started yet are
    // interrupted before they began. finished() follows at once.
    void Interrupt();

    int Total() const { return jobs.size(); }
    int InFlight() const { return running; }
    int Waiting() const { return jobs.size() - next; }
    int Ended() const { return ended; }
    const QList<CameraJob *> &Jobs() const { return jobs; }
    // The results so far, in the order the cameras were added; a camera that
    // has not ended has none.
    QList<CameraResult> Results() const;

signals:
    void jobStarted(CameraJob *job);
    void jobFinished(CameraJob *job, const CameraResult &result);
    void finished();

private:
    void StartMore();
    void JobFinished(CameraJob *job, const CameraResult &result);

    int parallel;
    QList<CameraJob *> jobs;
    QList<CameraResult> results;
    QList<bool> hasResult;
    int next = 0;
    int running = 0;
    int ended = 0;
    bool starting = false;
    bool started = false;
};

#endif // FLEETRUN_H
