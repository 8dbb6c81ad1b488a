#ifndef DATAGRAMSENDER_H
#define DATAGRAMSENDER_H

#include <QByteArray>

class QHostAddress;

// Sends datagrams on a non-blocking UDP socket without losing any to a full
// send queue: a crowd of cameras answers one probe in a single burst, and
// every reply has to leave. When the kernel refuses for lack of room it waits
// until the socket can take more and tries again.
class DatagramSender
{
public:
    explicit DatagramSender(int descriptor);

    bool send(const QByteArray &datagram, const QHostAddress &to, quint16 port);
    int retries() const { return retryCount; }

private:
    bool waitForRoom(int error);

    int descriptor;
    int retryCount = 0;
};

#endif // DATAGRAMSENDER_H
