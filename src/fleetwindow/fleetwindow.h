#ifndef FLEETWINDOW_H
#define FLEETWINDOW_H

#include "expectedcameras.h"
#include "fleetmodel.h"
#include "imagesnapshot.h"
#include "journal.h"
#include "searchsocket.h"

#include <QMainWindow>
#include <QPointer>

#include <memory>

class CameraJob;
class FleetSearch;
class QAction;
class QComboBox;
class QLabel;
class QLineEdit;
class QSortFilterProxyModel;
class QSpinBox;
class QTableView;
class Rollout;
class RunOptions;

// The fleet window: many cameras updated side by side from a desk, through
// the same engine, journal and plan as the command line.
//
// How a driver uses it (a test, a demo, a benchmark):
//   FleetWindow window;
//   window.SetJournalPath(path);        // or QString() for none
//   window.SetImagePath(file);          // imageRead() once digested
//   window.SetTargetVersion("2.9.0");
//   window.show();
//   findChild<QAction *>("actionSearch")->trigger();   // wait for searchFinished()
//   findChild<QAction *>("actionSelectOutdated")->trigger();
//   findChild<QAction *>("actionCheck")->trigger();    // the plan, at once
//   findChild<QAction *>("actionUpdate")->trigger();   // searches, then asks in a
//                                                       // Yes/No QMessageBox; the run
//                                                       // has begun once actionStop is
//                                                       // enabled; wait for runFinished()
//   findChild<QAction *>("actionStop")->trigger();     // during a run
// The other controls: actionImage, actionRetryFailed, actionExport,
// actionExpected; lineEdit_Filter, lineEdit_TargetVersion, comboBox_Type,
// spinBox_AtOnce, spinBox_Canary, spinBox_StopAfter, tableView_Cameras (its
// model a filter over FleetModel), label_Image.
class FleetWindow : public QMainWindow
{
    Q_OBJECT
public:
    explicit FleetWindow(QWidget *parent = nullptr);
    ~FleetWindow() override;

    // Reads and digests the image from the event loop.
    void SetImagePath(const QString &path);
    void SetTargetVersion(const QString &version);
    // The journal to write and read; an empty path for none.
    void SetJournalPath(const QString &path);
    FleetModel *Model() const { return model; }

signals:
    void searchFinished();
    void imageRead();
    void runFinished();

protected:
    void closeEvent(QCloseEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    // What the window is doing; each allows its own controls.
    // Preparing: the search an update starts with.
    enum class Phase { Idle, Reading, Searching, Preparing, Running, Closing };

    void BuildActions();
    void BuildControls();
    void EnterPhase(Phase next);
    void Search();
    void StartSearch(Phase searching);
    void SearchEnded();
    void ChooseImage();
    void ReadImage();
    void ImageFailed();
    void SelectOutdated();
    void Check();
    void Update();
    void Launch();
    bool Ask(const UpdatePlan &plan);
    void JobStarted(CameraJob *job);
    void ResultReady(const CameraResult &result);
    void RunEnded();
    void Stop();
    void RetryFailed();
    void Export();
    void ChooseExpected();
    void ShowMissing();
    bool OpenJournal(QString *error);
    void ShowLastUpdates();
    static QString LastUpdateText(QString when, const QString &result);
    Selection CurrentSelection() const;
    RunOptions CurrentOptions(const UpdatePlan &plan) const;
    void RefreshTypes();
    void Tell(const QString &text);

    Phase phase = Phase::Idle;
    FleetModel *model = nullptr;
    QSortFilterProxyModel *filter = nullptr;
    ImageSnapshot image;
    QString imagePath;
    bool imageReady = false;
    SearchSocket searchSocket;
    // What the last search heard: a row stays when its camera goes silent.
    QList<CameraRecord> found;
    ExpectedCameras expected;
    bool expecting = false;
    std::unique_ptr<Journal> journal;
    QString journalPath;
    bool journalChosen = false;
    QPointer<FleetSearch> search;
    QPointer<Rollout> rollout;
    // The version the running update installs; empty without verification.
    QString runVersion;
    // The result now told is one the journal could not take.
    bool resultUnrecorded = false;

    QAction *actionSearch = nullptr;
    QAction *actionImage = nullptr;
    QAction *actionSelectOutdated = nullptr;
    QAction *actionCheck = nullptr;
    QAction *actionUpdate = nullptr;
    QAction *actionStop = nullptr;
    QAction *actionRetryFailed = nullptr;
    QAction *actionExport = nullptr;
    QAction *actionExpected = nullptr;
    QLineEdit *lineEditFilter = nullptr;
    QLineEdit *lineEditTargetVersion = nullptr;
    QComboBox *comboBoxType = nullptr;
    QSpinBox *spinBoxAtOnce = nullptr;
    QSpinBox *spinBoxCanary = nullptr;
    QSpinBox *spinBoxStopAfter = nullptr;
    QTableView *tableViewCameras = nullptr;
    QLabel *labelImage = nullptr;
};

#endif // FLEETWINDOW_H
