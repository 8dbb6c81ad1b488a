#include "simulator.h"

#include "broker.h"
#include "camerarestart.h"
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
    , options(options)
    , log(log)
    , startupTimer(new QTimer(this))
{
    startupTimer->setSingleShot(true);
    connect(startupTimer, &QTimer::timeout, this,
        [this] { failStartup(QStringLiteral("not ready within %1 ms").arg(startupTimeoutMs)); });
}

Simulator::~Simulator()
{
    delete recorder;
    delete broker;
}

bool Simulator::start(QString *error)
{
    if (!startDiscovery(error) || !startHttp(error))
        return false;
    if (!options.broker) {
        announceReady();
        return true;
    }
    startupTimer->start(startupTimeoutMs);
    return startMqtt(error);
}

void Simulator::shutDown(int exitCode)
{
    if (shuttingDown)
        return;
    shuttingDown = true;
    if (recorder)
        recorder->stop();
    if (broker)
        broker->stop();
    log->write(QStringLiteral("exit"), { { "code", exitCode } });
    QCoreApplication::exit(exitCode);
}

bool Simulator::startDiscovery(QString *error)
{
    discovery = new DiscoveryResponder(options.cameras, options.generatedCount,
        options.generatedFirst, options.floodCount, log, this);
    return discovery->start(options.bindAddress, error);
}

bool Simulator::startHttp(QString *error)
{
    if (!options.http)
        return true;
    const QByteArray name = options.cameras.isEmpty() ? CameraIdentity::generated(1).deviceName
                                                      : options.cameras.constFirst().deviceName;
    http = new HttpResponder(name, log, this);
    return http->start(options.bindAddress, error);
}

bool Simulator::startMqtt(QString *error)
{
    broker = new Broker(log);
    if (!broker->start(options.bindAddress, error))
        return false;
    connect(broker, &Broker::exitedUnexpectedly, this, [this] {
        if (!ready)
            failStartup(QStringLiteral("the broker exited: ")
                + QString::fromLocal8Bit(broker->recentOutput()));
    });

    recorder = new MqttRecorder;
    connect(recorder, &MqttRecorder::subscribed, this, &Simulator::announceReady);
    connect(recorder, &MqttRecorder::failed, this, &Simulator::failStartup);
    connect(recorder, &MqttRecorder::messageReceived, this, &Simulator::recordMessage);
    connect(recorder, &MqttRecorder::connectionLost, this, [this](int reasonCode) {
        log->write(QStringLiteral("mqtt-disconnected"), { { "rc", reasonCode } });
    });
    if (options.update) {
        updateReceiver
            = new UpdateReceiver(options.bindAddress, options.updateFaults, recorder, log, this);
        auto *restart = new CameraRestart(options, discovery, broker, log, this);
        connect(updateReceiver, &UpdateReceiver::updateSucceeded, restart, &CameraRestart::begin);
    }
    recorder->start(options.bindAddress, Broker::port);
    return true;
}

void Simulator::recordMessage(const QString &topic, const QByteArray &payload, int qos, bool retain)
{
    log->write(QStringLiteral("mqtt"),
        { { "topic", topic }, { "payload_hex", QString::fromLatin1(payload.toHex()) },
            { "payload", QString::fromUtf8(payload) }, { "qos", qos }, { "retain", retain } });
    if (updateReceiver)
        updateReceiver->handleMessage(topic, payload);
}

void Simulator::announceReady()
{
    // A reconnect after a broker restart subscribes again; ready is said once.
    if (ready)
        return;
    ready = true;
    startupTimer->stop();
    log->write(QStringLiteral("ready"));
    std::fputs("ready\n", stdout);
    std::fflush(stdout);
}

void Simulator::failStartup(const QString &reason)
{
    if (ready || shuttingDown)
        return;
    log->write(QStringLiteral("error"), { { "message", reason } });
    std::fprintf(stderr, "camsim: %s\n", qPrintable(reason));
    shutDown(1);
}
