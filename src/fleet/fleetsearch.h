#ifndef FLEETSEARCH_H
#define FLEETSEARCH_H

#include "camerarecord.h"

#include <QDeadlineTimer>
#include <QList>
#include <QObject>
#include <QSet>
#include <QTimer>
#include <QUdpSocket>

// The window's search without the window: the probe once out of every
// attached network, the replies taken for a while and checked by the same
// acceptance rule. Unlike the device table it lists each camera once, however
// often it answers.
class FleetSearch : public QObject
{
    Q_OBJECT
public:
    explicit FleetSearch(int windowMs, QObject *parent = nullptr);

    // Binds the discovery port, shared as the window shares it, and sends the
    // probes after the cameras' pause. False, saying why, when the port cannot
    // be had; nothing is sent then.
    bool Start(QString *error);
    // Ends the search now; finished() is not emitted.
    void Stop();

    const QList<CameraRecord> &Cameras() const { return cameras; }

    // About how many replies the receive buffer the kernel granted holds, and
    // how many the search asked room for. A crowd larger than the buffer holds
    // can overflow it before the replies are read.
    int RepliesHeld() const;
    static int RepliesWanted();
    // The replies the kernel dropped because the buffer was full, up to the
    // end of the window: cameras that answered but are not listed.
    int LostReplies() const { return lostReplies; }

signals:
    void cameraFound(const CameraRecord &camera);
    void finished();

private slots:
    void SendProbes();
    void ReadReplies();
    void EndWindow();

private:
    int KernelDrops() const;

    enum class Step { Idle, Pausing, Collecting, Done };

    int windowMs;
    int grantedBytes = 0;
    int lostReplies = 0;
    Step step = Step::Idle;
    QUdpSocket socket;
    QTimer timer;
    QDeadlineTimer windowEnd;
    QSet<QString> seen;
    QList<CameraRecord> cameras;
};

#endif // FLEETSEARCH_H
