#include "fleetwindow.h"

#include "camerajob.h"
#include "cameraupdate.h"
#include "fleetrun.h"
#include "fleetsearch.h"
#include "progressdelegate.h"
#include "rollout.h"
#include "runoptions.h"
#include "statusreport.h"
#include "updateplan.h"

#include <QAction>
#include <QCloseEvent>
#include <QComboBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QSaveFile>
#include <QSettings>
#include <QSortFilterProxyModel>
#include <QSpinBox>
#include <QStatusBar>
#include <QTableView>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>
#include <QVBoxLayout>

namespace {

constexpr char sizeKey[] = "fleetwindow/size";

// A label and the field it names, reachable by its mnemonic and read out
// under the label's text.
QLabel *Label(const QString &text, QWidget *field)
{
    auto *label = new QLabel(text);
    label->setBuddy(field);
    field->setAccessibleName(QString(text).remove(QLatin1Char('&')));
    return label;
}

// "1 camera", "3 cameras".
QString Cameras(int count)
{
    return count == 1 ? FleetWindow::tr("1 camera") : FleetWindow::tr("%1 cameras").arg(count);
}

QString Replies(int count)
{
    return count == 1 ? FleetWindow::tr("1 reply") : FleetWindow::tr("%1 replies").arg(count);
}

// A number the command line takes as an option; one that may be left out is
// offered from none, which leaves it out.
QSpinBox *SpinBox(const char *name, const RunOptions::Number &limits)
{
    auto *box = new QSpinBox;
    box->setObjectName(QLatin1String(name));
    box->setRange(
        limits.byDefault == RunOptions::none ? RunOptions::none : limits.lowest, limits.highest);
    box->setValue(limits.byDefault);
    return box;
}

} // namespace

FleetWindow::FleetWindow(QWidget *parent)
    : QMainWindow(parent)
    , model(new FleetModel(this))
    , filter(new QSortFilterProxyModel(this))
    , journalPath(Journal::DefaultPath())
{
    setWindowTitle(tr("Ordel_Toolkits Fleet"));
    filter->setSourceModel(model);
    filter->setFilterKeyColumn(-1);
    filter->setFilterCaseSensitivity(Qt::CaseInsensitive);
    BuildActions();
    BuildControls();
    resize(QSettings().value(QLatin1String(sizeKey), QSize(1100, 600)).toSize());
    statusBar()->showMessage(tr("Ready"));
    EnterPhase(Phase::Idle);
}

FleetWindow::~FleetWindow() = default;

void FleetWindow::BuildActions()
{
    QToolBar *toolBar = addToolBar(tr("Fleet"));
    toolBar->setObjectName(QStringLiteral("toolBar_Fleet"));
    toolBar->setToolButtonStyle(Qt::ToolButtonTextOnly);
    const auto add
        = [this, toolBar](const char *name, const QString &text, void (FleetWindow::*slot)()) {
              auto *action = new QAction(text, this);
              action->setObjectName(QLatin1String(name));
              connect(action, &QAction::triggered, this, slot);
              toolBar->addAction(action);
              if (QWidget *button = toolBar->widgetForAction(action)) {
                  button->setAccessibleName(QString(text).remove(QLatin1Char('&')));
                  button->setFocusPolicy(Qt::TabFocus);
              }
              return action;
          };
    actionSearch = add("actionSearch", tr("Search"), &FleetWindow::Search);
    actionSearch->setShortcut(QKeySequence(Qt::Key_F5));
    actionImage = add("actionImage", tr("Image…"), &FleetWindow::ChooseImage);
    actionImage->setShortcut(QKeySequence::Open);
    actionExpected = add("actionExpected", tr("Expected…"), &FleetWindow::ChooseExpected);
    toolBar->addSeparator();
    actionSelectOutdated
        = add("actionSelectOutdated", tr("Select Outdated"), &FleetWindow::SelectOutdated);
    actionRetryFailed = add("actionRetryFailed", tr("Retry Failed"), &FleetWindow::RetryFailed);
    toolBar->addSeparator();
    actionCheck = add("actionCheck", tr("Check"), &FleetWindow::Check);
    actionUpdate = add("actionUpdate", tr("Update"), &FleetWindow::Update);
    actionStop = add("actionStop", tr("Stop"), &FleetWindow::Stop);
    toolBar->addSeparator();
    actionExport = add("actionExport", tr("Export…"), &FleetWindow::Export);
    actionExport->setShortcut(QKeySequence::Save);
}

void FleetWindow::BuildControls()
{
    labelImage = new QLabel(tr("No image"));
    labelImage->setObjectName(QStringLiteral("label_Image"));
    // The file's name is the operator's, but it is shown as it is.
    labelImage->setTextFormat(Qt::PlainText);
    labelImage->setTextInteractionFlags(Qt::TextSelectableByMouse);

    lineEditTargetVersion = new QLineEdit;
    lineEditTargetVersion->setObjectName(QStringLiteral("lineEdit_TargetVersion"));
    comboBoxType = new QComboBox;
    comboBoxType->setObjectName(QStringLiteral("comboBox_Type"));
    comboBoxType->addItem(tr("All types"));
    comboBoxType->setSizeAdjustPolicy(QComboBox::AdjustToContents);
    spinBoxAtOnce = SpinBox("spinBox_AtOnce", RunOptions::parallelLimits);
    spinBoxCanary = SpinBox("spinBox_Canary", RunOptions::canaryLimits);
    spinBoxStopAfter = SpinBox("spinBox_StopAfter", RunOptions::maxFailuresLimits);
    lineEditFilter = new QLineEdit;
    lineEditFilter->setObjectName(QStringLiteral("lineEdit_Filter"));
    lineEditFilter->setClearButtonEnabled(true);
    connect(lineEditFilter, &QLineEdit::textChanged, filter,
        &QSortFilterProxyModel::setFilterFixedString);

    auto *settings = new QHBoxLayout;
    settings->addWidget(Label(tr("&Target version"), lineEditTargetVersion));
    settings->addWidget(lineEditTargetVersion);
    settings->addWidget(Label(tr("T&ype"), comboBoxType));
    settings->addWidget(comboBoxType);
    settings->addWidget(Label(tr("&At once"), spinBoxAtOnce));
    settings->addWidget(spinBoxAtOnce);
    settings->addWidget(Label(tr("&Canary"), spinBoxCanary));
    settings->addWidget(spinBoxCanary);
    settings->addWidget(Label(tr("Stop after &failures"), spinBoxStopAfter));
    settings->addWidget(spinBoxStopAfter);
    settings->addStretch();
    settings->addWidget(Label(tr("F&ilter"), lineEditFilter));
    settings->addWidget(lineEditFilter);

    tableViewCameras = new QTableView;
    tableViewCameras->setObjectName(QStringLiteral("tableView_Cameras"));
    tableViewCameras->setAccessibleName(tr("Cameras"));
    filter->setSortRole(FleetModel::SortRole);
    tableViewCameras->setModel(filter);
    tableViewCameras->setSortingEnabled(true);
    tableViewCameras->sortByColumn(FleetModel::IpColumn, Qt::AscendingOrder);
    tableViewCameras->setSelectionBehavior(QAbstractItemView::SelectRows);
    tableViewCameras->setSelectionMode(QAbstractItemView::SingleSelection);
    tableViewCameras->setEditTriggers(QAbstractItemView::NoEditTriggers);
    tableViewCameras->setItemDelegateForColumn(
        FleetModel::StateColumn, new ProgressDelegate(tableViewCameras));
    tableViewCameras->horizontalHeader()->setStretchLastSection(true);
    tableViewCameras->verticalHeader()->hide();
    tableViewCameras->installEventFilter(this);

    auto *central = new QWidget;
    auto *layout = new QVBoxLayout(central);
    layout->addWidget(labelImage);
    layout->addLayout(settings);
    layout->addWidget(tableViewCameras);
    setCentralWidget(central);
}

void FleetWindow::EnterPhase(Phase next)
{
    phase = next;
    const bool idle = phase == Phase::Idle;
    actionSearch->setEnabled(idle);
    actionImage->setEnabled(idle);
    actionExpected->setEnabled(idle);
    actionCheck->setEnabled(idle);
    actionUpdate->setEnabled(idle && imageReady);
    actionStop->setEnabled(phase == Phase::Running);
    actionExport->setEnabled(idle);
    lineEditTargetVersion->setEnabled(idle);
    spinBoxAtOnce->setEnabled(idle);
    spinBoxCanary->setEnabled(idle);
    spinBoxStopAfter->setEnabled(idle);
}

void FleetWindow::SetImagePath(const QString &path)
{
    if (phase != Phase::Idle) {
        Tell(tr("The image can be changed only while nothing runs."));
        return;
    }
    imagePath = path;
    imageReady = false;
    if (!image.Open(path)) {
        ImageFailed();
        return;
    }
    labelImage->setText(tr("Reading %1…").arg(image.Name()));
    EnterPhase(Phase::Reading);
    QTimer::singleShot(0, this, &FleetWindow::ReadImage);
}

// A slice at a time from the event loop: a large image never freezes the
// window while it is digested.
void FleetWindow::ReadImage()
{
    if (phase != Phase::Reading)
        return;
    if (!image.ReadMore()) {
        ImageFailed();
        return;
    }
    if (!image.Complete()) {
        QTimer::singleShot(0, this, &FleetWindow::ReadImage);
        return;
    }
    imageReady = true;
    labelImage->setText(tr("%1, %2 bytes, MD5 %3")
                            .arg(image.Name())
                            .arg(image.Size())
                            .arg(QString::fromLatin1(image.Md5Hex())));
    EnterPhase(Phase::Idle);
    emit imageRead();
}

void FleetWindow::ImageFailed()
{
    imageReady = false;
    const QString text = tr("Cannot use the image %1: %2").arg(imagePath, image.ErrorString());
    labelImage->setText(text);
    Tell(text);
    EnterPhase(Phase::Idle);
}

void FleetWindow::ChooseImage()
{
    const QString path = QFileDialog::getOpenFileName(this, tr("Firmware image"),
        QFileInfo(imagePath).absolutePath(), QString(), nullptr, QFileDialog::DontUseNativeDialog);
    if (!path.isEmpty())
        SetImagePath(path);
}

void FleetWindow::SetTargetVersion(const QString &version)
{
    lineEditTargetVersion->setText(version);
}

void FleetWindow::SetJournalPath(const QString &path)
{
    journal.reset();
    journalPath = path;
}

bool FleetWindow::OpenJournal(QString *error)
{
    if (journalPath.isEmpty() || journal)
        return true;
    auto opened = std::make_unique<Journal>();
    if (!opened->Open(journalPath)) {
        *error = opened->Error();
        return false;
    }
    journal = std::move(opened);
    return true;
}

void FleetWindow::Search()
{
    if (phase == Phase::Idle)
        StartSearch(Phase::Searching);
}

void FleetWindow::StartSearch(Phase searching)
{
    search = new FleetSearch(FleetSearch::defaultWindowMs, &searchSocket, this);
    connect(search, &FleetSearch::cameraFound, model, &FleetModel::AddCamera);
    connect(search, &FleetSearch::finished, this, &FleetWindow::SearchEnded);
    QString error;
    // A search that could not hear the cameras must not pass for one that
    // found none.
    if (!search->Start(&error)) {
        search->deleteLater();
        Tell(tr("Cannot search: %1").arg(error));
        emit searchFinished();
        return;
    }
    // A search that never began leaves the last one's answers standing.
    model->BeginSearch();
    EnterPhase(searching);
    Tell(tr("Searching…"));
}

void FleetWindow::SearchEnded()
{
    found = search->Cameras();
    const int lost = search->LostReplies();
    search->deleteLater();
    // The port is this host's alone while open: another program's search
    // waits for it.
    searchSocket.Close();
    QString error;
    if (!OpenJournal(&error))
        Tell(tr("The journal cannot be used: %1").arg(error));
    else if (journal && !journal->RecordSearch(found))
        Tell(tr("The journal could not be written: %1").arg(journal->Error()));
    ShowLastUpdates();
    // The rows on screen decide the widths, so that this costs the same for
    // five cameras or five thousand; the last update is as wide as its
    // longest text, and the state takes the rest.
    for (int column = 0; column < FleetModel::LastUpdateColumn; ++column)
        tableViewCameras->resizeColumnToContents(column);
    tableViewCameras->horizontalHeader()->resizeSection(FleetModel::LastUpdateColumn,
        tableViewCameras->fontMetrics().horizontalAdvance(
            LastUpdateText(Journal::Now(), QStringLiteral("interrupted")))
            + 2 * tableViewCameras->fontMetrics().averageCharWidth());
    RefreshTypes();
    ShowMissing();
    const bool updating = phase == Phase::Preparing;
    EnterPhase(Phase::Idle);
    QString text = tr("%1 answered.").arg(Cameras(int(found.size())));
    if (lost > 0)
        text += QLatin1Char(' ') + tr("%1 lost: the list may miss cameras.").arg(Replies(lost));
    Tell(text);
    emit searchFinished();
    if (updating)
        Launch();
}

void FleetWindow::ShowLastUpdates()
{
    if (!journal)
        return;
    const QHash<QString, Journal::CameraRow> latest = journal->LastUpdates();
    if (!journal->ReadError().isEmpty())
        Tell(tr("The journal could not be read: %1").arg(journal->ReadError()));
    for (auto last = latest.cbegin(); last != latest.cend(); ++last)
        model->SetLastUpdate(last.key(), LastUpdateText(last->ended, last->result));
}

// "2026-12-09 06:12 verified", from the journal's UTC time to the minute.
QString FleetWindow::LastUpdateText(QString when, const QString &result)
{
    when.replace(QLatin1Char('T'), QLatin1Char(' '));
    return when.left(16) + QLatin1Char(' ') + result;
}

void FleetWindow::RefreshTypes()
{
    const QString current = comboBoxType->currentText();
    const QStringList types = model->Types();
    for (const QString &type : types) {
        if (comboBoxType->findText(type) < 0)
            comboBoxType->addItem(type);
    }
    comboBoxType->setCurrentIndex(qMax(0, comboBoxType->findText(current)));
}

Selection FleetWindow::CurrentSelection() const
{
    Selection selection;
    if (comboBoxType->currentIndex() > 0)
        selection.type = comboBoxType->currentText();
    RunOptions::SkipInstalledVersion(lineEditTargetVersion->text().trimmed(), &selection.skipFw);
    selection.canary = spinBoxCanary->value();
    return selection;
}

void FleetWindow::SelectOutdated()
{
    const QString type = comboBoxType->currentIndex() > 0 ? comboBoxType->currentText() : QString();
    const int checked = model->SelectOutdated(type, lineEditTargetVersion->text().trimmed());
    Tell(tr("%1 checked.").arg(Cameras(checked)));
}

void FleetWindow::RetryFailed()
{
    Tell(tr("%1 checked.").arg(Cameras(model->SelectRetry())));
}

void FleetWindow::Check()
{
    if (phase != Phase::Idle)
        return;
    UpdatePlan plan;
    QString refusal;
    if (!model->MakePlan(CurrentSelection(), found, &plan, &refusal)) {
        Tell(refusal);
        return;
    }
    model->ShowPlan(plan);
    Tell(tr("Check: %1 would be updated; nothing was sent.")
             .arg(Cameras(int(plan.Targets().size()))));
}

void FleetWindow::Update()
{
    if (phase != Phase::Idle || !imageReady)
        return;
    if (model->CheckedCount() == 0) {
        Tell(tr("No camera is checked."));
        return;
    }
    QString error;
    if (!OpenJournal(&error)) {
        Tell(tr("The journal cannot be used: %1").arg(error));
        return;
    }
    // Always a search first: the versions to skip are in the cameras'
    // replies, and only the replies show an address that two cameras claim.
    StartSearch(Phase::Preparing);
}

void FleetWindow::Launch()
{
    QString error;
    UpdatePlan plan;
    if (!model->MakePlan(CurrentSelection(), found, &plan, &error)) {
        Tell(error);
        return;
    }
    model->ShowPlan(plan);
    if (plan.Targets().isEmpty()) {
        Tell(tr("No camera needs the image; nothing was sent."));
        return;
    }
    if (!Ask(plan))
        return;
    const RunOptions options = CurrentOptions(plan);
    Rollout::Settings settings;
    settings.parallel = options.parallel;
    settings.canaries = plan.Canaries();
    settings.maxFailures = options.maxFailures;
    settings.fwVersion = options.fwVersion;
    runVersion = settings.fwVersion;
    // The probes that verify the updates go out of the search's socket.
    if (!settings.fwVersion.isEmpty() && !searchSocket.Open(&error)) {
        Tell(tr("Cannot verify the updates: %1").arg(error));
        return;
    }
    auto *run = new Rollout(journal.get(), this);
    connect(run, &Rollout::jobStarted, this, &FleetWindow::JobStarted);
    connect(run, &Rollout::resultReady, this, &FleetWindow::ResultReady);
    connect(run, &Rollout::journalFailed, this, [this](const QString &why) {
        Tell(tr("The journal could not be written: %1; no further camera starts").arg(why));
    });
    connect(
        run, &Rollout::resultUnrecorded, this, [this](const CameraResult &result, const QString &) {
            resultUnrecorded = true;
            Tell(tr("The journal does not have the result of %1").arg(result.ip));
        });
    connect(run, &Rollout::repliesDropped, this, [this](int dropped) {
        Tell(tr("%1 lost while cameras were awaited: a camera not seen may have answered")
                 .arg(Replies(dropped)));
    });
    connect(run, &Rollout::finished, this, &FleetWindow::RunEnded);
    Journal::Run row;
    row.command = QStringLiteral("update");
    row.arguments = options.Arguments();
    model->BeginRun(plan, &image);
    if (!run->Start(plan, &image, &searchSocket, settings, row, &error)) {
        delete run;
        searchSocket.Close();
        Tell(tr("The journal cannot take the run: %1").arg(error));
        return;
    }
    rollout = run;
    EnterPhase(Phase::Running);
    Tell(model->Counts());
}

// What the run records, as the command line's own options, so that it reads
// back as one of ordelctl's runs: ordelctl history lists it and resume
// continues it.
RunOptions FleetWindow::CurrentOptions(const UpdatePlan &plan) const
{
    const Selection selection = CurrentSelection();
    RunOptions options;
    options.imagePath = imagePath;
    options.parallel = spinBoxAtOnce->value();
    options.canary = selection.canary;
    options.maxFailures = spinBoxStopAfter->value();
    options.fwVersion = lineEditTargetVersion->text().trimmed();
    options.type = selection.type;
    options.addresses = plan.Targets();
    return options;
}

bool FleetWindow::Ask(const UpdatePlan &plan)
{
    const QString target = lineEditTargetVersion->text().trimmed();
    QMessageBox box(QMessageBox::Question, tr("Update"),
        tr("Update %1 with %2 (MD5 %3) to version %4?")
            .arg(Cameras(int(plan.Targets().size())), image.Name(),
                QString::fromLatin1(image.Md5Hex()),
                target.isEmpty() ? tr("(not verified)") : target),
        QMessageBox::Yes | QMessageBox::No, this);
    // The image's name and the cameras' texts are data, never markup.
    box.setTextFormat(Qt::PlainText);
    box.setDefaultButton(QMessageBox::No);
    return box.exec() == QMessageBox::Yes;
}

void FleetWindow::JobStarted(CameraJob *job)
{
    const QString ip = job->Ip();
    model->SetPhase(ip, FleetModel::PhaseOf(job->PhaseKey()));
    connect(job, &CameraJob::phaseChanged, this, [this, job, ip] {
        const FleetModel::Phase next = FleetModel::PhaseOf(job->PhaseKey());
        // The result itself ends the row.
        if (next != FleetModel::Phase::Ended)
            model->SetPhase(ip, next);
    });
    if (auto *update = qobject_cast<CameraUpdate *>(job)) {
        connect(update, &CameraUpdate::chunkSent, this, [this, ip](qint64 sent, qint64 size) {
            model->SetPhase(ip, FleetModel::Phase::Sending, size > 0 ? int(sent * 100 / size) : 0);
        });
        connect(
            update, &CameraUpdate::reportReceived, this, [this, ip](const StatusReport &report) {
                if (report.MovesProgress())
                    model->SetPhase(ip, FleetModel::Phase::Writing, report.ProgressValue());
            });
    }
}

void FleetWindow::ResultReady(const CameraResult &result)
{
    model->SetResult(result, runVersion);
    // The journal has just committed it, unless it said it could not: no
    // need to read it back. Last update is what the journal holds, so a
    // result it could not take, or a camera left alone, keeps the one before.
    const bool recorded = !resultUnrecorded;
    resultUnrecorded = false;
    const QString outcome = CameraResult::OutcomeName(result.outcome);
    if (journal && recorded && Journal::IsUpdateAttempt(outcome))
        model->SetLastUpdate(CameraRecord::MacCanIdentify(result.mac) ? result.mac : result.ip,
            LastUpdateText(Journal::Now(), outcome));
    Tell(model->Counts());
}

void FleetWindow::RunEnded()
{
    rollout->deleteLater();
    searchSocket.Close();
    const bool closing = phase == Phase::Closing;
    EnterPhase(Phase::Idle);
    Tell(tr("Run finished: %1").arg(model->Counts()));
    emit runFinished();
    if (closing)
        close();
}

void FleetWindow::Stop()
{
    if (phase != Phase::Running || !rollout)
        return;
    rollout->StopStarting(tr("stopped by the operator"));
    actionStop->setEnabled(false);
    Tell(tr("Stopping: the cameras in flight finish."));
}

void FleetWindow::Export()
{
    QString chosen;
    const QString path = QFileDialog::getSaveFileName(this, tr("Export"), QString(),
        tr("JSON lines (*.json);;CSV (*.csv)"), &chosen, QFileDialog::DontUseNativeDialog);
    if (path.isEmpty())
        return;
    const bool csv = path.endsWith(QLatin1String(".csv"), Qt::CaseInsensitive)
        || (!path.endsWith(QLatin1String(".json"), Qt::CaseInsensitive)
            && chosen.contains(QLatin1String("csv")));
    QSaveFile file(path);
    if (file.open(QIODevice::WriteOnly)) {
        file.write(csv ? model->ExportCsv() : model->ExportJson());
        if (file.commit()) {
            Tell(tr("Saved %1.").arg(path));
            return;
        }
    }
    QMessageBox box(QMessageBox::Warning, tr("Export"),
        tr("Cannot save %1: %2").arg(path, file.errorString()), QMessageBox::Ok, this);
    box.setTextFormat(Qt::PlainText);
    box.exec();
}

void FleetWindow::ChooseExpected()
{
    const QString path = QFileDialog::getOpenFileName(this, tr("Expected cameras"), QString(),
        tr("Search output (*.csv *.json);;All files (*)"), nullptr,
        QFileDialog::DontUseNativeDialog);
    if (path.isEmpty())
        return;
    ExpectedCameras read;
    if (!read.Read(path)) {
        Tell(tr("Cannot read the expected cameras from %1: %2").arg(path, read.ErrorString()));
        return;
    }
    expected = read;
    expecting = true;
    ShowMissing();
}

void FleetWindow::ShowMissing()
{
    if (!expecting)
        return;
    const int missing = model->ShowMissing(expected);
    if (missing < 0)
        Tell(tr("%1 expected; a search shows which are silent.")
                 .arg(Cameras(int(expected.Cameras().size()))));
    else
        Tell(tr("Expected, but silent: %1.").arg(Cameras(missing)));
}

// A camera is never left half-written by the window: closing during a run
// starts no further camera and waits for those in flight.
void FleetWindow::closeEvent(QCloseEvent *event)
{
    if (phase == Phase::Closing) {
        event->ignore();
        return;
    }
    if (phase == Phase::Running) {
        QMessageBox box(QMessageBox::Question, tr("Close"),
            tr("Cameras are being updated. Start no further camera and close once those in "
               "flight have finished?"),
            QMessageBox::Yes | QMessageBox::No, this);
        box.setDefaultButton(QMessageBox::No);
        event->ignore();
        if (box.exec() != QMessageBox::Yes || phase != Phase::Running)
            return;
        rollout->StopStarting(tr("the window was closed"));
        EnterPhase(Phase::Closing);
        Tell(tr("Closing once the cameras in flight have finished…"));
        return;
    }
    if (search)
        search->Stop();
    QSettings().setValue(QLatin1String(sizeKey), size());
    event->accept();
}

// Space checks the current row's camera whichever cell has the focus.
bool FleetWindow::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == tableViewCameras && event->type() == QEvent::KeyPress
        && static_cast<QKeyEvent *>(event)->key() == Qt::Key_Space) {
        const QModelIndex current = filter->mapToSource(tableViewCameras->currentIndex());
        if (current.isValid()) {
            const QModelIndex box = model->index(current.row(), FleetModel::IpColumn);
            model->SetChecked(current.row(), box.data(Qt::CheckStateRole).toInt() != Qt::Checked);
            return true;
        }
    }
    return QMainWindow::eventFilter(watched, event);
}

void FleetWindow::Tell(const QString &text)
{
    statusBar()->showMessage(text);
}
