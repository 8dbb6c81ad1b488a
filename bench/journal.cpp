// The journal at the size of a large site's history: 10,000 cameras, each in
// 50 runs. Times ordelctl's history of one camera and its inventory against
// that file, run as an operator runs them, and says how much file a camera
// result costs. The floor is the same program's --help, which opens no
// journal: what is left is the journal's own.
//
//   bench_journal ORDELCTL [CAMERAS] [RUNS]
#include "journal.h"
#include "benchsupport.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>

using namespace bench;

namespace {

QString macOf(int camera)
{
    return QStringLiteral("02:00:00:%1:%2:%3")
        .arg(camera >> 16 & 0xFF, 2, 16, QLatin1Char('0'))
        .arg(camera >> 8 & 0xFF, 2, 16, QLatin1Char('0'))
        .arg(camera & 0xFF, 2, 16, QLatin1Char('0'))
        .toUpper();
}

QString ipOf(int camera)
{
    return QStringLiteral("10.%1.%2.%3")
        .arg(camera >> 16 & 0xFF)
        .arg(camera >> 8 & 0xFF)
        .arg(camera & 0xFF);
}

// The best of a few runs of the command, in ms; -1 when it failed.
double bestOfRuns(const QString &program, const QStringList &arguments, int runs = 5)
{
    double best = -1;
    for (int run = 0; run < runs; ++run) {
        QProcess process;
        process.setStandardOutputFile(QProcess::nullDevice());
        QElapsedTimer clock;
        clock.start();
        process.start(program, arguments);
        if (!process.waitForFinished(60000) || process.exitCode() != 0)
            return -1;
        const double ms = double(clock.nsecsElapsed()) / 1e6;
        best = best < 0 ? ms : qMin(best, ms);
    }
    return best;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication application(argc, argv);
    const QStringList arguments = QCoreApplication::arguments();
    if (arguments.size() < 2) {
        note(QStringLiteral("usage: bench_journal ORDELCTL [CAMERAS] [RUNS]"));
        return 2;
    }
    const QString ordelctl = arguments.at(1);
    const int cameras = arguments.value(2, QStringLiteral("10000")).toInt();
    const int runs = arguments.value(3, QStringLiteral("50")).toInt();
    QTemporaryDir directory;
    const QString path = directory.filePath(QStringLiteral("journal.sqlite"));
    {
        Journal journal;
        if (!journal.Open(path)) {
            note(journal.Error());
            return 1;
        }
        QList<CameraRecord> listed;
        for (int camera = 0; camera < cameras; ++camera)
            listed.append({ ipOf(camera), macOf(camera), QStringLiteral("ODL%1").arg(camera),
                QStringLiteral("Camera %1").arg(camera), QStringLiteral("IPC-D240"),
                QStringLiteral("4.19.2"), QStringLiteral("2.8.1") });
        journal.RecordSearch(listed);
        note(QStringLiteral("journal: writing %1 runs of %2 cameras").arg(runs).arg(cameras));
        for (int run = 0; run < runs; ++run) {
            Journal::Run row;
            row.command = QStringLiteral("update");
            row.arguments = QStringList { QStringLiteral("update"), QStringLiteral("--all") };
            row.imagePath = QStringLiteral("/srv/firmware/camera-fw-2.9.0.bin");
            row.imageMd5 = QStringLiteral("31ed76ce25a98c7795ede72ac712e759");
            QList<Journal::CameraRow> rows;
            for (int camera = 0; camera < cameras; ++camera) {
                Journal::CameraRow result;
                result.ip = ipOf(camera);
                result.mac = macOf(camera);
                result.sn = QStringLiteral("ODL%1").arg(camera);
                result.type = QStringLiteral("IPC-D240");
                result.fwBefore = QStringLiteral("2.8.1");
                result.result = QStringLiteral("succeeded");
                result.verified = true;
                result.message = QStringLiteral("verified: running 2.9.0");
                result.seconds = 13.1;
                rows.append(result);
            }
            if (journal.BeginRun(row, rows) == 0 || !journal.EndRun(run + 1)) {
                note(journal.Error());
                return 1;
            }
        }
    }
    const double bytesPerResult
        = double(QFileInfo(path).size() + QFileInfo(path + QStringLiteral("-wal")).size())
        / (double(cameras) * runs);
    const QStringList journalOption { QStringLiteral("--journal"), path };
    const double floor = bestOfRuns(ordelctl, { QStringLiteral("--help") });
    const double history = bestOfRuns(ordelctl,
        QStringList { QStringLiteral("history"), QStringLiteral("--camera"), macOf(cameras / 2),
            QStringLiteral("--json") }
            + journalOption);
    const double inventory = bestOfRuns(ordelctl,
        QStringList { QStringLiteral("inventory"), QStringLiteral("--json") } + journalOption, 3);
    const QString size = QStringLiteral("%1 cameras, %2 runs").arg(cameras).arg(runs);
    printRow({ QStringLiteral("ordelctl history --camera MAC, %1, ms / ordelctl --help").arg(size),
        number(history), number(floor), history / floor, QStringLiteral("<= 100 ms"),
        history >= 0 && history <= 100 });
    printRow({ QStringLiteral("ordelctl inventory --json, %1, ms / ordelctl --help").arg(size),
        number(inventory), number(floor), inventory / floor, QStringLiteral("<= 1000 ms"),
        inventory >= 0 && inventory <= 1000 });
    printRow({ QStringLiteral("journal file per camera result, bytes"), number(bytesPerResult, 0),
        QStringLiteral("—"), 0, QStringLiteral("<= 1024"), bytesPerResult <= 1024 });
    return 0;
}
