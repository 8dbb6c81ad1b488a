#include "form.h"
#include "labcamera.h"
#include "labcameras.h"
#include "mqttclient.h"
#include "timeline.h"
#include "updatedriver.h"

#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QtTest>

#include <signal.h>

using namespace UpdateDriver;

namespace {

// A time the test bounds, named with its figure when it fails.
QString outside(const QString &what, qint64 ms, qint64 least, qint64 most)
{
    if (ms >= least && ms <= most)
        return QString();
    return QString("%1 %2 ms (%3 to %4 allowed)").arg(what).arg(ms).arg(least).arg(most);
}

} // namespace

// The firmware update window against simulated cameras on the virtual LAN:
// each camera announces nothing by itself, takes the request over its own
// broker, receives the image on TCP 8000 and reports back. A good update, and
// every failure naming itself and giving Start back.
class TestUpdate : public QObject
{
    Q_OBJECT

private slots:
    void cleanup();

    // A good update
    void imageArrivesByteForByte();
    void slowCameraReceivesEveryByte();
    void secondUpdateOfACameraWaitsForItsFinalReport();

    // Failures: each one names itself and gives Start back
    void noListenerFailsAfterThreeAttempts();
    void lateListenerIsReachedOnALaterAttempt();
    void brokerDownFailsToConnect_data();
    void brokerDownFailsToConnect();
    void imageRemovedAfterBrowsePublishesNothing();
    void droppedConnectionFailsTheTransfer_data();
    void droppedConnectionFailsTheTransfer();
    void cameraErrorKeepsStartDisabled_data();
    void cameraErrorKeepsStartDisabled();
    void invalidStatusEnablesStartOnlyAfterTheTransfer();
    void answeringNoSendsNothing();

private:
    LabCameras cameras;
};

void TestUpdate::cleanup()
{
    closeWindows();
    cameras.clear();
}

void TestUpdate::imageArrivesByteForByte()
{
    LabCamera *camera = cameras.start(1, LabCameras::updating());
    const QByteArray image = randomBytes(largeImageSize);
    Form *form = openWindow(camera, imageFile("camera-fw-2.bin", image));
    QVERIFY(form);
    Timeline timeline(camera, form);

    UPDATE_STEP(start(form));
    UPDATE_STEP(verifySucceeded(form));
    UPDATE_STEP(verifyImageArrived(camera, image));

    const QList<QJsonObject> requests = camera->events("update-request");
    QCOMPARE(requests.size(), 1);
    QCOMPARE(requests.first().value("payload").toString(), announcement("camera-fw-2.bin", image));
    QVERIFY(camera->events("update-invalid").isEmpty());
    const QList<QJsonObject> accepts = camera->events("tcp-accept");
    QCOMPARE(accepts.size(), 1);
    QVERIFY(accepts.first().value("from").toString().startsWith(camera->toolAddress() + ':'));

    // The full broker wait of 1000 ms, then the camera's settle time of 5000
    // ms before the image; the camera logs the request a moment after the
    // tool published it.
    QCOMPARE(
        outside("Yes to request",
            timeline.firstSeen(camera, "update-request") - timeline.firstDisabled(), 990, 2500),
        QString());
    QCOMPARE(outside("request to TCP accept",
                 eventTime(accepts.first()) - eventTime(requests.first()), 4950, 6500),
        QString());

    // One chunk of at most 1 MiB per pause of about 500 ms.
    const QList<Burst> bursts = readBursts(camera);
    QStringList figures;
    for (int i = 0; i < bursts.size(); ++i) {
        figures << QString("%1 B at +%2 ms")
                       .arg(bursts[i].bytes)
                       .arg(bursts[i].start - bursts.first().start);
    }
    QVERIFY2(bursts.size() == int((largeImageSize + chunkSize - 1) / chunkSize),
        qPrintable(figures.join(", ")));
    for (int i = 0; i < bursts.size(); ++i) {
        QVERIFY2(bursts[i].bytes <= chunkSize, qPrintable(figures[i]));
        if (i > 0) {
            const qint64 gap = bursts[i].start - bursts[i - 1].start;
            QVERIFY2(gap >= 480 && gap <= 1500, qPrintable(figures[i]));
        }
    }
}

// The camera takes the image slower than the tool writes it: the chunks queue
// up in the socket, and the last one must still be delivered whole.
void TestUpdate::slowCameraReceivesEveryByte()
{
    const int bytesPerSecond = 524288;
    LabCamera *camera
        = cameras.start(2, LabCameras::updating({ QString("slow=%1").arg(bytesPerSecond) }));
    const QByteArray image = randomBytes(largeImageSize);
    Form *form = openWindow(camera, imageFile("slow.bin", image));
    QVERIFY(form);
    Timeline timeline;
    timeline.watchToolSocket();

    UPDATE_STEP(start(form));
    QVERIFY(camera->waitForEvent("image", 1, 40000));
    UPDATE_STEP(verifyImageArrived(camera, image));
    UPDATE_STEP(verifySucceeded(form));

    const qint64 transferMs = eventTime(camera->events("image").first())
        - eventTime(camera->events("tcp-accept").first());
    const qint64 linkMs = largeImageSize * 1000 / bytesPerSecond;
    QVERIFY2(transferMs >= linkMs * 9 / 10,
        qPrintable(QString("transfer %1 ms, the link needs %2 ms").arg(transferMs).arg(linkMs)));
    // A chunk is written only once the one before has left the socket.
    QVERIFY2(timeline.mostQueued <= chunkSize,
        qPrintable(QString("%1 bytes waited in the tool's socket").arg(timeline.mostQueued)));
}

// Two windows of one camera, both started, and a camera that takes seconds
// to flash an image before its final report. The reports carry no identity,
// so the second update begins only once the first has had its final report;
// before, that report landed in the second update's waits and ended it as a
// success before the camera had said a word about the second image.
void TestUpdate::secondUpdateOfACameraWaitsForItsFinalReport()
{
    LabCamera *camera = cameras.start(1, LabCameras::updating({ "flash-time=2500" }));
    const QByteArray firstImage = randomBytes(2 * chunkSize + 11);
    const QByteArray secondImage = randomBytes(chunkSize + 7);
    Form *first = openWindow(camera, imageFile("first.bin", firstImage));
    Form *second = openWindow(camera, imageFile("second.bin", secondImage));
    QVERIFY(first && second);
    Timeline timeline(camera, second);
    // The camera's final reports so far, when the second window gave Start back.
    const auto finalReports = [camera] {
        int reports = 0;
        for (const QJsonObject &status : camera->events("status"))
            reports += status.value("payload").toString().contains(R"("type":"2")");
        return reports;
    };
    int finalReportsWhenBack = -1;
    timeline.onEvent(
        startButton(second),
        [second](QEvent *event) {
            return event->type() == QEvent::EnabledChange && startButton(second)->isEnabled();
        },
        [&] { finalReportsWhenBack = finalReports(); });

    UPDATE_STEP(start(first));
    UPDATE_STEP(start(second));
    UPDATE_STEP(verifySucceeded(first));
    UPDATE_STEP(verifySucceeded(second));
    UPDATE_STEP(verifyImageArrived(camera, secondImage));

    const QList<QJsonObject> requests = camera->events("update-request");
    QCOMPARE(requests.size(), 2);
    QCOMPARE(requests[0].value("payload").toString(), announcement("first.bin", firstImage));
    QCOMPARE(requests[1].value("payload").toString(), announcement("second.bin", secondImage));
    const QList<QJsonObject> images = camera->events("image");
    QCOMPARE(images.size(), 2);
    QVERIFY(images[0].value("ok").toBool());
    QVERIFY(timeline.firstShown("Waiting for this camera's previous update...", true) >= 0);
    QCOMPARE(finalReportsWhenBack, 2);
}

void TestUpdate::noListenerFailsAfterThreeAttempts()
{
    LabCamera *camera = cameras.start(3, LabCameras::updating({ "no-listener" }));
    Form *form = openWindow(camera, imageFile("nolistener.bin", randomBytes(smallImageSize)));
    QVERIFY(form);
    Timeline timeline(camera, form);

    UPDATE_STEP(start(form));
    UPDATE_STEP(verifyEnded(form, "Connect Server Failed"));
    QCOMPARE(camera->events("update-request").size(), 1);
    QVERIFY(camera->events("tcp-accept").isEmpty());

    // 5000 ms settle, then attempts waited 1000, 3000 and 3000 ms.
    QCOMPARE(outside("request to failure",
                 timeline.firstShown("Connect Server Failed")
                     - timeline.firstSeen(camera, "update-request"),
                 11900, 14500),
        QString());
}

void TestUpdate::lateListenerIsReachedOnALaterAttempt()
{
    // Between the first attempt (request + 5000) and the second (+ 6000).
    LabCamera *camera = cameras.start(1, LabCameras::updating({ "listen-after=5600" }));
    const QByteArray image = randomBytes(smallImageSize);
    Form *form = openWindow(camera, imageFile("late.bin", image));
    QVERIFY(form);

    UPDATE_STEP(start(form));
    UPDATE_STEP(verifySucceeded(form));
    UPDATE_STEP(verifyImageArrived(camera, image));
    const qint64 requested = eventTime(camera->events("update-request").first());
    const qint64 listening = eventTime(camera->events("tcp-listen").first()) - requested;
    // The second attempt (request + 6000): not the first (refused), not the
    // third (request + 9000).
    QCOMPARE(outside(QString("listening at request + %1 ms; request to TCP accept").arg(listening),
                 eventTime(camera->events("tcp-accept").first()) - requested, 5950, 8499),
        QString());
}

void TestUpdate::brokerDownFailsToConnect_data()
{
    QTest::addColumn<bool>("killBroker");
    QTest::newRow("camera without broker") << false;
    QTest::newRow("broker killed before Start") << true;
}

void TestUpdate::brokerDownFailsToConnect()
{
    QFETCH(bool, killBroker);
    LabCamera *camera = cameras.start(2, killBroker ? LabCameras::updating() : QStringList());
    if (killBroker) {
        QVERIFY(camera->brokerPid() > 0);
        QCOMPARE(::kill(pid_t(camera->brokerPid()), SIGKILL), 0);
        QVERIFY(camera->waitForEvent("broker-exit"));
    }
    Form *form = openWindow(camera, imageFile("nobroker.bin", randomBytes(smallImageSize)));
    QVERIFY(form);
    Timeline timeline(nullptr, form);

    UPDATE_STEP(start(form));
    UPDATE_STEP(verifyEnded(form, "Mqtt Connect Failed", 5000));
    // The broker wait of 1000 ms.
    QCOMPARE(outside("Yes to failure",
                 timeline.firstShown("Mqtt Connect Failed") - timeline.firstDisabled(), 990, 3000),
        QString());
}

void TestUpdate::imageRemovedAfterBrowsePublishesNothing()
{
    LabCamera *camera = cameras.start(3, LabCameras::updating());
    const QString path = imageFile("removed.bin", randomBytes(smallImageSize));
    Form *form = openWindow(camera, path);
    QVERIFY(form);
    QVERIFY(QFile::remove(path));

    UPDATE_STEP(start(form));
    UPDATE_STEP(verifyEnded(form, "Mqtt Create Json Object Failed", 5000));
    QVERIFY(!camera->waitForEvent("mqtt", 1, 500));
}

void TestUpdate::droppedConnectionFailsTheTransfer_data()
{
    QTest::addColumn<qint64>("dropAfter");
    QTest::newRow("in the middle of the image") << chunkSize / 2;
    // Just before the last chunk goes out: the tool must notice before it
    // writes it. Once every byte has gone out, the camera's report decides.
    QTest::newRow("just before the last chunk") << 2 * chunkSize - 5;
}

void TestUpdate::droppedConnectionFailsTheTransfer()
{
    QFETCH(qint64, dropAfter);
    LabCamera *camera
        = cameras.start(1, LabCameras::updating({ QString("drop-after=%1").arg(dropAfter) }));
    Form *form = openWindow(camera, imageFile("dropped.bin", randomBytes(mediumImageSize)));
    QVERIFY(form);
    Timeline timeline(camera, form);

    UPDATE_STEP(start(form));
    UPDATE_STEP(verifyEnded(form, "Send Bin File Failed"));
    const QList<QJsonObject> drops = camera->events("tcp-drop");
    QCOMPARE(drops.size(), 1);
    QCOMPARE(drops.first().value("after").toVariant().toLongLong(), dropAfter);
    QVERIFY(!lastImage(camera).ok);

    // Noticed at the next step, not after the 30 s without progress.
    const qint64 dropToFailure
        = timeline.firstShown("Send Bin File Failed") - timeline.firstSeen(camera, "tcp-drop");
    QVERIFY2(dropToFailure <= 3000, qPrintable(QString::number(dropToFailure)));
}

void TestUpdate::cameraErrorKeepsStartDisabled_data()
{
    QTest::addColumn<QStringList>("faults");
    QTest::newRow("error report") << QStringList { "error-report" };
    // A success report of an earlier update comes with the request, before
    // this update's image: it must not end the update.
    QTest::newRow("error report after a stale success")
        << QStringList { "stale-completion", "error-report" };
}

// A failed flash is the camera's to report; the window shows it and keeps the
// bar where the last good report left it.
void TestUpdate::cameraErrorKeepsStartDisabled()
{
    QFETCH(QStringList, faults);
    LabCamera *camera = cameras.start(2, LabCameras::updating(faults));
    Form *form = openWindow(camera, imageFile("flash.bin", randomBytes(smallImageSize)));
    QVERIFY(form);
    Timeline timeline(camera, form);

    UPDATE_STEP(start(form));
    QTRY_COMPARE_WITH_TIMEOUT(state(form)->text(), QString("Flash write error"), updateTimeoutMs);
    int lastGoodProgress = -1;
    for (const QJsonObject &status : camera->events("status")) {
        const QJsonObject report
            = QJsonDocument::fromJson(status.value("payload").toString().toUtf8()).object();
        if (report.value("errorcode").toString() == "0")
            lastGoodProgress = report.value("progress").toString().toInt();
    }
    QVERIFY(lastGoodProgress > 0 && lastGoodProgress < 100);
    // The last report stays up; nothing gave Start back, at any time.
    QTest::qWait(500);
    QCOMPARE(state(form)->text(), QString("Flash write error"));
    QCOMPARE(progress(form)->value(), lastGoodProgress);
    QVERIFY(!startButton(form)->isEnabled());
    QVERIFY2(timeline.lastEnabled() < 0, qPrintable(timeline.describe()));
}

// The camera's reports are not JSON, also the ones it sends while the image
// is still coming in: Start must wait for the transfer to end.
void TestUpdate::invalidStatusEnablesStartOnlyAfterTheTransfer()
{
    LabCamera *camera = cameras.start(3, LabCameras::updating({ "status-not-json" }));
    const QByteArray image = randomBytes(mediumImageSize);
    Form *form = openWindow(camera, imageFile("notjson.bin", image));
    QVERIFY(form);
    Timeline timeline(camera, form);

    // Looked at right after the window has handled each report: the window's
    // own connection was made first.
    int reportsWhileSending = 0;
    int enabledWhileSending = 0;
    auto *client = form->findChild<MqttClient *>();
    QVERIFY(client);
    connect(
        client, &MqttClient::messageReceived, form, [&](const QByteArray &, const QString &topic) {
            // The camera logs a read before it reports it.
            if (topic != Protocol::updateStatusTopic || bytesRead(camera) >= image.size())
                return;
            ++reportsWhileSending;
            if (startButton(form)->isEnabled())
                ++enabledWhileSending;
        });

    QJsonParseError parseError;
    QJsonDocument::fromJson("not json", &parseError);
    UPDATE_STEP(start(form));
    UPDATE_STEP(verifyEnded(form, parseError.errorString()));
    UPDATE_STEP(verifyImageArrived(camera, image));
    QVERIFY(reportsWhileSending > 0);
    QCOMPARE(enabledWhileSending, 0);
    const qint64 imageEnded = timeline.firstSeen(camera, "image");
    const qint64 enabled = timeline.lastEnabled();
    QVERIFY2(enabled >= imageEnded - 200,
        qPrintable(QString("Start enabled %1 ms after the camera saw the connection end")
                       .arg(enabled - imageEnded)));
}

void TestUpdate::answeringNoSendsNothing()
{
    LabCamera *camera = cameras.start(1, LabCameras::updating());
    Form *form = openWindow(camera, imageFile("no.bin", randomBytes(smallImageSize)));
    QVERIFY(form);

    UPDATE_STEP(start(form, QMessageBox::No));
    QVERIFY(startButton(form)->isEnabled());
    QVERIFY(state(form)->text().isEmpty());
    QVERIFY(!camera->waitForEvent("update-request", 1, 2000));
    QVERIFY(camera->events("mqtt").isEmpty());
}

QTEST_MAIN(TestUpdate)
#include "tst_update.moc"
