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

// Runs round the given number of times, measuring once the warm-up rounds
// have run and again at the end.
template <typename Round> void soak(const char *what, int rounds, int warmUp, Round round)
{
    Figures warm;
    for (int n = 1; n <= rounds; ++n) {
        round();
        if (QTest::currentTestFailed())
            return;
        if (n == warmUp)
            warm = measure();
    }
    const Figures end = measure();
    QVERIFY(warm.residentKiB > 0 && warm.descriptors > 0);
    QVERIFY2(end.residentKiB - warm.residentKiB <= residentToleranceKiB,
        qPrintable(QString("%1 %2: resident %3 KiB after the warm-up, %4 KiB at the end, up to %5 "
                           "KiB more allowed")
                       .arg(rounds)
                       .arg(what)
                       .arg(warm.residentKiB)
                       .arg(end.residentKiB)
                       .arg(residentToleranceKiB)));
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
    const int crowdSize = 100;
    const int searchTimeoutMs = 10000;
    QVERIFY(cameras.start(1, { "--generate", QString::number(crowdSize) })->isRunning());
    QVERIFY(cameras.start(2, { "--camera", "ip=10.0.0.2" })->isRunning());
    QVERIFY(cameras.start(3, { "--camera", "ip=10.0.0.3" })->isRunning());
    MainWindow window;
    window.show();
    soak("searches", 100, 5, [&] {
        QVERIFY(SearchDriver::search(&window, searchTimeoutMs));
        QCOMPARE(SearchDriver::model(&window)->rowCount(), crowdSize + 2);
    });
}

// Each update runs in a window of its own, closed afterwards, so the window,
// its broker connection and its image connection come and go each time.
void TestSoak::updatesKeepMemoryAndDescriptors()
{
    LabCamera *camera = cameras.start(1, LabCameras::updating());
    soak("updates", 20, 2, [camera] {
        const QByteArray image = randomBytes(64 * 1024);
        QPointer<Form> form = openWindow(camera, imageFile("soak.bin", image));
        QVERIFY(form);
        UPDATE_STEP(start(form));
        UPDATE_STEP(verifySucceeded(form));
        UPDATE_STEP(verifyImageArrived(camera, image));
        form->close();
        QTRY_VERIFY(form.isNull());
    });
}

QTEST_MAIN(TestSoak)
#include "tst_soak.moc"
