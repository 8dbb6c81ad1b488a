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
    connect(&timer, &QTimer::timeout, socket, &SearchSocket::SendProbes);
    connect(socket, &SearchSocket::replyReceived, this, &ReturnWatch::TakeReply);
}

// The first probe follows a second later: a camera still up just after its
// final report would only answer with the firmware it is leaving.
void ReturnWatch::Await(CameraUpdate *camera)
{
    if (!awaited.contains(camera->Ip(), camera))
        awaited.insert(camera->Ip(), camera);
    if (!timer.isActive())
        timer.start();
}

void ReturnWatch::Release(CameraUpdate *camera)
{
    awaited.remove(camera->Ip(), camera);
    if (awaited.isEmpty())
        timer.stop();
}

void ReturnWatch::TakeReply(const CameraRecord &camera)
{
    // A camera's verdict releases it, so the list is taken first.
    const QList<CameraUpdate *> waiting = awaited.values(camera.ip);
    for (CameraUpdate *update : waiting) {
        if (awaited.contains(camera.ip, update))
            update->TakeReply(camera);
    }
}
