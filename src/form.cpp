#include "form.h"
#include "ui_form.h"

#include "form_workthread.h"
#include "formtcptransfer.h"
#include "localaddress.h"
#include "mqttclient.h"

#include <QCloseEvent>
#include <QCryptographicHash>
#include <QDebug>
#include <QDesktopWidget>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMessageBox>
#include <QNetworkInterface>
#include <QPointer>
#include <QTcpSocket>
#include <QTimer>

#include <exception>
#include <functional>
#include <memory>

namespace {

constexpr quint16 brokerPort = 1883;
const QString requestTopic = QStringLiteral("Ordel Tool_in/update_camera_fw");
const QString statusTopic = QStringLiteral("Ordel Tool_out/update_camera_fw");

constexpr int paintWaitMs = 10;
// The full second is always waited, also when the broker answers sooner.
constexpr int brokerConnectWaitMs = 1000;
// The camera prepares to receive the image after the request.
constexpr int settleWaitMs = 5000;
// Small blocks keep memory low and the window responsive while a large image
// is digested; a short pause after each lets the window repaint.
constexpr qint64 digestBlockSize = 8 * 1024 * 1024;
constexpr int digestPauseMs = 1;

constexpr int connectWaitsMs[] = { 1000, 3000, 3000 };
constexpr int chunkPauseMs = 500;
// How often a full socket is looked at, and how long a camera may take no
// data at all before the transfer is given up.
constexpr int drainPollMs = 20;
constexpr int stallLimitMs = 30000;
constexpr int closeWaitMs = 5000;

} // namespace

// Counts a handler of the window while it is on the stack, and destroys a
// window that was closed meanwhile once the last such handler has returned.
class HandlerScope
{
public:
    explicit HandlerScope(Form *form)
        : form(form)
    {
        ++form->runningHandlers;
    }
    ~HandlerScope()
    {
        if (form && --form->runningHandlers == 0 && form->closeRequested)
            form->deleteLater();
    }
    HandlerScope(const HandlerScope &) = delete;
    HandlerScope &operator=(const HandlerScope &) = delete;

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
    localIp = LocalAddress::ForDevice(deviceIp, ChooseLocalIp(QNetworkInterface::allAddresses()));
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
}

Form::~Form()
{
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

QString Form::ChooseLocalIp(const QList<QHostAddress> &addresses)
{
    QString chosen;
    for (const QHostAddress &address : addresses) {
        if (address == QHostAddress(QHostAddress::LocalHost) || address.toIPv4Address() == 0)
            continue;
        chosen = address.toString();
    }
    return chosen;
}

void Form::closeEvent(QCloseEvent *event)
{
    if (runningHandlers == 0) {
        event->accept();
        return;
    }
    // A handler is suspended in a wait and would resume on a destroyed window.
    // Hide now; the handler ends the update at its next step, and the window
    // is destroyed once it has returned.
    closeRequested = true;
    hide();
    event->ignore();
}

// A local event loop that a single-shot timer ends. False when the update must
// stop instead of going on: the window is being closed, or the loop was ended
// by the application quitting, after which no wait would wait any more.
bool Form::Wait(int milliseconds)
{
    QPointer<Form> self(this);
    QEventLoop loop;
    bool timedOut = false;
    // Precise: from 2000 ms up Qt's default timer may fire 5 % early, which
    // cuts the camera's settle time and the connect attempts short.
    QTimer::singleShot(milliseconds, Qt::PreciseTimer, &loop, [&] {
        timedOut = true;
        loop.quit();
    });
    loop.exec(QEventLoop::AllEvents);
    if (!self)
        return false;
    if (!timedOut)
        closeRequested = true;
    return !closeRequested;
}

void Form::ShowState(const QString &text)
{
    ui->label_state->setText(text);
    ui->label_state->repaint();
}

void Form::EnableStart()
{
    if (updateRunning)
        startWanted = true;
    else
        ui->pushButton_Start->setEnabled(true);
}

// The last step of an update has returned; a failure shows its reason and
// gives Start back at once.
void Form::EndUpdate(const QString &failure)
{
    updateRunning = false;
    if (!failure.isEmpty()) {
        awaitingReports = false;
        startWanted = true;
        ui->label_state->setText(failure);
    } else if (!reportsLost.isEmpty()) {
        ui->label_state->setText(reportsLost);
    }
    reportsLost.clear();
    if (startWanted) {
        startWanted = false;
        ui->pushButton_Start->setEnabled(true);
    }
    ui->label_state->repaint();
}

void Form::on_pushButton_Browser_clicked()
{
    ui->lineEdit->clear();
    ui->lineEdit->repaint();
    filePath = QFileDialog::getOpenFileName(
        this, tr("Please select a bin file"), QStringLiteral("."), QStringLiteral("*.bin"));
    ui->lineEdit->setText(filePath);
    const QFileInfo info(filePath);
    fileName = filePath.isEmpty() ? QString() : info.fileName();
    fileSize = filePath.isEmpty() ? 0 : info.size();
}

void Form::on_pushButton_Start_clicked()
{
    HandlerScope scope(this);
    if (updateRunning)
        return;
    if (ui->lineEdit->text().isEmpty()) {
        QMessageBox::information(this, tr("Tip"), tr("Please select a bin file"), QMessageBox::Ok);
        return;
    }
    const auto answer = QMessageBox::question(
        this, tr("Tip"), tr("Do you want to update?"), QMessageBox::Yes | QMessageBox::No);
    if (answer != QMessageBox::Yes || closeRequested)
        return;

    updateRunning = true;
    startWanted = false;
    awaitingReports = false;
    reportsLost.clear();
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
        formWorkThread->Start_Camera_Updating();
    } catch (const std::exception &error) {
        EndUpdate(QString::fromLocal8Bit(error.what()));
    }
}

void Form::Camera_FW_Update()
{
    HandlerScope scope(this);
    try {
        mqttClient->setHostname(deviceIp);
        mqttClient->setPort(brokerPort);
        if (mqttClient->state() == MqttClient::Disconnected)
            mqttClient->connectToHost();
        if (!Wait(brokerConnectWaitMs))
            return;
        if (mqttClient->state() != MqttClient::Connected) {
            EndUpdate(tr("Mqtt Connect Failed"));
            return;
        }

        mqttClient->subscribe(statusTopic, 0);
        const QByteArray request = CreateJsonQByteArray();
        if (closeRequested)
            return;
        if (request.isEmpty()) {
            EndUpdate(tr("Mqtt Create Json Object Failed"));
            return;
        }
        if (mqttClient->publish(requestTopic, request, 0, false) != 0) {
            EndUpdate(tr("Mqtt Publish Failed"));
            return;
        }
        awaitingReports = true;

        if (!Wait(settleWaitMs))
            return;
        formTcpTransfer->Start_TCP_Transfer();
    } catch (const std::exception &error) {
        EndUpdate(QString::fromLocal8Bit(error.what()));
    }
}

QByteArray Form::CreateJsonQByteArray()
{
    QFile file(filePath);
    if (!file.open(QIODevice::ReadOnly))
        return QByteArray();

    QCryptographicHash digest(QCryptographicHash::Md5);
    QByteArray block(static_cast<int>(digestBlockSize), Qt::Uninitialized);
    for (;;) {
        const qint64 length = file.read(block.data(), digestBlockSize);
        // A digest of part of the image would announce the wrong image.
        if (length < 0)
            return QByteArray();
        if (length == 0)
            break;
        digest.addData(block.constData(), static_cast<int>(length));
        if (!Wait(digestPauseMs))
            return QByteArray();
    }
    file.close();

    QJsonObject request;
    request.insert(QStringLiteral("client_ip"), localIp);
    request.insert(QStringLiteral("file_name"), fileName);
    request.insert(QStringLiteral("buffer_size"), QString::number(bufferSize));
    request.insert(QStringLiteral("file_size"), QString::number(fileSize));
    request.insert(QStringLiteral("file_md5"), QString::fromLatin1(digest.result().toHex()));
    return QJsonDocument(request).toJson(QJsonDocument::Compact);
}

void Form::Tcp_Transfer_File()
{
    HandlerScope scope(this);
    try {
        QTcpSocket socket;
        qDebug() << "connect to server......";
        for (const int waitMs : connectWaitsMs) {
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

        QFile file(filePath);
        if (!file.open(QIODevice::ReadOnly)) {
            socket.disconnectFromHost();
            EndUpdate(tr("Read Bin File Failed"));
            return;
        }
        QString failure;
        StepResult result = SendImage(socket, file, &failure);
        file.close();
        if (result == StepResult::Succeeded)
            result = CloseConnection(socket, &failure);
        if (result == StepResult::Abandoned)
            return;
        if (result == StepResult::Failed)
            socket.abort();
        // On success the camera's own reports take over the window from here.
        EndUpdate(failure);
    } catch (const std::exception &error) {
        EndUpdate(QString::fromLocal8Bit(error.what()));
    }
}

// Writes the image raw, one chunk per pause. The stream carries exactly the
// announced number of bytes: a file that grew is cut there, one that shrank
// fails the transfer.
Form::StepResult Form::SendImage(QTcpSocket &socket, QFile &file, QString *failure)
{
    QByteArray chunk(static_cast<int>(bufferSize), Qt::Uninitialized);
    qint64 count = 0;
    while (count < fileSize) {
        // A slow camera must not make the image pile up in memory: the next
        // chunk goes into the socket only once the last one has left it, so
        // the image takes at most two chunks of memory (this one and the
        // socket's copy).
        const StepResult drained = WaitForDrain(socket, 0, failure);
        if (drained != StepResult::Succeeded)
            return drained;

        const qint64 length = file.read(chunk.data(), qMin(bufferSize, fileSize - count));
        if (length <= 0) {
            *failure = tr("Read Bin File Failed");
            return StepResult::Failed;
        }
        if (socket.write(chunk.constData(), length) != length) {
            *failure = tr("Send Bin File Failed");
            return StepResult::Failed;
        }
        count += length;
        if (!Wait(chunkPauseMs))
            return StepResult::Abandoned;
        if (socket.state() != QAbstractSocket::ConnectedState) {
            *failure = tr("Send Bin File Failed");
            return StepResult::Failed;
        }
    }
    return StepResult::Succeeded;
}

// Waits until at most limit bytes are still queued in the socket.
Form::StepResult Form::WaitForDrain(QTcpSocket &socket, qint64 limit, QString *failure)
{
    QElapsedTimer sinceProgress;
    sinceProgress.start();
    qint64 queued = socket.bytesToWrite();
    while (queued > limit) {
        if (socket.state() != QAbstractSocket::ConnectedState
            || sinceProgress.elapsed() > stallLimitMs) {
            *failure = tr("Send Bin File Failed");
            return StepResult::Failed;
        }
        if (!Wait(drainPollMs))
            return StepResult::Abandoned;
        const qint64 now = socket.bytesToWrite();
        if (now < queued)
            sinceProgress.restart();
        queued = now;
    }
    return StepResult::Succeeded;
}

// Closes only after the last chunk has left the socket: closing at once would
// throw away what is still queued, and the camera would get a cut image.
Form::StepResult Form::CloseConnection(QTcpSocket &socket, QString *failure)
{
    const StepResult drained = WaitForDrain(socket, 0, failure);
    if (drained != StepResult::Succeeded)
        return drained;
    socket.disconnectFromHost();
    QElapsedTimer closing;
    closing.start();
    while (socket.state() != QAbstractSocket::UnconnectedState && closing.elapsed() < closeWaitMs) {
        if (!Wait(drainPollMs))
            return StepResult::Abandoned;
    }
    return StepResult::Succeeded;
}

// Without its broker the camera's final report can never arrive, and Start
// would stay disabled for good.
void Form::MqttConnectionLost()
{
    if (!awaitingReports)
        return;
    awaitingReports = false;
    ShowState(tr("Mqtt Connection Lost"));
    if (updateRunning)
        reportsLost = ui->label_state->text();
    EnableStart();
}

void Form::topicMessageReceived(const QByteArray &message, const QString &topic)
{
    if (topic != statusTopic)
        return;
    try {
        QJsonParseError parseError;
        const QJsonDocument document = QJsonDocument::fromJson(message, &parseError);
        if (parseError.error != QJsonParseError::NoError) {
            EnableStart();
            ShowState(parseError.errorString());
            return;
        }
        // Members that are missing or not strings read as empty.
        const QJsonObject report = document.object();
        const QString type = report.value(QStringLiteral("type")).toString();
        const QString errorCode = report.value(QStringLiteral("errorcode")).toString();
        const QString text = report.value(QStringLiteral("message")).toString();
        const QString progress = report.value(QStringLiteral("progress")).toString();
        qDebug().noquote() << progress;
        if (!document.isObject())
            return;

        if (type == QLatin1String("1") || type == QLatin1String("2")) {
            // Text that is not a number sets 0; a value outside 0..100 is
            // ignored by the bar.
            if (errorCode == QLatin1String("0"))
                ui->progressBar->setValue(progress.toInt(nullptr, 10));
            ShowState(text);
        }
        if (type == QLatin1String("2") && errorCode == QLatin1String("0")
            && progress == QLatin1String("100")) {
            awaitingReports = false;
            EnableStart();
        }
    } catch (const std::exception &error) {
        EnableStart();
        ShowState(QString::fromLocal8Bit(error.what()));
    }
}
