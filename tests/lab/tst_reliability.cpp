#include "form.h"
#include "labcamera.h"
#include "labcameras.h"
#include "mainwindow.h"
#include "modalanswerer.h"
#include "mqttclient.h"
#include "searchdriver.h"
#include "timeline.h"
#include "updatedriver.h"

#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QStandardItemModel>
#include <QtTest>

#include <signal.h>
#include <stdio.h>
#include <sys/stat.h>
#include <tuple>

using namespace UpdateDriver;

namespace {

constexpr qint64 dropAfter = chunkSize / 2;
constexpr qint64 shrunkSize = chunkSize + 5;
constexpr qint64 rebuiltSize = mediumImageSize + chunkSize / 3;
const QByteArray unreadableReport = QByteArrayLiteral("not json");

// The UDP counters of the namespace the test runs in, by name: the kernel
// gives a line of names, then a line of values.
QHash<QByteArray, qint64> udpCounters()
{
    QFile file(QStringLiteral("/proc/net/snmp"));
    QList<QList<QByteArray>> udp;
    if (file.open(QIODevice::ReadOnly)) {
        for (const QByteArray &line : file.readAll().split('\n')) {
            if (line.startsWith("Udp: "))
                udp << line.mid(5).split(' ');
        }
    }
    QHash<QByteArray, qint64> counters;
    for (int n = 0; udp.size() == 2 && n < udp[0].size() && n < udp[1].size(); ++n)
        counters.insert(udp[0][n], udp[1][n].toLongLong());
    return counters;
}

} // namespace

// How the tool copes with a camera or a network that misbehaves, and with
// load: each fault must end in a status text that names it, with the tool
// usable again. Runs in a virtual LAN of ten cameras (tools/lab/lab.sh).
class TestReliability : public QObject
{
    Q_OBJECT

public:
    enum Fault {
        BrokerKilledInSettleWait,
        BrokerKilledInTransfer,
        ConnectionDroppedMidImage,
        ImageShrunkInSettleWait,
        ImageRebuiltInSettleWait,
        ImageRewrittenSameSizeAtYes,
        ImageRewrittenSameSizeInSettleWait,
        FifoChosen,
        ImageRemovedInSettleWait,
        ImageReplacedInSettleWait,
        ImageRebuiltBeforeYes,
        CameraClosesOnceComplete,
        UnreadableReportInSettleWait,
        BrowseCancelledInTransfer,
        OtherImageChosenInSettleWait,
    };
    Q_ENUM(Fault)

private slots:
    void cleanup();

    // Faults: each names itself and leaves the tool usable
    void updateFaultIsNamedAndNextUpdateSucceeds_data();
    void updateFaultIsNamedAndNextUpdateSucceeds();
    void searchThroughAFloodListsOnlyTheCameras();
    void statusFloodKeepsTheWindowResponsive();

    // Load
    void tenWindowsUpdateTenCamerasAtOnce();

private:
    LabCameras cameras;
};

void TestReliability::cleanup()
{
    closeWindows();
    cameras.clear();
}

void TestReliability::updateFaultIsNamedAndNextUpdateSucceeds_data()
{
    QTest::addColumn<Fault>("fault");
    QTest::addColumn<QString>("text");
    // What the camera has read once the transfer is over: Start must not come
    // back before.
    QTest::addColumn<qint64>("read");
    QTest::newRow("broker killed in the settle wait")
        << BrokerKilledInSettleWait << "Mqtt Connection Lost" << mediumImageSize;
    QTest::newRow("broker killed during the transfer")
        << BrokerKilledInTransfer << "Mqtt Connection Lost" << mediumImageSize;
    QTest::newRow("camera drops the connection mid-image")
        << ConnectionDroppedMidImage << "Send Bin File Failed" << dropAfter;
    // After the request announced the whole image: a file of another size
    // sends nothing but the announced bytes, which are gone.
    QTest::newRow("image shrunk in the settle wait")
        << ImageShrunkInSettleWait << "Read Bin File Failed" << qint64(0);
    QTest::newRow("image rebuilt in place in the settle wait")
        << ImageRebuiltInSettleWait << "Read Bin File Failed" << qint64(0);
    // The same size but other bytes, as a padded image is rebuilt: the file
    // is no longer the one opened at the Yes, before or after the request.
    QTest::newRow("image rewritten in place at the Yes, same size")
        << ImageRewrittenSameSizeAtYes << "Read Bin File Failed" << qint64(0);
    QTest::newRow("image rewritten in place in the settle wait, same size")
        << ImageRewrittenSameSizeInSettleWait << "Read Bin File Failed" << qint64(0);
    // Never a regular file: refused at once instead of read for ever.
    QTest::newRow("a FIFO named .bin")
        << FifoChosen << "Mqtt Create Json Object Failed" << qint64(0);
    // The file opened at the Yes is what is sent, whatever the path names now.
    QTest::newRow("image removed in the settle wait")
        << ImageRemovedInSettleWait << "Update succeeded" << mediumImageSize;
    QTest::newRow("image replaced by another file in the settle wait")
        << ImageReplacedInSettleWait << "Update succeeded" << mediumImageSize;
    // Rebuilt after Browse recorded its size: the Yes takes the file as it is.
    QTest::newRow("image rebuilt between Browse and Yes")
        << ImageRebuiltBeforeYes << "Update succeeded" << rebuiltSize;
    // The camera knows the size: closing after the last byte is no failure.
    QTest::newRow("camera closes once it has the image")
        << CameraClosesOnceComplete << "Update succeeded" << mediumImageSize;
    QJsonParseError unreadable;
    QJsonDocument::fromJson(unreadableReport, &unreadable);
    QTest::newRow("unreadable report in the settle wait")
        << UnreadableReportInSettleWait << unreadable.errorString() << mediumImageSize;
    // Browse during an update only prepares the next Start.
    QTest::newRow("browse cancelled during the transfer")
        << BrowseCancelledInTransfer << "Update succeeded" << mediumImageSize;
    QTest::newRow("other image chosen in the settle wait")
        << OtherImageChosenInSettleWait << "Update succeeded" << mediumImageSize;
}

void TestReliability::updateFaultIsNamedAndNextUpdateSucceeds()
{
    QFETCH(Fault, fault);
    QFETCH(QString, text);
    QFETCH(qint64, read);
    const bool killsBroker = fault == BrokerKilledInSettleWait || fault == BrokerKilledInTransfer;
    const bool imageWhole = killsBroker || fault >= ImageRemovedInSettleWait;
    QStringList faults;
    if (fault == ConnectionDroppedMidImage)
        faults << QString("drop-after=%1").arg(dropAfter);
    if (fault == CameraClosesOnceComplete)
        faults << "close-when-complete";
    LabCamera *camera = cameras.start(1, LabCameras::updating(faults));
    QByteArray image = randomBytes(mediumImageSize);
    const QString path = imageFile("faulty.bin", image);
    const QString otherPath = imageFile("other.bin", randomBytes(chunkSize + 3));
    Form *form = openWindow(camera, path);
    QVERIFY(form);
    // Speaks on the camera's status topic as if it were the camera.
    MqttClient reporter;
    reporter.setHostname(camera->address());
    reporter.connectToHost();
    QTRY_COMPARE(reporter.state(), MqttClient::Connected);

    // In some rows the camera acts on its own, or the file is changed before
    // the Yes.
    bool done = !faults.isEmpty();
    if (fault == ImageRebuiltBeforeYes) {
        image = randomBytes(rebuiltSize);
        done = imageFile("faulty.bin", image) == path;
    } else if (fault == FifoChosen) {
        const QString fifo = QFileInfo(otherPath).dir().filePath("fifo.bin");
        done = ::mkfifo(QFile::encodeName(fifo).constData(), 0600) == 0;
        UPDATE_STEP(browse(form, fifo));
    }
    const auto act = [&, camera, form, path, fault] {
        if (fault == ImageShrunkInSettleWait) {
            done = QFile::resize(path, shrunkSize);
        } else if (fault == ImageRebuiltInSettleWait) {
            done = imageFile("faulty.bin", randomBytes(rebuiltSize)) == path;
        } else if (fault == ImageRewrittenSameSizeAtYes
            || fault == ImageRewrittenSameSizeInSettleWait) {
            done = imageFile("faulty.bin", randomBytes(mediumImageSize)) == path;
        } else if (fault == ImageRemovedInSettleWait) {
            done = QFile::remove(path);
        } else if (fault == ImageReplacedInSettleWait) {
            const QString rebuilt = imageFile("rebuilt.bin", randomBytes(rebuiltSize));
            done = ::rename(
                       QFile::encodeName(rebuilt).constData(), QFile::encodeName(path).constData())
                == 0;
        } else if (fault == UnreadableReportInSettleWait) {
            done = reporter.publish(Protocol::updateStatusTopic, unreadableReport) == 0;
        } else if (fault == BrowseCancelledInTransfer || fault == OtherImageChosenInSettleWait) {
            browse(form, fault == BrowseCancelledInTransfer ? QString() : otherPath);
            done = !QTest::currentTestFailed();
        } else {
            done = ::kill(pid_t(camera->brokerPid()), SIGKILL) == 0;
        }
    };
    Timeline timeline(nullptr, form);
    if (fault == BrokerKilledInTransfer || fault == BrowseCancelledInTransfer)
        timeline.afterEvent(camera, "tcp-read", 0, act);
    else if (fault == ImageRewrittenSameSizeAtYes)
        timeline.when([form] { return !startButton(form)->isEnabled(); }, act);
    else if (!done)
        timeline.afterEvent(camera, "update-request", 1000, act);
    // The image bytes the camera had read, and the text shown, when Start
    // came back.
    qint64 readWhenBack = -1;
    QString textWhenBack;
    timeline.onEvent(
        startButton(form),
        [form](QEvent *event) {
            return event->type() == QEvent::EnabledChange && startButton(form)->isEnabled();
        },
        [&, camera, form] {
            readWhenBack = bytesRead(camera);
            textWhenBack = state(form)->text();
        });
    UPDATE_STEP(start(form));
    QTRY_VERIFY2_WITH_TIMEOUT(
        startButton(form)->isEnabled(), qPrintable(timeline.describe()), updateTimeoutMs);
    // The camera's final report may follow and replace it.
    QVERIFY2(textWhenBack == text,
        qPrintable(
            QString("\"%1\" when Start came back; %2").arg(textWhenBack, timeline.describe())));
    // Start came back only once no step was left, the transfer included. The
    // tool waits 500 ms after its last chunk, time enough for the camera to
    // read it.
    QCOMPARE(readWhenBack, read);
    QVERIFY(done);
    // Shown when it happened, while a step still ran.
    if (killsBroker || fault == UnreadableReportInSettleWait)
        QVERIFY2(timeline.firstShown(text, true) >= 0, qPrintable(timeline.describe()));
    if (imageWhole) {
        // Exactly the image announced at the Yes, whatever happened meanwhile.
        UPDATE_STEP(verifyImageArrived(camera, image));
        QCOMPARE(camera->events("update-request").constFirst().value("payload").toString(),
            announcement("faulty.bin", image));
    }
    if (fault == FifoChosen || fault == ImageRewrittenSameSizeAtYes)
        QVERIFY(camera->events("update-request").isEmpty());

    // The camera back as new; the same window updates it.
    cameras.remove(camera);
    camera = cameras.start(1, LabCameras::updating());
    QVERIFY(camera->isRunning());
    const QByteArray next = randomBytes(chunkSize + 29);
    UPDATE_STEP(browse(form, imageFile("next.bin", next)));
    UPDATE_STEP(start(form));
    UPDATE_STEP(verifySucceeded(form));
    UPDATE_STEP(verifyImageArrived(camera, next));
}

// One camera floods the search with random datagrams, many of reply length
// and some shaped like replies up to their checksum; four real cameras answer
// before, during and after it.
void TestReliability::searchThroughAFloodListsOnlyTheCameras()
{
    const int floodDatagrams = 100000;
    // Far beyond the search's own 2.5 s, yet short of a hang.
    const int floodSearchTimeoutMs = 60000;
    // Camera index, reply delay in ms and the row the camera is listed as.
    const QVector<std::tuple<int, int, QString>> configured {
        { 1, 0, "10.0.1.1|00:1A:2B:00:01:01|SN-BEFORE|Before|IPC-F1|4.19|1.1" },
        { 1, 1, "10.0.1.2|00:1A:2B:00:01:02|SN-AFTER|After|IPC-F1|4.19|1.2" },
        { 2, 0, "10.0.2.1|00:1A:2B:00:02:01|SN-BESIDE|Beside|IPC-F2|5.4|2.1" },
        { 3, 1200, "10.0.3.1|00:1A:2B:00:03:01|SN-LATE|Late|IPC-F3|6.1|3.1" },
    };
    QMap<int, QStringList> arguments { { 1, { "--flood", QString::number(floodDatagrams) } } };
    QStringList expected;
    for (const auto &[index, delayMs, row] : configured) {
        const QStringList r = row.split('|');
        arguments[index] << "--camera"
                         << QString("ip=%1,mac=%2,sn=%3,name=%4,type=%5,os=%6,fw=%7,delay=%8")
                                .arg(r[0], r[1], r[2], r[3], r[4], r[5], r[6])
                                .arg(delayMs);
        expected << row;
    }
    for (auto entry = arguments.cbegin(); entry != arguments.cend(); ++entry)
        QVERIFY(cameras.start(entry.key(), entry.value())->isRunning());

    MainWindow window;
    window.show();
    const QHash<QByteArray, qint64> udpBefore = udpCounters();
    QElapsedTimer clock;
    clock.start();
    QVERIFY(SearchDriver::search(&window, floodSearchTimeoutMs));
    const qint64 searchMs = clock.elapsed();

    QVERIFY(cameras.all().first()->waitForEvent("flood"));
    const QJsonObject flood = cameras.all().first()->events("flood").constFirst();
    const QHash<QByteArray, qint64> udpAfter = udpCounters();
    QCOMPARE(flood.value("sent").toInt(), floodDatagrams);

    // A camera missing is likely a reply the kernel dropped.
    const QString figures
        = QString("; the search took %1 ms, the tool's namespace took in %2 datagrams and dropped "
                  "%3 for a full receive buffer")
              .arg(searchMs)
              .arg(udpAfter.value("InDatagrams") - udpBefore.value("InDatagrams"))
              .arg(udpAfter.value("RcvbufErrors") - udpBefore.value("RcvbufErrors"));
    QStringList listed;
    for (int row = 0; row < SearchDriver::model(&window)->rowCount(); ++row) {
        listed << SearchDriver::row(&window, row).join('|');
        QVERIFY2(expected.contains(listed.last()), qPrintable("garbage row: " + listed.last()));
    }
    for (const QString &row : qAsConst(expected))
        QVERIFY2(
            listed.count(row) == 1, qPrintable(row + " listed " + listed.join(", ") + figures));
}

// The camera publishes ten thousand extra progress reports while the image
// comes in, as fast as its broker takes them.
void TestReliability::statusFloodKeepsTheWindowResponsive()
{
    const int statusFloodReports = 10000;
    // An operator would call a window that freezes for a second unresponsive.
    const qint64 longestAcceptableStallMs = 1000;
    LabCamera *camera = cameras.start(
        2, LabCameras::updating({ QString("status-flood=%1").arg(statusFloodReports) }));
    const QByteArray image = randomBytes(mediumImageSize);
    Form *form = openWindow(camera, imageFile("flooded.bin", image));
    QVERIFY(form);

    QElapsedTimer clock;
    int reports = 0;
    qint64 firstReportAt = -1;
    qint64 lastReportAt = -1;
    connect(form->findChild<MqttClient *>(), &MqttClient::messageReceived, this,
        [&](const QByteArray &, const QString &topic) {
            if (topic != Protocol::updateStatusTopic)
                return;
            ++reports;
            lastReportAt = clock.elapsed();
            if (firstReportAt < 0)
                firstReportAt = lastReportAt;
        });
    // The window logs each report's progress; thousands of lines would bury
    // the test's own output.
    QLoggingCategory::setFilterRules(QStringLiteral("default.debug=false"));
    const auto unmute = qScopeGuard([] { QLoggingCategory::setFilterRules(QString()); });
    Timeline stalls;
    clock.start();
    UPDATE_STEP(start(form));
    UPDATE_STEP(verifySucceeded(form));
    UPDATE_STEP(verifyImageArrived(camera, image));

    const QJsonObject flood = camera->events("status-flood").value(0);
    QCOMPARE(flood.value("sent").toInt(), statusFloodReports);
    // The broker drops QoS 0 messages for a client that has 1000 waiting
    // (mosquitto's max_queued_messages), so only a thousand are sure to come.
    QVERIFY2(reports >= 1000, qPrintable(QString::number(reports)));
    QVERIFY2(stalls.longestStall < longestAcceptableStallMs,
        qPrintable(QString("a stall of %1 ms with %2 reports in %3 ms")
                       .arg(stalls.longestStall)
                       .arg(reports)
                       .arg(lastReportAt - firstReportAt)));
}

// Each window updates its own camera with its own image, all ten Starts
// pressed at once.
void TestReliability::tenWindowsUpdateTenCamerasAtOnce()
{
    const int windowCount = 10;
    // The windows' waits nest, so one update can wait for all the others.
    const int tenWindowsTimeoutMs = 300000;
    const int pressIntervalMs = 700;
    QVERIFY(qEnvironmentVariableIntValue("LAB_CAMERAS") >= windowCount);
    QList<Form *> forms;
    QList<QByteArray> images;
    for (int index = 1; index <= windowCount; ++index) {
        images << randomBytes(mediumImageSize + index);
        forms << openWindow(cameras.start(index, LabCameras::updating()),
            imageFile(QString("camera%1.bin").arg(index), images.constLast()));
        QVERIFY(forms.constLast());
    }
    const QList<LabCamera *> &updated = cameras.all();

    // An operator starting one window after another: each Yes lands in the
    // waits of the updates before it, whose steps must not be held up by it.
    ModalAnswerer answerer;
    QElapsedTimer clock;
    clock.start();
    QVector<qint64> endedAt(windowCount, -1);
    QVector<qint64> requestAt(windowCount, -1);
    QTimer watcher;
    connect(&watcher, &QTimer::timeout, this, [&] {
        for (int i = 0; i < windowCount; ++i) {
            if (requestAt[i] < 0 && !updated[i]->events("update-request").isEmpty())
                requestAt[i] = clock.elapsed();
            if (endedAt[i] < 0 && startButton(forms[i])->isEnabled()
                && progress(forms[i])->value() == 100)
                endedAt[i] = clock.elapsed();
        }
    });
    watcher.start(10);
    for (int i = 0; i < windowCount; ++i) {
        answerer.pressButton(QMessageBox::Yes);
        QTimer::singleShot(i * pressIntervalMs, forms[i],
            [form = forms[i]] { QTest::mouseClick(startButton(form), Qt::LeftButton); });
    }
    QTRY_VERIFY_WITH_TIMEOUT(!endedAt.contains(-1), tenWindowsTimeoutMs);
    for (int i = 0; i < windowCount; ++i) {
        UPDATE_STEP(verifySucceeded(forms[i]));
        UPDATE_STEP(verifyImageArrived(updated[i], images[i]));
    }
    QCOMPARE(answerer.boxes.size(), windowCount);
    QCOMPARE(answerer.unexpectedBoxes, 0);

    // One update's steps at a time, in the order of the Yes answers.
    const auto windowOf = [&](const SeenBox &box) {
        return int(std::find(forms.cbegin(), forms.cend(), box.window) - forms.cbegin());
    };
    for (int n = 1; n < windowCount; ++n) {
        const int before = windowOf(answerer.boxes[n - 1]);
        const int after = windowOf(answerer.boxes[n]);
        QVERIFY(before < windowCount && after < windowCount);
        QVERIFY2(requestAt[before] < requestAt[after] && endedAt[before] < endedAt[after],
            qPrintable(QString("window %1 before %2").arg(before + 1).arg(after + 1)));
    }
}

QTEST_MAIN(TestReliability)
#include "tst_reliability.moc"
