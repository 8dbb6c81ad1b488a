#include "cameraupdate.h"

#include "camerarecord.h"
#include "descriptorbudget.h"
#include "imagesnapshot.h"
#include "localaddress.h"
#include "mqttclient.h"
#include "protocol.h"
#include "returnwatch.h"
#include "statusreport.h"
#include "updaterequest.h"

#include <QTcpSocket>

#include <iterator>

namespace {

constexpr int imageAttempts = int(std::size(Protocol::imageConnectWaitsMs));

// Qt copies whatever is written into the socket's own buffer. Handing it the
// chunk in pieces as the system takes them keeps that copy at one piece per
// camera, also when many cameras start a chunk in the same instant; the
// camera still sees the chunk as one burst. The buffer keeps one block of
// this size between uses, so a piece of it allocates nothing.
constexpr qint64 pieceBytes = 16 * 1024;

constexpr double mib = 1024.0 * 1024.0;

// The slowest a camera may take its image. A camera that takes a few bytes
// now and then never trips the stall limit, yet would hold its place among
// the cameras in flight for hours; below this rate it is as good as stuck.
// Half of 256 KiB/s, which a camera on a slow or busy link still reads, so a
// merely slow camera finishes with room to spare.
constexpr qint64 floorBytesPerSecond = 128 * 1024;
// Beyond the pauses and the image at the floor rate: the connection's slow
// start, and a camera that stops for a few seconds before it reads on.
constexpr int transferAllowanceMs = 10000;

// A camera that answered no probe for this long, while the probes went out,
// has restarted: a camera's boot takes longer, and a shorter gap is replies
// lost on the way, a busy socket, or this process stopped for a while (its
// clock ran on, but no probe went out). Until then an answer on the version
// it ran before is the firmware it is leaving.
constexpr int restartSilenceMs = 5000;
constexpr int restartSilenceRounds = restartSilenceMs / ReturnWatch::probeIntervalMs - 1;

// Each step's phase, in the order of the steps; a chunk's pause and its
// drain are one phase to a reader.
const CameraJob::PhaseName stepNames[] = {
    CameraJob::waitingPhase,
    { "broker", "connecting to the broker" },
    { "settle", "announced, the camera prepares" },
    { "connect", "connecting to the image port" },
    { "send", "sending the image" },
    { "send", "sending the image" },
    { "close", "closing the image connection" },
    { "report", "waiting for the final report" },
    { "verifying", "verifying" },
    CameraJob::donePhase,
};

} // namespace

CameraUpdate::CameraUpdate(
    const QString &ip, const ImageSnapshot *image, int reportTimeoutMs, QObject *parent)
    : CameraJob(ip, parent)
    , image(image)
    , reportTimeoutMs(reportTimeoutMs)
{
    timer.setSingleShot(true);
    // From 2000 ms up a coarse timer may fire 5 % early, which would cut the
    // camera's settle time and the connect attempts short.
    timer.setTimerType(Qt::PreciseTimer);
    connect(&timer, &QTimer::timeout, this, &CameraUpdate::TimerFired);
    transferLimit.setSingleShot(true);
    transferLimit.setTimerType(Qt::PreciseTimer);
    connect(&transferLimit, &QTimer::timeout, this, &CameraUpdate::TransferTooSlow);
}

void CameraUpdate::SetVerification(const Verification &verification)
{
    this->verification = verification;
}

void CameraUpdate::Start()
{
    // A camera whose turn comes after the file changed is not even connected
    // to: the operator means another image now.
    QString change;
    if (!image->Unchanged(&change)) {
        Fail(change);
        return;
    }
    OpenBroker();
    connect(broker, &MqttClient::disconnected, this, &CameraUpdate::BrokerLost);
    connect(broker, &MqttClient::messageReceived, this, &CameraUpdate::ReportReceived);
    // The whole second, also when the broker answers sooner.
    Enter(Step::ConnectingBroker, Protocol::brokerConnectWaitMs);
}

void CameraUpdate::Enter(Step next, int waitMs)
{
    const QString before = PhaseKey();
    step = next;
    if (waitMs >= 0)
        timer.start(waitMs);
    else
        timer.stop();
    // The end is told by finished().
    if (next != Step::Done && PhaseKey() != before)
        emit phaseChanged();
}

void CameraUpdate::TimerFired()
{
    switch (step) {
    case Step::ConnectingBroker:
        Announce();
        break;
    case Step::Settling:
        AttemptImageConnection();
        break;
    case Step::ConnectingImage:
        AttemptOver();
        break;
    case Step::Pausing:
        if (left == chunkEnd)
            ChunkLeft();
        else
            Enter(Step::Draining, Protocol::imageStallLimitMs);
        break;
    case Step::Draining:
        Fail(QStringLiteral("the camera took no image data for %1 s after %2")
                 .arg(Protocol::imageStallLimitMs / 1000)
                 .arg(SentText()));
        break;
    case Step::Closing:
        // The camera may keep its end open; every byte has left by now.
        imageSocket->abort();
        AwaitReport();
        break;
    case Step::AwaitingReport:
        Fail(QStringLiteral("no final report within %1 s").arg(reportTimeoutMs / 1000));
        break;
    case Step::Verifying:
        VerificationOver();
        break;
    case Step::Waiting:
    case Step::Done:
        break;
    }
}

void CameraUpdate::Announce()
{
    if (broker->state() != MqttClient::Connected) {
        Fail(BrokerUnreachable());
        return;
    }
    QString change;
    if (!image->Unchanged(&change)) {
        Fail(change);
        return;
    }
    // Without this host's address the camera could not reach the tool back.
    const QString localIp = LocalAddress::ForDevice(Ip());
    if (localIp.isEmpty()) {
        // Asked at once: the look-up's own sockets may be what failed to open.
        Fail(DescriptorBudget::Exhausted()
                ? DescriptorBudget::Shortage(QStringLiteral("this host's address"))
                : QStringLiteral("no address of this host reaches the camera"));
        return;
    }
    broker->subscribe(QLatin1String(Protocol::updateStatusTopic), 0);
    const QByteArray request = UpdateRequest::Build(
        localIp, image->Name(), image->Size(), image->Md5Hex(), Protocol::imageChunkSize);
    if (broker->publish(QLatin1String(Protocol::updateRequestTopic), request, 0, false) != 0) {
        Fail(QStringLiteral("the broker connection did not take the update request"));
        return;
    }
    Enter(Step::Settling, Protocol::settleWaitMs);
}

// A new attempt only once the previous one has failed; each is waited out in
// full, whenever it connects, as the window does.
void CameraUpdate::AttemptImageConnection()
{
    if (!imageSocket) {
        imageSocket = new QTcpSocket(this);
        connect(imageSocket, &QTcpSocket::bytesWritten, this, &CameraUpdate::ImageBytesWritten);
        connect(imageSocket, &QTcpSocket::disconnected, this, &CameraUpdate::ImageDisconnected);
    }
    if (imageSocket->state() == QAbstractSocket::UnconnectedState)
        imageSocket->connectToHost(
            Ip(), Protocol::imagePort, QIODevice::ReadWrite, QAbstractSocket::AnyIPProtocol);
    // A socket the system would not give fails the attempt at once; its wait
    // still leaves time for another camera to free one.
    imageShortOfDescriptors = imageSocket->state() == QAbstractSocket::UnconnectedState
        && imageSocket->error() == QAbstractSocket::SocketResourceError
        && DescriptorBudget::Exhausted();
    Enter(Step::ConnectingImage, Protocol::imageConnectWaitsMs[attempt]);
}

void CameraUpdate::AttemptOver()
{
    if (imageSocket->state() != QAbstractSocket::ConnectedState) {
        if (++attempt < imageAttempts) {
            AttemptImageConnection();
            return;
        }
        const bool refused = imageSocket->error() == QAbstractSocket::ConnectionRefusedError;
        imageSocket->abort();
        if (imageShortOfDescriptors) {
            Fail(DescriptorBudget::Shortage(QStringLiteral("the image connection")));
            return;
        }
        Fail(QStringLiteral("image port %1 %2 (%3 attempts)")
                 .arg(Protocol::imagePort)
                 .arg(refused ? QStringLiteral("refused") : QStringLiteral("did not answer"))
                 .arg(imageAttempts));
        return;
    }
    // Checked before the camera's first byte: the file on disk is what the
    // operator means to send.
    QString change;
    if (!image->Unchanged(&change)) {
        imageSocket->abort();
        Fail(change);
        return;
    }
    transferLimit.start(TransferLimitMs());
    SendChunk();
}

// Every chunk's pause, which paces even the fastest camera, the image at the
// floor rate, and the allowance.
int CameraUpdate::TransferLimitMs() const
{
    const qint64 chunks = (image->Size() + Protocol::imageChunkSize - 1) / Protocol::imageChunkSize;
    return int(chunks * Protocol::chunkPauseMs + image->Size() * 1000 / floorBytesPerSecond
        + transferAllowanceMs);
}

void CameraUpdate::SendChunk()
{
    chunkEnd = qMin(chunkEnd + Protocol::imageChunkSize, image->Size());
    Enter(Step::Pausing, Protocol::chunkPauseMs);
    FeedSocket();
}

// The next piece of the chunk, once the socket has passed the last one on.
void CameraUpdate::FeedSocket()
{
    if (queued >= chunkEnd || imageSocket->bytesToWrite() > 0)
        return;
    const qint64 length = qMin(pieceBytes, chunkEnd - queued);
    if (imageSocket->write(image->Data() + queued, length) != length) {
        Fail(QStringLiteral("image connection lost after %1").arg(SentText()));
        return;
    }
    queued += length;
}

void CameraUpdate::ImageBytesWritten()
{
    left = queued - imageSocket->bytesToWrite();
    if (step == Step::Draining)
        timer.start(Protocol::imageStallLimitMs);
    FeedSocket();
    if (step == Step::Done || left < chunkEnd)
        return;
    emit chunkSent(left, image->Size());
    // The pause is over already: the next chunk goes at once.
    if (step == Step::Draining)
        ChunkLeft();
}

// The chunk's pause is over and every byte of it has left.
void CameraUpdate::ChunkLeft()
{
    if (chunkEnd < image->Size())
        SendChunk();
    else
        CloseImage();
}

void CameraUpdate::CloseImage()
{
    transferLimit.stop();
    Enter(Step::Closing, Protocol::imageCloseWaitMs);
    // Nothing is queued any more, so the close is at once unless the camera
    // holds its end; it may also have closed it already.
    imageSocket->disconnectFromHost();
    if (step == Step::Closing && imageSocket->state() == QAbstractSocket::UnconnectedState)
        AwaitReport();
}

void CameraUpdate::AwaitReport()
{
    Enter(Step::AwaitingReport, reportTimeoutMs);
}

void CameraUpdate::ImageDisconnected()
{
    switch (step) {
    case Step::Pausing:
    case Step::Draining:
        // A camera may close as soon as it holds the announced size; only
        // bytes that never left make a failure.
        if (left < image->Size())
            Fail(QStringLiteral("image connection lost after %1").arg(SentText()));
        break;
    case Step::Closing:
        AwaitReport();
        break;
    default:
        // A refused attempt: the attempt's wait decides.
        break;
    }
}

void CameraUpdate::TransferTooSlow()
{
    if (step == Step::Pausing || step == Step::Draining)
        Fail(QStringLiteral("the camera took the image slower than %1 KiB/s: %2 in %3 s")
                 .arg(floorBytesPerSecond / 1024)
                 .arg(SentText())
                 .arg(transferLimit.interval() / 1000.0, 0, 'f', 1));
}

// Without its broker the camera's final report can never arrive. Once it
// has, the camera restarting takes its broker down with it.
void CameraUpdate::BrokerLost()
{
    if (step == Step::Verifying) {
        restarted = true;
        roundsAtBrokerLost = verification.watch->Rounds();
        CloseBroker();
        return;
    }
    if (step != Step::ConnectingBroker && step != Step::Done)
        Fail(QStringLiteral("broker connection lost before the final report"));
}

void CameraUpdate::ReportReceived(const QByteArray &payload, const QString &topic)
{
    // Once the update is done, a report can neither end nor repeat it.
    if (topic != QLatin1String(Protocol::updateStatusTopic) || step == Step::Done
        || step == Step::Verifying)
        return;
    const StatusReport report = StatusReport::Read(payload);
    account.Take(report);
    emit reportReceived(report);
    if (report.IsFailure()) {
        Fail(QStringLiteral("the camera reported error %1: %2")
                 .arg(report.errorCode, report.message));
    } else if (report.IsCompletion() && left == image->Size()) {
        // Before the last byte has left, a completion is a late report of an
        // earlier update and ends nothing.
        Succeed(report.message);
    }
}

void CameraUpdate::Succeed(const QString &message)
{
    if (!verification.watch) {
        End(CameraResult::Outcome::Succeeded, message);
        return;
    }
    if (Mac().isEmpty()) {
        Fail(QStringLiteral("the camera reported the update done, but it could not be verified: "
                            "it did not answer the search, so its MAC is unknown"));
        return;
    }
    AwaitReturn();
}

// The camera restarts now. Nothing of it stays open but, where the
// descriptors allow, its broker connection, and it holds no place among the
// cameras in flight while it is away.
void CameraUpdate::AwaitReturn()
{
    transferLimit.stop();
    CloseImageConnection();
    brokerKept = broker->state() == MqttClient::Connected
        && DescriptorBudget::MayKeep(DescriptorBudget::perBroker);
    if (!brokerKept)
        CloseBroker();
    sinceAnswer.start();
    roundsAtAnswer = verification.watch->Rounds();
    versionBefore = verification.versionBefore;
    verifyClock.start();
    Enter(Step::Verifying, verification.timeoutMs);
    verification.watch->Await(this);
    emit released();
}

bool CameraUpdate::SilentSinceLastAnswer() const
{
    return sinceAnswer.elapsed() >= restartSilenceMs
        && verification.watch->Rounds() - roundsAtAnswer >= restartSilenceRounds;
}

void CameraUpdate::TakeReply(const CameraRecord &camera)
{
    if (step != Step::Verifying || camera.mac.compare(Mac(), Qt::CaseInsensitive) != 0
        || (!verification.anyAddress && camera.ip != Ip()))
        return;
    if (camera.fw == verification.version) {
        End(CameraResult::Outcome::Succeeded,
            QStringLiteral("verified: running %1").arg(verification.version) + AddressNote(camera),
            true);
        return;
    }
    // An answer read in the round its broker went down was sent before.
    if (roundsAtBrokerLost == verification.watch->Rounds())
        return;
    // Another version than it ran before is a camera that has restarted,
    // however short the gap.
    const bool changed = !versionBefore.isEmpty() && camera.fw != versionBefore;
    restarted = restarted || changed || SilentSinceLastAnswer();
    if (restarted) {
        Fail(QStringLiteral("came back on %1, not %2").arg(camera.fw, verification.version)
            + AddressNote(camera));
        return;
    }
    versionBefore = camera.fw;
    answeredSinceReport = true;
    sinceAnswer.restart();
    roundsAtAnswer = verification.watch->Rounds();
}

// A camera given a new address on its restart (DHCP) is found by its MAC,
// if that names it alone; the operator is told where it is now.
QString CameraUpdate::AddressNote(const CameraRecord &camera) const
{
    return camera.ip == Ip() ? QString() : QStringLiteral(", now at %1").arg(camera.ip);
}

void CameraUpdate::VerificationOver()
{
    const int seconds = verification.timeoutMs / 1000;
    if (restarted || SilentSinceLastAnswer() || !answeredSinceReport)
        Fail(QStringLiteral("did not come back within %1 s").arg(seconds));
    else if (brokerKept)
        Fail(QStringLiteral("still running %1 after %2 s, not %3: it did not restart")
                 .arg(versionBefore)
                 .arg(seconds)
                 .arg(verification.version));
    else
        // A restart quicker than the silence that tells one may have gone
        // unseen.
        Fail(QStringLiteral("no restart seen in %1 s; still running %2")
                 .arg(seconds)
                 .arg(versionBefore));
}

void CameraUpdate::Fail(const QString &reason)
{
    End(CameraResult::Outcome::Failed, reason);
}

void CameraUpdate::Interrupt()
{
    if (step == Step::Done)
        return;
    QString where = QStringLiteral("interrupted while ") + PhaseText();
    if (step == Step::Pausing || step == Step::Draining)
        where += QStringLiteral(" (%1)").arg(SentText());
    End(CameraResult::Outcome::Interrupted, where);
}

void CameraUpdate::End(CameraResult::Outcome outcome, const QString &message, bool verified)
{
    if (step == Step::Verifying)
        verification.watch->Release(this);
    Enter(Step::Done, -1);
    CloseConnections();
    Finish(outcome, message, verified);
}

void CameraUpdate::CloseConnections()
{
    transferLimit.stop();
    CloseImageConnection();
    CloseBroker();
}

void CameraUpdate::CloseImageConnection()
{
    if (!imageSocket)
        return;
    imageSocket->disconnect(this);
    // Whatever is still queued would only give the camera a cut image.
    if (left == image->Size())
        imageSocket->disconnectFromHost();
    else
        imageSocket->abort();
}

QString CameraUpdate::SentText() const
{
    return QStringLiteral("%1 of %2 bytes").arg(left).arg(image->Size());
}

CameraJob::PhaseName CameraUpdate::Phase() const
{
    static_assert(std::size(stepNames) == size_t(Step::Done) + 1, "one name a step");
    return stepNames[int(step)];
}

QString CameraUpdate::Detail() const
{
    if (step == Step::Verifying) {
        const QString waited = QStringLiteral("%1 of %2 s")
                                   .arg(verifyClock.elapsed() / 1000)
                                   .arg(verification.timeoutMs / 1000);
        if (restarted || SilentSinceLastAnswer())
            return waited + QStringLiteral("  restarting");
        return waited + QStringLiteral("  not restarted yet");
    }
    QString detail = QStringLiteral("%1/%2 MiB")
                         .arg(double(left) / mib, 0, 'f', 1)
                         .arg(double(image->Size()) / mib, 0, 'f', 1);
    return detail + account.Text();
}

void CameraUpdate::CameraAccount::Take(const StatusReport &report)
{
    if (!report.readable) {
        message = QStringLiteral("unreadable report: ") + report.parseError;
    } else if (report.IsShown()) {
        message = report.message;
        if (report.MovesProgress())
            percent = report.ProgressValue();
    }
}

QString CameraUpdate::CameraAccount::Text() const
{
    QString text;
    if (percent >= 0)
        text += QStringLiteral("  camera %1%").arg(percent);
    if (!message.isEmpty())
        text += QStringLiteral("  ") + message;
    return text;
}
