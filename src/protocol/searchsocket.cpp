#include "searchsocket.h"

#include "discoveryprobe.h"
#include "discoveryreply.h"
#include "protocol.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QLockFile>
#include <QNetworkDatagram>
#include <QThread>
#include <QVariant>

#include <sys/socket.h>
#include <unistd.h>
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

// Searches in different network namespaces of one host (the lab's, or a
// container's) have ports of their own, so each namespace has its own turn.
QString turnFilePath()
{
    char target[64] = {};
    const ssize_t length = ::readlink("/proc/self/ns/net", target, sizeof target - 1);
    QString space = length > 0 ? QString::fromLatin1(target, int(length)) : QStringLiteral("net");
    space.remove(QLatin1Char(':')).remove(QLatin1Char('[')).remove(QLatin1Char(']'));
    return QDir(QDir::tempPath())
        .filePath(QStringLiteral("ordel-toolkits-discovery-%1.lock").arg(space));
}

} // namespace

SearchSocket::SearchSocket(QObject *parent)
    : QObject(parent)
{
    connect(&socket, &QUdpSocket::readyRead, this, &SearchSocket::ReadReplies);
}

SearchSocket::~SearchSocket() = default;

bool SearchSocket::Open(QString *error, int waitMs)
{
    if (IsOpen())
        return true;
    const QDeadlineTimer deadline(waitMs);
    if (!TakeTurn(error, waitMs))
        return false;
    if (!Bind(error, int(deadline.remainingTime()))) {
        turn.reset();
        return false;
    }
    grantedBytes = AskForBuffer(socket);
    return true;
}

bool SearchSocket::TakeTurn(QString *error, int waitMs)
{
    auto lock = std::make_unique<QLockFile>(turnFilePath());
    // A turn is held as long as its search runs, an update's verification
    // included: only a holder that has died gives it up early.
    lock->setStaleLockTime(0);
    if (lock->tryLock(qMax(waitMs, 0))) {
        turn = std::move(lock);
        return true;
    }
    qint64 holder = 0;
    QString host;
    QString program;
    if (lock->error() == QLockFile::LockFailedError && lock->getLockInfo(&holder, &host, &program))
        *error = QStringLiteral("another search of this program (process %1) holds UDP port %2 "
                                "on this network; try again once it has ended")
                     .arg(holder)
                     .arg(Protocol::discoveryPort);
    else
        *error = QStringLiteral("cannot take the search's turn in %1").arg(turnFilePath());
    return false;
}

// Dual-stack, so that each probe can name its IPv4 source. A program that
// holds the port only for its own short search is waited for.
bool SearchSocket::Bind(QString *error, int waitMs)
{
    const QDeadlineTimer deadline(qMax(waitMs, 0));
    while (!socket.bind(
        QHostAddress::Any, Protocol::discoveryPort, QAbstractSocket::DontShareAddress)) {
        if (socket.error() != QAbstractSocket::AddressInUseError || deadline.hasExpired()) {
            *error = socket.error() == QAbstractSocket::AddressInUseError
                ? QStringLiteral("another program holds UDP port %1, where the cameras answer; "
                                 "a search beside it would hear only some of them, or none")
                      .arg(Protocol::discoveryPort)
                : QStringLiteral("cannot use UDP port %1: %2")
                      .arg(Protocol::discoveryPort)
                      .arg(socket.errorString());
            return false;
        }
        QThread::msleep(bindRetryMs);
    }
    return true;
}

void SearchSocket::Close()
{
    socket.close();
    turn.reset();
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
