#include "broker.h"

#include "childprocess.h"
#include "eventlog.h"

#include <QFile>
#include <QHostAddress>
#include <QTcpServer>

namespace {

const char brokerProgram[] = "/usr/sbin/mosquitto";
const char configName[] = "mosquitto.conf";
constexpr int startTimeoutMs = 5000;
constexpr int stopTimeoutMs = 3000;
constexpr int keptOutputBytes = 8192;

} // namespace

Broker::Broker(EventLog *log, QObject *parent)
    : QObject(parent)
    , m_log(log)
    , m_process(new ChildProcess(this))
{
    m_process->setProcessChannelMode(QProcess::MergedChannels);
    connect(m_process, &QProcess::readyRead, this, &Broker::collectOutput);
    connect(m_process, qOverload<int, QProcess::ExitStatus>(&QProcess::finished), this,
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
    m_process->start(QString::fromLatin1(brokerProgram),
        { QStringLiteral("-c"), m_dir.filePath(QString::fromLatin1(configName)) });
    if (!m_process->waitForStarted(startTimeoutMs)) {
        *error = QStringLiteral("cannot start %1: %2")
                     .arg(QString::fromLatin1(brokerProgram), m_process->errorString());
        return false;
    }
    m_log->write(QStringLiteral("broker"), { { "pid", m_process->processId() } });
    return true;
}

void Broker::stop()
{
    if (m_process->state() == QProcess::NotRunning)
        return;
    m_stopping = true;
    m_process->terminate();
    if (!m_process->waitForFinished(stopTimeoutMs)) {
        m_process->kill();
        m_process->waitForFinished(stopTimeoutMs);
    }
}

qint64 Broker::pid() const
{
    return m_process->processId();
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
    if (!m_dir.isValid()) {
        *error = QStringLiteral("cannot create a directory for the broker's configuration");
        return false;
    }
    QFile config(m_dir.filePath(QString::fromLatin1(configName)));
    if (!config.open(QIODevice::WriteOnly)) {
        *error = QStringLiteral("cannot write %1: %2").arg(config.fileName(), config.errorString());
        return false;
    }
    // Staying root keeps the broker's parent-death signal, which a change of
    // user would clear.
    config.write(QStringLiteral("listener %1 %2\n"
                                "allow_anonymous true\n"
                                "persistence false\n"
                                "user root\n")
                     .arg(port)
                     .arg(address.toString())
                     .toLatin1());
    return true;
}

void Broker::collectOutput()
{
    m_output.append(m_process->readAll());
    if (m_output.size() > keptOutputBytes)
        m_output = m_output.right(keptOutputBytes);
}

void Broker::reportExit(int exitCode, QProcess::ExitStatus status)
{
    m_log->write(QStringLiteral("broker-exit"),
        { { "code", exitCode }, { "crashed", status == QProcess::CrashExit } });
    if (!m_stopping)
        emit exitedUnexpectedly();
}
