#include "applicationloop.h"
#include "form.h"
#include "labcamera.h"
#include "labcameras.h"
#include "mainwindow.h"
#include "modalanswerer.h"
#include "processfigures.h"
#include "timeline.h"
#include "updatedriver.h"

#include <QLabel>
#include <QPushButton>
#include <QtTest>

#include <memory>

using namespace UpdateDriver;

namespace {

// What this process holds open, by what each descriptor links to.
QStringList openFiles()
{
    QStringList targets;
    for (const int descriptor : ProcessFigures::openDescriptors())
        targets << QFile::symLinkTarget(QStringLiteral("/proc/self/fd/%1").arg(descriptor));
    return targets;
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
        handedOverAtClose = timeline.handedOver;
    }

    Timeline timeline;
    LabCamera *camera;
    QPointer<Form> form;
    std::unique_ptr<MainWindow> mainWindow;
    std::unique_ptr<ModalAnswerer> answerer;
    bool asked = false;
    qint64 closedAt = -1;
    qint64 readAtClose = -1;
    qint64 queuedAtClose = 0;
    qint64 handedOverAtClose = 0;
    bool hiddenAtOnce = false;
};

} // namespace

// Closing an update window, or quitting the tool, while its update waits in
// one of its local event loops or between two queued steps: the window hides
// at once, the update stops at its next step, and the window goes once no
// step is left on the stack. Against simulated cameras on the virtual LAN.
class TestClosing : public QObject
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
    void initTestCase();
    void cleanup();

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

// Qt opens some files for good the first time a file dialog is used (the
// MIME database, a thread of the file system model); those are not the
// update's, whose descriptors each row counts.
void TestClosing::initTestCase()
{
    Form form(LabCamera::address(1), "00:1A:2B:3C:4D:5E", "SN1");
    form.show();
    UPDATE_STEP(browse(&form, imageFile("warm-up.bin", "image")));
}

void TestClosing::cleanup()
{
    closeWindows();
    cameras.clear();
}

void TestClosing::closingStopsTheUpdate_data()
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

void TestClosing::closingStopsTheUpdate()
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
    UPDATE_STEP(verifyReached(closing, reached, imageSize));
    // The image, the camera's connections and the broker's socket are closed.
    QTRY_COMPARE_WITH_TIMEOUT(openFiles().size(), descriptorsBefore, 5000);
}

void TestClosing::closingAWindowInLine_data()
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
void TestClosing::closingAWindowInLine()
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
void TestClosing::armClose(
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

void TestClosing::runUpdate(Closing &closing, CloseMoment moment)
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
void TestClosing::verifyReached(const Closing &closing, Reached reached, qint64 imageSize)
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
    case CutShort:
        // What the kernel held at the close still goes out; what waited in
        // the tool's buffer and every later chunk do not.
        QVERIFY2(got >= closing.readAtClose && got <= closing.handedOverAtClose,
            qPrintable(QString("camera got %1 of %2 bytes; at the close it had read %3, the tool "
                               "had handed %4 to the system and %5 waited in its socket")
                           .arg(got)
                           .arg(imageSize)
                           .arg(closing.readAtClose)
                           .arg(closing.handedOverAtClose)
                           .arg(closing.queuedAtClose)));
        break;
    }
}

QTEST_MAIN(TestClosing)
#include "tst_closing.moc"
