#include "form.h"
#include "localaddress.h"
#include "modalanswerer.h"
#include "mqttclient.h"
#include "protocol.h"

#include <QLabel>
#include <QLineEdit>
#include <QNetworkInterface>
#include <QProgressBar>
#include <QPushButton>
#include <QtTest>

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
    void localAddressIsTheLastUsableIpv4_data();
    void localAddressIsTheLastUsableIpv4();

private:
    template <typename T> T *widget(const char *name) const
    {
        return form->findChild<T *>(QLatin1String(name));
    }
    void browse(const QString &path);
    // Start, with the box it opens answered; the boxes seen.
    QList<SeenBox> pressStart(QMessageBox::StandardButton answer);
    QString writeImage(const QString &name, const QByteArray &content);

    QPointer<Form> form;
    QTemporaryDir images;
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

void TestForm::browse(const QString &path)
{
    ModalAnswerer answerer;
    answerer.chooseFile(path);
    QTest::mouseClick(widget<QPushButton>("pushButton_Browser"), Qt::LeftButton);
    QVERIFY(answerer.waitUntilAnswered());
    QCOMPARE(answerer.fileDialogs, QStringList({ "Please select a bin file" }));
}

QList<SeenBox> TestForm::pressStart(QMessageBox::StandardButton answer)
{
    ModalAnswerer answerer;
    answerer.pressButton(answer);
    QTest::mouseClick(widget<QPushButton>("pushButton_Start"), Qt::LeftButton);
    return answerer.waitUntilAnswered() ? answerer.boxes : QList<SeenBox>();
}

QString TestForm::writeImage(const QString &name, const QByteArray &content)
{
    QFile file(images.filePath(name));
    if (!file.open(QIODevice::WriteOnly) || file.write(content) != content.size())
        qFatal("cannot write %s", qPrintable(file.fileName()));
    return file.fileName();
}

void TestForm::startWithoutImageAsksForOne()
{
    const QList<SeenBox> boxes = pressStart(QMessageBox::Ok);
    QCOMPARE(boxes.size(), 1);
    QCOMPARE(boxes.first().title, QString("Tip"));
    QCOMPARE(boxes.first().text, QString("Please select a bin file"));
    QCOMPARE(boxes.first().buttons, QMessageBox::Ok);
    QVERIFY(widget<QPushButton>("pushButton_Start")->isEnabled());
    QCOMPARE(form->findChild<MqttClient *>()->state(), MqttClient::Disconnected);
}

void TestForm::cancelledBrowseClearsTheChoice()
{
    const QString image = writeImage("first.bin", "image");
    browse(image);
    QCOMPARE(widget<QLineEdit>("lineEdit")->text(), image);

    browse(QString());
    QVERIFY(widget<QLineEdit>("lineEdit")->text().isEmpty());
    QVERIFY(form->CreateJsonQByteArray().isEmpty());

    const QList<SeenBox> boxes = pressStart(QMessageBox::Ok);
    QCOMPARE(boxes.size(), 1);
    QCOMPARE(boxes.first().text, QString("Please select a bin file"));
}

void TestForm::answeringNoChangesNothing()
{
    browse(writeImage("camera.bin", "image"));
    widget<QLabel>("label_state")->setText("unchanged");
    QSignalSpy clientStates(form->findChild<MqttClient *>(), &MqttClient::stateChanged);

    const QList<SeenBox> boxes = pressStart(QMessageBox::No);
    QCOMPARE(boxes.size(), 1);
    QCOMPARE(boxes.first().text, QString("Do you want to update?"));
    QCOMPARE(boxes.first().buttons, QMessageBox::Yes | QMessageBox::No);

    QTest::qWait(100);
    QVERIFY(widget<QPushButton>("pushButton_Start")->isEnabled());
    QCOMPARE(widget<QLabel>("label_state")->text(), QString("unchanged"));
    QCOMPARE(clientStates.size(), 0);
}

void TestForm::requestDescribesTheChosenImage_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QString>("md5");
    QTest::newRow("small image") << QByteArray("hello") << "5d41402abc4b2a76b9719d911017c592";
    QTest::newRow("empty image") << QByteArray() << "d41d8cd98f00b204e9800998ecf8427e";
}

void TestForm::requestDescribesTheChosenImage()
{
    QFETCH(QByteArray, content);
    QFETCH(QString, md5);
    browse(writeImage("fw 2.8.1.bin", content));

    const QString localIp = LocalAddress::ForDevice(
        "192.0.2.10", Form::ChooseLocalIp(QNetworkInterface::allAddresses()));
    const QString expected = QString("{\"buffer_size\":\"1048576\",\"client_ip\":\"%1\","
                                     "\"file_md5\":\"%2\",\"file_name\":\"fw 2.8.1.bin\","
                                     "\"file_size\":\"%3\"}")
                                 .arg(localIp, md5)
                                 .arg(content.size());
    QCOMPARE(QString::fromUtf8(form->CreateJsonQByteArray()), expected);
}

void TestForm::requestIsEmptyWhenTheImageIsGone()
{
    const QString image = writeImage("gone.bin", "image");
    browse(image);
    QVERIFY(QFile::remove(image));
    QVERIFY(form->CreateJsonQByteArray().isEmpty());
}

void TestForm::statusReportsMoveTheWindow_data()
{
    QTest::addColumn<QString>("topic");
    QTest::addColumn<QByteArray>("payload");
    QTest::addColumn<int>("bar");
    QTest::addColumn<QString>("state"); // "?" for the JSON library's own error text
    QTest::addColumn<bool>("startEnabled");

    // The window starts each row with the bar at 37, "before" shown and Start
    // disabled, as during an update.
    const auto report
        = [](const char *name, const char *payload, int bar, const char *state, bool startEnabled) {
              QTest::newRow(name) << QString(Protocol::updateStatusTopic) << QByteArray(payload)
                                  << bar << state << startEnabled;
          };
    report("progress", R"({"type":"1","errorcode":"0","progress":"45","message":"Writing"})", 45,
        "Writing", false);
    report("completion", R"({"type":"2","errorcode":"0","progress":"100","message":"Done"})", 100,
        "Done", true);
    report("type 2 short of 100",
        R"({"type":"2","errorcode":"0","progress":"99","message":"Almost"})", 99, "Almost", false);
    report("camera error",
        R"({"type":"2","errorcode":"3","progress":"100","message":"Flash write error"})", 37,
        "Flash write error", false);
    report("unknown type", R"({"type":"3","errorcode":"0","progress":"100","message":"x"})", 37,
        "before", false);
    report("no type", R"({"errorcode":"0","progress":"100","message":"x"})", 37, "before", false);
    report("progress as a number", R"({"type":"2","errorcode":"0","progress":100,"message":"Num"})",
        0, "Num", false);
    report("type as a number", R"({"type":2,"errorcode":"0","progress":"100","message":"x"})", 37,
        "before", false);
    report("error code as a number",
        R"({"type":"2","errorcode":0,"progress":"100","message":"Err"})", 37, "Err", false);
    report("progress not a number",
        R"({"type":"1","errorcode":"0","progress":"abc","message":"m"})", 0, "m", false);
    report("progress out of range",
        R"({"type":"1","errorcode":"0","progress":"150","message":"m"})", 37, "m", false);
    report("markup stays text",
        R"({"type":"1","errorcode":"0","progress":"50","message":"<b>x</b>"})", 50, "<b>x</b>",
        false);
    report("array", R"([{"type":"2","errorcode":"0","progress":"100"}])", 37, "before", false);
    report("not JSON", "not json", 37, "?", true);
    report("empty payload", "", 37, "?", true);
    QTest::newRow("other topic") << "Ordel Tool_out/other" << QByteArray("not json") << 37
                                 << "before" << false;
    QTest::newRow("topic in other case")
        << QString(Protocol::updateStatusTopic).toLower()
        << QByteArray(R"({"type":"2","errorcode":"0","progress":"100","message":"x"})") << 37
        << "before" << false;
}

void TestForm::statusReportsMoveTheWindow()
{
    QFETCH(QString, topic);
    QFETCH(QByteArray, payload);
    QFETCH(int, bar);
    QFETCH(QString, state);
    QFETCH(bool, startEnabled);
    widget<QProgressBar>("progressBar")->setValue(37);
    widget<QLabel>("label_state")->setText("before");
    widget<QPushButton>("pushButton_Start")->setEnabled(false);

    QVERIFY(QMetaObject::invokeMethod(
        form, "topicMessageReceived", Q_ARG(QByteArray, payload), Q_ARG(QString, topic)));

    QCOMPARE(widget<QProgressBar>("progressBar")->value(), bar);
    const QString shown = widget<QLabel>("label_state")->text();
    if (state == "?")
        QVERIFY2(!shown.isEmpty() && shown != "before", qPrintable(shown));
    else
        QCOMPARE(shown, state);
    QCOMPARE(widget<QPushButton>("pushButton_Start")->isEnabled(), startEnabled);
}

void TestForm::localAddressIsTheLastUsableIpv4_data()
{
    QTest::addColumn<QStringList>("addresses");
    QTest::addColumn<QString>("chosen");
    QTest::newRow("loopback only") << QStringList { "127.0.0.1", "::1" } << "";
    QTest::newRow("nothing") << QStringList {} << "";
    QTest::newRow("last one wins")
        << QStringList { "127.0.0.1", "192.168.1.5", "10.0.0.2" } << "10.0.0.2";
    QTest::newRow("IPv6 skipped") << QStringList { "10.0.0.2", "::1", "fe80::1", "2001:db8::5" }
                                  << "10.0.0.2";
    QTest::newRow("unspecified skipped")
        << QStringList { "192.168.1.5", "0.0.0.0" } << "192.168.1.5";
    // Only 127.0.0.1 itself counts as the loopback address.
    QTest::newRow("other 127 address") << QStringList { "192.168.1.5", "127.0.0.2" } << "127.0.0.2";
}

void TestForm::localAddressIsTheLastUsableIpv4()
{
    QFETCH(QStringList, addresses);
    QFETCH(QString, chosen);
    QList<QHostAddress> list;
    for (const QString &address : addresses)
        list.append(QHostAddress(address));
    QCOMPARE(Form::ChooseLocalIp(list), chosen);
}

QTEST_MAIN(TestForm)
#include "tst_form.moc"
