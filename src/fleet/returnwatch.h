#ifndef RETURNWATCH_H
#define RETURNWATCH_H

#include "camerarecord.h"

#include <QMultiHash>
#include <QObject>
#include <QTimer>

class CameraUpdate;
class SearchSocket;

// Updated cameras on their way back from the restart that installs their
// firmware. While any is awaited the probe goes out once a second out of
// every network, however many cameras wait, on the search's own socket; each
// reply goes to the camera awaited with its MAC, at whatever address it came
// back on. Replies the kernel drops meanwhile are told once: a camera "not
// seen" may have answered.
class ReturnWatch : public QObject
{
    Q_OBJECT
public:
    explicit ReturnWatch(SearchSocket *socket, QObject *parent = nullptr);

    void Await(CameraUpdate *camera);
    void Release(CameraUpdate *camera);
    int Awaited() const { return int(awaited.size()); }
    // How many rounds of probes have gone out so far.
    int Rounds() const;

    // One round of probes a second: the cameras come back within seconds to
    // minutes, and a crowd waiting must not flood the network it is on.
    static constexpr int probeIntervalMs = 1000;

signals:
    // The first time the kernel drops replies while cameras are awaited.
    void repliesDropped(int dropped);

private:
    void SendRound();
    void TakeReply(const CameraRecord &camera);
    static QString Key(const QString &mac);

    SearchSocket *socket;
    QTimer timer;
    QMultiHash<QString, CameraUpdate *> awaited;
    int dropsBefore = -1;
    bool dropsTold = false;
};

#endif // RETURNWATCH_H
