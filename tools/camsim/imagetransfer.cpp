#include "imagetransfer.h"

#include "eventlog.h"

#include <QTcpSocket>
#include <QTimer>

#include <algorithm>

namespace {

constexpr int slowTickMs = 100;
constexpr int ticksPerSecond = 1000 / slowTickMs;

} // namespace

ImageTransfer::ImageTransfer(QTcpSocket *socket, int bytesPerSecond, qint64 dropAfterBytes,
    qint64 closeAtBytes, EventLog *log, QObject *parent)
    : QObject(parent)
    , m_socket(socket)
    , m_log(log)
    , m_hash(QCryptographicHash::Md5)
    , m_dropAfterBytes(dropAfterBytes)
    , m_closeAtBytes(closeAtBytes)
{
    m_socket->setParent(this);
    connect(m_socket, &QTcpSocket::disconnected, this, &ImageTransfer::peerClosed);
    if (bytesPerSecond > 0) {
        // Qt stops reading from the kernel once its own buffer is full, so the
        // sender feels the slowness through TCP's window.
        m_slowChunk = std::max(1, bytesPerSecond / ticksPerSecond);
        m_socket->setReadBufferSize(m_slowChunk);
        m_slowTimer = new QTimer(this);
        connect(m_slowTimer, &QTimer::timeout, this, &ImageTransfer::readSlowly);
        m_slowTimer->start(slowTickMs);
    } else {
        connect(m_socket, &QTcpSocket::readyRead, this, &ImageTransfer::readAvailable);
        QTimer::singleShot(0, this, &ImageTransfer::readAvailable);
    }
}

void ImageTransfer::readAvailable()
{
    consume(m_socket->bytesAvailable());
}

void ImageTransfer::readSlowly()
{
    consume(m_slowChunk);
    if (m_peerClosed && m_socket->bytesAvailable() == 0)
        finish();
}

void ImageTransfer::peerClosed()
{
    m_peerClosed = true;
    if (m_slowTimer)
        return;
    readAvailable();
    finish();
}

void ImageTransfer::consume(qint64 maxBytes)
{
    if (m_finished)
        return;
    if (m_dropAfterBytes >= 0)
        maxBytes = std::min(maxBytes, m_dropAfterBytes - m_received);
    const QByteArray data = m_socket->read(std::max<qint64>(maxBytes, 0));
    if (!data.isEmpty()) {
        m_received += data.size();
        m_hash.addData(data);
        m_log->write(QStringLiteral("tcp-read"), { { "bytes", data.size() } });
        emit bytesReceived(m_received);
    }
    if (m_dropAfterBytes >= 0 && m_received >= m_dropAfterBytes)
        dropConnection();
    else if (m_closeAtBytes >= 0 && m_received >= m_closeAtBytes)
        closeConnection();
}

void ImageTransfer::dropConnection()
{
    m_dropped = true;
    m_log->write(QStringLiteral("tcp-drop"), { { "after", m_received } });
    // Finished first: the abort reports the closed connection at once.
    finish();
    m_socket->abort();
}

// A camera that knows the announced size may close as soon as it has the last
// byte and start flashing. Everything was read, so the close is an orderly one.
void ImageTransfer::closeConnection()
{
    m_log->write(QStringLiteral("tcp-close"), { { "after", m_received } });
    finish();
    m_socket->close();
}

void ImageTransfer::finish()
{
    if (m_finished)
        return;
    m_finished = true;
    if (m_slowTimer)
        m_slowTimer->stop();
    emit finished();
}
