#include "updateplan.h"

#include "cameraaddress.h"
#include "imagesnapshot.h"
#include "textformat.h"

#include <QHash>
#include <QPair>

#include <algorithm>

namespace {

QString typeName(const QString &type)
{
    return type.isEmpty() ? QStringLiteral("(no type)") : type;
}

} // namespace

bool UpdatePlan::Make(
    const Selection &options, const QStringList &listed, const QList<CameraRecord> &found)
{
    // Each address with every camera that claims it: two cameras on one
    // address (new ones on a factory default, a DHCP conflict) are both
    // listed by the search, and an update sent there would reach either.
    QHash<QString, QList<CameraRecord>> byAddress;
    QMap<QString, int> foundTypes;
    for (const CameraRecord &camera : found) {
        byAddress[camera.ip].append(camera);
        ++foundTypes[camera.type];
    }
    QStringList candidates = listed;
    if (options.all) {
        for (const CameraRecord &camera : found) {
            const bool wanted = !options.type || camera.type == *options.type;
            if (wanted && !candidates.contains(camera.ip))
                candidates.append(camera.ip);
        }
        if (found.isEmpty())
            return Refuse(QStringLiteral("--all: no camera answered the search"));
        if (options.type && candidates.isEmpty())
            return Refuse(QStringLiteral("--type: no camera of type \"%1\" answered; found %2")
                              .arg(*options.type, TypeCounts(foundTypes)));
        if (!options.type && foundTypes.size() > 1 && !options.anyType)
            return Refuse(QStringLiteral("cameras of %1 types answered: %2. An image for one "
                                         "type can ruin another: choose one with --type TYPE, "
                                         "or update them all with --any-type")
                              .arg(foundTypes.size())
                              .arg(TypeCounts(foundTypes)));
    }

    skippedVersion = options.skipFw.value_or(QString());
    for (const QString &ip : qAsConst(candidates)) {
        const QString notACamera = CameraAddress::WhyNotACamera(ip);
        if (!notACamera.isEmpty()) {
            refused.append({ ip, CameraResult::Outcome::Failed, notACamera, 0 });
            continue;
        }
        // A camera that did not answer the search may simply not answer
        // broadcasts; its version is unknown, so it is updated.
        const QList<CameraRecord> claimants = byAddress.value(ip);
        if (claimants.size() > 1) {
            QStringList macs;
            for (const CameraRecord &camera : claimants)
                macs.append(camera.mac);
            refused.append({ ip, CameraResult::Outcome::Failed,
                QStringLiteral("%1 cameras claim this address: %2")
                    .arg(claimants.size())
                    .arg(macs.join(QStringLiteral(", "))),
                0 });
            continue;
        }
        const bool known = claimants.size() == 1;
        if (known && options.skipFw && claimants.constFirst().fw == *options.skipFw) {
            skipped.append({ ip, CameraResult::Outcome::Skipped,
                QStringLiteral("already on firmware %1").arg(*options.skipFw), 0 });
            continue;
        }
        targets.append(ip);
        if (known) {
            ++typeCounts[claimants.constFirst().type];
            foundTargets.insert(ip, claimants.constFirst());
        } else {
            ++unknownTypes;
        }
    }
    canaries = qMin(options.canary, int(targets.size()));
    return true;
}

void UpdatePlan::AddMissing(const QList<CameraRecord> &expected)
{
    for (const CameraRecord &camera : expected)
        missing.append({ camera.ip, CameraResult::Outcome::Missing,
            QStringLiteral("expected (%1), but it did not answer the search").arg(camera.mac), 0 });
}

QList<CameraResult> UpdatePlan::Untouched() const
{
    return refused + missing + skipped;
}

const CameraRecord *UpdatePlan::Found(const QString &ip) const
{
    const auto found = foundTargets.constFind(ip);
    return found == foundTargets.constEnd() ? nullptr : &found.value();
}

QStringList UpdatePlan::Everyone() const
{
    QStringList everyone = targets;
    for (const CameraResult &result : Untouched())
        everyone.append(result.ip);
    return everyone;
}

QString UpdatePlan::Question(const ImageSnapshot &image) const
{
    QString types = TypeCounts(typeCounts);
    if (unknownTypes > 0)
        types += QStringLiteral("%1%2 of unknown type")
                     .arg(types.isEmpty() ? QString() : QStringLiteral(", "))
                     .arg(unknownTypes);
    QString question = QStringLiteral("Update %1 (%2) with %3, %4 bytes, md5 %5")
                           .arg(TextFormat::Cameras(targets.size()), types, image.Name())
                           .arg(image.Size())
                           .arg(QString::fromLatin1(image.Md5Hex()));
    if (!skipped.isEmpty())
        question += QStringLiteral("; %1 skipped, already on %2")
                        .arg(TextFormat::Cameras(skipped.size()), skippedVersion);
    question += Refusals();
    if (!missing.isEmpty())
        question
            += QStringLiteral("; %1 expected but missing").arg(TextFormat::Cameras(missing.size()));
    if (canaries > 0 && canaries < targets.size())
        question += QStringLiteral("; canary: %1 first, the other %2 only if every one succeeds")
                        .arg(canaries)
                        .arg(targets.size() - canaries);
    return question + QLatin1Char('?');
}

// "3 IPC-D240, 1 IPC-B410": most common first.
QString UpdatePlan::TypeCounts(const QMap<QString, int> &counts)
{
    QList<QPair<int, QString>> byCount;
    for (auto entry = counts.constBegin(); entry != counts.constEnd(); ++entry)
        byCount.append({ -entry.value(), entry.key() });
    std::sort(byCount.begin(), byCount.end());
    QStringList parts;
    for (const auto &[negativeCount, type] : qAsConst(byCount))
        parts.append(QStringLiteral("%1 %2").arg(-negativeCount).arg(typeName(type)));
    return parts.join(QStringLiteral(", "));
}

// "; not sent to 198.51.100.20: 2 cameras claim this address: ...".
QString UpdatePlan::Refusals() const
{
    QString text;
    for (const CameraResult &result : refused)
        text += QStringLiteral("; not sent to %1: %2").arg(result.ip, result.message);
    return text;
}

bool UpdatePlan::Refuse(const QString &reason)
{
    refusal = reason;
    return false;
}
