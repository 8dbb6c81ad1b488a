// Start-up: time from process start to the main window's first expose, and
// the RSS once idle, for the real main window against a bare QMainWindow of
// the same size (the floor). Built twice from this file:
//
//   bench_startup_floor             shows the bare window, prints, quits
//   bench_startup --window          shows the real window, prints, quits
//   bench_startup [RUNS [PLATFORM]] runs both RUNS times (default 10),
//                                   alternating, on the Qt platform PLATFORM
//                                   (default offscreen; xcb needs DISPLAY),
//                                   and prints the medians
//
// A window program prints "expose_ms=... rss_kib=...". Process start is when
// the driver called fork; it passes that moment in BENCH_SPAWN_NS.

#include "processfigures.h"

#include <QApplication>
#include <QMainWindow>
#include <QTimer>
#include <QWindow>

#include <cstdio>
#include <ctime>

#ifdef BENCH_STARTUP_TOOL
#include "mainwindow.h"

#include <QProcess>
#include <QProcessEnvironment>

#include <algorithm>
#endif

namespace {

// Long enough for anything the window defers to its first idle moments.
constexpr int idleSettleMs = 300;

qint64 nowNs()
{
    timespec now {};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return qint64(now.tv_sec) * 1000000000 + now.tv_nsec;
}

// Notes the first expose of any window, then quits once the program was idle
// for a moment.
class FirstExpose : public QObject
{
public:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (exposedNs == 0 && event->type() == QEvent::Expose) {
            auto *window = qobject_cast<QWindow *>(watched);
            if (window && window->isExposed()) {
                exposedNs = nowNs();
                QTimer::singleShot(idleSettleMs, this, &FirstExpose::report);
            }
        }
        return false;
    }

private:
    void report()
    {
        const qint64 spawnedNs = qgetenv("BENCH_SPAWN_NS").toLongLong();
        std::printf("expose_ms=%.3f rss_kib=%lld\n", double(exposedNs - spawnedNs) / 1e6,
            static_cast<long long>(ProcessFigures::residentKiB()));
        std::fflush(stdout);
        // Not quit(): Qt 6 would first close the windows, and the main
        // window asks before it closes.
        QCoreApplication::exit(0);
    }

    qint64 exposedNs = 0;
};

int showWindow(int argc, char *argv[])
{
    QApplication application(argc, argv);
    FirstExpose firstExpose;
    application.installEventFilter(&firstExpose);
#ifdef BENCH_STARTUP_TOOL
    MainWindow window;
#else
    // The size of the real main window (src/mainwindow.ui).
    QMainWindow window;
    window.resize(1025, 496);
#endif
    window.show();
    return application.exec();
}

#ifdef BENCH_STARTUP_TOOL

struct Sample
{
    double exposeMs = -1;
    double rssKiB = -1;
};

Sample runOnce(const QString &program, const QStringList &arguments, const QString &platform)
{
    QProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), platform);
    environment.insert(QStringLiteral("BENCH_SPAWN_NS"), QString::number(nowNs()));
    process.setProcessEnvironment(environment);
    // The real window loads its icon from the working directory.
    process.setWorkingDirectory(QCoreApplication::applicationDirPath());
    process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process.start(program, arguments);
    process.waitForFinished(-1);
    Sample sample;
    for (const QByteArray &field : process.readAllStandardOutput().trimmed().split(' ')) {
        if (field.startsWith("expose_ms="))
            sample.exposeMs = field.mid(10).toDouble();
        else if (field.startsWith("rss_kib="))
            sample.rssKiB = field.mid(8).toDouble();
    }
    return sample;
}

double median(QVector<double> values)
{
    std::sort(values.begin(), values.end());
    const int middle = values.size() / 2;
    return values.size() % 2 ? values.at(middle) : (values.at(middle - 1) + values.at(middle)) / 2;
}

void printRow(const QString &figure, double tool, double floor, int decimals, double target)
{
    const double ratio = tool / floor;
    std::printf("| %s | %.*f | %.*f | %.3f | <= %.1f | %s |\n", figure.toUtf8().constData(),
        decimals, tool, decimals, floor, ratio, target, ratio <= target ? "yes" : "NO");
    std::fflush(stdout);
}

int drive(int argc, char *argv[])
{
    QCoreApplication application(argc, argv);
    const int runs = argc > 1 ? qMax(1, QByteArray(argv[1]).toInt()) : 10;
    const QString platform
        = argc > 2 ? QString::fromLocal8Bit(argv[2]) : QStringLiteral("offscreen");
    const QString tool = QCoreApplication::applicationFilePath();
    const QString floor = QCoreApplication::applicationDirPath() + "/bench_startup_floor";
    QVector<double> toolMs, floorMs, toolKiB, floorKiB;
    // Alternating spreads the machine's noise over both alike.
    for (int run = 0; run < runs; ++run) {
        const Sample t = runOnce(tool, { QStringLiteral("--window") }, platform);
        const Sample f = runOnce(floor, {}, platform);
        if (t.exposeMs < 0 || f.exposeMs < 0) {
            std::fprintf(stderr, "  start-up: a window program printed nothing\n");
            return 1;
        }
        toolMs << t.exposeMs;
        floorMs << f.exposeMs;
        toolKiB << t.rssKiB;
        floorKiB << f.rssKiB;
        std::fprintf(stderr,
            "  start-up %s run %d: window %.1f ms %.0f KiB, floor %.1f ms %.0f KiB\n",
            qPrintable(platform), run + 1, t.exposeMs, t.rssKiB, f.exposeMs, f.rssKiB);
    }
    const QString tag = QStringLiteral("start-up (%1, median of %2)").arg(platform).arg(runs);
    printRow(tag + QStringLiteral(": process start to first expose, ms / bare window"),
        median(toolMs), median(floorMs), 1, 1.3);
    printRow(tag + QStringLiteral(": RSS at idle, MiB / bare window"), median(toolKiB) / 1024,
        median(floorKiB) / 1024, 1, 1.3);
    return 0;
}

#endif

} // namespace

int main(int argc, char *argv[])
{
#ifdef BENCH_STARTUP_TOOL
    if (argc < 2 || QByteArray(argv[1]) != "--window")
        return drive(argc, argv);
#endif
    return showWindow(argc, argv);
}
