#include "ordelctlrun.h"

#include "labcamera.h"
#include "updatedriver.h"

#include <QDateTime>
#include <QJsonDocument>
#include <QProcess>
#include <QRegularExpression>
#include <QTest>

#include <csignal>

namespace {

constexpr int pollIntervalMs = 20;
constexpr int killWaitMs = 5000;

} // namespace

OrdelctlRun::OrdelctlRun(const QStringList &arguments, QObject *parent)
    : QObject(parent)
    , arguments(arguments)
{
}

OrdelctlRun::~OrdelctlRun()
{
    if (process && process->state() != QProcess::NotRunning) {
        process->kill();
        process->waitForFinished(killWaitMs);
    }
}

bool OrdelctlRun::start()
{
    const QString program = qEnvironmentVariable("ORDELCTL");
    if (program.isEmpty()) {
        QTest::qFail("ORDELCTL, the program's path, is not set", __FILE__, __LINE__);
        return false;
    }
    if (qEnvironmentVariableIsEmpty("LAB_NAME")) {
        QTest::qFail("run through tools/lab/lab.sh run: the program sends the discovery probe",
            __FILE__, __LINE__);
        return false;
    }
    process = new QProcess(this);
    connect(process, &QProcess::readyReadStandardOutput, this,
        [this] { standardOutput += process->readAllStandardOutput(); });
    connect(process, &QProcess::readyReadStandardError, this,
        [this] { standardError += process->readAllStandardError(); });
    startedMs = QDateTime::currentMSecsSinceEpoch();
    process->start(program, arguments);
    if (!process->waitForStarted()) {
        QTest::qFail(
            qPrintable("cannot run ordelctl: " + process->errorString()), __FILE__, __LINE__);
        return false;
    }
    // A pipe, not a terminal: the program must not wait for an answer.
    process->closeWriteChannel();
    return true;
}

bool OrdelctlRun::run(int timeoutMs)
{
    return start() && waitForEnd(timeoutMs);
}

bool OrdelctlRun::waitForEnd(int timeoutMs)
{
    const bool ended
        = QTest::qWaitFor([this] { return process->state() == QProcess::NotRunning; }, timeoutMs);
    if (!ended) {
        process->kill();
        process->waitForFinished(killWaitMs);
    }
    standardOutput += process->readAllStandardOutput();
    standardError += process->readAllStandardError();
    elapsedMs = QDateTime::currentMSecsSinceEpoch() - startedMs;
    if (!ended)
        qWarning().noquote() << "ordelctl did not end within" << timeoutMs << "ms:" << errorText();
    // In the sanitized build a finding may end the program with a status the
    // test expects anyway; the report on standard error still fails it.
    static const QRegularExpression sanitizerReport(
        QStringLiteral("ERROR: [A-Za-z]+Sanitizer|runtime error:"));
    if (errorText().contains(sanitizerReport)) {
        QTest::qFail(
            qPrintable("sanitizer report of ordelctl:\n" + errorText()), __FILE__, __LINE__);
        return false;
    }
    return ended;
}

bool OrdelctlRun::waitFor(const std::function<bool()> &condition, int timeoutMs)
{
    return QTest::qWaitFor(
               [&] { return condition() || process->state() == QProcess::NotRunning; }, timeoutMs)
        && condition();
}

void OrdelctlRun::interrupt()
{
    ::kill(pid_t(process->processId()), SIGINT);
}

qint64 OrdelctlRun::processId() const
{
    return process ? process->processId() : 0;
}

int OrdelctlRun::exitCode() const
{
    if (!process || process->state() != QProcess::NotRunning
        || process->exitStatus() != QProcess::NormalExit)
        return -1;
    return process->exitCode();
}

QList<QJsonObject> OrdelctlRun::lines() const
{
    QList<QJsonObject> objects;
    for (const QByteArray &line : standardOutput.split('\n')) {
        if (line.isEmpty())
            continue;
        QJsonParseError error;
        const QJsonDocument document = QJsonDocument::fromJson(line, &error);
        if (!document.isObject()) {
            QTest::qFail(
                qPrintable("not a JSON object on standard output: " + line), __FILE__, __LINE__);
            return {};
        }
        objects.append(document.object());
    }
    return objects;
}

QList<QJsonObject> OrdelctlRun::finals() const
{
    QList<QJsonObject> found;
    for (const QJsonObject &line : lines()) {
        if (line.contains(QLatin1String("result")))
            found.append(line);
    }
    return found;
}

QJsonObject OrdelctlRun::finalOf(const QString &ip) const
{
    QList<QJsonObject> found;
    for (const QJsonObject &line : finals()) {
        if (line.value(QLatin1String("ip")).toString() == ip)
            found.append(line);
    }
    return found.size() == 1 ? found.constFirst() : QJsonObject();
}

QStringList OrdelctlRun::phasesOf(const QString &ip) const
{
    QStringList phases;
    for (const QJsonObject &line : lines()) {
        if (line.value(QLatin1String("ip")).toString() == ip
            && line.value(QLatin1String("event")).toString() == QLatin1String("phase"))
            phases.append(line.value(QLatin1String("phase")).toString());
    }
    return phases;
}

QString OrdelctlRun::requestFor(
    const LabCamera *camera, const QString &fileName, const QByteArray &image)
{
    // The window's request names the tool's first address; a camera on the
    // second network is told the tool's address there.
    return UpdateDriver::announcement(fileName, image)
        .replace(qEnvironmentVariable("LAB_TOOL_IP"), camera->toolAddress());
}

bool OrdelctlRun::untouched(const LabCamera *camera)
{
    return camera->events(QStringLiteral("mqtt")).isEmpty()
        && camera->events(QStringLiteral("update-request")).isEmpty()
        && camera->events(QStringLiteral("tcp-accept")).isEmpty();
}

QList<QStringList> OrdelctlRun::csvRecords(const QByteArray &bytes)
{
    const QString text = QString::fromUtf8(bytes);
    QList<QStringList> records;
    QStringList record;
    QString field;
    bool quoted = false;
    const auto after
        = [&text](int index) { return index + 1 < text.size() ? text.at(index + 1) : QChar(); };
    for (int index = 0; index < text.size(); ++index) {
        const QChar character = text.at(index);
        if (quoted) {
            if (character != QLatin1Char('"'))
                field += character;
            else if (after(index) == QLatin1Char('"'))
                field += text.at(++index);
            else
                quoted = false;
        } else if (character == QLatin1Char('"')) {
            quoted = true;
        } else if (character == QLatin1Char(',')) {
            record.append(field);
            field.clear();
        } else if (character == QLatin1Char('\r') && after(index) == QLatin1Char('\n')) {
            record.append(field);
            records.append(record);
            record.clear();
            field.clear();
            ++index;
        } else {
            field += character;
        }
    }
    return records;
}
