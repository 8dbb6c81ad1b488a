#include "camerajob.h"

#include "descriptorbudget.h"
#include "mqttclient.h"
#include "protocol.h"

CameraJob::CameraJob(const QString &ip, QObject *parent)
    : QObject(parent)
    , ip(ip)
{
}

QString CameraJob::PhaseKey() const
{
    return QLatin1String(Phase().key);
}

QString CameraJob::PhaseText() const
{
    return QLatin1String(Phase().text);
}

bool CameraJob::IsWaiting() const
{
    return qstrcmp(Phase().key, waitingPhase.key) == 0;
}

QString CameraJob::Detail() const
{
    return QString();
}

void CameraJob::OpenBroker()
{
    clock.start();
    broker = new MqttClient(this);
    broker->setHostname(ip);
    broker->setPort(Protocol::brokerPort);
    broker->connectToHost();
}

void CameraJob::CloseBroker()
{
    if (!broker)
        return;
    broker->disconnect(this);
    broker->disconnectFromHost();
}

QString CameraJob::BrokerUnreachable() const
{
    if (broker && DescriptorBudget::IsShortage(broker->attemptError()))
        return DescriptorBudget::Shortage(QStringLiteral("the broker connection"));
    return QStringLiteral("broker not reachable");
}

void CameraJob::SetIdentity(const QString &mac, const QString &type)
{
    this->mac = mac;
    this->type = type;
}

void CameraJob::Finish(CameraResult::Outcome outcome, const QString &message, bool verified)
{
    if (ended)
        return;
    ended = true;
    const double seconds = clock.isValid() ? double(clock.elapsed()) / 1000 : 0;
    emit finished({ ip, outcome, message, seconds, verified, mac, type });
}
