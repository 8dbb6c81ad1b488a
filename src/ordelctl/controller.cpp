#include "controller.h"

#include "cameracommand.h"
#include "camerarecord.h"
#include "cameraupdate.h"
#include "confirmation.h"
#include "console.h"
#include "descriptorbudget.h"
#include "eventstream.h"
#include "fleetrun.h"
#include "fleetsearch.h"
#include "jsonline.h"
#include "progressdisplay.h"
#include "protocol.h"
#include "retryfile.h"
#include "textformat.h"

#include <QTimer>

namespace {

// An image this large takes a noticeable moment to read and digest: the
// operator is told what the program is doing meanwhile.
constexpr qint64 announcedReadBytes = 16 * 1024 * 1024;
// A shell's convention: a program ended by signal N exits with 128 + N.
constexpr int signalExitBase = 128;
// Commands go to every camera at once, as far as the process's descriptors
// allow (DescriptorBudget); this bounds a very long list all the same.
constexpr int commandsAtOnce = 256;

} // namespace

Controller::Controller(const CommandLine &options, QObject *parent)
    : QObject(parent)
    , options(options)
{
}

void Controller::Start()
{
    switch (options.command) {
    case CommandLine::Command::Search:
        StartSearch(&Controller::ListCameras);
        return;
    case CommandLine::Command::Restart:
    case CommandLine::Command::Shutdown:
        PrepareCommand();
        return;
    case CommandLine::Command::Update:
        PrepareUpdate();
        return;
    }
}

void Controller::StartSearch(void (Controller::*then)())
{
    stage = Stage::Searching;
    search = new FleetSearch(options.searchTimeoutMs, this);
    // Before then, so that an update's plan comes after the warning.
    connect(search, &FleetSearch::finished, this, &Controller::TellSearchLosses);
    connect(search, &FleetSearch::finished, this, then);
    if (options.command == CommandLine::Command::Search) {
        connect(search, &FleetSearch::cameraFound, this, &Controller::CameraFound);
        if (options.csv)
            Console::Out(TextFormat::CsvRecord(CameraRecord::Keys()));
    }
    QString error;
    if (!search->Start(&error)) {
        Console::Error(QStringLiteral("ordelctl: cannot search: %1\n").arg(error));
        Finish(exitFailed);
    }
}

// The kernel caps the search's receive buffer silently, and a crowd larger
// than it holds is cut short without a word. A loss is told; so is a crowd
// that came near the limit, with the way to raise it. A small site on a
// stock kernel hears nothing.
void Controller::TellSearchLosses()
{
    const int lost = search->LostReplies();
    if (lost > 0)
        Console::Error(QStringLiteral("ordelctl: %1 because the search's receive buffer was "
                                      "full: the list may miss cameras\n")
                           .arg(lost == 1 ? QStringLiteral("1 reply was lost")
                                          : QStringLiteral("%1 replies were lost").arg(lost)));
    const bool nearTheLimit = search->Cameras().size() + lost >= search->RepliesHeld() / 2;
    if ((lost > 0 || nearTheLimit) && search->RepliesHeld() < FleetSearch::RepliesWanted())
        Console::Error(QStringLiteral("ordelctl: the search's receive buffer holds only about %1 "
                                      "replies, so more cameras may be missed; as root, "
                                      "sysctl -w net.core.rmem_max=%2 makes room for about %3\n")
                           .arg(search->RepliesHeld())
                           .arg(Protocol::searchReceiveBufferBytes)
                           .arg(FleetSearch::RepliesWanted()));
}

// Lines go out as the cameras answer, so a script can start on the first.
void Controller::CameraFound(const CameraRecord &camera)
{
    const QStringList fields = camera.Fields();
    if (options.json) {
        JsonLine line;
        for (int index = 0; index < fields.size(); ++index)
            line.Add(qPrintable(CameraRecord::Keys().at(index)), fields.at(index));
        Console::Out(line.Text());
    } else if (options.csv) {
        QStringList shown = fields;
        // CSV is data, but on a terminal a camera must not drive it.
        if (Console::OutIsTerminal()) {
            for (QString &field : shown)
                field = TextFormat::ForTerminal(field);
        }
        Console::Out(TextFormat::CsvRecord(shown));
    }
}

void Controller::ListCameras()
{
    if (!options.json && !options.csv) {
        QList<QStringList> rows;
        for (const CameraRecord &camera : search->Cameras())
            rows.append(camera.Fields());
        if (rows.isEmpty())
            Console::Error(QStringLiteral("No camera answered.\n"));
        else
            Console::Out(TextFormat::Table(CameraRecord::Headings(), rows));
    }
    Finish(exitSucceeded);
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
    batch = plan.First();
    if (batch.isEmpty()) {
        Launch();
        return;
    }
    const QString verb = options.command == CommandLine::Command::Restart
        ? QStringLiteral("Restart")
        : QStringLiteral("Shut down");
    Confirm(
        QStringLiteral("%1 %2%3?").arg(verb, TextFormat::Cameras(batch.size()), plan.Refusals()));
}

void Controller::PrepareUpdate()
{
    if (!MayChangeCameras())
        return;
    if (!image.Open(options.imagePath)) {
        RefuseImage();
        return;
    }
    stage = Stage::Reading;
    if (image.Size() >= announcedReadBytes)
        Console::Error(
            TextFormat::ForTerminal(QStringLiteral("Reading %1 (%2 MiB) and its MD5 digest...\n")
                                        .arg(image.Name())
                                        .arg(double(image.Size()) / (1024 * 1024), 0, 'f', 1)));
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
    listed = options.addresses;
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
    listed = retry.Addresses();
    const QString md5 = QString::fromLatin1(image.Md5Hex());
    const QString earlier = retry.EarlierMd5().isEmpty()
        ? QStringLiteral("that run did not say which image it sent")
        : retry.EarlierMd5() == md5
        ? QStringLiteral("the image that run sent")
        : QStringLiteral("that run sent md5 %1").arg(retry.EarlierMd5());
    Console::Error(
        TextFormat::ForTerminal(QStringLiteral("Retrying %1 of %2 in %3 with %4, md5 %5: %6.\n")
                                    .arg(listed.size())
                                    .arg(TextFormat::Cameras(retry.Cameras()), options.retryPath,
                                        image.Name(), md5, earlier)));
    if (listed.isEmpty()) {
        Console::Error(QStringLiteral("Every camera there succeeded or was skipped.\n"));
        Finish(exitSucceeded);
        return false;
    }
    return true;
}

void Controller::UpdateSearched()
{
    if (!plan.Make(options.selection, listed, search->Cameras())) {
        Refuse(plan.Refusal());
        return;
    }
    batch = plan.First();
    following = plan.Then();
    if (batch.isEmpty()) {
        // Every camera is skipped or refused: nothing to ask or send, but a
        // result for each all the same.
        Launch();
        return;
    }
    Confirm(plan.Question(image));
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
    Finish(exitFailed);
}

void Controller::Launch()
{
    stage = Stage::Running;
    display = new ProgressDisplay(Console::ErrorIsTerminal(), this);
    if (options.json) {
        events = new EventStream(this);
        if (options.command == CommandLine::Command::Update)
            EventStream::WriteImage(image);
        // Before any camera is touched: a run killed later has left a line
        // for every camera, and --retry counts one without a result as not
        // done.
        for (const QString &ip : plan.Everyone())
            EventStream::WritePlanned(ip);
        for (const CameraResult &result : plan.Untouched())
            EventStream::WriteFinal(result);
    }
    StartBatch(batch);
}

void Controller::StartBatch(const QStringList &addresses)
{
    batch = addresses;
    const bool updating = options.command == CommandLine::Command::Update;
    const int atOnce = DescriptorBudget::CamerasAtOnce(
        updating ? options.parallel : commandsAtOnce, int(addresses.size()));
    run = new FleetRun(atOnce, this);
    for (const QString &ip : addresses)
        run->Add(NewJob(ip));
    display->Follow(run);
    if (events)
        events->Follow(run);
    connect(run, &FleetRun::finished, this, &Controller::BatchFinished);
    run->Start();
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
        break;
    }
    return new CameraUpdate(ip, &image, options.reportTimeoutS * 1000);
}

// The canaries have ended: the others go only if every one succeeded.
void Controller::BatchFinished()
{
    const QList<CameraResult> ended = run->Results();
    results += ended;
    run->deleteLater();
    run = nullptr;
    if (following.isEmpty()) {
        End();
        return;
    }
    if (interruptingSignal) {
        HoldBack(
            CameraResult::Outcome::Interrupted, QStringLiteral("interrupted before it started"));
        return;
    }
    for (const CameraResult &result : ended) {
        if (result.outcome != CameraResult::Outcome::Succeeded) {
            HoldBack(CameraResult::Outcome::NotStarted,
                QStringLiteral("the canary %1 %2: %3")
                    .arg(result.ip, CameraResult::OutcomeName(result.outcome), result.message));
            return;
        }
    }
    const QStringList next = following;
    following.clear();
    StartBatch(next);
}

void Controller::HoldBack(CameraResult::Outcome outcome, const QString &reason)
{
    for (const QString &ip : qAsConst(following)) {
        const CameraResult result { ip, outcome, reason, 0 };
        results.append(result);
        if (events)
            EventStream::WriteFinal(result);
    }
    following.clear();
    End();
}

void Controller::End()
{
    if (display)
        display->End();
    results += plan.Untouched();
    PrintSummary(results);
    if (interruptingSignal) {
        Finish(signalExitBase + interruptingSignal);
        return;
    }
    bool failed = false;
    for (const CameraResult &result : qAsConst(results))
        failed = failed || result.CountsAsFailure();
    Finish(failed ? exitFailed : exitSucceeded);
}

// With --json standard output is for JSON only; the table goes to the
// operator on standard error then.
void Controller::PrintSummary(const QList<CameraResult> &results)
{
    QList<QStringList> rows;
    for (const CameraResult &result : results)
        rows.append({ result.ip, CameraResult::OutcomeName(result.outcome), result.message,
            QString::number(result.seconds, 'f', 1) });
    const QString table
        = TextFormat::Table({ QStringLiteral("Camera"), QStringLiteral("Result"),
                                QStringLiteral("Reason"), QStringLiteral("Seconds") },
            rows);
    if (options.json)
        Console::Error(table);
    else
        Console::Out(table);
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
    Finish(signalExitBase + signalNumber);
}

void Controller::Refuse(const QString &reason)
{
    Console::Error(QStringLiteral("ordelctl: %1\n").arg(TextFormat::ForTerminal(reason)));
    Finish(exitUsage);
}

void Controller::Finish(int exitCode)
{
    stage = Stage::Done;
    emit done(exitCode);
}
