#include "camerarestart.h"

#include "broker.h"
#include "discoveryresponder.h"
#include "eventlog.h"
#include "options.h"

#include <QRegularExpression>
#include <QTimer>

namespace {

// Logged as the restart's length by a camera that will not come back.
constexpr int neverMs = -1;
// The final report is on its way through the broker when the camera goes
// down; the broker ends only once the report has surely reached the tool, as
// a real camera's lasts until its system stops.
constexpr int reportLeavesMs = 200;

} // namespace

CameraRestart::CameraRestart(const Options &options, DiscoveryResponder *discovery, Broker *broker,
    EventLog *log, QObject *parent)
    : QObject(parent)
    , discovery(discovery)
    , broker(broker)
    , log(log)
    , downTimer(new QTimer(this))
    , brokerDownTimer(new QTimer(this))
    , brokerAddress(options.bindAddress)
    , cameraIndex(options.updatedCameraIndex())
    , restartMs(options.restartMs)
    , installs(options.installs)
    , backOnOld(options.updateFaults.backOnOld)
    , neverBack(options.updateFaults.neverBack)
    , upAfterMs(options.updateFaults.upAfterMs)
    , backAtIpv4(options.updateFaults.backAtIpv4)
{
    downTimer->setSingleShot(true);
    // A coarse timer may end the silence early, and a tool that times the
    // restart would see a camera faster than it was told to be.
    downTimer->setTimerType(Qt::PreciseTimer);
    connect(downTimer, &QTimer::timeout, this, &CameraRestart::comeBack);
    brokerDownTimer->setSingleShot(true);
    brokerDownTimer->setInterval(reportLeavesMs);
    connect(brokerDownTimer, &QTimer::timeout, this, &CameraRestart::stopBroker);
}

void CameraRestart::begin(const QString &imageFileName)
{
    if (upAfterMs > 0) {
        log->write(QStringLiteral("up"), { { "ms", upAfterMs } });
        QTimer::singleShot(
            upAfterMs, Qt::PreciseTimer, this, [this, imageFileName] { goDown(imageFileName); });
        return;
    }
    goDown(imageFileName);
}

void CameraRestart::goDown(const QString &imageFileName)
{
    if (cameraIndex >= 0)
        discovery->setAnswering(cameraIndex, false);
    // An instant restart is a test's shortcut, and leaves the broker be.
    if (broker && (neverBack || restartMs > 0))
        brokerDownTimer->start();
    if (neverBack) {
        downTimer->stop();
        log->write(QStringLiteral("restart"), { { "ms", neverMs }, { "fw", QString() } });
        return;
    }
    comingBackOn = versionAfter(imageFileName);
    log->write(QStringLiteral("restart"),
        { { "ms", restartMs }, { "fw", QString::fromUtf8(comingBackOn) } });
    // Even an instant restart comes back from the event loop, after the
    // report's own events, as a real one would.
    downTimer->start(restartMs);
}

void CameraRestart::stopBroker()
{
    broker->stop();
}

void CameraRestart::comeBack()
{
    // Back before its broker went down: it never did.
    if (brokerDownTimer->isActive()) {
        brokerDownTimer->stop();
    } else if (broker && broker->pid() <= 0) {
        QString error;
        if (!broker->start(brokerAddress, &error))
            log->write(QStringLiteral("error"), { { "message", error } });
    }
    if (cameraIndex >= 0) {
        discovery->setFirmwareVersion(cameraIndex, comingBackOn);
        if (backAtIpv4 != 0)
            discovery->setAddress(cameraIndex, backAtIpv4);
        discovery->setAnswering(cameraIndex, true);
    }
    log->write(QStringLiteral("back"), { { "fw", QString::fromUtf8(comingBackOn) } });
}

QByteArray CameraRestart::versionAfter(const QString &imageFileName) const
{
    if (backOnOld)
        return currentVersion();
    if (!installs.isEmpty())
        return installs;
    const QByteArray named = versionIn(imageFileName);
    return named.isEmpty() ? currentVersion() : named;
}

QByteArray CameraRestart::currentVersion() const
{
    return cameraIndex >= 0 ? discovery->firmwareVersion(cameraIndex) : QByteArray();
}

QByteArray CameraRestart::versionIn(const QString &fileName)
{
    // A folder's name says nothing about the image.
    const QString name = fileName.mid(fileName.lastIndexOf(QLatin1Char('/')) + 1);
    static const QRegularExpression version(QStringLiteral("[0-9]+(?:\\.[0-9]+)+"));
    QString last;
    QRegularExpressionMatchIterator matches = version.globalMatch(name);
    while (matches.hasNext())
        last = matches.next().captured();
    return last.toUtf8();
}
