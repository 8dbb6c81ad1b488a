#ifndef DISCOVERYRESPONDER_H
#define DISCOVERYRESPONDER_H

#include "cameraidentity.h"

#include <QByteArray>
#include <QHostAddress>
#include <QList>
#include <QObject>
#include <QVector>

class EventLog;
class QUdpSocket;

// Answers the tool's discovery probe for every simulated camera: the listed
// ones one by one, each after its own delay, then the generated crowd in one
// burst, then a flood of random datagrams if asked for.
class DiscoveryResponder : public QObject
{
    Q_OBJECT
public:
    // The crowd is generatedCount cameras numbered from generatedFirst on.
    DiscoveryResponder(const QList<CameraIdentity> &cameras, int generatedCount, int generatedFirst,
        int floodCount, EventLog *log, QObject *parent = nullptr);

    bool start(const QHostAddress &bindAddress, QString *error);

    // A listed camera that restarts: while down it still takes in probes but
    // answers none, and it may come back on another firmware version.
    void setAnswering(int cameraIndex, bool answering);
    QByteArray firmwareVersion(int cameraIndex) const;
    void setFirmwareVersion(int cameraIndex, const QByteArray &version);
    // The address the camera's replies give for it.
    void setAddress(int cameraIndex, quint32 ipv4);

private:
    void readPendingDatagrams();
    void answer(const QHostAddress &to, quint16 port);
    void replyInOrder(const QList<int> &cameraIndexes, const QHostAddress &to, quint16 port);
    void reply(const CameraIdentity &camera, const QHostAddress &to, quint16 port);
    void sendCrowd(const QHostAddress &to, quint16 port);
    void sendFlood(const QHostAddress &to, quint16 port);
    static QString endpoint(const QHostAddress &address, quint16 port);

    QList<CameraIdentity> cameras;
    QVector<bool> down;
    QVector<QByteArray> crowdReplies;
    int floodCount;
    EventLog *log;
    QUdpSocket *socket;
};

#endif // DISCOVERYRESPONDER_H
