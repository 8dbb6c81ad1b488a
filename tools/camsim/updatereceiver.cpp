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
constexpr int statusQos = 0;
// Small enough that a throttled reader fills it quickly and the sender stalls.
constexpr int slowReceiveBufferBytes = 4096;

} // namespace

UpdateReceiver::UpdateReceiver(const QHostAddress &address, const UpdateFaults &faults,
    MqttRecorder *mqtt, EventLog *log, QObject *parent)
    : QObject(parent)
    , m_address(address)
    , m_faults(faults)
    , m_mqtt(mqtt)
    , m_log(log)
    , m_server(new QTcpServer(this))
    , m_listenTimer(new QTimer(this))
{
    m_listenTimer->setSingleShot(true);
    connect(m_listenTimer, &QTimer::timeout, this, &UpdateReceiver::listen);
    connect(m_server, &QTcpServer::newConnection, this, &UpdateReceiver::acceptTransfer);
}

void UpdateReceiver::handleMessage(const QString &topic, const QByteArray &payload)
{
    if (topic == QLatin1String(Protocol::updateRequestTopic))
        handleRequest(payload);
}

void UpdateReceiver::handleRequest(const QByteArray &payload)
{
    m_log->write(QStringLiteral("update-request"), { { "payload", QString::fromUtf8(payload) } });
    if (m_transfer) {
        m_log->write(QStringLiteral("update-busy"));
        return;
    }
    QString error;
    UpdateRequest request;
    if (!UpdateRequest::parse(payload, &request, &error)) {
        m_log->write(QStringLiteral("update-invalid"), { { "reason", error } });
        return;
    }
    m_request = request;
    m_lastProgress = -1;
    m_statusFlooded = false;
    if (m_faults.noListener)
        return;
    if (m_faults.listenAfterMs > 0)
        m_listenTimer->start(m_faults.listenAfterMs);
    else
        listen();
}

void UpdateReceiver::listen()
{
    if (m_server->isListening())
        return;
    if (!m_server->listen(m_address, port)) {
        m_log->write(
            QStringLiteral("tcp-listen-failed"), { { "reason", m_server->errorString() } });
        return;
    }
    if (m_faults.slowBytesPerSecond > 0) {
        // Set before any handshake, so the advertised window scale stays small.
        const int size = slowReceiveBufferBytes;
        ::setsockopt(int(m_server->socketDescriptor()), SOL_SOCKET, SO_RCVBUF, &size, sizeof(size));
    }
    m_log->write(QStringLiteral("tcp-listen"), { { "port", port } });
}

void UpdateReceiver::acceptTransfer()
{
    QTcpSocket *socket = m_server->nextPendingConnection();
    if (!socket || m_transfer)
        return;
    // One image per announcement: later attempts are refused.
    m_server->close();
    m_log->write(QStringLiteral("tcp-accept"),
        { { "from",
            QStringLiteral("%1:%2")
                .arg(socket->peerAddress().toString())
                .arg(socket->peerPort()) } });
    if (m_faults.slowBytesPerSecond > 0)
        socket->setSocketOption(
            QAbstractSocket::ReceiveBufferSizeSocketOption, slowReceiveBufferBytes);
    m_transfer = new ImageTransfer(socket, m_faults.slowBytesPerSecond, m_faults.dropAfterBytes,
        m_faults.closeWhenComplete ? m_request.fileSize : -1, m_log, this);
    connect(m_transfer, &ImageTransfer::bytesReceived, this, &UpdateReceiver::reportProgress);
    connect(m_transfer, &ImageTransfer::finished, this, &UpdateReceiver::finishTransfer);
}

void UpdateReceiver::reportProgress(qint64 received)
{
    if (m_faults.statusFloodCount > 0 && !m_statusFlooded)
        floodStatus();
    const qint64 expected = m_request.fileSize;
    const int progress = expected > 0
        ? int(std::min<qint64>(lastProgressBeforeDone, received * 100 / expected))
        : 0;
    if (m_lastProgress >= 0 && progress < m_lastProgress + progressStep)
        return;
    m_lastProgress = progress;
    sendStatus(StatusMessage::Progress, StatusMessage::NoError, progress,
        QStringLiteral("Receiving firmware..."));
}

// All queued at once while the image comes in: the library's thread then
// writes them as fast as the broker takes them. One event for the lot keeps
// the log short enough for a test to read back.
void UpdateReceiver::floodStatus()
{
    m_statusFlooded = true;
    QElapsedTimer clock;
    clock.start();
    const int count = m_faults.statusFloodCount;
    int sent = 0;
    for (int n = 0; n < count; ++n) {
        const QByteArray payload
            = StatusMessage::encode(StatusMessage::Progress, StatusMessage::NoError,
                n % progressDone, QStringLiteral("Receiving firmware..."), m_faults);
        if (m_mqtt->publish(QLatin1String(Protocol::updateStatusTopic), payload, statusQos, false))
            ++sent;
    }
    m_log->write(QStringLiteral("status-flood"),
        { { "reports", count }, { "sent", sent }, { "failed", count - sent },
            { "ms", clock.elapsed() } });
}

void UpdateReceiver::finishTransfer()
{
    const QString fault = imageFault();
    m_log->write(QStringLiteral("image"),
        { { "size", m_transfer->size() }, { "md5", QString::fromLatin1(m_transfer->md5Hex()) },
            { "ok", fault.isEmpty() }, { "reason", fault } });
    const int lastProgress = std::max(m_lastProgress, 0);
    if (!fault.isEmpty())
        sendStatus(StatusMessage::Final, StatusMessage::ImageCheckFailed, lastProgress,
            QStringLiteral("Image check failed"));
    else if (m_faults.errorReport)
        sendStatus(StatusMessage::Final, StatusMessage::FlashWriteFailed, lastProgress,
            QStringLiteral("Flash write error"));
    else
        sendStatus(StatusMessage::Final, StatusMessage::NoError, progressDone,
            QStringLiteral("Update succeeded"));
    m_transfer->deleteLater();
    m_transfer = nullptr;
}

QString UpdateReceiver::imageFault() const
{
    if (m_transfer->dropped())
        return QStringLiteral("connection dropped by the camera");
    if (m_transfer->size() != m_request.fileSize)
        return QStringLiteral("size %1, announced %2")
            .arg(m_transfer->size())
            .arg(m_request.fileSize);
    if (m_transfer->md5Hex() != m_request.fileMd5.toLatin1().toLower())
        return QStringLiteral("md5 differs from the announced %1").arg(m_request.fileMd5);
    return QString();
}

void UpdateReceiver::sendStatus(StatusMessage::Type type, StatusMessage::ErrorCode errorCode,
    int progress, const QString &message)
{
    const QByteArray payload = StatusMessage::encode(type, errorCode, progress, message, m_faults);
    const bool sent
        = m_mqtt->publish(QLatin1String(Protocol::updateStatusTopic), payload, statusQos, false);
    m_log->write(sent ? QStringLiteral("status") : QStringLiteral("status-failed"),
        { { "payload", QString::fromUtf8(payload) } });
}
