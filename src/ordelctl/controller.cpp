#include "controller.h"

#include "cameracommand.h"
#include "camerarecord.h"
#include "cameraupdate.h"
#include "confirmation.h"
#include "console.h"
#include "descriptorbudget.h"
#include "exitcode.h"
#include "fleetrun.h"
#include "fleetsearch.h"
#include "journallisting.h"
#include "jsonline.h"
#include "planquestion.h"
#include "progressdisplay.h"
#include "protocol.h"
#include "retryfile.h"
#include "returnwatch.h"
#include "rollout.h"
#include "runreport.h"
#include "textformat.h"

#include <QFileInfo>
#include <QTimer>

namespace {

// An image this large takes a noticeable moment to read and digest: the
// operator is told what the program is doing meanwhile.
constexpr qint64 announcedReadBytes = 16 * 1024 * 1024;

} // namespace

Controller::Controller(const CommandLine &options, QObject *parent)
    : QObject(parent)
    , options(options)
    , form(options.json     ? OutputForm::Json
              : options.csv ? OutputForm::Csv
                            : OutputForm::Text)
    , listing(form)
{
}

void Controller::Start()
{
    if (!OpenJournal())
        return;
    switch (options.command) {
    case CommandLine::Command::Search:
        if (ReadExpected())
            StartSearch(&Controller::ListCameras);
        return;
    case CommandLine::Command::Restart:
    case CommandLine::Command::Shutdown:
        PrepareCommand();
        return;
    case CommandLine::Command::Update:
        PrepareUpdate();
        return;
    case CommandLine::Command::History:
    case CommandLine::Command::Inventory:
        ListJournal();
        return;
    case CommandLine::Command::Resume:
        PrepareResume();
        return;
    }
}

// Before anything is searched or sent: a journal that cannot be used stops
// the command, and the file is left as it was.
bool Controller::OpenJournal()
{
    if (options.noJournal)
        return true;
    const QString path
        = options.journalPath.isEmpty() ? Journal::DefaultPath() : options.journalPath;
    const bool reading = options.command == CommandLine::Command::History
        || options.command == CommandLine::Command::Inventory;
    // What only reads the journal, and a resume with nothing to resume, leave
    // no file behind.
    if ((reading || options.command == CommandLine::Command::Resume) && !QFileInfo::exists(path)) {
        if (reading && options.journalPath.isEmpty()) {
            Console::Error(TextFormat::ForTerminal(QStringLiteral("Nothing was recorded yet: "
                                                                  "there is no journal at %1.")
                                                       .arg(path))
                + QLatin1Char('\n'));
            Finish(ExitCode::succeeded);
        } else {
            Refuse(QStringLiteral("there is no journal %1").arg(path));
        }
        return false;
    }
    if (options.command == CommandLine::Command::Resume && !ResumeWouldRun(path))
        return false;
    if (journal.Open(path, reading ? Journal::Access::Read : Journal::Access::Write))
        return true;
    // Only what writes can do without one.
    Refuse(journal.Error()
        + (reading ? QStringLiteral(" (--journal FILE chooses another)")
                   : QStringLiteral(" (--journal FILE chooses another, --no-journal runs "
                                    "without one)")));
    return false;
}

// Decided on the journal as it is: a resume that will not run changes
// nothing in it, not even its mode or schema.
bool Controller::ResumeWouldRun(const QString &path)
{
    Journal reading;
    QString refusal;
    if (!reading.Open(path, Journal::Access::Read))
        refusal = reading.Error();
    else if (!reading.Resumable(options.resumeRun, &refusal) && !reading.ReadError().isEmpty())
        refusal = reading.ReadError();
    if (refusal.isEmpty())
        return true;
    Refuse(refusal);
    return false;
}

void Controller::ListJournal()
{
    JournalListing listing(form);
    if (options.command == CommandLine::Command::Inventory) {
        const QList<Journal::InventoryRow> cameras = journal.Inventory();
        if (JournalReadFailed())
            return;
        listing.Inventory(cameras);
    } else if (options.historyRun > 0) {
        const bool known = journal.FindRun(options.historyRun).has_value();
        if (JournalReadFailed())
            return;
        if (!known) {
            Refuse(QStringLiteral("the journal %1 has no run %2")
                       .arg(journal.Path())
                       .arg(options.historyRun));
            return;
        }
        const QList<Journal::CameraRow> cameras = journal.Cameras(options.historyRun);
        if (JournalReadFailed())
            return;
        listing.Cameras(cameras);
    } else if (!options.historyCamera.isEmpty()) {
        if (!ListCameraHistory(listing))
            return;
    } else {
        const QList<Journal::Run> runs = journal.Runs();
        if (JournalReadFailed())
            return;
        listing.Runs(runs);
    }
    Finish(ExitCode::succeeded);
}

// A MAC that several cameras report, or a placeholder, would mix their
// results into one history: such a camera is named by its address.
bool Controller::ListCameraHistory(const JournalListing &listing)
{
    const QString &camera = options.historyCamera;
    const QStringList sharing = journal.AddressesSharing(camera);
    if (JournalReadFailed())
        return false;
    if (!sharing.isEmpty()) {
        Refuse(QStringLiteral("the MAC %1 names no single camera (the journal has it at %2): "
                              "give --camera the address of the one meant")
                   .arg(camera, sharing.join(QStringLiteral(", "))));
        return false;
    }
    const QList<Journal::CameraRow> history = journal.CameraHistory(camera);
    if (JournalReadFailed())
        return false;
    if (history.isEmpty() && !journal.KnowsCamera(camera)) {
        if (!JournalReadFailed())
            Refuse(QStringLiteral("the journal %1 has no camera %2").arg(journal.Path(), camera));
        return false;
    }
    listing.Cameras(history);
    return true;
}

// Nothing is shown of a journal that could not be read whole, lest a part
// pass for all of it.
bool Controller::JournalReadFailed()
{
    if (journal.ReadError().isEmpty())
        return false;
    Refuse(journal.ReadError());
    return true;
}

// The run is continued as it was asked for, by its own command line, with
// the cameras that had no final result: those in flight when it died and
// those it had not started.
void Controller::PrepareResume()
{
    QString refusal;
    const std::optional<Journal::Run> run = journal.Resumable(options.resumeRun, &refusal);
    if (!run) {
        Refuse(journal.ReadError().isEmpty() ? refusal : journal.ReadError());
        return;
    }
    CommandLine original;
    if (original.Parse(QStringList { QStringLiteral("ordelctl") } + run->arguments)
        != CommandLine::Status::Run) {
        Refuse(QStringLiteral("run %1's command line no longer reads: %2")
                   .arg(run->id)
                   .arg(original.Error()));
        return;
    }
    // The image goes to the type of camera it went to, whatever has answered
    // since; a run recorded without its rule is resumed only with one given.
    QString typeNotice;
    if (original.command == CommandLine::Command::Update) {
        Selection &selection = original.selection;
        if (options.selection.type || options.selection.anyType) {
            selection.type = options.selection.type;
            selection.anyType = options.selection.anyType;
        }
        if (!selection.type && !selection.anyType && !run->typeRule) {
            Refuse(QStringLiteral("run %1 was recorded without the type of camera its image is "
                                  "for: give --type TYPE or --any-type")
                       .arg(run->id));
            return;
        }
        typeNotice = UpdatePlan::KeepEarlierType(&selection, run->typeRule.value_or(QString()));
    }
    resumeArguments = options.RecordedArguments();
    // The resume's own answers: the question, the output's form, the journal.
    original.yes = options.yes;
    original.json = options.json;
    original.csv = false;
    original.journalPath = options.journalPath;
    original.check = false;
    original.resumeRun = run->id;
    options = original;
    options.addresses.clear();
    options.retryPath.clear();
    options.expectPath.clear();
    options.selection.all = false;
    for (const Journal::CameraRow &camera : journal.Cameras(run->id)) {
        if (!camera.result.isEmpty()) {
            CameraResult result;
            result.ip = camera.ip;
            CameraResult::OutcomeFromName(camera.result, &result.outcome);
            result.message = camera.message;
            result.seconds = camera.seconds;
            result.verified = camera.verified;
            result.mac = camera.mac;
            result.type = camera.type;
            earlier.append(result);
            continue;
        }
        unfinished.append(camera);
        options.addresses.append(camera.ip);
    }
    // The canaries have had their say once any camera has a result.
    if (!earlier.isEmpty())
        options.selection.canary = 0;
    resuming = true;
    runId = run->id;
    resumeNotice = QStringLiteral("Resuming run %1 (%2 of %3): %4 to do, %5 done before.")
                       .arg(run->id)
                       .arg(run->command, run->started)
                       .arg(TextFormat::Cameras(unfinished.size()))
                       .arg(earlier.size());
    if (!typeNotice.isEmpty())
        resumeNotice += QLatin1Char('\n') + typeNotice;
    if (options.command == CommandLine::Command::Update) {
        options.imagePath = run->imagePath;
        resumedMd5 = run->imageMd5;
        PrepareUpdate();
    } else if (TakeOver()) {
        PrepareCommand();
    }
}

// Once nothing else can refuse the resume, and before its search or its
// question: a second resume of the run is refused here, naming this one. A
// resume refused before has changed nothing in the journal.
bool Controller::TakeOver()
{
    Journal::Run row;
    row.command = QStringLiteral("resume");
    row.arguments = resumeArguments;
    row.resumes = runId;
    QString refusal;
    resumeId = journal.TakeOver(runId, row, &refusal);
    if (resumeId == 0) {
        Refuse(refusal);
        return false;
    }
    Console::Error(TextFormat::ForTerminal(resumeNotice) + QLatin1Char('\n'));
    return true;
}

void Controller::RecordSearch()
{
    if (journal.IsOpen() && !journal.RecordSearch(search->Cameras()))
        Console::Error(QStringLiteral("ordelctl: warning: %1\n").arg(journal.Error()));
}

void Controller::StartSearch(void (Controller::*then)())
{
    stage = Stage::Searching;
    search = new FleetSearch(options.searchTimeoutMs, &searchSocket, this);
    // Before then, so that an update's plan comes after the warning.
    connect(search, &FleetSearch::finished, this, &Controller::TellSearchLosses);
    connect(search, &FleetSearch::finished, this, then);
    if (options.command == CommandLine::Command::Search) {
        connect(search, &FleetSearch::cameraFound, this,
            [this](const CameraRecord &camera) { listing.Found(camera); });
        listing.Begin();
    }
    QString error;
    // A search that could not hear the cameras must not pass for one that
    // found none: nothing is listed or sent.
    if (!search->Start(&error)) {
        Console::Error(QStringLiteral("ordelctl: cannot search: %1\n").arg(error));
        Finish(ExitCode::usage);
    }
}

// The kernel caps the search's receive buffer silently, and a crowd larger
// than it holds is cut short without a word. A loss is told; so is a crowd
// that came near the limit, with the way to raise it. A small site on a
// stock kernel hears nothing.
void Controller::TellSearchLosses()
{
    // Only the probes that verify updates need the socket after the search.
    if (options.fwVersion.isEmpty() || options.check)
        searchSocket.Close();
    const int lost = search->LostReplies();
    if (lost > 0)
        Console::Error(QStringLiteral("ordelctl: %1 because the search's receive buffer was "
                                      "full: the list may miss cameras\n")
                           .arg(lost == 1 ? QStringLiteral("1 reply was lost")
                                          : QStringLiteral("%1 replies were lost").arg(lost)));
    const int held = searchSocket.RepliesHeld();
    const bool nearTheLimit = search->Cameras().size() + lost >= held / 2;
    if ((lost > 0 || nearTheLimit) && held < SearchSocket::RepliesWanted())
        Console::Error(QStringLiteral("ordelctl: the search's receive buffer holds only about %1 "
                                      "replies, so more cameras may be missed; as root, "
                                      "sysctl -w net.core.rmem_max=%2 makes room for about %3\n")
                           .arg(held)
                           .arg(Protocol::searchReceiveBufferBytes)
                           .arg(SearchSocket::RepliesWanted()));
}

// A camera that the watch did not see may have answered all the same.
void Controller::TellVerifyLosses(int dropped)
{
    const QString text
        = QStringLiteral(
            "%1 while cameras were awaited after their restart, because the search's receive "
            "buffer was full: a camera not seen may have answered")
              .arg(dropped == 1 ? QStringLiteral("1 reply was lost")
                                : QStringLiteral("%1 replies were lost").arg(dropped));
    Console::Error(QStringLiteral("ordelctl: %1\n").arg(text));
    if (form == OutputForm::Json)
        Console::Out(JsonLine()
                         .Add("event", QStringLiteral("warning"))
                         .Add("lost_replies", qint64(dropped))
                         .Add("message", text)
                         .Text());
}

// Before any probe: a file that names no camera is a usage error.
bool Controller::ReadExpected()
{
    if (options.expectPath.isEmpty() || expected.Read(options.expectPath))
        return true;
    Refuse(QStringLiteral("cannot read the expected cameras from %1: %2")
               .arg(options.expectPath, expected.ErrorString()));
    return false;
}

void Controller::ListCameras()
{
    RecordSearch();
    listing.End(search->Cameras());
    const QList<CameraRecord> missing = expected.Missing(search->Cameras());
    if (missing.isEmpty()) {
        Finish(ExitCode::succeeded);
        return;
    }
    listing.Missing(missing, int(expected.Cameras().size()));
    Finish(ExitCode::failed);
}

bool Controller::MayChangeCameras()
{
    if (options.yes || Confirmation::CanAsk())
        return true;
    Refuse(QStringLiteral("without a terminal to ask on, give --yes to go ahead"));
    return false;
}

void Controller::PrepareCommand()
{
    if (!MayChangeCameras())
        return;
    plan.Make(options.selection, options.addresses, {});
    if (plan.Targets().isEmpty()) {
        Launch();
        return;
    }
    const QString verb = options.command == CommandLine::Command::Restart
        ? QStringLiteral("Restart")
        : QStringLiteral("Shut down");
    Confirm(PlanQuestion::ForCommand(verb, plan));
}

void Controller::PrepareUpdate()
{
    // A check changes nothing, so it needs neither a terminal nor --yes.
    if ((!options.check && !MayChangeCameras()) || !ReadExpected())
        return;
    if (!image.Open(options.imagePath)) {
        RefuseImage();
        return;
    }
    stage = Stage::Reading;
    if (image.Size() >= announcedReadBytes)
        Console::Error(
            TextFormat::ForTerminal(QStringLiteral("Reading %1 (%2 MiB) and its MD5 digest...")
                                        .arg(image.Name())
                                        .arg(double(image.Size()) / (1024 * 1024), 0, 'f', 1))
            + QLatin1Char('\n'));
    ReadImage();
}

// A slice at a time from the event loop, so that Ctrl-C is taken at once
// however large the image.
void Controller::ReadImage()
{
    if (stage != Stage::Reading)
        return;
    if (!image.ReadMore()) {
        RefuseImage();
        return;
    }
    if (!image.Complete()) {
        QTimer::singleShot(0, this, &Controller::ReadImage);
        return;
    }
    ImageRead();
}

void Controller::RefuseImage()
{
    Refuse(
        QStringLiteral("cannot use the image %1: %2").arg(options.imagePath, image.ErrorString()));
}

void Controller::ImageRead()
{
    stage = Stage::Idle;
    if (resuming && QString::fromLatin1(image.Md5Hex()) != resumedMd5) {
        Refuse(QStringLiteral("the image %1 is no longer the one run %2 sent: its MD5 is %3, "
                              "not %4")
                   .arg(options.imagePath)
                   .arg(runId)
                   .arg(QString::fromLatin1(image.Md5Hex()), resumedMd5));
        return;
    }
    if (resuming && !TakeOver())
        return;
    // A resume knows its cameras by their MACs already.
    if (!resuming)
        listed = UpdatePlan::AtAddresses(options.addresses);
    if (!options.retryPath.isEmpty() && !ReadRetryFile())
        return;
    // Always a search, also for cameras named by address: the versions to
    // skip are in the cameras' replies, and only the replies show an address
    // that two cameras claim, which must never be sent an image.
    StartSearch(&Controller::UpdateSearched);
}

// The operator gives the image again; its digest shows whether it is the
// one that run sent.
bool Controller::ReadRetryFile()
{
    RetryFile retry;
    if (!retry.Read(options.retryPath)) {
        Refuse(
            QStringLiteral("cannot retry from %1: %2").arg(options.retryPath, retry.ErrorString()));
        return false;
    }
    listed = retry.ToRetry();
    // The image of a retry is the one that run sent, for the type that run
    // sent it to.
    QString typeRule = UpdatePlan::KeepEarlierType(&options.selection, retry.EarlierType());
    if (!typeRule.isEmpty())
        typeRule = TextFormat::ForTerminal(typeRule) + QLatin1Char('\n');
    const QString md5 = QString::fromLatin1(image.Md5Hex());
    const QString earlier = retry.EarlierMd5().isEmpty()
        ? QStringLiteral("that run did not say which image it sent")
        : retry.EarlierMd5() == md5
        ? QStringLiteral("the image that run sent")
        : QStringLiteral("that run sent md5 %1").arg(retry.EarlierMd5());
    Console::Error(
        TextFormat::ForTerminal(QStringLiteral("Retrying %1 of %2 in %3 with %4, md5 %5: %6.")
                                    .arg(listed.size())
                                    .arg(TextFormat::Cameras(retry.Cameras()), options.retryPath,
                                        image.Name(), md5, earlier))
        + QLatin1Char('\n') + typeRule);
    if (listed.isEmpty()) {
        Console::Error(QStringLiteral("Every camera there succeeded or was skipped.\n"));
        Finish(ExitCode::succeeded);
        return false;
    }
    return true;
}

void Controller::UpdateSearched()
{
    RecordSearch();
    plan.ReadAlso(expected.Cameras());
    if (resuming) {
        listed.clear();
        mayHaveUpdated = Rollout::Unsendable(
            runId, unfinished, !options.fwVersion.isEmpty(), search->Cameras(), &listed);
    }
    if (!plan.Make(options.selection, listed, search->Cameras())) {
        Refuse(plan.Refusal());
        return;
    }
    plan.AddMissing(expected.Missing(search->Cameras()));
    if (options.check) {
        ShowPlan();
        return;
    }
    if (plan.Targets().isEmpty()) {
        // Every camera is skipped or refused: nothing to ask or send, but a
        // result for each all the same.
        Launch();
        return;
    }
    Confirm(PlanQuestion::ForUpdate(plan, image));
}

// Everything a real run does up to its question, then what it would do.
void Controller::ShowPlan()
{
    if (!plan.Targets().isEmpty())
        Console::Error(
            TextFormat::ForTerminal(PlanQuestion::ForUpdate(plan, image)) + QLatin1Char('\n'));
    RunReport report(form);
    const bool clean = report.Plan(image, plan);
    Console::Error(PlanQuestion::Verdict(plan) + QLatin1Char('\n'));
    Finish(clean ? ExitCode::succeeded : ExitCode::usage);
}

void Controller::Confirm(const QString &question)
{
    if (options.yes) {
        Launch();
        return;
    }
    stage = Stage::Confirming;
    confirmation = new Confirmation(this);
    connect(confirmation, &Confirmation::answered, this, &Controller::Confirmed);
    confirmation->Ask(question);
}

void Controller::Confirmed(bool yes)
{
    if (yes) {
        Launch();
        return;
    }
    Console::Error(QStringLiteral("Nothing was sent.\n"));
    Finish(ExitCode::failed);
}

void Controller::Launch()
{
    stage = Stage::Running;
    const bool updating = options.command == CommandLine::Command::Update;
    rollout = new Rollout(journal.IsOpen() ? &journal : nullptr, this);
    connect(rollout, &Rollout::journalFailed, this, &Controller::JournalFailed);
    connect(rollout, &Rollout::resultUnrecorded, this, &Controller::ResultUnrecorded);
    if (!BeginJournalRun())
        return;
    report = new RunReport(form, this);
    report->Begin(updating ? &image : nullptr, plan, earlier + Untouched());
    const int wanted = qMin(
        updating ? options.parallel : DescriptorBudget::mostAtOnce, int(plan.Targets().size()));
    const int atOnce = DescriptorBudget::CamerasAtOnce(wanted, wanted);
    if (atOnce < wanted)
        Console::Error(
            QStringLiteral("ordelctl: %1 at once, not %2: the process may open only %3 files\n")
                .arg(TextFormat::Cameras(atOnce))
                .arg(wanted)
                .arg(DescriptorBudget::Limit()));
    run = new FleetRun(atOnce, plan.Canaries(), this);
    run->SetMaxFailures(options.maxFailures);
    if (updating && !options.fwVersion.isEmpty()) {
        returnWatch = new ReturnWatch(&searchSocket, this);
        connect(returnWatch, &ReturnWatch::repliesDropped, this, &Controller::TellVerifyLosses);
    }
    for (const QString &ip : plan.Targets())
        run->Add(NewJob(ip));
    // Before the result is shown: nothing printed is missing from the journal.
    rollout->Guard(run);
    display = new ProgressDisplay(Console::ErrorIsTerminal(), this);
    display->Follow(run);
    report->Follow(run);
    connect(run, &FleetRun::finished, this, &Controller::End);
    run->Start();
}

// The run and its cameras are in the journal before any camera is touched; a
// journal that cannot take them stops the run there.
bool Controller::BeginJournalRun()
{
    if (!journal.IsOpen())
        return true;
    if (resuming) {
        QString error;
        if (rollout->Continue(runId, unfinished, Untouched(), &error))
            return true;
        Refuse(error);
        return false;
    }
    Journal::Run row;
    row.command = QString::fromLatin1(CommandLine::WordOf(options.command));
    row.arguments = options.RecordedArguments();
    if (options.command == CommandLine::Command::Update) {
        row.imagePath = QFileInfo(options.imagePath).absoluteFilePath();
        row.imageSize = image.Size();
        row.imageMd5 = QString::fromLatin1(image.Md5Hex());
        row.fwVersion = options.fwVersion;
    }
    QString error;
    if (!rollout->Begin(row, plan, Untouched(), &error)) {
        Refuse(error);
        return false;
    }
    runId = rollout->RunId();
    return true;
}

// A full disk, say: the run starts no further camera, and those in flight
// finish, each result still shown.
void Controller::JournalFailed(const QString &error)
{
    journalFailed = true;
    Console::Error(QStringLiteral("ordelctl: warning: %1; no further camera starts\n")
                       .arg(TextFormat::ForTerminal(error)));
}

// Shown all the same, but the journal will not remember it: a resume does
// not know what became of the camera, and the operator is told which.
void Controller::ResultUnrecorded(const CameraResult &result, const QString &error)
{
    unrecorded.append(result.ip);
    Console::Error(QStringLiteral("ordelctl: warning: %1's result (%2) is not in the journal: %3\n")
                       .arg(result.ip, CameraResult::OutcomeName(result.outcome),
                           TextFormat::ForTerminal(error)));
}

// With --fw-version, a resumed camera already on the version was updated
// by the run that died, after its last word: it is verified, not skipped.
QList<CameraResult> Controller::Untouched() const
{
    QList<CameraResult> results = plan.Untouched() + mayHaveUpdated;
    if (!resuming || options.fwVersion.isEmpty())
        return results;
    for (CameraResult &result : results) {
        if (result.outcome == CameraResult::Outcome::Skipped) {
            result.outcome = CameraResult::Outcome::Succeeded;
            result.verified = true;
            result.message = QStringLiteral("verified: running %1").arg(options.fwVersion);
        }
    }
    return results;
}

CameraJob *Controller::NewJob(const QString &ip)
{
    switch (options.command) {
    case CommandLine::Command::Restart:
        return new CameraCommand(
            ip, QLatin1String(Protocol::restartTopic), QByteArray(Protocol::restartPayload));
    case CommandLine::Command::Shutdown:
        return new CameraCommand(
            ip, QLatin1String(Protocol::powerOffTopic), QByteArray(Protocol::powerOffPayload));
    case CommandLine::Command::Search:
    case CommandLine::Command::Update:
    case CommandLine::Command::History:
    case CommandLine::Command::Inventory:
    case CommandLine::Command::Resume:
        break;
    }
    Rollout::Settings settings;
    settings.fwVersion = options.fwVersion;
    settings.reportTimeoutMs = options.reportTimeoutS * 1000;
    settings.verifyTimeoutMs = options.verifyTimeoutS * 1000;
    return Rollout::NewUpdate(ip, &image, plan, settings, returnWatch);
}

void Controller::End()
{
    display->End();
    const QList<CameraResult> results = earlier + run->Results() + Untouched();
    report->End(results, unrecorded);
    rollout->Close();
    if (interruptingSignal) {
        Finish(ExitCode::signalBase + interruptingSignal);
        return;
    }
    // A run the journal lost track of is no success, whatever its cameras did.
    bool failed = journalFailed;
    for (const CameraResult &result : qAsConst(results))
        failed = failed || result.CountsAsFailure();
    Finish(failed ? ExitCode::failed : ExitCode::succeeded);
}

void Controller::Interrupt(int signalNumber)
{
    if (stage == Stage::Done || interruptingSignal)
        return;
    interruptingSignal = signalNumber;
    if (stage == Stage::Running) {
        Console::Error(QStringLiteral("\nInterrupted: closing every camera's connections.\n"));
        if (run)
            run->Interrupt();
        return;
    }
    if (search)
        search->Stop();
    Console::Error(QStringLiteral("\nInterrupted; nothing was sent.\n"));
    Finish(ExitCode::signalBase + signalNumber);
}

void Controller::Refuse(const QString &reason)
{
    Console::Error(QStringLiteral("ordelctl: %1\n").arg(TextFormat::ForTerminal(reason)));
    Finish(ExitCode::usage);
}

void Controller::Finish(int exitCode)
{
    // Also a resume that stopped before its cameras: the run it took over
    // is free again once this process has gone.
    if (resumeId != 0) {
        journal.EndRun(resumeId);
        resumeId = 0;
    }
    stage = Stage::Done;
    emit done(exitCode);
}
