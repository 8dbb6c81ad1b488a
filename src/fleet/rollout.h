#ifndef ROLLOUT_H
#define ROLLOUT_H

#include "cameraresult.h"
#include "journal.h"

#include <QList>
#include <QObject>
#include <QString>

class CameraJob;
class FleetRun;
class ImageSnapshot;
class ReturnWatch;
class SearchSocket;
class UpdatePlan;

// One image to the planned cameras, side by side, as any front end runs it:
// the run and every camera in the journal before any is touched, each camera
// claimed there just before it starts so that no two runs of any program
// update it at once, each result committed there before it is told, and a
// journal that fails starting no further camera. Without a journal open the
// cameras run all the same.
class Rollout : public QObject
{
    Q_OBJECT
public:
    // How long a camera may take to give its final report, and to come back
    // on the new version after its restart: flashing takes minutes.
    static constexpr int reportTimeoutS = 600;
    static constexpr int verifyTimeoutS = 300;

    struct Settings
    {
        int parallel = 16;
        int canaries = 0;
        int maxFailures = 0;
        // The version the image installs; empty for no verification.
        QString fwVersion;
        int reportTimeoutMs = reportTimeoutS * 1000;
        int verifyTimeoutMs = verifyTimeoutS * 1000;
    };

    // journal may be null or closed. The image and the socket, which the
    // verification probes go out of, outlive the rollout.
    Rollout(Journal *journal, const ImageSnapshot *image, SearchSocket *socket,
        QObject *parent = nullptr);

    // row names the command and its arguments. False, saying why, when the
    // journal cannot take the run: nothing is sent then.
    bool Start(const UpdatePlan &plan, const Settings &settings, Journal::Run row, QString *error);
    // No further camera starts; those in flight finish.
    void StopStarting(const QString &reason);
    FleetRun *Run() const { return run; }
    // How many cameras run at once: fewer than asked when the process may
    // not open enough files.
    int AtOnce() const { return atOnce; }
    bool JournalHealthy() const { return !journalBroken; }

signals:
    void jobStarted(CameraJob *job);
    // A camera's final result, once the journal has it.
    void resultReady(const CameraResult &result);
    // The journal could not be written: no further camera starts.
    void journalFailed(const QString &error);
    void repliesDropped(int dropped);
    void finished();

private:
    bool BeginJournalRun(const UpdatePlan &plan, Journal::Run row, QString *error);
    CameraJob *NewJob(const QString &ip, const UpdatePlan &plan);
    QString Admit(CameraJob *job);
    void JobFinished(const CameraResult &result);
    void JournalFailed();
    void End();

    Journal *journal;
    const ImageSnapshot *image;
    SearchSocket *socket;
    Settings settings;
    FleetRun *run = nullptr;
    ReturnWatch *returnWatch = nullptr;
    qint64 runId = 0;
    int atOnce = 0;
    bool journalBroken = false;
};

#endif // ROLLOUT_H
