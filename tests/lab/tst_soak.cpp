#include "form.h"
#include "labcamera.h"
#include "labcameras.h"
#include "mainwindow.h"
#include "processfigures.h"
#include "searchdriver.h"
#include "updatedriver.h"

#include <QStandardItemModel>
#include <QtTest>

using namespace UpdateDriver;

namespace {

// Resident memory moves a little with the allocator's own bookkeeping; a
// leak of one search's rows or one update's buffers a hundred times over
// would not fit.
constexpr qint64 residentToleranceKiB = 2048;

// What the process holds: resident memory in KiB and open descriptors.
struct Figures
{
    qint64 residentKiB = -1;
    int descriptors = -1;
};

Figures measure()
{
    // Objects whose deletion was deferred go first, as the tool's would.
    QTest::qWait(200);
    return { ProcessFigures::residentKiB(), int(ProcessFigures::openDescriptors().size()) };
}

void compareFigures(const char *what, const Figures &warm, const Figures &end)
{
    qInfo("%s: resident %lld KiB after the warm-up, %lld KiB at the end (%+lld KiB, up to "
          "%lld allowed); open descriptors %d, then %d",
        what, warm.residentKiB, end.residentKiB, end.residentKiB - warm.residentKiB,
        residentToleranceKiB, warm.descriptors, end.descriptors);
    QVERIFY(warm.residentKiB > 0 && warm.descriptors > 0);
    QVERIFY2(end.residentKiB - warm.residentKiB <= residentToleranceKiB, what);
    QCOMPARE(end.descriptors, warm.descriptors);
}

} // namespace

// Minutes of ordinary work in one process, against simulated cameras in the
// virtual LAN (tools/lab/lab.sh): once the first rounds have filled Qt's
// caches, memory and descriptors must stay where they are.
class TestSoak : public QObject
{
    Q_OBJECT

private slots:
    void cleanup();

    void searchesKeepMemoryAndDescriptors();
    void updatesKeepMemoryAndDescriptors();

private:
    LabCameras cameras;
};

void TestSoak::cleanup()
{
    closeWindows();
    cameras.clear();
}

// Each search lists a crowd and two single cameras, so rows come and go by
// the hundred.
void TestSoak::searchesKeepMemoryAndDescriptors()
{
    const int searches = 100;
    const int searchWarmUp = 5;
    const int crowdSize = 100;
    const int searchTimeoutMs = 10000;
    QVERIFY(cameras.start(1, { "--generate", QString::number(crowdSize) })->isRunning());
    QVERIFY(cameras.start(2, { "--camera", "ip=10.0.0.2" })->isRunning());
    QVERIFY(cameras.start(3, { "--camera", "ip=10.0.0.3" })->isRunning());
    MainWindow window;
    window.show();

    Figures warm;
    QElapsedTimer clock;
    clock.start();
    for (int search = 1; search <= searches; ++search) {
        QVERIFY(SearchDriver::search(&window, searchTimeoutMs));
        QCOMPARE(SearchDriver::model(&window)->rowCount(), crowdSize + 2);
        if (search == searchWarmUp)
            warm = measure();
    }
    qInfo("%d searches took %lld ms", searches, clock.elapsed());
    compareFigures("searches", warm, measure());
}

// Each update runs in a window of its own, closed afterwards, so the window,
// its broker connection and its image connection come and go each time.
void TestSoak::updatesKeepMemoryAndDescriptors()
{
    const int updates = 20;
    const int updateWarmUp = 2;
    const qint64 imageSize = 64 * 1024;
    LabCamera *camera = cameras.start(1, LabCameras::updating());

    Figures warm;
    QElapsedTimer clock;
    clock.start();
    for (int update = 1; update <= updates; ++update) {
        const QByteArray image = randomBytes(imageSize);
        QPointer<Form> form = openWindow(camera, imageFile("soak.bin", image));
        QVERIFY(form);
        UPDATE_STEP(start(form));
        UPDATE_STEP(verifySucceeded(form));
        UPDATE_STEP(verifyImageArrived(camera, image));
        form->close();
        QTRY_VERIFY(form.isNull());
        if (update == updateWarmUp)
            warm = measure();
    }
    qInfo("%d updates took %lld ms", updates, clock.elapsed());
    compareFigures("updates", warm, measure());
}

QTEST_MAIN(TestSoak)
#include "tst_soak.moc"
