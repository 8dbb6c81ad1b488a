#ifndef SEARCHSOCKET_H
#define SEARCHSOCKET_H

#include "camerarecord.h"
#include "turnfile.h"

#include <QObject>
#include <QUdpSocket>

// The one socket a run searches with: the search's own probes, and later the
// probes that watch updated cameras come back. One socket for both means one
// port, one receive buffer, and one reply read once, however many parts of
// the run listen for it.
class SearchSocket : public QObject
{
    Q_OBJECT
public:
    explicit SearchSocket(QObject *parent = nullptr);
    ~SearchSocket() override;

    // Takes the discovery port for this socket alone. The cameras answer a
    // probe at the port it came from, and the system hands each such reply
    // to one of the sockets that share the port: a search that shared it
    // with another would hear some replies or none, and could not tell.
    // The port is the turn of every search on one network, whoever runs it:
    // a second one waits up to waitMs for the first to end. False, saying
    // why, when the port cannot be had in that time; nothing is sent then.
    bool Open(QString *error, int waitMs = turnWaitMs);
    void Close();
    bool IsOpen() const { return socket.state() == QAbstractSocket::BoundState; }

    // The probe once out of every attached network.
    void SendProbes();
    int ProbesSent() const { return probesSent; }

    // What every search does with its socket, this one's or another's that
    // shares the port: the probe once out of every attached network (the
    // plain broadcast where none is attached), and the receive buffer a
    // crowd's replies need, which returns what the kernel granted.
    static void SendProbesFrom(QUdpSocket &socket);
    static int AskForBuffer(QUdpSocket &socket);

    // About how many replies the receive buffer the kernel granted holds, and
    // how many the search asked room for.
    int RepliesHeld() const;
    static int RepliesWanted();
    // The replies the kernel has dropped so far because the buffer was full.
    int KernelDrops() const;

    // Long enough for another search's window to end, short enough that a
    // search beside a long update fails soon instead of hanging.
    static constexpr int turnWaitMs = 8000;

signals:
    // Every acceptable reply, as often as it comes.
    void replyReceived(const CameraRecord &camera);

private slots:
    void ReadReplies();

private:
    bool Bind(QString *error, int waitMs);
    QString WhoHoldsThePort() const;

    // Claimed while the socket is open, so that a search kept waiting can
    // name this one.
    TurnFile turnFile;
    QUdpSocket socket;
    int grantedBytes = 0;
    int probesSent = 0;
};

#endif // SEARCHSOCKET_H
