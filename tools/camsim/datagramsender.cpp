#include "datagramsender.h"

#include <QDeadlineTimer>
#include <QHostAddress>

#include <arpa/inet.h>
#include <cerrno>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>

namespace {

// A send queue that stays full this long means the network is gone, not busy.
constexpr int giveUpAfterMs = 5000;
constexpr int writablePollMs = 100;
// Out of buffers the socket still reports writable, so only a pause helps.
constexpr int noBuffersPauseMs = 1;

} // namespace

DatagramSender::DatagramSender(int descriptor)
    : descriptor(descriptor)
{
}

bool DatagramSender::send(const QByteArray &datagram, const QHostAddress &to, quint16 port)
{
    sockaddr_in target {};
    target.sin_family = AF_INET;
    target.sin_port = htons(port);
    target.sin_addr.s_addr = htonl(to.toIPv4Address());

    QDeadlineTimer deadline(giveUpAfterMs);
    while (!deadline.hasExpired()) {
        const ssize_t sent = ::sendto(descriptor, datagram.constData(), size_t(datagram.size()), 0,
            reinterpret_cast<const sockaddr *>(&target), sizeof(target));
        if (sent == datagram.size())
            return true;
        if (sent >= 0 || !waitForRoom(errno))
            return false;
        ++retryCount;
    }
    return false;
}

bool DatagramSender::waitForRoom(int error)
{
    switch (error) {
    case EINTR:
        return true;
    case EAGAIN:
#if EAGAIN != EWOULDBLOCK
    case EWOULDBLOCK:
#endif
    {
        pollfd entry { descriptor, POLLOUT, 0 };
        return ::poll(&entry, 1, writablePollMs) >= 0 || errno == EINTR;
    }
    case ENOBUFS:
        ::poll(nullptr, 0, noBuffersPauseMs);
        return true;
    default:
        return false;
    }
}
