#include "labcamera.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QJsonDocument>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

namespace {

const char subnetPrefix[] = "198.51.100.";
const char secondSubnetPrefix[] = "203.0.113.";
constexpr int firstCameraHost = 10;
const char logName[] = "camsim.log";
// Set to keep each simulator's log directory for a look after the run.
const char keepLogsVariable[] = "LABCAMERA_KEEP_LOGS";

// lab.sh puts cameras 1 to LAB_CAMERAS on the first segment, the others on
// the second.
bool onFirstSegment(int index)
{
    return !qEnvironmentVariableIsSet("LAB_CAMERAS")
        || index <= qEnvironmentVariableIntValue("LAB_CAMERAS");
}

} // namespace

LabCamera::LabCamera(int index, const QStringList &camsimArgs, QObject *parent)
    : QObject(parent)
    , cameraIndex(index)
    , camsimArgs(camsimArgs)
{
}

LabCamera::~LabCamera()
{
    stop();
}

QString LabCamera::address(int index)
{
    return QLatin1String(onFirstSegment(index) ? subnetPrefix : secondSubnetPrefix)
        + QString::number(firstCameraHost + index);
}

QString LabCamera::toolAddress() const
{
    return qEnvironmentVariable(onFirstSegment(cameraIndex) ? "LAB_TOOL_IP" : "LAB_SECOND_TOOL_IP");
}

bool LabCamera::start(int timeoutMs)
{
    stop();
    output.clear();
    error.clear();
    if (qEnvironmentVariableIsEmpty("LAB_NAME"))
        return fail(
            QStringLiteral("LAB_NAME is not set: run the test through tools/lab/lab.sh run"));
    if (qEnvironmentVariableIsEmpty("CAMSIM"))
        return fail(QStringLiteral("CAMSIM, the simulator's path, is not set"));
    logDir = std::make_unique<QTemporaryDir>();
    logDir->setAutoRemove(qEnvironmentVariableIsEmpty(keepLogsVariable));
    if (!logDir->isValid())
        return fail(QStringLiteral("cannot create a log directory: ") + logDir->errorString());

    process = new QProcess(this);
    process->start(QStringLiteral("ip"), commandLine());
    if (!process->waitForStarted())
        return fail(QStringLiteral("cannot run ip: ") + process->errorString());
    return waitForReady(timeoutMs);
}

QStringList LabCamera::commandLine() const
{
    const QString nameSpace
        = qEnvironmentVariable("LAB_NAME") + QStringLiteral("-cam") + QString::number(cameraIndex);
    return QStringList { QStringLiteral("netns"), QStringLiteral("exec"), nameSpace,
        qEnvironmentVariable("CAMSIM"), QStringLiteral("--bind"), address(),
        QStringLiteral("--log"), logPath() }
    + camsimArgs;
}

bool LabCamera::waitForReady(int timeoutMs)
{
    QDeadlineTimer deadline(timeoutMs);
    while (!output.contains("ready\n")) {
        if (process->state() == QProcess::NotRunning)
            return fail(QStringLiteral("camsim exited early: ")
                + QString::fromLocal8Bit(process->readAllStandardError()));
        if (deadline.hasExpired())
            return fail(QStringLiteral("camsim not ready within %1 ms").arg(timeoutMs));
        QTest::qWait(pollIntervalMs);
        output += process->readAllStandardOutput();
    }
    return true;
}

bool LabCamera::fail(const QString &reason)
{
    error = QStringLiteral("camera %1: %2").arg(cameraIndex).arg(reason);
    stop();
    return false;
}

void LabCamera::stop()
{
    if (!process)
        return;
    if (process->state() != QProcess::NotRunning) {
        process->terminate();
        if (!process->waitForFinished(stopGraceMs)) {
            process->kill();
            process->waitForFinished(killWaitMs);
        }
    }
    delete process;
    process = nullptr;
}

bool LabCamera::isRunning() const
{
    return process && process->state() != QProcess::NotRunning;
}

QString LabCamera::logPath() const
{
    return logDir ? logDir->filePath(QLatin1String(logName)) : QString();
}

QList<QJsonObject> LabCamera::events(const QString &event) const
{
    QList<QJsonObject> found;
    QFile log(logPath());
    if (!log.open(QIODevice::ReadOnly))
        return found;
    const QByteArray text = log.readAll();
    // The simulator may be halfway through a line; only whole lines count.
    const QList<QByteArray> lines = text.left(text.lastIndexOf('\n') + 1).split('\n');
    for (const QByteArray &line : lines) {
        const QJsonObject object = QJsonDocument::fromJson(line).object();
        if (!object.isEmpty() && (event.isEmpty() || object.value(QLatin1String("event")) == event))
            found.append(object);
    }
    return found;
}

bool LabCamera::waitForEvent(const QString &event, int count, int timeoutMs)
{
    QDeadlineTimer deadline(timeoutMs);
    while (events(event).size() < count) {
        if (deadline.hasExpired())
            return false;
        QTest::qWait(pollIntervalMs);
    }
    return true;
}

QString LabCamera::onlyMessage(int quietMs)
{
    waitForEvent(QStringLiteral("mqtt"));
    QTest::qWait(quietMs);
    const QList<QJsonObject> messages = events(QStringLiteral("mqtt"));
    if (messages.size() != 1)
        return QStringLiteral("%1 MQTT messages").arg(messages.size());
    const QJsonObject &only = messages.constFirst();
    return message(only.value(QLatin1String("topic")).toString(),
        QByteArray::fromHex(only.value(QLatin1String("payload_hex")).toString().toLatin1()),
        only.value(QLatin1String("qos")).toInt(), only.value(QLatin1String("retain")).toBool());
}

QString LabCamera::message(const QString &topic, const QByteArray &payload, int qos, bool retain)
{
    return QStringLiteral("%1 \"%2\" qos %3%4")
        .arg(topic, QString::fromUtf8(payload))
        .arg(qos)
        .arg(retain ? QStringLiteral(" retained") : QString());
}

qint64 LabCamera::brokerPid() const
{
    const QList<QJsonObject> brokers = events(QStringLiteral("broker"));
    if (brokers.isEmpty())
        return -1;
    return brokers.constLast().value(QLatin1String("pid")).toVariant().toLongLong();
}
