#include "fleetsearch.h"

#include "discoveryprobe.h"
#include "discoveryreply.h"
#include "protocol.h"

#include <QNetworkDatagram>
#include <QVariant>

#include <sys/socket.h>
#ifdef Q_OS_LINUX
#include <linux/sock_diag.h>
#endif

namespace {

// Linux doubles the size asked for, for its own bookkeeping, and reports the
// doubled size; the replies' bookkeeping is counted against it.
#ifdef Q_OS_LINUX
constexpr int reportedPerAsked = 2;
#else
constexpr int reportedPerAsked = 1;
#endif

} // namespace

FleetSearch::FleetSearch(int windowMs, QObject *parent)
    : QObject(parent)
    , windowMs(windowMs)
{
    timer.setSingleShot(true);
    // A coarse timer may end the window up to 5 % early.
    timer.setTimerType(Qt::PreciseTimer);
    connect(&timer, &QTimer::timeout, this, [this] {
        if (step == Step::Pausing)
            SendProbes();
        else if (step == Step::Collecting)
            EndWindow();
    });
    connect(&socket, &QUdpSocket::readyRead, this, &FleetSearch::ReadReplies);
}

bool FleetSearch::Start(QString *error)
{
    // Dual-stack and shared, as the window binds it, so the two can search
    // side by side and each probe can name its IPv4 source.
    if (!socket.bind(QHostAddress::Any, Protocol::discoveryPort,
            QAbstractSocket::ShareAddress | QAbstractSocket::ReuseAddressHint)) {
        *error = QStringLiteral("cannot use UDP port %1: %2")
                     .arg(Protocol::discoveryPort)
                     .arg(socket.errorString());
        return false;
    }
    // The kernel grants no more than its limit (net.core.rmem_max on Linux)
    // and says nothing when it grants less.
    socket.setSocketOption(
        QAbstractSocket::ReceiveBufferSizeSocketOption, Protocol::searchReceiveBufferBytes);
    grantedBytes = socket.socketOption(QAbstractSocket::ReceiveBufferSizeSocketOption).toInt();
    step = Step::Pausing;
    timer.start(Protocol::probeAfterBindMs);
    return true;
}

void FleetSearch::Stop()
{
    timer.stop();
    socket.close();
    step = Step::Done;
}

void FleetSearch::SendProbes()
{
    const QList<QNetworkDatagram> probes = DiscoveryProbe::PerNetwork();
    // Without any attached network the plain broadcast is all there is; a
    // send that fails shows as no camera found.
    if (probes.isEmpty())
        socket.writeDatagram(
            DiscoveryProbe::Bytes(), DiscoveryProbe::Broadcast(), Protocol::discoveryPort);
    for (const QNetworkDatagram &probe : probes)
        socket.writeDatagram(probe);
    step = Step::Collecting;
    windowEnd = QDeadlineTimer(windowMs, Qt::PreciseTimer);
    timer.start(windowMs);
}

void FleetSearch::ReadReplies()
{
    // A flood that keeps the socket busy must not hold the window open.
    while (step == Step::Collecting && socket.hasPendingDatagrams() && !windowEnd.hasExpired()) {
        const QStringList fields = DiscoveryReply::Read(socket.receiveDatagram().data());
        if (fields.isEmpty())
            continue;
        const CameraRecord camera = CameraRecord::FromFields(fields);
        // A camera is its address and its MAC: a second reply of one camera
        // is dropped, two cameras that claim one address are both listed.
        const QString key = camera.ip + QLatin1Char('/') + camera.mac;
        if (seen.contains(key))
            continue;
        seen.insert(key);
        cameras.append(camera);
        emit cameraFound(camera);
    }
    if (step == Step::Collecting && windowEnd.hasExpired()) {
        EndWindow();
        return;
    }
    // Anything before the probe is dropped, so the notifier does not spin.
    while (step == Step::Pausing && socket.hasPendingDatagrams())
        socket.receiveDatagram();
}

int FleetSearch::RepliesHeld() const
{
    return grantedBytes / Protocol::queuedReplyBytes;
}

int FleetSearch::RepliesWanted()
{
    return reportedPerAsked * Protocol::searchReceiveBufferBytes / Protocol::queuedReplyBytes;
}

// Replies still queued are dropped with the socket: they came too late.
void FleetSearch::EndWindow()
{
    lostReplies = KernelDrops();
    Stop();
    emit finished();
}

// The kernel counts what it dropped per socket; 0 where it cannot be asked.
int FleetSearch::KernelDrops() const
{
#if defined(Q_OS_LINUX) && defined(SO_MEMINFO)
    quint32 memory[SK_MEMINFO_VARS] = {};
    socklen_t length = sizeof memory;
    if (::getsockopt(int(socket.socketDescriptor()), SOL_SOCKET, SO_MEMINFO, memory, &length) == 0
        && length > SK_MEMINFO_DROPS * sizeof(quint32))
        return int(memory[SK_MEMINFO_DROPS]);
#endif
    return 0;
}
