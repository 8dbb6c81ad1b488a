#include "cameracommand.h"

#include "mqttclient.h"
#include "protocol.h"

#include <iterator>

namespace {

// The window gives the connection the time its question stays open. Here
// nobody is asked, so a broker that is up answers well within this, and one
// that does not is given up instead of waiting for the system's own timeout
// of minutes.
constexpr int connectLimitMs = 5000;

// Each step's phase, in the order of the steps.
const CameraJob::PhaseName stepNames[] = {
    CameraJob::waitingPhase,
    { "broker", "connecting to the broker" },
    CameraJob::donePhase,
};

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
    step = Step::Connecting;
    OpenBroker();
    // The outcome of the attempt comes from the event loop, after this.
    connect(broker, &MqttClient::connected, this, &CameraCommand::BrokerConnected);
    connect(broker, &MqttClient::disconnected, this, &CameraCommand::BrokerLost);
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
        End(CameraResult::Outcome::Failed, BrokerUnreachable());
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

CameraJob::PhaseName CameraCommand::Phase() const
{
    static_assert(std::size(stepNames) == size_t(Step::Done) + 1, "one name a step");
    return stepNames[int(step)];
}

void CameraCommand::End(CameraResult::Outcome outcome, const QString &message)
{
    timer.stop();
    step = Step::Done;
    CloseBroker();
    Finish(outcome, message);
}
