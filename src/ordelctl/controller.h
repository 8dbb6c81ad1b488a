#ifndef CONTROLLER_H
#define CONTROLLER_H

#include "cameraresult.h"
#include "commandline.h"
#include "expectedcameras.h"
#include "imagesnapshot.h"
#include "journal.h"
#include "outputform.h"
#include "searchlisting.h"
#include "searchsocket.h"
#include "updateplan.h"

#include <QObject>
#include <QStringList>

class CameraJob;
class Confirmation;
class RunReport;
class FleetRun;
class FleetSearch;
class JournalListing;
class ProgressDisplay;
class ReturnWatch;
class Rollout;

// One command from the checked command line to its exit code: the search
// where one is needed, the question, the cameras side by side, the summary.
// Each stage is entered from the event loop and hands on by a signal, so
// Ctrl-C is taken in any of them.
class Controller : public QObject
{
    Q_OBJECT
public:
    explicit Controller(const CommandLine &options, QObject *parent = nullptr);

    void Start();
    // SIGINT, SIGTERM or SIGHUP: no new connection is opened, every camera in flight
    // closes what it has open and is reported interrupted.
    void Interrupt(int signalNumber);

signals:
    void done(int exitCode);

private:
    enum class Stage { Idle, Reading, Searching, Confirming, Running, Done };

    bool OpenJournal();
    bool ResumeWouldRun(const QString &path);
    void ListJournal();
    bool ListCameraHistory(const JournalListing &listing);
    bool JournalReadFailed();
    void PrepareResume();
    bool TakeOver();
    void RecordSearch();
    bool BeginJournalRun();
    void JournalFailed(const QString &error);
    void ResultUnrecorded(const CameraResult &result, const QString &error);
    QList<CameraResult> Untouched() const;
    void StartSearch(void (Controller::*then)());
    void TellSearchLosses();
    void TellVerifyLosses(int dropped);
    bool ReadExpected();
    void ListCameras();
    void PrepareCommand();
    void PrepareUpdate();
    void ReadImage();
    void RefuseImage();
    void ImageRead();
    bool ReadRetryFile();
    void UpdateSearched();
    void ShowPlan();
    void Confirm(const QString &question);
    void Confirmed(bool yes);
    void Launch();
    CameraJob *NewJob(const QString &ip);
    void End();
    bool MayChangeCameras();
    void Refuse(const QString &reason);
    void Finish(int exitCode);

    CommandLine options;
    OutputForm form;
    SearchListing listing;
    Stage stage = Stage::Idle;
    ImageSnapshot image;
    // The search's socket, kept for the probes that verify the updates.
    SearchSocket searchSocket;
    ExpectedCameras expected;
    // The cameras given or retried: an address, and a MAC and type where a
    // retried run's output knew them.
    QList<CameraRecord> listed;
    UpdatePlan plan;
    FleetSearch *search = nullptr;
    Confirmation *confirmation = nullptr;
    FleetRun *run = nullptr;
    ReturnWatch *returnWatch = nullptr;
    Rollout *rollout = nullptr;
    ProgressDisplay *display = nullptr;
    RunReport *report = nullptr;
    int interruptingSignal = 0;
    Journal journal;
    // This run's row in the journal; 0 without a journal, or before the run.
    qint64 runId = 0;
    // The row of a resume, beside that of the run it continues.
    qint64 resumeId = 0;
    bool journalFailed = false;
    bool resuming = false;
    QString resumedMd5;
    QStringList resumeArguments;
    // What the operator is told once the resume has taken the run over.
    QString resumeNotice;
    // The resumed run's cameras without a result, as its journal has them.
    QList<Journal::CameraRow> unfinished;
    // Those of them that may have been updated already: failed unsent.
    QList<CameraResult> mayHaveUpdated;
    // The cameras whose result the journal could not take.
    QStringList unrecorded;
    // A resumed run's cameras that had their final result before: not
    // touched again, but part of its output and its exit code.
    QList<CameraResult> earlier;
};

#endif // CONTROLLER_H
