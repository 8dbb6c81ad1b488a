#include "form.h"
#include "labcamera.h"
#include "labcameras.h"
#include "mainwindow.h"
#include "modalanswerer.h"
#include "protocol.h"
#include "searchdriver.h"
#include "updatedriver.h"

#include <QLabel>
#include <QPushButton>
#include <QStandardItemModel>
#include <QUdpSocket>
#include <QtTest>

using namespace SearchDriver;

// The device search against simulated cameras on the virtual LAN. Runs inside
// the tool's namespace (tools/lab/lab.sh), where the broadcast can reach only
// the simulators.
class TestSearch : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void listsCamerasInArrivalOrder();
    void ignoresSecondPressDuringSearch();
    void dropsMalformedReplies();
    void listsDuplicateRepliesTwice();
    void ignoresRepliesAfterTheWindow();
    void secondSearchReplacesTheRows();
    void searchSharesThePortWithSharingSockets();
    void failedBindReleasesTheSearch();
    void listsCamerasOnEveryNetwork_data();
    void listsCamerasOnEveryNetwork();
    void updateNamesTheHostAddressOnTheCamerasNetwork_data();
    void updateNamesTheHostAddressOnTheCamerasNetwork();

private:
    // A camera answering a probe once per set of fields; null if it did not start.
    LabCamera *start(int index, const QStringList &fieldSets);

    LabCameras cameras;
    MainWindow *window = nullptr;
};

void TestSearch::init()
{
    window = new MainWindow;
    window->show();
}

void TestSearch::cleanup()
{
    UpdateDriver::closeWindows();
    cameras.clear();
    delete window;
}

LabCamera *TestSearch::start(int index, const QStringList &fieldSets)
{
    QStringList arguments;
    for (const QString &fields : fieldSets)
        arguments << "--camera" << fields;
    LabCamera *camera = cameras.start(index, arguments);
    return camera->isRunning() ? camera : nullptr;
}

void TestSearch::listsCamerasInArrivalOrder()
{
    // Delays fix the arrival order; the first camera writes an address into
    // its reply that differs from the one it sends from, and the table must
    // show the written one.
    QVERIFY(start(2,
        { "ip=198.51.100.12,mac=00:1a:2b:3c:4d:02,sn=SN-0002,name=Loading "
          "Bay,type=IPC-B410,os=4.19.2,fw=2.8.1,delay=300" }));
    QVERIFY(start(1,
        { "ip=192.168.1.10,mac=00:1A:2B:3C:4D:5E,sn=ABCDEFGHIJKLMNOPQRST,"
          "name=Cam%E9ra <b>1</b>,type=IPC-D240,os=10.0.19045.1,fw=1.0,delay=0" }));
    QVERIFY(start(3,
        { "ip=198.51.100.13,mac=0a:0b:0c:0d:0e:0f,sn=,name=Lobby,type=IPC-T120,"
          "os=4.19.2,fw=2.8.1,delay=150" }));

    QVERIFY(search(window));
    QCOMPARE(model(window)->rowCount(), 3);
    QCOMPARE(row(window, 0),
        QStringList({ "192.168.1.10", "00:1A:2B:3C:4D:5E", "ABCDEFGHIJKLMNOPQRST",
            QStringLiteral("Cam\u00E9ra <b>1</b>"), "IPC-D240", "10.0.19045", "1.0" }));
    QCOMPARE(row(window, 1),
        QStringList(
            { "198.51.100.13", "0A:0B:0C:0D:0E:0F", "", "Lobby", "IPC-T120", "4.19.2", "2.8.1" }));
    QCOMPARE(row(window, 2),
        QStringList({ "198.51.100.12", "00:1A:2B:3C:4D:02", "SN-0002", "Loading Bay", "IPC-B410",
            "4.19.2", "2.8.1" }));
    for (int r = 0; r < 3; ++r) {
        for (int column = 0; column < 7; ++column)
            QCOMPARE(model(window)->item(r, column)->textAlignment(), Qt::AlignCenter);
    }
}

void TestSearch::ignoresSecondPressDuringSearch()
{
    LabCamera *camera = start(1, { "ip=198.51.100.11" });
    QVERIFY(camera);

    // Both presses land inside the collection window.
    QTimer::singleShot(
        800, this, [this] { QTest::mouseClick(searchButton(window), Qt::LeftButton); });
    QTimer::singleShot(1600, this, [this] { searchButton(window)->click(); });
    QVERIFY(search(window));
    // A second search would have sent a second probe by now.
    QTest::qWait(3000);
    QCOMPARE(camera->events("probe").size(), 1);
    QCOMPARE(status(window)->text(), QString("Search Completed"));
    QCOMPARE(model(window)->rowCount(), 1);
}

void TestSearch::dropsMalformedReplies()
{
    LabCamera *camera = start(1,
        { "ip=10.0.0.1,fault=bad-crc", "ip=10.0.0.2,fault=crc-low-first",
            "ip=10.0.0.3,fault=bad-length-byte", "ip=10.0.0.4,fault=short",
            "ip=10.0.0.5,fault=long", "ip=10.0.0.6,fault=bad-id", "ip=10.0.0.7" });
    QVERIFY(camera);
    QVERIFY(search(window));
    QCOMPARE(camera->events("reply").size(), 7);
    QCOMPARE(model(window)->rowCount(), 1);
    QCOMPARE(row(window, 0).first(), QString("10.0.0.7"));
}

void TestSearch::listsDuplicateRepliesTwice()
{
    QVERIFY(start(1, { "ip=10.0.0.9,sn=TWICE,fault=duplicate" }));
    QVERIFY(search(window));
    QCOMPARE(model(window)->rowCount(), 2);
    QCOMPARE(row(window, 0), row(window, 1));
    QCOMPARE(row(window, 0).at(2), QString("TWICE"));
}

void TestSearch::ignoresRepliesAfterTheWindow()
{
    LabCamera *camera = start(1, { "ip=10.0.0.1", "ip=10.0.0.2,delay=2600" });
    QVERIFY(camera);
    QVERIFY(search(window));
    QVERIFY(camera->waitForEvent("reply", 2));
    QTest::qWait(200);
    QCOMPARE(model(window)->rowCount(), 1);
    QCOMPARE(row(window, 0).first(), QString("10.0.0.1"));
}

void TestSearch::secondSearchReplacesTheRows()
{
    LabCamera *first = start(1, { "ip=10.0.0.1" });
    QVERIFY(first);
    QVERIFY(search(window));
    QCOMPARE(model(window)->rowCount(), 1);

    first->stop();
    QVERIFY(start(2, { "ip=10.0.0.2" }));
    QVERIFY(search(window));
    QCOMPARE(model(window)->rowCount(), 1);
    QCOMPARE(row(window, 0).first(), QString("10.0.0.2"));
    QCOMPARE(model(window)->columnCount(), 7);
    QCOMPARE(model(window)->headerData(0, Qt::Horizontal).toString(), QString("IP Address"));
}

void TestSearch::searchSharesThePortWithSharingSockets()
{
    QVERIFY(start(1, { "ip=10.0.0.1" }));
    QUdpSocket other;
    QVERIFY(other.bind(QHostAddress::Any, Protocol::discoveryPort,
        QAbstractSocket::ShareAddress | QAbstractSocket::ReuseAddressHint));
    ModalAnswerer answerer;
    QVERIFY(search(window));
    QCOMPARE(answerer.boxes.size(), 0);
    QCOMPARE(model(window)->rowCount(), 1);
}

void TestSearch::failedBindReleasesTheSearch()
{
    LabCamera *camera = start(1, { "ip=10.0.0.1" });
    QVERIFY(camera);
    auto *holder = new QUdpSocket(this);
    QVERIFY(holder->bind(
        QHostAddress::Any, Protocol::discoveryPort, QAbstractSocket::DontShareAddress));

    ModalAnswerer answerer;
    answerer.pressButton(QMessageBox::Ok);
    QTest::mouseClick(searchButton(window), Qt::LeftButton);
    QVERIFY(answerer.waitUntilAnswered());
    QCOMPARE(
        answerer.seenBoxes(), { ModalAnswerer::tip("Received data socket status is abnormal") });
    QCOMPARE(model(window)->rowCount(), 0);
    QTest::qWait(300);
    QCOMPARE(camera->events("probe").size(), 0);

    // The port is free again: the very next press searches as usual.
    delete holder;
    QVERIFY(search(window));
    QCOMPARE(model(window)->rowCount(), 1);
    QCOMPARE(answerer.boxes.size(), 1);
}

// One row per shape of the host's networks; ctest runs each in a lab shaped
// to match (tests/lab/CMakeLists.txt), and a lab that does not match skips it.
void TestSearch::listsCamerasOnEveryNetwork_data()
{
    QTest::addColumn<bool>("secondNetwork");
    QTest::addColumn<bool>("defaultRoute");
    QTest::addColumn<bool>("secondaryAddress");
    QTest::addColumn<bool>("twinInterface");
    // The default route goes through the first network, as to an office LAN.
    QTest::newRow("two networks") << true << true << false << false;
    QTest::newRow("no default route") << false << false << false << false;
    QTest::newRow("two interfaces on one network") << false << true << false << true;
    QTest::newRow("second address on another network") << true << true << true << false;
}

void TestSearch::listsCamerasOnEveryNetwork()
{
    QFETCH(bool, secondNetwork);
    QFETCH(bool, defaultRoute);
    QFETCH(bool, secondaryAddress);
    QFETCH(bool, twinInterface);
    const int second = qEnvironmentVariableIntValue("LAB_SECOND_CAMERAS");
    if ((second > 0) != secondNetwork
        || (qEnvironmentVariableIntValue("LAB_DEFAULT_ROUTE") == 1) != defaultRoute
        || (qEnvironmentVariableIntValue("LAB_SECONDARY_ADDRESS") == 1) != secondaryAddress
        || qEnvironmentVariableIsEmpty("LAB_TWIN_TOOL_IP") == twinInterface)
        QSKIP("runs in the lab this row describes");

    QStringList expected;
    const int count = qEnvironmentVariableIntValue("LAB_CAMERAS") + second;
    for (int index = 1; index <= count; ++index) {
        QVERIFY(start(index, { "ip=" + LabCamera::address(index) }));
        expected << LabCamera::address(index);
    }
    QVERIFY(search(window));

    QStringList listed;
    for (int r = 0; r < model(window)->rowCount(); ++r)
        listed << row(window, r).first();
    listed.sort();
    expected.sort();
    QCOMPARE(listed, expected);
    // One probe from the host's address on each network: a second probe on
    // one network, through the default route or a second interface, would
    // make its cameras answer twice. Networks that share a segment each send
    // their own, and a camera answers only the one from its network.
    const int networksOnSegment = secondaryAddress ? 2 : 1;
    for (const LabCamera *camera : cameras.all()) {
        const QList<QJsonObject> probes = camera->events("probe");
        QCOMPARE(probes.size(), networksOnSegment);
        int fromOwnNetwork = 0;
        for (const QJsonObject &probe : probes) {
            if (probe.value("from").toString()
                == camera->toolAddress() + ':' + QString::number(Protocol::discoveryPort))
                ++fromOwnNetwork;
        }
        QCOMPARE(fromOwnNetwork, 1);
    }
}

void TestSearch::updateNamesTheHostAddressOnTheCamerasNetwork_data()
{
    // The host lists the second network's address last, so on the first
    // network the last address listed is the wrong one.
    QTest::addColumn<int>("index");
    QTest::newRow("first network") << 1;
    QTest::newRow("second network") << qEnvironmentVariableIntValue("LAB_CAMERAS") + 1;
}

void TestSearch::updateNamesTheHostAddressOnTheCamerasNetwork()
{
    QFETCH(int, index);
    if (qEnvironmentVariableIntValue("LAB_SECOND_CAMERAS") == 0)
        QSKIP("needs a lab with a second network");
    LabCamera *camera = cameras.start(index, LabCameras::updating());
    const QString image = UpdateDriver::imageFile("fw.bin", UpdateDriver::randomBytes(1000));
    Form *form = UpdateDriver::openWindow(camera, image);
    QVERIFY(form);
    UPDATE_STEP(UpdateDriver::start(form));
    UPDATE_STEP(UpdateDriver::verifySucceeded(form));

    const QList<QJsonObject> requests = camera->events("update-request");
    QCOMPARE(requests.size(), 1);
    const QJsonObject request
        = QJsonDocument::fromJson(requests.first().value("payload").toString().toUtf8()).object();
    QCOMPARE(request.value("client_ip").toString(), camera->toolAddress());
}

QTEST_MAIN(TestSearch)
#include "tst_search.moc"
