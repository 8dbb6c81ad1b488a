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
    , socket(socket)
    , log(log)
    , hash(QCryptographicHash::Md5)
    , dropAfterBytes(dropAfterBytes)
    , closeAtBytes(closeAtBytes)
{
    socket->setParent(this);
    connect(socket, &QTcpSocket::disconnected, this, &ImageTransfer::peerClosed);
    if (bytesPerSecond > 0) {
        // Qt stops reading from the kernel once its own buffer is full, so the
        // sender feels the slowness through TCP's window.
        slowChunk = std::max(1, bytesPerSecond / ticksPerSecond);
        socket->setReadBufferSize(slowChunk);
        slowTimer = new QTimer(this);
        connect(slowTimer, &QTimer::timeout, this, &ImageTransfer::readSlowly);
        slowTimer->start(slowTickMs);
    } else {
        connect(socket, &QTcpSocket::readyRead, this, &ImageTransfer::readAvailable);
        QTimer::singleShot(0, this, &ImageTransfer::readAvailable);
    }
}

void ImageTransfer::readAvailable()
{
    consume(socket->bytesAvailable());
}

void ImageTransfer::readSlowly()
{
    consume(slowChunk);
    if (peerHasClosed && socket->bytesAvailable() == 0)
        finish();
}

void ImageTransfer::peerClosed()
{
    peerHasClosed = true;
    if (slowTimer)
        return;
    readAvailable();
    finish();
}

void ImageTransfer::consume(qint64 maxBytes)
{
    if (finishReported)
        return;
    if (dropAfterBytes >= 0)
        maxBytes = std::min(maxBytes, dropAfterBytes - received);
    const QByteArray data = socket->read(std::max<qint64>(maxBytes, 0));
    if (!data.isEmpty()) {
        received += data.size();
        hash.addData(data);
        log->write(QStringLiteral("tcp-read"), { { "bytes", data.size() } });
        emit bytesReceived(received);
    }
    if (dropAfterBytes >= 0 && received >= dropAfterBytes)
        dropConnection();
    else if (closeAtBytes >= 0 && received >= closeAtBytes)
        closeConnection();
}

void ImageTransfer::dropConnection()
{
    connectionDropped = true;
    log->write(QStringLiteral("tcp-drop"), { { "after", received } });
    // Finished first: the abort reports the closed connection at once.
    finish();
    socket->abort();
}

// A camera that knows the announced size may close as soon as it has the last
// byte and start flashing. Everything was read, so the close is an orderly one.
void ImageTransfer::closeConnection()
{
    log->write(QStringLiteral("tcp-close"), { { "after", received } });
    finish();
    socket->close();
}

void ImageTransfer::finish()
{
    if (finishReported)
        return;
    finishReported = true;
    if (slowTimer)
        slowTimer->stop();
    emit finished();
}
