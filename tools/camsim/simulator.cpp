#include "simulator.h"

#include "broker.h"
#include "discoveryresponder.h"
#include "eventlog.h"
#include "httpresponder.h"
#include "mqttrecorder.h"
#include "updatereceiver.h"

#include <QCoreApplication>
#include <QTimer>

#include <cstdio>

namespace {

constexpr int startupTimeoutMs = 15000;

} // namespace

Simulator::Simulator(const Options &options, EventLog *log, QObject *parent)
    : QObject(parent)
    , m_options(options)
    , m_log(log)
    , m_startupTimer(new QTimer(this))
{
    m_startupTimer->setSingleShot(true);
    connect(m_startupTimer, &QTimer::timeout, this,
        [this] { failStartup(QStringLiteral("not ready within %1 ms").arg(startupTimeoutMs)); });
}

Simulator::~Simulator()
{
    delete m_recorder;
    delete m_broker;
}

bool Simulator::start(QString *error)
{
    if (!startDiscovery(error) || !startHttp(error))
        return false;
    if (!m_options.broker) {
        announceReady();
        return true;
    }
    m_startupTimer->start(startupTimeoutMs);
    return startMqtt(error);
}

void Simulator::shutDown(int exitCode)
{
    if (m_shuttingDown)
        return;
    m_shuttingDown = true;
    if (m_recorder)
        m_recorder->stop();
    if (m_broker)
        m_broker->stop();
    m_log->write(QStringLiteral("exit"), { { "code", exitCode } });
    QCoreApplication::exit(exitCode);
}

bool Simulator::startDiscovery(QString *error)
{
    m_discovery = new DiscoveryResponder(m_options.cameras, m_options.generatedCount,
        m_options.generatedFirst, m_options.floodCount, m_log, this);
    return m_discovery->start(m_options.bindAddress, error);
}

bool Simulator::startHttp(QString *error)
{
    if (!m_options.http)
        return true;
    const QByteArray name = m_options.cameras.isEmpty() ? CameraIdentity::generated(1).deviceName
                                                        : m_options.cameras.constFirst().deviceName;
    m_http = new HttpResponder(name, m_log, this);
    return m_http->start(m_options.bindAddress, error);
}

bool Simulator::startMqtt(QString *error)
{
    m_broker = new Broker(m_log);
    if (!m_broker->start(m_options.bindAddress, error))
        return false;
    connect(m_broker, &Broker::exitedUnexpectedly, this, [this] {
        if (!m_ready)
            failStartup(QStringLiteral("the broker exited: ")
                + QString::fromLocal8Bit(m_broker->recentOutput()));
    });

    m_recorder = new MqttRecorder;
    connect(m_recorder, &MqttRecorder::subscribed, this, &Simulator::announceReady);
    connect(m_recorder, &MqttRecorder::failed, this, &Simulator::failStartup);
    connect(m_recorder, &MqttRecorder::messageReceived, this, &Simulator::recordMessage);
    connect(m_recorder, &MqttRecorder::connectionLost, this, [this](int reasonCode) {
        m_log->write(QStringLiteral("mqtt-disconnected"), { { "rc", reasonCode } });
    });
    if (m_options.update)
        m_update = new UpdateReceiver(
            m_options.bindAddress, m_options.updateFaults, m_recorder, m_log, this);
    m_recorder->start(m_options.bindAddress, Broker::port);
    return true;
}

void Simulator::recordMessage(const QString &topic, const QByteArray &payload, int qos, bool retain)
{
    m_log->write(QStringLiteral("mqtt"),
        { { "topic", topic }, { "payload_hex", QString::fromLatin1(payload.toHex()) },
            { "payload", QString::fromUtf8(payload) }, { "qos", qos }, { "retain", retain } });
    if (m_update)
        m_update->handleMessage(topic, payload);
}

void Simulator::announceReady()
{
    // A reconnect after a broker restart subscribes again; ready is said once.
    if (m_ready)
        return;
    m_ready = true;
    m_startupTimer->stop();
    m_log->write(QStringLiteral("ready"));
    std::fputs("ready\n", stdout);
    std::fflush(stdout);
}

void Simulator::failStartup(const QString &reason)
{
    if (m_ready || m_shuttingDown)
        return;
    m_log->write(QStringLiteral("error"), { { "message", reason } });
    std::fprintf(stderr, "camsim: %s\n", qPrintable(reason));
    shutDown(1);
}
