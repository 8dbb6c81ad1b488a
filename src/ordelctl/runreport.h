#ifndef RUNREPORT_H
#define RUNREPORT_H

#include "cameraresult.h"
#include "outputform.h"

#include <QList>
#include <QObject>
#include <QStringList>

class EventStream;
class FleetRun;
class ImageSnapshot;
class UpdatePlan;

// What a run of updates or commands says on standard output, in the form
// asked for. As JSON lines for scripts: the image, a planned line for every
// camera before any is touched, every camera's progress events and final
// object, with the summary table on standard error. As text for people: the
// summary table alone, on standard output.
class RunReport : public QObject
{
    Q_OBJECT
public:
    explicit RunReport(OutputForm form, QObject *parent = nullptr);

    // Before any camera is touched. image is null for a command. untouched:
    // the results known already, the plan's own and, for a resumed run,
    // those its cameras had before.
    void Begin(
        const ImageSnapshot *image, const UpdatePlan &plan, const QList<CameraResult> &untouched);
    void Follow(FleetRun *run);
    // The table of every camera's result, in the order given, and a line
    // that counts them and names those the journal does not have.
    void End(const QList<CameraResult> &results, const QStringList &unrecorded = {});
    // "6 succeeded (6 verified), 2 skipped, 1 missing": each result that
    // some camera had, in a fixed order, then the cameras whose result the
    // journal could not take.
    static QString Summary(const QList<CameraResult> &results, const QStringList &unrecorded = {});

    // A plan instead of a run: what would happen to each camera, whether
    // update or skip, or why a run would fail it before sending it anything.
    // As JSON, the image line and one object a camera with "plan" instead of
    // "result". False when some camera would be failed so.
    bool Plan(const ImageSnapshot &image, const UpdatePlan &plan) const;

private:
    EventStream *events = nullptr;
};

#endif // RUNREPORT_H
