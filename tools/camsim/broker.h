#ifndef BROKER_H
#define BROKER_H

#include "protocol.h"

#include <QByteArray>
#include <QHostAddress>
#include <QObject>
#include <QProcess>
#include <QTemporaryDir>

class ChildProcess;
class EventLog;

// The camera's MQTT broker: the real mosquitto as a child, listening on the
// camera's address only, with a configuration written for this run.
class Broker : public QObject
{
    Q_OBJECT
public:
    static constexpr quint16 port = Protocol::brokerPort;

    explicit Broker(EventLog *log, QObject *parent = nullptr);
    ~Broker() override;

    bool start(const QHostAddress &address, QString *error);
    void stop();
    qint64 pid() const;
    // The broker's last words, for explaining why it did not come up.
    QByteArray recentOutput() const { return output; }

signals:
    // The broker ended without being asked to, e.g. a test killed it.
    void exitedUnexpectedly();

private:
    static bool portIsFree(const QHostAddress &address, QString *error);
    bool writeConfig(const QHostAddress &address, QString *error);
    QString configPath() const;
    void collectOutput();
    void logConnection(const QByteArray &line);
    void reportExit(int exitCode, QProcess::ExitStatus status);

    EventLog *log;
    QTemporaryDir configDir;
    ChildProcess *process;
    QHostAddress address;
    QByteArray output;
    QByteArray partialLine;
    bool stopping = false;
};

#endif // BROKER_H
