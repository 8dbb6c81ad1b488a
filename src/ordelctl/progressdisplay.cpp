#include "progressdisplay.h"

#include "camerajob.h"
#include "cameraupdate.h"
#include "console.h"
#include "fleetrun.h"
#include "textformat.h"

namespace {

// Often enough to look live, seldom enough to cost nothing with many cameras.
constexpr int redrawIntervalMs = 250;
// Lines of the terminal kept free of the block: the total and the prompt.
constexpr int spareLines = 3;
constexpr double mib = 1024.0 * 1024.0;

QString resultLine(const CameraResult &result)
{
    QString line = QStringLiteral("%1: %2 after %3 s")
                       .arg(result.ip, CameraResult::OutcomeName(result.outcome))
                       .arg(result.seconds, 0, 'f', 1);
    if (!result.message.isEmpty())
        line += QStringLiteral(": ") + result.message;
    return TextFormat::ForTerminal(line);
}

} // namespace

ProgressDisplay::ProgressDisplay(bool live, QObject *parent)
    : QObject(parent)
    , live(live)
{
    redrawTimer.setInterval(redrawIntervalMs);
    connect(&redrawTimer, &QTimer::timeout, this, &ProgressDisplay::Redraw);
}

void ProgressDisplay::Follow(FleetRun *followed)
{
    run = followed;
    connect(run, &FleetRun::jobStarted, this, &ProgressDisplay::JobStarted);
    connect(run, &FleetRun::jobFinished, this, &ProgressDisplay::JobFinished);
    if (live)
        redrawTimer.start();
}

void ProgressDisplay::JobStarted(CameraJob *job)
{
    if (live)
        return;
    connect(job, &CameraJob::phaseChanged, this, [job] {
        Console::ErrorProgress(
            TextFormat::ForTerminal(job->Ip() + QStringLiteral(": ") + job->PhaseText())
            + QLatin1Char('\n'));
    });
}

void ProgressDisplay::JobFinished(CameraJob *, const CameraResult &result)
{
    if (live)
        PrintAbove(resultLine(result));
    else
        Console::Error(resultLine(result) + QLatin1Char('\n'));
}

void ProgressDisplay::End()
{
    redrawTimer.stop();
    if (live && drawnLines > 0)
        Console::Error(Erase());
    drawnLines = 0;
    drawnBlock.clear();
}

void ProgressDisplay::PrintAbove(const QString &line)
{
    const QString block = Block();
    Console::Error(Erase() + line + QLatin1Char('\n') + block);
    drawnLines = block.count(QLatin1Char('\n'));
    drawnBlock = block;
}

// A block that has not changed is not sent again: over a slow link every
// byte to the terminal counts. A redraw the terminal is too far behind for
// is dropped whole, and the next one erases what was drawn before it.
void ProgressDisplay::Redraw()
{
    const QString block = Block();
    if (block == drawnBlock)
        return;
    if (!Console::ErrorProgress(Erase() + block))
        return;
    drawnLines = block.count(QLatin1Char('\n'));
    drawnBlock = block;
}

// Back to the block's first line, and everything below it cleared.
QString ProgressDisplay::Erase() const
{
    if (drawnLines == 0)
        return QString();
    return QStringLiteral("\r\x1b[%1A\x1b[J").arg(drawnLines);
}

// One line a camera in flight, as many as fit, and the total. A line longer
// than the terminal would wrap and throw off the redraw, so each is clipped.
QString ProgressDisplay::Block() const
{
    if (!run)
        return QString();
    const int width = Console::ErrorWidth() - 1;
    const int room = qMax(Console::ErrorHeight() - spareLines, 1);
    QString block;
    int shown = 0;
    int hidden = 0;
    for (CameraJob *job : run->Jobs()) {
        if (job->IsFinished() || job->IsWaiting())
            continue;
        if (shown >= room) {
            ++hidden;
            continue;
        }
        const QString line
            = QStringLiteral("  %1  %2  %3").arg(job->Ip(), job->PhaseText(), job->Detail());
        block += TextFormat::Clip(TextFormat::ForTerminal(line), width) + QLatin1Char('\n');
        ++shown;
    }
    if (hidden > 0)
        block += QStringLiteral("  and %1 more in flight\n").arg(hidden);
    return block + TextFormat::Clip(Total(), width) + QLatin1Char('\n');
}

QString ProgressDisplay::Total() const
{
    int failed = 0;
    for (const CameraResult &result : run->Results())
        failed += result.CountsAsFailure() ? 1 : 0;
    QString total = QStringLiteral("%1 of %2 cameras ended (%3 failed), %4 in flight, %5 waiting")
                        .arg(run->Ended())
                        .arg(run->Total())
                        .arg(failed)
                        .arg(run->InFlight())
                        .arg(run->Waiting());
    if (run->Away() > 0)
        total += QStringLiteral(", %1 restarting").arg(run->Away());
    qint64 sent = 0;
    bool updating = false;
    for (CameraJob *job : run->Jobs()) {
        if (auto *update = qobject_cast<CameraUpdate *>(job)) {
            sent += update->BytesSent();
            updating = true;
        }
    }
    if (updating)
        total += QStringLiteral("; %1 MiB sent").arg(double(sent) / mib, 0, 'f', 1);
    return total;
}
