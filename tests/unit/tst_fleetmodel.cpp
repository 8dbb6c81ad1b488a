#include "expectedcameras.h"
#include "exportform.h"
#include "fleetmodel.h"
#include "imagesnapshot.h"
#include "retryfile.h"
#include "updateplan.h"

#include <QSortFilterProxyModel>
#include <QTemporaryDir>
#include <QtTest>

namespace {

using Phase = FleetModel::Phase;
using Outcome = CameraResult::Outcome;

// A site of four: two of one type, one already on the new version, one of
// another type, and the last expected but silent.
const QString newVersion = QStringLiteral("V2.0");

CameraRecord camera(int index, const QString &type, const QString &fw)
{
    return { QStringLiteral("198.51.100.%1").arg(10 + index),
        QStringLiteral("02:00:00:00:00:%1").arg(index, 2, 10, QLatin1Char('0')),
        QStringLiteral("SN%1").arg(index), QStringLiteral("Gate %1").arg(index), type,
        QStringLiteral("4.19"), fw };
}

void fillSite(FleetModel &model)
{
    model.AddCamera(camera(1, "IPC-D240", "V1.0"));
    model.AddCamera(camera(2, "IPC-D240", newVersion));
    model.AddCamera(camera(3, "IPC-B410", "V1.0"));
    model.AddMissing({ camera(4, "IPC-D240", "V1.0") });
}

QStringList checkedIps(const FleetModel &model)
{
    QStringList ips;
    for (const CameraRecord &record : model.Checked())
        ips.append(record.ip.section('.', 3));
    return ips;
}

QString stateOf(const FleetModel &model, int row)
{
    return model.index(row, FleetModel::StateColumn).data().toString();
}

CameraResult result(int index, Outcome outcome, const QString &message, bool verified = false)
{
    const CameraRecord record = camera(index, "IPC-D240", "V1.0");
    CameraResult ended { record.ip, outcome, message, 1.0, verified, record.mac, record.type };
    return ended;
}

} // namespace

Q_DECLARE_METATYPE(CameraResult)

class TestFleetModel : public QObject
{
    Q_OBJECT

private slots:
    void showsEachStateInWords_data();
    void showsEachStateInWords();
    void followsTheJobsPhases_data();
    void followsTheJobsPhases();
    void selectOutdatedChecksByTypeAndVersion_data();
    void selectOutdatedChecksByTypeAndVersion();
    void retryFailedChecksTheUnsuccessful_data();
    void retryFailedChecksTheUnsuccessful();
    void checkShowsThePlanOfTheCommandLine_data();
    void checkShowsThePlanOfTheCommandLine();
    void exportReadsBackAsRetryAndExpect_data();
    void exportReadsBackAsRetryAndExpect();
    void aMacIsOneRowOnlyWhileOneCameraAnswersWithIt_data();
    void aMacIsOneRowOnlyWhileOneCameraAnswersWithIt();
};

void TestFleetModel::showsEachStateInWords_data()
{
    QTest::addColumn<int>("phase");
    QTest::addColumn<int>("percent");
    QTest::addColumn<CameraResult>("result");
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("bar");

    const CameraResult none;
    QTest::newRow("waiting") << int(Phase::Waiting) << 0 << none << "waiting" << -1;
    QTest::newRow("announcing") << int(Phase::Announcing) << 0 << none << "announcing" << -1;
    QTest::newRow("sending") << int(Phase::Sending) << 40 << none << "sending 40 %" << 40;
    QTest::newRow("camera writing")
        << int(Phase::Writing) << 75 << none << "camera writing 75 %" << 75;
    QTest::newRow("restarting") << int(Phase::Restarting) << 0 << none << "restarting" << -1;
    QTest::newRow("missing") << int(Phase::Missing) << 0 << none << "missing" << -1;
    QTest::newRow("verified") << int(Phase::Ended) << 0
                              << result(1, Outcome::Succeeded, "verified: running V2.0", true)
                              << "verified: running V2.0" << -1;
    QTest::newRow("succeeded unverified")
        << int(Phase::Ended) << 0 << result(1, Outcome::Succeeded, "upgrade ok")
        << "succeeded: upgrade ok" << -1;
    QTest::newRow("back on the old version")
        << int(Phase::Ended) << 0 << result(1, Outcome::Failed, "came back on V1.0, not V2.0")
        << "failed: came back on V1.0, not V2.0" << -1;
    QTest::newRow("stopped") << int(Phase::Ended) << 0
                             << result(1, Outcome::NotStarted, "stopped after 2 failures")
                             << "not started: stopped after 2 failures" << -1;
    QTest::newRow("interrupted") << int(Phase::Ended) << 0
                                 << result(1, Outcome::Interrupted, "sending the image")
                                 << "interrupted: sending the image" << -1;
    QTest::newRow("missing result")
        << int(Phase::Ended) << 0 << result(1, Outcome::Missing, "did not answer") << "missing"
        << -1;
}

// The words are the whole of what the operator reads; a device's message is
// shown as it came, and a bar only where something moves.
void TestFleetModel::showsEachStateInWords()
{
    QFETCH(int, phase);
    QFETCH(int, percent);
    QFETCH(CameraResult, result);
    QFETCH(QString, text);
    QFETCH(int, bar);

    FleetModel model;
    fillSite(model);
    if (Phase(phase) == Phase::Ended)
        model.SetResult(result);
    else if (Phase(phase) != Phase::Missing)
        model.SetPhase(camera(1, "", "").ip, Phase(phase), percent);
    const int row = Phase(phase) == Phase::Missing ? 3 : 0;
    QCOMPARE(stateOf(model, row), text);
    QCOMPARE(model.index(row, FleetModel::StateColumn).data(FleetModel::ProgressRole).toInt(), bar);
}

void TestFleetModel::followsTheJobsPhases_data()
{
    QTest::addColumn<QString>("key");
    QTest::addColumn<int>("phase");

    QTest::newRow("waiting") << "waiting" << int(Phase::Waiting);
    QTest::newRow("broker") << "broker" << int(Phase::Announcing);
    QTest::newRow("settle") << "settle" << int(Phase::Announcing);
    QTest::newRow("connect") << "connect" << int(Phase::Announcing);
    QTest::newRow("send") << "send" << int(Phase::Sending);
    QTest::newRow("close") << "close" << int(Phase::Sending);
    QTest::newRow("report") << "report" << int(Phase::Writing);
    QTest::newRow("verifying") << "verifying" << int(Phase::Restarting);
    QTest::newRow("done") << "done" << int(Phase::Ended);
}

void TestFleetModel::followsTheJobsPhases()
{
    QFETCH(QString, key);
    QFETCH(int, phase);
    QCOMPARE(int(FleetModel::PhaseOf(key)), phase);
}

void TestFleetModel::selectOutdatedChecksByTypeAndVersion_data()
{
    QTest::addColumn<QString>("type");
    QTest::addColumn<QString>("target");
    QTest::addColumn<QStringList>("checked");

    QTest::newRow("all types") << "" << newVersion << QStringList { "11", "13" };
    QTest::newRow("one type") << "IPC-D240" << newVersion << QStringList { "11" };
    QTest::newRow("other type") << "IPC-B410" << newVersion << QStringList { "13" };
    QTest::newRow("no target: every camera of the type") << "IPC-D240"
                                                         << "" << QStringList { "11", "12" };
    QTest::newRow("type nobody has") << "IPC-X" << newVersion << QStringList {};
}

// The silent camera is never checked: nothing can be sent to it. A camera
// checked before and now up to date is unchecked.
void TestFleetModel::selectOutdatedChecksByTypeAndVersion()
{
    QFETCH(QString, type);
    QFETCH(QString, target);
    QFETCH(QStringList, checked);

    FleetModel model;
    fillSite(model);
    model.SetChecked(1, true);
    QVERIFY(model.setData(model.index(3, FleetModel::IpColumn), Qt::Checked, Qt::CheckStateRole));
    QCOMPARE(model.SelectOutdated(type, target), checked.size());
    QCOMPARE(checkedIps(model), checked);
}

void TestFleetModel::retryFailedChecksTheUnsuccessful_data()
{
    QTest::addColumn<QList<int>>("outcomes");
    QTest::addColumn<QStringList>("checked");
    QTest::addColumn<QString>("counts");

    QTest::newRow("one failed") << QList<int> { int(Outcome::Succeeded), int(Outcome::Failed),
        int(Outcome::Skipped) } << QStringList { "12" }
                                << "1 verified, 1 skipped, 1 failed";
    QTest::newRow("stopped and interrupted")
        << QList<int> { int(Outcome::Failed), int(Outcome::NotStarted), int(Outcome::Interrupted) }
        << QStringList { "11", "12", "13" } << "2 failed, 1 not started";
    QTest::newRow("every one verified")
        << QList<int> { int(Outcome::Succeeded), int(Outcome::Succeeded), int(Outcome::Succeeded) }
        << QStringList {} << "3 verified";
}

// A success or a camera left alone is not tried again; a camera without a
// result is not either, and counts as to go.
void TestFleetModel::retryFailedChecksTheUnsuccessful()
{
    QFETCH(QList<int>, outcomes);
    QFETCH(QStringList, checked);
    QFETCH(QString, counts);

    FleetModel model;
    fillSite(model);
    model.SetChecked(3, true);
    QStringList seen;
    for (int index = 0; index < outcomes.size(); ++index)
        seen << model.index(index, FleetModel::FwColumn).data().toString();
    for (int index = 0; index < outcomes.size(); ++index) {
        CameraResult ended = result(index + 1, Outcome(outcomes.at(index)), "why",
            Outcome(outcomes.at(index)) == Outcome::Succeeded);
        model.SetResult(ended, newVersion);
    }
    // Seen running the new version: no longer outdated; the others keep
    // what the search saw.
    for (int index = 0; index < outcomes.size(); ++index) {
        const QModelIndex fw = model.index(index, FleetModel::FwColumn);
        if (Outcome(outcomes.at(index)) == Outcome::Succeeded)
            QCOMPARE(fw.data().toString(), newVersion);
        else
            QCOMPARE(fw.data().toString(), seen.at(index));
    }
    QCOMPARE(model.SelectRetry(), checked.size());
    QCOMPARE(checkedIps(model), checked);
    QCOMPARE(model.Counts(), counts);
}

void TestFleetModel::checkShowsThePlanOfTheCommandLine_data()
{
    QTest::addColumn<QString>("type");
    QTest::addColumn<QList<int>>("checkedRows");
    QTest::addColumn<int>("canary");
    QTest::addColumn<QString>("refusal");
    QTest::addColumn<QStringList>("states");
    // A camera of the lowest address that answered last, in the last row.
    QTest::addColumn<bool>("lowestAnsweredLast");

    QTest::newRow("update and skip")
        << "" << QList<int> { 0, 1 } << 0 << ""
        << QStringList { "will update", "skip: already on firmware V2.0", "", "missing" } << false;
    QTest::newRow("canary first") << "IPC-D240" << QList<int> { 0 } << 1 << ""
                                  << QStringList { "will update (canary)", "", "", "missing" }
                                  << false;
    QTest::newRow("a checked camera that is silent")
        << "IPC-D240" << QList<int> { 0, 3 } << 0 << ""
        << QStringList { "will update", "", "", "missing: expected" } << false;
    QTest::newRow("another type than asked")
        << "IPC-D240" << QList<int> { 0, 2 } << 0 << ""
        << QStringList { "will update", "", "refuse: ", "missing" } << false;
    QTest::newRow("canaries by address, not by answer")
        << "IPC-D240" << QList<int> { 0, 4 } << 1 << ""
        << QStringList { "will update", "", "", "missing", "will update (canary)" } << true;
    QTest::newRow("several types, none named, in the window's words")
        << "" << QList<int> { 0, 2 } << 0 << "choose one type in the Type list"
        << QStringList { "", "", "", "missing" } << false;
}

// What Check shows is the command line's plan for the same cameras: the
// same skips and refusals, and a mixed site refused as a whole.
void TestFleetModel::checkShowsThePlanOfTheCommandLine()
{
    QFETCH(QString, type);
    QFETCH(QList<int>, checkedRows);
    QFETCH(int, canary);
    QFETCH(QString, refusal);
    QFETCH(QStringList, states);
    QFETCH(bool, lowestAnsweredLast);

    FleetModel model;
    fillSite(model);
    if (lowestAnsweredLast) {
        CameraRecord nine = camera(0, "IPC-D240", "V1.0");
        nine.ip = "198.51.100.9";
        model.AddCamera(nine);
        // As text, .11 would sort first.
        QSortFilterProxyModel sorted;
        sorted.setSortRole(FleetModel::SortRole);
        sorted.setSourceModel(&model);
        sorted.sort(FleetModel::IpColumn);
        QCOMPARE(sorted.index(0, FleetModel::IpColumn).data().toString(), nine.ip);
    }
    for (int row : checkedRows)
        model.SetChecked(row, true);
    Selection selection;
    if (!type.isEmpty())
        selection.type = type;
    selection.skipFw = newVersion;
    selection.canary = canary;
    UpdatePlan plan;
    QString refused;
    QCOMPARE(model.MakePlan(selection, model.Cameras(), &plan, &refused), refusal.isEmpty());
    QVERIFY2(refused.contains(refusal), qPrintable(refused));
    QVERIFY2(!refused.contains("--"), qPrintable(refused));
    if (refusal.isEmpty())
        model.ShowPlan(plan);
    for (int row = 0; row < states.size(); ++row) {
        const QString shown = stateOf(model, row);
        QVERIFY2(states.at(row).isEmpty() ? shown.isEmpty() : shown.startsWith(states.at(row)),
            qPrintable(QString("row %1: %2").arg(row).arg(shown)));
    }
}

void TestFleetModel::exportReadsBackAsRetryAndExpect_data()
{
    QTest::addColumn<QList<int>>("outcomes");
    QTest::addColumn<QStringList>("retried");

    QTest::addColumn<bool>("checkAfter");

    QTest::newRow("one failed") << QList<int> { int(Outcome::Succeeded), int(Outcome::Failed) }
                                << QStringList { "198.51.100.12" } << false;
    QTest::newRow("not started and skipped")
        << QList<int> { int(Outcome::NotStarted), int(Outcome::Skipped), int(Outcome::Interrupted) }
        << QStringList { "198.51.100.11", "198.51.100.13" } << false;
    QTest::newRow("a Check after a run keeps the failure for Retry Failed and Export")
        << QList<int> { int(Outcome::Succeeded), int(Outcome::Failed) }
        << QStringList { "198.51.100.12" } << true;
}

// The window's export is what the command line's --retry and --expect read:
// the run's results and image, whatever was checked or chosen after it.
void TestFleetModel::exportReadsBackAsRetryAndExpect()
{
    QFETCH(QList<int>, outcomes);
    QFETCH(QStringList, retried);
    QFETCH(bool, checkAfter);

    QTemporaryDir dir;
    const auto write = [&dir](const char *name, const QByteArray &bytes) {
        QFile file(dir.filePath(name));
        return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
    };
    QVERIFY(write("run.bin", "the image the run sent") && write("later.bin", "another image"));
    ImageSnapshot image;
    QVERIFY2(image.Read(dir.filePath("run.bin")), qPrintable(image.ErrorString()));
    const QByteArray runMd5 = image.Md5Hex();

    FleetModel model;
    fillSite(model);
    for (int index = 0; index < outcomes.size(); ++index)
        model.SetChecked(index, true);
    Selection selection;
    selection.type = QStringLiteral("IPC-D240");
    UpdatePlan plan;
    QString refused;
    QVERIFY2(model.MakePlan(selection, model.Cameras(), &plan, &refused), qPrintable(refused));
    model.BeginRun(plan, &image);
    for (int index = 0; index < outcomes.size(); ++index)
        model.SetResult(result(index + 1, Outcome(outcomes.at(index)), "why"));
    QVERIFY(image.Read(dir.filePath("later.bin")));
    if (checkAfter) {
        for (int row = 0; row < 3; ++row)
            model.SetChecked(row, true);
        selection.type.reset();
        selection.anyType = true;
        UpdatePlan next;
        QVERIFY2(model.MakePlan(selection, model.Cameras(), &next, &refused), qPrintable(refused));
        model.ShowPlan(next);
        QVERIFY2(stateOf(model, 1).startsWith("failed"), qPrintable(stateOf(model, 1)));
        QCOMPARE(stateOf(model, 2), QString("will update"));
    }
    RetryFile retry;
    QVERIFY2(retry.ReadText(model.ExportJson()), qPrintable(retry.ErrorString()));
    QCOMPARE(retry.Addresses(), retried);
    QCOMPARE(retry.Cameras(), outcomes.size());
    QCOMPARE(retry.EarlierMd5(), QString::fromLatin1(runMd5));
    QCOMPARE(retry.EarlierType(), QString("IPC-D240"));
    QCOMPARE(model.SelectRetry(), retried.size());

    ExpectedCameras expected;
    QVERIFY2(expected.ReadText(model.ExportCsv()), qPrintable(expected.ErrorString()));
    QCOMPARE(expected.Cameras().size(), 3);
    QCOMPARE(expected.Cameras().at(2).type, QString("IPC-B410"));
    QVERIFY(expected.Missing(model.Cameras()).isEmpty());
}

void TestFleetModel::aMacIsOneRowOnlyWhileOneCameraAnswersWithIt_data()
{
    // Each search's replies, "IP MAC", the searches apart by "|".
    QTest::addColumn<QStringList>("replies");
    // The rows' addresses, their last digits.
    QTest::addColumn<QStringList>("rows");
    // Expecting what the first search heard: the rows then shown missing.
    QTest::addColumn<QStringList>("missing");
    const QString batch = " 02:00:00:00:00:01";
    QTest::newRow("moved between two searches")
        << QStringList { "198.51.100.11" + batch, "|", "198.51.100.21" + batch }
        << QStringList { "21" } << QStringList {};
    QTest::newRow("two in one search, both again in the next")
        << QStringList { "198.51.100.11" + batch, "198.51.100.12" + batch, "|",
               "198.51.100.12" + batch, "198.51.100.11" + batch }
        << QStringList { "11", "12" } << QStringList {};
    QTest::newRow("a placeholder at a new address is another camera")
        << QStringList { "198.51.100.11 00:00:00:00:00:00", "|", "198.51.100.21 00:00:00:00:00:00" }
        << QStringList { "21" } << QStringList { "11" };
    QTest::newRow("seen by the search before only is missing") << QStringList {
        "198.51.100.11" + batch, "198.51.100.12 02:00:00:00:00:02", "|", "198.51.100.11" + batch
    } << QStringList { "11" } << QStringList { "12" };
}

// A batch that left the factory with one MAC is as many rows as cameras,
// and each camera's result goes to its own.
void TestFleetModel::aMacIsOneRowOnlyWhileOneCameraAnswersWithIt()
{
    QFETCH(QStringList, replies);
    QFETCH(QStringList, rows);
    QFETCH(QStringList, missing);
    FleetModel model;
    ExpectedCameras expected;
    QCOMPARE(model.ShowMissing(expected), -1);
    model.BeginSearch();
    CameraRecord last;
    for (const QString &reply : qAsConst(replies)) {
        if (reply == "|") {
            if (expected.Cameras().isEmpty())
                QVERIFY(expected.ReadText(ExportForm::SearchCsv(model.Cameras())));
            model.BeginSearch();
            continue;
        }
        last = camera(1, "IPC-D240", "V1.0");
        last.ip = reply.section(' ', 0, 0);
        last.mac = reply.section(' ', 1, 1);
        model.AddCamera(last);
    }
    QCOMPARE(model.ShowMissing(expected), missing.size());
    QStringList shown;
    for (const CameraRecord &record : model.Cameras())
        shown.append(record.ip.section('.', 3));
    QCOMPARE(shown, rows);
    QStringList silent;
    for (int row = 0; row < model.rowCount(); ++row) {
        if (stateOf(model, row) == "missing")
            silent.append(model.index(row, FleetModel::IpColumn).data().toString().section('.', 3));
    }
    QCOMPARE(silent, missing);
    model.SetResult({ last.ip, Outcome::Failed, "why", 1.0, false, last.mac, last.type });
    for (int row = 0; row < rows.size(); ++row)
        QCOMPARE(stateOf(model, row).isEmpty(), last.ip.section('.', 3) != rows.at(row));
}

QTEST_GUILESS_MAIN(TestFleetModel)
#include "tst_fleetmodel.moc"
