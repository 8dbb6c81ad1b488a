// Checks the camera simulator against the protocol the tool expects, from the
// tool's namespace of the virtual LAN. Run it through tools/lab/lab.sh run
// with at least 3 cameras and CAMSIM set to the simulator.

#include "labcamera.h"

#include <QCryptographicHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QMutex>
#include <QMutexLocker>
#include <QNetworkDatagram>
#include <QSet>
#include <QTcpSocket>
#include <QUdpSocket>
#include <QtTest>

#include <mosquitto.h>

#include <csignal>

namespace {

const QByteArray probe = QByteArray::fromHex("fa0100003c61");
constexpr quint16 discoveryPort = 6999;
constexpr quint16 mqttPort = 1883;
constexpr quint16 updatePort = 8000;
constexpr quint16 httpPort = 8888;
constexpr int replyLength = 105;
constexpr int replyWindowMs = 1000;
constexpr int eventTimeoutMs = 5000;
constexpr int mqttTimeoutMs = 5000;
constexpr int crowdSize = 1000;
constexpr int crowdWindowMs = 5000;
constexpr int floodSize = 2000;
constexpr int statusFloodSize = 500;
// Room for a crowd's replies while the test's event loop catches up.
constexpr int crowdReceiveBuffer = 4 * 1024 * 1024;
const char statusTopic[] = "Ordel Tool_out/update_camera_fw";
const char requestTopic[] = "Ordel Tool_in/update_camera_fw";

// Written out bit by bit rather than shared with the tool, so a mistake in
// the tool's table cannot hide in both sides.
quint16 modbusCrc(const QByteArray &data)
{
    quint16 crc = 0xFFFF;
    for (const char byte : data) {
        crc ^= quint8(byte);
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 1) ? quint16((crc >> 1) ^ 0xA001) : quint16(crc >> 1);
    }
    return crc;
}

bool checksumHighFirst(const QByteArray &frame)
{
    const quint16 crc = modbusCrc(frame.left(frame.size() - 2));
    return quint8(frame.at(frame.size() - 2)) == crc >> 8
        && quint8(frame.at(frame.size() - 1)) == (crc & 0xFF);
}

QByteArray padded(const QByteArray &text, int width)
{
    return text + QByteArray(width - text.size(), '\0');
}

QByteArray image(int size)
{
    QByteArray bytes(size, '\0');
    for (int n = 0; n < size; ++n)
        bytes[n] = char((n * 7 + 3) & 0xFF);
    return bytes;
}

QByteArray updateRequest(const QByteArray &firmware)
{
    return "{\"buffer_size\":\"4096\",\"client_ip\":\"" + qgetenv("LAB_TOOL_IP")
        + "\",\"file_md5\":\"" + QCryptographicHash::hash(firmware, QCryptographicHash::Md5).toHex()
        + "\",\"file_name\":\"fw.bin\",\"file_size\":\"" + QByteArray::number(firmware.size())
        + "\"}";
}

} // namespace

// The tool's side of MQTT, kept independent of the tool's own client. The
// library's thread fills the lists; the test reads them under the mutex.
class MqttPeer
{
public:
    MqttPeer() { client = mosquitto_new(nullptr, true, this); }
    ~MqttPeer()
    {
        mosquitto_disconnect(client);
        mosquitto_loop_stop(client, false);
        mosquitto_destroy(client);
    }

    bool connectTo(const QString &host)
    {
        mosquitto_subscribe_callback_set(
            client, [](mosquitto *, void *self, int, int, const int *) {
                auto peer = static_cast<MqttPeer *>(self);
                QMutexLocker locker(&peer->mutex);
                ++peer->subscriptions;
            });
        mosquitto_publish_callback_set(client, [](mosquitto *, void *self, int) {
            auto peer = static_cast<MqttPeer *>(self);
            QMutexLocker locker(&peer->mutex);
            ++peer->published;
        });
        mosquitto_message_callback_set(
            client, [](mosquitto *, void *self, const mosquitto_message *message) {
                auto peer = static_cast<MqttPeer *>(self);
                QMutexLocker locker(&peer->mutex);
                peer->messages.append(
                    QByteArray(static_cast<const char *>(message->payload), message->payloadlen));
            });
        return mosquitto_connect(client, host.toLatin1().constData(), mqttPort, 60)
            == MOSQ_ERR_SUCCESS
            && mosquitto_loop_start(client) == MOSQ_ERR_SUCCESS;
    }

    bool subscribe(const char *topic)
    {
        return mosquitto_subscribe(client, nullptr, topic, 0) == MOSQ_ERR_SUCCESS;
    }

    bool publish(const char *topic, const QByteArray &payload, int qos, bool retain)
    {
        return mosquitto_publish(
                   client, nullptr, topic, payload.size(), payload.constData(), qos, retain)
            == MOSQ_ERR_SUCCESS;
    }

    int subscriptionCount()
    {
        QMutexLocker locker(&mutex);
        return subscriptions;
    }

    int publishedCount()
    {
        QMutexLocker locker(&mutex);
        return published;
    }

    QList<QByteArray> received()
    {
        QMutexLocker locker(&mutex);
        return messages;
    }

private:
    mosquitto *client;
    QMutex mutex;
    int subscriptions = 0;
    int published = 0;
    QList<QByteArray> messages;
};

class tst_Camsim : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void replyCarriesTheIdentity();
    void textFieldsAreRawPaddedAndCut();
    void faultsAlterTheFrame_data();
    void faultsAlterTheFrame();
    void duplicateSendsTwoEqualReplies();
    void delayedReplyComesLate();
    void otherDatagramsAreIgnored();
    void crowdAnswersInOneBurst();
    void floodFollowsTheReplies();
    void brokerRecordsQosAndRetain();
    void updateSucceeds();
    void droppedUpdateFailsTheCheck();
    void statusFaultsMalformTheReports();
    void statusFloodAddsProgressReports();
    void killedBrokerIsLogged();
    void httpNamesTheCamera();

private:
    LabCamera *startCamera(int index, const QStringList &arguments);
    QList<QByteArray> probeAndCollect(int expected, int windowMs = replyWindowMs);
    void pushImage(const QString &host, const QByteArray &firmware);
    bool announce(
        LabCamera *camera, MqttPeer &tool, const QByteArray &firmware, bool watchStatus = false);

    QList<LabCamera *> cameras;
};

void tst_Camsim::initTestCase()
{
    if (qEnvironmentVariableIsEmpty("LAB_NAME"))
        QSKIP("needs the virtual LAN: run through tools/lab/lab.sh run");
    QVERIFY(qEnvironmentVariableIntValue("LAB_CAMERAS") >= 3);
    QCOMPARE(modbusCrc("123456789"), quint16(0x4B37));
    mosquitto_lib_init();
}

void tst_Camsim::init()
{
    cameras.clear();
}

void tst_Camsim::cleanup()
{
    qDeleteAll(cameras);
    cameras.clear();
}

LabCamera *tst_Camsim::startCamera(int index, const QStringList &arguments)
{
    auto camera = new LabCamera(index, arguments);
    cameras.append(camera);
    if (!camera->start())
        qWarning("%s", qPrintable(camera->errorString()));
    return camera;
}

QList<QByteArray> tst_Camsim::probeAndCollect(int expected, int windowMs)
{
    QUdpSocket socket;
    socket.bind(QHostAddress::AnyIPv4, discoveryPort,
        QUdpSocket::ShareAddress | QUdpSocket::ReuseAddressHint);
    socket.setSocketOption(QAbstractSocket::ReceiveBufferSizeSocketOption, crowdReceiveBuffer);
    QList<QByteArray> replies;
    const QHostAddress toolAddress(qEnvironmentVariable("LAB_TOOL_IP"));
    connect(&socket, &QUdpSocket::readyRead, &socket, [&] {
        while (socket.hasPendingDatagrams()) {
            const QNetworkDatagram datagram = socket.receiveDatagram();
            // The broadcast comes back to its sender too.
            if (QHostAddress(datagram.senderAddress().toIPv4Address()) != toolAddress)
                replies.append(datagram.data());
        }
    });
    socket.writeDatagram(probe, QHostAddress::Broadcast, discoveryPort);
    // Too few replies is for the caller to judge, so the outcome is not checked here.
    const bool complete = QTest::qWaitFor([&] { return replies.size() >= expected; }, windowMs);
    Q_UNUSED(complete)
    return replies;
}

void tst_Camsim::pushImage(const QString &host, const QByteArray &firmware)
{
    QTcpSocket socket;
    socket.connectToHost(host, updatePort);
    QVERIFY(socket.waitForConnected(eventTimeoutMs));
    socket.write(firmware);
    QTRY_COMPARE_WITH_TIMEOUT(socket.bytesToWrite(), qint64(0), eventTimeoutMs);
    socket.disconnectFromHost();
    if (socket.state() != QAbstractSocket::UnconnectedState)
        socket.waitForDisconnected(eventTimeoutMs);
}

// Connects as the tool would, optionally subscribes to the camera's reports,
// publishes the update request for firmware and waits for the image port.
bool tst_Camsim::announce(
    LabCamera *camera, MqttPeer &tool, const QByteArray &firmware, bool watchStatus)
{
    if (!tool.connectTo(camera->address()))
        return false;
    if (watchStatus) {
        if (!tool.subscribe(statusTopic)
            || !QTest::qWaitFor([&] { return tool.subscriptionCount() == 1; }, mqttTimeoutMs))
            return false;
    }
    return tool.publish(requestTopic, updateRequest(firmware), 0, false)
        && camera->waitForEvent("tcp-listen");
}

void tst_Camsim::replyCarriesTheIdentity()
{
    QVERIFY(startCamera(1, {})->isRunning());
    QVERIFY(startCamera(2,
        { "--camera",
            "ip=198.51.100.77,mac=aa:bb:cc:dd:ee:0f,sn=SN1,name=Gate,type=T1,os=4.1,"
            "fw=V9" })
                ->isRunning());

    const QList<QByteArray> replies = probeAndCollect(2);
    QCOMPARE(replies.size(), 2);
    const QByteArray custom = replies.at(0).mid(3, 4) == QByteArray::fromHex("c633644d")
        ? replies.at(0)
        : replies.at(1);
    for (const QByteArray &reply : replies) {
        QCOMPARE(reply.size(), replyLength);
        QCOMPARE(reply.left(3), QByteArray::fromHex("fa0164"));
        QVERIFY(checksumHighFirst(reply));
    }
    QCOMPARE(custom.mid(3, 4), QByteArray::fromHex("c633644d"));
    QCOMPARE(custom.mid(7, 6), QByteArray::fromHex("aabbccddee0f"));
    QCOMPARE(custom.mid(13, 20), padded("SN1", 20));
    QCOMPARE(custom.mid(33, 20), padded("Gate", 20));
    QCOMPARE(custom.mid(53, 20), padded("T1", 20));
    QCOMPARE(custom.mid(73, 10), padded("4.1", 10));
    QCOMPARE(custom.mid(83, 20), padded("V9", 20));

    QVERIFY(cameras.at(0)->waitForEvent("reply"));
    const QJsonObject probeEvent = cameras.at(0)->events("probe").value(0);
    QCOMPARE(probeEvent.value("from").toString(),
        qEnvironmentVariable("LAB_TOOL_IP") + QStringLiteral(":6999"));
}

void tst_Camsim::textFieldsAreRawPaddedAndCut()
{
    QVERIFY(startCamera(
        1, { "--camera", "name=Cam%E9ra%2C1,sn=ABCDEFGHIJKLMNOPQRSTUVWXYZ,os=0123456789" })
                ->isRunning());
    const QList<QByteArray> replies = probeAndCollect(1);
    QCOMPARE(replies.size(), 1);
    const QByteArray reply = replies.constFirst();
    QCOMPARE(reply.mid(33, 20), padded("Cam\xe9ra,1", 20));
    QCOMPARE(reply.mid(13, 20), QByteArray("ABCDEFGHIJKLMNOPQRST"));
    QCOMPARE(reply.mid(73, 10), QByteArray("0123456789"));
    QVERIFY(checksumHighFirst(reply));
}

void tst_Camsim::faultsAlterTheFrame_data()
{
    QTest::addColumn<QString>("fault");
    QTest::addColumn<int>("length");
    QTest::addColumn<QByteArray>("head");
    QTest::addColumn<bool>("checksumValid");

    QTest::newRow("bad-crc") << "bad-crc" << 105 << QByteArray::fromHex("fa0164") << false;
    QTest::newRow("bad-length-byte")
        << "bad-length-byte" << 105 << QByteArray::fromHex("fa0165") << true;
    QTest::newRow("short") << "short" << 104 << QByteArray::fromHex("fa0164") << false;
    QTest::newRow("long") << "long" << 106 << QByteArray::fromHex("fa0164") << false;
    QTest::newRow("bad-id") << "bad-id" << 105 << QByteArray::fromHex("fa0264") << true;
}

void tst_Camsim::faultsAlterTheFrame()
{
    QFETCH(QString, fault);
    QFETCH(int, length);
    QFETCH(QByteArray, head);
    QFETCH(bool, checksumValid);

    QVERIFY(startCamera(1, { "--camera", "fault=" + fault })->isRunning());
    const QList<QByteArray> replies = probeAndCollect(1);
    QCOMPARE(replies.size(), 1);
    const QByteArray reply = replies.constFirst();
    QCOMPARE(reply.size(), length);
    QCOMPARE(reply.left(3), head);
    QCOMPARE(checksumHighFirst(reply), checksumValid);
}

void tst_Camsim::duplicateSendsTwoEqualReplies()
{
    QVERIFY(startCamera(1, { "--camera", "fault=crc-low-first", "--camera", "fault=duplicate" })
                ->isRunning());
    QList<QByteArray> replies = probeAndCollect(3);
    QCOMPARE(replies.size(), 3);
    const QByteArray lowFirst = replies.at(0);
    const QByteArray swapped = lowFirst.left(replyLength - 2) + lowFirst.at(replyLength - 1)
        + lowFirst.at(replyLength - 2);
    QVERIFY(!checksumHighFirst(lowFirst));
    QVERIFY(checksumHighFirst(swapped));
    QCOMPARE(replies.at(1), replies.at(2));
    QVERIFY(checksumHighFirst(replies.at(1)));
}

void tst_Camsim::delayedReplyComesLate()
{
    QVERIFY(startCamera(1, { "--camera", "delay=1500" })->isRunning());
    QElapsedTimer clock;
    clock.start();
    QCOMPARE(probeAndCollect(1, 3000).size(), 1);
    QVERIFY2(clock.elapsed() >= 1400, qPrintable(QString::number(clock.elapsed())));
}

void tst_Camsim::otherDatagramsAreIgnored()
{
    LabCamera *camera = startCamera(1, {});
    QVERIFY(camera->isRunning());
    QUdpSocket socket;
    socket.writeDatagram(
        QByteArray::fromHex("fa0100003c62"), QHostAddress(camera->address()), discoveryPort);
    QVERIFY(camera->waitForEvent("ignored"));
    QCOMPARE(camera->events("ignored").constFirst().value("hex").toString(),
        QStringLiteral("fa0100003c62"));
    QVERIFY(camera->events("reply").isEmpty());
}

void tst_Camsim::crowdAnswersInOneBurst()
{
    LabCamera *camera = startCamera(1, { "--generate", QString::number(crowdSize) });
    QVERIFY(camera->isRunning());
    const QList<QByteArray> replies = probeAndCollect(crowdSize, crowdWindowMs);
    QVERIFY(camera->waitForEvent("burst"));
    QCOMPARE(camera->events("burst").constFirst().value("sent").toInt(), crowdSize);
    QSet<QByteArray> serials;
    for (const QByteArray &reply : replies) {
        QVERIFY(checksumHighFirst(reply));
        serials.insert(reply.mid(13, 20));
    }
    QCOMPARE(serials.size(), crowdSize);
    QVERIFY(serials.contains(padded("SN0000001", 20)));
}

// The flood is only worth its name if much of it gets past the tool's length
// check and part of it past the identifier and length byte too.
void tst_Camsim::floodFollowsTheReplies()
{
    LabCamera *camera = startCamera(1, { "--flood", QString::number(floodSize) });
    QVERIFY(camera->isRunning());
    const QList<QByteArray> datagrams = probeAndCollect(floodSize + 1, crowdWindowMs);
    QVERIFY(camera->waitForEvent("flood"));
    QCOMPARE(camera->events("flood").constFirst().value("sent").toInt(), floodSize);
    QCOMPARE(datagrams.size(), floodSize + 1);
    QVERIFY(checksumHighFirst(datagrams.constFirst()));
    int ofReplyLength = 0;
    int replyShaped = 0;
    for (const QByteArray &datagram : datagrams.mid(1)) {
        QVERIFY(datagram.size() <= 300);
        if (datagram.size() != replyLength)
            continue;
        ++ofReplyLength;
        if (datagram.left(3) == QByteArray::fromHex("fa0164")) {
            ++replyShaped;
            QVERIFY(!checksumHighFirst(datagram));
        }
    }
    qInfo("%d of %d flood datagrams have the reply's length, %d of them its shape", ofReplyLength,
        floodSize, replyShaped);
    // Two in three and one in three are expected.
    QVERIFY(ofReplyLength > floodSize / 2);
    QVERIFY(replyShaped > floodSize / 4);
}

void tst_Camsim::brokerRecordsQosAndRetain()
{
    LabCamera *camera = startCamera(1, { "--broker" });
    QVERIFY(camera->isRunning());
    QVERIFY(camera->brokerPid() > 0);
    MqttPeer tool;
    QVERIFY(tool.connectTo(camera->address()));
    QVERIFY(tool.publish("Ordel Tool_in/poweroff", "Shut Down", 0, false));
    QVERIFY(tool.publish("Ordel Tool_in/restart", "Restart", 1, true));
    QVERIFY(camera->waitForEvent("mqtt", 2));

    const QList<QJsonObject> messages = camera->events("mqtt");
    QCOMPARE(messages.at(0).value("topic").toString(), QStringLiteral("Ordel Tool_in/poweroff"));
    QCOMPARE(messages.at(0).value("payload_hex").toString(), QStringLiteral("5368757420446f776e"));
    QCOMPARE(messages.at(0).value("qos").toInt(), 0);
    QCOMPARE(messages.at(0).value("retain").toBool(), false);
    QCOMPARE(messages.at(1).value("topic").toString(), QStringLiteral("Ordel Tool_in/restart"));
    QCOMPARE(messages.at(1).value("qos").toInt(), 1);
    QCOMPARE(messages.at(1).value("retain").toBool(), true);
}

void tst_Camsim::updateSucceeds()
{
    LabCamera *camera = startCamera(2, { "--broker", "--update" });
    QVERIFY(camera->isRunning());
    MqttPeer tool;
    const QByteArray firmware = image(200000);
    QVERIFY(announce(camera, tool, firmware, true));
    pushImage(camera->address(), firmware);
    QVERIFY(camera->waitForEvent("image"));

    const QJsonObject result = camera->events("image").constFirst();
    QCOMPARE(result.value("ok").toBool(), true);
    QCOMPARE(result.value("size").toInt(), firmware.size());
    const QByteArray success
        = R"({"type":"2","errorcode":"0","progress":"100","message":"Update succeeded"})";
    QTRY_VERIFY_WITH_TIMEOUT(tool.received().contains(success), mqttTimeoutMs);
    const QList<QByteArray> statuses = tool.received();
    QVERIFY(statuses.size() >= 2);
    const QJsonObject first = QJsonDocument::fromJson(statuses.constFirst()).object();
    QCOMPARE(first.value("type").toString(), QStringLiteral("1"));
    QCOMPARE(first.value("message").toString(), QStringLiteral("Receiving firmware..."));
}

void tst_Camsim::droppedUpdateFailsTheCheck()
{
    LabCamera *camera
        = startCamera(3, { "--broker", "--update", "--update-fault", "drop-after=1000" });
    QVERIFY(camera->isRunning());
    MqttPeer tool;
    const QByteArray firmware = image(4000);
    QVERIFY(announce(camera, tool, firmware));

    QTcpSocket socket;
    socket.connectToHost(camera->address(), updatePort);
    QVERIFY(socket.waitForConnected(eventTimeoutMs));
    socket.write(firmware);
    QVERIFY(camera->waitForEvent("image"));
    const QJsonObject result = camera->events("image").constFirst();
    QCOMPARE(result.value("ok").toBool(), false);
    QCOMPARE(result.value("size").toInt(), 1000);
    QVERIFY(camera->waitForEvent("status", 2));
    const QJsonObject last = QJsonDocument::fromJson(
        camera->events("status").constLast().value("payload").toString().toUtf8())
                                 .object();
    QCOMPARE(last.value("type").toString(), QStringLiteral("2"));
    QCOMPARE(last.value("errorcode").toString(), QStringLiteral("1"));
}

void tst_Camsim::statusFaultsMalformTheReports()
{
    LabCamera *camera = startCamera(
        1, { "--broker", "--update", "--update-fault", "status-array,progress-number" });
    QVERIFY(camera->isRunning());
    MqttPeer tool;
    const QByteArray firmware = image(1000);
    QVERIFY(announce(camera, tool, firmware));
    pushImage(camera->address(), firmware);
    QVERIFY(camera->waitForEvent("status", 2));
    const QJsonDocument last = QJsonDocument::fromJson(
        camera->events("status").constLast().value("payload").toString().toUtf8());
    QVERIFY(last.isArray());
    QCOMPARE(last.array().at(0).toObject().value("progress"), QJsonValue(100));
}

void tst_Camsim::statusFloodAddsProgressReports()
{
    LabCamera *camera = startCamera(2,
        { "--broker", "--update", "--update-fault",
            QString("status-flood=%1").arg(statusFloodSize) });
    QVERIFY(camera->isRunning());
    MqttPeer tool;
    const QByteArray firmware = image(200000);
    QVERIFY(announce(camera, tool, firmware, true));
    pushImage(camera->address(), firmware);
    QVERIFY(camera->waitForEvent("status-flood"));
    QCOMPARE(camera->events("status-flood").constFirst().value("sent").toInt(), statusFloodSize);

    const QByteArray success
        = R"({"type":"2","errorcode":"0","progress":"100","message":"Update succeeded"})";
    QTRY_COMPARE_WITH_TIMEOUT(
        tool.received().value(tool.received().size() - 1), success, mqttTimeoutMs);
    int progressReports = 0;
    QSet<QString> progressValues;
    for (const QByteArray &status : tool.received()) {
        const QJsonObject report = QJsonDocument::fromJson(status).object();
        if (report.value("type").toString() != "1")
            continue;
        ++progressReports;
        QCOMPARE(report.value("errorcode").toString(), QStringLiteral("0"));
        QCOMPARE(report.value("message").toString(), QStringLiteral("Receiving firmware..."));
        progressValues.insert(report.value("progress").toString());
    }
    QVERIFY(progressReports > statusFloodSize);
    QCOMPARE(progressValues.size(), 100);
    QVERIFY(progressValues.contains("0") && progressValues.contains("99"));
}

void tst_Camsim::killedBrokerIsLogged()
{
    LabCamera *camera = startCamera(1, { "--broker" });
    QVERIFY(camera->isRunning());
    QCOMPARE(::kill(pid_t(camera->brokerPid()), SIGTERM), 0);
    QVERIFY(camera->waitForEvent("broker-exit"));
    QVERIFY(camera->isRunning());
}

void tst_Camsim::httpNamesTheCamera()
{
    LabCamera *camera = startCamera(1, { "--http", "--camera", "name=Gate%20North" });
    QVERIFY(camera->isRunning());
    QTcpSocket socket;
    socket.connectToHost(camera->address(), httpPort);
    QVERIFY(socket.waitForConnected(eventTimeoutMs));
    socket.write("GET / HTTP/1.0\r\n\r\n");
    QByteArray answer;
    connect(&socket, &QTcpSocket::readyRead, &socket, [&] { answer += socket.readAll(); });
    QTRY_COMPARE_WITH_TIMEOUT(socket.state(), QAbstractSocket::UnconnectedState, eventTimeoutMs);
    answer += socket.readAll();
    QVERIFY(answer.startsWith("HTTP/1.0 200"));
    QVERIFY(answer.contains("Gate North"));
    QVERIFY(camera->waitForEvent("http"));
}

QTEST_GUILESS_MAIN(tst_Camsim)
#include "tst_camsim.moc"
