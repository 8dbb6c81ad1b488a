#ifndef ROLLOUT_H
#define ROLLOUT_H

#include "cameraresult.h"
#include "journal.h"
#include "runoptions.h"

#include <QHash>
#include <QList>
#include <QObject>
#include <QString>

class CameraJob;
class CameraUpdate;
class FleetRun;
class ImageSnapshot;
class ReturnWatch;
class SearchSocket;
class UpdatePlan;

// One run of a front end as the journal keeps it: the run and every camera in
// the journal before any is touched, each camera claimed there just before it
// starts so that no two runs of any program update it at once, each result
// committed there before anyone else hears of it, and a journal that fails
// starting no further camera. Without a journal the cameras run all the same.
// Start() is the whole of an update; a front end with more kinds of run uses
// the steps it is made of.
class Rollout : public QObject
{
    Q_OBJECT
public:
    struct Settings
    {
        int parallel = RunOptions::parallelLimits.byDefault;
        int canaries = 0;
        int maxFailures = 0;
        // The version the image installs; empty for no verification.
        QString fwVersion;
        int reportTimeoutMs = RunOptions::reportTimeoutLimits.byDefault * 1000;
        int verifyTimeoutMs = RunOptions::verifyTimeoutLimits.byDefault * 1000;
    };

    // journal may be null or closed.
    explicit Rollout(Journal *journal, QObject *parent = nullptr);

    // The image to the plan's targets: row names the command and its
    // arguments. The image and the socket, which the verification probes go
    // out of, outlive the rollout. False, saying why, when the journal cannot
    // take the run: nothing is sent then.
    bool Start(const UpdatePlan &plan, const ImageSnapshot *image, SearchSocket *socket,
        const Settings &settings, Journal::Run row, QString *error);
    // No further camera starts; those in flight finish.
    void StopStarting(const QString &reason);
    FleetRun *Run() const { return run; }

    // The steps: the run's row with the plan's targets and the results known
    // already; or a run already there, continued: unfinished, its cameras
    // without a result, and untouched, the results the resume knows before
    // anything is sent, recorded in their rows. False, saying why, when the
    // journal cannot take them.
    bool Begin(const Journal::Run &row, const UpdatePlan &plan,
        const QList<CameraResult> &untouched, QString *error);
    bool Continue(qint64 runId, const QList<Journal::CameraRow> &unfinished,
        const QList<CameraResult> &untouched, QString *error);
    // The cameras run left without a result, as the resume's search found
    // them: those to plan again go to toPlan, and those that must not be sent
    // the image blindly are failed here. Each one the run claimed may have
    // been updated: with verifying (the version to verify known) it is
    // planned again only when the search found it, which skips it if it runs
    // the version; without, it is failed.
    static QList<CameraResult> Unsendable(qint64 run, const QList<Journal::CameraRow> &unfinished,
        bool verifying, const QList<CameraRecord> &found, QList<CameraRecord> *toPlan);
    qint64 RunId() const { return runId; }
    // Before anyone else follows the run.
    void Guard(FleetRun *run);
    static CameraUpdate *NewUpdate(const QString &ip, const ImageSnapshot *image,
        const UpdatePlan &plan, const Settings &settings, ReturnWatch *watch);
    bool JournalHealthy() const { return !journalBroken; }
    // The run's end in the journal, once its cameras have all ended.
    void Close();

signals:
    void jobStarted(CameraJob *job);
    // A camera's final result, once the journal has it.
    void resultReady(const CameraResult &result);
    // The journal could not be written: no further camera starts.
    void journalFailed(const QString &error);
    // Before resultReady: the journal does not have this result.
    void resultUnrecorded(const CameraResult &result, const QString &error);
    void repliesDropped(int dropped);
    void finished();

private:
    QString Admit(CameraJob *job);
    void Record(CameraJob *job, const CameraResult &result);
    // The row of a camera of the run: the one planned with its MAC, or,
    // for one planned without, at its address.
    qint64 KeyOf(const QString &ip, const QString &mac) const;
    void JournalFailed();
    void End();

    Journal *journal;
    FleetRun *run = nullptr;
    qint64 runId = 0;
    // The rows of the cameras without a result, by MAC and by address.
    QHash<QString, qint64> keysByMac;
    QHash<QString, qint64> keysByAddress;
    bool journalBroken = false;
};

#endif // ROLLOUT_H
