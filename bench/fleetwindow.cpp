// The fleet window against simulated cameras: forty cameras updated and
// verified from the window, against ordelctl doing the same in the same run;
// the window's longest event-loop stall while they update, against the idle
// loop's; and a crowd of 5000 cameras listed and sorted. The window is driven
// as an operator would, by its actions, in this process; ordelctl runs as a
// child. Run it through tools/lab/lab.sh run with at least 40 cameras, with
// CAMSIM and ORDELCTL naming the two programs:
//
//   bench_fleetwindow

#include "fleetwindow.h"
#include "benchsupport.h"
#include "labcamera.h"
#include "labcameras.h"
#include "modalanswerer.h"
#include "ordelctlrun.h"

#include <QAbstractItemModel>
#include <QAction>
#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QSignalSpy>
#include <QSpinBox>
#include <QTableView>
#include <QTemporaryDir>

#include <algorithm>

using namespace bench;

namespace {

constexpr int fleetSize = 40;
constexpr int crowdSize = 5000;
constexpr int runTimeoutMs = 300000;
constexpr int imageReadTimeoutMs = 30000;
constexpr qint64 imageBytes = mib;
// Each camera restarts for this long after its update, as in bench_fleet's
// verified run, so that a run is mostly the wait for the cameras to return.
constexpr int restartMs = 10000;
constexpr double stallTargetMs = 50;
constexpr double listTargetMs = 250;
const char oldVersion[] = "V1.0";
const char newVersion[] = "V2.0";

QStringList restarting()
{
    return QStringList { QStringLiteral("--camera"), QStringLiteral("fw=") + oldVersion,
        QStringLiteral("--restart-ms"), QString::number(restartMs), QStringLiteral("--installs"),
        newVersion }
    + LabCameras::updating();
}

QList<LabCamera *> startFleet(LabCameras &cameras)
{
    QList<LabCamera *> fleet;
    for (int index = 1; index <= fleetSize; ++index) {
        LabCamera *camera = cameras.start(index, restarting());
        if (!camera->isRunning())
            return {};
        fleet.append(camera);
    }
    return fleet;
}

template <typename T> T *control(const QWidget &window, const char *name)
{
    T *found = window.findChild<T *>(QLatin1String(name));
    if (!found)
        note(QStringLiteral("fleet window: no control %1").arg(QLatin1String(name)));
    return found;
}

int verifiedIn(const FleetWindow &window)
{
    const QList<CameraResult> results = window.Model()->Results();
    return int(std::count_if(results.cbegin(), results.cend(),
        [](const CameraResult &result) { return result.verified; }));
}

struct Run
{
    bool ok = false;
    double seconds = 0;
    int verified = 0;
    double stallMs = 0;
    double idleMs = 0;
};

// Search, Select Outdated, Update and Yes, as fast as an operator who knew
// the answers: timed from Update to the last camera's result.
Run updateFromWindow(const QString &image)
{
    Run run;
    FleetWindow window;
    QSignalSpy read(&window, SIGNAL(imageRead()));
    window.SetImagePath(image);
    window.SetTargetVersion(QString::fromLatin1(newVersion));
    window.show();
    auto *atOnce = control<QSpinBox>(window, "spinBox_AtOnce");
    auto *search = control<QAction>(window, "actionSearch");
    auto *selectOutdated = control<QAction>(window, "actionSelectOutdated");
    auto *update = control<QAction>(window, "actionUpdate");
    auto *stop = control<QAction>(window, "actionStop");
    if (!atOnce || !search || !selectOutdated || !update || !stop)
        return run;
    atOnce->setValue(fleetSize);
    // The digest is read before the clock starts: an operator chooses the
    // image long before pressing Update.
    if (read.isEmpty() && !read.wait(imageReadTimeoutMs)) {
        note(QStringLiteral("fleet window: the image was not read"));
        return run;
    }
    QSignalSpy searched(&window, SIGNAL(searchFinished()));
    QSignalSpy finished(&window, SIGNAL(runFinished()));
    ModalAnswerer answerer;
    answerer.pressButton(QMessageBox::Yes);
    search->trigger();
    if (!searched.wait(runTimeoutMs)) {
        note(QStringLiteral("fleet window: the search did not end"));
        return run;
    }
    selectOutdated->trigger();
    // Update searches again, as ordelctl does, so both are timed from the
    // press to the last result.
    LoopProbe probe;
    run.idleMs = probe.startIdle();
    const qint64 startNs = nowNs();
    // The cameras update from the Yes on: the search and the question before
    // it are the operator's, not the run's.
    qint64 runNs = 0;
    QObject::connect(stop, &QAction::changed, &window, [&] {
        if (stop->isEnabled() && runNs == 0)
            runNs = nowNs();
    });
    update->trigger();
    if (finished.isEmpty() && !finished.wait(runTimeoutMs)) {
        note(QStringLiteral("fleet window: the run did not end"));
        return run;
    }
    const qint64 endNs = nowNs();
    probe.stop();
    run.seconds = msBetween(startNs, endNs) / 1000;
    run.stallMs = probe.longestGapMs(runNs, endNs);
    run.verified = verifiedIn(window);
    run.ok = answerer.allAnswered() && answerer.unexpectedBoxes == 0;
    note(QStringLiteral("fleet window: %1 cameras in %2 s, %3 verified, longest stall %4 ms "
                        "(idle %5 ms)")
             .arg(fleetSize)
             .arg(number(run.seconds, 2))
             .arg(run.verified)
             .arg(number(run.stallMs, 1), number(run.idleMs, 1)));
    return run;
}

Run updateWithOrdelctl(const QList<LabCamera *> &fleet, const QString &image)
{
    QStringList arguments { QStringLiteral("update"), QStringLiteral("--yes"),
        QStringLiteral("--json"), QStringLiteral("--parallel"), QString::number(fleetSize),
        QStringLiteral("--image"), image, QStringLiteral("--fw-version"),
        QString::fromLatin1(newVersion) };
    for (const LabCamera *camera : fleet)
        arguments.append(camera->address());
    OrdelctlRun ordelctl(arguments);
    Run run;
    if (!ordelctl.run(runTimeoutMs) || ordelctl.exitCode() != 0) {
        note(QStringLiteral("fleet window: ordelctl ended with %1: %2")
                 .arg(ordelctl.exitCode())
                 .arg(ordelctl.errorText().right(2000)));
        return run;
    }
    run.ok = true;
    run.seconds = ordelctl.seconds();
    for (const LabCamera *camera : fleet) {
        if (ordelctl.finalOf(camera->address()).value(QLatin1String("verified")).toBool())
            ++run.verified;
    }
    note(QStringLiteral("fleet window: ordelctl, %1 cameras in %2 s, %3 verified")
             .arg(fleetSize)
             .arg(number(run.seconds, 2))
             .arg(run.verified));
    return run;
}

// One simulator plays the whole crowd. The window lists it as the replies
// come, then the operator sorts it by each column in turn.
bool listCrowd()
{
    LabCameras crowd;
    if (!crowd.start(1, { QStringLiteral("--generate"), QString::number(crowdSize) })->isRunning())
        return false;
    FleetWindow window;
    window.show();
    auto *search = control<QAction>(window, "actionSearch");
    auto *table = control<QTableView>(window, "tableView_Cameras");
    if (!search || !table)
        return false;
    QSignalSpy searched(&window, SIGNAL(searchFinished()));
    LoopProbe probe;
    const double idleMs = probe.startIdle();
    const qint64 searchNs = nowNs();
    search->trigger();
    if (!searched.wait(runTimeoutMs))
        return false;
    const qint64 listedNs = nowNs();
    const int rows = table->model()->rowCount();
    for (int column = 0; column < table->model()->columnCount(); ++column) {
        table->sortByColumn(column, Qt::DescendingOrder);
        QCoreApplication::processEvents();
    }
    const qint64 sortedNs = nowNs();
    probe.stop();
    const double listMs = probe.longestGapMs(searchNs, listedNs);
    // Events run between two sorts: the longest gap is the longest sort.
    const double sortMs = probe.longestGapMs(listedNs, sortedNs);
    note(QStringLiteral("fleet window: %1 rows listed; longest stall %2 ms while listing, "
                        "%3 ms a sort (idle %4 ms)")
             .arg(rows)
             .arg(number(listMs), number(sortMs), number(idleMs)));
    const QString tag = QStringLiteral("fleet window, %1 cameras").arg(crowdSize);
    printRow({ tag + QStringLiteral(": rows listed / cameras"), QString::number(rows),
        QString::number(crowdSize), double(rows) / crowdSize, QStringLiteral("1.0, each once"),
        rows == crowdSize });
    printRow({ tag + QStringLiteral(": longest stall while listing, ms / idle loop's"),
        number(listMs), number(idleMs), listMs / idleMs,
        QStringLiteral("<= %1 ms").arg(listTargetMs), listMs <= listTargetMs });
    printRow({ tag + QStringLiteral(": longest stall of a sort by one column, ms / idle loop's"),
        number(sortMs), number(idleMs), sortMs / idleMs,
        QStringLiteral("<= %1 ms").arg(listTargetMs), sortMs <= listTargetMs });
    return rows == crowdSize;
}

} // namespace

int main(int argc, char *argv[])
{
    QApplication application(argc, argv);
    if (qEnvironmentVariableIntValue("LAB_CAMERAS") < fleetSize) {
        note(QStringLiteral("fleet window: needs a lab of %1 cameras").arg(fleetSize));
        return 1;
    }
    QTemporaryDir directory;
    const QString image = directory.filePath(QStringLiteral("fleet.bin"));
    QString error;
    if (!directory.isValid() || !writeRandomFile(image, imageBytes, &error)) {
        note(QStringLiteral("fleet window: cannot write the image: ") + error);
        return 1;
    }

    Run window;
    Run ordelctl;
    {
        LabCameras cameras;
        if (startFleet(cameras).isEmpty())
            return 1;
        window = updateFromWindow(image);
    }
    {
        // Fresh cameras, on the old version again.
        LabCameras cameras;
        const QList<LabCamera *> fleet = startFleet(cameras);
        if (fleet.isEmpty())
            return 1;
        ordelctl = updateWithOrdelctl(fleet, image);
    }
    if (!window.ok || !ordelctl.ok)
        return 1;
    const bool allVerified = window.verified == fleetSize && ordelctl.verified == fleetSize;
    const double ratio = window.seconds / ordelctl.seconds;
    printRow({ QStringLiteral("fleet window update and verify, %1 cameras side by side, each "
                              "restarting for %2 s, s / ordelctl the same way")
                   .arg(fleetSize)
                   .arg(restartMs / 1000),
        number(window.seconds, 2), number(ordelctl.seconds, 2), ratio,
        QStringLiteral("<= 1.05, all verified"), allVerified && ratio <= 1.05 });
    printRow({ QStringLiteral("fleet window, longest event-loop stall while %1 cameras update, "
                              "ms / idle loop's")
                   .arg(fleetSize),
        number(window.stallMs), number(window.idleMs), window.stallMs / window.idleMs,
        QStringLiteral("<= %1 ms").arg(stallTargetMs), window.stallMs <= stallTargetMs });
    return listCrowd() && allVerified ? 0 : 1;
}
