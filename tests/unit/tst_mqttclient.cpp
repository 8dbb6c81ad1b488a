#include "mqttclient.h"
#include "protocol.h"

#include <QTcpServer>
#include <QTcpSocket>
#include <QtTest>

#include <ctime>

// Runs against a real mosquitto broker on a free loopback port.
class TestMqttClient : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    // Connecting
    void connectGoesThroughConnectingToConnected();
    void refusedConnectionFallsBackToDisconnected();
    void disconnectWhileConnectingAbortsAndNextConnectWorks();
    void clientDeletedByItsConnectedSlotDoesNotCrash();
    // Traffic
    void publishedBytesArriveUnchangedOnTopicWithBlank();
    void anotherBrokerEndsTheConnection();
    void publishWhileDisconnectedIsRejected();
    void idleConnectionDoesNotSpinTheEventLoop();
    // Losing the broker
    void killedBrokerGivesDisconnectedAndReconnectWorksAfterRestart();

private:
    bool startBroker();
    bool connectTo(MqttClient &client, quint16 port);

    QTemporaryDir dir;
    QString program;
    QString config;
    QProcess broker;
    quint16 brokerPort = 0;
};

static quint16 freePort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost);
    return probe.serverPort();
}

void TestMqttClient::initTestCase()
{
    program = QFileInfo("/usr/sbin/mosquitto").isExecutable()
        ? QStringLiteral("/usr/sbin/mosquitto")
        : QStandardPaths::findExecutable("mosquitto");
    QVERIFY2(!program.isEmpty(), "mosquitto broker not at /usr/sbin/mosquitto nor on PATH");
    QVERIFY(dir.isValid());
    brokerPort = freePort();
    config = dir.filePath("mosquitto.conf");
    QFile file(config);
    QVERIFY(file.open(QIODevice::WriteOnly));
    const QString lines("listener %1 127.0.0.1\nallow_anonymous true\npersistence false\n");
    file.write(lines.arg(brokerPort).toUtf8());
    file.close();
    QVERIFY(startBroker());
}

void TestMqttClient::cleanupTestCase()
{
    broker.kill();
    broker.waitForFinished(5000);
}

void TestMqttClient::connectGoesThroughConnectingToConnected()
{
    MqttClient client;
    QStringList seen;
    connect(&client, &MqttClient::stateChanged, this,
        [&](MqttClient::ClientState s) { seen << QString("state %1").arg(s); });
    connect(&client, &MqttClient::connected, this, [&] { seen << "connected"; });
    QSignalSpy connectedSpy(&client, &MqttClient::connected);
    client.setHostname("127.0.0.1");
    client.setPort(brokerPort);
    client.connectToHost();
    QCOMPARE(client.state(), MqttClient::Connecting);
    QVERIFY(connectedSpy.wait(5000));
    QCOMPARE(seen, QStringList({ "state 1", "state 2", "connected" }));
}

void TestMqttClient::refusedConnectionFallsBackToDisconnected()
{
    MqttClient client;
    QSignalSpy disconnectedSpy(&client, &MqttClient::disconnected);
    client.setHostname("127.0.0.1");
    client.setPort(freePort());
    client.connectToHost();
    // The outcome comes from the event loop, never inside connectToHost().
    QCOMPARE(client.state(), MqttClient::Connecting);
    QVERIFY(disconnectedSpy.wait(2000));
    QCOMPARE(client.state(), MqttClient::Disconnected);
    QCOMPARE(disconnectedSpy.count(), 1);
    QVERIFY(connectTo(client, brokerPort));
}

void TestMqttClient::disconnectWhileConnectingAbortsAndNextConnectWorks()
{
    // Accepts TCP but never answers MQTT, so the attempt stays in Connecting.
    QTcpServer silent;
    QVERIFY(silent.listen(QHostAddress::LocalHost));
    MqttClient client;
    client.setHostname("127.0.0.1");
    client.setPort(silent.serverPort());
    client.connectToHost();
    QTRY_VERIFY_WITH_TIMEOUT(silent.hasPendingConnections(), 5000);
    QTcpSocket *peer = silent.nextPendingConnection();
    QSignalSpy stateSpy(&client, &MqttClient::stateChanged);
    client.disconnectFromHost();
    QCOMPARE(client.state(), MqttClient::Disconnected);
    QCOMPARE(stateSpy.count(), 1);
    // The abandoned attempt must really close its socket.
    QTRY_COMPARE_WITH_TIMEOUT(peer->state(), QAbstractSocket::UnconnectedState, 5000);
    QVERIFY(connectTo(client, brokerPort));
}

void TestMqttClient::clientDeletedByItsConnectedSlotDoesNotCrash()
{
    QPointer<MqttClient> client(new MqttClient);
    connect(client, &MqttClient::connected, this, [&client] { delete client; });
    client->setHostname("127.0.0.1");
    client->setPort(brokerPort);
    client->connectToHost();
    QTRY_VERIFY_WITH_TIMEOUT(client.isNull(), 5000);
    // Lets stray notifier or timer events reach freed memory if any are left.
    QTest::qWait(50);
}

void TestMqttClient::publishedBytesArriveUnchangedOnTopicWithBlank()
{
    const QString topic = Protocol::powerOffTopic;
    const QByteArray payload("on\0\x80\xff!", 6);
    MqttClient sender;
    MqttClient receiver;
    QVERIFY(connectTo(sender, brokerPort));
    QVERIFY(connectTo(receiver, brokerPort));
    QSignalSpy received(&receiver, &MqttClient::messageReceived);
    QVERIFY(receiver.subscribe(topic));
    // The broker handles one client's packets in order: once the receiver sees
    // its own probe, its subscription is active for the sender's message too.
    QCOMPARE(receiver.publish(topic, "probe"), 0);
    QTRY_COMPARE_WITH_TIMEOUT(received.count(), 1, 5000);
    QCOMPARE(sender.publish(topic, payload), 0);
    QVERIFY(sender.publish(topic, payload, 1) > 0);
    QTRY_COMPARE_WITH_TIMEOUT(received.count(), 3, 5000);
    for (int i = 1; i < 3; ++i) {
        QCOMPARE(received.at(i).at(0).toByteArray(), payload);
        QCOMPARE(received.at(i).at(1).toString(), topic);
    }
}

// A command for another camera must never travel over the connection to the
// previous one: the client ends it when given another broker.
void TestMqttClient::anotherBrokerEndsTheConnection()
{
    MqttClient client;
    QVERIFY(connectTo(client, brokerPort));
    QSignalSpy disconnected(&client, &MqttClient::disconnected);
    client.setHostname("127.0.0.1");
    client.setPort(brokerPort);
    QCOMPARE(client.state(), MqttClient::Connected);
    client.setPort(brokerPort + 1);
    QCOMPARE(client.state(), MqttClient::Disconnected);
    QCOMPARE(disconnected.count(), 1);
    client.setPort(brokerPort);
    QVERIFY(connectTo(client, brokerPort));
}

void TestMqttClient::publishWhileDisconnectedIsRejected()
{
    MqttClient client;
    QCOMPARE(client.publish("a/b", "x"), -1);
    QVERIFY(!client.subscribe("a/#"));
}

void TestMqttClient::idleConnectionDoesNotSpinTheEventLoop()
{
    MqttClient client;
    QVERIFY(connectTo(client, brokerPort));
    QCOMPARE(client.publish("idle/check", "x"), 0);
    // Nothing to await: the fault is a socket watched for writability with no
    // output pending, which burns a core while the loop looks idle.
    const std::clock_t before = std::clock();
    QTest::qWait(300);
    const double cpuMs = 1000.0 * double(std::clock() - before) / CLOCKS_PER_SEC;
    QVERIFY2(cpuMs < 100, qPrintable(QString("%1 ms CPU while idle").arg(cpuMs)));
}

void TestMqttClient::killedBrokerGivesDisconnectedAndReconnectWorksAfterRestart()
{
    MqttClient client;
    QVERIFY(connectTo(client, brokerPort));
    QSignalSpy disconnectedSpy(&client, &MqttClient::disconnected);
    // SIGKILL: the broker vanishes without ending the MQTT session.
    broker.kill();
    QVERIFY(broker.waitForFinished(5000));
    QTRY_COMPARE_WITH_TIMEOUT(client.state(), MqttClient::Disconnected, 5000);
    QCOMPARE(disconnectedSpy.count(), 1);
    QCOMPARE(client.publish("a/b", "x"), -1);
    QVERIFY(startBroker());
    QVERIFY(connectTo(client, brokerPort));
}

bool TestMqttClient::startBroker()
{
    broker.start(program, { "-c", config });
    QByteArray log;
    const bool up = broker.waitForStarted(5000) && QTest::qWaitFor([&] {
        log += broker.readAllStandardError();
        return log.contains(" running") || broker.state() != QProcess::Running;
    }) && broker.state() == QProcess::Running;
    if (!up)
        qWarning().noquote() << "mosquitto did not come up:" << log;
    return up;
}

bool TestMqttClient::connectTo(MqttClient &client, quint16 port)
{
    client.setHostname("127.0.0.1");
    client.setPort(port);
    client.connectToHost();
    return QTest::qWaitFor([&] { return client.state() == MqttClient::Connected; }, 5000);
}

QTEST_GUILESS_MAIN(TestMqttClient)
#include "tst_mqttclient.moc"
