#ifndef UPDATERECEIVER_H
#define UPDATERECEIVER_H

#include "protocol.h"

#include "statusmessage.h"
#include "updatefaults.h"
#include "updaterequest.h"

#include <QByteArray>
#include <QHostAddress>
#include <QObject>

class EventLog;
class ImageTransfer;
class MqttRecorder;
class QTcpServer;
class QTimer;

// The camera's side of a firmware update: it takes the tool's announcement
// from MQTT, accepts one connection carrying the image, checks the image
// against the announcement and reports progress and outcome over MQTT.
class UpdateReceiver : public QObject
{
    Q_OBJECT
public:
    static constexpr quint16 port = Protocol::imagePort;

    UpdateReceiver(const QHostAddress &address, const UpdateFaults &faults, MqttRecorder *mqtt,
        EventLog *log, QObject *parent = nullptr);

    void handleMessage(const QString &topic, const QByteArray &payload);

signals:
    // The final report of a successful update went out: the camera restarts
    // into the image it was announced under that name.
    void updateSucceeded(const QString &imageFileName);

private:
    void handleRequest(const QByteArray &payload);
    void listen();
    void acceptTransfer();
    void reportProgress(qint64 received);
    void floodStatus();
    void finishTransfer();
    void succeed(const QString &fileName);
    QString imageFault() const;
    void sendStatus(StatusMessage::Type type, StatusMessage::ErrorCode errorCode, int progress,
        const QString &message);
    void publishStatus(const QByteArray &payload);

    QHostAddress address;
    UpdateFaults faults;
    MqttRecorder *mqtt;
    EventLog *log;
    QTcpServer *server;
    QTimer *listenTimer;
    ImageTransfer *transfer = nullptr;
    UpdateRequest request;
    int lastProgress = -1;
    bool statusFlooded = false;
};

#endif // UPDATERECEIVER_H
