#ifndef MQTTRECORDER_H
#define MQTTRECORDER_H

#include <QByteArray>
#include <QDeadlineTimer>
#include <QHostAddress>
#include <QObject>
#include <QString>

class QTimer;
struct mosquitto;
struct mosquitto_message;
typedef struct mqtt5__property mosquitto_property;

// The camera's own client on its broker: it records every message the tool
// publishes to the camera, exactly as published, and sends the camera's
// answers. The library runs its own thread; everything it reports is handed
// to this object's thread before a signal is emitted.
class MqttRecorder : public QObject
{
    Q_OBJECT
public:
    static const char commandFilter[];

    explicit MqttRecorder(QObject *parent = nullptr);
    ~MqttRecorder() override;

    // Keeps trying while the broker is still starting; ends in subscribed()
    // or failed().
    void start(const QHostAddress &broker, quint16 port);
    void stop();
    // One of the camera's reports on its update.
    bool publishStatus(const QByteArray &payload);

signals:
    void subscribed();
    void failed(const QString &reason);
    void messageReceived(const QString &topic, const QByteArray &payload, int qos, bool retain);
    void connectionLost(int reasonCode);

private:
    // Delivery up to QoS 2 and the retain flag as published let the log show
    // what the tool sent, not what the broker made of it.
    static constexpr int recordQos = 2;
    static constexpr int statusQos = 0;

    void tryConnect();

    static void onConnect(mosquitto *client, void *self, int reasonCode, int flags,
        const mosquitto_property *properties);
    static void onSubscribe(mosquitto *client, void *self, int messageId, int count,
        const int *grantedQos, const mosquitto_property *properties);
    static void onMessage(mosquitto *client, void *self, const mosquitto_message *message,
        const mosquitto_property *properties);
    static void onDisconnect(
        mosquitto *client, void *self, int reasonCode, const mosquitto_property *properties);

    mosquitto *client = nullptr;
    QTimer *retryTimer;
    QDeadlineTimer connectDeadline;
    QHostAddress brokerAddress;
    quint16 brokerPort = 0;
    bool loopRunning = false;
};

#endif // MQTTRECORDER_H
