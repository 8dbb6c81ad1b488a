#include "fleetsearch.h"

#include "discoveryprobe.h"
#include "discoveryreply.h"
#include "protocol.h"

#include <QNetworkDatagram>
#include <QVariant>

FleetSearch::FleetSearch(int windowMs, QObject *parent)
    : QObject(parent)
    , windowMs(windowMs)
{
    timer.setSingleShot(true);
    // A coarse timer may end the window up to 5 % early.
    timer.setTimerType(Qt::PreciseTimer);
    connect(&timer, &QTimer::timeout, this, [this] {
        if (step == Step::Pausing)
            SendProbes();
        else if (step == Step::Collecting)
            EndWindow();
    });
    connect(&socket, &QUdpSocket::readyRead, this, &FleetSearch::ReadReplies);
}

bool FleetSearch::Start(QString *error)
{
    // Dual-stack and shared, as the window binds it, so the two can search
    // side by side and each probe can name its IPv4 source.
    if (!socket.bind(QHostAddress::Any, Protocol::discoveryPort,
            QAbstractSocket::ShareAddress | QAbstractSocket::ReuseAddressHint)) {
        *error = QStringLiteral("cannot use UDP port %1: %2")
                     .arg(Protocol::discoveryPort)
                     .arg(socket.errorString());
        return false;
    }
    socket.setSocketOption(
        QAbstractSocket::ReceiveBufferSizeSocketOption, Protocol::searchReceiveBufferBytes);
    step = Step::Pausing;
    timer.start(Protocol::probeAfterBindMs);
    return true;
}

void FleetSearch::Stop()
{
    timer.stop();
    socket.close();
    step = Step::Done;
}

void FleetSearch::SendProbes()
{
    const QList<QNetworkDatagram> probes = DiscoveryProbe::PerNetwork();
    // Without any attached network the plain broadcast is all there is; a
    // send that fails shows as no camera found.
    if (probes.isEmpty())
        socket.writeDatagram(
            DiscoveryProbe::Bytes(), DiscoveryProbe::Broadcast(), Protocol::discoveryPort);
    for (const QNetworkDatagram &probe : probes)
        socket.writeDatagram(probe);
    step = Step::Collecting;
    windowEnd = QDeadlineTimer(windowMs, Qt::PreciseTimer);
    timer.start(windowMs);
}

void FleetSearch::ReadReplies()
{
    // A flood that keeps the socket busy must not hold the window open.
    while (step == Step::Collecting && socket.hasPendingDatagrams() && !windowEnd.hasExpired()) {
        const QStringList fields = DiscoveryReply::Read(socket.receiveDatagram().data());
        if (fields.isEmpty())
            continue;
        const CameraRecord camera = CameraRecord::FromFields(fields);
        // A camera is its address and its MAC: a second reply of one camera
        // is dropped, two cameras that claim one address are both listed.
        const QString key = camera.ip + QLatin1Char('/') + camera.mac;
        if (seen.contains(key))
            continue;
        seen.insert(key);
        cameras.append(camera);
        emit cameraFound(camera);
    }
    if (step == Step::Collecting && windowEnd.hasExpired()) {
        EndWindow();
        return;
    }
    // Anything before the probe is dropped, so the notifier does not spin.
    while (step == Step::Pausing && socket.hasPendingDatagrams())
        socket.receiveDatagram();
}

// Replies still queued are dropped with the socket: they came too late.
void FleetSearch::EndWindow()
{
    Stop();
    emit finished();
}
