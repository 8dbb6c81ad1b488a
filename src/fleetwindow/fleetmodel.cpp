#include "fleetmodel.h"

#include "expectedcameras.h"
#include "exportform.h"
#include "imagesnapshot.h"
#include "updateplan.h"

#include <algorithm>

FleetModel::FleetModel(QObject *parent)
    : QAbstractTableModel(parent)
{
}

int FleetModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : int(rows.size());
}

int FleetModel::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : ColumnCount;
}

QVariant FleetModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || index.row() >= rows.size())
        return QVariant();
    const Row &row = rows.at(index.row());
    switch (role) {
    case Qt::DisplayRole:
        return Display(row, index.column());
    case Qt::CheckStateRole:
        if (index.column() == IpColumn)
            return row.checked ? Qt::Checked : Qt::Unchecked;
        return QVariant();
    case SortRole:
        if (index.column() == IpColumn)
            return row.camera.AddressNumber();
        return Display(row, index.column());
    case ProgressRole:
        if (index.column() == StateColumn
            && (row.state.phase == Phase::Sending || row.state.phase == Phase::Writing))
            return row.state.percent;
        return -1;
    default:
        return QVariant();
    }
}

QVariant FleetModel::Display(const Row &row, int column) const
{
    switch (column) {
    case IpColumn:
        return row.camera.ip;
    case MacColumn:
        return row.camera.mac;
    case SnColumn:
        return row.camera.sn;
    case NameColumn:
        return row.camera.name;
    case TypeColumn:
        return row.camera.type;
    case OsColumn:
        return row.camera.os;
    case FwColumn:
        return row.camera.fw;
    case LastUpdateColumn:
        return row.lastUpdate;
    case StateColumn:
        return StateText(row.state);
    default:
        return QVariant();
    }
}

bool FleetModel::setData(const QModelIndex &index, const QVariant &value, int role)
{
    if (!index.isValid() || index.column() != IpColumn || role != Qt::CheckStateRole)
        return false;
    SetChecked(index.row(), value.toInt() == Qt::Checked);
    return true;
}

Qt::ItemFlags FleetModel::flags(const QModelIndex &index) const
{
    Qt::ItemFlags flags = QAbstractTableModel::flags(index);
    if (index.isValid() && index.column() == IpColumn)
        flags |= Qt::ItemIsUserCheckable;
    return flags;
}

QVariant FleetModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return QAbstractTableModel::headerData(section, orientation, role);
    switch (section) {
    case IpColumn:
        return tr("IP");
    case MacColumn:
        return tr("MAC");
    case SnColumn:
        return tr("SN");
    case NameColumn:
        return tr("Name");
    case TypeColumn:
        return tr("Type");
    case OsColumn:
        return tr("OS");
    case FwColumn:
        return tr("FW");
    case LastUpdateColumn:
        return tr("Last update");
    case StateColumn:
        return tr("State");
    default:
        return QVariant();
    }
}

QString FleetModel::StateText(const State &state)
{
    switch (state.phase) {
    case Phase::Idle:
        return QString();
    case Phase::Missing:
        return tr("missing");
    case Phase::Planned:
        return state.plan;
    case Phase::Waiting:
        return tr("waiting");
    case Phase::Announcing:
        return tr("announcing");
    case Phase::Sending:
        return tr("sending %1 %").arg(state.percent);
    case Phase::Writing:
        return tr("camera writing %1 %").arg(state.percent);
    case Phase::Restarting:
        return tr("restarting");
    case Phase::Ended:
        break;
    }
    const CameraResult &result = state.result;
    QString word;
    switch (result.outcome) {
    case CameraResult::Outcome::Succeeded:
        // The camera's own word on its new version says it all.
        if (result.verified)
            return result.message;
        word = tr("succeeded");
        break;
    case CameraResult::Outcome::Sent:
        word = tr("sent");
        break;
    case CameraResult::Outcome::Failed:
        word = tr("failed");
        break;
    case CameraResult::Outcome::Interrupted:
        word = tr("interrupted");
        break;
    case CameraResult::Outcome::Skipped:
        word = tr("skip");
        break;
    case CameraResult::Outcome::NotStarted:
        word = tr("not started");
        break;
    case CameraResult::Outcome::Missing:
        return tr("missing");
    }
    return result.message.isEmpty() ? word : word + QStringLiteral(": ") + result.message;
}

FleetModel::Phase FleetModel::PhaseOf(const QString &key)
{
    if (key == QLatin1String("waiting"))
        return Phase::Waiting;
    if (key == QLatin1String("send") || key == QLatin1String("close"))
        return Phase::Sending;
    if (key == QLatin1String("report"))
        return Phase::Writing;
    if (key == QLatin1String("verifying"))
        return Phase::Restarting;
    if (key == QLatin1String("done"))
        return Phase::Ended;
    return Phase::Announcing;
}

int FleetModel::RowOf(const QString &ipOrMac) const
{
    const int byMac = rowByMac.value(ipOrMac.toUpper(), -1);
    return byMac >= 0 ? byMac : rowByIp.value(ipOrMac, -1);
}

void FleetModel::AppendRow(const CameraRecord &camera)
{
    const int row = int(rows.size());
    beginInsertRows(QModelIndex(), row, row);
    rows.append(Row { camera, false, false, QString(), State() });
    if (CameraRecord::MacCanIdentify(camera.mac) && !sharedMacs.contains(camera.mac.toUpper()))
        rowByMac.insert(camera.mac.toUpper(), row);
    if (!rowByIp.contains(camera.ip))
        rowByIp.insert(camera.ip, row);
    endInsertRows();
}

// A camera that moved to another address: the first row at each address
// is the one it names again.
void FleetModel::IndexAddresses()
{
    rowByIp.clear();
    for (int row = 0; row < rows.size(); ++row) {
        if (!rowByIp.contains(rows.at(row).camera.ip))
            rowByIp.insert(rows.at(row).camera.ip, row);
    }
}

int FleetModel::RowOfCamera(const CameraRecord &camera) const
{
    if (camera.mac.isEmpty())
        return rowByIp.value(camera.ip, -1);
    const int byMac = rowByMac.value(camera.mac.toUpper(), -1);
    if (byMac >= 0)
        return byMac;
    for (int row = 0; row < rows.size(); ++row) {
        const CameraRecord &known = rows.at(row).camera;
        if (known.ip == camera.ip && known.mac.compare(camera.mac, Qt::CaseInsensitive) == 0)
            return row;
    }
    return -1;
}

int FleetModel::RowOfResult(const CameraResult &result) const
{
    CameraRecord camera;
    camera.ip = result.ip;
    camera.mac = result.mac;
    const int row = RowOfCamera(camera);
    return row >= 0 ? row : rowByIp.value(result.ip, -1);
}

void FleetModel::BeginSearch()
{
    answeredThisSearch.clear();
    searched = true;
}

void FleetModel::AddCamera(const CameraRecord &camera)
{
    const QString mac = camera.mac.toUpper();
    const int byMac = rowByMac.value(mac, -1);
    if (byMac >= 0 && answeredThisSearch.contains(byMac) && rows.at(byMac).camera.ip != camera.ip) {
        sharedMacs.insert(mac);
        rowByMac.remove(mac);
    }
    const int row = RowOfCamera(camera);
    if (row < 0) {
        answeredThisSearch.insert(int(rows.size()));
        AppendRow(camera);
        return;
    }
    answeredThisSearch.insert(row);
    const bool moved = rows.at(row).camera.ip != camera.ip;
    rows[row].camera = camera;
    if (moved)
        IndexAddresses();
    if (rows.at(row).state.phase == Phase::Missing) {
        State back;
        if (rows.at(row).ended) {
            back.phase = Phase::Ended;
            back.result = rows.at(row).result;
        }
        rows[row].state = back;
    }
    emit dataChanged(index(row, 0), index(row, ColumnCount - 1));
}

void FleetModel::AddMissing(const QList<CameraRecord> &cameras)
{
    for (const CameraRecord &camera : cameras) {
        int row = RowOfCamera(camera);
        if (row < 0) {
            row = int(rows.size());
            AppendRow(camera);
        }
        State missing;
        missing.phase = Phase::Missing;
        SetState(row, missing);
    }
}

int FleetModel::ShowMissing(const ExpectedCameras &expected)
{
    if (!searched)
        return -1;
    // A camera seen by an earlier search only may have gone since.
    QList<CameraRecord> answered;
    for (int row = 0; row < rows.size(); ++row) {
        if (answeredThisSearch.contains(row))
            answered.append(rows.at(row).camera);
    }
    const QList<CameraRecord> missing = expected.Missing(answered);
    AddMissing(missing);
    return int(missing.size());
}

void FleetModel::SetLastUpdate(const QString &ipOrMac, const QString &text)
{
    const int row = RowOf(ipOrMac);
    if (row < 0)
        return;
    rows[row].lastUpdate = text;
    const QModelIndex cell = index(row, LastUpdateColumn);
    emit dataChanged(cell, cell);
}

QList<CameraRecord> FleetModel::Cameras() const
{
    QList<CameraRecord> cameras;
    for (const Row &row : rows) {
        if (row.state.phase != Phase::Missing)
            cameras.append(row.camera);
    }
    return cameras;
}

QStringList FleetModel::Types() const
{
    QStringList types;
    for (const CameraRecord &camera : Cameras()) {
        if (!camera.type.isEmpty() && !types.contains(camera.type))
            types.append(camera.type);
    }
    return types;
}

// By address, as the table first sorts them, and not in the order the
// replies came: the canaries are then the first checked cameras the operator
// sees, and a check and the run after it start the same cameras first.
QList<CameraRecord> FleetModel::Checked() const
{
    QList<CameraRecord> cameras;
    for (const Row &row : rows) {
        if (row.checked)
            cameras.append(row.camera);
    }
    std::stable_sort(cameras.begin(), cameras.end(), CameraRecord::InAddressOrder);
    return cameras;
}

int FleetModel::CheckedCount() const
{
    return int(Checked().size());
}

void FleetModel::SetChecked(int row, bool checked)
{
    if (row < 0 || row >= rows.size() || rows.at(row).checked == checked)
        return;
    rows[row].checked = checked;
    const QModelIndex cell = index(row, IpColumn);
    emit dataChanged(cell, cell, { Qt::CheckStateRole });
}

int FleetModel::SelectOutdated(const QString &type, const QString &target)
{
    int checked = 0;
    for (int row = 0; row < rows.size(); ++row) {
        const CameraRecord &camera = rows.at(row).camera;
        const bool outdated = rows.at(row).state.phase != Phase::Missing
            && (type.isEmpty() || camera.type == type) && camera.fw != target;
        SetChecked(row, outdated);
        checked += outdated ? 1 : 0;
    }
    return checked;
}

int FleetModel::SelectRetry()
{
    int checked = 0;
    for (int row = 0; row < rows.size(); ++row) {
        const bool retry = rows.at(row).ended && rows.at(row).result.CountsAsFailure();
        SetChecked(row, retry);
        checked += retry ? 1 : 0;
    }
    return checked;
}

bool FleetModel::MakePlan(const Selection &selection, const QList<CameraRecord> &found,
    UpdatePlan *plan, QString *refusal) const
{
    // A camera listed with its MAC is that camera wherever it answered; the
    // ones that did not answer are missing, as with a retry.
    if (!plan->Make(selection, Checked(), found)) {
        *refusal = plan->Refusal();
        // The command line's advice names its options; the window's own
        // control says the same here.
        if (!selection.type && !selection.anyType && plan->TargetTypes().size() > 1)
            *refusal = tr("Cameras of %1 types are checked: %2. An image for one type can ruin "
                          "another: choose one type in the Type list.")
                           .arg(plan->TargetTypes().size())
                           .arg(UpdatePlan::TypeCounts(plan->TargetTypes()));
        return false;
    }
    return true;
}

void FleetModel::ShowPlan(const UpdatePlan &plan)
{
    const QStringList targets = plan.Targets();
    for (int index = 0; index < targets.size(); ++index) {
        const int row = RowOf(targets.at(index));
        if (row < 0 || rows.at(row).ended)
            continue;
        State state;
        state.phase = Phase::Planned;
        state.plan = index < plan.Canaries() ? tr("will update (canary)") : tr("will update");
        SetState(row, state);
    }
    // The command line's words for a camera a run would send nothing.
    const auto show = [this](const QList<CameraResult> &results, const QString &word) {
        for (const CameraResult &result : results) {
            const int row = RowOfResult(result);
            if (row < 0 || rows.at(row).ended)
                continue;
            State state;
            state.phase = Phase::Planned;
            state.plan
                = result.message.isEmpty() ? word : word + QStringLiteral(": ") + result.message;
            SetState(row, state);
        }
    };
    show(plan.Skipped(), tr("skip"));
    show(plan.Refused(), tr("refuse"));
    show(plan.Missing(), tr("missing"));
}

void FleetModel::BeginRun(const UpdatePlan &plan, const ImageSnapshot *image)
{
    for (Row &row : rows) {
        row.inRun = false;
        row.ended = false;
    }
    runImage = image ? ExportForm::ImageLine(*image, plan.TypeRule()) : QByteArray();
    for (const QString &ip : plan.Targets()) {
        const int row = RowOf(ip);
        if (row < 0)
            continue;
        rows[row].inRun = true;
        State waiting;
        waiting.phase = Phase::Waiting;
        SetState(row, waiting);
    }
    for (const CameraResult &result : plan.Untouched())
        SetResult(result);
}

void FleetModel::SetPhase(const QString &ip, Phase phase, int percent)
{
    const int row = RowOf(ip);
    if (row < 0)
        return;
    State state = rows.at(row).state;
    if (percent < 0 && state.phase == phase)
        return;
    state.phase = phase;
    state.percent = qMax(0, percent);
    SetState(row, state);
}

void FleetModel::SetResult(const CameraResult &result, const QString &verifiedVersion)
{
    const int row = RowOfResult(result);
    if (row < 0)
        return;
    rows[row].inRun = true;
    rows[row].ended = true;
    rows[row].result = result;
    // Seen running it: Select Outdated must not pick the camera again.
    if (result.verified && !verifiedVersion.isEmpty()) {
        rows[row].camera.fw = verifiedVersion;
        const QModelIndex cell = index(row, FwColumn);
        emit dataChanged(cell, cell);
    }
    State state;
    state.phase = Phase::Ended;
    state.result = result;
    SetState(row, state);
}

void FleetModel::SetState(int row, const State &state)
{
    rows[row].state = state;
    const QModelIndex cell = index(row, StateColumn);
    emit dataChanged(cell, cell);
}

QList<CameraResult> FleetModel::Results() const
{
    QList<CameraResult> results;
    for (const Row &row : rows) {
        if (row.ended)
            results.append(row.result);
    }
    return results;
}

QString FleetModel::Counts() const
{
    int verified = 0;
    int succeeded = 0;
    int skipped = 0;
    int failed = 0;
    int notStarted = 0;
    int toGo = 0;
    for (const Row &row : rows) {
        if (!row.inRun)
            continue;
        if (!row.ended) {
            ++toGo;
            continue;
        }
        switch (row.result.outcome) {
        case CameraResult::Outcome::Succeeded:
        case CameraResult::Outcome::Sent:
            ++(row.result.verified ? verified : succeeded);
            break;
        case CameraResult::Outcome::Skipped:
            ++skipped;
            break;
        case CameraResult::Outcome::NotStarted:
            ++notStarted;
            break;
        case CameraResult::Outcome::Failed:
        case CameraResult::Outcome::Interrupted:
        case CameraResult::Outcome::Missing:
            ++failed;
            break;
        }
    }
    QStringList parts;
    const auto add = [&parts](int count, const QString &text) {
        if (count > 0)
            parts.append(text.arg(count));
    };
    add(verified, tr("%1 verified"));
    add(succeeded, tr("%1 succeeded"));
    add(skipped, tr("%1 skipped"));
    add(failed, tr("%1 failed"));
    add(notStarted, tr("%1 not started"));
    add(toGo, tr("%1 to go"));
    return parts.join(QStringLiteral(", "));
}

QByteArray FleetModel::ExportJson() const
{
    const QList<CameraResult> results = Results();
    if (results.isEmpty())
        return ExportForm::SearchJson(Cameras());
    return ExportForm::RunJson(runImage, results);
}

QByteArray FleetModel::ExportCsv() const
{
    return ExportForm::SearchCsv(Cameras());
}
