#include "benchsupport.h"

#include "processfigures.h"
#include "updatedriver.h"

#include <QFile>
#include <QTest>

#include <cmath>
#include <cstdio>
#include <ctime>

namespace bench {

namespace {

    constexpr int tickIntervalMs = 10;
    // Below glibc's first mmap threshold (128 KiB): a larger block, once freed,
    // would raise that threshold and change how the tool's own blocks are later
    // allocated and returned, and with it the RSS figures.
    constexpr qint64 writeBlockBytes = 64 * kib;

} // namespace

qint64 nowNs()
{
    timespec now {};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return qint64(now.tv_sec) * 1000000000 + now.tv_nsec;
}

double msBetween(qint64 fromNs, qint64 toNs)
{
    return double(toNs - fromNs) / 1e6;
}

bool writeRandomFile(const QString &path, qint64 bytes, QString *error)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        *error = file.errorString();
        return false;
    }
    // xorshift64: fast, and no two blocks of the file alike.
    quint64 state = 0x9E3779B97F4A7C15ull;
    QByteArray block(int(writeBlockBytes), Qt::Uninitialized);
    for (qint64 written = 0; written < bytes;) {
        auto *words = reinterpret_cast<quint64 *>(block.data());
        for (qint64 n = 0; n < writeBlockBytes / 8; ++n) {
            state ^= state << 13;
            state ^= state >> 7;
            state ^= state << 17;
            words[n] = state;
        }
        const qint64 length = qMin(writeBlockBytes, bytes - written);
        if (file.write(block.constData(), length) != length) {
            *error = file.errorString();
            return false;
        }
        written += length;
    }
    return true;
}

bool browseImage(Form *form, const QString &path)
{
    // The driver's checks end in QtTest's failure flag; outside a test run
    // nothing else reports them.
    UpdateDriver::browse(form, path);
    return !QTest::currentTestFailed();
}

LoopProbe::LoopProbe(bool sampleRss, QObject *parent)
    : QObject(parent)
    , sampleRss(sampleRss)
{
    // A coarse timer may fire up to 5 % late by design; that would read as a
    // stall that is not there.
    timer.setTimerType(Qt::PreciseTimer);
    timer.setInterval(tickIntervalMs);
    connect(&timer, &QTimer::timeout, this, &LoopProbe::tick);
}

void LoopProbe::start()
{
    ticks.clear();
    ticks.reserve(100000);
    tick();
    timer.start();
}

double LoopProbe::startIdle(int windowMs)
{
    start();
    const qint64 fromNs = nowNs();
    QTest::qWait(windowMs);
    return longestGapMs(fromNs, nowNs());
}

void LoopProbe::stop()
{
    timer.stop();
}

void LoopProbe::tick()
{
    ticks.append({ nowNs(), sampleRss ? ProcessFigures::residentKiB() : -1 });
    if (onTick)
        onTick();
}

double LoopProbe::longestGapMs(qint64 fromNs, qint64 toNs) const
{
    double longest = 0;
    for (int n = 1; n < ticks.size(); ++n) {
        if (ticks.at(n).ns >= fromNs && ticks.at(n - 1).ns <= toNs)
            longest = qMax(longest, msBetween(ticks.at(n - 1).ns, ticks.at(n).ns));
    }
    return longest;
}

qint64 LoopProbe::peakRssKiB(qint64 fromNs, qint64 toNs) const
{
    qint64 peak = -1;
    for (const Tick &tick : ticks) {
        if (tick.ns >= fromNs && tick.ns <= toNs)
            peak = qMax(peak, tick.rssKiB);
    }
    return peak;
}

QString number(double value, int decimals)
{
    if (!std::isfinite(value))
        return QStringLiteral("—");
    return QString::number(value, 'f', decimals);
}

void printRow(const Row &row)
{
    const QString met = row.target.isEmpty() ? QStringLiteral("—")
        : row.met                            ? QStringLiteral("yes")
                                             : QStringLiteral("NO");
    const QString line = QStringLiteral("| %1 | %2 | %3 | %4 | %5 | %6 |\n")
                             .arg(row.figure, row.tool, row.peer, number(row.ratio, 3),
                                 row.target.isEmpty() ? QStringLiteral("—") : row.target, met);
    std::fputs(line.toUtf8().constData(), stdout);
    std::fflush(stdout);
}

void note(const QString &text)
{
    std::fprintf(stderr, "  %s\n", text.toUtf8().constData());
    std::fflush(stderr);
}

} // namespace bench
