#ifndef CAMERAUPDATE_H
#define CAMERAUPDATE_H

#include "camerajob.h"

#include <QAbstractSocket>
#include <QElapsedTimer>
#include <QTimer>

class ImageSnapshot;
class QTcpSocket;
class ReturnWatch;
struct CameraRecord;
struct StatusReport;

// One camera's firmware update, on the wire exactly as the update window does
// it: the broker connection and its full second, the subscription and the
// request, the camera's five seconds, the image connection in three waited
// attempts, one chunk and its pause at a time, the close once the last byte
// has left, then the camera's final report. Each step is one phase, moved on
// by the step timer or by a socket's signal, so any number of cameras run
// side by side on one event loop. A second timer bounds the whole transfer
// by a floor rate: a camera that trickles would never trip the stall limit
// and hold its place for hours. With a verification the camera's own word is
// not the end: the update has succeeded once the camera, restarted, answers
// the search on the version the image installs.
class CameraUpdate : public CameraJob
{
    Q_OBJECT
public:
    CameraUpdate(const QString &ip, const ImageSnapshot *image, int reportTimeoutMs,
        QObject *parent = nullptr);

    // What proves the update on the camera itself: after its final report
    // it restarts, and must answer the search again with its MAC (the
    // job's identity), reporting this version: at any address when that MAC
    // names it alone, else at its own. A camera the search did not find has
    // no MAC to be known by, and cannot be verified: an address alone may
    // be answered by another camera.
    struct Verification
    {
        ReturnWatch *watch = nullptr;
        QString version;
        // What the search found it running before the update.
        QString versionBefore;
        int timeoutMs = 0;
        // No other camera of the run or the search has its MAC, nor is the
        // MAC a placeholder: DHCP may give it a new address on its restart.
        bool anyAddress = false;
    };
    // Before Start().
    void SetVerification(const Verification &verification);
    // A reply with the camera's MAC while it is awaited; from another
    // address it counts only when the MAC names this camera alone.
    void TakeReply(const CameraRecord &camera);

    void Start() override;
    void Interrupt() override;
    QString Detail() const override;

    // The image bytes that have left the tool for this camera.
    qint64 BytesSent() const { return left; }

    // The camera's own account of its update from its latest reports, as the
    // live line shows it beside the bytes sent. Whatever a camera sends ends
    // up here, so it is kept apart from the sockets to be tried on its own.
    struct CameraAccount
    {
        int percent = -1;
        QString message;

        // An unreadable report says so; a shown one gives its message, and
        // its progress when it moves; any other changes nothing.
        void Take(const StatusReport &report);
        // Empty until a report said something.
        QString Text() const;
    };

signals:
    // A whole chunk has left the tool.
    void chunkSent(qint64 bytesSent, qint64 size);
    void reportReceived(const StatusReport &report);

private slots:
    void BrokerLost();
    void TimerFired();
    void ImageBytesWritten();
    void ImageDisconnected();
    void TransferTooSlow();
    void ReportReceived(const QByteArray &payload, const QString &topic);

private:
    PhaseName Phase() const override;
    enum class Step {
        Waiting, // not started
        ConnectingBroker, // the full broker wait
        Settling, // the request is out: the camera prepares
        ConnectingImage, // an attempt's wait
        Pausing, // a chunk went into the socket: its pause
        Draining, // the pause is over, the chunk has not all left
        Closing, // the last byte has left: the connection closes
        AwaitingReport, // the image is sent: the camera's final report ends it
        Verifying, // the camera restarts: its reply with the new version ends it
        Done,
    };

    void Enter(Step next, int waitMs);
    void Announce();
    void AttemptImageConnection();
    void AttemptOver();
    int TransferLimitMs() const;
    void SendChunk();
    void FeedSocket();
    void ChunkLeft();
    void CloseImage();
    void AwaitReport();
    void Succeed(const QString &message);
    void AwaitReturn();
    void VerificationOver();
    bool SilentSinceLastAnswer() const;
    QString AddressNote(const CameraRecord &camera) const;
    void Fail(const QString &reason);
    void End(CameraResult::Outcome outcome, const QString &message, bool verified = false);
    // Nothing of the camera stays open: the transfer's bound, the image
    // connection, the broker.
    void CloseConnections();
    void CloseImageConnection();
    QString SentText() const;

    const ImageSnapshot *image;
    int reportTimeoutMs;
    Step step = Step::Waiting;
    QTimer timer;
    QTimer transferLimit;
    QTcpSocket *imageSocket = nullptr;
    int attempt = 0;
    // The latest attempt found no descriptor for its socket.
    bool imageShortOfDescriptors = false;
    // Offsets into the image: the end of the chunk being sent, what was
    // handed to the socket, and what the socket passed on to the system.
    qint64 chunkEnd = 0;
    qint64 queued = 0;
    qint64 left = 0;
    CameraAccount account;
    Verification verification;
    // Since the final report, or the camera's latest answer while awaited,
    // and the watch's probe rounds by then.
    QElapsedTimer sinceAnswer;
    int roundsAtAnswer = 0;
    QElapsedTimer verifyClock;
    // The camera was silent for a while since its final report, or answered
    // with another version than before: it restarted.
    bool restarted = false;
    // The version it answered with before it restarted, and whether it has
    // answered at all since its final report.
    QString versionBefore;
    bool answeredSinceReport = false;
    // The broker connection stays open while the camera is awaited, where
    // the descriptors allow: its end is the camera's own sign of its
    // restart, however quick. The round of probes it ended in, -1 while it
    // has not ended.
    bool brokerKept = false;
    int roundsAtBrokerLost = -1;
};

#endif // CAMERAUPDATE_H
