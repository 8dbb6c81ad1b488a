#include "rollout.h"

#include "cameraupdate.h"
#include "descriptorbudget.h"
#include "fleetrun.h"
#include "imagesnapshot.h"
#include "returnwatch.h"
#include "updateplan.h"

#include <QFileInfo>

Rollout::Rollout(
    Journal *journal, const ImageSnapshot *image, SearchSocket *socket, QObject *parent)
    : QObject(parent)
    , journal(journal && journal->IsOpen() ? journal : nullptr)
    , image(image)
    , socket(socket)
{
}

bool Rollout::Start(
    const UpdatePlan &plan, const Settings &settings, Journal::Run row, QString *error)
{
    this->settings = settings;
    if (!BeginJournalRun(plan, row, error))
        return false;
    const int wanted = qMax(1, qMin(settings.parallel, int(plan.Targets().size())));
    atOnce = DescriptorBudget::CamerasAtOnce(wanted, wanted);
    run = new FleetRun(atOnce, plan.Canaries(), this);
    run->SetMaxFailures(settings.maxFailures);
    if (!settings.fwVersion.isEmpty()) {
        returnWatch = new ReturnWatch(socket, this);
        connect(returnWatch, &ReturnWatch::repliesDropped, this, &Rollout::repliesDropped);
    }
    for (const QString &ip : plan.Targets())
        run->Add(NewJob(ip, plan));
    if (journal)
        run->SetAdmission([this](CameraJob *job) { return Admit(job); });
    connect(run, &FleetRun::jobStarted, this, &Rollout::jobStarted);
    connect(run, &FleetRun::jobFinished, this,
        [this](CameraJob *, const CameraResult &result) { JobFinished(result); });
    connect(run, &FleetRun::finished, this, &Rollout::End);
    run->Start();
    return true;
}

void Rollout::StopStarting(const QString &reason)
{
    if (run)
        run->StopStarting(reason);
}

// The run and its cameras are in the journal before any camera is touched; a
// journal that cannot take them stops the run there.
bool Rollout::BeginJournalRun(const UpdatePlan &plan, Journal::Run row, QString *error)
{
    if (!journal)
        return true;
    row.imagePath = QFileInfo(image->Path()).absoluteFilePath();
    row.imageSize = image->Size();
    row.imageMd5 = QString::fromLatin1(image->Md5Hex());
    row.fwVersion = settings.fwVersion;
    QList<Journal::CameraRow> cameras;
    for (const QString &ip : plan.Targets()) {
        Journal::CameraRow camera;
        camera.ip = ip;
        if (const CameraRecord *found = plan.Found(ip)) {
            camera.mac = found->mac;
            camera.sn = found->sn;
            camera.type = found->type;
            camera.fwBefore = found->fw;
        }
        cameras.append(camera);
    }
    for (const CameraResult &result : plan.Untouched()) {
        Journal::CameraRow camera;
        camera.ip = result.ip;
        camera.mac = result.mac;
        camera.type = result.type;
        camera.result = CameraResult::OutcomeName(result.outcome);
        camera.message = result.message;
        cameras.append(camera);
    }
    runId = journal->BeginRun(row, cameras);
    if (runId == 0)
        *error = journal->Error();
    return runId != 0;
}

CameraJob *Rollout::NewJob(const QString &ip, const UpdatePlan &plan)
{
    auto *update = new CameraUpdate(ip, image, settings.reportTimeoutMs);
    // A camera the search did not find has no MAC, and cannot be verified:
    // its update says so.
    const CameraRecord *found = plan.Found(ip);
    if (found)
        update->SetIdentity(found->mac, found->type);
    if (returnWatch)
        update->SetVerification({ returnWatch, settings.fwVersion, found ? found->fw : QString(),
            settings.verifyTimeoutMs });
    return update;
}

// Two runs, of two operators or of the window and a script, never update one
// camera at the same time.
QString Rollout::Admit(CameraJob *job)
{
    const QString busy = journal->Claim(runId, job->Ip(), job->Mac());
    if (!journal->Healthy()) {
        JournalFailed();
        return QStringLiteral("not started: the journal could not be written");
    }
    return busy;
}

// Before the result is told: nothing shown is missing from the journal.
void Rollout::JobFinished(const CameraResult &result)
{
    if (journal && !journal->Finish(runId, result))
        JournalFailed();
    emit resultReady(result);
}

// A full disk, say: the run starts no further camera, and those in flight
// finish, each result still told.
void Rollout::JournalFailed()
{
    if (journalBroken)
        return;
    journalBroken = true;
    emit journalFailed(journal->Error());
    run->StopStarting(QStringLiteral("the journal could not be written"));
}

void Rollout::End()
{
    if (journal)
        journal->EndRun(runId);
    emit finished();
}
