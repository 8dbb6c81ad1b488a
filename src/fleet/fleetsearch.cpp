#include "fleetsearch.h"

#include "protocol.h"
#include "searchsocket.h"

namespace {

// The probe goes out this many times, spread over the first part of the
// window so that the last one's replies have most of it to arrive. With one
// reply in ten lost, four rounds miss a given camera once in ten thousand.
constexpr int probeRounds = 4;
constexpr int windowPartsPerRound = 8;

} // namespace

FleetSearch::FleetSearch(int windowMs, SearchSocket *socket, QObject *parent)
    : QObject(parent)
    , windowMs(windowMs)
    , socket(socket)
{
    timer.setSingleShot(true);
    // A coarse timer may end the window up to 5 % early.
    timer.setTimerType(Qt::PreciseTimer);
    connect(&timer, &QTimer::timeout, this, &FleetSearch::TimerFired);
    repeatTimer.setTimerType(Qt::PreciseTimer);
    connect(&repeatTimer, &QTimer::timeout, this, &FleetSearch::SendProbes);
}

bool FleetSearch::Start(QString *error)
{
    if (!socket->Open(error))
        return false;
    connect(socket, &SearchSocket::replyReceived, this, &FleetSearch::TakeReply);
    dropsBefore = socket->KernelDrops();
    step = Step::Pausing;
    timer.start(Protocol::probeAfterBindMs);
    return true;
}

void FleetSearch::Stop()
{
    timer.stop();
    repeatTimer.stop();
    socket->disconnect(this);
    step = Step::Done;
}

void FleetSearch::TimerFired()
{
    if (step == Step::Pausing) {
        step = Step::Collecting;
        windowEnd = QDeadlineTimer(windowMs, Qt::PreciseTimer);
        timer.start(windowMs);
        repeatTimer.start(qMax(windowMs / windowPartsPerRound, 1));
        SendProbes();
    } else if (step == Step::Collecting) {
        EndWindow();
    }
}

void FleetSearch::SendProbes()
{
    // A crowd that already overflowed the buffer would only overflow it
    // again, and more replies would be lost to the same cameras than won.
    const bool overflowed = socket->KernelDrops() > dropsBefore;
    if (rounds > 0 && overflowed) {
        repeatTimer.stop();
        return;
    }
    socket->SendProbes();
    if (++rounds == probeRounds)
        repeatTimer.stop();
}

void FleetSearch::TakeReply(const CameraRecord &camera)
{
    // Anything before the probe is not an answer to it, and a flood that
    // keeps the socket busy must not hold the window open.
    if (step != Step::Collecting)
        return;
    if (windowEnd.hasExpired()) {
        EndWindow();
        return;
    }
    // A camera is its address and its MAC: a second reply of one camera
    // is dropped, two cameras that claim one address are both listed.
    const QString key = camera.ip + QLatin1Char('/') + camera.mac;
    if (seen.contains(key))
        return;
    seen.insert(key);
    cameras.append(camera);
    emit cameraFound(camera);
}

// Replies that come later are not this search's: they came too late.
void FleetSearch::EndWindow()
{
    lostReplies = socket->KernelDrops() - dropsBefore;
    Stop();
    emit finished();
}
