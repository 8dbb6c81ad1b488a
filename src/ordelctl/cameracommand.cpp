#include "cameracommand.h"

#include "mqttclient.h"
#include "protocol.h"

namespace {

// The window gives the connection the time its question stays open. Here
// nobody is asked, so a broker that is up answers well within this, and one
// that does not is given up instead of waiting for the system's own timeout
// of minutes.
constexpr int connectLimitMs = 5000;

} // namespace

CameraCommand::CameraCommand(
    const QString &ip, const QString &topic, const QByteArray &payload, QObject *parent)
    : CameraJob(ip, parent)
    , topic(topic)
    , payload(payload)
{
    timer.setSingleShot(true);
    connect(&timer, &QTimer::timeout, this, &CameraCommand::TimerFired);
}

void CameraCommand::Start()
{
    StartClock();
    broker = new MqttClient(this);
    connect(broker, &MqttClient::connected, this, &CameraCommand::BrokerConnected);
    connect(broker, &MqttClient::disconnected, this, &CameraCommand::BrokerLost);
    broker->setHostname(Ip());
    broker->setPort(Protocol::brokerPort);
    step = Step::Connecting;
    broker->connectToHost();
    timer.start(connectLimitMs);
    emit phaseChanged();
}

void CameraCommand::BrokerConnected()
{
    if (step != Step::Connecting)
        return;
    // The message is written inside the call; the clean disconnect follows it
    // on the same connection, so the broker takes the message first.
    const bool taken = broker->publish(topic, payload, 0, false) == 0;
    End(taken ? CameraResult::Outcome::Sent : CameraResult::Outcome::Failed,
        taken ? QStringLiteral("sent on %1").arg(topic)
              : QStringLiteral("the broker connection did not take the message"));
}

// A refused connection ends the attempt at once.
void CameraCommand::BrokerLost()
{
    if (step == Step::Connecting)
        End(CameraResult::Outcome::Failed, QStringLiteral("broker not reachable"));
}

void CameraCommand::TimerFired()
{
    if (step == Step::Connecting)
        End(CameraResult::Outcome::Failed,
            QStringLiteral("broker not reachable: no answer within %1 s")
                .arg(connectLimitMs / 1000));
}

void CameraCommand::Interrupt()
{
    if (step != Step::Done)
        End(CameraResult::Outcome::Interrupted,
            QStringLiteral("interrupted while %1").arg(PhaseText()));
}

QString CameraCommand::PhaseKey() const
{
    switch (step) {
    case Step::Waiting:
        return QStringLiteral("waiting");
    case Step::Connecting:
        return QStringLiteral("broker");
    case Step::Done:
        break;
    }
    return QStringLiteral("done");
}

QString CameraCommand::PhaseText() const
{
    switch (step) {
    case Step::Waiting:
        return QStringLiteral("waiting for its turn");
    case Step::Connecting:
        return QStringLiteral("connecting to the broker");
    case Step::Done:
        break;
    }
    return QStringLiteral("done");
}

void CameraCommand::End(CameraResult::Outcome outcome, const QString &message)
{
    timer.stop();
    step = Step::Done;
    if (broker) {
        // Ending the connection says disconnected(); that is not a lost broker.
        broker->disconnect(this);
        broker->disconnectFromHost();
    }
    Finish(outcome, message);
}
