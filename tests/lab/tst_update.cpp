#include "applicationloop.h"
#include "form.h"
#include "labcamera.h"
#include "labcameras.h"
#include "mainwindow.h"
#include "modalanswerer.h"
#include "mqttclient.h"
#include "processfigures.h"
#include "searchdriver.h"
#include "timeline.h"
#include "updatedriver.h"

#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QStandardItemModel>
#include <QTableView>
#include <QUdpSocket>
#include <QtTest>

#include <memory>
#include <signal.h>

using namespace UpdateDriver;

namespace {

// Several chunks and a short tail: the last chunk is where bytes get lost.
constexpr qint64 largeImageSize = 3 * chunkSize + 17;
constexpr qint64 smallImageSize = chunkSize + 17;
constexpr qint64 dropImageSize = 2 * chunkSize + 17;

// What this process holds open, by what each descriptor links to.
QStringList openFiles()
{
    QStringList targets;
    for (const int descriptor : ProcessFigures::openDescriptors())
        targets << QFile::symLinkTarget(QStringLiteral("/proc/self/fd/%1").arg(descriptor));
    return targets;
}

// Prints a time the test bounds; true when it lies within the bounds.
bool within(const char *what, qint64 ms, qint64 least, qint64 most)
{
    qInfo("%s %lld ms (%lld to %lld allowed)", what, ms, least, most);
    return ms >= least && ms <= most;
}

// Closes one update window at a chosen moment of its update, and notes what
// the camera and the tool's socket held then.
struct Closing
{
    Closing(LabCamera *camera, Form *form, bool quits)
        : timeline(camera, form)
        , camera(camera)
        , form(form)
        , mainWindow(quits ? new MainWindow : nullptr)
    {
        timeline.watchToolSocket();
        QObject::connect(
            form, &QObject::destroyed, &timeline, [this] { destroyedAt = timeline.now(); });
    }

    // Quitting closes the main window instead, and answers its question a
    // moment later: the update stops then.
    void close()
    {
        if (!form || asked)
            return;
        asked = true;
        if (mainWindow) {
            answerer = std::make_unique<ModalAnswerer>();
            answerer->pressButton(QMessageBox::Yes, 700);
            // Connected after the windows' own handlers, so it runs last.
            QObject::connect(qApp, &QGuiApplication::lastWindowClosed, &timeline, [this] {
                noteClose();
                hiddenAtOnce = form && !form->isVisible();
            });
            mainWindow->close();
            return;
        }
        noteClose();
        form->close();
        hiddenAtOnce = form && !form->isVisible();
    }

    void noteClose()
    {
        closedAt = timeline.now();
        readAtClose = bytesRead(camera);
        queuedAtClose = timeline.queued();
    }

    Timeline timeline;
    LabCamera *camera;
    QPointer<Form> form;
    std::unique_ptr<MainWindow> mainWindow;
    std::unique_ptr<ModalAnswerer> answerer;
    bool asked = false;
    qint64 closedAt = -1;
    qint64 destroyedAt = -1;
    qint64 readAtClose = -1;
    qint64 queuedAtClose = 0;
    bool hiddenAtOnce = false;
};

} // namespace

// The firmware update window against simulated cameras on the virtual LAN:
// each camera announces nothing by itself, takes the request over its own
// broker, receives the image on TCP 8000 and reports back.
class TestUpdate : public QObject
{
    Q_OBJECT

public:
    enum CloseMoment {
        QuestionOpen,
        FirstPaintWait,
        SecondPaintWait,
        BrokerConnectWait,
        DigestPause,
        SettleWait,
        FirstConnectWait,
        ChunkPause,
        DrainWaitBetweenChunks,
        DrainWaitBeforeClosing,
        BeforeQueuedBrokerStep,
        BeforeQueuedTransferStep,
    };
    Q_ENUM(CloseMoment)
    // What the camera may have got by the time the update stopped.
    enum Reached { NothingPublished, RequestOnly, ConnectionOnly, ChunksBeforeClose, CutShort };
    Q_ENUM(Reached)

private slots:
    void cleanup();

    // A good update
    void imageArrivesByteForByte();
    void slowCameraReceivesEveryByte();
    void otherWindowsDoNotStallTheTransfer_data();
    void otherWindowsDoNotStallTheTransfer();
    void mainWindowBoxesDoNotStallTheTransfer_data();
    void mainWindowBoxesDoNotStallTheTransfer();
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

    // Closing the window while the update waits
    void closingStopsTheUpdate_data();
    void closingStopsTheUpdate();
    void closingAWindowInLine_data();
    void closingAWindowInLine();

private:
    void armClose(Closing &closing, CloseMoment moment, const QString &path, qint64 imageSize);
    void runUpdate(Closing &closing, CloseMoment moment);
    void verifyReached(const Closing &closing, Reached reached, qint64 imageSize);
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
    QVERIFY(within("Yes to request",
        timeline.firstSeen(camera, "update-request") - timeline.firstDisabled(), 990, 2500));
    QVERIFY(within("request to TCP accept",
        eventTime(accepts.first()) - eventTime(requests.first()), 4950, 6500));

    // One chunk of at most 1 MiB per pause of about 500 ms.
    const QList<Burst> bursts = readBursts(camera);
    QStringList figures;
    for (int i = 0; i < bursts.size(); ++i) {
        figures << QString("%1 B at +%2 ms")
                       .arg(bursts[i].bytes)
                       .arg(bursts[i].start - bursts.first().start);
    }
    qInfo("camera's read bursts: %s", qPrintable(figures.join(", ")));
    QCOMPARE(bursts.size(), int((largeImageSize + chunkSize - 1) / chunkSize));
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
    qInfo("slow camera: transfer %lld ms, the link needs %lld ms; at most %lld bytes waited in "
          "the tool's socket",
        transferMs, linkMs, timeline.mostQueued);
    QVERIFY(transferMs >= linkMs * 9 / 10);
    // A chunk is written only once the one before has left the socket.
    QVERIFY(timeline.mostQueued <= chunkSize);
}

void TestUpdate::otherWindowsDoNotStallTheTransfer_data()
{
    // Else the second window's file chooser is left open meanwhile.
    QTest::addColumn<bool>("secondUpdates");
    QTest::newRow("another window's update") << true;
    QTest::newRow("another window's file chooser") << false;
}

// Each window talks to its own camera. What the operator does in a second
// window while the first image is being sent must not pause the first
// transfer: a second update waits its turn, and a chooser holds nothing.
void TestUpdate::otherWindowsDoNotStallTheTransfer()
{
    QFETCH(bool, secondUpdates);
    const int chooserOpenMs = 3000;
    LabCamera *first = cameras.start(1, LabCameras::updating());
    LabCamera *second = cameras.start(2, LabCameras::updating());
    const QByteArray firstImage = randomBytes(4 * chunkSize + 5);
    const QByteArray secondImage = randomBytes(chunkSize + 9);
    Form *firstForm = openWindow(first, imageFile("first.bin", firstImage));
    Form *secondForm = openWindow(second, imageFile("second.bin", secondImage));
    QVERIFY(firstForm && secondForm);
    Timeline timeline(second, secondForm);
    // Made only when needed: an answerer answers every box it sees.
    std::unique_ptr<ModalAnswerer> chooser;
    bool acted = false;
    timeline.afterEvent(first, "tcp-read", 0, [&] {
        acted = true;
        if (secondUpdates) {
            start(secondForm);
            return;
        }
        chooser = std::make_unique<ModalAnswerer>();
        chooser->chooseFile(QString(), chooserOpenMs);
        QTest::mouseClick(
            secondForm->findChild<QPushButton *>("pushButton_Browser"), Qt::LeftButton);
    });

    UPDATE_STEP(start(firstForm));
    UPDATE_STEP(verifySucceeded(firstForm));
    UPDATE_STEP(verifyImageArrived(first, firstImage));
    QVERIFY(acted);
    const QList<qint64> gaps = chunkGaps(first);
    qInfo() << "camera 1: ms between its chunks:" << gaps;
    QCOMPARE(gaps.size(), 4);
    for (const qint64 gap : gaps)
        QVERIFY2(gap <= 1000, qPrintable(QString::number(gap)));

    if (!secondUpdates) {
        QVERIFY(chooser->waitUntilAnswered(chooserOpenMs + 5000));
        QCOMPARE(chooser->fileDialogs.size(), 1);
        return;
    }
    UPDATE_STEP(verifySucceeded(secondForm));
    UPDATE_STEP(verifyImageArrived(second, secondImage));
    QCOMPARE(first->events("update-request").first().value("payload").toString(),
        announcement("first.bin", firstImage));
    QCOMPARE(second->events("update-request").first().value("payload").toString(),
        announcement("second.bin", secondImage));
    // The second waited, said so, and announced only once the first image
    // was sent.
    QVERIFY(timeline.firstShown("Waiting for another camera's update...") >= 0);
    QVERIFY(timeline.firstSeen(second, "update-request") > timeline.firstSeen(first, "image"));
    qInfo("both updates took %lld ms from the first Yes", timeline.now());
}

void TestUpdate::mainWindowBoxesDoNotStallTheTransfer_data()
{
    QTest::addColumn<QString>("box");
    // The menus and boxes that open in all.
    QTest::addColumn<int>("opened");
    QTest::newRow("quit question") << "quit question" << 1;
    QTest::newRow("shut down question") << "shut down question" << 2;
    QTest::newRow("restart question") << "restart question" << 2;
    QTest::newRow("no row selected") << "no row selected" << 1;
    QTest::newRow("port held by another program") << "port held by another program" << 1;
    QTest::newRow("row menu") << "row menu" << 1;
    QTest::newRow("search still running") << "search still running" << 2;
}

// A box or the row menu of the main window, left open for five seconds while
// an image is being sent, must not hold the transfer: the chunks keep their
// pace. Each is answered so that nothing is sent to a camera.
void TestUpdate::mainWindowBoxesDoNotStallTheTransfer()
{
    QFETCH(QString, box);
    QFETCH(int, opened);
    const int openMs = 5000;
    const qint64 longestGapMs = 700;
    LabCamera *camera = cameras.start(1, LabCameras::updating());
    const QByteArray image = randomBytes(12 * chunkSize + 3);
    Form *form = openWindow(camera, imageFile("boxes.bin", image));
    QVERIFY(form);
    MainWindow window;
    window.show();
    // Camera 2's row, whose questions are answered No.
    SearchDriver::addRow(
        &window, { LabCamera::address(2), "00:1A:2B:3C:4D:02", "SN2", "B", "T", "1", "1" });
    // Made only once the image is on its way: an answerer answers every box
    // it sees, the update's own question included.
    std::unique_ptr<ModalAnswerer> answering;
    QUdpSocket holder;
    // The chunks measured: all of them, or those after the search's own pause.
    qint64 measuredFrom = 0;
    Timeline timeline(camera, form);
    // From inside the update's waits, without a wait of the test's own.
    timeline.afterEvent(camera, "tcp-read", 0, [&] {
        using namespace SearchDriver;
        answering = std::make_unique<ModalAnswerer>();
        ModalAnswerer &answerer = *answering;
        if (box == "quit question") {
            answerer.pressButton(QMessageBox::No, openMs);
            window.close();
        } else if (box == "shut down question" || box == "restart question") {
            openMenu(&window, answerer, 0, box == "restart question" ? "Restart" : "Shut Down",
                QMessageBox::No, openMs);
        } else if (box == "no row selected") {
            answerer.pressButton(QMessageBox::Ok, openMs);
            emit table(&window)->customContextMenuRequested(QPoint(5, 5));
        } else if (box == "port held by another program") {
            QVERIFY(holder.bind(
                QHostAddress::Any, Protocol::discoveryPort, QAbstractSocket::DontShareAddress));
            answerer.pressButton(QMessageBox::Ok, openMs);
            QTest::mouseClick(searchButton(&window), Qt::LeftButton);
        } else if (box == "row menu") {
            selectRow(&window, 0);
            answerer.chooseMenuEntry(QString(), openMs);
            emit table(&window)->customContextMenuRequested(QPoint(5, 5));
        } else {
            // The search holds the update for its own 2.5 s, as it always
            // has; the refusal asked for during it must not hold it longer.
            QTest::mouseClick(searchButton(&window), Qt::LeftButton);
        }
    });
    if (box == "search still running") {
        timeline.when(
            [&] {
                return SearchDriver::status(&window)->text() == "Searching Device..."
                    && SearchDriver::model(&window)->rowCount() > 0;
            },
            [&] {
                SearchDriver::openMenu(
                    &window, *answering, 0, "Login Page", QMessageBox::Ok, openMs);
            });
        timeline.when([&] { return SearchDriver::status(&window)->text() == "Search Completed"; },
            [&] { measuredFrom = bytesRead(camera); });
    }

    UPDATE_STEP(start(form));
    UPDATE_STEP(verifySucceeded(form));
    UPDATE_STEP(verifyImageArrived(camera, image));
    QVERIFY(answering && answering->waitUntilAnswered(openMs));
    QCOMPARE(answering->unexpectedBoxes, 0);
    QCOMPARE(answering->boxes.size() + answering->menus.size(), opened);
    QVERIFY(window.isVisible());
    const QList<qint64> gaps = chunkGaps(camera, measuredFrom);
    qInfo() << "ms between chunks with the" << box << "open:" << gaps;
    QVERIFY(gaps.size() >= 4);
    for (const qint64 gap : gaps)
        QVERIFY2(gap <= longestGapMs, qPrintable(QString::number(gap)));
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
    QVERIFY(within("request to failure",
        timeline.firstShown("Connect Server Failed") - timeline.firstSeen(camera, "update-request"),
        11900, 14500));
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
    qInfo("listening at request + %lld ms",
        eventTime(camera->events("tcp-listen").first()) - requested);
    // The second attempt (request + 6000): not the first (refused), not the
    // third (request + 9000).
    QVERIFY(within("request to TCP accept",
        eventTime(camera->events("tcp-accept").first()) - requested, 5950, 8499));
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
    QVERIFY(within("Yes to failure",
        timeline.firstShown("Mqtt Connect Failed") - timeline.firstDisabled(), 990, 3000));
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
    Form *form = openWindow(camera, imageFile("dropped.bin", randomBytes(dropImageSize)));
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
    qInfo("drop to \"Send Bin File Failed\" %lld ms", dropToFailure);
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
    const QByteArray image = randomBytes(2 * chunkSize + 17);
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
    qInfo("%d reports came while the image was still being sent", reportsWhileSending);
    QVERIFY(reportsWhileSending > 0);
    QCOMPARE(enabledWhileSending, 0);
    const qint64 imageEnded = timeline.firstSeen(camera, "image");
    const qint64 enabled = timeline.lastEnabled();
    qInfo("Start enabled %lld ms after the camera saw the connection end", enabled - imageEnded);
    QVERIFY(enabled >= imageEnded - 200);
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

void TestUpdate::closingStopsTheUpdate_data()
{
    QTest::addColumn<CloseMoment>("moment");
    QTest::addColumn<qint64>("imageSize");
    QTest::addColumn<Reached>("reached");
    QTest::addColumn<QStringList>("faults");
    // Closed by quitting the application from the main window instead.
    QTest::addColumn<bool>("quits");
    const auto row = [](const char *name, CloseMoment moment, qint64 imageSize, Reached reached,
                         const QStringList &faults = {}, bool quits = false) {
        QTest::newRow(name) << moment << imageSize << reached << faults << quits;
    };

    row("question open", QuestionOpen, smallImageSize, NothingPublished);
    row("first paint wait", FirstPaintWait, smallImageSize, NothingPublished);
    row("second paint wait", SecondPaintWait, smallImageSize, NothingPublished);
    row("broker connect wait", BrokerConnectWait, smallImageSize, NothingPublished);
    // Several 8 MiB blocks, so several pauses while the digest is taken.
    row("digest pause", DigestPause, 40 * chunkSize + 1, NothingPublished);
    row("settle wait", SettleWait, smallImageSize, RequestOnly);
    row("first connect attempt wait", FirstConnectWait, smallImageSize, ConnectionOnly);
    row("chunk pause", ChunkPause, largeImageSize, ChunksBeforeClose);
    // The camera reads 256 KiB/s: when the pause after a chunk ends, part of
    // it still waits in the socket, and the tool waits for it to drain.
    const QStringList slow { "slow=262144" };
    row("drain wait between chunks", DrainWaitBetweenChunks, largeImageSize, CutShort, slow);
    // All written: the tool waits for the socket to drain before closing.
    row("drain wait before closing", DrainWaitBeforeClosing, chunkSize * 3 / 2, CutShort, slow);
    // Closed after a step has returned and before the next, queued, runs.
    row("before the queued broker step", BeforeQueuedBrokerStep, smallImageSize, NothingPublished);
    row("before the queued transfer step", BeforeQueuedTransferStep, smallImageSize, RequestOnly);
    // The quit is answered after the chunk pause has ended, so the window
    // goes on to its next wait before the application ends.
    row("quit in a chunk pause", ChunkPause, largeImageSize, ChunksBeforeClose, {}, true);
}

void TestUpdate::closingStopsTheUpdate()
{
    QFETCH(CloseMoment, moment);
    QFETCH(qint64, imageSize);
    QFETCH(Reached, reached);
    QFETCH(QStringList, faults);
    QFETCH(bool, quits);

    LabCamera *camera = cameras.start(1, LabCameras::updating(faults));
    const QString path = imageFile("closing.bin", randomBytes(imageSize));
    const int descriptorsBefore = openFiles().size();
    Form *form = openWindow(camera, path);
    QVERIFY(form);
    Closing closing(camera, form, quits);
    armClose(closing, moment, path, imageSize);
    UPDATE_STEP(runUpdate(closing, moment));

    QTRY_VERIFY_WITH_TIMEOUT(closing.closedAt >= 0, updateTimeoutMs);
    QVERIFY(closing.hiddenAtOnce);
    QTRY_VERIFY_WITH_TIMEOUT(closing.form.isNull(), 15000);
    qInfo("closed at %lld ms, destroyed %lld ms later; camera had read %lld bytes, %lld waited "
          "in the tool's socket",
        closing.closedAt, closing.destroyedAt - closing.closedAt, closing.readAtClose,
        closing.queuedAtClose);
    UPDATE_STEP(verifyReached(closing, reached, imageSize));
    // The image, the camera's connections and the broker's socket are closed.
    QTRY_COMPARE_WITH_TIMEOUT(openFiles().size(), descriptorsBefore, 5000);
}

void TestUpdate::closingAWindowInLine_data()
{
    // Which window is closed: the one whose update runs, or the one waiting.
    QTest::addColumn<bool>("closeRunning");
    // Both windows update one camera, so the second waits for the camera.
    QTest::addColumn<bool>("sameCamera");
    // The application is quit instead, from the main window.
    QTest::addColumn<bool>("quits");
    QTest::newRow("running window closed") << true << false << false;
    QTest::newRow("waiting window closed") << false << false << false;
    QTest::newRow("running window of the same camera closed") << true << true << false;
    QTest::newRow("quit with two windows in line") << false << false << true;
}

// Two updates in line, the second waiting for the first: closing one of them,
// or quitting, mid-transfer. The other goes on or begins as if alone, and a
// closed window's update sends nothing more.
void TestUpdate::closingAWindowInLine()
{
    QFETCH(bool, closeRunning);
    QFETCH(bool, sameCamera);
    QFETCH(bool, quits);

    LabCamera *firstCamera = cameras.start(1, LabCameras::updating());
    LabCamera *secondCamera = sameCamera ? firstCamera : cameras.start(2, LabCameras::updating());
    const QByteArray firstImage = randomBytes(largeImageSize);
    const QByteArray secondImage = randomBytes(smallImageSize);
    QPointer<Form> first = openWindow(firstCamera, imageFile("first.bin", firstImage));
    QPointer<Form> second = openWindow(secondCamera, imageFile("second.bin", secondImage));
    QVERIFY(first && second);
    MainWindow window;
    window.show();
    std::unique_ptr<ModalAnswerer> quitAnswer;
    Timeline timeline(firstCamera, second);
    timeline.afterEvent(firstCamera, "tcp-read", 0, [&] {
        if (quits) {
            quitAnswer = std::make_unique<ModalAnswerer>();
            quitAnswer->pressButton(QMessageBox::Yes);
            window.close();
        } else {
            (closeRunning ? first : second)->close();
        }
    });

    if (quits) {
        QTimer::singleShot(0, this, [&] {
            start(first);
            start(second);
        });
        QCOMPARE(ApplicationLoop::Run(updateTimeoutMs, 1), 0);
        QTRY_VERIFY(first.isNull() && second.isNull());
    } else {
        UPDATE_STEP(start(first));
        UPDATE_STEP(start(second));
        // Noted by the timeline's next look at the status line.
        const QString waiting = sameCamera ? "Waiting for this camera's previous update..."
                                           : "Waiting for another camera's update...";
        QTRY_VERIFY2(timeline.firstShown(waiting, true) >= 0, qPrintable(timeline.describe()));
        Form *left = closeRunning ? second : first;
        UPDATE_STEP(verifySucceeded(left));
        UPDATE_STEP(verifyImageArrived(
            closeRunning ? secondCamera : firstCamera, closeRunning ? secondImage : firstImage));
        QTRY_VERIFY((closeRunning ? first : second).isNull());
    }
    // The closed window's camera got no more than the part sent before.
    if (!closeRunning || quits) {
        QVERIFY(!secondCamera->waitForEvent("update-request", sameCamera ? 2 : 1, 1000));
    }
    if (closeRunning || quits) {
        QVERIFY(firstCamera->waitForEvent("image"));
        QVERIFY(!firstCamera->events("image").constFirst().value("ok").toBool());
    }
}

// Sets the close off at the moment: from a timer, a poll of the timeline, or
// inside an event of the window.
void TestUpdate::armClose(
    Closing &closing, CloseMoment moment, const QString &path, qint64 imageSize)
{
    Timeline &timeline = closing.timeline;
    Form *form = closing.form;
    const auto close = [&closing] { closing.close(); };
    // Posted, so that the close comes from inside the wait that follows.
    const auto closeInNextWait = [&timeline, close] { QTimer::singleShot(0, &timeline, close); };
    switch (moment) {
    case QuestionOpen:
        QTimer::singleShot(200, &timeline, close);
        break;
    case FirstPaintWait:
        timeline.onEvent(
            startButton(form), [](QEvent *event) { return event->type() == QEvent::EnabledChange; },
            closeInNextWait);
        break;
    case SecondPaintWait:
        timeline.onEvent(
            state(form),
            [form](QEvent *event) {
                return event->type() == QEvent::Paint
                    && state(form)->text().startsWith("Preparation");
            },
            closeInNextWait);
        break;
    case BrokerConnectWait:
        timeline.when(
            [&timeline] {
                return timeline.firstDisabled() >= 0
                    && timeline.now() >= timeline.firstDisabled() + 500;
            },
            close);
        break;
    case DigestPause:
        // Only the digest's short pauses let a timer run while the image is open.
        timeline.when(
            [path] { return openFiles().contains(QFileInfo(path).canonicalFilePath()); }, close);
        break;
    case SettleWait:
        timeline.afterEvent(closing.camera, "update-request", 1000, close);
        break;
    case FirstConnectWait:
        timeline.afterEvent(closing.camera, "tcp-accept", 0, close);
        break;
    case ChunkPause:
        timeline.afterEvent(closing.camera, "tcp-read", 0, close);
        break;
    case DrainWaitBetweenChunks:
    case DrainWaitBeforeClosing:
        // The pause after a chunk is over and part of what was written still
        // waits in the socket: before the last chunk, or after it.
        timeline.when(
            [&timeline, chunks = int((imageSize + chunkSize - 1) / chunkSize),
                last = moment == DrainWaitBeforeClosing] {
                const int written = timeline.chunksWritten;
                return (last ? written == chunks : written < chunks) && timeline.queued() > 0
                    && timeline.now() > timeline.lastChunkAt + 600;
            },
            close);
        break;
    case BeforeQueuedBrokerStep:
    case BeforeQueuedTransferStep:
        // A queued step reaches the window as a meta-call event; the first is
        // the broker step, the second the transfer.
        timeline.onEvent(
            form,
            [wanted = moment == BeforeQueuedBrokerStep ? 1 : 2, calls = 0](QEvent *event) mutable {
                return event->type() == QEvent::MetaCall && ++calls == wanted;
            },
            close);
        break;
    }
}

void TestUpdate::runUpdate(Closing &closing, CloseMoment moment)
{
    if (moment == QuestionOpen) {
        // Answered Yes after the close: the update must not begin anyway.
        closing.answerer = std::make_unique<ModalAnswerer>();
        closing.answerer->pressButton(QMessageBox::Yes, 600);
        QTest::mouseClick(startButton(closing.form), Qt::LeftButton);
    } else if (closing.mainWindow) {
        // Inside the application's own loop, which closing the main window
        // must end, however deep the update's waits are.
        closing.mainWindow->show();
        QTimer::singleShot(0, this, [&closing] { start(closing.form); });
        QCOMPARE(ApplicationLoop::Run(updateTimeoutMs, 1), 0);
    } else {
        start(closing.form);
    }
}

// Had the update gone on, its next step would have followed the ended wait at
// once, before the window was destroyed.
void TestUpdate::verifyReached(const Closing &closing, Reached reached, qint64 imageSize)
{
    LabCamera *camera = closing.camera;
    // Each stopped transfer leaves the camera an image connection that ended
    // short.
    if (reached >= ConnectionOnly) {
        QVERIFY(camera->waitForEvent("image", 1, reached == CutShort ? 20000 : 5000));
        QVERIFY(!lastImage(camera).ok);
    }
    const qint64 got = lastImage(camera).size;
    switch (reached) {
    case NothingPublished:
        QVERIFY(!camera->waitForEvent("mqtt", 1, 500));
        break;
    case RequestOnly:
        QCOMPARE(camera->events("update-request").size(), 1);
        QVERIFY(!camera->waitForEvent("tcp-accept", 1, 500));
        break;
    case ConnectionOnly:
        QCOMPARE(got, qint64(0));
        break;
    case ChunksBeforeClose:
        // The chunks written before the close, and not one more.
        QCOMPARE(got, (closing.readAtClose + chunkSize - 1) / chunkSize * chunkSize);
        break;
    case CutShort:
        // What the kernel held still goes out; what waited in the tool's
        // buffer and every later chunk do not.
        qInfo("camera got %lld of %lld bytes", got, imageSize);
        QVERIFY(got
            <= qMin(closing.timeline.chunksWritten * chunkSize, imageSize) - closing.queuedAtClose);
        break;
    }
}

QTEST_MAIN(TestUpdate)
#include "tst_update.moc"
