#include "runreport.h"

#include "console.h"
#include "eventstream.h"
#include "textformat.h"
#include "updateplan.h"

RunReport::RunReport(OutputForm form, QObject *parent)
    : QObject(parent)
{
    if (form == OutputForm::Json)
        events = new EventStream(this);
}

void RunReport::Begin(const ImageSnapshot *image, const UpdatePlan &plan)
{
    if (!events)
        return;
    if (image)
        EventStream::WriteImage(*image);
    // A run killed later has left a line for every camera, and --retry counts
    // one without a result as not done.
    for (const QString &ip : plan.Everyone())
        EventStream::WritePlanned(ip);
    for (const CameraResult &result : plan.Untouched())
        EventStream::WriteFinal(result);
}

void RunReport::Follow(FleetRun *run)
{
    if (events)
        events->Follow(run);
}

// With JSON standard output is for JSON only; the table goes to the operator
// on standard error then.
void RunReport::End(const QList<CameraResult> &results)
{
    QList<QStringList> rows;
    for (const CameraResult &result : results)
        rows.append({ result.ip, CameraResult::OutcomeName(result.outcome), result.message,
            QString::number(result.seconds, 'f', 1) });
    const QString table
        = TextFormat::Table({ QStringLiteral("Camera"), QStringLiteral("Result"),
                                QStringLiteral("Reason"), QStringLiteral("Seconds") },
            rows);
    if (events)
        Console::Error(table);
    else
        Console::Out(table);
}
