#include "updatereceiver.h"

#include "eventlog.h"
#include "imagetransfer.h"
#include "mqttrecorder.h"

#include <QElapsedTimer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

#include <algorithm>
#include <sys/socket.h>

namespace {

constexpr int progressStep = 5;
constexpr int lastProgressBeforeDone = 99;
constexpr int progressDone = 100;
// Small enough that a throttled reader fills it quickly and the sender stalls.
constexpr int slowReceiveBufferBytes = 4096;

} // namespace

UpdateReceiver::UpdateReceiver(const QHostAddress &address, const UpdateFaults &faults,
    MqttRecorder *mqtt, EventLog *log, QObject *parent)
    : QObject(parent)
    , address(address)
    , faults(faults)
    , mqtt(mqtt)
    , log(log)
    , server(new QTcpServer(this))
    , listenTimer(new QTimer(this))
{
    listenTimer->setSingleShot(true);
    connect(listenTimer, &QTimer::timeout, this, &UpdateReceiver::listen);
    connect(server, &QTcpServer::newConnection, this, &UpdateReceiver::acceptTransfer);
}

void UpdateReceiver::handleMessage(const QString &topic, const QByteArray &payload)
{
    if (topic == QLatin1String(Protocol::updateRequestTopic))
        handleRequest(payload);
}

void UpdateReceiver::handleRequest(const QByteArray &payload)
{
    log->write(QStringLiteral("update-request"), { { "payload", QString::fromUtf8(payload) } });
    if (transfer) {
        log->write(QStringLiteral("update-busy"));
        return;
    }
    QString error;
    UpdateRequest announced;
    if (!UpdateRequest::Parse(payload, &announced, &error)) {
        log->write(QStringLiteral("update-invalid"), { { "reason", error } });
        return;
    }
    request = announced;
    lastProgress = -1;
    statusFlooded = false;
    if (faults.staleCompletion)
        publishStatus(StatusMessage::encode(StatusMessage::Final, StatusMessage::NoError,
            progressDone, QStringLiteral("Update succeeded"), faults));
    if (faults.noListener)
        return;
    if (faults.listenAfterMs > 0)
        listenTimer->start(faults.listenAfterMs);
    else
        listen();
}

void UpdateReceiver::listen()
{
    if (server->isListening())
        return;
    if (!server->listen(address, port)) {
        log->write(QStringLiteral("tcp-listen-failed"), { { "reason", server->errorString() } });
        return;
    }
    if (faults.slowBytesPerSecond > 0) {
        // Set before any handshake, so the advertised window scale stays small.
        const int size = slowReceiveBufferBytes;
        ::setsockopt(int(server->socketDescriptor()), SOL_SOCKET, SO_RCVBUF, &size, sizeof(size));
    }
    log->write(QStringLiteral("tcp-listen"), { { "port", port } });
}

void UpdateReceiver::acceptTransfer()
{
    QTcpSocket *socket = server->nextPendingConnection();
    if (!socket || transfer)
        return;
    // One image per announcement: later attempts are refused.
    server->close();
    log->write(QStringLiteral("tcp-accept"),
        { { "from",
            QStringLiteral("%1:%2")
                .arg(socket->peerAddress().toString())
                .arg(socket->peerPort()) } });
    if (faults.slowBytesPerSecond > 0)
        socket->setSocketOption(
            QAbstractSocket::ReceiveBufferSizeSocketOption, slowReceiveBufferBytes);
    transfer = new ImageTransfer(socket, faults.slowBytesPerSecond, faults.dropAfterBytes,
        faults.closeWhenComplete ? request.fileSize : -1, log, this);
    connect(transfer, &ImageTransfer::bytesReceived, this, &UpdateReceiver::reportProgress);
    connect(transfer, &ImageTransfer::finished, this, &UpdateReceiver::finishTransfer);
}

void UpdateReceiver::reportProgress(qint64 received)
{
    if (faults.statusFloodCount > 0 && !statusFlooded)
        floodStatus();
    const qint64 expected = request.fileSize;
    const int progress = expected > 0
        ? int(std::min<qint64>(lastProgressBeforeDone, received * 100 / expected))
        : 0;
    if (lastProgress >= 0 && progress < lastProgress + progressStep)
        return;
    lastProgress = progress;
    sendStatus(StatusMessage::Progress, StatusMessage::NoError, progress,
        QStringLiteral("Receiving firmware..."));
}

// All queued at once while the image comes in: the library's thread then
// writes them as fast as the broker takes them. One event for the lot keeps
// the log short enough for a test to read back.
void UpdateReceiver::floodStatus()
{
    statusFlooded = true;
    QElapsedTimer clock;
    clock.start();
    const int count = faults.statusFloodCount;
    int sent = 0;
    for (int n = 0; n < count; ++n) {
        const QByteArray payload
            = StatusMessage::encode(StatusMessage::Progress, StatusMessage::NoError,
                n % progressDone, QStringLiteral("Receiving firmware..."), faults);
        if (mqtt->publishStatus(payload))
            ++sent;
    }
    log->write(QStringLiteral("status-flood"),
        { { "reports", count }, { "sent", sent }, { "failed", count - sent },
            { "ms", clock.elapsed() } });
}

void UpdateReceiver::finishTransfer()
{
    const QString fault = imageFault();
    log->write(QStringLiteral("image"),
        { { "size", transfer->size() }, { "md5", QString::fromLatin1(transfer->md5Hex()) },
            { "ok", fault.isEmpty() }, { "reason", fault } });
    const int reached = std::max(lastProgress, 0);
    const bool flashFails = faults.errorReport;
    const QString fileName = request.fileName;
    // The final report comes once the image is flashed, which takes a real
    // camera seconds; a new request may come meanwhile.
    const auto report = [this, fault, reached, flashFails, fileName] {
        if (!fault.isEmpty())
            sendStatus(StatusMessage::Final, StatusMessage::ImageCheckFailed, reached,
                QStringLiteral("Image check failed"));
        else if (flashFails)
            sendStatus(StatusMessage::Final, StatusMessage::FlashWriteFailed, reached,
                QStringLiteral("Flash write error"));
        else
            succeed(fileName);
    };
    if (faults.flashMs > 0)
        QTimer::singleShot(faults.flashMs, this, report);
    else
        report();
    transfer->deleteLater();
    transfer = nullptr;
}

void UpdateReceiver::succeed(const QString &fileName)
{
    sendStatus(StatusMessage::Final, StatusMessage::NoError, progressDone,
        QStringLiteral("Update succeeded"));
    // A camera that hangs while it flashes never gets as far as its restart.
    if (!faults.silent)
        emit updateSucceeded(fileName);
}

QString UpdateReceiver::imageFault() const
{
    if (transfer->dropped())
        return QStringLiteral("connection dropped by the camera");
    if (transfer->size() != request.fileSize)
        return QStringLiteral("size %1, announced %2").arg(transfer->size()).arg(request.fileSize);
    if (transfer->md5Hex() != request.fileMd5.toLatin1().toLower())
        return QStringLiteral("md5 differs from the announced %1").arg(request.fileMd5);
    return QString();
}

void UpdateReceiver::sendStatus(StatusMessage::Type type, StatusMessage::ErrorCode errorCode,
    int progress, const QString &message)
{
    const QByteArray payload = StatusMessage::encode(type, errorCode, progress, message, faults);
    if (faults.silent) {
        log->write(
            QStringLiteral("status-withheld"), { { "payload", QString::fromUtf8(payload) } });
        return;
    }
    publishStatus(payload);
}

void UpdateReceiver::publishStatus(const QByteArray &payload)
{
    const bool sent = mqtt->publishStatus(payload);
    log->write(sent ? QStringLiteral("status") : QStringLiteral("status-failed"),
        { { "payload", QString::fromUtf8(payload) } });
}
