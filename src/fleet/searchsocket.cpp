#include "searchsocket.h"

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

// Read at most this many datagrams at a time, so that a flood that keeps the
// socket busy cannot keep the event loop from the timers.
constexpr int datagramsPerRead = 1024;

} // namespace

SearchSocket::SearchSocket(QObject *parent)
    : QObject(parent)
{
    connect(&socket, &QUdpSocket::readyRead, this, &SearchSocket::ReadReplies);
}

bool SearchSocket::Open(QString *error)
{
    if (IsOpen())
        return true;
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
    return true;
}

void SearchSocket::Close()
{
    socket.close();
}

void SearchSocket::SendProbes()
{
    if (!IsOpen())
        return;
    const QList<QNetworkDatagram> probes = DiscoveryProbe::PerNetwork();
    // Without any attached network the plain broadcast is all there is; a
    // send that fails shows as no camera found.
    if (probes.isEmpty())
        socket.writeDatagram(
            DiscoveryProbe::Bytes(), DiscoveryProbe::Broadcast(), Protocol::discoveryPort);
    for (const QNetworkDatagram &probe : probes)
        socket.writeDatagram(probe);
    ++probesSent;
}

void SearchSocket::ReadReplies()
{
    for (int read = 0; read < datagramsPerRead && socket.hasPendingDatagrams(); ++read) {
        const QStringList fields = DiscoveryReply::Read(socket.receiveDatagram().data());
        if (!fields.isEmpty())
            emit replyReceived(CameraRecord::FromFields(fields));
    }
}

int SearchSocket::RepliesHeld() const
{
    return grantedBytes / Protocol::queuedReplyBytes;
}

int SearchSocket::RepliesWanted()
{
    return reportedPerAsked * Protocol::searchReceiveBufferBytes / Protocol::queuedReplyBytes;
}

// The kernel counts what it dropped per socket; 0 where it cannot be asked.
int SearchSocket::KernelDrops() const
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
