#ifndef SIMULATOR_H
#define SIMULATOR_H

#include "options.h"

#include <QByteArray>
#include <QObject>

class Broker;
class DiscoveryResponder;
class EventLog;
class HttpResponder;
class MqttRecorder;
class QTimer;
class UpdateReceiver;

// Everything one simulator process plays, started in order; "ready" goes out
// only when the last part listens, so a test may act at once.
class Simulator : public QObject
{
    Q_OBJECT
public:
    Simulator(const Options &options, EventLog *log, QObject *parent = nullptr);
    ~Simulator() override;

    // Starts what can start at once; the MQTT side comes up later, or ends
    // the run through a startup failure.
    bool start(QString *error);
    void shutDown(int exitCode);

private:
    bool startDiscovery(QString *error);
    bool startHttp(QString *error);
    bool startMqtt(QString *error);
    void recordMessage(const QString &topic, const QByteArray &payload, int qos, bool retain);
    void announceReady();
    void failStartup(const QString &reason);

    Options options;
    EventLog *log;
    DiscoveryResponder *discovery = nullptr;
    HttpResponder *http = nullptr;
    Broker *broker = nullptr;
    MqttRecorder *recorder = nullptr;
    UpdateReceiver *updateReceiver = nullptr;
    QTimer *startupTimer;
    bool ready = false;
    bool shuttingDown = false;
};

#endif // SIMULATOR_H
