// Many cameras at once: the command-line program updates 1, 10 and 40
// simulated cameras side by side with one image, searches a crowd that
// answers twice, and searches the 40 over a link that drops one reply in
// ten, and updates 40 cameras that restart after the update and must come
// back on the new version. Every figure is measured against a floor taken in
// the same run: the time one camera takes, the designed chunk pause, the
// program's own memory with a tiny image, the search without loss, one probe
// a second while cameras are awaited. Run it through
// tools/lab/lab.sh run with at least 40 cameras, with CAMSIM and ORDELCTL
// naming the two programs:
//
//   bench_fleet [MiB]        (default 8)

#include "benchsupport.h"
#include "labcamera.h"
#include "labcameras.h"
#include "lossylink.h"
#include "ordelctlrun.h"
#include "processfigures.h"
#include "protocol.h"
#include "updatedriver.h"

#include <QCoreApplication>
#include <QSet>
#include <QTemporaryDir>

#include <limits>

using namespace bench;

namespace {

constexpr int fleetSize = 40;
constexpr int middleFleet = 10;
constexpr int slowBytesPerSecond = 256 * 1024;
constexpr int crowdSize = 5000;
constexpr qint64 tinyImageBytes = 1024;
constexpr double chunkPauseMs = Protocol::chunkPauseMs;
constexpr int runTimeoutMs = 300000;
constexpr int lossPercent = 10;
constexpr int lossySearches = 20;
// The verified updates: a small image, so that a run is mostly the camera's
// restart, which every camera spends away at the same time.
constexpr qint64 verifiedImageBytes = mib;
constexpr int restartMs = 10000;
constexpr int verifyTimeoutS = 60;
const char oldVersion[] = "V1.0";
const char newVersion[] = "V2.0";
// ordelctl search's default reply window, after its pause before the probe.
constexpr double designedSearchS = (Protocol::probeAfterBindMs + 2000) / 1000.0;

struct Outcome
{
    bool ok = false;
    double seconds = 0;
    qint64 peakKiB = -1;
    // The cameras whose final says "verified": true.
    int verified = 0;
};

// Updates the cameras with the image at path and the options more, sampling
// the program's peak memory as it goes; ok only when every camera succeeded.
Outcome update(const QList<LabCamera *> &cameras, const QString &path, const QStringList &more = {})
{
    QStringList arguments { QStringLiteral("update"), QStringLiteral("--yes"),
        QStringLiteral("--json"), QStringLiteral("--parallel"), QString::number(cameras.size()),
        QStringLiteral("--image"), path };
    arguments += more;
    for (const LabCamera *camera : cameras)
        arguments.append(camera->address());
    OrdelctlRun run(arguments);
    Outcome outcome;
    if (!run.start())
        return outcome;
    const qint64 pid = run.processId();
    // The peak so far, read until the process is gone; its last reading holds
    // the run's peak, which comes during the transfer, long before the end.
    run.waitFor(
        [&] {
            outcome.peakKiB = qMax(outcome.peakKiB, ProcessFigures::peakResidentKiB(pid));
            return false;
        },
        runTimeoutMs);
    if (!run.waitForEnd(runTimeoutMs) || run.exitCode() != 0) {
        note(QStringLiteral("fleet: update of %1 cameras ended with %2: %3")
                 .arg(cameras.size())
                 .arg(run.exitCode())
                 .arg(run.errorText().right(2000)));
        return outcome;
    }
    outcome.ok = true;
    outcome.seconds = run.seconds();
    for (const LabCamera *camera : cameras) {
        if (run.finalOf(camera->address()).value(QLatin1String("verified")).toBool())
            ++outcome.verified;
    }
    const QString verified = arguments.contains(QLatin1String("--fw-version"))
        ? QStringLiteral(", %1 verified").arg(outcome.verified)
        : QString();
    note(QStringLiteral("fleet: %1 cameras, image %2: %3 s, peak RSS %4 KiB%5")
             .arg(cameras.size())
             .arg(path.section(QLatin1Char('/'), -1))
             .arg(outcome.seconds, 0, 'f', 2)
             .arg(outcome.peakKiB)
             .arg(verified));
    return outcome;
}

// The longest time between the starts of two chunks at any of the cameras,
// as the cameras saw them.
double longestChunkGapMs(const QList<LabCamera *> &cameras)
{
    double longest = 0;
    for (const LabCamera *camera : cameras) {
        const QList<UpdateDriver::Burst> bursts = UpdateDriver::readBursts(camera);
        for (int n = 1; n < bursts.size(); ++n)
            longest = qMax(longest, double(bursts.at(n).start - bursts.at(n - 1).start));
    }
    return longest;
}

QList<LabCamera *> startCameras(LabCameras &cameras, int first, int count,
    const QStringList &camsimArgs = LabCameras::updating())
{
    QList<LabCamera *> started;
    for (int index = first; index < first + count; ++index) {
        LabCamera *camera = cameras.start(index, camsimArgs);
        if (!camera->isRunning())
            return {};
        started.append(camera);
    }
    return started;
}

// Two simulators play the same crowd, so every camera answers twice.
bool searchCrowd()
{
    LabCameras crowds;
    for (int index = 1; index <= 2; ++index) {
        if (!crowds.start(index, { QStringLiteral("--generate"), QString::number(crowdSize) })
                 ->isRunning())
            return false;
    }
    OrdelctlRun run({ QStringLiteral("search"), QStringLiteral("--json") });
    if (!run.run(runTimeoutMs) || run.exitCode() != 0)
        return false;
    QSet<QString> addresses;
    int rows = 0;
    for (const QJsonObject &line : run.lines()) {
        addresses.insert(line.value(QLatin1String("ip")).toString());
        ++rows;
    }
    qint64 replies = 0;
    for (const LabCamera *crowd : crowds.all()) {
        for (const QJsonObject &burst : crowd->events(QStringLiteral("burst")))
            replies += burst.value(QLatin1String("sent")).toInt();
    }
    note(QStringLiteral("fleet: search listed %1 rows, %2 addresses, of %3 replies")
             .arg(rows)
             .arg(addresses.size())
             .arg(replies));
    const bool each = rows == crowdSize && addresses.size() == crowdSize;
    printRow({ QStringLiteral("ordelctl search, %1 cameras each answering twice: rows listed / "
                              "cameras (%2 replies)")
                   .arg(crowdSize)
                   .arg(replies),
        QString::number(rows), QString::number(crowdSize), double(rows) / crowdSize,
        QStringLiteral("1.0, each once"), each });
    return true;
}

struct SearchTally
{
    int complete = 0;
    double meanS = 0;
    double maxS = 0;
};

// Searches of the fleet with percent of the replies dropped on their way to
// the tool; false when the link or a search failed.
bool searchRepeatedly(const QList<LabCamera *> &fleet, int percent, SearchTally *tally)
{
    QSet<QString> addresses;
    for (const LabCamera *camera : fleet)
        addresses.insert(camera->address());
    LossyLink link(percent);
    if (!link.isLossy()) {
        note(QStringLiteral("fleet: ") + link.errorString());
        return false;
    }
    for (int search = 0; search < lossySearches; ++search) {
        OrdelctlRun run({ QStringLiteral("search"), QStringLiteral("--json") });
        if (!run.run(runTimeoutMs) || run.exitCode() != 0)
            return false;
        QStringList listed;
        for (const QJsonObject &line : run.lines())
            listed.append(line.value(QLatin1String("ip")).toString());
        if (listed.size() == fleet.size()
            && QSet<QString>(listed.cbegin(), listed.cend()) == addresses)
            ++tally->complete;
        tally->meanS += run.seconds() / lossySearches;
        tally->maxS = qMax(tally->maxS, run.seconds());
    }
    note(QStringLiteral("fleet: %1 % lost: %2 of %3 replies dropped on the way in")
             .arg(percent)
             .arg(link.dropped())
             .arg(link.replies()));
    return true;
}

// Wi-Fi and busy switches drop datagrams: how often a search still lists the
// whole fleet, and whether making up for lost replies costs time.
bool searchOverLossyLink(const QList<LabCamera *> &fleet)
{
    SearchTally lossy;
    SearchTally clean;
    if (!searchRepeatedly(fleet, lossPercent, &lossy) || !searchRepeatedly(fleet, 0, &clean))
        return false;
    note(QStringLiteral("lossy link (%1 % of replies dropped): %2 of %3 searches listed all %4 "
                        "cameras; search %5 s mean, %6 s max (no loss: %7 of %3, %8 s mean, "
                        "%9 s max)")
             .arg(lossPercent)
             .arg(lossy.complete)
             .arg(lossySearches)
             .arg(fleet.size())
             .arg(number(lossy.meanS, 2), number(lossy.maxS, 2))
             .arg(clean.complete)
             .arg(number(clean.meanS, 2), number(clean.maxS, 2)));
    const QString tag = QStringLiteral("ordelctl search, %1 cameras, %2 % of replies dropped")
                            .arg(fleet.size())
                            .arg(lossPercent);
    const int least = lossySearches - 1;
    printRow(
        { tag + QStringLiteral(": searches listing all, of %1 / with no loss").arg(lossySearches),
            QString::number(lossy.complete), QString::number(clean.complete),
            double(lossy.complete) / clean.complete,
            QStringLiteral(">= %1 of %2").arg(least).arg(lossySearches), lossy.complete >= least });
    printRow({ tag + QStringLiteral(": mean search, s / with no loss"), number(lossy.meanS, 2),
        number(clean.meanS, 2), lossy.meanS / clean.meanS, QString(), false });
    printRow({ tag + QStringLiteral(": longest search, s / pause + default window"),
        number(lossy.maxS, 2), number(designedSearchS, 2), lossy.maxS / designedSearchS,
        QStringLiteral("<= 1.1"), lossy.maxS / designedSearchS <= 1.1 });
    return true;
}

// A camera that restarts for restartMs after a successful update and comes
// back on the new version.
QStringList restarting()
{
    return QStringList { QStringLiteral("--camera"), QStringLiteral("fw=") + oldVersion,
        QStringLiteral("--restart-ms"), QString::number(restartMs), QStringLiteral("--installs"),
        newVersion }
    + LabCameras::updating();
}

qint64 timeOf(const QJsonObject &event)
{
    return event.value(QLatin1String("t")).toVariant().toLongLong();
}

struct ProbeWindow
{
    bool agreed = false;
    int probes = 0;
    double seconds = 0;
    double meanGapMs = 0;
};

// The probe rounds of one run from the first camera's verifying to the last
// camera's final, from the cameras' logs alone. Each simulator times its log
// from its own start; the probes tie the clocks together, since every camera
// on the network logs every round and the run's first round, the search's,
// is one instant to them all. A camera starts verifying as its simulator logs
// "restart", its final report just sent. The last final follows the run's
// last round: the program probes only while a camera is awaited.
ProbeWindow probesWhileAwaited(const QList<LabCamera *> &fleet, const QVector<int> &probesBefore)
{
    ProbeWindow window;
    QList<QJsonObject> reference;
    qint64 startMs = std::numeric_limits<qint64>::max();
    for (int n = 0; n < fleet.size(); ++n) {
        const QList<QJsonObject> probes
            = fleet.at(n)->events(QStringLiteral("probe")).mid(probesBefore.at(n));
        const QList<QJsonObject> restarts = fleet.at(n)->events(QStringLiteral("restart"));
        if (n == 0)
            reference = probes;
        if (probes.isEmpty() || restarts.isEmpty() || probes.size() != reference.size()) {
            note(QStringLiteral("fleet: camera %1 logged %2 probes and %3 restarts, camera 1 %4 "
                                "probes")
                     .arg(fleet.at(n)->index())
                     .arg(probes.size())
                     .arg(restarts.size())
                     .arg(reference.size()));
            return window;
        }
        const qint64 offsetMs = timeOf(reference.constFirst()) - timeOf(probes.constFirst());
        startMs = qMin(startMs, timeOf(restarts.constLast()) + offsetMs);
    }
    QList<qint64> counted;
    for (const QJsonObject &probe : reference) {
        if (timeOf(probe) > startMs)
            counted.append(timeOf(probe));
    }
    window.agreed = true;
    window.probes = counted.size();
    window.seconds = (timeOf(reference.constLast()) - startMs) / 1000.0;
    if (counted.size() > 1)
        window.meanGapMs
            = double(counted.constLast() - counted.constFirst()) / (counted.size() - 1);
    return window;
}

// The update proven on each camera: the cameras restart side by side, and
// while they are away one round of probes a second asks for them all.
bool updateAndVerify(LabCameras &cameras, const QString &image)
{
    QList<LabCamera *> fleet = startCameras(cameras, 1, fleetSize, restarting());
    if (fleet.isEmpty())
        return false;
    const QStringList verify { QStringLiteral("--fw-version"), newVersion,
        QStringLiteral("--verify-timeout"), QString::number(verifyTimeoutS) };
    const Outcome one = update(fleet.mid(0, 1), image, verify);
    // Back on the new version the camera would be skipped; a new one stands
    // in for it.
    cameras.remove(fleet.constFirst());
    fleet.first() = cameras.start(1, restarting());
    if (!fleet.constFirst()->isRunning())
        return false;
    QVector<int> probesBefore;
    for (const LabCamera *camera : fleet)
        probesBefore.append(camera->events(QStringLiteral("probe")).size());
    const Outcome all = update(fleet, image, verify);
    const bool verified = one.verified == 1 && all.verified == fleetSize;
    const double ratio = all.seconds / one.seconds;
    printRow({ QStringLiteral("ordelctl update and verify, %1 cameras side by side, each "
                              "restarting for %2 s, s / one camera the same way")
                   .arg(fleetSize)
                   .arg(restartMs / 1000),
        number(all.seconds, 2), number(one.seconds, 2), ratio,
        QStringLiteral("<= 1.05, all verified"), verified && ratio <= 1.05 });

    const ProbeWindow window = probesWhileAwaited(fleet, probesBefore);
    note(QStringLiteral("fleet: %1 probe rounds in the %2 s from the first camera verifying to "
                        "the last verified, %3 ms apart on average")
             .arg(window.probes)
             .arg(number(window.seconds, 2), number(window.meanGapMs, 0)));
    // A window of s seconds holds s + 1 rounds at one a second when both its
    // ends fall on a round.
    const double rate = window.probes / (window.seconds + 1);
    printRow({ QStringLiteral("probes while %1 cameras wait to be verified, per second per "
                              "network / 1 a second")
                   .arg(fleetSize),
        number(rate, 2), QStringLiteral("1"), rate, QStringLiteral("<= 1.0, as probes / (s + 1)"),
        window.agreed && rate <= 1.0 });
    return one.ok && all.ok && verified && window.agreed;
}

void printMemory(
    const QString &figure, double aboveMiB, double floorMiB, const QString &target, double limit)
{
    printRow({ figure, number(aboveMiB, 2), number(floorMiB, 2), aboveMiB / floorMiB, target,
        aboveMiB / floorMiB <= limit });
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication application(argc, argv);
    const qint64 imageBytes = (argc > 1 ? QByteArray(argv[1]).toLongLong() : 8) * mib;
    const double imageMiB = double(imageBytes) / mib;
    const double chunkMiB = double(Protocol::imageChunkSize) / mib;
    if (qEnvironmentVariableIntValue("LAB_CAMERAS") < fleetSize) {
        note(QStringLiteral("fleet: needs a lab of %1 cameras").arg(fleetSize));
        return 1;
    }
    QTemporaryDir directory;
    const QString image = directory.filePath(QStringLiteral("fleet.bin"));
    const QString tiny = directory.filePath(QStringLiteral("tiny.bin"));
    const QString verifiedImage = directory.filePath(QStringLiteral("verified.bin"));
    QString error;
    if (!directory.isValid() || !writeRandomFile(image, imageBytes, &error)
        || !writeRandomFile(tiny, tinyImageBytes, &error)
        || !writeRandomFile(verifiedImage, verifiedImageBytes, &error)) {
        note(QStringLiteral("fleet: cannot write the images: ") + error);
        return 1;
    }
    if (!searchCrowd())
        return 1;

    LabCameras cameras;
    const QList<LabCamera *> fleet = startCameras(cameras, 1, fleetSize);
    if (fleet.isEmpty() || !searchOverLossyLink(fleet))
        return 1;
    // The single camera's log is left out of the chunk gaps below.
    const QList<LabCamera *> single = fleet.mid(0, 1);
    const Outcome one = update(single, image);
    const Outcome forty = update(fleet, image);
    const double gapMs = longestChunkGapMs(fleet.mid(1));
    const Outcome ten = update(fleet.mid(1, middleFleet), image);
    const Outcome oneIdle = update(single, tiny);
    const Outcome fortyIdle = update(fleet, tiny);
    // The same forty without the journal: what writing it costs a run.
    const Outcome fortyUnjournalled = update(fleet, image, { QStringLiteral("--no-journal") });
    if (!one.ok || !forty.ok || !ten.ok || !oneIdle.ok || !fortyIdle.ok || !fortyUnjournalled.ok)
        return 1;
    const double journalRatio = forty.seconds / fortyUnjournalled.seconds;
    printRow({ QStringLiteral("ordelctl update %1 MiB, %2 cameras: with the journal, s / with "
                              "--no-journal")
                   .arg(imageMiB, 0, 'f', 0)
                   .arg(fleetSize),
        number(forty.seconds, 2), number(fortyUnjournalled.seconds, 2), journalRatio,
        QStringLiteral("<= 1.02"), journalRatio <= 1.02 });

    const QString tag = QStringLiteral("ordelctl update %1 MiB").arg(imageMiB, 0, 'f', 0);
    for (const auto &[count, outcome] :
        { qMakePair(middleFleet, ten), qMakePair(fleetSize, forty) }) {
        const double ratio = outcome.seconds / one.seconds;
        printRow({ tag + QStringLiteral(": %1 cameras side by side, s / one camera").arg(count),
            number(outcome.seconds, 2), number(one.seconds, 2), ratio, QStringLiteral("<= 1.05"),
            ratio <= 1.05 });
    }
    printRow({ tag
            + QStringLiteral(": longest gap between chunks at %1 cameras in flight, ms / "
                             "chunk pause")
                  .arg(fleetSize),
        number(gapMs, 0), number(chunkPauseMs, 0), gapMs / chunkPauseMs,
        QStringLiteral("<= 1.2 (0.6 s)"), gapMs / chunkPauseMs <= 1.2 });
    const double oneAbove = double(one.peakKiB - oneIdle.peakKiB) / kib;
    const double fortyAbove = double(forty.peakKiB - fortyIdle.peakKiB) / kib;
    printMemory(tag + QStringLiteral(": peak RSS above a tiny image's, one camera, MiB / image"),
        oneAbove, imageMiB, QStringLiteral("<= image + one chunk"),
        (imageMiB + chunkMiB) / imageMiB);
    printMemory(tag
            + QStringLiteral(": peak RSS above a tiny image's, %1 cameras, MiB / one camera's")
                  .arg(fleetSize),
        fortyAbove, oneAbove, QStringLiteral("<= 1.1, not more"), 1.1);

    // Cameras slower than the pacing: each holds its chunk back.
    cameras.clear();
    const QList<LabCamera *> slow = startCameras(cameras, 1, middleFleet,
        LabCameras::updating({ QStringLiteral("slow=%1").arg(slowBytesPerSecond) }));
    if (slow.isEmpty())
        return 1;
    const Outcome slowRun = update(slow, image);
    const Outcome slowIdle = update(slow, tiny);
    if (!slowRun.ok || !slowIdle.ok)
        return 1;
    const double slowAbove = double(slowRun.peakKiB - slowIdle.peakKiB) / kib;
    printMemory(tag
            + QStringLiteral(": peak RSS above a tiny image's, %1 cameras at %2 KiB/s, MiB / "
                             "image + a chunk each")
                  .arg(middleFleet)
                  .arg(slowBytesPerSecond / kib),
        slowAbove, imageMiB + middleFleet * chunkMiB, QStringLiteral("<= 1.0"), 1.0);

    cameras.clear();
    return updateAndVerify(cameras, verifiedImage) ? 0 : 1;
}
