// Image digest: the update window's MD5 of a 1 GiB image against md5sum on the
// same file, page cache warm, each run twice and the better run kept. No
// network. The image is written under TMPDIR and removed at the end.
//
//   bench_digest [MiB]              (default 1024)

#include "benchsupport.h"
#include "form.h"
#include "processfigures.h"

#include <QApplication>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

using namespace bench;

namespace {

constexpr int runs = 2;
constexpr int settleMs = 200;
constexpr int md5sumPollMs = 10;

struct Run
{
    double seconds = 0;
    QString md5;
    qint64 peakKiB = -1;
};

// md5sum's own peak RSS is read from its VmHWM while it runs: the figure the
// kernel reports for a reaped child would include the forked copy of this
// process before the exec.
Run runMd5sum(const QString &path)
{
    QProcess md5sum;
    Run run;
    const qint64 started = nowNs();
    md5sum.start(QStringLiteral("md5sum"), { path });
    while (!md5sum.waitForFinished(md5sumPollMs))
        run.peakKiB = qMax(run.peakKiB, ProcessFigures::peakResidentKiB(md5sum.processId()));
    run.seconds = msBetween(started, nowNs()) / 1000;
    run.md5 = QString::fromLatin1(md5sum.readAll().left(32));
    return run;
}

} // namespace

int main(int argc, char *argv[])
{
    QApplication application(argc, argv);
    const qint64 sizeBytes = (argc > 1 ? application.arguments().at(1).toLongLong() : 1024) * mib;

    QTemporaryDir directory;
    const QString image = directory.filePath(QStringLiteral("image.bin"));
    note(QStringLiteral("digest: writing %1 MiB to %2").arg(sizeBytes / mib).arg(image));
    QString error;
    if (!directory.isValid() || !writeRandomFile(image, sizeBytes, &error)) {
        note(QStringLiteral("digest: cannot write the image: ") + error);
        return 1;
    }

    Form form(
        QStringLiteral("192.0.2.10"), QStringLiteral("02:00:00:00:00:01"), QStringLiteral("BENCH"));
    form.show();
    if (!QTest::qWaitForWindowExposed(&form) || !browseImage(&form, image)) {
        note(QStringLiteral("digest: cannot choose the image in the window"));
        return 1;
    }

    LoopProbe probe(true);
    const double idleStallMs = probe.startIdle();

    // The first md5sum also warms the page cache for everyone after it.
    Run bestMd5sum { qInf(), {} };
    Run bestTool { qInf(), {} };
    double stallMs = 0;
    qint64 peakAboveIdleKiB = 0;
    qint64 md5sumPeakKiB = -1;
    for (int run = 0; run < runs; ++run) {
        const Run md5sum = runMd5sum(image);
        if (md5sum.seconds < bestMd5sum.seconds)
            bestMd5sum = md5sum;
        md5sumPeakKiB = qMax(md5sumPeakKiB, md5sum.peakKiB);

        QTest::qWait(settleMs);
        const qint64 idleKiB = ProcessFigures::residentKiB();
        const bool peakReset = ProcessFigures::resetPeakResident();
        const qint64 started = nowNs();
        const QByteArray request = form.CreateJsonQByteArray();
        const qint64 ended = nowNs();
        const qint64 peakKiB = qMax(
            peakReset ? ProcessFigures::peakResidentKiB() : -1, probe.peakRssKiB(started, ended));
        QTest::qWait(settleMs); // one more tick after the digest closes its gap

        const Run tool { msBetween(started, ended) / 1000,
            QJsonDocument::fromJson(request).object().value(QLatin1String("file_md5")).toString() };
        if (tool.seconds < bestTool.seconds)
            bestTool = tool;
        stallMs = qMax(stallMs, probe.longestGapMs(started, ended));
        // The first digest counts: the allocator may keep its block afterwards,
        // and later runs then start from a higher idle.
        peakAboveIdleKiB = qMax(peakAboveIdleKiB, peakKiB - idleKiB);
        note(QStringLiteral("digest run %1: md5sum %2 s, window %3 s, peak RSS %4 KiB above idle")
                 .arg(run + 1)
                 .arg(md5sum.seconds, 0, 'f', 3)
                 .arg(tool.seconds, 0, 'f', 3)
                 .arg(peakKiB - idleKiB));
    }
    probe.stop();

    if (bestTool.md5 != bestMd5sum.md5 || bestTool.md5.isEmpty()) {
        note(QStringLiteral("digest: the window's MD5 %1 differs from md5sum's %2")
                 .arg(bestTool.md5, bestMd5sum.md5));
        return 1;
    }

    const double toolRate = double(sizeBytes) / mib / bestTool.seconds;
    const double md5sumRate = double(sizeBytes) / mib / bestMd5sum.seconds;
    const QString tag = QStringLiteral("digest %1 MiB").arg(sizeBytes / mib);
    printRow({ tag + QStringLiteral(": throughput MiB/s, window / md5sum"), number(toolRate, 0),
        number(md5sumRate, 0), toolRate / md5sumRate, QStringLiteral(">= 0.97"),
        toolRate / md5sumRate >= 0.97 });
    const double peakMiB = double(peakAboveIdleKiB) / kib;
    const double md5sumPeakMiB = double(md5sumPeakKiB) / kib;
    printRow({ tag + QStringLiteral(": peak RSS MiB, window above idle / md5sum whole"),
        number(peakMiB), number(md5sumPeakMiB), peakMiB / md5sumPeakMiB, QStringLiteral("< 32 MiB"),
        peakMiB < 32 });
    printRow({ tag + QStringLiteral(": longest loop stall ms / idle"), number(stallMs),
        number(idleStallMs), stallMs / idleStallMs, QStringLiteral("< 60 ms"), stallMs < 60 });
    return 0;
}
