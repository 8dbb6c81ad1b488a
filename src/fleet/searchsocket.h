#ifndef SEARCHSOCKET_H
#define SEARCHSOCKET_H

#include "camerarecord.h"

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

    // Binds the discovery port, shared as the window shares it. False, saying
    // why, when the port cannot be had; nothing is sent then.
    bool Open(QString *error);
    void Close();
    bool IsOpen() const { return socket.state() == QAbstractSocket::BoundState; }

    // The probe once out of every attached network.
    void SendProbes();
    int ProbesSent() const { return probesSent; }

    // About how many replies the receive buffer the kernel granted holds, and
    // how many the search asked room for.
    int RepliesHeld() const;
    static int RepliesWanted();
    // The replies the kernel has dropped so far because the buffer was full.
    int KernelDrops() const;

signals:
    // Every acceptable reply, as often as it comes.
    void replyReceived(const CameraRecord &camera);

private slots:
    void ReadReplies();

private:
    QUdpSocket socket;
    int grantedBytes = 0;
    int probesSent = 0;
};

#endif // SEARCHSOCKET_H
