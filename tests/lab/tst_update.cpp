#include "form.h"
#include "labcamera.h"
#include "mainwindow.h"
#include "modalanswerer.h"
#include "mqttclient.h"

#include <QCryptographicHash>
#include <QJsonDocument>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QRandomGenerator>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QtTest>

#include <dirent.h>
#include <functional>
#include <memory>
#include <signal.h>

namespace {

constexpr qint64 chunkSize = 1048576;
// Several chunks and a short tail: the last chunk is where bytes get lost.
constexpr qint64 largeImageSize = 3 * chunkSize + 17;
constexpr qint64 smallImageSize = chunkSize + 17;
constexpr qint64 dropImageSize = 2 * chunkSize + 17;
const char toolAddress[] = "198.51.100.2";
const char statusTopicText[] = "Ordel Tool_out/update_camera_fw";

// Reads that follow each other closer than this belong to one chunk.
constexpr qint64 burstGapMs = 200;
// From the Yes to the camera's last report of a good update, with room for
// a loaded machine: 1 s broker wait, 5 s settle wait, 0.5 s per chunk.
constexpr int updateTimeoutMs = 30000;

QByteArray randomBytes(qint64 size)
{
    QVector<quint32> words(int((size + 3) / 4));
    QRandomGenerator::global()->fillRange(words.data(), words.size());
    return QByteArray(reinterpret_cast<const char *>(words.constData()), int(size));
}

QString md5Hex(const QByteArray &data)
{
    return QString::fromLatin1(QCryptographicHash::hash(data, QCryptographicHash::Md5).toHex());
}

// Read with the C library: the entries are links to sockets, pipes and
// files, which QDir lists only with extra filters.
int openDescriptors()
{
    int count = 0;
    DIR *dir = ::opendir("/proc/self/fd");
    if (!dir)
        return -1;
    while (const dirent *entry = ::readdir(dir)) {
        if (entry->d_name[0] != '.')
            ++count;
    }
    ::closedir(dir);
    return count - 1; // the directory's own descriptor
}

bool isOpenHere(const QString &path)
{
    const QString wanted = QFileInfo(path).canonicalFilePath();
    bool found = false;
    DIR *dir = ::opendir("/proc/self/fd");
    if (!dir)
        return false;
    while (const dirent *entry = ::readdir(dir)) {
        const QString link = QStringLiteral("/proc/self/fd/") + QString::fromLatin1(entry->d_name);
        if (entry->d_name[0] != '.' && QFile::symLinkTarget(link) == wanted)
            found = true;
    }
    ::closedir(dir);
    return found;
}

qint64 eventTime(const QJsonObject &event)
{
    return event.value(QLatin1String("t")).toVariant().toLongLong();
}

qint64 bytesRead(const LabCamera *camera)
{
    qint64 total = 0;
    for (const QJsonObject &read : camera->events(QStringLiteral("tcp-read")))
        total += read.value(QLatin1String("bytes")).toVariant().toLongLong();
    return total;
}

// What the camera's log says about the image connection that ended.
struct ImageSeen
{
    qint64 size = -1;
    QString md5;
    bool ok = false;
    QString reason;
};

ImageSeen lastImage(const LabCamera *camera)
{
    const QList<QJsonObject> images = camera->events(QStringLiteral("image"));
    ImageSeen image;
    if (images.isEmpty())
        return image;
    const QJsonObject &last = images.constLast();
    image.size = last.value(QLatin1String("size")).toVariant().toLongLong();
    image.md5 = last.value(QLatin1String("md5")).toString();
    image.ok = last.value(QLatin1String("ok")).toBool();
    image.reason = last.value(QLatin1String("reason")).toString();
    return image;
}

// The camera's reads grouped into bursts: one burst per chunk the tool wrote.
struct Burst
{
    qint64 start = 0;
    qint64 bytes = 0;
};

QList<Burst> readBursts(const LabCamera *camera)
{
    QList<Burst> bursts;
    qint64 last = -1;
    for (const QJsonObject &read : camera->events(QStringLiteral("tcp-read"))) {
        const qint64 t = eventTime(read);
        if (bursts.isEmpty() || t - last > burstGapMs)
            bursts.append({ t, 0 });
        bursts.last().bytes += read.value(QLatin1String("bytes")).toVariant().toLongLong();
        last = t;
    }
    return bursts;
}

} // namespace

// The window's handlers hold the stack in their own event loops for seconds,
// so the test cannot look at the clock between two of its statements. Timers
// and event filters still run inside those loops: they note when things happen
// and act at chosen moments of the update.
class Timeline : public QObject
{
public:
    static constexpr int pollMs = 10;

    Timeline()
    {
        clock.start();
        poller.setInterval(pollMs);
        connect(&poller, &QTimer::timeout, this, &Timeline::poll);
        poller.start();
    }

    qint64 now() const { return clock.elapsed(); }

    // When the camera's log first showed each kind of event, -1 if never.
    void watch(LabCamera *camera) { cameras.append(camera); }
    qint64 firstSeen(const LabCamera *camera, const QString &event) const
    {
        return seen.value(qMakePair(static_cast<const void *>(camera), event), -1);
    }

    // When the label first showed a text, -1 if never. The window repaints
    // its status at once, so the text is noted as it is painted.
    void watch(QLabel *label)
    {
        labels.append(label);
        label->installEventFilter(this);
    }
    qint64 firstShown(const QLabel *label, const QString &text) const
    {
        return seen.value(qMakePair(static_cast<const void *>(label), text), -1);
    }

    // Every change of the widget's enabled state, noted as it happens.
    void watchEnabled(QWidget *widget) { widget->installEventFilter(this); }
    QList<QPair<qint64, bool>> enabledChanges;
    qint64 firstDisabled() const
    {
        for (const auto &change : enabledChanges) {
            if (!change.second)
                return change.first;
        }
        return -1;
    }

    // Follows the tool's image connection to port: what waits in its buffer,
    // and when a chunk was written (the buffer grew since the last look).
    // The socket is a local of the window's handler; it is found through its
    // notifiers, whose engine is the socket's child.
    void watchToolSocket(quint16 port)
    {
        toolPort = port;
        qApp->installEventFilter(this);
    }
    QPointer<QTcpSocket> toolSocket;
    int chunksWritten = 0;
    qint64 lastChunkAt = -1;
    qint64 mostQueued = 0;
    qint64 queued() const { return toolSocket ? toolSocket->bytesToWrite() : 0; }

    // Runs action once, from whichever event loop runs when condition is first
    // found to hold; it is looked at every pollMs.
    void when(std::function<bool()> condition, std::function<void()> action)
    {
        pending.append({ std::move(condition), std::move(action) });
    }
    // Runs action once, from inside the first event on object that matches.
    void onEvent(QObject *object, std::function<bool(QEvent *)> match, std::function<void()> action)
    {
        object->installEventFilter(this);
        hooks.append({ object, std::move(match), std::move(action) });
    }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::SockAct && toolPort != 0 && !toolSocket) {
            for (QObject *object = watched; object; object = object->parent()) {
                auto *socket = qobject_cast<QTcpSocket *>(object);
                if (socket && socket->peerPort() == toolPort)
                    toolSocket = socket;
            }
        }
        if (event->type() == QEvent::EnabledChange) {
            if (auto *widget = qobject_cast<QWidget *>(watched))
                enabledChanges.append({ now(), widget->isEnabled() });
        }
        if (event->type() == QEvent::Paint) {
            if (auto *label = qobject_cast<QLabel *>(watched))
                noteText(label);
        }
        // An application-wide filter (watchToolSocket) sees each event first.
        if (event == lastHookedEvent)
            return false;
        lastHookedEvent = event;
        for (int i = 0; i < hooks.size(); ++i) {
            if (hooks[i].object == watched && hooks[i].match(event)) {
                const std::function<void()> action = hooks.takeAt(i).action;
                action();
                break;
            }
        }
        return false;
    }

private:
    struct Condition
    {
        std::function<bool()> holds;
        std::function<void()> action;
    };
    struct Hook
    {
        QObject *object;
        std::function<bool(QEvent *)> match;
        std::function<void()> action;
    };

    void poll()
    {
        const qint64 nowQueued = queued();
        if (nowQueued > lastQueued) {
            ++chunksWritten;
            lastChunkAt = now();
        }
        lastQueued = nowQueued;
        mostQueued = qMax(mostQueued, nowQueued);
        for (const LabCamera *camera : qAsConst(cameras)) {
            for (const QJsonObject &event : camera->events()) {
                const auto key = qMakePair(static_cast<const void *>(camera),
                    event.value(QLatin1String("event")).toString());
                if (!seen.contains(key))
                    seen.insert(key, now());
            }
        }
        for (const QPointer<QLabel> &label : qAsConst(labels)) {
            if (label)
                noteText(label);
        }
        for (int i = 0; i < pending.size(); ++i) {
            if (pending[i].holds()) {
                const std::function<void()> action = pending.takeAt(i).action;
                action();
                return;
            }
        }
    }

    void noteText(const QLabel *label)
    {
        const auto key = qMakePair(static_cast<const void *>(label), label->text());
        if (!seen.contains(key))
            seen.insert(key, now());
    }

    QElapsedTimer clock;
    QTimer poller;
    QList<LabCamera *> cameras;
    QList<QPointer<QLabel>> labels;
    QHash<QPair<const void *, QString>, qint64> seen;
    QList<Condition> pending;
    QList<Hook> hooks;
    quint16 toolPort = 0;
    qint64 lastQueued = 0;
    const QEvent *lastHookedEvent = nullptr;
};

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
    void init();
    void cleanup();

    // A good update
    void imageArrivesByteForByte();
    void slowCameraReceivesEveryByte();
    void otherWindowsDoNotStallTheTransfer_data();
    void otherWindowsDoNotStallTheTransfer();

    // Failures: each one names itself and gives Start back
    void noListenerFailsAfterThreeAttempts();
    void lateListenerIsReachedOnALaterAttempt();
    void brokerDownFailsToConnect_data();
    void brokerDownFailsToConnect();
    void imageRemovedAfterBrowsePublishesNothing();
    void droppedConnectionFailsTheTransfer_data();
    void droppedConnectionFailsTheTransfer();
    void cameraErrorKeepsStartDisabled();
    void invalidStatusEnablesStartOnlyAfterTheTransfer();
    void answeringNoSendsNothing();

    // Closing the window while the update waits
    void closingStopsTheUpdate_data();
    void closingStopsTheUpdate();

private:
    LabCamera *startCamera(int index, const QStringList &faults = {}, bool broker = true);
    QString writeImage(const QString &name, const QByteArray &data);
    Form *openWindow(const LabCamera *camera);
    void browse(Form *form, const QString &path);
    void start(Form *form, QMessageBox::StandardButton answer);
    QString expectedRequest(const QString &name, const QByteArray &image) const;
    void verifyImageArrived(const LabCamera *camera, const QByteArray &image);
    void verifySucceeded(Form *form);

    static QPushButton *startButton(Form *form)
    {
        return form->findChild<QPushButton *>("pushButton_Start");
    }
    static QLabel *state(Form *form) { return form->findChild<QLabel *>("label_state"); }
    static QProgressBar *progress(Form *form)
    {
        return form->findChild<QProgressBar *>("progressBar");
    }

    std::unique_ptr<QTemporaryDir> dir;
    QList<QPointer<Form>> windows;
    QList<LabCamera *> cameras;
};

void TestUpdate::init()
{
    dir = std::make_unique<QTemporaryDir>();
    QVERIFY(dir->isValid());
}

void TestUpdate::cleanup()
{
    // No handler of a window can be on the stack here: deleting is safe, and
    // it drops the steps still queued.
    for (const QPointer<Form> &form : qAsConst(windows))
        delete form.data();
    windows.clear();
    qDeleteAll(cameras);
    cameras.clear();
    dir.reset();
}

LabCamera *TestUpdate::startCamera(int index, const QStringList &faults, bool broker)
{
    QStringList arguments;
    if (broker)
        arguments << "--broker"
                  << "--update";
    if (!faults.isEmpty())
        arguments << "--update-fault" << faults.join(',');
    arguments << "--camera"
              << "ip=" + LabCamera::address(index);
    auto *camera = new LabCamera(index, arguments);
    cameras.append(camera);
    if (!camera->start())
        qWarning() << "camera" << index << "did not start:" << camera->errorString();
    return camera;
}

QString TestUpdate::writeImage(const QString &name, const QByteArray &data)
{
    const QString path = dir->filePath(name);
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(data) != data.size())
        qWarning() << "cannot write" << path;
    return path;
}

Form *TestUpdate::openWindow(const LabCamera *camera)
{
    auto *form = new Form(camera->address(), "aa:bb:cc:00:00:01", "SN000001");
    windows.append(form);
    form->show();
    return form;
}

// Browse, then the file dialog answered with the image.
void TestUpdate::browse(Form *form, const QString &path)
{
    ModalAnswerer answerer;
    answerer.chooseFile(path);
    QTest::mouseClick(form->findChild<QPushButton *>("pushButton_Browser"), Qt::LeftButton);
    QVERIFY(answerer.waitUntilAnswered());
    QCOMPARE(answerer.unexpectedBoxes, 0);
    QCOMPARE(form->findChild<QLineEdit *>("lineEdit")->text(), path);
}

// Start, then the question answered. Returns once the Start handler has,
// which is before the update's own steps run.
void TestUpdate::start(Form *form, QMessageBox::StandardButton answer)
{
    ModalAnswerer answerer;
    answerer.pressButton(answer);
    QTest::mouseClick(startButton(form), Qt::LeftButton);
    QVERIFY(answerer.waitUntilAnswered());
    QCOMPARE(answerer.unexpectedBoxes, 0);
    QCOMPARE(answerer.boxes.size(), 1);
    QCOMPARE(answerer.boxes.first().text, QString("Do you want to update?"));
    QCOMPARE(answerer.boxes.first().buttons, QMessageBox::Yes | QMessageBox::No);
}

QString TestUpdate::expectedRequest(const QString &name, const QByteArray &image) const
{
    return QString("{\"buffer_size\":\"1048576\",\"client_ip\":\"%1\",\"file_md5\":\"%2\","
                   "\"file_name\":\"%3\",\"file_size\":\"%4\"}")
        .arg(toolAddress, md5Hex(image), name)
        .arg(image.size());
}

void TestUpdate::verifyImageArrived(const LabCamera *camera, const QByteArray &image)
{
    const ImageSeen seen = lastImage(camera);
    QCOMPARE(seen.size, qint64(image.size()));
    QCOMPARE(seen.md5, md5Hex(image));
    QVERIFY2(seen.ok, qPrintable(seen.reason));
}

void TestUpdate::verifySucceeded(Form *form)
{
    QTRY_VERIFY_WITH_TIMEOUT(startButton(form)->isEnabled(), updateTimeoutMs);
    QCOMPARE(state(form)->text(), QString("Update succeeded"));
    QCOMPARE(progress(form)->value(), 100);
}

// ---------------------------------------------------------------------------
// A good update

void TestUpdate::imageArrivesByteForByte()
{
    LabCamera *camera = startCamera(1);
    QVERIFY(camera->isRunning());
    const QByteArray image = randomBytes(largeImageSize);
    const QString path = writeImage("camera-fw-2.bin", image);
    Form *form = openWindow(camera);
    Timeline timeline;
    timeline.watch(camera);
    timeline.watchEnabled(startButton(form));
    browse(form, path);

    start(form, QMessageBox::Yes);
    verifySucceeded(form);
    verifyImageArrived(camera, image);

    const QList<QJsonObject> requests = camera->events("update-request");
    QCOMPARE(requests.size(), 1);
    QCOMPARE(
        requests.first().value("payload").toString(), expectedRequest("camera-fw-2.bin", image));
    QVERIFY(camera->events("update-invalid").isEmpty());
    const QList<QJsonObject> accepts = camera->events("tcp-accept");
    QCOMPARE(accepts.size(), 1);
    QVERIFY(accepts.first().value("from").toString().startsWith(QString(toolAddress) + ':'));

    // The full broker wait, then the camera's settle time before the image.
    const qint64 yesToRequest
        = timeline.firstSeen(camera, "update-request") - timeline.firstDisabled();
    const qint64 requestToAccept = eventTime(accepts.first()) - eventTime(requests.first());
    qInfo("Yes to request %lld ms (about 1000), request to TCP accept %lld ms (about 5000)",
        yesToRequest, requestToAccept);
    QVERIFY2(
        yesToRequest >= 990 && yesToRequest <= 2500, qPrintable(QString::number(yesToRequest)));
    // The camera logs the request a moment after the tool published it.
    QVERIFY2(requestToAccept >= 4950 && requestToAccept <= 6500,
        qPrintable(QString::number(requestToAccept)));

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
    LabCamera *camera = startCamera(2, { QString("slow=%1").arg(bytesPerSecond) });
    QVERIFY(camera->isRunning());
    const QByteArray image = randomBytes(largeImageSize);
    const QString path = writeImage("slow.bin", image);
    Form *form = openWindow(camera);
    browse(form, path);
    Timeline timeline;
    timeline.watchToolSocket(8000);

    start(form, QMessageBox::Yes);
    QVERIFY(camera->waitForEvent("image", 1, 40000));
    verifyImageArrived(camera, image);
    verifySucceeded(form);

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
    LabCamera *first = startCamera(1);
    LabCamera *second = startCamera(2);
    QVERIFY(first->isRunning() && second->isRunning());
    const QByteArray firstImage = randomBytes(4 * chunkSize + 5);
    const QByteArray secondImage = randomBytes(chunkSize + 9);
    Form *firstForm = openWindow(first);
    Form *secondForm = openWindow(second);
    browse(firstForm, writeImage("first.bin", firstImage));
    browse(secondForm, writeImage("second.bin", secondImage));
    Timeline timeline;
    timeline.watch(first);
    timeline.watch(second);
    timeline.watch(state(secondForm));
    // Made only when needed: an answerer answers every box it sees.
    std::unique_ptr<ModalAnswerer> chooser;
    bool acted = false;
    timeline.when([&] { return timeline.firstSeen(first, "tcp-read") >= 0; },
        [&] {
            acted = true;
            if (secondUpdates) {
                start(secondForm, QMessageBox::Yes);
                return;
            }
            chooser = std::make_unique<ModalAnswerer>();
            chooser->chooseFile(QString(), chooserOpenMs);
            QTest::mouseClick(
                secondForm->findChild<QPushButton *>("pushButton_Browser"), Qt::LeftButton);
        });

    start(firstForm, QMessageBox::Yes);
    verifySucceeded(firstForm);
    verifyImageArrived(first, firstImage);
    QVERIFY(acted);
    const QList<Burst> bursts = readBursts(first);
    QStringList gaps;
    for (int i = 1; i < bursts.size(); ++i)
        gaps << QString::number(bursts[i].start - bursts[i - 1].start);
    qInfo("camera 1: %d chunks, ms between them: %s", int(bursts.size()),
        qPrintable(gaps.join(", ")));
    QCOMPARE(bursts.size(), 5);
    for (const QString &gap : qAsConst(gaps))
        QVERIFY2(gap.toInt() <= 1000, qPrintable(gaps.join(", ")));

    if (!secondUpdates) {
        QVERIFY(chooser->waitUntilAnswered(chooserOpenMs + 5000));
        QCOMPARE(chooser->fileDialogs.size(), 1);
        return;
    }
    verifySucceeded(secondForm);
    verifyImageArrived(second, secondImage);
    QCOMPARE(first->events("update-request").first().value("payload").toString(),
        expectedRequest("first.bin", firstImage));
    QCOMPARE(second->events("update-request").first().value("payload").toString(),
        expectedRequest("second.bin", secondImage));
    // The second waited, said so, and announced only once the first image
    // was sent.
    QVERIFY(timeline.firstShown(state(secondForm), "Waiting for another camera's update...") >= 0);
    QVERIFY(timeline.firstSeen(second, "update-request") > timeline.firstSeen(first, "image"));
    qInfo("both updates took %lld ms from the first Yes", timeline.now());
}

// ---------------------------------------------------------------------------
// Failures

void TestUpdate::noListenerFailsAfterThreeAttempts()
{
    LabCamera *camera = startCamera(3, { "no-listener" });
    QVERIFY(camera->isRunning());
    Form *form = openWindow(camera);
    Timeline timeline;
    timeline.watch(camera);
    timeline.watch(state(form));
    browse(form, writeImage("nolistener.bin", randomBytes(smallImageSize)));

    start(form, QMessageBox::Yes);
    QTRY_VERIFY_WITH_TIMEOUT(startButton(form)->isEnabled(), updateTimeoutMs);
    QCOMPARE(state(form)->text(), QString("Connect Server Failed"));
    QCOMPARE(camera->events("update-request").size(), 1);
    QVERIFY(camera->events("tcp-accept").isEmpty());

    // 5000 ms settle, then attempts waited 1000, 3000 and 3000 ms.
    const qint64 requestToFailure = timeline.firstShown(state(form), "Connect Server Failed")
        - timeline.firstSeen(camera, "update-request");
    qInfo("request to \"Connect Server Failed\" %lld ms (5000 settle + about 7000 connecting, "
          "so about %lld ms connecting)",
        requestToFailure, requestToFailure - 5000);
    QVERIFY2(requestToFailure >= 11900 && requestToFailure <= 14500,
        qPrintable(QString::number(requestToFailure)));
}

void TestUpdate::lateListenerIsReachedOnALaterAttempt()
{
    // Between the first attempt (request + 5000) and the second (+ 6000).
    LabCamera *camera = startCamera(1, { "listen-after=5600" });
    QVERIFY(camera->isRunning());
    const QByteArray image = randomBytes(smallImageSize);
    Form *form = openWindow(camera);
    browse(form, writeImage("late.bin", image));

    start(form, QMessageBox::Yes);
    verifySucceeded(form);
    verifyImageArrived(camera, image);
    const qint64 requestToAccept = eventTime(camera->events("tcp-accept").first())
        - eventTime(camera->events("update-request").first());
    const qint64 requestToListen = eventTime(camera->events("tcp-listen").first())
        - eventTime(camera->events("update-request").first());
    qInfo("late listener: listening at request + %lld ms, accepted at request + %lld ms "
          "(second attempt about 6000)",
        requestToListen, requestToAccept);
    // Not the first attempt (refused), not the third (request + 9000).
    QVERIFY2(requestToAccept >= 5950 && requestToAccept < 8500,
        qPrintable(QString::number(requestToAccept)));
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
    LabCamera *camera = startCamera(2, {}, killBroker);
    QVERIFY(camera->isRunning());
    if (killBroker) {
        QVERIFY(camera->brokerPid() > 0);
        QCOMPARE(::kill(pid_t(camera->brokerPid()), SIGKILL), 0);
        QVERIFY(camera->waitForEvent("broker-exit"));
    }
    Form *form = openWindow(camera);
    Timeline timeline;
    timeline.watch(state(form));
    timeline.watchEnabled(startButton(form));
    browse(form, writeImage("nobroker.bin", randomBytes(smallImageSize)));

    start(form, QMessageBox::Yes);
    QTRY_VERIFY_WITH_TIMEOUT(startButton(form)->isEnabled(), 5000);
    QCOMPARE(state(form)->text(), QString("Mqtt Connect Failed"));
    const qint64 yesToFailure
        = timeline.firstShown(state(form), "Mqtt Connect Failed") - timeline.firstDisabled();
    qInfo("Yes to \"Mqtt Connect Failed\" %lld ms (about 1000)", yesToFailure);
    QVERIFY2(
        yesToFailure >= 990 && yesToFailure <= 3000, qPrintable(QString::number(yesToFailure)));
}

void TestUpdate::imageRemovedAfterBrowsePublishesNothing()
{
    LabCamera *camera = startCamera(3);
    QVERIFY(camera->isRunning());
    Form *form = openWindow(camera);
    const QString path = writeImage("removed.bin", randomBytes(smallImageSize));
    browse(form, path);
    QVERIFY(QFile::remove(path));

    start(form, QMessageBox::Yes);
    QTRY_VERIFY_WITH_TIMEOUT(startButton(form)->isEnabled(), 5000);
    QCOMPARE(state(form)->text(), QString("Mqtt Create Json Object Failed"));
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
    LabCamera *camera = startCamera(1, { QString("drop-after=%1").arg(dropAfter) });
    QVERIFY(camera->isRunning());
    Form *form = openWindow(camera);
    Timeline timeline;
    timeline.watch(camera);
    timeline.watch(state(form));
    browse(form, writeImage("dropped.bin", randomBytes(dropImageSize)));

    start(form, QMessageBox::Yes);
    QTRY_VERIFY_WITH_TIMEOUT(startButton(form)->isEnabled(), updateTimeoutMs);
    QCOMPARE(state(form)->text(), QString("Send Bin File Failed"));
    const QList<QJsonObject> drops = camera->events("tcp-drop");
    QCOMPARE(drops.size(), 1);
    QCOMPARE(drops.first().value("after").toVariant().toLongLong(), dropAfter);
    QVERIFY(!lastImage(camera).ok);

    // Noticed at the next step, not after the 30 s without progress.
    const qint64 dropToFailure = timeline.firstShown(state(form), "Send Bin File Failed")
        - timeline.firstSeen(camera, "tcp-drop");
    qInfo("drop to \"Send Bin File Failed\" %lld ms", dropToFailure);
    QVERIFY2(dropToFailure <= 3000, qPrintable(QString::number(dropToFailure)));
}

// A failed flash is the camera's to report; the window shows it and keeps the
// bar where the last good report left it.
void TestUpdate::cameraErrorKeepsStartDisabled()
{
    LabCamera *camera = startCamera(2, { "error-report" });
    QVERIFY(camera->isRunning());
    Form *form = openWindow(camera);
    browse(form, writeImage("flash.bin", randomBytes(smallImageSize)));

    start(form, QMessageBox::Yes);
    QTRY_COMPARE_WITH_TIMEOUT(state(form)->text(), QString("Flash write error"), updateTimeoutMs);
    int lastGoodProgress = -1;
    for (const QJsonObject &status : camera->events("status")) {
        const QJsonObject report
            = QJsonDocument::fromJson(status.value("payload").toString().toUtf8()).object();
        if (report.value("errorcode").toString() == "0")
            lastGoodProgress = report.value("progress").toString().toInt();
    }
    QVERIFY(lastGoodProgress > 0 && lastGoodProgress < 100);
    // The last report stays up; nothing gives Start back.
    QTest::qWait(500);
    QCOMPARE(state(form)->text(), QString("Flash write error"));
    QCOMPARE(progress(form)->value(), lastGoodProgress);
    QVERIFY(!startButton(form)->isEnabled());
}

// The camera's reports are not JSON, also the ones it sends while the image
// is still coming in: Start must wait for the transfer to end.
void TestUpdate::invalidStatusEnablesStartOnlyAfterTheTransfer()
{
    LabCamera *camera = startCamera(3, { "status-not-json" });
    QVERIFY(camera->isRunning());
    const QByteArray image = randomBytes(2 * chunkSize + 17);
    Form *form = openWindow(camera);
    browse(form, writeImage("notjson.bin", image));

    Timeline timeline;
    timeline.watch(camera);
    timeline.watchEnabled(startButton(form));

    // Looked at right after the window has handled each report: the window's
    // own connection was made first.
    int reportsWhileSending = 0;
    int enabledWhileSending = 0;
    auto *client = form->findChild<MqttClient *>();
    QVERIFY(client);
    connect(
        client, &MqttClient::messageReceived, form, [&](const QByteArray &, const QString &topic) {
            // The camera logs a read before it reports it.
            if (topic != statusTopicText || bytesRead(camera) >= image.size())
                return;
            ++reportsWhileSending;
            if (startButton(form)->isEnabled())
                ++enabledWhileSending;
        });

    start(form, QMessageBox::Yes);
    QTRY_VERIFY_WITH_TIMEOUT(startButton(form)->isEnabled(), updateTimeoutMs);
    QJsonParseError parseError;
    QJsonDocument::fromJson("not json", &parseError);
    QCOMPARE(state(form)->text(), parseError.errorString());
    QVERIFY(camera->waitForEvent("image"));
    verifyImageArrived(camera, image);
    qInfo("%d reports came while the image was still being sent", reportsWhileSending);
    QVERIFY(reportsWhileSending > 0);
    QCOMPARE(enabledWhileSending, 0);
    const qint64 imageEnded = timeline.firstSeen(camera, "image");
    const qint64 enabled = timeline.enabledChanges.constLast().first;
    qInfo("Start enabled %lld ms after the camera saw the connection end", enabled - imageEnded);
    QVERIFY(enabled >= imageEnded - 200);
}

void TestUpdate::answeringNoSendsNothing()
{
    LabCamera *camera = startCamera(1);
    QVERIFY(camera->isRunning());
    Form *form = openWindow(camera);
    browse(form, writeImage("no.bin", randomBytes(smallImageSize)));

    start(form, QMessageBox::No);
    QVERIFY(startButton(form)->isEnabled());
    QVERIFY(state(form)->text().isEmpty());
    QVERIFY(!camera->waitForEvent("update-request", 1, 2000));
    QVERIFY(camera->events("mqtt").isEmpty());
}

// ---------------------------------------------------------------------------
// Closing the window while the update waits

void TestUpdate::closingStopsTheUpdate_data()
{
    QTest::addColumn<CloseMoment>("moment");
    QTest::addColumn<QStringList>("faults");
    QTest::addColumn<qint64>("imageSize");
    QTest::addColumn<Reached>("reached");
    // Closed by quitting the application from the main window instead.
    QTest::addColumn<bool>("quits");

    const QStringList none;
    const QStringList slow { "slow=262144" };
    QTest::newRow("question open")
        << QuestionOpen << none << smallImageSize << NothingPublished << false;
    QTest::newRow("first paint wait")
        << FirstPaintWait << none << smallImageSize << NothingPublished << false;
    QTest::newRow("second paint wait")
        << SecondPaintWait << none << smallImageSize << NothingPublished << false;
    QTest::newRow("broker connect wait")
        << BrokerConnectWait << none << smallImageSize << NothingPublished << false;
    // Several 8 MiB blocks, so several pauses while the digest is taken.
    QTest::newRow("digest pause") << DigestPause << none << 40 * chunkSize + 1 << NothingPublished
                                  << false;
    QTest::newRow("settle wait") << SettleWait << none << smallImageSize << RequestOnly << false;
    QTest::newRow("first connect attempt wait")
        << FirstConnectWait << none << smallImageSize << ConnectionOnly << false;
    QTest::newRow("chunk pause") << ChunkPause << none << largeImageSize << ChunksBeforeClose
                                 << false;
    // The camera reads 256 KiB/s: when the pause after a chunk ends, part of
    // it still waits in the socket, and the tool waits for it to drain.
    QTest::newRow("drain wait between chunks")
        << DrainWaitBetweenChunks << slow << largeImageSize << CutShort << false;
    // All written: the tool waits for the socket to drain before closing.
    QTest::newRow("drain wait before closing")
        << DrainWaitBeforeClosing << slow << chunkSize + chunkSize / 2 << CutShort << false;
    // Closed after a step has returned and before the next, queued, runs.
    QTest::newRow("before the queued broker step")
        << BeforeQueuedBrokerStep << none << smallImageSize << NothingPublished << false;
    QTest::newRow("before the queued transfer step")
        << BeforeQueuedTransferStep << none << smallImageSize << RequestOnly << false;
    // The quit is answered after the chunk pause has ended, so the window
    // goes on to its next wait before the application ends.
    QTest::newRow("quit in a chunk pause")
        << ChunkPause << none << largeImageSize << ChunksBeforeClose << true;
}

void TestUpdate::closingStopsTheUpdate()
{
    QFETCH(CloseMoment, moment);
    QFETCH(QStringList, faults);
    QFETCH(qint64, imageSize);
    QFETCH(Reached, reached);
    QFETCH(bool, quits);

    LabCamera *camera = startCamera(1, faults);
    QVERIFY(camera->isRunning());
    const QString path = writeImage("closing.bin", randomBytes(imageSize));
    const int descriptorsBefore = openDescriptors();
    QPointer<Form> form = openWindow(camera);
    browse(form, path);
    Timeline timeline;
    timeline.watch(camera);
    timeline.watchEnabled(startButton(form));
    timeline.watchToolSocket(8000);
    const int chunks = int((imageSize + chunkSize - 1) / chunkSize);

    qint64 closedAt = -1;
    qint64 destroyedAt = -1;
    qint64 readAtClose = -1;
    qint64 queuedAtClose = 0;
    bool hiddenAtOnce = false;
    connect(form, &QObject::destroyed, this, [&] { destroyedAt = timeline.now(); });
    std::unique_ptr<MainWindow> mainWindow(quits ? new MainWindow : nullptr);
    std::unique_ptr<ModalAnswerer> quitAnswer;
    const auto closeWindow = [&] {
        if (!form || closedAt >= 0)
            return;
        closedAt = timeline.now();
        readAtClose = bytesRead(camera);
        queuedAtClose = timeline.queued();
        if (quits) {
            quitAnswer = std::make_unique<ModalAnswerer>();
            quitAnswer->pressButton(QMessageBox::Yes, 700);
            mainWindow->close();
        } else {
            form->close();
        }
        hiddenAtOnce = form && !form->isVisible();
    };
    // Posted, so that the close comes from inside the wait that follows.
    const auto closeInNextWait = [&] { QTimer::singleShot(0, this, closeWindow); };
    const auto seenFor = [&](const char *event, qint64 ms) {
        return [&, event, ms] {
            const qint64 seen = timeline.firstSeen(camera, event);
            return seen >= 0 && timeline.now() >= seen + ms;
        };
    };

    switch (moment) {
    case QuestionOpen:
        QTimer::singleShot(200, this, closeWindow);
        break;
    case FirstPaintWait:
        timeline.onEvent(
            startButton(form), [](QEvent *event) { return event->type() == QEvent::EnabledChange; },
            closeInNextWait);
        break;
    case SecondPaintWait:
        timeline.onEvent(
            state(form),
            [&](QEvent *event) {
                return event->type() == QEvent::Paint
                    && state(form)->text().startsWith("Preparation");
            },
            closeInNextWait);
        break;
    case BrokerConnectWait:
        timeline.when(
            [&] {
                return timeline.firstDisabled() >= 0
                    && timeline.now() >= timeline.firstDisabled() + 500;
            },
            closeWindow);
        break;
    case DigestPause:
        // Only the digest's short pauses let a timer run while the image is open.
        timeline.when([&] { return isOpenHere(path); }, closeWindow);
        break;
    case SettleWait:
        timeline.when(seenFor("update-request", 1000), closeWindow);
        break;
    case FirstConnectWait:
        timeline.when(seenFor("tcp-accept", 0), closeWindow);
        break;
    case ChunkPause:
        timeline.when(seenFor("tcp-read", 0), closeWindow);
        break;
    case DrainWaitBetweenChunks:
        // The pause after a chunk is over and part of it still waits.
        timeline.when(
            [&] {
                return timeline.chunksWritten < chunks && timeline.queued() > 0
                    && timeline.now() > timeline.lastChunkAt + 600;
            },
            closeWindow);
        break;
    case DrainWaitBeforeClosing:
        // All written, the last pause over, and bytes still wait.
        timeline.when(
            [&] {
                return timeline.chunksWritten == chunks && timeline.queued() > 0
                    && timeline.now() > timeline.lastChunkAt + 600;
            },
            closeWindow);
        break;
    case BeforeQueuedBrokerStep:
    case BeforeQueuedTransferStep: {
        // A queued step reaches the window as a meta-call event; the first is
        // the broker step, the second the transfer.
        const int wanted = moment == BeforeQueuedBrokerStep ? 1 : 2;
        timeline.onEvent(
            form,
            [wanted, calls = 0](QEvent *event) mutable {
                return event->type() == QEvent::MetaCall && ++calls == wanted;
            },
            closeWindow);
        break;
    }
    }

    std::unique_ptr<ModalAnswerer> answerer;
    if (moment == QuestionOpen) {
        // Answered Yes after the close: the update must not begin anyway.
        answerer = std::make_unique<ModalAnswerer>();
        answerer->pressButton(QMessageBox::Yes, 600);
        QTest::mouseClick(startButton(form), Qt::LeftButton);
    } else if (quits) {
        // Inside the application's own loop, which closing the main window
        // must end, however deep the update's waits are.
        mainWindow->show();
        QTimer::singleShot(0, this, [&] { start(form, QMessageBox::Yes); });
        QTimer guard;
        connect(&guard, &QTimer::timeout, [] { QCoreApplication::exit(1); });
        guard.start(updateTimeoutMs);
        QCOMPARE(QApplication::exec(), 0);
    } else {
        start(form, QMessageBox::Yes);
    }

    QTRY_VERIFY_WITH_TIMEOUT(closedAt >= 0, updateTimeoutMs);
    QVERIFY(hiddenAtOnce);
    QTRY_VERIFY_WITH_TIMEOUT(form.isNull(), 15000);
    qInfo("closed at %lld ms, destroyed %lld ms later; camera had read %lld bytes, %lld waited "
          "in the tool's socket",
        closedAt, destroyedAt - closedAt, readAtClose, queuedAtClose);

    // Had the update gone on, its next step would have followed the ended
    // wait at once, before the window was destroyed.
    switch (reached) {
    case NothingPublished:
        QVERIFY(!camera->waitForEvent("mqtt", 1, 500));
        break;
    case RequestOnly:
        QCOMPARE(camera->events("update-request").size(), 1);
        QVERIFY(!camera->waitForEvent("tcp-accept", 1, 500));
        break;
    case ConnectionOnly: {
        QVERIFY(camera->waitForEvent("image"));
        const ImageSeen seen = lastImage(camera);
        QCOMPARE(seen.size, qint64(0));
        QVERIFY(!seen.ok);
        break;
    }
    case ChunksBeforeClose: {
        // The chunks written before the close, and not one more.
        QVERIFY(camera->waitForEvent("image"));
        const ImageSeen seen = lastImage(camera);
        QVERIFY(!seen.ok);
        QCOMPARE(seen.size, (readAtClose + chunkSize - 1) / chunkSize * chunkSize);
        break;
    }
    case CutShort: {
        // What the kernel held still goes out; what waited in the tool's
        // buffer and every later chunk do not.
        QVERIFY(camera->waitForEvent("image", 1, 20000));
        const ImageSeen seen = lastImage(camera);
        qInfo("camera got %lld of %lld bytes", seen.size, imageSize);
        QVERIFY(!seen.ok);
        const qint64 written = qMin(qint64(timeline.chunksWritten) * chunkSize, imageSize);
        QVERIFY(seen.size <= written - queuedAtClose);
        break;
    }
    }
    // The image, the camera's connections and the broker's socket are closed.
    QTRY_COMPARE_WITH_TIMEOUT(openDescriptors(), descriptorsBefore, 5000);
}

QTEST_MAIN(TestUpdate)
#include "tst_update.moc"
