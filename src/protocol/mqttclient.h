#ifndef MQTTCLIENT_H
#define MQTTCLIENT_H

#include "protocol.h"

#include <QByteArray>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QVector>

class QSocketNotifier;
class QTimer;
struct mosquitto;
struct mosquitto_message;

// A small MQTT client on the GUI thread, over libmosquitto. It offers the calls
// the tool makes on a device's broker and nothing of its own: no client
// identifier, credentials, will or keep-alive beyond the library's defaults.
// The library's socket is driven by notifiers and a housekeeping timer, so no
// thread is started and every signal is emitted from the event loop.
class MqttClient : public QObject
{
    Q_OBJECT
public:
    enum ClientState { Disconnected = 0, Connecting = 1, Connected = 2 };
    Q_ENUM(ClientState)

    explicit MqttClient(QObject *parent = nullptr);
    ~MqttClient() override;

    // Another broker than the one connected or being connected ends that
    // connection (Disconnected on return); the same one changes nothing.
    void setHostname(const QString &hostname);
    QString hostname() const;
    void setPort(quint16 port);
    quint16 port() const;

    ClientState state() const;
    // The system's error number when the last attempt failed inside
    // connectToHost(), before any packet: EMFILE when the process may open
    // no more descriptors. 0 when it did not fail there.
    int attemptError() const;

    // Starts a connection to hostname():port() and returns at once; the state
    // becomes Connected or falls back to Disconnected later.
    void connectToHost();
    // Ends the connection or the attempt; the state is Disconnected on return.
    void disconnectFromHost();

    // True when the subscription request was handed to the connection.
    bool subscribe(const QString &topicFilter, quint8 qos = 0);
    // 0 when a QoS 0 message was handed to the connection, the message id for
    // QoS 1 and 2, -1 when the message could not be sent.
    qint32 publish(const QString &topic, const QByteArray &message = QByteArray(), quint8 qos = 0,
        bool retain = false);

signals:
    void stateChanged(MqttClient::ClientState state);
    void connected();
    void disconnected();
    void messageReceived(const QByteArray &message, const QString &topic);

private:
    // What a library callback reported. Callbacks run inside library calls, so
    // they only record; the signals follow once the library call has returned.
    struct LibraryEvent
    {
        enum Kind { Accepted, Closed, Message } kind;
        QByteArray payload;
        QString topic;
    };

    static void onConnectCallback(mosquitto *, void *client, int result);
    static void onDisconnectCallback(mosquitto *, void *client, int result);
    static void onMessageCallback(mosquitto *, void *client, const mosquitto_message *message);

    void onReadable();
    void onWritable();
    void onHousekeeping();
    void afterLoopCall(int result);
    void dispatchEvents();
    void enterState(ClientState newState);
    void watchSocket();
    void dropNotifiers();
    void updateWriteNotifier();
    void releaseConnection(bool sayGoodbye);
    void endConnectionElsewhere();

    mosquitto *mosq = nullptr;
    QString host;
    quint16 portNumber = Protocol::brokerPort;
    QString activeHost;
    quint16 activePort = 0;
    ClientState currentState = Disconnected;
    quint64 attempt = 0;
    int attemptErrno = 0;
    QVector<LibraryEvent> events;
    QPointer<QSocketNotifier> readNotifier;
    QPointer<QSocketNotifier> writeNotifier;
    QTimer *housekeeping = nullptr;
};

#endif // MQTTCLIENT_H
