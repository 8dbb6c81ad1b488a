#include "mqttclient.h"

#include <QSocketNotifier>
#include <QTimer>

#include <mosquitto.h>

#include <cerrno>

namespace {

// The library's conventional keep-alive. It also bounds a connection attempt
// the peer never answers: the library gives up after one keep-alive period.
constexpr int keepAliveSeconds = 60;

// Keep-alive pings and the give-up on a silent peer happen only inside
// mosquitto_loop_misc; without it a dead peer is never noticed.
constexpr int housekeepingIntervalMs = 1000;

void initLibraryOnce()
{
    // mosquitto_lib_init is not safe to repeat. No cleanup at exit: a client
    // destroyed during static destruction would otherwise outlive the library.
    static const int result = mosquitto_lib_init();
    Q_UNUSED(result)
}

} // namespace

MqttClient::MqttClient(QObject *parent)
    : QObject(parent)
    , housekeeping(new QTimer(this))
{
    initLibraryOnce();
    // Lets queued connections and QSignalSpy carry the state argument.
    qRegisterMetaType<MqttClient::ClientState>();
    housekeeping->setInterval(housekeepingIntervalMs);
    connect(housekeeping, &QTimer::timeout, this, &MqttClient::onHousekeeping);
}

MqttClient::~MqttClient()
{
    // No signals from here: receivers would see a half-destroyed object.
    releaseConnection(currentState == Connected);
}

void MqttClient::setHostname(const QString &hostname)
{
    host = hostname;
    endConnectionElsewhere();
}

QString MqttClient::hostname() const
{
    return host;
}

void MqttClient::setPort(quint16 port)
{
    portNumber = port;
    endConnectionElsewhere();
}

// The client always talks to the broker it was last given: a live connection
// or an attempt to another broker ends, so that nothing meant for this one
// travels over it. The next connectToHost() reaches the new broker.
void MqttClient::endConnectionElsewhere()
{
    if (currentState != Disconnected && (host != activeHost || portNumber != activePort))
        disconnectFromHost();
}

quint16 MqttClient::port() const
{
    return portNumber;
}

MqttClient::ClientState MqttClient::state() const
{
    return currentState;
}

int MqttClient::attemptError() const
{
    return attemptErrno;
}

void MqttClient::connectToHost()
{
    // Already connected or connecting to this broker: a change of broker has
    // ended the connection before.
    if (currentState != Disconnected)
        return;

    const quint64 thisAttempt = ++attempt;
    activeHost = host;
    activePort = portNumber;

    // A fresh handle per attempt: nothing of an aborted or lost connection
    // (queued packets, half-open socket) can leak into the next one.
    mosq = mosquitto_new(nullptr, true, this);
    int result = MOSQ_ERR_NOMEM;
    attemptErrno = mosq ? 0 : errno;
    if (mosq) {
        mosquitto_connect_callback_set(mosq, &MqttClient::onConnectCallback);
        mosquitto_disconnect_callback_set(mosq, &MqttClient::onDisconnectCallback);
        mosquitto_message_callback_set(mosq, &MqttClient::onMessageCallback);
        // A host name is resolved inside this call, blocking; an IP address is not.
        result = mosquitto_connect_async(
            mosq, host.toUtf8().constData(), portNumber, keepAliveSeconds);
        // Read before anything else can change it.
        attemptErrno = result == MOSQ_ERR_ERRNO ? errno : 0;
    }

    if (result == MOSQ_ERR_SUCCESS) {
        watchSocket();
        housekeeping->start();
    } else {
        // Refused at once (typical on loopback) with no callback. Still report
        // Connecting now and the fall-back later from the event loop: every
        // attempt then tells the same story, whether it fails at once or after
        // a timeout, state() agrees with the signals seen so far, and no slot
        // runs before the caller of connectToHost() has returned.
        releaseConnection(false);
        QTimer::singleShot(0, this, [this, thisAttempt] {
            if (thisAttempt == attempt && currentState == Connecting)
                enterState(Disconnected);
        });
    }
    enterState(Connecting);
}

void MqttClient::disconnectFromHost()
{
    // Invalidates a pending fall-back of a refused attempt.
    ++attempt;
    if (currentState == Disconnected)
        return;
    releaseConnection(currentState == Connected);
    enterState(Disconnected);
}

bool MqttClient::subscribe(const QString &topicFilter, quint8 qos)
{
    // Before CONNACK the broker may still refuse; a request queued then would
    // be reported as handed over and silently lost.
    if (currentState != Connected || !mosq)
        return false;
    const int result = mosquitto_subscribe(mosq, nullptr, topicFilter.toUtf8().constData(), qos);
    updateWriteNotifier();
    return result == MOSQ_ERR_SUCCESS;
}

qint32 MqttClient::publish(const QString &topic, const QByteArray &message, quint8 qos, bool retain)
{
    if (currentState != Connected || !mosq)
        return -1;
    int messageId = 0;
    const int result = mosquitto_publish(mosq, &messageId, topic.toUtf8().constData(),
        message.size(), message.constData(), qos, retain);
    updateWriteNotifier();
    if (result != MOSQ_ERR_SUCCESS)
        return -1;
    // QoS 0 has no packet identifier on the wire; the library's counter is
    // meaningless to the caller then.
    return qos == 0 ? 0 : messageId;
}

void MqttClient::onConnectCallback(mosquitto *, void *client, int result)
{
    auto *self = static_cast<MqttClient *>(client);
    self->events.append({ result == 0 ? LibraryEvent::Accepted : LibraryEvent::Closed, {}, {} });
}

void MqttClient::onDisconnectCallback(mosquitto *, void *client, int)
{
    static_cast<MqttClient *>(client)->events.append({ LibraryEvent::Closed, {}, {} });
}

void MqttClient::onMessageCallback(mosquitto *, void *client, const mosquitto_message *message)
{
    // The library frees topic and payload when the callback returns: copy.
    const QByteArray payload(static_cast<const char *>(message->payload), message->payloadlen);
    static_cast<MqttClient *>(client)->events.append(
        { LibraryEvent::Message, payload, QString::fromUtf8(message->topic) });
}

void MqttClient::onReadable()
{
    if (mosq)
        afterLoopCall(mosquitto_loop_read(mosq, 1));
}

void MqttClient::onWritable()
{
    if (mosq)
        afterLoopCall(mosquitto_loop_write(mosq, 1));
}

void MqttClient::onHousekeeping()
{
    if (mosq)
        afterLoopCall(mosquitto_loop_misc(mosq));
}

void MqttClient::afterLoopCall(int result)
{
    // An error from a loop call means the connection is gone; not every error
    // path of every library version calls the disconnect callback first.
    if (result != MOSQ_ERR_SUCCESS)
        events.append({ LibraryEvent::Closed, {}, {} });
    // The library may have closed the socket already and the number may be
    // reused; a slot run below might spin an event loop, so stop watching now.
    if (result != MOSQ_ERR_SUCCESS || mosquitto_socket(mosq) < 0)
        dropNotifiers();
    updateWriteNotifier();
    dispatchEvents();
}

void MqttClient::dispatchEvents()
{
    QPointer<MqttClient> self(this);
    // Taken one at a time from the member: a slot that disconnects clears the
    // queue, so events of the old connection are not delivered after it.
    while (self && !events.isEmpty()) {
        const LibraryEvent event = events.takeFirst();
        switch (event.kind) {
        case LibraryEvent::Accepted:
            if (currentState == Connecting)
                enterState(Connected);
            break;
        case LibraryEvent::Message:
            emit messageReceived(event.payload, event.topic);
            break;
        case LibraryEvent::Closed:
            if (currentState != Disconnected) {
                releaseConnection(false);
                enterState(Disconnected);
            }
            break;
        }
    }
}

// Emits last: a slot may delete this client, so callers must not touch
// members afterwards without a QPointer check.
void MqttClient::enterState(ClientState newState)
{
    currentState = newState;
    QPointer<MqttClient> self(this);
    emit stateChanged(newState);
    // A slot may have deleted the client or moved it on to another state.
    if (!self || currentState != newState)
        return;
    // disconnected() ends every attempt, also one that never got connected, so
    // a caller waiting for the outcome needs only connected() and this.
    if (newState == Connected)
        emit connected();
    else if (newState == Disconnected)
        emit disconnected();
}

void MqttClient::watchSocket()
{
    dropNotifiers();
    const int fd = mosquitto_socket(mosq);
    if (fd < 0)
        return;
    readNotifier = new QSocketNotifier(fd, QSocketNotifier::Read, this);
    connect(readNotifier, &QSocketNotifier::activated, this, &MqttClient::onReadable);
    writeNotifier = new QSocketNotifier(fd, QSocketNotifier::Write, this);
    connect(writeNotifier, &QSocketNotifier::activated, this, &MqttClient::onWritable);
    updateWriteNotifier();
}

void MqttClient::dropNotifiers()
{
    // Disabled at once so a reused descriptor number is not watched twice;
    // deleted later because this may run inside the notifier's own signal.
    for (QSocketNotifier *notifier : { readNotifier.data(), writeNotifier.data() }) {
        if (notifier) {
            notifier->setEnabled(false);
            notifier->deleteLater();
        }
    }
    readNotifier.clear();
    writeNotifier.clear();
}

void MqttClient::updateWriteNotifier()
{
    // A socket is nearly always writable: watching it without pending output
    // would spin the event loop.
    if (writeNotifier)
        writeNotifier->setEnabled(mosq && mosquitto_want_write(mosq));
}

void MqttClient::releaseConnection(bool sayGoodbye)
{
    housekeeping->stop();
    dropNotifiers();
    if (mosq) {
        // DISCONNECT tells the broker the end is intended. Without the library's
        // thread it is written inside this call; if the socket cannot take it
        // now, it is dropped rather than making disconnectFromHost() wait.
        if (sayGoodbye)
            mosquitto_disconnect(mosq);
        // Also aborts an attempt in progress, which mosquitto_disconnect would
        // only queue behind the CONNECT.
        mosquitto_destroy(mosq);
        mosq = nullptr;
    }
    events.clear();
}
