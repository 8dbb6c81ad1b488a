#include "form.h"
#include "ui_form.h"

#include "form_workthread.h"
#include "formtcptransfer.h"
#include "localaddress.h"
#include "md5digest.h"
#include "mqttclient.h"
#include "protocol.h"
#include "statusreport.h"
#include "updatequeue.h"
#include "updaterequest.h"

#include <QCloseEvent>
#include <QDebug>
#include <QDesktopWidget>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QPointer>
#include <QTcpSocket>
#include <QTimer>

#include <exception>

namespace {

constexpr int paintWaitMs = 10;
using Protocol::brokerConnectWaitMs;
using Protocol::settleWaitMs;
// The digest pauses after each block so the window stays responsive. A block
// ends at the largest size the design allows or after a short time, whichever
// comes first, so a large image never holds the window still for long. It is
// read in pieces that stay in the processor's cache while they are hashed.
constexpr qint64 digestBlockSize = 100 * 1024 * 1024;
constexpr int digestBlockMs = 40;
constexpr qint64 digestPieceSize = 256 * 1024;
constexpr int digestPauseMs = 1;

using Protocol::chunkPauseMs;
using Protocol::imageCloseWaitMs;
using Protocol::imageStallLimitMs;
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

    setWindowFlags(windowFlags() & ~Qt::WindowMaximizeButtonHint);
    setFixedSize(width(), height());
    const QDesktopWidget *desktop = QApplication::desktop();
    move((desktop->width() - width()) / 2, (desktop->height() - height()) / 2);
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
        return true;
    case Phase::Idle:
    case Phase::AwaitingReport:
    case Phase::Closing:
        break;
    }
    return false;
}

// A local event loop that a single-shot timer ends. False when the update must
// stop instead of going on: the window was closed, or the loop was ended by
// the application quitting, after which no wait would wait any more.
bool Form::Wait(int milliseconds)
{
    QEventLoop loop;
    bool timedOut = false;
    // Precise: from 2000 ms up Qt's default timer may fire 5 % early, which
    // cuts the camera's settle time and the connect attempts short.
    QTimer::singleShot(milliseconds, Qt::PreciseTimer, &loop, [&] {
        timedOut = true;
        loop.quit();
    });
    loop.exec(QEventLoop::AllEvents);
    if (!timedOut)
        phase = Phase::Closing;
    return phase != Phase::Closing;
}

// Modal to this window only, and not run in an event loop of its own: a box
// left open must not hold another window's update inside it.
QMessageBox *Form::OpenBox(
    QMessageBox::Icon icon, const QString &text, QMessageBox::StandardButtons buttons)
{
    auto *box = new QMessageBox(icon, tr("Tip"), text, buttons, this);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->open();
    return box;
}

void Form::ShowState(const QString &text)
{
    ui->label_state->setText(text);
    ui->label_state->repaint();
}

// The update's steps have returned. A failure shows its reason; otherwise an
// outcome that came meanwhile is shown again. Either gives Start back, and
// without one the camera's final report will.
void Form::EndUpdate(const QString &failure)
{
    UpdateQueue::Leave(formWorkThread);
    const std::optional<QString> notice
        = failure.isEmpty() ? pendingNotice : std::optional<QString>(failure);
    pendingNotice.reset();
    if (!notice) {
        phase = Phase::AwaitingReport;
        return;
    }
    phase = Phase::Idle;
    ShowState(*notice);
    ui->pushButton_Start->setEnabled(true);
}

// The update has an outcome, on screen now: the camera's final report, one
// that could not be read, or the broker lost. Start comes back at once, or
// once the steps still running have returned.
void Form::ReportOutcome(const QString &shown)
{
    if (UpdateUnderway()) {
        pendingNotice = shown;
    } else if (phase != Phase::Closing) {
        phase = Phase::Idle;
        ui->pushButton_Start->setEnabled(true);
    }
}

void Form::on_pushButton_Browser_clicked()
{
    ui->lineEdit->clear();
    ui->lineEdit->repaint();
    // Not run in an event loop of its own, like the boxes: see OpenBox.
    auto *dialog = new QFileDialog(
        this, tr("Please select a bin file"), QStringLiteral("."), QStringLiteral("*.bin"));
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setFileMode(QFileDialog::ExistingFile);
    connect(dialog, &QFileDialog::finished, this, [this, dialog](int result) {
        ImageChosen(result == QDialog::Accepted ? dialog->selectedFiles().value(0) : QString());
    });
    dialog->open();
}

// A cancelled choice is an empty path, which replaces any earlier one.
void Form::ImageChosen(const QString &path)
{
    filePath = path;
    ui->lineEdit->setText(filePath);
    const QFileInfo info(filePath);
    fileName = filePath.isEmpty() ? QString() : info.fileName();
    fileSize = filePath.isEmpty() ? 0 : info.size();
    // An update underway goes on with the image it announced; this choice
    // waits for the next Start.
    if (!UpdateUnderway())
        updateImage = { filePath, fileName, fileSize };
}

void Form::on_pushButton_Start_clicked()
{
    if (phase != Phase::Idle)
        return;
    if (ui->lineEdit->text().isEmpty()) {
        OpenBox(QMessageBox::Information, tr("Please select a bin file"), QMessageBox::Ok);
        return;
    }
    QMessageBox *question = OpenBox(
        QMessageBox::Question, tr("Do you want to update?"), QMessageBox::Yes | QMessageBox::No);
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
    updateImage = { filePath, fileName, fileSize };
    pendingNotice.reset();
    // In line from the Yes: the preparation below waits, and another window's
    // Yes handled meanwhile must not overtake this one.
    UpdateQueue::Join(formWorkThread);
    try {
        ui->pushButton_Start->setEnabled(false);
        ui->pushButton_Start->repaint();
        ui->progressBar->setValue(0);
        ui->label_state->clear();
        // Lets the cleared widgets, then the new text, reach the screen before
        // the exchange begins.
        if (!Wait(paintWaitMs))
            return;
        ShowState(tr("Preparation is starting, please wait a moment..."));
        if (!Wait(paintWaitMs))
            return;
        if (!UpdateQueue::Ready(formWorkThread)) {
            phase = Phase::WaitingTurn;
            ShowState(tr("Waiting for another camera's update..."));
        }
    } catch (const std::exception &error) {
        EndUpdate(QString::fromLocal8Bit(error.what()));
    }
}

void Form::Camera_FW_Update()
{
    StepScope step(this);
    if (phase == Phase::Closing)
        return;
    try {
        if (phase == Phase::WaitingTurn)
            ShowState(tr("Preparation is starting, please wait a moment..."));
        phase = Phase::Announcing;
        mqttClient->setHostname(deviceIp);
        mqttClient->setPort(Protocol::brokerPort);
        if (mqttClient->state() == MqttClient::Disconnected)
            mqttClient->connectToHost();
        if (!Wait(brokerConnectWaitMs))
            return;
        if (mqttClient->state() != MqttClient::Connected) {
            EndUpdate(tr("Mqtt Connect Failed"));
            return;
        }

        mqttClient->subscribe(QLatin1String(Protocol::updateStatusTopic), 0);
        const QByteArray request = CreateJsonQByteArray();
        if (phase == Phase::Closing)
            return;
        if (request.isEmpty()) {
            EndUpdate(tr("Mqtt Create Json Object Failed"));
            return;
        }
        if (mqttClient->publish(QLatin1String(Protocol::updateRequestTopic), request, 0, false)
            != 0) {
            EndUpdate(tr("Mqtt Publish Failed"));
            return;
        }
        phase = Phase::Settling;

        if (!Wait(settleWaitMs))
            return;
        phase = Phase::Transferring;
        formTcpTransfer->Start_TCP_Transfer();
    } catch (const std::exception &error) {
        EndUpdate(QString::fromLocal8Bit(error.what()));
    }
}

QByteArray Form::CreateJsonQByteArray()
{
    QFile file(updateImage.path);
    if (!file.open(QIODevice::ReadOnly))
        return QByteArray();

    Md5Digest digest;
    QByteArray piece(static_cast<int>(digestPieceSize), Qt::Uninitialized);
    QElapsedTimer blockTime;
    blockTime.start();
    qint64 blockBytes = 0;
    for (;;) {
        const qint64 length = file.read(piece.data(), digestPieceSize);
        // A digest of part of the image would announce the wrong image.
        if (length < 0)
            return QByteArray();
        digest.addData(piece.constData(), length);
        blockBytes += length;
        const bool atEnd = length == 0;
        if (atEnd || blockBytes >= digestBlockSize || blockTime.elapsed() >= digestBlockMs) {
            if (!Wait(digestPauseMs))
                return QByteArray();
            blockBytes = 0;
            blockTime.restart();
        }
        if (atEnd)
            break;
    }
    file.close();
    const QByteArray md5 = digest.hexResult();
    if (md5.isEmpty())
        return QByteArray();

    return UpdateRequest::Build(localIp, updateImage.name, updateImage.size, md5, bufferSize);
}

void Form::Tcp_Transfer_File()
{
    StepScope step(this);
    if (phase == Phase::Closing)
        return;
    try {
        QTcpSocket socket;
        qDebug() << "connect to server......";
        for (const int waitMs : Protocol::imageConnectWaitsMs) {
            // A new attempt only once the previous one has failed.
            if (socket.state() == QAbstractSocket::UnconnectedState)
                socket.connectToHost(
                    deviceIp, tcpPort, QIODevice::ReadWrite, QAbstractSocket::AnyIPProtocol);
            if (!Wait(waitMs))
                return;
            if (socket.state() == QAbstractSocket::ConnectedState)
                break;
        }
        if (socket.state() != QAbstractSocket::ConnectedState) {
            socket.abort();
            EndUpdate(tr("Connect Server Failed"));
            return;
        }
        ShowState(tr("Connect Server Succeed..."));
        qDebug() << socket.state();

        QFile file(updateImage.path);
        if (!file.open(QIODevice::ReadOnly)) {
            socket.disconnectFromHost();
            EndUpdate(tr("Read Bin File Failed"));
            return;
        }
        // What the socket has passed on to the system: a camera may close as
        // soon as it holds the announced size, and then only bytes the socket
        // never passed on make a failure.
        qint64 handedOver = 0;
        connect(&socket, &QTcpSocket::bytesWritten, &socket,
            [&handedOver](qint64 bytes) { handedOver += bytes; });
        QString failure;
        bool sent = SendImage(socket, file, &failure) && CloseConnection(socket, &failure);
        file.close();
        if (phase == Phase::Closing)
            return;
        if (sent && handedOver != updateImage.size) {
            sent = false;
            failure = tr("Send Bin File Failed");
        }
        if (!sent)
            socket.abort();
        // Once sent, the camera's own reports take over the window.
        EndUpdate(failure);
    } catch (const std::exception &error) {
        EndUpdate(QString::fromLocal8Bit(error.what()));
    }
}

// Writes the image raw, one chunk per pause. The stream carries exactly the
// announced number of bytes: a file that grew is cut there, one that shrank
// fails the transfer. False on a failure, or when the window closed.
bool Form::SendImage(QTcpSocket &socket, QFile &file, QString *failure)
{
    const qint64 size = updateImage.size;
    QByteArray chunk(static_cast<int>(bufferSize), Qt::Uninitialized);
    qint64 count = 0;
    while (count < size) {
        // A slow camera must not make the image pile up in memory: the next
        // chunk goes into the socket only once the last one has left it, so
        // the image takes at most two chunks of memory (this one and the
        // socket's copy).
        if (!WaitForDrain(socket, failure))
            return false;

        const qint64 length = file.read(chunk.data(), qMin(bufferSize, size - count));
        if (length <= 0) {
            *failure = tr("Read Bin File Failed");
            return false;
        }
        if (socket.write(chunk.constData(), length) != length) {
            *failure = tr("Send Bin File Failed");
            return false;
        }
        count += length;
        if (!Wait(chunkPauseMs))
            return false;
        // After the last chunk the camera may close by itself; whether it
        // had every byte by then is for closing to tell.
        if (count < size && socket.state() != QAbstractSocket::ConnectedState) {
            *failure = tr("Send Bin File Failed");
            return false;
        }
    }
    return true;
}

// Waits until nothing is queued in the socket any more.
bool Form::WaitForDrain(QTcpSocket &socket, QString *failure)
{
    QElapsedTimer sinceProgress;
    sinceProgress.start();
    qint64 queued = socket.bytesToWrite();
    while (queued > 0) {
        if (socket.state() != QAbstractSocket::ConnectedState
            || sinceProgress.elapsed() > imageStallLimitMs) {
            *failure = tr("Send Bin File Failed");
            return false;
        }
        if (!Wait(drainPollMs))
            return false;
        const qint64 now = socket.bytesToWrite();
        if (now < queued)
            sinceProgress.restart();
        queued = now;
    }
    return true;
}

// Closes only after the last chunk has left the socket: closing at once would
// throw away what is still queued, and the camera would get a cut image.
bool Form::CloseConnection(QTcpSocket &socket, QString *failure)
{
    if (!WaitForDrain(socket, failure))
        return false;
    socket.disconnectFromHost();
    QElapsedTimer closing;
    closing.start();
    while (socket.state() != QAbstractSocket::UnconnectedState && closing.elapsed() < imageCloseWaitMs) {
        if (!Wait(drainPollMs))
            return false;
    }
    return true;
}

// Without its broker the camera's final report can never arrive, and Start
// would stay disabled for good. Reports come only once the request is out.
void Form::MqttConnectionLost()
{
    const bool reportsExpected = (phase == Phase::Settling || phase == Phase::Transferring
                                     || phase == Phase::AwaitingReport)
        && !pendingNotice;
    if (!reportsExpected)
        return;
    ShowState(tr("Mqtt Connection Lost"));
    ReportOutcome(ui->label_state->text());
}

void Form::topicMessageReceived(const QByteArray &message, const QString &topic)
{
    if (topic != QLatin1String(Protocol::updateStatusTopic))
        return;
    try {
        const StatusReport report = StatusReport::Read(message);
        if (!report.readable) {
            ShowState(report.parseError);
            ReportOutcome(ui->label_state->text());
            return;
        }
        qDebug().noquote() << report.progress;
        if (report.IsShown()) {
            // A value outside 0..100 is ignored by the bar.
            if (report.MovesProgress())
                ui->progressBar->setValue(report.ProgressValue());
            ShowState(report.message);
        }
        if (report.IsCompletion())
            ReportOutcome(report.message);
    } catch (const std::exception &error) {
        ShowState(QString::fromLocal8Bit(error.what()));
        ReportOutcome(ui->label_state->text());
    }
}
