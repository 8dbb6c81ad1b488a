#include "form.h"
#include "ui_form.h"

#include "fixedwindow.h"
#include "form_workthread.h"
#include "formtcptransfer.h"
#include "localaddress.h"
#include "localwait.h"
#include "md5digest.h"
#include "mqttclient.h"
#include "protocol.h"
#include "statusreport.h"
#include "tipbox.h"
#include "updaterequest.h"

#include <QCloseEvent>
#include <QDebug>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QFileInfo>
#include <QPointer>
#include <QTcpSocket>

#include <exception>

namespace {

constexpr int paintWaitMs = 10;
// The digest pauses after each block so the window stays responsive. A block
// ends after 100 MiB, which bounds the memory a block may take, or after a
// short time, whichever comes first, so a large image never holds the window
// still for long. It is read in pieces that stay in the processor's cache
// while they are hashed.
constexpr qint64 digestBlockSize = 100 * 1024 * 1024;
constexpr int digestBlockMs = 40;
constexpr qint64 digestPieceSize = 256 * 1024;
constexpr int digestPauseMs = 1;
// How often a full socket is looked at.
constexpr int drainPollMs = 20;

} // namespace

// One step of the update on the stack. The window is never destroyed under a
// step: one closed meanwhile is only hidden, the step returns at its next
// check, and the window goes once it has.
class StepScope
{
public:
    explicit StepScope(Form *form)
        : form(form)
    {
    }
    ~StepScope()
    {
        if (form && form->phase == Form::Phase::Closing)
            form->deleteLater();
    }
    StepScope(const StepScope &) = delete;
    StepScope &operator=(const StepScope &) = delete;

private:
    QPointer<Form> form;
};

Form::Form(QString deviceIp, QString deviceMac, QString deviceSn, QWidget *parent)
    : QWidget(parent)
    , ui(new Ui::Form)
{
    ui->setupUi(this);
    FixedWindow::SetUp(this);
    // Update windows never keep the application alive on their own.
    setAttribute(Qt::WA_DeleteOnClose, true);
    setAttribute(Qt::WA_QuitOnClose, false);

    ui->label_ip_value->setText(deviceIp);
    ui->label_mac_value->setText(deviceMac);
    ui->label_sn_value->setText(deviceSn);
    ui->label_state->clear();
    this->deviceIp = deviceIp;
    localIp = LocalAddress::ForDevice(deviceIp);
    ui->lineEdit->setFocusPolicy(Qt::NoFocus);

    formWorkThread = new Form_WorkThread(nullptr);
    connect(formWorkThread, &Form_WorkThread::Camera_Updating, this, &Form::Camera_FW_Update,
        Qt::QueuedConnection);
    formTcpTransfer = new FormTcpTransfer(nullptr);
    connect(formTcpTransfer, &FormTcpTransfer::TCP_Transfer, this, &Form::Tcp_Transfer_File,
        Qt::QueuedConnection);
    mqttClient = new MqttClient(this);
    connect(mqttClient, SIGNAL(messageReceived(QByteArray, QString)), this,
        SLOT(topicMessageReceived(QByteArray, QString)));
    connect(mqttClient, &MqttClient::disconnected, this, &Form::MqttConnectionLost);
    // Update windows never keep the application alive. When the last window
    // that does closes, an update stops at once; once the application's loop
    // has ended, no step is on the stack and the window goes, closing its
    // camera's broker connection properly.
    connect(qApp, &QGuiApplication::lastWindowClosed, this, &QWidget::close);
    connect(qApp, &QCoreApplication::aboutToQuit, this, &QObject::deleteLater);
}

Form::~Form()
{
    UpdateQueue::Leave(formWorkThread);
    // Ending the connection below says disconnected(); that is the window
    // going away, not the broker, and ui is gone by then.
    if (mqttClient)
        mqttClient->disconnect(this);
    delete ui;
    delete formWorkThread;
    delete formTcpTransfer;
    if (mqttClient) {
        mqttClient->disconnectFromHost();
        delete mqttClient;
    }
}

void Form::closeEvent(QCloseEvent *event)
{
    // A step waiting in a local event loop, or queued to run, would resume on
    // a destroyed window. From here on it returns at once: nothing more is
    // published or connected.
    const bool stepPending
        = phase == Phase::Closing || (UpdateUnderway() && phase != Phase::WaitingTurn);
    phase = Phase::Closing;
    // The transfer's wait runs on for a moment after the close, and the
    // socket would go on handing its buffer to the system meanwhile: the
    // camera must get nothing that was still queued when the window closed.
    if (imageSocket)
        imageSocket->abort();
    if (!stepPending) {
        event->accept();
        return;
    }
    hide();
    event->ignore();
}

// From the operator's Yes until the update's last step has returned.
bool Form::UpdateUnderway() const
{
    switch (phase) {
    case Phase::Preparing:
    case Phase::WaitingTurn:
    case Phase::Announcing:
    case Phase::Settling:
    case Phase::Transferring:
    case Phase::Sent:
        return true;
    case Phase::Idle:
    case Phase::AwaitingReport:
    case Phase::Closing:
        break;
    }
    return false;
}

// Only then can the camera's final report be about this update: before, it
// is what the camera says of an earlier one.
bool Form::ImageSent() const
{
    return phase == Phase::Sent || phase == Phase::AwaitingReport;
}

// Done when the time has passed; Closing when the window was closed, or the
// application quit ended the wait, after which no wait would wait any more.
Form::StepResult Form::Wait(int milliseconds)
{
    if (!LocalWait::For(milliseconds))
        phase = Phase::Closing;
    return phase == Phase::Closing ? StepResult::closing() : StepResult::done();
}

// Whether the step must return now: the window is closing, or the update
// failed, which ends it with the failure's text.
bool Form::StepEnds(const StepResult &result)
{
    if (result.kind == StepResult::Failed)
        StepsReturned(result.failure);
    return result.kind != StepResult::Done;
}

void Form::ShowStatus(const QString &text)
{
    ui->label_state->setText(text);
    ui->label_state->repaint();
}

// The update's steps have returned. A failure shows its reason; otherwise an
// outcome that came meanwhile is shown again. Either gives Start back, and
// without one the camera's final report will.
void Form::StepsReturned(const QString &failure)
{
    image.Close();
    UpdateQueue::StepsReturned(formWorkThread);
    const std::optional<QString> notice
        = failure.isEmpty() ? pendingNotice : std::optional<QString>(failure);
    pendingNotice.reset();
    if (!notice) {
        phase = Phase::AwaitingReport;
        return;
    }
    UpdateQueue::CameraReleased(formWorkThread);
    phase = Phase::Idle;
    ShowStatus(*notice);
    ui->pushButton_Start->setEnabled(true);
}

// The update has an outcome, on screen now: the camera's final report, one
// that could not be read, or the broker lost. Start comes back at once, or
// once the steps still running have returned.
void Form::OutcomeArrived(const QString &shown)
{
    if (phase == Phase::Closing)
        return;
    UpdateQueue::CameraReleased(formWorkThread);
    if (UpdateUnderway()) {
        pendingNotice = shown;
        return;
    }
    phase = Phase::Idle;
    ui->pushButton_Start->setEnabled(true);
}

void Form::on_pushButton_Browser_clicked()
{
    ui->lineEdit->clear();
    ui->lineEdit->repaint();
    // Not run in an event loop of its own, like the boxes: see TipBox.
    auto *dialog = new QFileDialog(
        this, tr("Please select a bin file"), QStringLiteral("."), QStringLiteral("*.bin"));
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setFileMode(QFileDialog::ExistingFile);
    connect(dialog, &QFileDialog::finished, this, [this, dialog](int result) {
        ImageChosen(result == QDialog::Accepted ? dialog->selectedFiles().value(0) : QString());
    });
    dialog->open();
}

// A cancelled choice is an empty path, which replaces any earlier one. An
// update underway goes on with the image it opened; this choice waits for the
// next Start.
void Form::ImageChosen(const QString &path)
{
    filePath = path;
    ui->lineEdit->setText(filePath);
    const QFileInfo info(filePath);
    fileName = filePath.isEmpty() ? QString() : info.fileName();
    fileSize = filePath.isEmpty() ? 0 : info.size();
}

void Form::on_pushButton_Start_clicked()
{
    if (phase != Phase::Idle)
        return;
    if (ui->lineEdit->text().isEmpty()) {
        TipBox::Open(
            this, QMessageBox::Information, tr("Please select a bin file"), QMessageBox::Ok);
        return;
    }
    QMessageBox *question = TipBox::Open(this, QMessageBox::Question, tr("Do you want to update?"),
        QMessageBox::Yes | QMessageBox::No);
    connect(question, &QMessageBox::finished, this, [this](int answer) {
        if (answer == QMessageBox::Yes)
            UpdateConfirmed();
    });
}

void Form::UpdateConfirmed()
{
    if (phase != Phase::Idle)
        return;
    StepScope step(this);
    phase = Phase::Preparing;
    // Taken now, once: a file that is no image (gone, not a regular file) is
    // found out when the request is built, and fails the update there.
    image.Open(filePath);
    pendingNotice.reset();
    // In line from the Yes: the preparation below waits, and another window's
    // Yes handled meanwhile must not overtake this one.
    UpdateQueue::Join(formWorkThread, deviceIp,
        [this](UpdateQueue::Waiting waiting) { WaitingForTurn(waiting); });
    try {
        ui->pushButton_Start->setEnabled(false);
        ui->pushButton_Start->repaint();
        ui->progressBar->setValue(0);
        ui->label_state->clear();
        // Lets the cleared widgets, then the new text, reach the screen before
        // the exchange begins.
        if (Wait(paintWaitMs).kind == StepResult::Closing)
            return;
        ShowStatus(tr("Preparation is starting, please wait a moment..."));
        if (Wait(paintWaitMs).kind == StepResult::Closing)
            return;
        UpdateQueue::Ready(formWorkThread);
    } catch (const std::exception &error) {
        StepsReturned(QString::fromLocal8Bit(error.what()));
    }
}

void Form::WaitingForTurn(UpdateQueue::Waiting waiting)
{
    if (phase != Phase::Preparing && phase != Phase::WaitingTurn)
        return;
    phase = Phase::WaitingTurn;
    ShowStatus(waiting == UpdateQueue::Waiting::ForCamera
            ? tr("Waiting for this camera's previous update...")
            : tr("Waiting for another camera's update..."));
}

void Form::Camera_FW_Update()
{
    StepScope step(this);
    if (phase == Phase::Closing)
        return;
    try {
        if (phase == Phase::WaitingTurn)
            ShowStatus(tr("Preparation is starting, please wait a moment..."));
        phase = Phase::Announcing;
        // Nothing heard before this update's request can be about it.
        pendingNotice.reset();
        mqttClient->setHostname(deviceIp);
        mqttClient->setPort(Protocol::brokerPort);
        if (mqttClient->state() == MqttClient::Disconnected)
            mqttClient->connectToHost();
        if (StepEnds(Wait(Protocol::brokerConnectWaitMs)))
            return;
        if (mqttClient->state() != MqttClient::Connected) {
            StepsReturned(tr("Mqtt Connect Failed"));
            return;
        }

        mqttClient->subscribe(QLatin1String(Protocol::updateStatusTopic), 0);
        QByteArray request;
        // The digest pauses, so the image may have been written to after its
        // last piece: the request announces only the file opened at the Yes.
        if (StepEnds(BuildRequest(image, &request)) || StepEnds(ImageUnchanged()))
            return;
        if (mqttClient->publish(QLatin1String(Protocol::updateRequestTopic), request, 0, false)
            != 0) {
            StepsReturned(tr("Mqtt Publish Failed"));
            return;
        }
        phase = Phase::Settling;

        if (StepEnds(Wait(Protocol::settleWaitMs)))
            return;
        phase = Phase::Transferring;
        formTcpTransfer->Start_TCP_Transfer();
    } catch (const std::exception &error) {
        StepsReturned(QString::fromLocal8Bit(error.what()));
    }
}

QByteArray Form::CreateJsonQByteArray()
{
    ImageFile choice;
    ImageFile &file = UpdateUnderway() ? image : choice;
    if (!file.IsOpen())
        file.Open(filePath);
    QByteArray request;
    return BuildRequest(file, &request).kind == StepResult::Done ? request : QByteArray();
}

Form::StepResult Form::BuildRequest(ImageFile &file, QByteArray *request)
{
    QByteArray md5;
    const StepResult digest = Digest(file, &md5);
    if (digest.kind != StepResult::Done)
        return digest;
    *request = UpdateRequest::Build(localIp, file.Name(), file.Size(), md5, bufferSize);
    return StepResult::done();
}

// Exactly the image's size, from its first byte: a file that cannot be read,
// or was written to since the Yes, would announce another image than the one
// sent.
Form::StepResult Form::Digest(ImageFile &file, QByteArray *md5)
{
    const StepResult unreadable = StepResult::failed(tr("Mqtt Create Json Object Failed"));
    if (!file.IsOpen() || !file.Rewind())
        return unreadable;
    Md5Digest digest;
    QByteArray piece(static_cast<int>(digestPieceSize), Qt::Uninitialized);
    QElapsedTimer blockTime;
    blockTime.start();
    qint64 blockBytes = 0;
    for (;;) {
        const qint64 length = file.Read(piece.data(), digestPieceSize);
        if (length < 0)
            return file.Unchanged() ? unreadable : StepResult::failed(tr("Read Bin File Failed"));
        digest.addData(piece.constData(), length);
        blockBytes += length;
        const bool atEnd = length == 0;
        if (atEnd || blockBytes >= digestBlockSize || blockTime.elapsed() >= digestBlockMs) {
            const StepResult pause = Wait(digestPauseMs);
            if (pause.kind != StepResult::Done)
                return pause;
            blockBytes = 0;
            blockTime.restart();
        }
        if (atEnd)
            break;
    }
    *md5 = digest.hexResult();
    return md5->isEmpty() ? unreadable : StepResult::done();
}

// Whether the image is still the file opened at the Yes: not written to,
// whatever its size now.
Form::StepResult Form::ImageUnchanged()
{
    return image.Unchanged() ? StepResult::done() : StepResult::failed(tr("Read Bin File Failed"));
}

void Form::Tcp_Transfer_File()
{
    StepScope step(this);
    if (phase == Phase::Closing)
        return;
    try {
        QTcpSocket socket;
        imageSocket = &socket;
        if (StepEnds(ConnectImage(socket)))
            return;
        ShowStatus(tr("Connect Server Succeed..."));
        qDebug() << socket.state();

        if (!image.Rewind()) {
            socket.disconnectFromHost();
            StepsReturned(tr("Read Bin File Failed"));
            return;
        }
        // What the socket has passed on to the system: a camera may close as
        // soon as it holds the announced size, and then only bytes the socket
        // never passed on make a failure.
        qint64 handedOver = 0;
        connect(&socket, &QTcpSocket::bytesWritten, &socket, [this, &handedOver](qint64 bytes) {
            handedOver += bytes;
            NoteBytesLeft(handedOver);
        });
        NoteBytesLeft(handedOver);
        StepResult sent = SendImage(socket);
        if (sent.kind == StepResult::Done)
            sent = CloseConnection(socket);
        if (sent.kind == StepResult::Closing)
            return;
        if (sent.kind == StepResult::Done && handedOver != image.Size())
            sent = StepResult::failed(tr("Send Bin File Failed"));
        if (sent.kind == StepResult::Failed)
            socket.abort();
        // Once sent, the camera's own reports take over the window.
        StepsReturned(sent.failure);
    } catch (const std::exception &error) {
        StepsReturned(QString::fromLocal8Bit(error.what()));
    }
}

// Up to three attempts, each waited out in full; a new attempt only once the
// previous one has failed.
Form::StepResult Form::ConnectImage(QTcpSocket &socket)
{
    qDebug() << "connect to server......";
    for (const int waitMs : Protocol::imageConnectWaitsMs) {
        if (socket.state() == QAbstractSocket::UnconnectedState)
            socket.connectToHost(
                deviceIp, tcpPort, QIODevice::ReadWrite, QAbstractSocket::AnyIPProtocol);
        const StepResult wait = Wait(waitMs);
        if (wait.kind != StepResult::Done)
            return wait;
        if (socket.state() == QAbstractSocket::ConnectedState)
            return StepResult::done();
    }
    socket.abort();
    return StepResult::failed(tr("Connect Server Failed"));
}

void Form::NoteBytesLeft(qint64 total)
{
    if (phase == Phase::Transferring && total == image.Size())
        phase = Phase::Sent;
}

// Writes the image raw, one chunk per pause. The stream carries exactly the
// announced number of bytes of the file opened at the Yes; a file written to
// since, whatever its size now, fails the transfer before another byte goes
// out.
Form::StepResult Form::SendImage(QTcpSocket &socket)
{
    const qint64 size = image.Size();
    QByteArray chunk(static_cast<int>(bufferSize), Qt::Uninitialized);
    qint64 count = 0;
    while (count < size) {
        // A slow camera must not make the image pile up in memory: the next
        // chunk goes into the socket only once the last one has left it, so
        // the image takes at most two chunks of memory (this one and the
        // socket's copy).
        const StepResult drained = WaitForDrain(socket);
        if (drained.kind != StepResult::Done)
            return drained;

        const qint64 length = image.Read(chunk.data(), qMin(bufferSize, size - count));
        if (length <= 0)
            return StepResult::failed(tr("Read Bin File Failed"));
        if (socket.write(chunk.constData(), length) != length)
            return StepResult::failed(tr("Send Bin File Failed"));
        count += length;
        const StepResult pause = Wait(Protocol::chunkPauseMs);
        if (pause.kind != StepResult::Done)
            return pause;
        // After the last chunk the camera may close by itself; whether it
        // had every byte by then is for closing to tell.
        if (count < size && socket.state() != QAbstractSocket::ConnectedState)
            return StepResult::failed(tr("Send Bin File Failed"));
    }
    return StepResult::done();
}

// Waits until nothing is queued in the socket any more.
Form::StepResult Form::WaitForDrain(QTcpSocket &socket)
{
    QElapsedTimer sinceProgress;
    sinceProgress.start();
    qint64 queued = socket.bytesToWrite();
    while (queued > 0) {
        if (socket.state() != QAbstractSocket::ConnectedState
            || sinceProgress.elapsed() > Protocol::imageStallLimitMs)
            return StepResult::failed(tr("Send Bin File Failed"));
        const StepResult poll = Wait(drainPollMs);
        if (poll.kind != StepResult::Done)
            return poll;
        const qint64 now = socket.bytesToWrite();
        if (now < queued)
            sinceProgress.restart();
        queued = now;
    }
    return StepResult::done();
}

// Closes only after the last chunk has left the socket: closing at once would
// throw away what is still queued, and the camera would get a cut image.
Form::StepResult Form::CloseConnection(QTcpSocket &socket)
{
    const StepResult drained = WaitForDrain(socket);
    if (drained.kind != StepResult::Done)
        return drained;
    socket.disconnectFromHost();
    QElapsedTimer closing;
    closing.start();
    while (socket.state() != QAbstractSocket::UnconnectedState
        && closing.elapsed() < Protocol::imageCloseWaitMs) {
        const StepResult poll = Wait(drainPollMs);
        if (poll.kind != StepResult::Done)
            return poll;
    }
    return StepResult::done();
}

// Without its broker the camera's final report can never arrive, and Start
// would stay disabled for good. Reports come only once the request is out.
void Form::MqttConnectionLost()
{
    const bool reportsExpected = (phase == Phase::Settling || phase == Phase::Transferring
                                     || phase == Phase::Sent || phase == Phase::AwaitingReport)
        && !pendingNotice;
    if (!reportsExpected)
        return;
    ShowStatus(tr("Mqtt Connection Lost"));
    OutcomeArrived(ui->label_state->text());
}

void Form::topicMessageReceived(const QByteArray &message, const QString &topic)
{
    if (topic != QLatin1String(Protocol::updateStatusTopic))
        return;
    try {
        const StatusReport report = StatusReport::Read(message);
        if (!report.readable) {
            ShowStatus(report.parseError);
            OutcomeArrived(ui->label_state->text());
            return;
        }
        qDebug().noquote() << report.progress;
        if (report.IsShown()) {
            // A value outside 0..100 is ignored by the bar.
            if (report.MovesProgress())
                ui->progressBar->setValue(report.ProgressValue());
            ShowStatus(report.message);
        }
        // A completion before this update's last byte left is the camera
        // telling of an earlier update: it ends nothing.
        if (report.IsCompletion() && ImageSent())
            OutcomeArrived(report.message);
    } catch (const std::exception &error) {
        ShowStatus(QString::fromLocal8Bit(error.what()));
        OutcomeArrived(ui->label_state->text());
    }
}
