#include "mqttrecorder.h"

#include "protocol.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <QTimer>

#include <mosquitto.h>
#include <mqtt_protocol.h>

namespace {

constexpr int connectTimeoutMs = 10000;
constexpr int connectRetryMs = 50;
constexpr int keepAliveSeconds = 60;

} // namespace

const char MqttRecorder::commandFilter[] = "Ordel Tool_in/#";

MqttRecorder::MqttRecorder(QObject *parent)
    : QObject(parent)
    , retryTimer(new QTimer(this))
{
    retryTimer->setInterval(connectRetryMs);
    retryTimer->setSingleShot(true);
    connect(retryTimer, &QTimer::timeout, this, &MqttRecorder::tryConnect);
}

MqttRecorder::~MqttRecorder()
{
    stop();
    if (client)
        mosquitto_destroy(client);
}

void MqttRecorder::start(const QHostAddress &broker, quint16 port)
{
    brokerAddress = broker;
    brokerPort = port;
    const QByteArray clientId
        = "camsim-recorder-" + QByteArray::number(QCoreApplication::applicationPid());
    client = mosquitto_new(clientId.constData(), true, this);
    if (!client) {
        emit failed(QStringLiteral("mosquitto_new failed"));
        return;
    }
    mosquitto_int_option(client, MOSQ_OPT_PROTOCOL_VERSION, MQTT_PROTOCOL_V5);
    mosquitto_connect_v5_callback_set(client, &MqttRecorder::onConnect);
    mosquitto_subscribe_v5_callback_set(client, &MqttRecorder::onSubscribe);
    mosquitto_message_v5_callback_set(client, &MqttRecorder::onMessage);
    mosquitto_disconnect_v5_callback_set(client, &MqttRecorder::onDisconnect);
    connectDeadline.setRemainingTime(connectTimeoutMs);
    tryConnect();
}

void MqttRecorder::stop()
{
    retryTimer->stop();
    if (!loopRunning)
        return;
    mosquitto_disconnect(client);
    mosquitto_loop_stop(client, false);
    loopRunning = false;
}

bool MqttRecorder::publishStatus(const QByteArray &payload)
{
    if (!client)
        return false;
    return mosquitto_publish_v5(client, nullptr, Protocol::updateStatusTopic, payload.size(),
               payload.constData(), statusQos, false, nullptr)
        == MOSQ_ERR_SUCCESS;
}

void MqttRecorder::tryConnect()
{
    const int result = mosquitto_connect(
        client, brokerAddress.toString().toLatin1().constData(), brokerPort, keepAliveSeconds);
    if (result == MOSQ_ERR_SUCCESS) {
        loopRunning = mosquitto_loop_start(client) == MOSQ_ERR_SUCCESS;
        if (!loopRunning)
            emit failed(QStringLiteral("cannot start the MQTT thread"));
        return;
    }
    if (connectDeadline.hasExpired()) {
        emit failed(QStringLiteral("cannot connect to the broker: %1")
                        .arg(QString::fromLocal8Bit(mosquitto_strerror(result))));
        return;
    }
    retryTimer->start();
}

void MqttRecorder::onConnect(
    mosquitto *client, void *self, int reasonCode, int, const mosquitto_property *)
{
    auto recorder = static_cast<MqttRecorder *>(self);
    if (reasonCode != 0) {
        const QString reason = QString::fromLocal8Bit(mosquitto_reason_string(reasonCode));
        QMetaObject::invokeMethod(
            recorder,
            [recorder, reason] { emit recorder->failed(QStringLiteral("CONNACK: ") + reason); },
            Qt::QueuedConnection);
        return;
    }
    mosquitto_subscribe_v5(
        client, nullptr, commandFilter, recordQos, MQTT_SUB_OPT_RETAIN_AS_PUBLISHED, nullptr);
}

void MqttRecorder::onSubscribe(
    mosquitto *, void *self, int, int count, const int *grantedQos, const mosquitto_property *)
{
    auto recorder = static_cast<MqttRecorder *>(self);
    // A code from 0x80 on refuses the subscription.
    const bool granted = count == 1 && grantedQos[0] < MQTT_RC_UNSPECIFIED;
    QMetaObject::invokeMethod(
        recorder,
        [recorder, granted] {
            if (granted)
                emit recorder->subscribed();
            else
                emit recorder->failed(QStringLiteral("the broker refused the subscription"));
        },
        Qt::QueuedConnection);
}

void MqttRecorder::onMessage(
    mosquitto *, void *self, const mosquitto_message *message, const mosquitto_property *)
{
    auto recorder = static_cast<MqttRecorder *>(self);
    const QString topic = QString::fromUtf8(message->topic);
    const QByteArray payload(static_cast<const char *>(message->payload), message->payloadlen);
    const int qos = message->qos;
    const bool retain = message->retain;
    QMetaObject::invokeMethod(
        recorder,
        [recorder, topic, payload, qos, retain] {
            emit recorder->messageReceived(topic, payload, qos, retain);
        },
        Qt::QueuedConnection);
}

void MqttRecorder::onDisconnect(mosquitto *, void *self, int reasonCode, const mosquitto_property *)
{
    auto recorder = static_cast<MqttRecorder *>(self);
    QMetaObject::invokeMethod(
        recorder, [recorder, reasonCode] { emit recorder->connectionLost(reasonCode); },
        Qt::QueuedConnection);
}
