#ifndef BENCHSUPPORT_H
#define BENCHSUPPORT_H

#include <QObject>
#include <QString>
#include <QTimer>
#include <QVector>

#include <functional>

class Form;

// Helpers shared by the benchmark programs. A program prints its figures as
// table rows on standard output (bench/run gathers them) and its progress on
// standard error.
namespace bench {

constexpr qint64 kib = 1024;
constexpr qint64 mib = 1024 * 1024;

// CLOCK_MONOTONIC in nanoseconds: one clock for every timestamp of a run.
qint64 nowNs();
double msBetween(qint64 fromNs, qint64 toNs);

// Writes bytes of pseudo-random data: real blocks on disk, nothing sparse, and
// nothing a page-deduplicating or compressing layer could shortcut.
bool writeRandomFile(const QString &path, qint64 bytes, QString *error);

// Chooses path in the Form's Browser dialog, as an operator would.
bool browseImage(Form *form, const QString &path);

// Ticks every 10 ms on the GUI thread's event loop and records when each tick
// ran (and, if asked, the RSS then). Any gap much longer than 10 ms between
// two ticks is time the event loop could not run: the window froze for it.
class LoopProbe : public QObject
{
    Q_OBJECT
public:
    explicit LoopProbe(bool sampleRss = false, QObject *parent = nullptr);

    void start();
    // Starts, and lets the loop idle for a while: the longest gap then is the
    // floor that a stall is measured against.
    double startIdle(int windowMs = 1000);
    void stop();
    // Called on every tick, after it was recorded.
    std::function<void()> onTick;

    // The longest gap between two ticks that overlaps [fromNs, toNs].
    double longestGapMs(qint64 fromNs, qint64 toNs) const;
    // The largest RSS sampled in [fromNs, toNs]; -1 without samples.
    qint64 peakRssKiB(qint64 fromNs, qint64 toNs) const;

private:
    struct Tick
    {
        qint64 ns;
        qint64 rssKiB;
    };
    void tick();

    bool sampleRss;
    QTimer timer;
    QVector<Tick> ticks;
};

// One line of the table bench/run prints: the tool's figure, its floor or peer
// measured in the same run, their ratio, and the target if there is one.
struct Row
{
    QString figure;
    QString tool;
    QString peer;
    double ratio = 0;
    QString target; // empty: no target, the figure is for information
    bool met = false;
};
void printRow(const Row &row);
QString number(double value, int decimals = 1);

// Progress and diagnostics, on standard error.
void note(const QString &text);

} // namespace bench

#endif // BENCHSUPPORT_H
