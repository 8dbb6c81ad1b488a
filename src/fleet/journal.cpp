#include "journal.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QTemporaryFile>
#include <QVariant>

#include <algorithm>
#include <atomic>

namespace {

// The first bytes of every SQLite database file.
const QByteArray sqliteHeader = QByteArrayLiteral("SQLite format 3\0");
constexpr int headerBytes = 100;

// Each step takes a journal from the version before it to its own; a journal
// is migrated through every step past its version, in one transaction.
const char *const migrations[] = {
    // 1: runs, their cameras, and the cameras ever listed.
    "CREATE TABLE runs (id INTEGER PRIMARY KEY, started TEXT NOT NULL, ended TEXT,"
    " pid INTEGER NOT NULL, pid_started TEXT NOT NULL, command TEXT NOT NULL,"
    " arguments TEXT NOT NULL, image_path TEXT, image_size INTEGER, image_md5 TEXT,"
    " fw_version TEXT);"
    "CREATE TABLE cameras (run INTEGER NOT NULL REFERENCES runs(id), ip TEXT NOT NULL,"
    " mac TEXT NOT NULL, sn TEXT, type TEXT, fw_before TEXT, in_flight INTEGER NOT NULL"
    " DEFAULT 0, result TEXT, verified INTEGER NOT NULL DEFAULT 0, message TEXT,"
    " seconds REAL, ended TEXT);"
    "CREATE INDEX cameras_by_run ON cameras (run);"
    "CREATE INDEX cameras_by_mac ON cameras (mac, run);"
    "CREATE INDEX cameras_by_ip ON cameras (ip, run);"
    "CREATE INDEX cameras_in_flight ON cameras (in_flight) WHERE in_flight = 1;"
    "CREATE TABLE inventory (mac TEXT PRIMARY KEY, ip TEXT, sn TEXT, name TEXT, type TEXT,"
    " os TEXT, fw TEXT, first_seen TEXT NOT NULL, last_seen TEXT NOT NULL);",
    // 2: the inventory keyed by camera, as cameras may share a MAC (RekeyInventory()
    // then keys the placeholders by address); the run a resume continued.
    "CREATE TABLE inventory_by_key (key TEXT PRIMARY KEY, mac TEXT NOT NULL, ip TEXT, sn TEXT,"
    " name TEXT, type TEXT, os TEXT, fw TEXT, first_seen TEXT NOT NULL, last_seen TEXT NOT NULL);"
    "INSERT INTO inventory_by_key SELECT mac, mac, ip, sn, name, type, os, fw, first_seen,"
    " last_seen FROM inventory;"
    "DROP TABLE inventory;"
    "ALTER TABLE inventory_by_key RENAME TO inventory;"
    "CREATE INDEX inventory_by_mac ON inventory (mac);"
    "ALTER TABLE runs ADD COLUMN resumes INTEGER;",
    // 3: the type rule a resume keeps, and the resume that took a run over.
    "ALTER TABLE runs ADD COLUMN type_rule TEXT;"
    "ALTER TABLE runs ADD COLUMN taken_by INTEGER;",
};
static_assert(std::size(migrations) == Journal::schemaVersion, "a migration to each version");

// The tables every journal has had since its first schema.
const QStringList journalTables { QStringLiteral("runs"), QStringLiteral("cameras"),
    QStringLiteral("inventory") };

// The results of a camera that an update run sent its request to; one that
// failed before it cannot be told apart, as the journal keeps no phase.
const QStringList updateAttempts { QStringLiteral("succeeded"), QStringLiteral("failed"),
    QStringLiteral("interrupted") };

// The columns RunFrom() and CameraRows() read, in the order they read them;
// an older journal, read as it is, lacks what later schemas added.
QString runColumns(int schema)
{
    return QStringLiteral("SELECT id, started, ended, pid, pid_started, command, arguments, "
                          "image_path, image_size, image_md5, fw_version, %1, %2 FROM runs ")
        .arg(schema >= 2 ? QStringLiteral("resumes") : QStringLiteral("NULL"),
            schema >= 3 ? QStringLiteral("type_rule, taken_by") : QStringLiteral("NULL, NULL"));
}
const char cameraColumns[] = "SELECT run, ip, mac, sn, type, fw_before, result, verified, "
                             "message, seconds, ended, rowid, in_flight FROM cameras ";

QString nextConnectionName()
{
    static std::atomic<int> count { 0 };
    return QStringLiteral("journal-%1").arg(++count);
}

// The start time of a process in clock ticks since boot, field 22 of its
// stat file; empty when there is no such process.
QString processStart(qint64 pid)
{
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return QString();
    const QByteArray line = stat.readAll();
    // The command's name, in parentheses, may hold blanks itself.
    const QList<QByteArray> fields = line.mid(line.lastIndexOf(')') + 2).split(' ');
    // Fields counted from the state, the third.
    return fields.size() > 19 ? QString::fromLatin1(fields.at(19)) : QString();
}

// A camera the search did not find has none: an empty text, never a null.
QString normalMac(const QString &mac)
{
    return mac.isEmpty() ? QStringLiteral("") : mac.toUpper();
}

// Empty is a rule of its own (any type), stored as such, never as a null.
QVariant typeRuleValue(const std::optional<QString> &rule)
{
    if (!rule)
        return QVariant();
    return rule->isEmpty() ? QVariant(QStringLiteral("")) : QVariant(*rule);
}

} // namespace

Journal::Journal()
    : connection(nextConnectionName())
{
}

Journal::~Journal()
{
    {
        QSqlDatabase database = QSqlDatabase::database(connection, false);
        if (database.isOpen())
            database.close();
    }
    QSqlDatabase::removeDatabase(connection);
    if (tidyAfterReading)
        TidyAfterReading();
}

// A reader cannot remove the log files SQLite makes beside a journal in WAL
// mode. A connection that may write removes them as the last to close, and
// only then: another process's run keeps them. An empty log has nothing to
// write back to the journal.
void Journal::TidyAfterReading() const
{
    const QString wal = path + QStringLiteral("-wal");
    if (QFileInfo(wal).size() > 0
        || (!QFile::exists(wal) && !QFile::exists(path + QStringLiteral("-shm"))))
        return;
    const QString name = nextConnectionName();
    {
        QSqlDatabase database = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
        database.setDatabaseName(path);
        if (database.open()) {
            QSqlQuery query(database);
            query.exec(QStringLiteral("SELECT COUNT(*) FROM sqlite_master"));
        }
        database.close();
    }
    QSqlDatabase::removeDatabase(name);
}

QString Journal::DefaultPath()
{
    QString state = qEnvironmentVariable("XDG_STATE_HOME");
    if (state.isEmpty() || QDir::isRelativePath(state))
        state = QDir::homePath() + QStringLiteral("/.local/state");
    return state + QStringLiteral("/ordel-toolkits/journal.sqlite");
}

QString Journal::Now()
{
    return QDateTime::currentDateTimeUtc().toString(Qt::ISODate);
}

Journal::Process Journal::Process::Current()
{
    const qint64 pid = QCoreApplication::applicationPid();
    return { pid, processStart(pid) };
}

bool Journal::Process::IsAlive() const
{
    const QString now = processStart(pid);
    return !now.isEmpty() && now == started;
}

bool Journal::Open(const QString &file, Access access)
{
    path = file;
    readError.clear();
    tidyAfterReading = access == Access::Read && !QFile::exists(path + QStringLiteral("-wal"))
        && !QFile::exists(path + QStringLiteral("-shm"));
    const QFileInfo info(path);
    if (info.exists()) {
        if (!info.isFile())
            return Refuse(QStringLiteral("not a regular file"));
        QFile probe(path);
        if (!probe.open(QIODevice::ReadOnly))
            return Refuse(QStringLiteral("cannot read it: %1").arg(probe.errorString()));
        const QByteArray head = probe.read(headerBytes);
        if (info.size() > 0 && !head.startsWith(sqliteHeader))
            return Refuse(QStringLiteral("not an SQLite database"));
        if (info.size() > 0 && head.size() < headerBytes)
            return Refuse(QStringLiteral("truncated: %1 bytes").arg(info.size()));
    } else if (access == Access::Read) {
        return Refuse(QStringLiteral("there is no such file"));
    } else {
        // The default folder holds what operators did to their cameras:
        // theirs alone.
        const QString folder = info.absolutePath();
        if (!QDir(folder).exists()) {
            if (!QDir().mkpath(folder))
                return Refuse(QStringLiteral("cannot make the folder %1").arg(folder));
            QFile::setPermissions(
                folder, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
        }
    }
    // SQLite keeps its write-ahead log beside the file: a folder that takes
    // no new file fails every write, whatever the file's own mode.
    if (access == Access::Write
        && !QTemporaryFile(info.absolutePath() + QStringLiteral("/.journal-XXXXXX")).open())
        return Refuse(QStringLiteral("the folder %1 is not writable").arg(info.absolutePath()));

    QSqlDatabase database = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), connection);
    if (!database.isValid())
        return Refuse(QStringLiteral("Qt's SQLite driver (QSQLITE) is not installed"));
    database.setDatabaseName(path);
    database.setConnectOptions(
        QStringLiteral("QSQLITE_BUSY_TIMEOUT=%1%2")
            .arg(busyTimeoutMs)
            .arg(access == Access::Read ? QStringLiteral(";QSQLITE_OPEN_READONLY") : QString()));
    if (!database.open())
        return Refuse(database.lastError().text());

    QSqlQuery query(database);
    if (!query.exec(QStringLiteral("PRAGMA user_version")) || !query.next())
        return Refuse(query.lastError().text());
    const int version = query.value(0).toInt();
    query.finish();
    if (version > schemaVersion)
        return Refuse(QStringLiteral("written by a newer program (schema %1; this one knows up "
                                     "to %2), so it is left as it is")
                          .arg(version)
                          .arg(schemaVersion));
    // A file cut short still has its header, which counts the pages it had.
    const bool walPending = QFileInfo(path + QStringLiteral("-wal")).size() > 0;
    if (version > 0 && !walPending && query.exec(QStringLiteral("PRAGMA page_count"))
        && query.next()) {
        const qint64 pages = query.value(0).toLongLong();
        if (query.exec(QStringLiteral("PRAGMA page_size")) && query.next()
            && QFileInfo(path).size() < pages * query.value(0).toLongLong())
            return Refuse(QStringLiteral("truncated: %1 bytes").arg(QFileInfo(path).size()));
        query.finish();
    }
    schema = version;
    if (!CheckTables())
        return false;
    if (access == Access::Read) {
        if (schema == 0)
            return Refuse(QStringLiteral("nothing was recorded in it yet"));
        error.clear();
        return true;
    }
    if (!query.exec(QStringLiteral("PRAGMA journal_mode=WAL")) || !query.next())
        return Refuse(query.lastError().text());
    const bool wal
        = query.value(0).toString().compare(QLatin1String("wal"), Qt::CaseInsensitive) == 0;
    query.finish();
    if (!wal)
        return Refuse(QStringLiteral("cannot write to it"));
    if (!Migrate())
        return false;
    schema = schemaVersion;
    error.clear();
    return true;
}

// Another program's database is no journal, even with no version of its
// own: it is refused before a table is added or its mode switched.
bool Journal::CheckTables()
{
    QSqlQuery query(QSqlDatabase::database(connection, false));
    if (!query.exec(QStringLiteral(
            "SELECT name FROM sqlite_master WHERE type = 'table' AND name NOT LIKE 'sqlite%'")))
        return Refuse(query.lastError().text());
    QStringList tables;
    while (query.next())
        tables.append(query.value(0).toString());
    if (query.lastError().isValid())
        return Refuse(query.lastError().text());
    query.finish();
    const bool journal = schema == 0
        ? tables.isEmpty()
        : std::all_of(journalTables.cbegin(), journalTables.cend(),
            [&tables](const QString &table) { return tables.contains(table); });
    if (journal)
        return true;
    tables.sort();
    return Refuse(QStringLiteral("it is no journal: it holds the tables %1, so it is left as it is")
                      .arg(tables.join(QStringLiteral(", "))));
}

bool Journal::IsOpen() const
{
    return QSqlDatabase::database(connection, false).isOpen();
}

// Also proves the file writable: a journal a run could not write to is
// refused before any camera is touched.
bool Journal::Migrate()
{
    QSqlDatabase database = QSqlDatabase::database(connection, false);
    QSqlQuery query(database);
    if (!query.exec(QStringLiteral("BEGIN IMMEDIATE")))
        return Refuse(QStringLiteral("cannot write to it: %1").arg(query.lastError().text()));
    if (!query.exec(QStringLiteral("PRAGMA user_version")) || !query.next()) {
        database.rollback();
        return Refuse(query.lastError().text());
    }
    const int version = query.value(0).toInt();
    query.finish();
    for (int step = version; step < schemaVersion; ++step) {
        for (const QString &statement :
            QString::fromLatin1(migrations[step]).split(QLatin1Char(';'), Qt::SkipEmptyParts)) {
            if (!query.exec(statement)) {
                const QString reason = query.lastError().text();
                query.exec(QStringLiteral("ROLLBACK"));
                return Refuse(reason);
            }
        }
    }
    if (version < 2) {
        const QString reason = RekeyInventory();
        if (!reason.isEmpty()) {
            query.exec(QStringLiteral("ROLLBACK"));
            return Refuse(QStringLiteral("cannot migrate its inventory: %1").arg(reason));
        }
    }
    if (!query.exec(QStringLiteral("PRAGMA user_version = %1").arg(schemaVersion))
        || !query.exec(QStringLiteral("COMMIT"))) {
        const QString reason = query.lastError().text();
        query.exec(QStringLiteral("ROLLBACK"));
        return Refuse(QStringLiteral("cannot write to it: %1").arg(reason));
    }
    return true;
}

qint64 Journal::BeginRun(const Run &run, const QList<CameraRow> &cameras, QList<qint64> *keys)
{
    QSqlDatabase database = QSqlDatabase::database(connection, false);
    if (!database.transaction()) {
        Failed(QStringLiteral("begin the run"));
        return 0;
    }
    const qint64 id = InsertRun(run);
    if (id == 0) {
        database.rollback();
        return 0;
    }
    QSqlQuery query(database);
    query.prepare(QStringLiteral(
        "INSERT INTO cameras (run, ip, mac, sn, type, fw_before, result, verified, message, "
        "seconds, ended) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)"));
    QList<qint64> made;
    for (const CameraRow &camera : cameras) {
        query.addBindValue(id);
        query.addBindValue(camera.ip);
        query.addBindValue(normalMac(camera.mac));
        query.addBindValue(camera.sn);
        query.addBindValue(camera.type);
        query.addBindValue(camera.fwBefore);
        query.addBindValue(camera.result.isEmpty() ? QVariant() : QVariant(camera.result));
        query.addBindValue(camera.verified ? 1 : 0);
        query.addBindValue(camera.message);
        query.addBindValue(camera.seconds);
        query.addBindValue(camera.result.isEmpty() ? QVariant() : QVariant(Now()));
        if (!query.exec()) {
            Failed(QStringLiteral("plan the run's cameras"), query.lastError().text());
            database.rollback();
            return 0;
        }
        made.append(query.lastInsertId().toLongLong());
    }
    if (!database.commit()) {
        Failed(QStringLiteral("begin the run"));
        return 0;
    }
    if (keys)
        *keys = made;
    return id;
}

// Inside the caller's transaction.
qint64 Journal::InsertRun(const Run &run)
{
    const Process process = Process::Current();
    QSqlQuery query(QSqlDatabase::database(connection, false));
    query.prepare(QStringLiteral(
        "INSERT INTO runs (started, pid, pid_started, command, arguments, image_path, "
        "image_size, image_md5, fw_version, type_rule, resumes) VALUES (?, ?, ?, ?, ?, ?, ?, ?, "
        "?, ?, ?)"));
    query.addBindValue(Now());
    query.addBindValue(process.pid);
    query.addBindValue(process.started);
    query.addBindValue(run.command);
    query.addBindValue(QString::fromUtf8(
        QJsonDocument(QJsonArray::fromStringList(run.arguments)).toJson(QJsonDocument::Compact)));
    query.addBindValue(run.imagePath);
    query.addBindValue(run.imageSize);
    query.addBindValue(run.imageMd5);
    query.addBindValue(run.fwVersion);
    query.addBindValue(typeRuleValue(run.typeRule));
    query.addBindValue(run.resumes > 0 ? QVariant(run.resumes) : QVariant());
    if (!query.exec()) {
        Failed(QStringLiteral("begin the run"), query.lastError().text());
        return 0;
    }
    return query.lastInsertId().toLongLong();
}

QString Journal::Claim(qint64 run, qint64 key, const QString &ip, const QString &mac)
{
    const QString unwritten = QStringLiteral("not started: the journal could not be written");
    QSqlDatabase database = QSqlDatabase::database(connection, false);
    QSqlQuery query(database);
    // Immediate: two runs that claim one camera at once take turns here.
    if (!query.exec(QStringLiteral("BEGIN IMMEDIATE"))) {
        Failed(QStringLiteral("claim the camera"));
        return unwritten;
    }
    query.prepare(QStringLiteral(
        "SELECT runs.id, runs.pid, runs.pid_started FROM cameras JOIN runs ON runs.id = "
        "cameras.run WHERE cameras.in_flight = 1 AND runs.id != ? AND runs.ended IS NULL AND "
        "(cameras.ip = ? OR (? != '' AND cameras.mac = ?))"));
    // A placeholder MAC that many cameras report says nothing of which one
    // another run has: there the address alone tells.
    const QString identifying
        = CameraRecord::MacCanIdentify(mac) ? normalMac(mac) : QStringLiteral("");
    query.addBindValue(run);
    query.addBindValue(ip);
    query.addBindValue(identifying);
    query.addBindValue(identifying);
    QString busy;
    // A camera the journal cannot vouch for is taken as busy, never as free.
    if (!query.exec())
        busy = QStringLiteral("not started: the journal could not tell whether another run "
                              "has it in flight: %1")
                   .arg(query.lastError().text());
    while (busy.isEmpty() && query.next()) {
        const Process other { query.value(1).toLongLong(), query.value(2).toString() };
        if (other.IsAlive())
            busy = QStringLiteral("in flight in run %1 of this journal (process %2), which "
                                  "still runs")
                       .arg(query.value(0).toLongLong())
                       .arg(other.pid);
    }
    query.finish();
    if (busy.isEmpty()) {
        // Where it is now, so that another run knows it by its MAC and
        // address, also one planned before it had answered a search.
        QSqlQuery mark(database);
        mark.prepare(QStringLiteral(
            "UPDATE cameras SET in_flight = 1, ip = ?, mac = CASE WHEN ? != '' THEN ? ELSE mac "
            "END WHERE rowid = ? AND run = ?"));
        mark.addBindValue(ip);
        mark.addBindValue(normalMac(mac));
        mark.addBindValue(normalMac(mac));
        mark.addBindValue(key);
        mark.addBindValue(run);
        if (!mark.exec()) {
            Failed(QStringLiteral("claim the camera"), mark.lastError().text());
            busy = unwritten;
        } else if (mark.numRowsAffected() != 1) {
            busy = QStringLiteral("not started: its row of run %1 is not in the journal").arg(run);
        }
    }
    if (!query.exec(QStringLiteral("COMMIT"))) {
        query.exec(QStringLiteral("ROLLBACK"));
        Failed(QStringLiteral("claim the camera"));
        busy = unwritten;
    }
    return busy;
}

bool Journal::Finish(qint64 run, qint64 key, const CameraResult &result)
{
    QSqlQuery query(QSqlDatabase::database(connection, false));
    // By the row, wherever the camera turned out to be and whatever MAC it
    // answered with: one camera is one row of its run.
    query.prepare(QStringLiteral(
        "UPDATE cameras SET in_flight = 0, ip = ?, mac = CASE WHEN ? != '' THEN ? ELSE mac END, "
        "type = CASE WHEN ? != '' THEN ? ELSE type END, result = ?, verified = ?, message = ?, "
        "seconds = ?, ended = ? WHERE rowid = ? AND run = ?"));
    const QString type = result.type.isEmpty() ? QStringLiteral("") : result.type;
    query.addBindValue(result.ip);
    query.addBindValue(normalMac(result.mac));
    query.addBindValue(normalMac(result.mac));
    query.addBindValue(type);
    query.addBindValue(type);
    query.addBindValue(CameraResult::OutcomeName(result.outcome));
    query.addBindValue(result.verified ? 1 : 0);
    query.addBindValue(result.message);
    query.addBindValue(result.seconds);
    query.addBindValue(Now());
    query.addBindValue(key);
    query.addBindValue(run);
    if (!query.exec())
        return Failed(
            QStringLiteral("record %1's result").arg(result.ip), query.lastError().text());
    return query.numRowsAffected() == 1
        || Failed(QStringLiteral("record %1's result").arg(result.ip),
            QStringLiteral("its row of run %1 is not there").arg(run));
}

bool Journal::EndRun(qint64 run)
{
    QSqlQuery query(QSqlDatabase::database(connection, false));
    query.prepare(QStringLiteral("UPDATE runs SET ended = ? WHERE id = ?"));
    query.addBindValue(Now());
    query.addBindValue(run);
    return query.exec() || Failed(QStringLiteral("end the run"));
}

qint64 Journal::TakeOver(qint64 run, const Run &resume, QString *refusal)
{
    QSqlDatabase database = QSqlDatabase::database(connection, false);
    QSqlQuery query(database);
    // Immediate: a second resume of the run waits here, then finds it taken.
    if (!query.exec(QStringLiteral("BEGIN IMMEDIATE"))) {
        Failed(QStringLiteral("take the run over"));
        *refusal = error;
        return 0;
    }
    const std::optional<Run> found = FindRun(run);
    *refusal = found ? NotResumable(*found)
                     : QStringLiteral("the journal %1 has no run %2").arg(path).arg(run);
    qint64 id = 0;
    if (refusal->isEmpty()) {
        id = InsertRun(resume);
        const Process process = Process::Current();
        QSqlQuery take(database);
        take.prepare(
            QStringLiteral("UPDATE runs SET pid = ?, pid_started = ?, taken_by = ? WHERE id = ?"));
        take.addBindValue(process.pid);
        take.addBindValue(process.started);
        take.addBindValue(id);
        take.addBindValue(run);
        if (id != 0 && !take.exec()) {
            Failed(QStringLiteral("take the run over"), take.lastError().text());
            id = 0;
        }
        if (id != 0 && !query.exec(QStringLiteral("COMMIT"))) {
            Failed(QStringLiteral("take the run over"));
            id = 0;
        }
        if (id == 0)
            *refusal = error;
    }
    if (id == 0)
        query.exec(QStringLiteral("ROLLBACK"));
    return id;
}

bool Journal::RecordSearch(const QList<CameraRecord> &cameras)
{
    QSet<QString> shared = SharedMacs();
    if (!readError.isEmpty())
        return Failed(QStringLiteral("record the search"), readError);
    const QSet<QString> sharedNow = CameraRecord::SharedMacs(cameras);
    shared.unite(sharedNow);
    QSqlDatabase database = QSqlDatabase::database(connection, false);
    if (!database.transaction())
        return Failed(QStringLiteral("record the search"));
    const QString now = Now();
    QSqlQuery query(database);
    // A MAC that a second camera reports from now on no longer names the
    // camera the inventory knew by it: that one is known by its address.
    query.prepare(QStringLiteral("UPDATE OR REPLACE inventory SET key = ip WHERE key = ?"));
    for (const QString &mac : sharedNow) {
        query.addBindValue(mac);
        if (!query.exec()) {
            Failed(QStringLiteral("record the search"), query.lastError().text());
            database.rollback();
            return false;
        }
    }
    query.prepare(QStringLiteral(
        "INSERT INTO inventory (key, mac, ip, sn, name, type, os, fw, first_seen, last_seen) "
        "VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?) ON CONFLICT (key) DO UPDATE SET mac = excluded.mac, "
        "ip = excluded.ip, sn = excluded.sn, name = excluded.name, type = excluded.type, "
        "os = excluded.os, fw = excluded.fw, last_seen = excluded.last_seen"));
    for (const CameraRecord &camera : cameras) {
        query.addBindValue(CameraKey(camera.mac, camera.ip, shared));
        query.addBindValue(normalMac(camera.mac));
        for (const QString &field :
            { camera.ip, camera.sn, camera.name, camera.type, camera.os, camera.fw })
            query.addBindValue(field);
        query.addBindValue(now);
        query.addBindValue(now);
        if (!query.exec()) {
            Failed(QStringLiteral("record the search"), query.lastError().text());
            database.rollback();
            return false;
        }
    }
    return database.commit() || Failed(QStringLiteral("record the search"));
}

// A journal of the first schema knew its cameras by MAC alone: a placeholder
// there stood for every camera that reported it, and now for the last one.
QString Journal::RekeyInventory()
{
    QSqlDatabase database = QSqlDatabase::database(connection, false);
    QSqlQuery query(database);
    if (!query.exec(QStringLiteral("SELECT key, ip FROM inventory")))
        return query.lastError().text();
    QList<QPair<QString, QString>> placeholders;
    while (query.next()) {
        if (!CameraRecord::MacCanIdentify(query.value(0).toString()))
            placeholders.append({ query.value(0).toString(), query.value(1).toString() });
    }
    if (query.lastError().isValid())
        return query.lastError().text();
    QSqlQuery rekey(database);
    rekey.prepare(QStringLiteral("UPDATE OR REPLACE inventory SET key = ? WHERE key = ?"));
    for (const auto &[key, ip] : placeholders) {
        rekey.addBindValue(ip);
        rekey.addBindValue(key);
        if (!rekey.exec())
            return rekey.lastError().text();
    }
    return QString();
}

QString Journal::CameraKey(const QString &mac, const QString &ip, const QSet<QString> &shared)
{
    return CameraRecord::MacCanIdentify(mac) && !shared.contains(mac.toUpper()) ? mac.toUpper()
                                                                                : ip;
}

// The MACs the inventory knows at more than one camera: kept by their
// addresses once two cameras reported them, even when one of them is off.
QSet<QString> Journal::SharedMacs() const
{
    QSet<QString> shared;
    if (schema < 2)
        return shared;
    QSqlQuery query(QSqlDatabase::database(connection, false));
    if (query.exec(QStringLiteral("SELECT DISTINCT mac FROM inventory WHERE key <> mac"))) {
        while (query.next()) {
            if (CameraRecord::MacCanIdentify(query.value(0).toString()))
                shared.insert(query.value(0).toString());
        }
    }
    ReadFailed(query, QStringLiteral("the inventory"));
    return shared;
}

bool Journal::ReadFailed(const QSqlQuery &query, const QString &what) const
{
    if (!query.lastError().isValid())
        return false;
    readError = QStringLiteral("could not read %1 from the journal %2: %3")
                    .arg(what, path, query.lastError().text().trimmed());
    return true;
}

Journal::Run Journal::RunFrom(const QSqlQuery &query) const
{
    Run run;
    run.id = query.value(0).toLongLong();
    run.started = query.value(1).toString();
    run.ended = query.value(2).toString();
    run.process = { query.value(3).toLongLong(), query.value(4).toString() };
    run.command = query.value(5).toString();
    for (const QJsonValue &argument :
        QJsonDocument::fromJson(query.value(6).toString().toUtf8()).array())
        run.arguments.append(argument.toString());
    run.imagePath = query.value(7).toString();
    run.imageSize = query.value(8).toLongLong();
    run.imageMd5 = query.value(9).toString();
    run.fwVersion = query.value(10).toString();
    run.resumes = query.value(11).toLongLong();
    if (!query.value(12).isNull())
        run.typeRule = query.value(12).toString();
    run.takenBy = query.value(13).toLongLong();
    QSqlQuery counts(QSqlDatabase::database(connection, false));
    counts.prepare(QStringLiteral("SELECT COALESCE(result, 'unfinished'), COUNT(*) FROM cameras "
                                  "WHERE run = ? GROUP BY 1 ORDER BY 1"));
    counts.addBindValue(run.id);
    if (counts.exec()) {
        while (counts.next()) {
            run.counts.append({ counts.value(0).toString(), counts.value(1).toInt() });
            run.cameras += counts.value(1).toInt();
        }
    }
    ReadFailed(counts, QStringLiteral("run %1's cameras").arg(run.id));
    return run;
}

std::optional<Journal::Run> Journal::Resumable(qint64 id, QString *refusal) const
{
    if (id == 0) {
        for (const Run &run : Runs()) {
            const QString why = NotResumable(run);
            if (why.isEmpty())
                return run;
            // A second resume without a number means the same run, not an
            // older one.
            if (run.ended.isEmpty() && run.takenBy != 0) {
                *refusal = why;
                return std::nullopt;
            }
        }
        *refusal = QStringLiteral("no run of the journal %1 is left to resume: each ended, or "
                                  "still runs")
                       .arg(path);
        return std::nullopt;
    }
    const std::optional<Run> run = FindRun(id);
    *refusal = run ? NotResumable(*run)
                   : QStringLiteral("the journal %1 has no run %2").arg(path).arg(id);
    if (!refusal->isEmpty())
        return std::nullopt;
    return run;
}

// Empty when the run can be resumed.
QString Journal::NotResumable(const Run &run)
{
    const QStringList resumable { QStringLiteral("update"), QStringLiteral("restart"),
        QStringLiteral("shutdown") };
    if (!resumable.contains(run.command))
        return QStringLiteral("run %1 is a %2, which changes no camera")
            .arg(run.id)
            .arg(run.command);
    if (!run.ended.isEmpty())
        return QStringLiteral("run %1 ended at %2: nothing is left to resume")
            .arg(run.id)
            .arg(run.ended);
    if (!run.process.IsAlive())
        return QString();
    if (run.takenBy != 0)
        return QStringLiteral("run %1 is being resumed by run %2 (process %3)")
            .arg(run.id)
            .arg(run.takenBy)
            .arg(run.process.pid);
    return QStringLiteral("run %1 still runs (process %2)").arg(run.id).arg(run.process.pid);
}

QList<Journal::Run> Journal::Runs() const
{
    readError.clear();
    QList<Run> runs;
    QSqlQuery query(QSqlDatabase::database(connection, false));
    if (query.exec(runColumns(schema) + QLatin1String("ORDER BY id DESC"))) {
        while (query.next())
            runs.append(RunFrom(query));
    }
    ReadFailed(query, QStringLiteral("the runs"));
    return runs;
}

std::optional<Journal::Run> Journal::FindRun(qint64 id) const
{
    readError.clear();
    QSqlQuery query(QSqlDatabase::database(connection, false));
    query.prepare(runColumns(schema) + QLatin1String("WHERE id = ?"));
    query.addBindValue(id);
    if (!query.exec() || !query.next()) {
        ReadFailed(query, QStringLiteral("run %1").arg(id));
        return std::nullopt;
    }
    return RunFrom(query);
}

QList<Journal::CameraRow> Journal::CameraRows(QSqlQuery &query) const
{
    readError.clear();
    QList<CameraRow> rows;
    if (query.exec()) {
        while (query.next()) {
            CameraRow row;
            row.run = query.value(0).toLongLong();
            row.ip = query.value(1).toString();
            row.mac = query.value(2).toString();
            row.sn = query.value(3).toString();
            row.type = query.value(4).toString();
            row.fwBefore = query.value(5).toString();
            row.result = query.value(6).toString();
            row.verified = query.value(7).toInt() != 0;
            row.message = query.value(8).toString();
            row.seconds = query.value(9).toDouble();
            row.ended = query.value(10).toString();
            row.key = query.value(11).toLongLong();
            row.claimed = query.value(12).toInt() != 0 && row.result.isEmpty();
            rows.append(row);
        }
    }
    ReadFailed(query, QStringLiteral("the cameras"));
    return rows;
}

QList<Journal::CameraRow> Journal::Cameras(qint64 run) const
{
    QSqlQuery query(QSqlDatabase::database(connection, false));
    query.prepare(QLatin1String(cameraColumns) + QLatin1String("WHERE run = ? ORDER BY rowid"));
    query.addBindValue(run);
    return CameraRows(query);
}

QList<Journal::CameraRow> Journal::CameraHistory(const QString &ipOrMac) const
{
    QSqlQuery query(QSqlDatabase::database(connection, false));
    query.prepare(QLatin1String(cameraColumns)
        + QLatin1String("WHERE ip = ? OR mac = ? ORDER BY run DESC, rowid"));
    query.addBindValue(ipOrMac);
    query.addBindValue(normalMac(ipOrMac));
    return CameraRows(query);
}

bool Journal::KnowsCamera(const QString &ipOrMac) const
{
    readError.clear();
    QSqlQuery query(QSqlDatabase::database(connection, false));
    query.prepare(QStringLiteral("SELECT 1 FROM inventory WHERE ip = ? OR mac = ? UNION ALL "
                                 "SELECT 1 FROM cameras WHERE ip = ? OR mac = ? LIMIT 1"));
    for (int table = 0; table < 2; ++table) {
        query.addBindValue(ipOrMac);
        query.addBindValue(normalMac(ipOrMac));
    }
    const bool known = query.exec() && query.next();
    ReadFailed(query, QStringLiteral("the cameras"));
    return known;
}

QStringList Journal::AddressesSharing(const QString &mac) const
{
    readError.clear();
    const QString upper = normalMac(mac);
    // The inventory keeps a camera of a shared MAC by its address; a
    // placeholder names no camera, wherever it was reported.
    const QString sql = CameraRecord::MacCanIdentify(upper)
        ? QStringLiteral("SELECT DISTINCT ip FROM inventory WHERE mac = ? AND %1 ORDER BY ip")
              .arg(schema >= 2 ? QStringLiteral("key <> mac") : QStringLiteral("0"))
        : QStringLiteral("SELECT ip FROM inventory WHERE mac = ? UNION SELECT ip FROM cameras "
                         "WHERE mac = ? ORDER BY ip");
    QSqlQuery query(QSqlDatabase::database(connection, false));
    query.prepare(sql);
    query.addBindValue(upper);
    if (!CameraRecord::MacCanIdentify(upper))
        query.addBindValue(upper);
    QStringList addresses;
    if (query.exec()) {
        while (query.next())
            addresses.append(query.value(0).toString());
    }
    ReadFailed(query, QStringLiteral("the inventory"));
    return addresses;
}

bool Journal::IsUpdateAttempt(const QString &result)
{
    return updateAttempts.contains(result);
}

QHash<QString, Journal::CameraRow> Journal::LastUpdates() const
{
    const QSet<QString> shared = SharedMacs();
    const QString sharedError = readError;
    QSqlQuery query(QSqlDatabase::database(connection, false));
    query.prepare(QLatin1String(cameraColumns)
        + QStringLiteral("WHERE result IN ('%1') AND run IN (SELECT id FROM runs WHERE command "
                         "IN ('update', 'resume')) ORDER BY run DESC, rowid")
              .arg(updateAttempts.join(QStringLiteral("', '"))));
    QHash<QString, CameraRow> latest;
    for (const CameraRow &row : CameraRows(query)) {
        const QString key = CameraKey(row.mac, row.ip, shared);
        if (!latest.contains(key))
            latest.insert(key, row);
    }
    if (readError.isEmpty())
        readError = sharedError;
    return latest;
}

QList<Journal::InventoryRow> Journal::Inventory() const
{
    readError.clear();
    QList<InventoryRow> rows;
    QSqlQuery query(QSqlDatabase::database(connection, false));
    // A camera known by its address has its results at that address under
    // its MAC; one of the first schema is known by its MAC.
    const QString key = schema >= 2 ? QStringLiteral("key") : QStringLiteral("mac");
    const QString lastUpdate
        = QStringLiteral("FROM cameras JOIN runs ON runs.id = cameras.run WHERE (cameras.mac = "
                         "inventory.%1 OR (inventory.%1 = inventory.ip AND cameras.ip = "
                         "inventory.ip AND cameras.mac = inventory.mac)) AND runs.command IN "
                         "('update', 'resume') AND cameras.result IN ('%2') ORDER BY cameras.run "
                         "DESC LIMIT 1")
              .arg(key, updateAttempts.join(QStringLiteral("', '")));
    if (query.exec(QStringLiteral("SELECT mac, ip, sn, name, type, os, fw, first_seen, "
                                  "last_seen, (SELECT cameras.result %1), (SELECT runs.started "
                                  "%1) FROM inventory ORDER BY mac, ip")
                       .arg(lastUpdate))) {
        while (query.next()) {
            InventoryRow row;
            row.camera = { query.value(1).toString(), query.value(0).toString(),
                query.value(2).toString(), query.value(3).toString(), query.value(4).toString(),
                query.value(5).toString(), query.value(6).toString() };
            row.firstSeen = query.value(7).toString();
            row.lastSeen = query.value(8).toString();
            row.lastResult = query.value(9).toString();
            row.lastUpdate = query.value(10).toString();
            rows.append(row);
        }
    }
    ReadFailed(query, QStringLiteral("the inventory"));
    return rows;
}

bool Journal::Refuse(const QString &reason)
{
    error = QStringLiteral("cannot use the journal %1: %2").arg(path, reason);
    // Nothing is written to a journal that was refused.
    {
        QSqlDatabase database = QSqlDatabase::database(connection, false);
        if (database.isOpen())
            database.close();
    }
    return false;
}

bool Journal::Failed(const QString &what, const QString &why)
{
    writeFailed = true;
    QString reason = why.trimmed();
    if (reason.isEmpty())
        reason = QSqlDatabase::database(connection, false).lastError().text().trimmed();
    error = QStringLiteral("could not %1 in the journal %2: %3")
                .arg(what, path, reason.isEmpty() ? QStringLiteral("the write failed") : reason);
    return false;
}
