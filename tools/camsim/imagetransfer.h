#ifndef IMAGETRANSFER_H
#define IMAGETRANSFER_H

#include <QByteArray>
#include <QCryptographicHash>
#include <QObject>

class EventLog;
class QTcpSocket;
class QTimer;

// One firmware image arriving on one connection, read until the tool closes
// it: counted and hashed, read at a throttled pace or cut short when a fault
// asks for it.
class ImageTransfer : public QObject
{
    Q_OBJECT
public:
    // A bytesPerSecond of 0 reads as fast as data comes; a dropAfterBytes
    // below 0 never drops, a closeAtBytes below 0 waits for the tool to close.
    ImageTransfer(QTcpSocket *socket, int bytesPerSecond, qint64 dropAfterBytes,
        qint64 closeAtBytes, EventLog *log, QObject *parent = nullptr);

    qint64 size() const { return received; }
    QByteArray md5Hex() const { return hash.result().toHex(); }
    bool dropped() const { return connectionDropped; }

signals:
    void bytesReceived(qint64 total);
    void finished();

private:
    void readAvailable();
    void readSlowly();
    void peerClosed();
    void consume(qint64 maxBytes);
    void dropConnection();
    void closeConnection();
    void finish();

    QTcpSocket *socket;
    EventLog *log;
    QTimer *slowTimer = nullptr;
    QCryptographicHash hash;
    qint64 received = 0;
    qint64 dropAfterBytes;
    qint64 closeAtBytes;
    qint64 slowChunk = 0;
    bool peerHasClosed = false;
    bool connectionDropped = false;
    bool finishReported = false;
};

#endif // IMAGETRANSFER_H
