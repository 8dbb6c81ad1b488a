#include "broker.h"

#include "childprocess.h"
#include "eventlog.h"

#include <QFile>
#include <QRegularExpression>
#include <QTcpServer>

namespace {

const char brokerProgram[] = "/usr/sbin/mosquitto";
constexpr int startTimeoutMs = 5000;
constexpr int stopTimeoutMs = 3000;
constexpr int keptOutputBytes = 8192;

} // namespace

Broker::Broker(EventLog *log, QObject *parent)
    : QObject(parent)
    , log(log)
    , process(new ChildProcess(this))
{
    process->setProcessChannelMode(QProcess::MergedChannels);
    connect(process, &QProcess::readyRead, this, &Broker::collectOutput);
    connect(process, qOverload<int, QProcess::ExitStatus>(&QProcess::finished), this,
        &Broker::reportExit);
}

Broker::~Broker()
{
    stop();
}

bool Broker::start(const QHostAddress &address, QString *error)
{
    if (!portIsFree(address, error) || !writeConfig(address, error))
        return false;
    this->address = address;
    stopping = false;
    process->start(QString::fromLatin1(brokerProgram), { QStringLiteral("-c"), configPath() });
    if (!process->waitForStarted(startTimeoutMs)) {
        *error = QStringLiteral("cannot start %1: %2")
                     .arg(QString::fromLatin1(brokerProgram), process->errorString());
        return false;
    }
    log->write(QStringLiteral("broker"), { { "pid", process->processId() } });
    return true;
}

void Broker::stop()
{
    if (process->state() == QProcess::NotRunning)
        return;
    stopping = true;
    process->terminate();
    if (!process->waitForFinished(stopTimeoutMs)) {
        process->kill();
        process->waitForFinished(stopTimeoutMs);
    }
}

qint64 Broker::pid() const
{
    return process->processId();
}

bool Broker::portIsFree(const QHostAddress &address, QString *error)
{
    // Another broker on the port would take the recorder's connection and
    // make this simulator look ready while its own broker has exited.
    QTcpServer trial;
    if (trial.listen(address, port))
        return true;
    *error = QStringLiteral("TCP %1:%2 is taken: %3")
                 .arg(address.toString())
                 .arg(port)
                 .arg(trial.errorString());
    return false;
}

bool Broker::writeConfig(const QHostAddress &address, QString *error)
{
    if (!configDir.isValid()) {
        *error = QStringLiteral("cannot create a directory for the broker's configuration");
        return false;
    }
    QFile config(configPath());
    if (!config.open(QIODevice::WriteOnly)) {
        *error = QStringLiteral("cannot write %1: %2").arg(config.fileName(), config.errorString());
        return false;
    }
    // Staying root keeps the broker's parent-death signal, which a change of
    // user would clear. Its notices on standard error tell each connection.
    config.write(QStringLiteral("listener %1 %2\n"
                                "allow_anonymous true\n"
                                "persistence false\n"
                                "user root\n"
                                "log_dest stderr\n"
                                "log_type error\n"
                                "log_type warning\n"
                                "log_type notice\n"
                                "connection_messages true\n")
                     .arg(port)
                     .arg(address.toString())
                     .toLatin1());
    return true;
}

QString Broker::configPath() const
{
    return configDir.filePath(QStringLiteral("mosquitto.conf"));
}

void Broker::collectOutput()
{
    const QByteArray read = process->readAll();
    output.append(read);
    if (output.size() > keptOutputBytes)
        output = output.right(keptOutputBytes);
    partialLine.append(read);
    int end = 0;
    while ((end = partialLine.indexOf('\n')) >= 0) {
        logConnection(partialLine.left(end));
        partialLine.remove(0, end + 1);
    }
    if (partialLine.size() > keptOutputBytes)
        partialLine.clear();
}

// mosquitto notes a connection as soon as it is accepted, before any MQTT
// packet: a tool that connects and then publishes nothing shows here too.
// The camera's own recorder connects from the camera's address.
void Broker::logConnection(const QByteArray &line)
{
    static const QRegularExpression accepted(
        QStringLiteral("New connection from ([0-9.]+):([0-9]+) on port"));
    const QRegularExpressionMatch match = accepted.match(QString::fromLatin1(line));
    if (!match.hasMatch() || QHostAddress(match.captured(1)) == address)
        return;
    log->write(QStringLiteral("broker-connection"),
        { { "from", match.captured(1) + QLatin1Char(':') + match.captured(2) } });
}

void Broker::reportExit(int exitCode, QProcess::ExitStatus status)
{
    log->write(QStringLiteral("broker-exit"),
        { { "code", exitCode }, { "crashed", status == QProcess::CrashExit } });
    if (!stopping)
        emit exitedUnexpectedly();
}
