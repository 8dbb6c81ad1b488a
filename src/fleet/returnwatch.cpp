#include "returnwatch.h"

#include "cameraupdate.h"
#include "searchsocket.h"

ReturnWatch::ReturnWatch(SearchSocket *socket, QObject *parent)
    : QObject(parent)
    , socket(socket)
{
    timer.setInterval(probeIntervalMs);
    // A coarse timer may fire 5 % early: never more than one round a second.
    timer.setTimerType(Qt::PreciseTimer);
    connect(&timer, &QTimer::timeout, this, &ReturnWatch::SendRound);
    connect(socket, &SearchSocket::replyReceived, this, &ReturnWatch::TakeReply);
}

int ReturnWatch::Rounds() const
{
    return socket->ProbesSent();
}

// The first probe follows a second later: a camera still up just after its
// final report would only answer with the firmware it is leaving.
void ReturnWatch::Await(CameraUpdate *camera)
{
    const QString key = Key(camera->Mac());
    if (!awaited.contains(key, camera))
        awaited.insert(key, camera);
    if (dropsBefore < 0)
        dropsBefore = socket->KernelDrops();
    if (!timer.isActive())
        timer.start();
}

void ReturnWatch::Release(CameraUpdate *camera)
{
    awaited.remove(Key(camera->Mac()), camera);
    if (awaited.isEmpty())
        timer.stop();
}

// What the last round's replies lost is known by the next round.
void ReturnWatch::SendRound()
{
    const int dropped = socket->KernelDrops() - dropsBefore;
    if (dropped > 0 && !dropsTold) {
        dropsTold = true;
        emit repliesDropped(dropped);
    }
    socket->SendProbes();
}

void ReturnWatch::TakeReply(const CameraRecord &camera)
{
    // A camera's verdict releases it, so the list is taken first.
    const QString key = Key(camera.mac);
    const QList<CameraUpdate *> waiting = awaited.values(key);
    for (CameraUpdate *update : waiting) {
        if (awaited.contains(key, update))
            update->TakeReply(camera);
    }
}

QString ReturnWatch::Key(const QString &mac)
{
    return mac.toUpper();
}
