#include "mainwindow.h"
#include "ui_mainwindow.h"

#include "analysedata.h"
#include "camerarecord.h"
#include "columnfitter.h"
#include "crc_calc.h"
#include "discoveryreply.h"
#include "fixedwindow.h"
#include "form.h"
#include "localwait.h"
#include "mqttclient.h"
#include "protocol.h"
#include "searchsocket.h"
#include "tipbox.h"
#include "workthread.h"

#include <QCloseEvent>
#include <QCursor>
#include <QDesktopServices>
#include <QMenu>
#include <QMessageBox>
#include <QStandardItemModel>
#include <QThread>
#include <QUdpSocket>
#include <QUrl>

namespace {

constexpr int collectionWindowMs = 2000;

} // namespace

// The texts and topic of one of the two MQTT device commands.
struct DeviceCommand
{
    QString topic;
    QByteArray payload;
    QString question;
    // The status line's texts: answered No, sending, sent, not taken.
    QString cancelled;
    QString sending;
    QString completed;
    QString failed;
};

MainWindow::MainWindow(QWidget *parent)
    : QMainWindow(parent)
    , ui(new Ui::MainWindow)
{
    ui->setupUi(this);
    FixedWindow::SetUp(this);

    ui->tableView->setEditTriggers(QAbstractItemView::NoEditTriggers);
    model = new QStandardItemModel(ui->tableView);
    model->setHorizontalHeaderLabels(CameraRecord::Headings());
    ui->tableView->setModel(model);
    new ColumnFitter(ui->tableView);

    ui->label_Search_State->clear();
    ui->statusbar->addWidget(ui->label_Search_State, 0);
    // The window keeps its size; a grip would offer what it refuses (Qt 5
    // draws one in a fixed window's status bar, Qt 6 does not).
    ui->statusbar->setSizeGripEnabled(false);

    crcCalc = new Crc_Calc;
    analyseData = new AnalyseData;
    workThread = new WorkThread(nullptr);
    mqttClient = new MqttClient(this);

    socketActive = false;
    isSearching = false;

    // Queued, so that the collection window's nested event loop never runs
    // inside the button's clicked() handler.
    connect(workThread, &WorkThread::DelaySignal, this, &MainWindow::DelayDisconnect,
        Qt::QueuedConnection);
    // Closing this window ends the application at once, ending every event
    // loop of the thread. Not through the toolkit's own quit: Qt 5 posts it,
    // and any local event loop that starts before it is delivered drops it
    // (an update window starts one for each of its waits); Qt 6 makes it ask
    // every window to close first, once more.
    connect(qApp, &QGuiApplication::lastWindowClosed, this, [] { QCoreApplication::exit(0); });
}

MainWindow::~MainWindow()
{
    delete ui;
    if (socketActive) {
        udpSocket->disconnect(this);
        delete udpSocket;
    }
    delete crcCalc;
    delete analyseData;
    delete workThread;
    delete model;
    delete mqttClient;
}

// The question does not hold the close: it is asked, and a Yes closes the
// window again, this time for good, which ends the application.
void MainWindow::closeEvent(QCloseEvent *event)
{
    if (quitConfirmed) {
        event->accept();
        return;
    }
    event->ignore();
    if (quitQuestion)
        return;
    quitQuestion = TipBox::Open(this, QMessageBox::Question, tr("Do you want to quit?"),
        QMessageBox::Yes | QMessageBox::No);
    connect(quitQuestion, &QMessageBox::finished, this, [this](int answer) {
        if (answer != QMessageBox::Yes)
            return;
        quitConfirmed = true;
        close();
    });
}

void MainWindow::on_pushButton_Search_Device_clicked()
{
    if (isSearching)
        return;
    isSearching = true;

    udpSocket = new QUdpSocket;
    connect(udpSocket, SIGNAL(readyRead()), this, SLOT(readPendingDatagrams()));
    socketActive = true;

    ShowStatus(tr("Searching Device..."));
    // Removing the rows keeps the header labels, which clear() would drop.
    model->removeRows(0, model->rowCount());

    if (!ReceiveData()) {
        // Give the port back and end the search, so the next press can try
        // again instead of the window staying locked until a restart.
        EndSearch();
        ui->label_Search_State->clear();
        TipBox::Open(this, QMessageBox::Information, tr("Received data socket status is abnormal"),
            QMessageBox::Ok);
        return;
    }

    QThread::msleep(Protocol::probeAfterBindMs);
    SendData();
    // Replies may be read before the queued window starts; a flood then must
    // not hold the event loop past the same end.
    replyWindowEnd = QDeadlineTimer(collectionWindowMs, Qt::PreciseTimer);
    workThread->StartDelaySignal();
}

bool MainWindow::ReceiveData()
{
    if (udpSocket->state() == QAbstractSocket::BoundState)
        return true;
    udpSocket->bind(QHostAddress::Any, Protocol::discoveryPort,
        QAbstractSocket::ShareAddress | QAbstractSocket::ReuseAddressHint);
    if (udpSocket->state() != QAbstractSocket::BoundState)
        return false;
    SearchSocket::AskForBuffer(*udpSocket);
    return true;
}

bool MainWindow::SendData()
{
    // A send that fails (no route, no network) shows as an empty table.
    SearchSocket::SendProbesFrom(*udpSocket);
    return true;
}

void MainWindow::DelayDisconnect()
{
    // Cut short only by the application quitting, when no row matters any more.
    LocalWait::For(int(replyWindowEnd.remainingTime()));
    EndSearch();
    ui->label_Search_State->setText(tr("Search Completed"));
}

void MainWindow::EndSearch()
{
    // Replies still queued on the socket are dropped with it: they came too late.
    udpSocket->disconnect(this);
    delete udpSocket;
    udpSocket = nullptr;
    socketActive = false;
    isSearching = false;
}

void MainWindow::readPendingDatagrams()
{
    // A sustained flood keeps the socket pending for ever; the window's end
    // must still come.
    while (udpSocket->hasPendingDatagrams() && !replyWindowEnd.hasExpired()) {
        QByteArray datagram;
        datagram.resize(static_cast<int>(qMax<qint64>(udpSocket->pendingDatagramSize(), 0)));
        const qint64 length = udpSocket->readDatagram(datagram.data(), datagram.size());
        datagram.resize(static_cast<int>(qMax<qint64>(length, 0)));
        // Our own probe comes back here too, and is dropped with the rest.
        const QStringList record = DiscoveryReply::Read(datagram, *crcCalc, *analyseData);
        if (record.isEmpty())
            continue;

        QList<QStandardItem *> row;
        for (const QString &field : record) {
            auto *item = new QStandardItem(field);
            item->setTextAlignment(Qt::AlignCenter);
            row.append(item);
        }
        model->appendRow(row);
    }
}

void MainWindow::on_tableView_customContextMenuRequested(const QPoint &pos)
{
    Q_UNUSED(pos)
    if (ui->tableView->selectionModel()->selectedRows(0).count() != 1) {
        TipBox::OpenAbout(this, tr("Please select a row"));
        return;
    }

    // Popped up, not run in an event loop of its own, so that a menu left
    // open does not hold an update's wait; the chosen action runs when it is
    // chosen. The menu and its actions go once it has closed.
    auto *menu = new QMenu(this);
    connect(menu, &QMenu::aboutToHide, menu, &QObject::deleteLater);
    const struct
    {
        QString text;
        void (MainWindow::*slot)();
    } entries[] = {
        { tr("Login Page"), &MainWindow::LoginPage },
        { tr("Shut Down"), &MainWindow::ShutDown },
        { tr("Restart"), &MainWindow::Restart },
        { tr("Camera FW Update"), &MainWindow::CameraFWAction },
    };
    for (const auto &entry : entries) {
        QAction *action = menu->addAction(entry.text);
        connect(action, &QAction::triggered, this, entry.slot);
    }
    menu->popup(QCursor::pos());
}

bool MainWindow::RefuseWhileSearching()
{
    if (!isSearching)
        return false;
    TipBox::Open(this, QMessageBox::Information,
        tr("Please wait for the device search to complete"), QMessageBox::Ok);
    return true;
}

void MainWindow::LoginPage()
{
    if (RefuseWhileSearching())
        return;
    const QModelIndex current = ui->tableView->currentIndex();
    if (current.row() == -1) {
        TipBox::Open(this, QMessageBox::Information, tr("Please select a row"), QMessageBox::Ok);
        return;
    }
    const QString ip = model->index(current.row(), 0).data().toString();
    const QUrl url(
        QStringLiteral("http://") + ip + QLatin1Char(':') + QString::number(Protocol::webPagePort),
        QUrl::TolerantMode);
    QDesktopServices::openUrl(url);
}

void MainWindow::ShutDown()
{
    SendDeviceCommand({ QLatin1String(Protocol::powerOffTopic), Protocol::powerOffPayload,
        tr("Do you want to shut down?"), tr("Shut Down Cancel"), tr("Shut Down..."),
        tr("Shut Down Completed"), tr("Shut Down Failed") });
}

void MainWindow::Restart()
{
    SendDeviceCommand({ QLatin1String(Protocol::restartTopic), Protocol::restartPayload,
        tr("Do you want to restart?"), tr("Restart Cancel"), tr("Restarting..."),
        tr("Restart Completed"), tr("Restart Failed") });
}

void MainWindow::SendDeviceCommand(const DeviceCommand &command)
{
    if (RefuseWhileSearching())
        return;
    ui->label_Search_State->clear();

    const int row = ui->tableView->currentIndex().row();
    const QString ip = model->index(row, 0).data().toString();
    // The client keeps its connection between commands, to the same camera.
    mqttClient->setHostname(ip);
    mqttClient->setPort(Protocol::brokerPort);
    if (mqttClient->state() == MqttClient::Disconnected)
        mqttClient->connectToHost();

    // The connection comes up in the background while the question is open;
    // that is all the time it is given. The box keeps the rest of this window
    // from use meanwhile, so no other command can move the client on.
    QMessageBox *question = TipBox::Open(
        this, QMessageBox::Question, command.question, QMessageBox::Yes | QMessageBox::No);
    connect(question, &QMessageBox::finished, this, [this, command, ip](int answer) {
        CommandAnswered(command, ip, answer == QMessageBox::Yes);
    });
}

void MainWindow::CommandAnswered(const DeviceCommand &command, const QString &ip, bool yes)
{
    if (!yes) {
        ui->label_Search_State->setText(command.cancelled);
        return;
    }
    ShowStatus(command.sending);

    // A command goes to the camera it was asked for, or nowhere.
    if (mqttClient->state() != MqttClient::Connected || mqttClient->hostname() != ip) {
        ui->label_Search_State->setText(tr("Connect Server Failed"));
        return;
    }
    const qint32 result = mqttClient->publish(command.topic, command.payload, 0, false);
    ui->label_Search_State->setText(result == 0 ? command.completed : command.failed);
}

void MainWindow::CameraFWAction()
{
    if (RefuseWhileSearching())
        return;
    const int row = ui->tableView->currentIndex().row();
    // The window owns itself from here on and is destroyed when closed.
    auto *form = new Form(model->index(row, 0).data().toString(),
        model->index(row, 1).data().toString(), model->index(row, 2).data().toString(), nullptr);
    form->show();
}

void MainWindow::ShowStatus(const QString &text)
{
    ui->label_Search_State->setText(text);
    ui->label_Search_State->repaint();
}
