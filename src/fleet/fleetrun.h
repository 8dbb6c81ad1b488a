#ifndef FLEETRUN_H
#define FLEETRUN_H

#include "cameraresult.h"

#include <QList>
#include <QObject>

#include <functional>

class CameraJob;

// The cameras of one run, at most a given number of them in flight: the
// others start, in the order added, as cameras finish. The first cameras may
// be canaries: the others then wait until every canary has ended, and start
// only if each of them succeeded; otherwise they end as not started, with
// the canary's failure as the reason. A run may also stop itself once a given
// number of cameras have failed: those not started yet end as not started,
// those in flight finish. A camera that only waits to come back from its
// restart gives its place to the next, but counts against the failure limit
// until it has ended: no camera starts while the failed ones and those
// awaited reach the limit. The run keeps each camera's result in
// the order added.
class FleetRun : public QObject
{
    Q_OBJECT
public:
    // At most this many cameras start in one pass of the event loop; the
    // others follow in the next passes.
    static constexpr int startsPerTurn = 8;

    explicit FleetRun(int parallel, int canaries = 0, QObject *parent = nullptr);

    // No camera starts once this many have failed; 0 for no such limit.
    void SetMaxFailures(int failures);
    // Asked just before each camera starts: empty to start it, or why it
    // must not, which fails it without starting it (another run holds it).
    void SetAdmission(std::function<QString(CameraJob *)> admit);
    // No camera starts from now on: those not started end as not started,
    // for the reason given; those in flight finish.
    void StopStarting(const QString &reason);
    // The run owns the job from here on.
    void Add(CameraJob *job);
    // finished() follows from the event loop, also for a run without cameras.
    void Start();
    // Every camera in flight ends as interrupted; those not started yet are
    // interrupted before they began. finished() follows at once.
    void Interrupt();

    int Total() const { return jobs.size(); }
    int InFlight() const { return running; }
    // Started cameras that gave up their place and have not ended: they wait
    // to come back from a restart.
    int Away() const { return away; }
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
    bool CanariesLetTheOthersGo();
    bool FailureLimitHolds() const;
    void EndUnstarted(CameraResult::Outcome outcome, const QString &reason);
    void EndOne(int index, CameraResult::Outcome outcome, const QString &reason);
    void FinishIfAllEnded();
    void JobReleased(int index);
    void JobFinished(int index, const CameraResult &result);

    int parallel;
    int canaries;
    int maxFailures = 0;
    std::function<QString(CameraJob *)> admit;
    int failures = 0;
    QList<CameraJob *> jobs;
    QList<CameraResult> results;
    QList<bool> hasResult;
    // Started jobs that gave up their place before they ended.
    QList<bool> released;
    int next = 0;
    int running = 0;
    int away = 0;
    int ended = 0;
    bool starting = false;
    bool started = false;
    bool finishedSaid = false;
};

#endif // FLEETRUN_H
