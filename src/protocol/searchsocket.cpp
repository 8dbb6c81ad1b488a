#include "searchsocket.h"

#include "discoveryprobe.h"
#include "discoveryreply.h"
#include "protocol.h"

#include <QDeadlineTimer>
#include <QNetworkDatagram>
#include <QThread>
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

constexpr int bindRetryMs = 100;

} // namespace

SearchSocket::SearchSocket(QObject *parent)
    : QObject(parent)
{
    connect(&socket, &QUdpSocket::readyRead, this, &SearchSocket::ReadReplies);
}

SearchSocket::~SearchSocket()
{
    Close();
}

bool SearchSocket::Open(QString *error, int waitMs)
{
    if (IsOpen())
        return true;
    if (!Bind(error, waitMs))
        return false;
    turnFile.Claim();
    grantedBytes = AskForBuffer(socket);
    return true;
}

// Dual-stack, so that each probe can name its IPv4 source. Whoever holds the
// port, a search of any program or user, is waited for.
bool SearchSocket::Bind(QString *error, int waitMs)
{
    const QDeadlineTimer deadline(qMax(waitMs, 0));
    while (!socket.bind(
        QHostAddress::Any, Protocol::discoveryPort, QAbstractSocket::DontShareAddress)) {
        if (socket.error() != QAbstractSocket::AddressInUseError) {
            *error = QStringLiteral("cannot use UDP port %1: %2")
                         .arg(Protocol::discoveryPort)
                         .arg(socket.errorString());
            return false;
        }
        if (deadline.hasExpired()) {
            *error = WhoHoldsThePort();
            return false;
        }
        QThread::msleep(bindRetryMs);
    }
    return true;
}

QString SearchSocket::WhoHoldsThePort() const
{
    const QString holder = turnFile.Holder();
    if (holder.isEmpty())
        return QStringLiteral("another program holds UDP port %1, where the cameras answer; "
                              "a search beside it would hear only some of them, or none")
            .arg(Protocol::discoveryPort);
    return QStringLiteral("%1 holds UDP port %2 for a search on this network; try again once "
                          "it has ended")
        .arg(holder)
        .arg(Protocol::discoveryPort);
}

// The file goes first: the search that binds the port next finds it free to
// claim.
void SearchSocket::Close()
{
    turnFile.Release();
    socket.close();
}

void SearchSocket::SendProbes()
{
    if (!IsOpen())
        return;
    SendProbesFrom(socket);
    ++probesSent;
}

void SearchSocket::SendProbesFrom(QUdpSocket &socket)
{
    const QList<QNetworkDatagram> probes = DiscoveryProbe::PerNetwork();
    // Without any attached network the plain broadcast is all there is; a
    // send that fails shows as no camera found.
    if (probes.isEmpty())
        socket.writeDatagram(
            DiscoveryProbe::Bytes(), DiscoveryProbe::Broadcast(), Protocol::discoveryPort);
    for (const QNetworkDatagram &probe : probes)
        socket.writeDatagram(probe);
}

// The kernel grants no more than its limit (net.core.rmem_max on Linux) and
// says nothing when it grants less.
int SearchSocket::AskForBuffer(QUdpSocket &socket)
{
    socket.setSocketOption(
        QAbstractSocket::ReceiveBufferSizeSocketOption, Protocol::searchReceiveBufferBytes);
    return socket.socketOption(QAbstractSocket::ReceiveBufferSizeSocketOption).toInt();
}

void SearchSocket::ReadReplies()
{
    // A reply's receiver may close the socket: the last camera awaited is back.
    for (int read = 0; read < datagramsPerRead && socket.state() == QAbstractSocket::BoundState
         && socket.hasPendingDatagrams();
         ++read) {
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
