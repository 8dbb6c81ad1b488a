#ifndef JOURNAL_H
#define JOURNAL_H

#include "camerarecord.h"
#include "cameraresult.h"

#include <QHash>
#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

// What every front end remembers of the fleet, in one SQLite file: each run
// with its cameras' results, written as they come, and every camera a search
// has listed. A run whose process died leaves its cameras as they were, so
// that it can be resumed; a camera in flight in a live run is not updated by
// another at the same time.
//
// A file that is not such a journal (another file, another program's
// database, a truncated one, one of a newer schema) is refused and left
// exactly as it was. A write that fails
// (a full disk) is said through Error() and the run goes on without it.
class Journal
{
public:
    // The schema this program writes; older ones are migrated on opening.
    static constexpr int schemaVersion = 3;
    // How long a write waits for another process that holds the file.
    static constexpr int busyTimeoutMs = 5000;

    Journal();
    ~Journal();
    Journal(const Journal &) = delete;
    Journal &operator=(const Journal &) = delete;

    // $XDG_STATE_HOME/ordel-toolkits/journal.sqlite, or under
    // ~/.local/state when XDG_STATE_HOME is not set.
    static QString DefaultPath();

    // Reading leaves the file exactly as it is, and makes none: a journal
    // that does not exist is refused, one of an earlier schema is read as it
    // is.
    enum class Access { Write, Read };

    // Opens the file, making it and its folder (mode 0700) if need be. False,
    // with Error() naming the file and the reason, when it cannot be used.
    bool Open(const QString &path, Access access = Access::Write);
    bool IsOpen() const;
    QString Path() const { return path; }
    QString Error() const { return error; }
    // False once a write has failed: what the journal says of this run from
    // then on is incomplete.
    bool Healthy() const { return !writeFailed; }
    // Why the last read failed (a damaged page, say), naming the journal;
    // empty when it succeeded. A failed read returns what it had read so far,
    // which must not pass for all there is.
    QString ReadError() const { return readError; }

    // The process a run belongs to, as the journal tells a live one from a
    // dead one whose id the system has given to another process since.
    struct Process
    {
        qint64 pid = 0;
        QString started;

        static Process Current();
        bool IsAlive() const;
    };

    struct Run
    {
        qint64 id = 0;
        QString started;
        QString ended; // empty while it runs, or when its process died
        Process process;
        QString command;
        QStringList arguments;
        QString imagePath;
        qint64 imageSize = 0;
        QString imageMd5;
        QString fwVersion;
        // The one type of camera the image may go to, as the run decided it
        // (asked for, or the only type found); empty when any would do. None
        // for a run recorded before the journal kept it.
        std::optional<QString> typeRule;
        // The resume that took the run over last; 0 for none.
        qint64 takenBy = 0;
        // Counts by result word, "unfinished" for cameras without one.
        QList<QPair<QString, int>> counts;
        int cameras = 0;
        // The run a resume continued; its cameras' results are that run's.
        qint64 resumes = 0;
    };

    // One camera of a run; result empty while it has none.
    struct CameraRow
    {
        // The row's own key: the camera's address and MAC may change.
        qint64 key = 0;
        qint64 run = 0;
        QString ip;
        QString mac;
        QString sn;
        QString type;
        QString fwBefore;
        QString result;
        bool verified = false;
        QString message;
        double seconds = 0;
        QString ended;
        // Claimed and given no result: the run may have sent it something.
        bool claimed = false;
    };

    // A run about to touch its cameras: every one of them planned, those
    // already decided (skipped, refused, missing) with their results. 0 when
    // the write failed. keys, when given, gets each camera's row key.
    qint64 BeginRun(const Run &run, const QList<CameraRow> &cameras, QList<qint64> *keys = nullptr);
    // Claims the camera of the row key for the run just before anything is
    // sent to it, at the address and with the MAC it has now. Empty when the
    // run may go ahead; otherwise why not: the camera is in flight in another
    // run whose process lives, or the journal cannot say that it is not.
    QString Claim(qint64 run, qint64 key, const QString &ip, const QString &mac);
    // The final result of the camera of the row key; false when the write
    // failed.
    bool Finish(qint64 run, qint64 key, const CameraResult &result);
    bool EndRun(qint64 run);
    // Run run taken over by this process, for the resume resume, at once:
    // two resumes of one run never both go ahead. The resume's row, or 0
    // with the refusal, or with Error() when the write failed.
    qint64 TakeOver(qint64 run, const Run &resume, QString *refusal);

    // Each camera a search listed: its latest identity and address. A camera
    // is known by its MAC while no other camera reports that MAC, and by its
    // address otherwise (see CameraRecord::MacCanIdentify).
    bool RecordSearch(const QList<CameraRecord> &cameras);

    // The run to resume: run id, or the newest that did not end when id is
    // 0. None, with the reason, when there is no such run, it ended, or its
    // process still runs.
    std::optional<Run> Resumable(qint64 id, QString *refusal) const;

    // Newest first.
    QList<Run> Runs() const;
    std::optional<Run> FindRun(qint64 id) const;
    QList<CameraRow> Cameras(qint64 run) const;
    // Every result of the camera with that address or MAC, newest first.
    QList<CameraRow> CameraHistory(const QString &ipOrMac) const;
    // Whether a search or a run has met a camera of that address or MAC.
    bool KnowsCamera(const QString &ipOrMac) const;
    // The addresses of the cameras that report the MAC, when it names no
    // single camera: a placeholder, or one that several cameras share.
    // Empty while it names one camera.
    QStringList AddressesSharing(const QString &mac) const;
    // The last update of every camera: the latest result of an update run
    // that sent the camera its request (a skipped or unstarted camera got
    // none). Keyed by the MAC of a camera it names alone, by the address
    // otherwise: one read for a whole table, however many cameras it lists.
    QHash<QString, CameraRow> LastUpdates() const;
    // Whether a result of an update run means the camera was sent one.
    static bool IsUpdateAttempt(const QString &result);

    struct InventoryRow
    {
        CameraRecord camera;
        QString firstSeen;
        QString lastSeen;
        // The result of the camera's last update, and when that run began.
        QString lastResult;
        QString lastUpdate;
    };
    QList<InventoryRow> Inventory() const;

    // UTC, ISO 8601, to the second.
    static QString Now();

private:
    bool Refuse(const QString &reason);
    bool Failed(const QString &what, const QString &why = QString());
    bool Migrate();
    void TidyAfterReading() const;
    bool CheckTables();
    // Empty, or why it failed.
    QString RekeyInventory();
    bool ReadFailed(const class QSqlQuery &query, const QString &what) const;
    // Each camera's key in the inventory and in LastUpdates(): its MAC
    // unless that names no single camera.
    static QString CameraKey(const QString &mac, const QString &ip, const QSet<QString> &shared);
    QSet<QString> SharedMacs() const;
    qint64 InsertRun(const Run &run);
    static QString NotResumable(const Run &run);
    Run RunFrom(const class QSqlQuery &query) const;
    QList<CameraRow> CameraRows(class QSqlQuery &query) const;

    QString connection;
    QString path;
    QString error;
    mutable QString readError;
    bool writeFailed = false;
    // The schema of the file as it was opened: a journal opened for reading
    // keeps an earlier one.
    int schema = schemaVersion;
    bool tidyAfterReading = false;
};

#endif // JOURNAL_H
