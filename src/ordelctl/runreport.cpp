#include "runreport.h"

#include "console.h"
#include "eventstream.h"
#include "jsonline.h"
#include "textformat.h"
#include "updateplan.h"

RunReport::RunReport(OutputForm form, QObject *parent)
    : QObject(parent)
{
    if (form == OutputForm::Json)
        events = new EventStream(this);
}

void RunReport::Begin(
    const ImageSnapshot *image, const UpdatePlan &plan, const QList<CameraResult> &untouched)
{
    if (!events)
        return;
    if (image)
        EventStream::WriteImage(*image, plan.TypeRule());
    // A run killed later has left a line for every camera, and --retry counts
    // one without a result as not done.
    for (const QString &ip : plan.Targets()) {
        const CameraRecord *camera = plan.Found(ip);
        EventStream::WritePlanned(
            ip, camera ? camera->mac : QString(), camera ? camera->type : QString());
    }
    for (const CameraResult &result : untouched)
        EventStream::WritePlanned(result.ip, result.mac, result.type);
    for (const CameraResult &result : untouched)
        EventStream::WriteFinal(result);
}

void RunReport::Follow(FleetRun *run)
{
    if (events)
        events->Follow(run);
}

// With JSON standard output is for JSON only; the table goes to the operator
// on standard error then.
void RunReport::End(const QList<CameraResult> &results, const QStringList &unrecorded)
{
    QList<QStringList> rows;
    for (const CameraResult &result : results)
        rows.append({ result.ip, CameraResult::OutcomeName(result.outcome), result.message,
            QString::number(result.seconds, 'f', 1) });
    const QString table
        = TextFormat::Table({ QStringLiteral("Camera"), QStringLiteral("Result"),
                                QStringLiteral("Reason"), QStringLiteral("Seconds") },
            rows);
    const QString summary = Summary(results, unrecorded) + QLatin1Char('\n');
    if (events)
        Console::Error(table + summary);
    else
        Console::Out(table + summary);
}

QString RunReport::Summary(const QList<CameraResult> &results, const QStringList &unrecorded)
{
    using Outcome = CameraResult::Outcome;
    const Outcome order[] = { Outcome::Succeeded, Outcome::Sent, Outcome::Failed,
        Outcome::Interrupted, Outcome::Skipped, Outcome::NotStarted, Outcome::Missing };
    QStringList parts;
    for (const Outcome outcome : order) {
        int count = 0;
        int verified = 0;
        for (const CameraResult &result : results) {
            if (result.outcome == outcome) {
                ++count;
                verified += result.verified ? 1 : 0;
            }
        }
        if (count == 0)
            continue;
        QString part = QStringLiteral("%1 %2").arg(count).arg(CameraResult::OutcomeName(outcome));
        if (verified > 0)
            part += QStringLiteral(" (%1 verified)").arg(verified);
        parts.append(part);
    }
    QString summary
        = parts.isEmpty() ? QStringLiteral("no camera") : parts.join(QStringLiteral(", "));
    // A resume cannot tell what became of these: the operator must.
    if (!unrecorded.isEmpty())
        summary += QStringLiteral("; not in the journal: %1")
                       .arg(unrecorded.join(QStringLiteral(", ")));
    return summary;
}

bool RunReport::Plan(const ImageSnapshot &image, const UpdatePlan &plan) const
{
    QList<QStringList> rows;
    const QStringList targets = plan.Targets();
    for (int index = 0; index < targets.size(); ++index) {
        const CameraRecord *camera = plan.Found(targets.at(index));
        QString reason = camera
            ? QStringLiteral("on %1").arg(camera->fw)
            : QStringLiteral("did not answer the search: its version is unknown");
        if (index < plan.Canaries())
            reason = QStringLiteral("canary, ") + reason;
        rows.append({ targets.at(index), QStringLiteral("update"), reason });
    }
    for (const CameraResult &result : plan.Skipped())
        rows.append({ result.ip, QStringLiteral("skip"), result.message });
    const QList<CameraResult> failing = plan.Refused() + plan.Missing();
    for (const CameraResult &result : failing) {
        const bool missing = result.outcome == CameraResult::Outcome::Missing;
        rows.append({ result.ip, missing ? QStringLiteral("missing") : QStringLiteral("refuse"),
            result.message });
    }

    if (events) {
        EventStream::WriteImage(image, plan.TypeRule());
        for (const QStringList &row : qAsConst(rows))
            Console::Out(JsonLine()
                             .Add("ip", row.at(0))
                             .Add("plan", row.at(1))
                             .Add("reason", row.at(2))
                             .Text());
    } else {
        Console::Out(TextFormat::Table(
            { QStringLiteral("Camera"), QStringLiteral("Plan"), QStringLiteral("Reason") }, rows));
    }
    return failing.isEmpty();
}
