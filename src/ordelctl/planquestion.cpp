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

QString PlanQuestion::Verdict(const UpdatePlan &plan)
{
    QString touched
        = QStringLiteral("it would update %1").arg(TextFormat::Cameras(plan.Targets().size()));
    if (!plan.Skipped().isEmpty())
        touched += QStringLiteral(" and skip %1").arg(plan.Skipped().size());
    const int refused = int(plan.Refused().size());
    const int missing = int(plan.Missing().size());
    if (refused + missing == 0) {
        touched[0] = touched.at(0).toUpper();
        return touched + QLatin1Char('.');
    }
    QStringList why;
    if (refused > 0)
        why.append(QStringLiteral("%1 refused").arg(refused));
    if (missing > 0)
        why.append(QStringLiteral("%1 missing").arg(missing));
    return QStringLiteral("A real run would fail %1 without sending anything (%2), so it would "
                          "end with exit code 1; %3.")
        .arg(TextFormat::Cameras(refused + missing), why.join(QStringLiteral(", ")), touched);
}

QString PlanQuestion::Refusals(const UpdatePlan &plan)
{
    QString text;
    for (const CameraResult &result : plan.Refused())
        text += QStringLiteral("; not sent to %1: %2").arg(result.ip, result.message);
    return text;
}
