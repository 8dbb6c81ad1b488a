#ifndef CONTROLLER_H
#define CONTROLLER_H

#include "cameraresult.h"
#include "commandline.h"
#include "imagesnapshot.h"
#include "updateplan.h"

#include <QObject>
#include <QStringList>

class CameraJob;
class CameraRecord;
class Confirmation;
class EventStream;
class FleetRun;
class FleetSearch;
class ProgressDisplay;

// One command from the checked command line to its exit code: the search
// where one is needed, the question, the cameras side by side, the summary.
// Each stage is entered from the event loop and hands on by a signal, so
// Ctrl-C is taken in any of them.
class Controller : public QObject
{
    Q_OBJECT
public:
    static constexpr int exitSucceeded = 0;
    static constexpr int exitFailed = 1;
    static constexpr int exitUsage = 2;

    explicit Controller(const CommandLine &options, QObject *parent = nullptr);

    void Start();
    // SIGINT, SIGTERM or SIGHUP: no new connection is opened, every camera in flight
    // closes what it has open and is reported interrupted.
    void Interrupt(int signalNumber);

signals:
    void done(int exitCode);

private:
    enum class Stage { Idle, Reading, Searching, Confirming, Running, Done };

    void StartSearch(void (Controller::*then)());
    void CameraFound(const CameraRecord &camera);
    void TellSearchLosses();
    void ListCameras();
    void PrepareCommand();
    void PrepareUpdate();
    void ReadImage();
    void RefuseImage();
    void ImageRead();
    bool ReadRetryFile();
    void UpdateSearched();
    void Confirm(const QString &question);
    void Confirmed(bool yes);
    void Launch();
    void StartBatch(const QStringList &addresses);
    CameraJob *NewJob(const QString &ip);
    void BatchFinished();
    void HoldBack(CameraResult::Outcome outcome, const QString &reason);
    void End();
    void PrintSummary(const QList<CameraResult> &results);
    bool MayChangeCameras();
    void Refuse(const QString &reason);
    void Finish(int exitCode);

    CommandLine options;
    Stage stage = Stage::Idle;
    ImageSnapshot image;
    // The addresses given or retried; the cameras the current batch holds,
    // and those that follow it.
    QStringList listed;
    QStringList batch;
    QStringList following;
    UpdatePlan plan;
    QList<CameraResult> results;
    FleetSearch *search = nullptr;
    Confirmation *confirmation = nullptr;
    FleetRun *run = nullptr;
    ProgressDisplay *display = nullptr;
    EventStream *events = nullptr;
    int interruptingSignal = 0;
};

#endif // CONTROLLER_H
