#include "form.h"
#include "md5digest.h"
#include "modalanswerer.h"
#include "mqttclient.h"
#include "protocol.h"
#include "statusreport.h"
#include "updatedriver.h"

#include <QLabel>
#include <QLineEdit>
#include <QNetworkInterface>
#include <QProgressBar>
#include <QPushButton>
#include <QtTest>

using namespace UpdateDriver;

// The update window without a camera: the image choice, the request it would
// send and how it reads the camera's reports. Its designed values are in
// tst_windowlayout; the update itself runs against simulated cameras in the
// lab.
class TestForm : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void startWithoutImageAsksForOne();
    void cancelledBrowseClearsTheChoice();
    void answeringNoChangesNothing();
    void requestDescribesTheChosenImage_data();
    void requestDescribesTheChosenImage();
    void requestIsEmptyWhenTheImageIsGone();
    void statusReportsMoveTheWindow_data();
    void statusReportsMoveTheWindow();

private:
    QPointer<Form> form;
};

void TestForm::init()
{
    form = new Form("192.0.2.10", "00:1A:2B:3C:4D:5E", "<b>SN-1</b>");
    form->show();
    QVERIFY(QTest::qWaitForWindowExposed(form));
}

void TestForm::cleanup()
{
    delete form;
}

// Start with no image chosen: the box that asks for one, answered.
static void verifyStartAsksForAnImage(Form *form)
{
    ModalAnswerer answerer;
    answerer.pressButton(QMessageBox::Ok);
    QTest::mouseClick(startButton(form), Qt::LeftButton);
    QVERIFY(answerer.waitUntilAnswered());
    QCOMPARE(answerer.boxes.size(), 1);
    QCOMPARE(answerer.boxes.first().title, QString("Tip"));
    QCOMPARE(answerer.boxes.first().text, QString("Please select a bin file"));
    QCOMPARE(answerer.boxes.first().buttons, QMessageBox::Ok);
}

void TestForm::startWithoutImageAsksForOne()
{
    UPDATE_STEP(verifyStartAsksForAnImage(form));
    QVERIFY(startButton(form)->isEnabled());
    QCOMPARE(form->findChild<MqttClient *>()->state(), MqttClient::Disconnected);
}

void TestForm::cancelledBrowseClearsTheChoice()
{
    UPDATE_STEP(browse(form, imageFile("first.bin", "image")));
    {
        ModalAnswerer answerer;
        answerer.chooseFile(QString());
        QTest::mouseClick(form->findChild<QPushButton *>("pushButton_Browser"), Qt::LeftButton);
        QVERIFY(answerer.waitUntilAnswered());
        QCOMPARE(answerer.fileDialogs, QStringList({ "Please select a bin file" }));
    }
    QVERIFY(form->findChild<QLineEdit *>("lineEdit")->text().isEmpty());
    QVERIFY(form->CreateJsonQByteArray().isEmpty());
    verifyStartAsksForAnImage(form);
}

void TestForm::answeringNoChangesNothing()
{
    UPDATE_STEP(browse(form, imageFile("camera.bin", "image")));
    state(form)->setText("unchanged");
    QSignalSpy clientStates(form->findChild<MqttClient *>(), &MqttClient::stateChanged);
    UPDATE_STEP(start(form, QMessageBox::No));

    QTest::qWait(100);
    QVERIFY(startButton(form)->isEnabled());
    QCOMPARE(state(form)->text(), QString("unchanged"));
    QCOMPARE(clientStates.size(), 0);
}

void TestForm::requestDescribesTheChosenImage_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QString>("md5");
    QTest::newRow("small image") << QByteArray("hello") << "5d41402abc4b2a76b9719d911017c592";
    QTest::newRow("empty image") << QByteArray() << "d41d8cd98f00b204e9800998ecf8427e";
}

// This machine's address on its first IPv4 network, read straight from the
// interfaces, and another address of that network for a camera. Nothing is
// sent to it: the request is only built.
static bool hostNetwork(QString *hostIp, QString *cameraIp)
{
    const auto wanted = QNetworkInterface::IsUp | QNetworkInterface::IsRunning;
    for (const QNetworkInterface &interface : QNetworkInterface::allInterfaces()) {
        if ((interface.flags() & wanted) != wanted
            || interface.flags().testFlag(QNetworkInterface::IsLoopBack))
            continue;
        for (const QNetworkAddressEntry &entry : interface.addressEntries()) {
            const int prefix = entry.prefixLength();
            if (entry.ip().protocol() != QAbstractSocket::IPv4Protocol || prefix < 1 || prefix > 30)
                continue;
            const quint32 host = entry.ip().toIPv4Address();
            const quint32 network = host & (~quint32(0) << (32 - prefix));
            *hostIp = entry.ip().toString();
            *cameraIp = QHostAddress(network + 1 == host ? network + 2 : network + 1).toString();
            return true;
        }
    }
    return false;
}

void TestForm::requestDescribesTheChosenImage()
{
    QFETCH(QByteArray, content);
    QFETCH(QString, md5);
    QString localIp;
    QString cameraIp;
    if (!hostNetwork(&localIp, &cameraIp))
        QSKIP("this machine is attached to no IPv4 network");
    // Run once more with a configuration that makes libcrypto refuse MD5.
    if (qEnvironmentVariableIsSet("OPENSSL_CONF"))
        QVERIFY(!Md5Digest().usesOpenSsl());
    delete form;
    form = new Form(cameraIp, "00:1A:2B:3C:4D:5E", "SN-1");
    form->show();
    UPDATE_STEP(browse(form, imageFile("fw 2.8.1.bin", content)));

    const QString expected = QString("{\"buffer_size\":\"1048576\",\"client_ip\":\"%1\","
                                     "\"file_md5\":\"%2\",\"file_name\":\"fw 2.8.1.bin\","
                                     "\"file_size\":\"%3\"}")
                                 .arg(localIp, md5)
                                 .arg(content.size());
    QCOMPARE(QString::fromUtf8(form->CreateJsonQByteArray()), expected);
}

void TestForm::requestIsEmptyWhenTheImageIsGone()
{
    const QString image = imageFile("gone.bin", "image");
    UPDATE_STEP(browse(form, image));
    QVERIFY(QFile::remove(image));
    QVERIFY(form->CreateJsonQByteArray().isEmpty());
}

void TestForm::statusReportsMoveTheWindow_data()
{
    QTest::addColumn<QString>("topic");
    QTest::addColumn<QByteArray>("payload");
    QTest::addColumn<int>("bar");
    QTest::addColumn<QString>("text"); // "?" for the JSON library's own error text

    // Each row's report comes with the bar at 37 and "before" shown, in the
    // middle of an update: before its image has gone out, nothing ends it.
    const auto report = [](const char *name, const char *payload, int bar, const char *text,
                            const QString &topic = QString(Protocol::updateStatusTopic)) {
        QTest::newRow(name) << topic << QByteArray(payload) << bar << text;
    };
    report("progress", R"({"type":"1","errorcode":"0","progress":"45","message":"Writing"})", 45,
        "Writing");
    report("completion", R"({"type":"2","errorcode":"0","progress":"100","message":"Done"})", 100,
        "Done");
    report("type 2 short of 100",
        R"({"type":"2","errorcode":"0","progress":"99","message":"Almost"})", 99, "Almost");
    report("camera error",
        R"({"type":"2","errorcode":"3","progress":"100","message":"Flash write error"})", 37,
        "Flash write error");
    report("unknown type", R"({"type":"3","errorcode":"0","progress":"100","message":"x"})", 37,
        "before");
    report("no type", R"({"errorcode":"0","progress":"100","message":"x"})", 37, "before");
    report("progress as a number", R"({"type":"2","errorcode":"0","progress":100,"message":"Num"})",
        0, "Num");
    report("type as a number", R"({"type":2,"errorcode":"0","progress":"100","message":"x"})", 37,
        "before");
    report("error code as a number",
        R"({"type":"2","errorcode":0,"progress":"100","message":"Err"})", 37, "Err");
    report("progress not a number",
        R"({"type":"1","errorcode":"0","progress":"abc","message":"m"})", 0, "m");
    report("progress out of range",
        R"({"type":"1","errorcode":"0","progress":"150","message":"m"})", 37, "m");
    report("markup stays text",
        R"({"type":"1","errorcode":"0","progress":"50","message":"<b>x</b>"})", 50, "<b>x</b>");
    report("array", R"([{"type":"2","errorcode":"0","progress":"100"}])", 37, "before");
    report("not JSON", "not json", 37, "?");
    report("empty payload", "", 37, "?");
    report("other topic", "not json", 37, "before", "Ordel Tool_out/other");
    report("topic in other case", R"({"type":"2","errorcode":"0","progress":"100","message":"x"})",
        37, "before", QString(Protocol::updateStatusTopic).toLower());

    // However much a camera sends, a report is read and shown only up to a
    // bound: a longer text is cut with a mark, a larger payload not read.
    const auto bounded = [](const char *name, const QString &message, const QString &text,
                             int bar = 50, int payloadSize = 0) {
        const auto payload = [&](int padding) {
            return R"({"type":"1","errorcode":"0","progress":"50","pad":")"
                + QByteArray(padding, ' ') + R"(","message":")" + message.toUtf8() + "\"}";
        };
        const QByteArray shortest = payload(0);
        QTest::newRow(name) << QString(Protocol::updateStatusTopic)
                            << payload(qMax(0, payloadSize - shortest.size())) << bar << text;
    };
    const QString longest(StatusReport::longestText, 'a');
    const QString cut = QChar(0x2026);
    bounded("message at its bound", longest, longest);
    bounded("message beyond its bound", longest + "b", longest + cut);
    bounded("cut between a pictograph's halves", longest.mid(1) + QString::fromUtf8("\U0001F600b"),
        longest.mid(1) + cut);
    bounded("payload at its bound", longest + "b", longest + cut, 50, StatusReport::largestPayload);
    bounded("payload beyond its bound", "x",
        QString("report of %1 bytes not read: more than %2")
            .arg(StatusReport::largestPayload + 1)
            .arg(StatusReport::largestPayload),
        37, StatusReport::largestPayload + 1);
}

void TestForm::statusReportsMoveTheWindow()
{
    QFETCH(QString, topic);
    QFETCH(QByteArray, payload);
    QFETCH(int, bar);
    QFETCH(QString, text);
    // An update of a camera on loopback, where no broker answers: the report
    // comes while the window waits for one.
    delete form;
    form = new Form("127.0.0.1", "00:1A:2B:3C:4D:5E", "SN-1");
    form->show();
    UPDATE_STEP(browse(form, imageFile("reported.bin", "image")));
    UPDATE_STEP(start(form));
    QTRY_VERIFY(state(form)->text().startsWith("Preparation"));
    progress(form)->setValue(37);
    state(form)->setText("before");

    QVERIFY(QMetaObject::invokeMethod(
        form, "topicMessageReceived", Q_ARG(QByteArray, payload), Q_ARG(QString, topic)));

    QCOMPARE(progress(form)->value(), bar);
    const QString shown = state(form)->text();
    if (text == "?")
        QVERIFY2(!shown.isEmpty() && shown != "before", qPrintable(shown));
    else
        QCOMPARE(shown, text);
    QVERIFY(!startButton(form)->isEnabled());
    // The update's own failure ends it, whatever came meanwhile.
    UPDATE_STEP(verifyEnded(form, "Mqtt Connect Failed", 5000));
}

QTEST_MAIN(TestForm)
#include "tst_form.moc"
