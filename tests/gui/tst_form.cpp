#include "form.h"
#include "md5digest.h"
#include "modalanswerer.h"
#include "mqttclient.h"
#include "protocol.h"
#include "updatedriver.h"

#include <QLabel>
#include <QLineEdit>
#include <QNetworkInterface>
#include <QProgressBar>
#include <QPushButton>
#include <QtTest>

using namespace UpdateDriver;

// The update window without a camera: the image choice, the request it would
// send and how it acts on the camera's reports. Its layout is checked in
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
    QCOMPARE(answerer.seenBoxes(), { ModalAnswerer::tip("Please select a bin file") });
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

// How a report is read is tst_statusreport's; these rows show the window
// acting on each kind of reading.
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
    report("camera error",
        R"({"type":"2","errorcode":"3","progress":"100","message":"Flash write error"})", 37,
        "Flash write error");
    report("not shown", R"({"type":"3","errorcode":"0","progress":"100","message":"x"})", 37,
        "before");
    // The bar takes nothing outside 0 to 100.
    report("progress out of range",
        R"({"type":"1","errorcode":"0","progress":"150","message":"m"})", 37, "m");
    report("unreadable", "not json", 37, "?");
    // Only the camera's own topic, exactly, and before the payload is read.
    report("topic in other case", "not json", 37, "before",
        QString(Protocol::updateStatusTopic).toLower());
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
