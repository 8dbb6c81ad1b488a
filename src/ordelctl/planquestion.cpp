#include "planquestion.h"

#include "imagesnapshot.h"
#include "textformat.h"
#include "updateplan.h"

QString PlanQuestion::ForUpdate(const UpdatePlan &plan, const ImageSnapshot &image)
{
    QString types = UpdatePlan::TypeCounts(plan.TargetTypes());
    if (plan.UnknownTypes() > 0)
        types += QStringLiteral("%1%2 of unknown type")
                     .arg(types.isEmpty() ? QString() : QStringLiteral(", "))
                     .arg(plan.UnknownTypes());
    const int targets = int(plan.Targets().size());
    QString question = QStringLiteral("Update %1 (%2) with %3, %4 bytes, md5 %5")
                           .arg(TextFormat::Cameras(targets), types, image.Name())
                           .arg(image.Size())
                           .arg(QString::fromLatin1(image.Md5Hex()));
    if (!plan.Skipped().isEmpty())
        question += QStringLiteral("; %1 skipped, already on %2")
                        .arg(TextFormat::Cameras(plan.Skipped().size()), plan.SkippedVersion());
    question += Refusals(plan);
    if (!plan.Missing().isEmpty())
        question += QStringLiteral("; %1 expected but missing")
                        .arg(TextFormat::Cameras(plan.Missing().size()));
    if (plan.Canaries() > 0 && plan.Canaries() < targets)
        question += QStringLiteral("; canary: %1 first, the other %2 only if every one succeeds")
                        .arg(plan.Canaries())
                        .arg(targets - plan.Canaries());
    return question + QLatin1Char('?');
}

QString PlanQuestion::ForCommand(const QString &verb, const UpdatePlan &plan)
{
    return QStringLiteral("%1 %2%3?")
        .arg(verb, TextFormat::Cameras(plan.Targets().size()), Refusals(plan));
}

QString PlanQuestion::Refusals(const UpdatePlan &plan)
{
    QString text;
    for (const CameraResult &result : plan.Refused())
        text += QStringLiteral("; not sent to %1: %2").arg(result.ip, result.message);
    return text;
}
