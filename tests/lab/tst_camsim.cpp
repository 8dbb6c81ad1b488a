// Checks the camera simulator against the protocol the tool expects, from the
// tool's namespace of the virtual LAN. Run it through tools/lab/lab.sh run
// with at least 3 cameras and CAMSIM set to the simulator. The wire's ports,
// topics and frames are spelled out here rather than taken from the tool, so
// a mistake in the tool's constants cannot hide in the simulator too; the
// reply's layout once, in replyCarriesTheIdentity, and the other cases find
// a field where the tool reads it.

#include "labcamera.h"
#include "labcameras.h"
#include "mqttclient.h"
#include "protocol.h"
#include "referencecrc.h"

#include <QCryptographicHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QNetworkDatagram>
#include <QSet>
#include <QTcpSocket>
#include <QUdpSocket>
#include <QtTest>

#include <csignal>

namespace {

const QByteArray probe = QByteArray::fromHex("fa0100003c61");
constexpr quint16 discoveryPort = 6999;
const QByteArray replyHead = QByteArray::fromHex("fa0164");
constexpr int replyLength = 105;
constexpr quint16 mqttPort = 1883;
const char requestTopic[] = "Ordel Tool_in/update_camera_fw";
const char statusTopic[] = "Ordel Tool_out/update_camera_fw";
constexpr quint16 updatePort = 8000;
constexpr quint16 httpPort = 8888;
const QByteArray updateSucceeded
    = R"({"type":"2","errorcode":"0","progress":"100","message":"Update succeeded"})";

constexpr int replyWindowMs = 1000;
constexpr int timeoutMs = 5000;
// For crowds and floods of datagrams: time to take them all in, and room
// for them while the test's event loop catches up.
constexpr int crowdWindowMs = 5000;
constexpr int crowdReceiveBuffer = 4 * 1024 * 1024;

QByteArray padded(const QByteArray &text, int width)
{
    return text + QByteArray(width - text.size(), '\0');
}

// A text field of a reply: serial, name, type, OS, FW.
QByteArray textField(const QByteArray &reply, int field)
{
    return reply.mid(
        Protocol::replyTextFields[field].offset, Protocol::replyTextFields[field].width);
}

QByteArray withByte(QByteArray bytes, int at, char value)
{
    bytes[at] = value;
    return bytes;
}

QByteArray image(int size)
{
    QByteArray bytes(size, '\0');
    for (int n = 0; n < size; ++n)
        bytes[n] = char((n * 7 + 3) & 0xFF);
    return bytes;
}

QByteArray updateRequest(const QByteArray &firmware, const QByteArray &fileName = "fw.bin")
{
    return "{\"buffer_size\":\"4096\",\"client_ip\":\"" + qgetenv("LAB_TOOL_IP")
        + "\",\"file_md5\":\"" + QCryptographicHash::hash(firmware, QCryptographicHash::Md5).toHex()
        + "\",\"file_name\":\"" + fileName + "\",\"file_size\":\""
        + QByteArray::number(firmware.size()) + "\"}";
}

// Serial number to firmware version of each reply, without the fields' padding.
QMap<QByteArray, QByteArray> versionsBySerial(const QList<QByteArray> &replies)
{
    const auto text = [](const QByteArray &field) { return field.left(field.indexOf('\0')); };
    QMap<QByteArray, QByteArray> versions;
    for (const QByteArray &reply : replies)
        versions.insert(text(textField(reply, 0)), text(textField(reply, 4)));
    return versions;
}

// The payload of the camera's last status report.
QJsonDocument lastStatus(const LabCamera *camera)
{
    return QJsonDocument::fromJson(
        camera->events("status").constLast().value("payload").toString().toUtf8());
}

// Connects the tool's MQTT client to the camera's broker. The broker is the
// real mosquitto, so the tool's client cannot hide a fault of the simulator.
bool connectTool(MqttClient &tool, const QString &host)
{
    tool.setHostname(host);
    tool.setPort(mqttPort);
    tool.connectToHost();
    return QTest::qWaitFor([&tool] { return tool.state() == MqttClient::Connected; }, timeoutMs);
}

// The payloads of the messages the tool's client received, oldest first.
QList<QByteArray> payloads(const QSignalSpy &received)
{
    QList<QByteArray> found;
    for (const QList<QVariant> &message : received)
        found.append(message.at(0).toByteArray());
    return found;
}

} // namespace

class TestCamsim : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
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
    void brokerLogsEveryConnectionOfTheTool();
    void updateSucceeds();
    void droppedUpdateFailsTheCheck();
    void statusFaultsMalformTheReports();
    void statusFloodAddsProgressReports();
    void reportFaultsMistimeTheReports_data();
    void reportFaultsMistimeTheReports();
    void restartsOnTheInstalledVersion_data();
    void restartsOnTheInstalledVersion();
    void killedBrokerIsLogged();
    void httpNamesTheCamera();

private:
    QList<QByteArray> probeAndCollect(int expected, int windowMs = replyWindowMs);
    LabCamera *announce(int index, const QStringList &faults, MqttClient &tool,
        const QByteArray &firmware, bool watchStatus = false);
    static bool requestImage(LabCamera *camera, MqttClient &tool, const QByteArray &firmware,
        const QByteArray &fileName, int listens);
    void pushImage(const QString &host, const QByteArray &firmware);

    LabCameras cameras;
};

void TestCamsim::initTestCase()
{
    if (qEnvironmentVariableIsEmpty("LAB_NAME"))
        QSKIP("needs the virtual LAN: run through tools/lab/lab.sh run");
    QVERIFY(qEnvironmentVariableIntValue("LAB_CAMERAS") >= 3);
}

void TestCamsim::cleanup()
{
    cameras.clear();
}

QList<QByteArray> TestCamsim::probeAndCollect(int expected, int windowMs)
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
    // Too few replies is for the caller to judge.
    (void)QTest::qWaitFor([&] { return replies.size() >= expected; }, windowMs);
    return replies;
}

// Starts an updating camera with those update faults, connects the tool,
// optionally subscribes to the camera's reports, publishes the update request
// for firmware and waits for the image port. The camera, or null when a step
// failed. The broker takes one client's packets in order, so the subscription
// stands before the camera sees the request.
LabCamera *TestCamsim::announce(int index, const QStringList &faults, MqttClient &tool,
    const QByteArray &firmware, bool watchStatus)
{
    LabCamera *camera = cameras.start(index, LabCameras::updating(faults));
    const bool announced = camera->isRunning() && connectTool(tool, camera->address())
        && (!watchStatus || tool.subscribe(statusTopic))
        && requestImage(camera, tool, firmware, "fw.bin", 1);
    return announced ? camera : nullptr;
}

// Publishes the request for firmware under fileName and waits until the
// image port opens for the listens-th time.
bool TestCamsim::requestImage(LabCamera *camera, MqttClient &tool, const QByteArray &firmware,
    const QByteArray &fileName, int listens)
{
    return tool.publish(requestTopic, updateRequest(firmware, fileName)) == 0
        && camera->waitForEvent("tcp-listen", listens);
}

void TestCamsim::pushImage(const QString &host, const QByteArray &firmware)
{
    QTcpSocket socket;
    socket.connectToHost(host, updatePort);
    QVERIFY(socket.waitForConnected(timeoutMs));
    socket.write(firmware);
    QTRY_COMPARE_WITH_TIMEOUT(socket.bytesToWrite(), qint64(0), timeoutMs);
    socket.disconnectFromHost();
    if (socket.state() != QAbstractSocket::UnconnectedState)
        socket.waitForDisconnected(timeoutMs);
}

void TestCamsim::replyCarriesTheIdentity()
{
    LabCamera *plain = cameras.start(1, {});
    QVERIFY(plain->isRunning());
    const QString identity
        = "ip=198.51.100.77,mac=aa:bb:cc:dd:ee:0f,sn=SN1,name=Gate,type=T1,os=4.1,fw=V9";
    QVERIFY(cameras.start(2, { "--camera", identity })->isRunning());

    const QList<QByteArray> replies = probeAndCollect(2);
    QCOMPARE(replies.size(), 2);
    // The body field by field: the one place that spells out the layout.
    const QByteArray body = QByteArray::fromHex("c633644d") + QByteArray::fromHex("aabbccddee0f")
        + padded("SN1", 20) + padded("Gate", 20) + padded("T1", 20) + padded("4.1", 10)
        + padded("V9", 20);
    const auto bodyOf = [](const QByteArray &reply) { return reply.mid(3, 100); };
    // Told apart by the address, which the body starts with.
    const QByteArray custom
        = bodyOf(replies.at(0)).startsWith(body.left(4)) ? replies.at(0) : replies.at(1);
    for (const QByteArray &reply : replies) {
        QCOMPARE(reply.size(), replyLength);
        QCOMPARE(reply.left(3), replyHead);
        QVERIFY(ReferenceCrc::isAppended(reply));
    }
    QCOMPARE(bodyOf(custom), body);

    QVERIFY(plain->waitForEvent("reply"));
    QCOMPARE(plain->events("probe").value(0).value("from").toString(),
        qEnvironmentVariable("LAB_TOOL_IP") + ':' + QString::number(discoveryPort));
}

void TestCamsim::textFieldsAreRawPaddedAndCut()
{
    const QString identity = "name=Cam%E9ra%2C1,sn=ABCDEFGHIJKLMNOPQRSTUVWXYZ,os=0123456789";
    QVERIFY(cameras.start(1, { "--camera", identity })->isRunning());
    const QList<QByteArray> replies = probeAndCollect(1);
    QCOMPARE(replies.size(), 1);
    const QByteArray reply = replies.constFirst();
    QCOMPARE(textField(reply, 1), padded("Cam\xe9ra,1", 20));
    QCOMPARE(textField(reply, 0), QByteArray("ABCDEFGHIJKLMNOPQRST"));
    QCOMPARE(textField(reply, 3), QByteArray("0123456789"));
    QVERIFY(ReferenceCrc::isAppended(reply));
}

void TestCamsim::faultsAlterTheFrame_data()
{
    QTest::addColumn<int>("length");
    QTest::addColumn<QByteArray>("head");
    QTest::addColumn<bool>("checksumValid");
    QTest::newRow("bad-crc") << replyLength << replyHead << false;
    QTest::newRow("bad-length-byte")
        << replyLength << withByte(replyHead, 2, char(replyHead.at(2) + 1)) << true;
    QTest::newRow("short") << replyLength - 1 << replyHead << false;
    QTest::newRow("long") << replyLength + 1 << replyHead << false;
    QTest::newRow("bad-id") << replyLength << withByte(replyHead, 1, '\x02') << true;
}

void TestCamsim::faultsAlterTheFrame()
{
    QFETCH(int, length);
    QFETCH(QByteArray, head);
    QFETCH(bool, checksumValid);
    const QString fault = QString::fromLatin1(QTest::currentDataTag());
    QVERIFY(cameras.start(1, { "--camera", "fault=" + fault })->isRunning());
    const QList<QByteArray> replies = probeAndCollect(1);
    QCOMPARE(replies.size(), 1);
    QCOMPARE(replies.constFirst().size(), length);
    QCOMPARE(replies.constFirst().left(3), head);
    QCOMPARE(ReferenceCrc::isAppended(replies.constFirst()), checksumValid);
}

void TestCamsim::duplicateSendsTwoEqualReplies()
{
    QVERIFY(cameras.start(1, { "--camera", "fault=crc-low-first", "--camera", "fault=duplicate" })
                ->isRunning());
    QList<QByteArray> replies = probeAndCollect(3);
    QCOMPARE(replies.size(), 3);
    const QByteArray lowFirst = replies.at(0);
    const QByteArray swapped = lowFirst.left(replyLength - 2) + lowFirst.at(replyLength - 1)
        + lowFirst.at(replyLength - 2);
    QVERIFY(!ReferenceCrc::isAppended(lowFirst));
    QVERIFY(ReferenceCrc::isAppended(swapped));
    QCOMPARE(replies.at(1), replies.at(2));
    QVERIFY(ReferenceCrc::isAppended(replies.at(1)));
}

void TestCamsim::delayedReplyComesLate()
{
    QVERIFY(cameras.start(1, { "--camera", "delay=1500" })->isRunning());
    QElapsedTimer clock;
    clock.start();
    QCOMPARE(probeAndCollect(1, 3000).size(), 1);
    QVERIFY2(clock.elapsed() >= 1400, qPrintable(QString::number(clock.elapsed())));
}

void TestCamsim::otherDatagramsAreIgnored()
{
    LabCamera *camera = cameras.start(1, {});
    QVERIFY(camera->isRunning());
    const QByteArray other = QByteArray::fromHex("fa0100003c62");
    QUdpSocket().writeDatagram(other, QHostAddress(camera->address()), discoveryPort);
    QVERIFY(camera->waitForEvent("ignored"));
    QCOMPARE(
        camera->events("ignored").constFirst().value("hex").toString().toLatin1(), other.toHex());
    QVERIFY(camera->events("reply").isEmpty());
}

void TestCamsim::crowdAnswersInOneBurst()
{
    const int crowdSize = 1000;
    LabCamera *camera = cameras.start(1, { "--generate", QString::number(crowdSize) });
    QVERIFY(camera->isRunning());
    const QList<QByteArray> replies = probeAndCollect(crowdSize, crowdWindowMs);
    QVERIFY(camera->waitForEvent("burst"));
    QCOMPARE(camera->events("burst").constFirst().value("sent").toInt(), crowdSize);
    QSet<QByteArray> serials;
    for (const QByteArray &reply : replies) {
        QVERIFY(ReferenceCrc::isAppended(reply));
        serials.insert(textField(reply, 0));
    }
    QCOMPARE(serials.size(), crowdSize);
    QVERIFY(serials.contains(padded("SN0000001", 20)));
}

// The flood is only worth its name if much of it gets past the tool's length
// check and part of it past the identifier and length byte too.
void TestCamsim::floodFollowsTheReplies()
{
    const int floodSize = 2000;
    LabCamera *camera = cameras.start(1, { "--flood", QString::number(floodSize) });
    QVERIFY(camera->isRunning());
    const QList<QByteArray> datagrams = probeAndCollect(floodSize + 1, crowdWindowMs);
    QVERIFY(camera->waitForEvent("flood"));
    QCOMPARE(camera->events("flood").constFirst().value("sent").toInt(), floodSize);
    QCOMPARE(datagrams.size(), floodSize + 1);
    QVERIFY(ReferenceCrc::isAppended(datagrams.constFirst()));
    int ofReplyLength = 0;
    int replyShaped = 0;
    for (const QByteArray &datagram : datagrams.mid(1)) {
        QVERIFY(datagram.size() <= 300);
        if (datagram.size() != replyLength)
            continue;
        ++ofReplyLength;
        if (datagram.left(3) == replyHead) {
            ++replyShaped;
            QVERIFY(!ReferenceCrc::isAppended(datagram));
        }
    }
    // Two in three and one in three are expected.
    const QString figures
        = QString("%1 of %2 flood datagrams have the reply's length, %3 of them its shape")
              .arg(ofReplyLength)
              .arg(floodSize)
              .arg(replyShaped);
    QVERIFY2(ofReplyLength > floodSize / 2, qPrintable(figures));
    QVERIFY2(replyShaped > floodSize / 4, qPrintable(figures));
}

void TestCamsim::brokerRecordsQosAndRetain()
{
    LabCamera *camera = cameras.start(1, { "--broker" });
    QVERIFY(camera->isRunning());
    QVERIFY(camera->brokerPid() > 0);
    const char powerOff[] = "Ordel Tool_in/poweroff";
    const char restart[] = "Ordel Tool_in/restart";
    MqttClient tool;
    QVERIFY(connectTool(tool, camera->address()));
    QCOMPARE(tool.publish(powerOff, "Shut Down"), 0);
    QVERIFY(tool.publish(restart, "Restart", 1, true) > 0);
    QVERIFY(camera->waitForEvent("mqtt", 2));

    const QList<QJsonObject> messages = camera->events("mqtt");
    QCOMPARE(messages.at(0).value("topic").toString(), QString(powerOff));
    QCOMPARE(messages.at(0).value("payload_hex").toString(), QStringLiteral("5368757420446f776e"));
    QCOMPARE(messages.at(0).value("qos").toInt(), 0);
    QCOMPARE(messages.at(0).value("retain").toBool(), false);
    QCOMPARE(messages.at(1).value("topic").toString(), QString(restart));
    QCOMPARE(messages.at(1).value("qos").toInt(), 1);
    QCOMPARE(messages.at(1).value("retain").toBool(), true);
}

// Also a connection that never speaks MQTT; never the camera's own client.
void TestCamsim::brokerLogsEveryConnectionOfTheTool()
{
    LabCamera *camera = cameras.start(1, { "--broker" });
    QVERIFY(camera->isRunning());
    QTcpSocket silent;
    silent.connectToHost(camera->address(), mqttPort);
    QVERIFY(silent.waitForConnected(timeoutMs));
    QVERIFY(camera->waitForEvent("broker-connection"));
    MqttClient tool;
    QVERIFY(connectTool(tool, camera->address()));
    QVERIFY(camera->waitForEvent("broker-connection", 2));

    QTest::qWait(300);
    const QList<QJsonObject> connections = camera->events("broker-connection");
    QCOMPARE(connections.size(), 2);
    const QString from = qEnvironmentVariable("LAB_TOOL_IP") + ':';
    QCOMPARE(
        connections.at(0).value("from").toString(), from + QString::number(silent.localPort()));
    QVERIFY(connections.at(1).value("from").toString().startsWith(from));
}

void TestCamsim::updateSucceeds()
{
    MqttClient tool;
    QSignalSpy statuses(&tool, &MqttClient::messageReceived);
    const QByteArray firmware = image(200000);
    LabCamera *camera = announce(2, {}, tool, firmware, true);
    QVERIFY(camera);
    pushImage(camera->address(), firmware);
    QVERIFY(camera->waitForEvent("image"));

    const QJsonObject result = camera->events("image").constFirst();
    QCOMPARE(result.value("ok").toBool(), true);
    QCOMPARE(result.value("size").toInt(), firmware.size());
    QTRY_VERIFY_WITH_TIMEOUT(payloads(statuses).contains(updateSucceeded), timeoutMs);
    QVERIFY(statuses.size() >= 2);
    const QJsonObject first = QJsonDocument::fromJson(payloads(statuses).constFirst()).object();
    QCOMPARE(first.value("type").toString(), QStringLiteral("1"));
    QCOMPARE(first.value("message").toString(), QStringLiteral("Receiving firmware..."));
}

void TestCamsim::droppedUpdateFailsTheCheck()
{
    MqttClient tool;
    const QByteArray firmware = image(4000);
    LabCamera *camera = announce(3, { "drop-after=1000" }, tool, firmware);
    QVERIFY(camera);

    QTcpSocket socket;
    socket.connectToHost(camera->address(), updatePort);
    QVERIFY(socket.waitForConnected(timeoutMs));
    socket.write(firmware);
    QVERIFY(camera->waitForEvent("image"));
    const QJsonObject result = camera->events("image").constFirst();
    QCOMPARE(result.value("ok").toBool(), false);
    QCOMPARE(result.value("size").toInt(), 1000);
    QVERIFY(camera->waitForEvent("status", 2));
    const QJsonObject last = lastStatus(camera).object();
    QCOMPARE(last.value("type").toString(), QStringLiteral("2"));
    QCOMPARE(last.value("errorcode").toString(), QStringLiteral("1"));
}

void TestCamsim::statusFaultsMalformTheReports()
{
    MqttClient tool;
    const QByteArray firmware = image(1000);
    LabCamera *camera = announce(1, { "status-array", "progress-number" }, tool, firmware);
    QVERIFY(camera);
    pushImage(camera->address(), firmware);
    QVERIFY(camera->waitForEvent("status", 2));
    QVERIFY(lastStatus(camera).isArray());
    QCOMPARE(lastStatus(camera).array().at(0).toObject().value("progress"), QJsonValue(100));
}

void TestCamsim::statusFloodAddsProgressReports()
{
    const int statusFloodSize = 500;
    MqttClient tool;
    QSignalSpy statuses(&tool, &MqttClient::messageReceived);
    const QByteArray firmware = image(200000);
    const QString flood = QString("status-flood=%1").arg(statusFloodSize);
    LabCamera *camera = announce(2, { flood }, tool, firmware, true);
    QVERIFY(camera);
    pushImage(camera->address(), firmware);
    QVERIFY(camera->waitForEvent("status-flood"));
    QCOMPARE(camera->events("status-flood").constFirst().value("sent").toInt(), statusFloodSize);

    QTRY_COMPARE_WITH_TIMEOUT(
        payloads(statuses).value(statuses.size() - 1), updateSucceeded, timeoutMs);
    int progressReports = 0;
    QSet<QString> progressValues;
    for (const QByteArray &status : payloads(statuses)) {
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

void TestCamsim::reportFaultsMistimeTheReports_data()
{
    QTest::addColumn<QString>("fault");
    QTest::addColumn<bool>("completesAtRequest");
    QTest::addColumn<bool>("reportsTheImage");
    QTest::newRow("silent") << "silent" << false << false;
    QTest::newRow("stale-completion") << "stale-completion" << true << true;
}

void TestCamsim::reportFaultsMistimeTheReports()
{
    QFETCH(QString, fault);
    QFETCH(bool, completesAtRequest);
    QFETCH(bool, reportsTheImage);
    MqttClient tool;
    QSignalSpy statuses(&tool, &MqttClient::messageReceived);
    const QByteArray firmware = image(1000);
    LabCamera *camera = announce(1, { fault }, tool, firmware, true);
    QVERIFY(camera);
    if (completesAtRequest)
        QTRY_COMPARE_WITH_TIMEOUT(payloads(statuses).value(0), updateSucceeded, timeoutMs);
    pushImage(camera->address(), firmware);
    QVERIFY(camera->waitForEvent("image"));
    QVERIFY(camera->events("image").constFirst().value("ok").toBool());

    if (reportsTheImage) {
        QTRY_VERIFY_WITH_TIMEOUT(statuses.size() >= 3, timeoutMs);
        QCOMPARE(payloads(statuses).constLast(), updateSucceeded);
    } else {
        // The final report is what the camera would have said last.
        QTRY_VERIFY_WITH_TIMEOUT(camera->events("status-withheld").size() >= 2, timeoutMs);
        QCOMPARE(camera->events("status-withheld").constLast().value("payload").toString(),
            QString(updateSucceeded));
        QVERIFY(camera->events("status").isEmpty());
        QCOMPARE(statuses.size(), 0);
    }
}

void TestCamsim::restartsOnTheInstalledVersion_data()
{
    // After the camera's own fields and its update arguments.
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QByteArrayList>("fileNames");
    // The version it comes back on after each update; empty for never.
    QTest::addColumn<QStringList>("versions");
    QTest::newRow("--installs over the file name")
        << QStringList { "--installs", "V3.0-rc" } << QByteArrayList { "camera-fw-2.9.0.bin" }
        << QStringList { "V3.0-rc" };
    QTest::newRow("from the file name, twice")
        << QStringList() << QByteArrayList { "camera-fw-2.9.0.bin", "ipc_v3.1.bin" }
        << QStringList { "2.9.0", "3.1" };
    QTest::newRow("the file name's last number")
        << QStringList() << QByteArrayList { "fw-1.2-to-3.4.5.bin" } << QStringList { "3.4.5" };
    QTest::newRow("no number keeps the version")
        << QStringList() << QByteArrayList { "camera-fw-2.bin" } << QStringList { "2.8.1" };
    QTest::newRow("back-on-old") << QStringList { "--update-fault", "back-on-old" }
                                 << QByteArrayList { "camera-fw-2.9.0.bin" }
                                 << QStringList { "2.8.1" };
    QTest::newRow("never-back") << QStringList { "--update-fault", "never-back" }
                                << QByteArrayList { "camera-fw-2.9.0.bin" } << QStringList { "" };
    QTest::newRow("down for restart-ms")
        << QStringList { "--restart-ms", "2000" } << QByteArrayList { "camera-fw-2.9.0.bin" }
        << QStringList { "2.9.0" };
}

// The updated camera is the one at the simulator's address, not the first
// listed: its neighbour in the same process answers throughout.
void TestCamsim::restartsOnTheInstalledVersion()
{
    QFETCH(QStringList, arguments);
    QFETCH(QByteArrayList, fileNames);
    QFETCH(QStringList, versions);
    const int restartAt = arguments.indexOf("--restart-ms");
    const int restartMs = restartAt < 0 ? 0 : arguments.at(restartAt + 1).toInt();
    const QStringList identities { "--camera", "ip=198.51.100.99,sn=NEIGHBOUR,fw=1.0", "--camera",
        "sn=UPDATED,fw=2.8.1" };
    LabCamera *camera = cameras.start(1, identities + LabCameras::updating() + arguments);
    QVERIFY(camera->isRunning());
    MqttClient tool;
    QVERIFY(connectTool(tool, camera->address()));
    const QByteArray firmware = image(1000);
    const QMap<QByteArray, QByteArray> neighbourOnly { { "NEIGHBOUR", "1.0" } };

    for (int n = 0; n < fileNames.size(); ++n) {
        const QString version = versions.at(n);
        QVERIFY(requestImage(camera, tool, firmware, fileNames.at(n), n + 1));
        pushImage(camera->address(), firmware);
        QVERIFY(camera->waitForEvent("restart", n + 1));
        const QJsonObject restart = camera->events("restart").at(n);
        QCOMPARE(restart.value("fw").toString(), version);
        QCOMPARE(restart.value("ms").toInt(), version.isEmpty() ? -1 : restartMs);
        // A real camera's broker goes down with it; an instant restart is
        // the simulator's shortcut.
        const bool brokerDown = restartMs > 0 || version.isEmpty();
        if (brokerDown)
            QVERIFY(camera->waitForEvent("broker-exit", n + 1));
        if (restartMs > 0 || version.isEmpty()) {
            const int probes = camera->events("probe").size();
            QCOMPARE(versionsBySerial(probeAndCollect(2)), neighbourOnly);
            QCOMPARE(camera->events("probe").size(), probes + 1);
        }
        if (version.isEmpty()) {
            QVERIFY(camera->events("back").isEmpty());
            continue;
        }
        QVERIFY(camera->waitForEvent("back", n + 1, restartMs + timeoutMs));
        const QJsonObject back = camera->events("back").at(n);
        QCOMPARE(back.value("fw").toString(), version);
        const qint64 downMs = back.value("t").toVariant().toLongLong()
            - restart.value("t").toVariant().toLongLong();
        QVERIFY2(downMs >= restartMs && downMs < restartMs + 1000,
            qPrintable(QString("down for %1 ms").arg(downMs)));
        QCOMPARE(camera->events("broker").size(), brokerDown ? n + 2 : 1);
        QMap<QByteArray, QByteArray> expected = neighbourOnly;
        expected.insert("UPDATED", version.toUtf8());
        QCOMPARE(versionsBySerial(probeAndCollect(2)), expected);
    }
}

void TestCamsim::killedBrokerIsLogged()
{
    LabCamera *camera = cameras.start(1, { "--broker" });
    QVERIFY(camera->isRunning());
    QCOMPARE(::kill(pid_t(camera->brokerPid()), SIGTERM), 0);
    QVERIFY(camera->waitForEvent("broker-exit"));
    QVERIFY(camera->isRunning());
}

void TestCamsim::httpNamesTheCamera()
{
    LabCamera *camera = cameras.start(1, { "--http", "--camera", "name=Gate%20North" });
    QVERIFY(camera->isRunning());
    QTcpSocket socket;
    socket.connectToHost(camera->address(), httpPort);
    QVERIFY(socket.waitForConnected(timeoutMs));
    socket.write("GET / HTTP/1.0\r\n\r\n");
    QByteArray answer;
    connect(&socket, &QTcpSocket::readyRead, &socket, [&] { answer += socket.readAll(); });
    QTRY_COMPARE_WITH_TIMEOUT(socket.state(), QAbstractSocket::UnconnectedState, timeoutMs);
    answer += socket.readAll();
    QVERIFY(answer.startsWith("HTTP/1.0 200"));
    QVERIFY(answer.contains("Gate North"));
    QVERIFY(camera->waitForEvent("http"));
}

QTEST_GUILESS_MAIN(TestCamsim)
#include "tst_camsim.moc"
