#include "fleetwindow.h"
#include "journal.h"
#include "labcamera.h"
#include "labcameras.h"
#include "modalanswerer.h"
#include "ordelctlrun.h"
#include "updatedriver.h"

#include <QAction>
#include <QSpinBox>
#include <QTableView>
#include <QTemporaryDir>
#include <QtTest>

namespace {

const char oldVersion[] = "V1.0";
const char newVersion[] = "V2.0";
// Past the five seconds of silence that tell a restart from a camera that
// ignored its update.
const char restartMs[] = "6500";
constexpr int searchTimeoutMs = 10000;
constexpr int runTimeoutMs = 40000;

} // namespace

// The fleet window against four cameras of one type: the third already on the
// new version, the fourth coming back from its restart on the old one.
class TestFleetWindow : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanup();

    void updatesTheOutdatedSideBySide();

private:
    void trigger(const char *action);
    void search();
    void update(int cameraCount, int atOnce, bool stopAtOnce);
    QString stateOf(const LabCamera *camera, int column = FleetModel::StateColumn) const;
    QString states() const;

    LabCameras cameras;
    QTemporaryDir directory;
    QString imagePath;
    FleetWindow *window = nullptr;
};

void TestFleetWindow::initTestCase()
{
    QVERIFY(qEnvironmentVariableIntValue("LAB_CAMERAS") >= 4);
    QVERIFY(directory.isValid());
    QStandardPaths::setTestModeEnabled(true);
    imagePath = UpdateDriver::imageFile(
        "fw-2.0.bin", UpdateDriver::randomBytes(UpdateDriver::mib / 2 + 123));
}

void TestFleetWindow::cleanup()
{
    window = nullptr;
    cameras.clear();
}

void TestFleetWindow::updatesTheOutdatedSideBySide()
{
    for (int index = 1; index <= 4; ++index) {
        const QString identity
            = QString("type=IPC-D240,fw=%1").arg(index == 3 ? newVersion : oldVersion);
        LabCamera *camera = cameras.start(index,
            QStringList {
                "--camera", identity, "--restart-ms", restartMs, "--installs", newVersion }
                + LabCameras::updating(
                    index == 4 ? QStringList { "back-on-old" } : QStringList {}));
        QVERIFY2(camera->isRunning(), qPrintable(camera->errorString()));
    }
    const QString journalPath = directory.filePath("journal.sqlite");
    FleetWindow fleet;
    window = &fleet;
    fleet.SetJournalPath(journalPath);
    fleet.SetTargetVersion(newVersion);
    QSignalSpy imageRead(&fleet, &FleetWindow::imageRead);
    fleet.SetImagePath(imagePath);
    fleet.show();
    QVERIFY(imageRead.wait(5000));
    search();
    QVERIFY(!QTest::currentTestFailed());
    QCOMPARE(fleet.Model()->rowCount(), 4);

    trigger("actionSelectOutdated");
    trigger("actionCheck");
    const LabCamera *current = cameras.all().at(2);
    for (const LabCamera *camera : cameras.all()) {
        QCOMPARE(stateOf(camera), camera == current ? QString() : QString("will update"));
        QVERIFY2(OrdelctlRun::onlySearched(camera), qPrintable(camera->address()));
    }

    // One at a time, stopped at once: the first by address finishes, the
    // others never start.
    update(3, 1, true);
    QVERIFY(!QTest::currentTestFailed());
    int notStarted = 0;
    for (const LabCamera *camera : cameras.all()) {
        if (stateOf(camera) != "not started: stopped by the operator")
            continue;
        ++notStarted;
        // Sent no update, so it has none to show.
        QCOMPARE(stateOf(camera, FleetModel::LastUpdateColumn), QString());
    }
    QCOMPARE(notStarted, 2);

    search();
    trigger("actionSelectOutdated");
    update(2, 16, false);
    QVERIFY(!QTest::currentTestFailed());
    for (const LabCamera *camera : cameras.all()) {
        const QString expected = camera->index() == 4
            ? QString("failed: came back on %1, not %2").arg(oldVersion, newVersion)
            : QString("verified: running %1").arg(newVersion);
        if (camera != current)
            QVERIFY2(stateOf(camera).startsWith(expected), qPrintable(stateOf(camera)));
    }
    trigger("actionRetryFailed");
    QCOMPARE(fleet.Model()->Checked().size(), 1);
    QCOMPARE(fleet.Model()->Checked().at(0).ip, cameras.all().at(3)->address());

    // The command line's history lists both runs.
    Journal journal;
    QVERIFY(journal.Open(journalPath));
    QCOMPARE(journal.Runs().size(), 2);
}

void TestFleetWindow::trigger(const char *action)
{
    QAction *found = window->findChild<QAction *>(QLatin1String(action));
    QVERIFY2(found && found->isEnabled(), action);
    found->trigger();
}

void TestFleetWindow::search()
{
    QSignalSpy finished(window, &FleetWindow::searchFinished);
    trigger("actionSearch");
    QVERIFY(finished.wait(searchTimeoutMs));
}

void TestFleetWindow::update(int cameraCount, int atOnce, bool stopAtOnce)
{
    window->findChild<QSpinBox *>("spinBox_AtOnce")->setValue(atOnce);
    QSignalSpy finished(window, &FleetWindow::runFinished);
    ModalAnswerer answerer;
    answerer.pressButton(QMessageBox::Yes);
    trigger("actionUpdate");
    QAction *stop = window->findChild<QAction *>("actionStop");
    QTRY_VERIFY_WITH_TIMEOUT(stop->isEnabled(), searchTimeoutMs);
    QVERIFY(answerer.allAnswered());
    QCOMPARE(answerer.boxes.size(), 1);
    QVERIFY2(answerer.boxes.at(0).text.contains(QString("%1 cameras").arg(cameraCount)),
        qPrintable(answerer.boxes.at(0).text + QLatin1Char('\n') + states()));
    // At once: the first camera is in flight, the others wait their turn.
    if (stopAtOnce)
        trigger("actionStop");
    QVERIFY(finished.wait(runTimeoutMs));
    QCOMPARE(answerer.unexpectedBoxes, 0);
}

QString TestFleetWindow::stateOf(const LabCamera *camera, int column) const
{
    const FleetModel *model = window->Model();
    for (int row = 0; row < model->rowCount(); ++row) {
        if (model->index(row, FleetModel::IpColumn).data().toString() == camera->address())
            return model->index(row, column).data().toString();
    }
    return QStringLiteral("(no row)");
}

// Every camera's state, to tell why a step went wrong.
QString TestFleetWindow::states() const
{
    QStringList lines;
    for (const LabCamera *camera : cameras.all())
        lines << camera->address() + QStringLiteral(": ") + stateOf(camera);
    return lines.join(QLatin1Char('\n'));
}

QTEST_MAIN(TestFleetWindow)
#include "tst_fleetwindow.moc"
