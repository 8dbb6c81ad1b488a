// Image transfer: a real update through the update window (Browse, Start,
// Yes) to a simulated camera in camera 1's namespace, reading as fast as it
// can or at BYTES_PER_SECOND. One update per process, so that what the
// allocator keeps from one update does not count as the next one's idle. Run
// it through tools/lab/lab.sh run, with CAMSIM naming the simulator:
//
//   bench_transfer [MiB [BYTES_PER_SECOND]]     (default 16, full speed)

#include "benchsupport.h"
#include "form.h"
#include "labcamera.h"
#include "md5digest.h"
#include "processfigures.h"
#include "protocol.h"
#include "updatedriver.h"

#include <QApplication>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

using namespace bench;

namespace {

// The window's pacing: one chunk every 500 ms, the first once the first
// connection attempt's full second is over.
constexpr qint64 chunkBytes = Protocol::imageChunkSize;
constexpr double chunkPauseMs = Protocol::chunkPauseMs;
constexpr double firstAttemptMs = Protocol::imageConnectWaitsMs[0];
// The update itself takes 1 s for the broker and 5 s to settle first.
constexpr int preparationMs = 6000;
constexpr int timeoutSlackMs = 30000;
constexpr int endTimeoutMs = 15000;
constexpr int idleWindowMs = 500;
constexpr int requestPollTicks = 10;

struct Outcome
{
    bool ok = false;
    double acceptToFirstReadMs = 0;
    double acceptToLastReadMs = 0;
    double acceptToImageMs = 0;
    qint64 received = 0;
    bool md5Ok = false;
    qint64 peakAboveIdleKiB = 0;
    qint64 settledAboveIdleKiB = 0; // when the camera took the request
    qint64 digestSetUpKiB = 0; // the MD5 library's, once per process
};

double eventTime(const QJsonObject &event)
{
    return event.value(QLatin1String("t")).toDouble();
}

Outcome update(int cameraIndex, const QString &image, qint64 imageBytes, int bytesPerSecond)
{
    Outcome outcome;
    QStringList arguments { QStringLiteral("--broker"), QStringLiteral("--update") };
    if (bytesPerSecond > 0)
        arguments << QStringLiteral("--update-fault")
                  << QStringLiteral("slow=%1").arg(bytesPerSecond);
    LabCamera camera(cameraIndex, arguments);
    if (!camera.start()) {
        note(camera.errorString());
        return outcome;
    }

    Form *form = UpdateDriver::openWindow(&camera);
    if (!QTest::qWaitForWindowExposed(form) || !browseImage(form, image)) {
        note(QStringLiteral("transfer: cannot choose the image in the window"));
        delete form;
        return outcome;
    }
    // The MD5 library sets itself up at the first digest of the process and
    // keeps that memory: a cost of the process, not of the transfer, so it
    // is taken before the idle figure and reported on its own.
    const qint64 beforeDigestKiB = ProcessFigures::residentKiB();
    Md5Digest().hexResult();
    outcome.digestSetUpKiB = ProcessFigures::residentKiB() - beforeDigestKiB;
    LoopProbe probe(true);
    probe.startIdle(idleWindowMs);
    const qint64 idleKiB = ProcessFigures::residentKiB();

    // The peak is taken from the camera's receipt of the request on: the 5 s
    // settle that follows is quiet, and the digest before it is measured on
    // its own (bench_digest).
    qint64 windowFrom = 0;
    qint64 settledKiB = 0;
    bool peakReset = false;
    int ticks = 0;
    probe.onTick = [&] {
        if (windowFrom || ++ticks % requestPollTicks)
            return;
        if (!camera.events(QStringLiteral("update-request")).isEmpty()) {
            peakReset = ProcessFigures::resetPeakResident();
            windowFrom = nowNs();
            settledKiB = ProcessFigures::residentKiB();
        }
    };

    UpdateDriver::start(form);
    const double transferMs = bytesPerSecond > 0 ? 1000.0 * imageBytes / bytesPerSecond
                                                 : chunkPauseMs * imageBytes / chunkBytes;
    const bool imaged = camera.waitForEvent(
        QStringLiteral("image"), 1, preparationMs + int(transferMs) + timeoutSlackMs);
    const qint64 windowTo = nowNs();
    // Without the reset, VmHWM would hold the digest's peak; the 10 ms samples
    // are then all there is.
    const qint64 peakKiB = qMax(
        peakReset ? ProcessFigures::peakResidentKiB() : -1, probe.peakRssKiB(windowFrom, windowTo));
    // Lets the window take the camera's last report and end the update
    // before it is destroyed.
    if (!QTest::qWaitFor(
            [&] { return UpdateDriver::startButton(form)->isEnabled(); }, endTimeoutMs))
        note(QStringLiteral("transfer: the window did not give Start back"));
    probe.stop();
    delete form;
    if (!imaged || !windowFrom) {
        note(QStringLiteral("transfer: no image arrived at camera %1").arg(cameraIndex));
        return outcome;
    }

    const QList<QJsonObject> reads = camera.events(QStringLiteral("tcp-read"));
    const QJsonObject imageEvent = camera.events(QStringLiteral("image")).constFirst();
    const double accepted = eventTime(camera.events(QStringLiteral("tcp-accept")).value(0));
    outcome.ok = true;
    outcome.acceptToFirstReadMs = reads.isEmpty() ? 0 : eventTime(reads.constFirst()) - accepted;
    outcome.acceptToLastReadMs = reads.isEmpty() ? 0 : eventTime(reads.constLast()) - accepted;
    outcome.acceptToImageMs = eventTime(imageEvent) - accepted;
    outcome.received = imageEvent.value(QLatin1String("size")).toVariant().toLongLong();
    outcome.md5Ok = imageEvent.value(QLatin1String("ok")).toBool();
    outcome.peakAboveIdleKiB = peakKiB - idleKiB;
    outcome.settledAboveIdleKiB = settledKiB - idleKiB;
    note(QStringLiteral("transfer to camera %1: accept to last read %2 ms, to image %3 ms, "
                        "first read after %4 ms; %5 bytes, ok %6; peak RSS %7 KiB above idle, "
                        "%8 KiB of them before the transfer")
             .arg(cameraIndex)
             .arg(outcome.acceptToLastReadMs)
             .arg(outcome.acceptToImageMs)
             .arg(outcome.acceptToFirstReadMs)
             .arg(outcome.received)
             .arg(outcome.md5Ok)
             .arg(outcome.peakAboveIdleKiB)
             .arg(outcome.settledAboveIdleKiB));
    return outcome;
}

} // namespace

int main(int argc, char *argv[])
{
    QApplication application(argc, argv);
    const QStringList arguments = application.arguments();
    const qint64 imageBytes = (arguments.size() > 1 ? arguments.at(1).toLongLong() : 16) * mib;
    const int bytesPerSecond = arguments.size() > 2 ? arguments.at(2).toInt() : 0;
    QTemporaryDir directory;
    const QString image = directory.filePath(QStringLiteral("firmware.bin"));
    QString error;
    if (!directory.isValid() || !writeRandomFile(image, imageBytes, &error)) {
        note(QStringLiteral("transfer: cannot write the image: ") + error);
        return 1;
    }
    const qint64 chunks = (imageBytes + chunkBytes - 1) / chunkBytes;
    const QString size = QStringLiteral("%1 MiB").arg(imageBytes / mib);
    const QString speed = bytesPerSecond > 0
        ? QStringLiteral("at %1 KiB/s").arg(bytesPerSecond / kib)
        : QStringLiteral("at full speed");
    const QString tag = QStringLiteral("transfer %1 %2").arg(size, speed);
    note(QStringLiteral("transfer: %1 to a camera reading %2").arg(size, speed));

    const Outcome outcome = update(1, image, imageBytes, bytesPerSecond);
    if (!outcome.ok)
        return 1;
    // The transfer's own buffering: the peak above what the process held when
    // the camera took the request, just before the image connection. What it
    // held above idle then (the broker connection, the digest's piece kept by
    // the allocator) is the note's, not the transfer's.
    const double peakMiB = double(outcome.peakAboveIdleKiB - outcome.settledAboveIdleKiB) / kib;
    printRow({ tag + QStringLiteral(": the MD5 library's one-time set-up, MiB (not in the peak)"),
        number(double(outcome.digestSetUpKiB) / kib, 2), QStringLiteral("—"), qQNaN(), QString(),
        false });
    if (bytesPerSecond == 0) {
        // The last chunk is read as it is written: the first connection
        // attempt's full second, then a pause after each chunk but the last.
        const double floorMs = firstAttemptMs + (chunks - 1) * chunkPauseMs;
        const double ratio = outcome.acceptToLastReadMs / floorMs;
        printRow({ tag
                + QStringLiteral(": camera's accept to last read, ms / 1000 + %1 x 500 ms")
                      .arg(chunks - 1),
            number(outcome.acceptToLastReadMs, 0), number(floorMs, 0), ratio,
            QStringLiteral("<= 1.02"), ratio <= 1.02 });
        // The pacing alone: the first chunk to the last, plus the last pause.
        const double pacedMs
            = outcome.acceptToLastReadMs - outcome.acceptToFirstReadMs + chunkPauseMs;
        const double pacedFloorMs = chunks * chunkPauseMs;
        printRow(
            { tag + QStringLiteral(": first read to last + 500 ms, ms / %1 x 500 ms").arg(chunks),
                number(pacedMs, 0), number(pacedFloorMs, 0), pacedMs / pacedFloorMs, QString(),
                false });
        printRow({ tag + QStringLiteral(": peak RSS above the request's, MiB / one chunk"),
            number(peakMiB, 2), number(double(chunkBytes) / mib, 0), peakMiB * mib / chunkBytes,
            QString(), false });
        return 0;
    }
    // "About two chunks": the one being written and the one queued ahead.
    printRow({ tag + QStringLiteral(": peak RSS above the request's, MiB / one chunk"),
        number(peakMiB, 2), number(double(chunkBytes) / mib, 0), peakMiB * mib / chunkBytes,
        QStringLiteral("about 2 MiB (<= 2.25)"), peakMiB <= 2.25 });
    printRow({ tag
            + QStringLiteral(": bytes arrived / sent, md5 %1")
                  .arg(outcome.md5Ok ? QStringLiteral("ok") : QStringLiteral("BAD")),
        QString::number(outcome.received), QString::number(imageBytes),
        double(outcome.received) / imageBytes, QStringLiteral("1.0 and md5 ok"),
        outcome.received == imageBytes && outcome.md5Ok });
    const double floorMs = 1000.0 * imageBytes / bytesPerSecond;
    printRow({ tag + QStringLiteral(": camera's accept to image, ms / size at that rate"),
        number(outcome.acceptToImageMs, 0), number(floorMs, 0), outcome.acceptToImageMs / floorMs,
        QString(), false });
    return 0;
}
