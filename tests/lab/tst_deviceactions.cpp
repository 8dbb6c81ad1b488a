#include "labcamera.h"
#include "labcameras.h"
#include "mainwindow.h"
#include "modalanswerer.h"
#include "mqttclient.h"
#include "searchdriver.h"
#include "urlcatcher.h"

#include <QDesktopServices>
#include <QLabel>
#include <QStandardItemModel>
#include <QtTest>

using namespace SearchDriver;

// Long enough for the broker on the LAN to accept the connection while the
// question is open.
static const int operatorThinksMs = 600;

// Shut Down and Restart against the brokers of simulated cameras on the
// virtual LAN; each camera records every message it receives. The topics and
// payloads are spelled out here, apart from the tool's constants, to guard
// the wire.
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
    LabCamera *listCamera(int index, bool broker = true);
    QString choose(int row, const QString &entry, QMessageBox::StandardButton answer,
        int afterMs = operatorThinksMs);
    QList<QJsonObject> messages(LabCamera *camera) const { return camera->events("mqtt"); }
    MqttClient *client() const { return window->findChild<MqttClient *>(); }

    MainWindow *window = nullptr;
    LabCameras cameras;
};

void TestDeviceActions::init()
{
    window = new MainWindow;
    window->show();
}

void TestDeviceActions::cleanup()
{
    delete window;
    cameras.clear();
}

// A camera on the LAN, with its row in the table as a search would list it.
LabCamera *TestDeviceActions::listCamera(int index, bool broker)
{
    QStringList arguments { "--camera", "ip=" + LabCamera::address(index) };
    if (broker)
        arguments << "--broker";
    LabCamera *camera = cameras.start(index, arguments);
    addRow(window, { camera->address(), "00:1A:2B:3C:4D:5E", "SN1", "Gate", "T", "1", "1" });
    return camera;
}

// Right-click on a row, choose an entry and answer its question; returns the
// status line then, or what went wrong with the menu and the boxes.
QString TestDeviceActions::choose(
    int row, const QString &entry, QMessageBox::StandardButton answer, int afterMs)
{
    ModalAnswerer answerer;
    chooseFromMenu(window, answerer, row, entry, answer, afterMs);
    if (!answerer.allAnswered() || answerer.unexpectedBoxes != 0)
        return QStringLiteral("not answered as queued");
    return status(window)->text();
}

void TestDeviceActions::commandAnsweredNoPublishesNothing()
{
    LabCamera *camera = listCamera(1);
    QVERIFY(camera->isRunning());
    QCOMPARE(choose(0, "Shut Down", QMessageBox::No), QString("Shut Down Cancel"));
    QTest::qWait(500);
    QVERIFY(messages(camera).isEmpty());
}

void TestDeviceActions::shutDownPublishesOneMessage()
{
    LabCamera *camera = listCamera(1);
    QVERIFY(camera->isRunning());
    QCOMPARE(choose(0, "Shut Down", QMessageBox::Yes), QString("Shut Down Completed"));
    QCOMPARE(camera->onlyMessage(), LabCamera::message("Ordel Tool_in/poweroff", "Shut Down"));
}

void TestDeviceActions::restartWithoutBrokerFailsToConnect()
{
    QVERIFY(listCamera(1, false)->isRunning());
    QCOMPARE(choose(0, "Restart", QMessageBox::Yes), QString("Connect Server Failed"));
    QCOMPARE(client()->state(), MqttClient::Disconnected);
}

void TestDeviceActions::secondRestartReusesTheConnection()
{
    LabCamera *camera = listCamera(1);
    QVERIFY(camera->isRunning());
    QCOMPARE(choose(0, "Restart", QMessageBox::Yes), QString("Restart Completed"));
    QSignalSpy stateChanges(client(), &MqttClient::stateChanged);
    QCOMPARE(choose(0, "Restart", QMessageBox::Yes, 0), QString("Restart Completed"));
    QCOMPARE(stateChanges.size(), 0);

    QVERIFY(camera->waitForEvent("mqtt", 2));
    for (const QJsonObject &message : messages(camera)) {
        QCOMPARE(message.value("topic").toString(), QString("Ordel Tool_in/restart"));
        QCOMPARE(message.value("payload_hex").toString(), QString(QByteArray("Restart").toHex()));
    }
}

void TestDeviceActions::commandReachesTheChosenCameraOnly()
{
    LabCamera *first = listCamera(1);
    LabCamera *second = listCamera(2);
    QVERIFY(first->isRunning() && second->isRunning());
    QCOMPARE(choose(0, "Shut Down", QMessageBox::Yes), QString("Shut Down Completed"));
    QVERIFY(first->waitForEvent("mqtt"));

    // The client is still connected to the first camera's broker.
    QCOMPARE(choose(1, "Shut Down", QMessageBox::Yes), QString("Shut Down Completed"));
    const QString shutDown = LabCamera::message("Ordel Tool_in/poweroff", "Shut Down");
    QCOMPARE(second->onlyMessage(), shutDown);
    QCOMPARE(first->onlyMessage(0), shutDown);
    QCOMPARE(client()->hostname(), second->address());
}

void TestDeviceActions::actionsRefuseDuringSearch()
{
    LabCamera *camera = cameras.start(1, { "--camera", "ip=" + LabCamera::address(1), "--broker" });
    QVERIFY(camera->isRunning());
    UrlCatcher catcher;
    QDesktopServices::setUrlHandler("http", &catcher, "open");
    QSignalSpy stateChanges(client(), &MqttClient::stateChanged);

    // Inside the collection window, after the camera's row has appeared.
    ModalAnswerer answerer;
    const QStringList entries { "Login Page", "Shut Down", "Restart", "Camera FW Update" };
    QTimer::singleShot(1200, this, [&] {
        QCOMPARE(model(window)->rowCount(), 1);
        for (const QString &entry : entries)
            chooseFromMenu(window, answerer, 0, entry, QMessageBox::Ok);
    });
    const bool searched = search(window);
    QDesktopServices::unsetUrlHandler("http");
    QVERIFY(searched);

    QStringList refusals;
    for (int entry = 0; entry < entries.size(); ++entry)
        refusals << ModalAnswerer::tip("Please wait for the device search to complete");
    QCOMPARE(answerer.seenBoxes(), refusals);
    QVERIFY(catcher.urls.isEmpty());
    QCOMPARE(stateChanges.size(), 0);
    QVERIFY(messages(camera).isEmpty());
}

QTEST_MAIN(TestDeviceActions)
#include "tst_deviceactions.moc"
