#include "labcamera.h"
#include "mainwindow.h"
#include "modalanswerer.h"
#include "urlcatcher.h"
#include "mqttclient.h"

#include <QDesktopServices>
#include <QLabel>
#include <QPushButton>
#include <QStandardItemModel>
#include <QTableView>
#include <QtTest>

#include <memory>

// Shut Down and Restart against the brokers of simulated cameras on the
// virtual LAN; each camera records every message it receives.
class TestDeviceActions : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void commandAnsweredNoPublishesNothing();
    void shutDownPublishesOneMessage();
    void restartWithoutBrokerFailsToConnect();
    void secondRestartReusesTheConnection();
    void commandReachesTheChosenCameraOnly();
    void actionsRefuseDuringSearch();

private:
    LabCamera *startCamera(int index, bool broker);
    void addRow(const QString &ip);
    void choose(int row, const QString &entry, QMessageBox::StandardButton answer, int afterMs);
    QList<QJsonObject> messages(LabCamera *camera) const { return camera->events("mqtt"); }
    void timeConnection(const char *what);

    QTableView *table() const { return window->findChild<QTableView *>("tableView"); }
    QStandardItemModel *model() const
    {
        return qobject_cast<QStandardItemModel *>(table()->model());
    }
    QLabel *status() const { return window->findChild<QLabel *>("label_Search_State"); }
    MqttClient *client() const { return window->findChild<MqttClient *>(); }

    MainWindow *window = nullptr;
    QList<LabCamera *> cameras;
};

// Long enough for the broker on the LAN to accept the connection while the
// question is open.
static const int operatorThinksMs = 600;

void TestDeviceActions::init()
{
    window = new MainWindow;
    window->show();
}

void TestDeviceActions::cleanup()
{
    delete window;
    window = nullptr;
    qDeleteAll(cameras);
    cameras.clear();
}

LabCamera *TestDeviceActions::startCamera(int index, bool broker)
{
    QStringList arguments { "--camera", "ip=" + LabCamera::address(index) };
    if (broker)
        arguments << "--broker";
    auto *camera = new LabCamera(index, arguments);
    cameras.append(camera);
    if (!camera->start())
        qWarning() << "camera" << index << "did not start:" << camera->errorString();
    return camera;
}

void TestDeviceActions::addRow(const QString &ip)
{
    QList<QStandardItem *> items { new QStandardItem(ip) };
    for (int column = 1; column < 7; ++column)
        items.append(new QStandardItem(QString("cell %1").arg(column)));
    model()->appendRow(items);
}

// Right-click on a row, choose an entry and answer its question.
void TestDeviceActions::choose(
    int row, const QString &entry, QMessageBox::StandardButton answer, int afterMs)
{
    table()->selectRow(row);
    ModalAnswerer answerer;
    answerer.chooseMenuEntry(entry);
    answerer.pressButton(answer, afterMs);
    emit table()->customContextMenuRequested(QPoint(5, 5));
    QVERIFY(answerer.allAnswered());
    QCOMPARE(answerer.unexpectedBoxes, 0);
}

// Prints how long the command client's next connection attempt takes to end.
void TestDeviceActions::timeConnection(const char *what)
{
    auto *watcher = new QObject(this);
    auto since = std::make_shared<QElapsedTimer>();
    connect(client(), &MqttClient::stateChanged, watcher, [=](MqttClient::ClientState state) {
        if (state == MqttClient::Connecting) {
            since->start();
        } else if (since->isValid()) {
            qInfo("%s after %.2f ms", what, since->nsecsElapsed() / 1e6);
            since->invalidate();
            watcher->deleteLater();
        }
    });
}

void TestDeviceActions::commandAnsweredNoPublishesNothing()
{
    LabCamera *camera = startCamera(1, true);
    QVERIFY(camera->isRunning());
    addRow(camera->address());

    choose(0, "Shut Down", QMessageBox::No, operatorThinksMs);
    QCOMPARE(status()->text(), QString("Shut Down Cancel"));
    QTest::qWait(500);
    QVERIFY(messages(camera).isEmpty());
}

void TestDeviceActions::shutDownPublishesOneMessage()
{
    LabCamera *camera = startCamera(1, true);
    QVERIFY(camera->isRunning());
    addRow(camera->address());

    timeConnection("connected to the camera's broker");
    choose(0, "Shut Down", QMessageBox::Yes, operatorThinksMs);
    QCOMPARE(status()->text(), QString("Shut Down Completed"));
    QVERIFY(camera->waitForEvent("mqtt"));
    QTest::qWait(300);
    const QList<QJsonObject> received = messages(camera);
    QCOMPARE(received.size(), 1);
    QCOMPARE(received.first().value("topic").toString(), QString("Ordel Tool_in/poweroff"));
    QCOMPARE(QByteArray::fromHex(received.first().value("payload_hex").toString().toLatin1()),
        QByteArray("Shut Down"));
    QCOMPARE(received.first().value("qos").toInt(), 0);
    QCOMPARE(received.first().value("retain").toBool(), false);
}

void TestDeviceActions::restartWithoutBrokerFailsToConnect()
{
    LabCamera *camera = startCamera(1, false);
    QVERIFY(camera->isRunning());
    addRow(camera->address());

    timeConnection("refused connection noticed");
    choose(0, "Restart", QMessageBox::Yes, operatorThinksMs);
    QCOMPARE(status()->text(), QString("Connect Server Failed"));
    QCOMPARE(client()->state(), MqttClient::Disconnected);
}

void TestDeviceActions::secondRestartReusesTheConnection()
{
    LabCamera *camera = startCamera(1, true);
    QVERIFY(camera->isRunning());
    addRow(camera->address());

    choose(0, "Restart", QMessageBox::Yes, operatorThinksMs);
    QCOMPARE(status()->text(), QString("Restart Completed"));

    QSignalSpy stateChanges(client(), &MqttClient::stateChanged);
    choose(0, "Restart", QMessageBox::Yes, 0);
    QCOMPARE(status()->text(), QString("Restart Completed"));
    QCOMPARE(stateChanges.size(), 0);

    QVERIFY(camera->waitForEvent("mqtt", 2));
    for (const QJsonObject &message : messages(camera)) {
        QCOMPARE(message.value("topic").toString(), QString("Ordel Tool_in/restart"));
        QCOMPARE(message.value("payload_hex").toString(), QString(QByteArray("Restart").toHex()));
    }
}

void TestDeviceActions::commandReachesTheChosenCameraOnly()
{
    LabCamera *first = startCamera(1, true);
    LabCamera *second = startCamera(2, true);
    QVERIFY(first->isRunning() && second->isRunning());
    addRow(first->address());
    addRow(second->address());

    choose(0, "Shut Down", QMessageBox::Yes, operatorThinksMs);
    QCOMPARE(status()->text(), QString("Shut Down Completed"));
    QVERIFY(first->waitForEvent("mqtt"));

    // The client is still connected to the first camera's broker.
    choose(1, "Shut Down", QMessageBox::Yes, operatorThinksMs);
    QCOMPARE(status()->text(), QString("Shut Down Completed"));
    QVERIFY(second->waitForEvent("mqtt"));
    QTest::qWait(300);
    QCOMPARE(messages(first).size(), 1);
    QCOMPARE(messages(second).size(), 1);
    QCOMPARE(client()->hostname(), second->address());
}

void TestDeviceActions::actionsRefuseDuringSearch()
{
    LabCamera *camera = startCamera(1, true);
    QVERIFY(camera->isRunning());
    UrlCatcher catcher;
    QDesktopServices::setUrlHandler("http", &catcher, "open");
    QSignalSpy stateChanges(client(), &MqttClient::stateChanged);

    // Inside the collection window, after the camera's row has appeared.
    ModalAnswerer answerer;
    const QStringList entries { "Login Page", "Shut Down", "Restart", "Camera FW Update" };
    QTimer::singleShot(1200, this, [&] {
        QCOMPARE(model()->rowCount(), 1);
        table()->selectRow(0);
        for (const QString &entry : entries) {
            answerer.chooseMenuEntry(entry);
            answerer.pressButton(QMessageBox::Ok);
            emit table()->customContextMenuRequested(QPoint(5, 5));
        }
    });
    QTest::mouseClick(window->findChild<QPushButton *>("pushButton_Search_Device"), Qt::LeftButton);
    QTRY_COMPARE_WITH_TIMEOUT(status()->text(), QString("Search Completed"), 6000);
    QDesktopServices::unsetUrlHandler("http");

    QCOMPARE(answerer.boxes.size(), entries.size());
    for (const SeenBox &box : answerer.boxes) {
        QCOMPARE(box.title, QString("Tip"));
        QCOMPARE(box.text, QString("Please wait for the device search to complete"));
        QCOMPARE(box.buttons, QMessageBox::Ok);
    }
    QVERIFY(catcher.urls.isEmpty());
    QCOMPARE(stateChanges.size(), 0);
    QVERIFY(messages(camera).isEmpty());
}

QTEST_MAIN(TestDeviceActions)
#include "tst_deviceactions.moc"
