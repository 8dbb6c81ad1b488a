#include "rollout.h"

#include "camerajob.h"
#include "cameraupdate.h"
#include "descriptorbudget.h"
#include "fleetrun.h"
#include "imagesnapshot.h"
#include "returnwatch.h"
#include "updateplan.h"

#include <QFileInfo>

Rollout::Rollout(Journal *journal, QObject *parent)
    : QObject(parent)
    , journal(journal && journal->IsOpen() ? journal : nullptr)
{
}

bool Rollout::Start(const UpdatePlan &plan, const ImageSnapshot *image, SearchSocket *socket,
    const Settings &settings, Journal::Run row, QString *error)
{
    row.imagePath = QFileInfo(image->Path()).absoluteFilePath();
    row.imageSize = image->Size();
    row.imageMd5 = QString::fromLatin1(image->Md5Hex());
    row.fwVersion = settings.fwVersion;
    if (!Begin(row, plan, plan.Untouched(), error))
        return false;
    const int wanted = qMax(1, qMin(settings.parallel, int(plan.Targets().size())));
    run = new FleetRun(DescriptorBudget::CamerasAtOnce(wanted, wanted), plan.Canaries(), this);
    run->SetMaxFailures(settings.maxFailures);
    ReturnWatch *watch = nullptr;
    if (!settings.fwVersion.isEmpty()) {
        watch = new ReturnWatch(socket, this);
        connect(watch, &ReturnWatch::repliesDropped, this, &Rollout::repliesDropped);
    }
    for (const QString &ip : plan.Targets())
        run->Add(NewUpdate(ip, image, plan, settings, watch));
    Guard(run);
    connect(run, &FleetRun::jobStarted, this, &Rollout::jobStarted);
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
bool Rollout::Begin(const Journal::Run &row, const UpdatePlan &plan,
    const QList<CameraResult> &untouched, QString *error)
{
    if (!journal)
        return true;
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
    const int targets = cameras.size();
    for (const CameraResult &result : untouched) {
        Journal::CameraRow camera;
        camera.ip = result.ip;
        camera.mac = result.mac;
        camera.type = result.type;
        camera.result = CameraResult::OutcomeName(result.outcome);
        camera.message = result.message;
        cameras.append(camera);
    }
    // A resume keeps it, as a retry keeps the type its file names.
    Journal::Run recorded = row;
    recorded.typeRule = plan.TypeRule();
    QList<qint64> keys;
    runId = journal->BeginRun(recorded, cameras, &keys);
    if (runId == 0) {
        *error = journal->Error();
        return false;
    }
    for (int index = 0; index < targets; ++index) {
        Journal::CameraRow &camera = cameras[index];
        camera.key = keys.at(index);
    }
    Continue(runId, cameras.mid(0, targets), {}, error);
    return true;
}

bool Rollout::Continue(qint64 id, const QList<Journal::CameraRow> &unfinished,
    const QList<CameraResult> &untouched, QString *error)
{
    runId = id;
    // By address, a camera planned without a MAC before one planned with
    // it: a command's job knows no MAC at all.
    for (const Journal::CameraRow &camera : unfinished) {
        if (camera.mac.isEmpty())
            keysByAddress.insert(camera.ip, camera.key);
        else
            keysByMac.insert(camera.mac.toUpper(), camera.key);
    }
    for (const Journal::CameraRow &camera : unfinished) {
        if (!keysByAddress.contains(camera.ip))
            keysByAddress.insert(camera.ip, camera.key);
    }
    if (!journal)
        return true;
    for (const CameraResult &result : untouched) {
        if (!journal->Finish(runId, KeyOf(result.ip, result.mac), result)) {
            *error = journal->Error();
            return false;
        }
    }
    return true;
}

qint64 Rollout::KeyOf(const QString &ip, const QString &mac) const
{
    const qint64 byMac = mac.isEmpty() ? 0 : keysByMac.value(mac.toUpper());
    return byMac != 0 ? byMac : keysByAddress.value(ip);
}

QList<CameraResult> Rollout::Unsendable(qint64 run, const QList<Journal::CameraRow> &unfinished,
    bool verifying, const QList<CameraRecord> &found, QList<CameraRecord> *toPlan)
{
    QList<CameraResult> failed;
    for (const Journal::CameraRow &camera : unfinished) {
        bool answered = false;
        for (const CameraRecord &record : found) {
            answered = answered
                || (camera.mac.isEmpty()
                        ? record.ip == camera.ip
                        : record.mac.compare(camera.mac, Qt::CaseInsensitive) == 0);
        }
        // Its version alone tells whether the image went in; without one to
        // verify, or without an answer, only the operator can tell.
        if (camera.claimed && (!verifying || !answered)) {
            failed.append({ camera.ip, CameraResult::Outcome::Failed,
                QStringLiteral("run %1 may have updated it; check it, then update it by name")
                    .arg(run),
                0, false, camera.mac, camera.type });
            continue;
        }
        CameraRecord again;
        again.ip = camera.ip;
        again.mac = camera.mac;
        again.type = camera.type;
        toPlan->append(again);
    }
    return failed;
}

void Rollout::Guard(FleetRun *guarded)
{
    run = guarded;
    if (journal && runId != 0) {
        // Keyed while each job is still where the plan put it.
        for (CameraJob *job : run->Jobs())
            job->SetJournalKey(KeyOf(job->Ip(), job->Mac()));
        run->SetAdmission([this](CameraJob *job) { return Admit(job); });
    }
    connect(run, &FleetRun::jobFinished, this,
        [this](CameraJob *job, const CameraResult &result) { Record(job, result); });
}

CameraUpdate *Rollout::NewUpdate(const QString &ip, const ImageSnapshot *image,
    const UpdatePlan &plan, const Settings &settings, ReturnWatch *watch)
{
    auto *update = new CameraUpdate(ip, image, settings.reportTimeoutMs);
    // A camera the search did not find has no MAC, and cannot be verified:
    // its update says so.
    const CameraRecord *found = plan.Found(ip);
    if (found)
        update->SetIdentity(found->mac, found->type);
    if (watch)
        update->SetVerification({ watch, settings.fwVersion, found ? found->fw : QString(),
            settings.verifyTimeoutMs, found && plan.MacIdentifies(found->mac) });
    return update;
}

// Two runs, of two operators or of the window and a script, never update one
// camera at the same time.
QString Rollout::Admit(CameraJob *job)
{
    if (job->JournalKey() == 0)
        return QStringLiteral("not started: it has no row of run %1 in the journal").arg(runId);
    const QString busy = journal->Claim(runId, job->JournalKey(), job->Ip(), job->Mac());
    if (!journal->Healthy()) {
        JournalFailed();
        return QStringLiteral("not started: the journal could not be written");
    }
    return busy;
}

// Before the result is told: nothing shown is missing from the journal.
void Rollout::Record(CameraJob *job, const CameraResult &result)
{
    if (journal && runId != 0 && !journal->Finish(runId, job->JournalKey(), result)) {
        emit resultUnrecorded(result, journal->Error());
        JournalFailed();
    }
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

// A run that could not record every result stays open: resume takes up
// its cameras by their rows, not by how the run ended.
void Rollout::Close()
{
    if (journal && runId != 0 && !journalBroken)
        journal->EndRun(runId);
}

void Rollout::End()
{
    Close();
    emit finished();
}
