#include "camerajob.h"

CameraJob::CameraJob(const QString &ip, QObject *parent)
    : QObject(parent)
    , ip(ip)
{
}

QString CameraJob::Detail() const
{
    return QString();
}

void CameraJob::StartClock()
{
    clock.start();
}

void CameraJob::Finish(CameraResult::Outcome outcome, const QString &message)
{
    if (ended)
        return;
    ended = true;
    const double seconds = clock.isValid() ? double(clock.elapsed()) / 1000 : 0;
    emit finished({ ip, outcome, message, seconds });
}
