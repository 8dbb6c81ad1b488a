#ifndef FLEETSEARCH_H
#define FLEETSEARCH_H

#include "camerarecord.h"

#include <QDeadlineTimer>
#include <QList>
#include <QObject>
#include <QSet>
#include <QTimer>

class SearchSocket;

// The window's search without the window: the probe out of every attached
// network, the replies taken for a while and checked by the same acceptance
// rule. Unlike the window it asks more than once within its window, because
// a link that drops one reply in ten misses a camera in almost every search
// of forty; and it lists each camera once, however often it answers.
class FleetSearch : public QObject
{
    Q_OBJECT
public:
    // How long the cameras are listened to when nobody says otherwise.
    static constexpr int defaultWindowMs = 2000;

    // The socket is shared with whatever else the run probes for; the
    // search opens it if need be and leaves it open.
    FleetSearch(int windowMs, SearchSocket *socket, QObject *parent = nullptr);

    // Sends the probes after the cameras' pause. False, saying why, when the
    // port cannot be had; nothing is sent then.
    bool Start(QString *error);
    // Ends the search now; finished() is not emitted.
    void Stop();

    const QList<CameraRecord> &Cameras() const { return cameras; }
    // The replies the kernel dropped because the buffer was full, up to the
    // end of the window: cameras that answered but may not be listed.
    int LostReplies() const { return lostReplies; }
    // How many times the probe went out.
    int Rounds() const { return rounds; }

signals:
    void cameraFound(const CameraRecord &camera);
    void finished();

private:
    void TimerFired();
    void SendProbes();
    void TakeReply(const CameraRecord &camera);
    void EndWindow();

    enum class Step { Idle, Pausing, Collecting, Done };

    int windowMs;
    SearchSocket *socket;
    int dropsBefore = 0;
    int lostReplies = 0;
    int rounds = 0;
    Step step = Step::Idle;
    QTimer timer;
    QTimer repeatTimer;
    QDeadlineTimer windowEnd;
    QSet<QString> seen;
    QList<CameraRecord> cameras;
};

#endif // FLEETSEARCH_H
