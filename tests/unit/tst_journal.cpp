#include "journal.h"
#include "rollout.h"
#include "updateplan.h"

#include <QCryptographicHash>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QtTest>

#include <sys/wait.h>
#include <unistd.h>

namespace {

QByteArray digestOf(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly)
        ? QCryptographicHash::hash(file.readAll(), QCryptographicHash::Sha256)
        : QByteArray();
}

// Runs SQL on the file behind the journal's back, as another program would.
void poke(const QString &path, const QStringList &statements)
{
    {
        QSqlDatabase database = QSqlDatabase::addDatabase("QSQLITE", "poke");
        database.setDatabaseName(path);
        QVERIFY(database.open());
        QSqlQuery query(database);
        for (const QString &statement : statements)
            QVERIFY2(query.exec(statement), qPrintable(statement));
        database.close();
    }
    QSqlDatabase::removeDatabase("poke");
}

// A journal as the first schema wrote it, holding the rows the statements
// insert.
void firstSchema(const QString &path, const QStringList &rows)
{
    poke(path,
        QStringList { "CREATE TABLE runs (id INTEGER PRIMARY KEY, started TEXT NOT NULL, ended "
                      "TEXT, pid INTEGER NOT NULL, pid_started TEXT NOT NULL, command TEXT NOT "
                      "NULL, arguments TEXT NOT NULL, image_path TEXT, image_size INTEGER, "
                      "image_md5 TEXT, fw_version TEXT)",
            "CREATE TABLE cameras (run INTEGER NOT NULL REFERENCES runs(id), ip TEXT NOT NULL, "
            "mac TEXT NOT NULL, sn TEXT, type TEXT, fw_before TEXT, in_flight INTEGER NOT NULL "
            "DEFAULT 0, result TEXT, verified INTEGER NOT NULL DEFAULT 0, message TEXT, seconds "
            "REAL, ended TEXT)",
            "CREATE TABLE inventory (mac TEXT PRIMARY KEY, ip TEXT, sn TEXT, name TEXT, type "
            "TEXT, os TEXT, fw TEXT, first_seen TEXT NOT NULL, last_seen TEXT NOT NULL)" }
            + rows + QStringList { "PRAGMA user_version = 1" });
}

Journal::CameraRow planned(const QString &ip, const QString &mac)
{
    Journal::CameraRow camera;
    camera.ip = ip;
    camera.mac = mac;
    return camera;
}

qint64 beginRun(
    Journal &journal, const QList<Journal::CameraRow> &cameras, const QString &command = "update")
{
    Journal::Run run;
    run.command = command;
    run.arguments = QStringList { "update", "--all", "--image", "/srv/fw.bin" };
    run.typeRule = "";
    return journal.BeginRun(run, cameras);
}

// The row of the run's camera planned at ip.
qint64 keyOf(const Journal &journal, qint64 run, const QString &ip)
{
    for (const Journal::CameraRow &camera : journal.Cameras(run)) {
        if (camera.ip == ip)
            return camera.key;
    }
    return 0;
}

} // namespace

// The journal against temporary files: what it refuses and leaves as it
// was, what it migrates, what two processes write at once, and which camera
// a second run may not touch.
class TestJournal : public QObject
{
    Q_OBJECT

private slots:
    void refusesWhatIsNoJournalAndLeavesIt_data();
    void refusesWhatIsNoJournalAndLeavesIt();
    void migratesAnEarlierSchema();
    void twoProcessesWriteAtOnce();
    void aCameraInFlightElsewhereIsNotTouched_data();
    void aCameraInFlightElsewhereIsNotTouched();
    void aRunIsTakenOverOnce_data();
    void aRunIsTakenOverOnce();
    void resultsAndSearchesAreRemembered();
    void aFirstSchemaJournalIsReadAsItIsAndMigratedWhole();
    void aDamagedJournalIsNotReadAsEmpty();
    void lastUpdateIsTheLastRequestSent_data();
    void lastUpdateIsTheLastRequestSent();
    void camerasSharingAMacStayApart_data();
    void camerasSharingAMacStayApart();

private:
    QTemporaryDir directory;
};

void TestJournal::refusesWhatIsNoJournalAndLeavesIt_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("reason");
    QTest::addColumn<bool>("reading");
    QTest::newRow("another file") << "text"
                                  << "not an SQLite database" << false;
    QTest::newRow("cut short in its header") << "short"
                                             << "truncated" << false;
    QTest::newRow("cut short in its pages") << "truncated"
                                            << "database disk image is malformed" << false;
    QTest::newRow("of a newer schema")
        << "newer"
        << QString("written by a newer program (schema %1").arg(Journal::schemaVersion + 1)
        << false;
    QTest::newRow("a folder") << "folder"
                              << "not a regular file" << false;
    // Writable by nobody, root included.
    QTest::newRow("a place nothing can be made in") << "proc"
                                                    << "cannot make the folder" << false;
    QTest::newRow("in a folder that takes no file") << "proc-folder"
                                                    << "the folder /proc is not writable" << false;
    const QString foreign = "it is no journal: it holds the tables contacts, notes";
    QTest::newRow("another program's database") << "foreign" << foreign << false;
    QTest::newRow("another program's database, read") << "foreign" << foreign << true;
    QTest::newRow("another program's versioned database") << "foreign-versioned"
                                                          << "it is no journal" << false;
    QTest::newRow("nothing there, read") << "absent"
                                         << "there is no such file" << true;
}

void TestJournal::refusesWhatIsNoJournalAndLeavesIt()
{
    QFETCH(QString, kind);
    QFETCH(QString, reason);
    QFETCH(bool, reading);
    QString path = directory.filePath(QString(QTest::currentDataTag()) + ".sqlite");
    if (kind == "text") {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("run,ip\n1,198.51.100.11\n");
    } else if (kind == "short" || kind == "truncated" || kind == "newer") {
        {
            Journal journal;
            QVERIFY2(journal.Open(path), qPrintable(journal.Error()));
            QList<Journal::CameraRow> cameras;
            for (int index = 0; index < 200; ++index)
                cameras.append(planned(QString("198.51.100.%1").arg(index % 250),
                    QString("00:1A:2B:3C:%1:%2").arg(index / 100).arg(index % 100)));
            QVERIFY(beginRun(journal, cameras) > 0);
        }
        poke(path, { "PRAGMA wal_checkpoint(TRUNCATE)", "PRAGMA journal_mode=DELETE" });
        if (kind == "newer")
            poke(path, { QString("PRAGMA user_version = %1").arg(Journal::schemaVersion + 1) });
        if (kind != "newer") {
            QFile file(path);
            QVERIFY(file.resize(kind == "short" ? 50 : file.size() / 2));
        }
    } else if (kind == "folder") {
        QVERIFY(QDir().mkpath(path));
    } else if (kind == "proc") {
        path = "/proc/ordel-toolkits/journal.sqlite";
    } else if (kind == "proc-folder") {
        path = "/proc/journal.sqlite";
    } else if (kind.startsWith("foreign")) {
        poke(path,
            { "CREATE TABLE notes (text TEXT)", "CREATE TABLE contacts (name TEXT)",
                kind == "foreign" ? "PRAGMA user_version = 0" : "PRAGMA user_version = 1" });
    }
    const QByteArray before = digestOf(path);
    Journal journal;
    QVERIFY(!journal.Open(path, reading ? Journal::Access::Read : Journal::Access::Write));
    QVERIFY2(journal.Error().startsWith("cannot use the journal " + path + ": " + reason),
        qPrintable(journal.Error()));
    QCOMPARE(digestOf(path), before);
    QVERIFY(!QFile::exists(path + "-wal"));
    QCOMPARE(QFile::exists(path), kind != "absent" && !kind.startsWith("proc"));
}

// A file made before there was any schema, as an empty SQLite file is, gets
// every table; one of the first schema keeps every row, its runs without a
// type rule; a run begun now records the one its plan decided.
void TestJournal::migratesAnEarlierSchema()
{
    const QString path = directory.filePath("earlier.sqlite");
    poke(path, { "PRAGMA user_version = 0" });
    {
        Journal journal;
        QVERIFY2(journal.Open(path), qPrintable(journal.Error()));
        QVERIFY(beginRun(journal, { planned("198.51.100.11", "00:1A:2B:3C:4D:11") }) > 0);
    }
    Journal again;
    QVERIFY2(again.Open(path), qPrintable(again.Error()));
    QCOMPARE(again.Runs().size(), 1);
    QCOMPARE(again.Cameras(1).size(), 1);
    QCOMPARE(again.FindRun(1)->typeRule, std::optional<QString>(""));

    const QString first = directory.filePath("first-claimed.sqlite");
    firstSchema(first,
        { "INSERT INTO runs VALUES (1, 'x', NULL, 2147483000, '1', 'update', '[]', '', 0, '', "
          "'')",
            "INSERT INTO cameras (run, ip, mac, in_flight) VALUES (1, '198.51.100.11', '', 1), "
            "(1, '198.51.100.12', '00:1A:2B:3C:4D:12', 0)" });
    Journal migrated;
    QVERIFY2(migrated.Open(first), qPrintable(migrated.Error()));
    const QList<Journal::CameraRow> rows = migrated.Cameras(1);
    QCOMPARE(rows.size(), 2);
    QVERIFY(rows.at(0).claimed && !rows.at(1).claimed);
    QString refusal;
    QCOMPARE(migrated.Resumable(0, &refusal)->typeRule, std::optional<QString>());

    UpdatePlan plan;
    QVERIFY(plan.Make({}, QStringList { "198.51.100.11", "198.51.100.13" },
        { { "198.51.100.11", "00:1A:2B:3C:4D:11", "SN", "Gate", "IPC-D240", "4.19.2", "V1.0" } }));
    Rollout rollout(&migrated);
    Journal::Run row;
    row.command = "update";
    QString error;
    QVERIFY2(rollout.Begin(row, plan, {}, &error), qPrintable(error));
    QCOMPARE(migrated.FindRun(rollout.RunId())->typeRule, std::optional<QString>("IPC-D240"));
}

// Each process has a connection of its own; the busy timeout makes them
// take turns instead of failing.
void TestJournal::twoProcessesWriteAtOnce()
{
    const QString path = directory.filePath("shared.sqlite");
    {
        Journal journal;
        QVERIFY(journal.Open(path));
    }
    const int runs = 100;
    const pid_t child = ::fork();
    QVERIFY(child >= 0);
    // Each process its own camera: one camera in both would be refused by
    // the other's live run, as it must be.
    const QString ip = child == 0 ? "198.51.100.12" : "198.51.100.11";
    const QString mac = child == 0 ? "00:1A:2B:3C:4D:12" : "00:1A:2B:3C:4D:11";
    Journal journal;
    bool written = journal.Open(path);
    QString why;
    for (int index = 0; written && index < runs; ++index) {
        const qint64 run = beginRun(journal, { planned(ip, mac) });
        const qint64 key = keyOf(journal, run, ip);
        why = run > 0 ? journal.Claim(run, key, ip, mac) : QString("no run");
        written = why.isEmpty()
            && journal.Finish(
                run, key, { ip, CameraResult::Outcome::Succeeded, "done", 1, false, mac })
            && journal.EndRun(run);
    }
    if (child == 0)
        ::_exit(written ? 0 : 1);
    int status = 0;
    QCOMPARE(::waitpid(child, &status, 0), child);
    QVERIFY2(written, qPrintable(why + journal.Error()));
    QVERIFY(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    QCOMPARE(journal.Runs().size(), 2 * runs);
    QCOMPARE(journal.CameraHistory("198.51.100.11").size(), runs);
    QCOMPARE(journal.CameraHistory("00:1a:2b:3c:4d:12").size(), runs);
}

void TestJournal::aCameraInFlightElsewhereIsNotTouched_data()
{
    // The MAC the first run planned the camera with: none for one that had
    // not answered its search, and was claimed once it had.
    QTest::addColumn<QString>("plannedMac");
    // What becomes of the first run before the second claims its camera.
    QTest::addColumn<QStringList>("meanwhile");
    // How the second run's claim begins; empty when it may go ahead.
    QTest::addColumn<QString>("refusal");
    // The MAC the camera answers both runs with, at two addresses.
    QTest::addColumn<QString>("answeredMac");
    const QString mac = "00:1a:2b:3c:4d:11";
    const QString answered = mac.toUpper();
    const QString busy = "in flight in run 1 of this journal (process ";
    QTest::newRow("its process lives") << mac << QStringList() << busy << answered;
    QTest::newRow("planned before it answered") << QString() << QStringList() << busy << answered;
    QTest::newRow("it ended") << mac << QStringList { "UPDATE runs SET ended = 'x' WHERE id = 1" }
                              << QString() << answered;
    QTest::newRow("its process died")
        << mac << QStringList { "UPDATE runs SET pid = 2147483000 WHERE id = 1" } << QString()
        << answered;
    // The system gave the dead run's process id to this test's process.
    QTest::newRow("its process id reused")
        << mac << QStringList { "UPDATE runs SET pid_started = '1' WHERE id = 1" } << QString()
        << answered;
    QTest::newRow("the camera finished there")
        << mac << QStringList { "UPDATE cameras SET in_flight = 0 WHERE run = 1" } << QString()
        << answered;
    // Whatever the journal cannot vouch for is busy, never free.
    QTest::newRow("the journal cannot tell")
        << mac
        << QStringList { "DROP INDEX cameras_in_flight",
               "ALTER TABLE cameras RENAME COLUMN in_flight TO flying" }
        << "not started: the journal could not tell whether another run has it in flight"
        << answered;
    QTest::newRow("its row is gone")
        << mac
        << QStringList { "UPDATE runs SET ended = 'x' WHERE id = 1",
               "DELETE FROM cameras WHERE ip = '198.51.100.40'" }
        << "not started: its row of run 2 is not in the journal" << answered;
    // A placeholder that many cameras report: two addresses are two cameras.
    QTest::newRow("a placeholder MAC at another address")
        << QString() << QStringList() << QString() << QString("00:00:00:00:00:00");
}

void TestJournal::aCameraInFlightElsewhereIsNotTouched()
{
    QFETCH(QString, plannedMac);
    QFETCH(QStringList, meanwhile);
    QFETCH(QString, refusal);
    QFETCH(QString, answeredMac);
    const QString path
        = directory.filePath(QString("guard-%1.sqlite").arg(QTest::currentDataTag()));
    Journal first;
    QVERIFY(first.Open(path));
    const qint64 firstRun = beginRun(first, { planned("198.51.100.11", plannedMac) });
    QCOMPARE(first.Claim(
                 firstRun, keyOf(first, firstRun, "198.51.100.11"), "198.51.100.11", answeredMac),
        QString());
    Journal second;
    QVERIFY(second.Open(path));
    // The same camera by its MAC, at the address DHCP has given it since.
    const qint64 secondRun = beginRun(second,
        { planned("198.51.100.40", "00:1A:2B:3C:4D:11"),
            planned("198.51.100.12", "00:1A:2B:3C:4D:12") });
    const qint64 key = keyOf(second, secondRun, "198.51.100.40");
    const qint64 otherKey = keyOf(second, secondRun, "198.51.100.12");
    if (!meanwhile.isEmpty())
        poke(path, meanwhile);
    const QString busy = second.Claim(secondRun, key, "198.51.100.40", answeredMac);
    QVERIFY2(refusal.isEmpty() ? busy.isEmpty() : busy.startsWith(refusal), qPrintable(busy));
    // Another camera is free all the same, unless the journal cannot say.
    const QString other = second.Claim(secondRun, otherKey, "198.51.100.12", "00:1A:2B:3C:4D:12");
    QCOMPARE(other.isEmpty(), !refusal.contains("could not tell"));
}

// Two resumes of one run: the first takes it over in one step, and the
// second is refused naming it, by number or as the newest.
void TestJournal::aRunIsTakenOverOnce_data()
{
    QTest::addColumn<QStringList>("before");
    QTest::addColumn<QString>("refusal");
    QTest::newRow("its process died")
        << QStringList { "UPDATE runs SET pid = 2147483000 WHERE id = 1" } << QString();
    QTest::newRow("it still runs") << QStringList() << "run 1 still runs (process ";
    QTest::newRow("it ended") << QStringList { "UPDATE runs SET pid = 2147483000, ended = 'x'" }
                              << "run 1 ended at x: nothing is left to resume";
}

void TestJournal::aRunIsTakenOverOnce()
{
    QFETCH(QStringList, before);
    QFETCH(QString, refusal);
    const QString path
        = directory.filePath(QString("takeover-%1.sqlite").arg(QTest::currentDataTag()));
    {
        Journal journal;
        QVERIFY(journal.Open(path));
        QVERIFY(beginRun(journal, { planned("198.51.100.11", "00:1A:2B:3C:4D:11") }) > 0);
    }
    poke(path, before);
    Journal first;
    Journal second;
    QVERIFY(first.Open(path) && second.Open(path));
    Journal::Run resume;
    resume.command = "resume";
    QString why;
    const qint64 taken = first.TakeOver(1, resume, &why);
    QVERIFY2(why.startsWith(refusal), qPrintable(why));
    QCOMPARE(taken != 0, refusal.isEmpty());
    if (taken == 0)
        return;
    const QString named = QString("run 1 is being resumed by run %1 (process %2)")
                              .arg(taken)
                              .arg(QCoreApplication::applicationPid());
    QCOMPARE(second.TakeOver(1, resume, &why), qint64(0));
    QCOMPARE(why, named);
    QVERIFY(!second.Resumable(0, &why));
    QCOMPARE(why, named);
    QCOMPARE(second.Runs().size(), 2);
}

void TestJournal::resultsAndSearchesAreRemembered()
{
    const QString path = directory.filePath("remembered.sqlite");
    Journal journal;
    QVERIFY(journal.Open(path));
    CameraRecord camera { "198.51.100.11", "00:1a:2b:3c:4d:11", "SN1", "Gate", "IPC-D240", "4.19.2",
        "2.8.1" };
    QVERIFY(journal.RecordSearch({ camera }));
    camera.ip = "198.51.100.12";
    QVERIFY(journal.RecordSearch({ camera }));
    // The last one did not answer the search: it has no MAC.
    const qint64 run = beginRun(journal,
        { planned("198.51.100.12", "00:1A:2B:3C:4D:11"),
            planned("198.51.100.13", "00:1A:2B:3C:4D:13"), planned("198.51.100.14", QString()) });
    QVERIFY2(run > 0, qPrintable(journal.Error()));
    QVERIFY(journal.Finish(run, keyOf(journal, run, "198.51.100.12"),
        { "198.51.100.12", CameraResult::Outcome::Succeeded, "verified: running 2.9.0", 12.5, true,
            "00:1A:2B:3C:4D:11" }));
    // The process died here: one camera has no result, the run no end.
    const QList<Journal::Run> runs = journal.Runs();
    QCOMPARE(runs.size(), 1);
    QVERIFY(runs.constFirst().ended.isEmpty());
    QCOMPARE(runs.constFirst().counts,
        (QList<QPair<QString, int>> { { "succeeded", 1 }, { "unfinished", 2 } }));
    QString refusal;
    QVERIFY(!journal.Resumable(0, &refusal));
    QVERIFY2(refusal.contains("still runs"), qPrintable(refusal));
    const QList<Journal::CameraRow> history = journal.CameraHistory("00:1a:2b:3c:4d:11");
    QCOMPARE(history.size(), 1);
    QCOMPARE(history.constFirst().message, QString("verified: running 2.9.0"));
    const QList<Journal::InventoryRow> inventory = journal.Inventory();
    QCOMPARE(inventory.size(), 1);
    QCOMPARE(inventory.constFirst().camera.ip, QString("198.51.100.12"));
    QCOMPARE(inventory.constFirst().lastResult, QString("succeeded"));
    QVERIFY(!inventory.constFirst().lastUpdate.isEmpty());
    // A table of cameras reads each one's last update at once; the camera
    // without a result has none.
    const QHash<QString, Journal::CameraRow> last = journal.LastUpdates();
    QCOMPARE(last.keys(), QList<QString> { history.constFirst().mac });
    QCOMPARE(last.value(history.constFirst().mac).result, QString("succeeded"));
    // The camera planned without a MAC is one row, wherever it answered.
    QVERIFY(journal.Finish(run, keyOf(journal, run, "198.51.100.14"),
        { "198.51.100.44", CameraResult::Outcome::Failed, "broker not reachable", 3, false,
            "00:1A:2B:3C:4D:14" }));
    QCOMPARE(journal.Cameras(run).size(), 3);
    QCOMPARE(journal.CameraHistory("198.51.100.44").size(), 1);
}

// As the first schema wrote it: one camera by its MAC, one that reported a
// placeholder.
void TestJournal::aFirstSchemaJournalIsReadAsItIsAndMigratedWhole()
{
    const QString path = directory.filePath("first.sqlite");
    firstSchema(path,
        { "INSERT INTO runs VALUES (1, 'a', 'b', 1, '1', 'update', '[]', '', 0, '', '')",
            "INSERT INTO cameras (run, ip, mac, result) VALUES (1, '198.51.100.11', "
            "'00:1A:2B:3C:4D:11', 'succeeded'), (1, '198.51.100.12', '00:00:00:00:00:00', "
            "'failed')",
            "INSERT INTO inventory VALUES ('00:1A:2B:3C:4D:11', '198.51.100.11', 'SN1', '', '', "
            "'', '', 'a', 'a'), ('00:00:00:00:00:00', '198.51.100.12', 'SN2', '', '', '', '', "
            "'a', 'a')",
            "PRAGMA journal_mode = WAL" });
    const QByteArray before = digestOf(path);
    {
        Journal reader;
        QVERIFY2(reader.Open(path, Journal::Access::Read), qPrintable(reader.Error()));
        QCOMPARE(reader.Runs().size(), 1);
        QCOMPARE(reader.Inventory().size(), 2);
        QCOMPARE(reader.Inventory().constLast().lastResult, QString("succeeded"));
    }
    QCOMPARE(digestOf(path), before);
    QVERIFY(!QFile::exists(path + "-wal") && !QFile::exists(path + "-shm"));

    Journal journal;
    QVERIFY2(journal.Open(path), qPrintable(journal.Error()));
    QCOMPARE(journal.Cameras(1).size(), 2);
    // The placeholder now names the camera at its address only: another one
    // that reports it is another row.
    QVERIFY(
        journal.RecordSearch({ { "198.51.100.13", "00:00:00:00:00:00", "SN3", "", "", "", "" } }));
    const QList<Journal::InventoryRow> inventory = journal.Inventory();
    QCOMPARE(inventory.size(), 3);
    QCOMPARE(inventory.at(0).lastResult, QString("failed"));
    QCOMPARE(inventory.at(1).lastResult, QString());
}

void TestJournal::aDamagedJournalIsNotReadAsEmpty()
{
    const QString path = directory.filePath("damaged.sqlite");
    {
        Journal journal;
        QVERIFY(journal.Open(path));
        for (int run = 0; run < 50; ++run) {
            QList<Journal::CameraRow> cameras;
            for (int index = 0; index < 40; ++index)
                cameras.append(planned(QString("198.51.100.%1").arg(index), QString()));
            QVERIFY(beginRun(journal, cameras) > 0);
        }
    }
    poke(path, { "PRAGMA wal_checkpoint(TRUNCATE)" });
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadWrite));
    // The pages of the second half, headers and cells overwritten.
    const qint64 half = file.size() / 2 / 4096 * 4096;
    QVERIFY(file.seek(half));
    file.write(QByteArray(int(file.size() - half), '\xA5'));
    file.close();
    Journal journal;
    QVERIFY2(journal.Open(path, Journal::Access::Read), qPrintable(journal.Error()));
    journal.Runs();
    QVERIFY2(journal.ReadError().startsWith("could not read "), qPrintable(journal.ReadError()));
    QVERIFY(journal.ReadError().contains(path + ": "));
}

void TestJournal::lastUpdateIsTheLastRequestSent_data()
{
    // Each run's command and the camera's result there, oldest first.
    QTest::addColumn<QStringList>("runs");
    QTest::addColumn<QString>("lastResult");
    QTest::newRow("skipped after verified")
        << QStringList { "update succeeded", "update skipped" } << "succeeded";
    QTest::newRow("not started after failed")
        << QStringList { "update failed", "update not started" } << "failed";
    QTest::newRow("missing after interrupted")
        << QStringList { "update interrupted", "update missing" } << "interrupted";
    QTest::newRow("failed after verified")
        << QStringList { "update succeeded", "update failed" } << "failed";
    QTest::newRow("restarted after verified")
        << QStringList { "update succeeded", "restart sent" } << "succeeded";
    QTest::newRow("never sent one") << QStringList { "update skipped" } << "";
}

void TestJournal::lastUpdateIsTheLastRequestSent()
{
    QFETCH(QStringList, runs);
    QFETCH(QString, lastResult);
    const QString path = directory.filePath(QString("last-%1.sqlite").arg(QTest::currentDataTag()));
    const QString mac = "00:1A:2B:3C:4D:11";
    Journal journal;
    QVERIFY(journal.Open(path));
    QVERIFY(journal.RecordSearch({ { "198.51.100.11", mac, "SN1", "", "", "", "" } }));
    for (const QString &step : runs) {
        const QString command = step.section(' ', 0, 0);
        const qint64 run = beginRun(journal, { planned("198.51.100.11", mac) }, command);
        CameraResult result { "198.51.100.11", CameraResult::Outcome::Failed, "", 1, false, mac };
        QVERIFY(CameraResult::OutcomeFromName(step.section(' ', 1), &result.outcome));
        QVERIFY(journal.Finish(run, keyOf(journal, run, "198.51.100.11"), result));
    }
    QCOMPARE(journal.Inventory().constFirst().lastResult, lastResult);
    QCOMPARE(journal.LastUpdates().value(mac).result, lastResult);
}

void TestJournal::camerasSharingAMacStayApart_data()
{
    // Each search's cameras as "address MAC", and what the inventory then
    // holds as "address last result".
    QTest::addColumn<QList<QStringList>>("searches");
    QTest::addColumn<QStringList>("inventory");
    QTest::addColumn<QStringList>("sharing");
    const QString shared = "00:1A:2B:3C:4D:11";
    const QStringList both { "198.51.100.11 succeeded", "198.51.100.12 failed" };
    const QStringList twoAddresses { "198.51.100.11", "198.51.100.12" };
    QTest::newRow("one search lists both")
        << QList<QStringList> { { "198.51.100.11 " + shared, "198.51.100.12 " + shared } } << both
        << twoAddresses;
    QTest::newRow("the second comes later") << QList<QStringList> { { "198.51.100.11 " + shared },
        { "198.51.100.11 " + shared, "198.51.100.12 " + shared } }
                                            << both << twoAddresses;
    // Once shared, a MAC names neither, even when one of them is off.
    QTest::newRow("one is off since") << QList<QStringList> {
        { "198.51.100.11 " + shared, "198.51.100.12 " + shared }, { "198.51.100.12 " + shared }
    } << both << twoAddresses;
    QTest::newRow("a placeholder, one at a time") << QList<QStringList> {
        { "198.51.100.11 00:00:00:00:00:00" }, { "198.51.100.12 00:00:00:00:00:00" }
    } << both << twoAddresses;
    // DHCP moved the camera: still one.
    QTest::newRow("one camera that moved")
        << QList<QStringList> { { "198.51.100.11 " + shared }, { "198.51.100.12 " + shared } }
        << QStringList { "198.51.100.12 failed" } << QStringList();
}

void TestJournal::camerasSharingAMacStayApart()
{
    QFETCH(QList<QStringList>, searches);
    QFETCH(QStringList, inventory);
    QFETCH(QStringList, sharing);
    const QString path
        = directory.filePath(QString("shared-%1.sqlite").arg(QTest::currentDataTag()));
    Journal journal;
    QVERIFY(journal.Open(path));
    for (const QStringList &search : searches) {
        QList<CameraRecord> found;
        for (const QString &camera : search)
            found.append({ camera.section(' ', 0, 0), camera.section(' ', 1), "", "", "", "", "" });
        QVERIFY(journal.RecordSearch(found));
    }
    // The camera at .11 took its update, the one at .12 did not; a run each.
    const QString mac = searches.constFirst().constFirst().section(' ', 1);
    for (const QString &ip : QStringList { "198.51.100.11", "198.51.100.12" }) {
        const qint64 run = beginRun(journal, { planned(ip, mac) });
        QVERIFY(journal.Finish(run, keyOf(journal, run, ip),
            { ip,
                ip.endsWith(".11") ? CameraResult::Outcome::Succeeded
                                   : CameraResult::Outcome::Failed,
                "", 1, false, mac }));
    }
    QStringList listed;
    for (const Journal::InventoryRow &row : journal.Inventory())
        listed.append(row.camera.ip + ' ' + row.lastResult);
    QCOMPARE(listed, inventory);
    QCOMPARE(journal.AddressesSharing(mac), sharing);
}

QTEST_GUILESS_MAIN(TestJournal)
#include "tst_journal.moc"
