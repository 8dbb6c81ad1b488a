#include "ordelctlrun.h"

#include "labcamera.h"
#include "updatedriver.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QProcess>
#include <QRegularExpression>
#include <QSocketNotifier>
#include <QTest>
#include <QTimer>

#include <csignal>
#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr int pollIntervalMs = 20;
constexpr int killWaitMs = 5000;

// What the camera saw of the tool beyond the search: a connection, a message,
// a request or the image.
bool sawMoreThanTheSearch(const LabCamera *camera)
{
    for (const char *event : { "broker-connection", "mqtt", "update-request", "tcp-accept" }) {
        if (!camera->events(QLatin1String(event)).isEmpty())
            return true;
    }
    return false;
}

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
    if (heldPipe >= 0)
        ::close(heldPipe);
}

void OrdelctlRun::setOutputFile(const QString &path)
{
    outputFile = path;
}

void OrdelctlRun::holdOutput(int ms)
{
    holdMs = ms;
}

// A named pipe whose reading end the test opens first, so that the program's
// end opens at once; QProcess's own pipe it would read as soon as it could.
bool OrdelctlRun::openHeldPipe()
{
    static int made = 0;
    outputFile = QDir::temp().filePath(
        QStringLiteral("ordelctlrun-%1-%2").arg(QCoreApplication::applicationPid()).arg(++made));
    const QByteArray name = QFile::encodeName(outputFile);
    ::unlink(name.constData());
    if (::mkfifo(name.constData(), 0600) != 0) {
        QTest::qFail("cannot make the held pipe", __FILE__, __LINE__);
        return false;
    }
    heldPipe = ::open(name.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    return heldPipe >= 0;
}

void OrdelctlRun::readHeldPipe()
{
    char buffer[65536];
    ssize_t got = 0;
    while ((got = ::read(heldPipe, buffer, sizeof buffer)) > 0)
        standardOutput.append(buffer, int(got));
    if (got < 0)
        return;
    delete heldReader;
    heldReader = nullptr;
    ::close(heldPipe);
    heldPipe = -1;
}

void OrdelctlRun::setFileLimit(int limit)
{
    fileLimit = limit;
}

void OrdelctlRun::setUser(const QString &name)
{
    user = name;
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
    if (holdMs > 0 && !openHeldPipe())
        return false;
    if (!outputFile.isEmpty())
        process->setStandardOutputFile(outputFile);
    connect(process, &QProcess::readyReadStandardOutput, this,
        [this] { standardOutput += process->readAllStandardOutput(); });
    connect(process, &QProcess::readyReadStandardError, this,
        [this] { standardError += process->readAllStandardError(); });
    startedMs = QDateTime::currentMSecsSinceEpoch();
    // prlimit and setpriv change themselves and then become the program, so
    // the process id and the signals stay the program's.
    QStringList command { program };
    if (fileLimit > 0)
        command = QStringList { "prlimit", QStringLiteral("--nofile=%1:%1").arg(fileLimit), "--" }
            + command;
    if (!user.isEmpty()) {
        const passwd *account = ::getpwnam(user.toLocal8Bit().constData());
        if (!account) {
            QTest::qFail(qPrintable("no user " + user), __FILE__, __LINE__);
            return false;
        }
        command = QStringList { "setpriv", QStringLiteral("--reuid=%1").arg(account->pw_uid),
            QStringLiteral("--regid=%1").arg(account->pw_gid), "--clear-groups", "--" }
            + command;
    }
    const QString first = command.takeFirst();
    process->start(first, command + arguments);
    // Open at both ends by now; the name is no longer needed.
    if (heldPipe >= 0)
        ::unlink(QFile::encodeName(outputFile).constData());
    if (!process->waitForStarted()) {
        QTest::qFail(
            qPrintable("cannot run ordelctl: " + process->errorString()), __FILE__, __LINE__);
        return false;
    }
    // A pipe, not a terminal: the program must not wait for an answer.
    process->closeWriteChannel();
    if (heldPipe >= 0) {
        QTimer::singleShot(holdMs, this, [this] {
            if (heldPipe < 0)
                return;
            heldReader = new QSocketNotifier(heldPipe, QSocketNotifier::Read, this);
            connect(heldReader, &QSocketNotifier::activated, this, &OrdelctlRun::readHeldPipe);
            readHeldPipe();
        });
    }
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
    if (heldPipe >= 0)
        readHeldPipe();
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
    sendSignal(SIGINT);
}

void OrdelctlRun::sendSignal(int signalNumber)
{
    ::kill(pid_t(process->processId()), signalNumber);
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
    const QList<QJsonObject> found = finalsOf(ip);
    return found.size() == 1 ? found.constFirst() : QJsonObject();
}

QList<QJsonObject> OrdelctlRun::finalsOf(const QString &ip) const
{
    QList<QJsonObject> found;
    for (const QJsonObject &line : finals()) {
        if (line.value(QLatin1String("ip")).toString() == ip)
            found.append(line);
    }
    return found;
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
    return camera->events(QStringLiteral("probe")).isEmpty() && !sawMoreThanTheSearch(camera);
}

bool OrdelctlRun::onlySearched(const LabCamera *camera)
{
    return !camera->events(QStringLiteral("probe")).isEmpty() && !sawMoreThanTheSearch(camera);
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
