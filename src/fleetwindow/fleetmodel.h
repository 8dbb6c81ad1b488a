#ifndef FLEETMODEL_H
#define FLEETMODEL_H

#include "camerarecord.h"
#include "cameraresult.h"
#include "selection.h"

#include <QAbstractTableModel>
#include <QHash>
#include <QList>
#include <QSet>
#include <QString>
#include <QStringList>

class ExpectedCameras;
class ImageSnapshot;
class UpdatePlan;

// The cameras of the fleet window, one row each, with what the operator
// chose and where each camera's update stands. A camera is one row however
// often it answers: it is known by its MAC, at whatever address it last
// answered. The rows are plain data; the view decides how they look.
class FleetModel : public QAbstractTableModel
{
    Q_OBJECT
public:
    enum Column {
        IpColumn, // carries the check box
        MacColumn,
        SnColumn,
        NameColumn,
        TypeColumn,
        OsColumn,
        FwColumn,
        LastUpdateColumn,
        StateColumn,
        ColumnCount
    };
    // The State column's progress in percent, or -1 where no bar belongs.
    static constexpr int ProgressRole = Qt::UserRole + 1;
    // What the columns sort by: the address as a number, the rest as shown.
    static constexpr int SortRole = Qt::UserRole + 2;

    // Where one camera stands, in the order a run moves it on.
    enum class Phase {
        Idle,
        Missing, // expected, but it did not answer the search
        Planned, // what a check decided
        Waiting,
        Announcing,
        Sending,
        Writing, // the camera writes the image, and says how far
        Restarting,
        Ended,
    };
    struct State
    {
        Phase phase = Phase::Idle;
        int percent = 0;
        QString plan;
        // Only once the phase is Ended.
        CameraResult result = CameraResult();
    };

    explicit FleetModel(QObject *parent = nullptr);

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    int columnCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    bool setData(const QModelIndex &index, const QVariant &value, int role = Qt::EditRole) override;
    Qt::ItemFlags flags(const QModelIndex &index) const override;
    QVariant headerData(
        int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

    // The words a row's state shows.
    static QString StateText(const State &state);
    // A camera job's phase, by its key, as a row shows it.
    static Phase PhaseOf(const QString &jobPhaseKey);

    // A new search: a MAC that answers in it from two addresses is two
    // cameras, where across two searches it is one that moved.
    void BeginSearch();
    // A camera that answered: a new row, or its row brought up to date.
    void AddCamera(const CameraRecord &camera);
    // Cameras expected that did not answer.
    void AddMissing(const QList<CameraRecord> &cameras);
    // Those of expected that did not answer the last search, whatever
    // answered the ones before, shown as missing; how many, or -1 before
    // any search.
    int ShowMissing(const ExpectedCameras &expected);
    // The camera by its MAC, or by its address when its MAC names no single
    // camera.
    void SetLastUpdate(const QString &ipOrMac, const QString &text);
    // The cameras that answered, and their types in the order first seen.
    QList<CameraRecord> Cameras() const;
    QStringList Types() const;

    QList<CameraRecord> Checked() const;
    int CheckedCount() const;
    void SetChecked(int row, bool checked);
    // Checks every camera that answered, of that type (any when empty),
    // whose firmware is not target, and unchecks the rest. How many it
    // checked.
    int SelectOutdated(const QString &type, const QString &target);
    // Checks exactly the cameras whose result of the last run was not a
    // success.
    int SelectRetry();

    // The last run's results as --json gives them, its image first, or each
    // camera's search line before any run; and the cameras as --csv lists
    // them.
    QByteArray ExportJson() const;
    QByteArray ExportCsv() const;

    // The plan an update of the checked cameras follows, as the command
    // line makes it of what a search found; false, with the refusal, when none may go ahead.
    bool MakePlan(const Selection &selection, const QList<CameraRecord> &found, UpdatePlan *plan,
        QString *refusal) const;
    // Each camera of the plan without a result of the last run shows what
    // it would do.
    void ShowPlan(const UpdatePlan &plan);
    // The run begins: its targets wait, the plan's own results are final,
    // and the results of the run before are gone. image, when there is one,
    // is what the run sends.
    void BeginRun(const UpdatePlan &plan, const ImageSnapshot *image = nullptr);
    // A percent of -1 keeps the phase's own where it does not change.
    void SetPhase(const QString &ip, Phase phase, int percent = -1);
    // A camera verified on the version shows it as its FW from then on.
    void SetResult(const CameraResult &result, const QString &verifiedVersion = QString());
    // The last run's results, in the rows' order.
    QList<CameraResult> Results() const;
    // "3 verified, 1 failed, 36 to go": the run so far.
    QString Counts() const;

private:
    struct Row
    {
        CameraRecord camera;
        bool checked = false;
        bool inRun = false;
        QString lastUpdate;
        State state;
        // The last run's result, whatever the row shows since.
        bool ended = false;
        CameraResult result = CameraResult();
    };
    int RowOf(const QString &ipOrMac) const;
    // By its MAC while that names one camera, else at its address with it.
    int RowOfCamera(const CameraRecord &camera) const;
    int RowOfResult(const CameraResult &result) const;
    void AppendRow(const CameraRecord &camera);
    void IndexAddresses();
    void SetState(int row, const State &state);
    QVariant Display(const Row &row, int column) const;

    QList<Row> rows;
    // Thousands of replies each look their camera up: by its MAC, or by
    // its address for a camera known by no MAC (the first row claiming it).
    QHash<QString, int> rowByMac;
    QHash<QString, int> rowByIp;
    // Upper case; they are in no row's key.
    QSet<QString> sharedMacs;
    QSet<int> answeredThisSearch;
    bool searched = false;
    // The last run's image and the type it was for, as its export begins.
    QByteArray runImage;
};

#endif // FLEETMODEL_H
