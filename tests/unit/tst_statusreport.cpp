#include "statusreport.h"

#include <QtTest>

// How a camera's report on its update is read. The window and the command
// line both act on this reading alone: a report read as a completion ends an
// update as a success, one read as a failure ends it as failed.
class TestStatusReport : public QObject
{
    Q_OBJECT

private slots:
    void readsWhatTheCameraMeans_data();
    void readsWhatTheCameraMeans();
};

namespace {

// The questions a reader asks of a report, those answered yes.
QString readingOf(const StatusReport &report)
{
    if (!report.readable)
        return QStringLiteral("unreadable");
    QStringList yes;
    if (report.IsShown())
        yes << QStringLiteral("shown");
    if (report.MovesProgress())
        yes << QStringLiteral("moves to %1").arg(report.ProgressValue());
    if (report.IsCompletion())
        yes << QStringLiteral("completion");
    if (report.IsFailure())
        yes << QStringLiteral("failure");
    return yes.join(QStringLiteral(", "));
}

QString jsonError(const QByteArray &payload)
{
    QJsonParseError error;
    QJsonDocument::fromJson(payload, &error);
    return error.errorString();
}

} // namespace

void TestStatusReport::readsWhatTheCameraMeans_data()
{
    QTest::addColumn<QByteArray>("payload");
    QTest::addColumn<QString>("reading");
    QTest::addColumn<QString>("text"); // the message, or why it was not read

    const auto report
        = [](const char *name, const QByteArray &payload, const char *reading,
              const QString &text) { QTest::newRow(name) << payload << reading << text; };
    report("progress", R"({"type":"1","errorcode":"0","progress":"45","message":"Writing"})",
        "shown, moves to 45", "Writing");
    report("completion", R"({"type":"2","errorcode":"0","progress":"100","message":"Done"})",
        "shown, moves to 100, completion", "Done");
    report("type 2 short of 100",
        R"({"type":"2","errorcode":"0","progress":"99","message":"Almost"})", "shown, moves to 99",
        "Almost");
    report("camera error",
        R"({"type":"2","errorcode":"3","progress":"100","message":"Flash write error"})",
        "shown, failure", "Flash write error");
    report("progress with an error code",
        R"({"type":"1","errorcode":"3","progress":"40","message":"Retrying"})", "shown",
        "Retrying");
    report(
        "unknown type", R"({"type":"3","errorcode":"0","progress":"100","message":"x"})", "", "x");
    report("no type", R"({"errorcode":"0","progress":"100","message":"x"})", "", "x");
    // A number is not the text a camera sends: never a completion.
    report("progress as a number", R"({"type":"2","errorcode":"0","progress":100,"message":"Num"})",
        "shown, moves to 0", "Num");
    report("type as a number", R"({"type":2,"errorcode":"0","progress":"100","message":"x"})", "",
        "x");
    report("error code as a number",
        R"({"type":"2","errorcode":0,"progress":"100","message":"Err"})", "shown, failure", "Err");
    report("keys in other case", R"({"Type":"2","ErrorCode":"0","Progress":"100","Message":"x"})",
        "", "");
    report("progress not a number",
        R"({"type":"1","errorcode":"0","progress":"abc","message":"m"})", "shown, moves to 0", "m");
    report("progress out of range",
        R"({"type":"1","errorcode":"0","progress":"150","message":"m"})", "shown, moves to 150",
        "m");
    report("markup stays text",
        R"({"type":"1","errorcode":"0","progress":"50","message":"<b>x</b>"})",
        "shown, moves to 50", "<b>x</b>");
    report("array", R"([{"type":"2","errorcode":"0","progress":"100"}])", "", "");
    report("not JSON", "not json", "unreadable", jsonError("not json"));
    report("empty payload", "", "unreadable", jsonError(""));

    // However much a camera sends, a report is read and kept only up to a
    // bound: a longer text is cut with a mark, a larger payload not read.
    const auto bounded = [](const char *name, const QString &message, const char *reading,
                             const QString &text, int payloadSize = 0) {
        const auto payload = [&](int padding) {
            return R"({"type":"1","errorcode":"0","progress":"50","pad":")"
                + QByteArray(padding, ' ') + R"(","message":")" + message.toUtf8() + "\"}";
        };
        const int shortest = payload(0).size();
        QTest::newRow(name) << payload(qMax(0, payloadSize - shortest)) << reading << text;
    };
    const QString longest(StatusReport::longestText, 'a');
    const QString cut = QChar(0x2026);
    bounded("message at its bound", longest, "shown, moves to 50", longest);
    bounded("message beyond its bound", longest + "b", "shown, moves to 50", longest + cut);
    bounded("cut between a pictograph's halves", longest.mid(1) + QString::fromUtf8("\U0001F600b"),
        "shown, moves to 50", longest.mid(1) + cut);
    bounded("payload at its bound", longest + "b", "shown, moves to 50", longest + cut,
        StatusReport::largestPayload);
    bounded("payload beyond its bound", "x", "unreadable",
        QString("report of %1 bytes not read: more than %2")
            .arg(StatusReport::largestPayload + 1)
            .arg(StatusReport::largestPayload),
        StatusReport::largestPayload + 1);
}

void TestStatusReport::readsWhatTheCameraMeans()
{
    QFETCH(QByteArray, payload);
    QFETCH(QString, reading);
    QFETCH(QString, text);
    const StatusReport report = StatusReport::Read(payload);
    QCOMPARE(readingOf(report), reading);
    QCOMPARE(report.readable ? report.message : report.parseError, text);
}

QTEST_APPLESS_MAIN(TestStatusReport)
#include "tst_statusreport.moc"
