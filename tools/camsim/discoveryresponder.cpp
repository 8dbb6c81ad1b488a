#include "discoveryresponder.h"

#include "datagramsender.h"
#include "discoveryframe.h"
#include "eventlog.h"

#include <QElapsedTimer>
#include <QMap>
#include <QNetworkDatagram>
#include <QRandomGenerator>
#include <QTimer>
#include <QUdpSocket>

DiscoveryResponder::DiscoveryResponder(const QList<CameraIdentity> &cameras, int generatedCount,
    int generatedFirst, int floodCount, EventLog *log, QObject *parent)
    : QObject(parent)
    , cameras(cameras)
    , down(cameras.size(), false)
    , floodCount(floodCount)
    , log(log)
    , socket(new QUdpSocket(this))
{
    crowdReplies.reserve(generatedCount);
    for (int number = generatedFirst; number < generatedFirst + generatedCount; ++number)
        crowdReplies.append(DiscoveryFrame::reply(CameraIdentity::generated(number)));
    connect(socket, &QUdpSocket::readyRead, this, &DiscoveryResponder::readPendingDatagrams);
}

bool DiscoveryResponder::start(const QHostAddress &bindAddress, QString *error)
{
    // A broadcast probe reaches only sockets bound to the wildcard address. On
    // loopback nothing is broadcast, and binding the address itself lets
    // several simulators share one host.
    const QHostAddress listenAddress
        = bindAddress.isLoopback() ? bindAddress : QHostAddress(QHostAddress::AnyIPv4);
    if (socket->bind(listenAddress, DiscoveryFrame::port,
            QUdpSocket::ShareAddress | QUdpSocket::ReuseAddressHint))
        return true;
    *error = QStringLiteral("cannot bind UDP %1:%2: %3")
                 .arg(listenAddress.toString())
                 .arg(DiscoveryFrame::port)
                 .arg(socket->errorString());
    return false;
}

void DiscoveryResponder::setAnswering(int cameraIndex, bool answering)
{
    down[cameraIndex] = !answering;
}

QByteArray DiscoveryResponder::firmwareVersion(int cameraIndex) const
{
    return cameras.at(cameraIndex).firmwareVersion;
}

void DiscoveryResponder::setFirmwareVersion(int cameraIndex, const QByteArray &version)
{
    cameras[cameraIndex].firmwareVersion = version;
}

void DiscoveryResponder::setAddress(int cameraIndex, quint32 ipv4)
{
    cameras[cameraIndex].ipv4 = ipv4;
}

void DiscoveryResponder::readPendingDatagrams()
{
    while (socket->hasPendingDatagrams()) {
        const QNetworkDatagram datagram = socket->receiveDatagram();
        const QHostAddress sender(datagram.senderAddress().toIPv4Address());
        const quint16 port = quint16(datagram.senderPort());
        const QString from = endpoint(sender, port);
        if (!DiscoveryFrame::isProbe(datagram.data())) {
            log->write(QStringLiteral("ignored"),
                { { "from", from }, { "bytes", datagram.data().size() },
                    { "hex", QString::fromLatin1(datagram.data().toHex()) } });
            continue;
        }
        log->write(QStringLiteral("probe"), { { "from", from } });
        answer(sender, port);
    }
}

void DiscoveryResponder::answer(const QHostAddress &to, quint16 port)
{
    // Cameras of equal delay keep the order they were listed in.
    QMap<int, QList<int>> camerasByDelay;
    for (int index = 0; index < cameras.size(); ++index)
        camerasByDelay[cameras.at(index).delayMs].append(index);

    for (auto group = camerasByDelay.cbegin(); group != camerasByDelay.cend(); ++group) {
        const QList<int> indexes = group.value();
        if (group.key() == 0)
            replyInOrder(indexes, to, port);
        else
            QTimer::singleShot(
                group.key(), this, [this, indexes, to, port] { replyInOrder(indexes, to, port); });
    }
    if (!crowdReplies.isEmpty())
        sendCrowd(to, port);
    if (floodCount > 0)
        sendFlood(to, port);
}

void DiscoveryResponder::replyInOrder(
    const QList<int> &cameraIndexes, const QHostAddress &to, quint16 port)
{
    // Judged when the reply is due: a camera that went down after a probe
    // came does not answer it late.
    for (int index : cameraIndexes) {
        if (!down.at(index))
            reply(cameras.at(index), to, port);
    }
}

void DiscoveryResponder::reply(const CameraIdentity &camera, const QHostAddress &to, quint16 port)
{
    const QByteArray frame = DiscoveryFrame::reply(camera);
    const int copies = camera.fault == ReplyFault::Duplicate ? 2 : 1;
    DatagramSender sender(int(socket->socketDescriptor()));
    for (int copy = 0; copy < copies; ++copy) {
        const bool sent = sender.send(frame, to, port);
        log->write(sent ? QStringLiteral("reply") : QStringLiteral("reply-failed"),
            { { "ip", camera.ipText() }, { "to", endpoint(to, port) }, { "bytes", frame.size() },
                { "fault", camera.faultName() } });
    }
}

void DiscoveryResponder::sendCrowd(const QHostAddress &to, quint16 port)
{
    QElapsedTimer clock;
    clock.start();
    DatagramSender sender(int(socket->socketDescriptor()));
    int sent = 0;
    for (const QByteArray &frame : qAsConst(crowdReplies)) {
        if (sender.send(frame, to, port))
            ++sent;
    }
    log->write(QStringLiteral("burst"),
        { { "to", endpoint(to, port) }, { "cameras", crowdReplies.size() }, { "sent", sent },
            { "failed", crowdReplies.size() - sent }, { "retries", sender.retries() },
            { "ms", clock.elapsed() } });
}

// Made as it goes rather than beforehand: a flood is sent once, and a large
// one would otherwise sit in memory for the whole run.
void DiscoveryResponder::sendFlood(const QHostAddress &to, quint16 port)
{
    QElapsedTimer clock;
    clock.start();
    DatagramSender sender(int(socket->socketDescriptor()));
    QRandomGenerator *random = QRandomGenerator::global();
    int sent = 0;
    for (int n = 0; n < floodCount; ++n) {
        if (sender.send(DiscoveryFrame::noise(random), to, port))
            ++sent;
    }
    log->write(QStringLiteral("flood"),
        { { "to", endpoint(to, port) }, { "datagrams", floodCount }, { "sent", sent },
            { "failed", floodCount - sent }, { "retries", sender.retries() },
            { "ms", clock.elapsed() } });
}

QString DiscoveryResponder::endpoint(const QHostAddress &address, quint16 port)
{
    return QStringLiteral("%1:%2").arg(address.toString()).arg(port);
}
