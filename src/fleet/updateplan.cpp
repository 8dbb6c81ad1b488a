#include "updateplan.h"

#include "cameraaddress.h"

#include <QHash>
#include <QPair>

#include <algorithm>

namespace {

QString typeName(const QString &type)
{
    return type.isEmpty() ? QStringLiteral("(no type)") : type;
}

bool hasMac(const QList<CameraRecord> &claimants, const QString &mac)
{
    return std::any_of(claimants.cbegin(), claimants.cend(), [&mac](const CameraRecord &camera) {
        return camera.mac.compare(mac, Qt::CaseInsensitive) == 0;
    });
}

} // namespace

bool UpdatePlan::Make(
    const Selection &options, const QStringList &listed, const QList<CameraRecord> &found)
{
    return Make(options, AtAddresses(listed), found);
}

QList<CameraRecord> UpdatePlan::AtAddresses(const QStringList &addresses)
{
    QList<CameraRecord> cameras;
    for (const QString &ip : addresses) {
        CameraRecord camera;
        camera.ip = ip;
        cameras.append(camera);
    }
    return cameras;
}

bool UpdatePlan::Make(
    const Selection &options, const QList<CameraRecord> &listed, const QList<CameraRecord> &found)
{
    selection = options;
    // A camera that moved is one MAC at two addresses across two lists, but
    // within one list two addresses are two cameras.
    sharedMacs += CameraRecord::SharedMacs(found) + CameraRecord::SharedMacs(listed);
    // Each address with every camera that claims it: two cameras on one
    // address (new ones on a factory default, a DHCP conflict) are both
    // listed by the search, and an update sent there would reach either.
    QHash<QString, QList<CameraRecord>> byAddress;
    QHash<QString, CameraRecord> byMac;
    QMap<QString, int> foundTypes;
    for (const CameraRecord &camera : found) {
        byAddress[camera.ip].append(camera);
        if (MacIdentifies(camera.mac))
            byMac.insert(camera.mac.toUpper(), camera);
        ++foundTypes[camera.type];
    }
    QStringList candidates;
    for (const CameraRecord &camera : listed) {
        QString ip = camera.ip;
        if (!camera.mac.isEmpty()) {
            // Its address may have been given to another camera since, and
            // it may have come back on another; a MAC that names several
            // cameras is only that camera at the address it was seen at.
            const bool identifies = MacIdentifies(camera.mac);
            const auto known
                = identifies ? byMac.constFind(camera.mac.toUpper()) : byMac.constEnd();
            if (known != byMac.constEnd()) {
                ip = known->ip;
            } else if (identifies || !hasMac(byAddress.value(ip), camera.mac)) {
                missing.append({ camera.ip, CameraResult::Outcome::Missing,
                    QStringLiteral("expected (%1), but it did not answer the search")
                        .arg(camera.mac),
                    0, false, camera.mac, camera.type });
                continue;
            }
        }
        if (!candidates.contains(ip))
            candidates.append(ip);
    }
    if (options.all) {
        // By address, not in the order the replies came: the canaries, and
        // the order of the whole run, are then the same in a check and in
        // the real run, and from one run to the next.
        QList<CameraRecord> byNumber = found;
        std::stable_sort(byNumber.begin(), byNumber.end(), CameraRecord::InAddressOrder);
        for (const CameraRecord &camera : qAsConst(byNumber)) {
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
            return Refuse(MixedTypes(foundTypes));
    }

    skippedVersion = options.skipFw.value_or(QString());
    for (const QString &ip : qAsConst(candidates)) {
        const QString notACamera = CameraAddress::WhyNotACamera(ip);
        if (!notACamera.isEmpty()) {
            refused.append({ ip, CameraResult::Outcome::Failed, notACamera, 0 });
            continue;
        }
        AddTarget(ip, byAddress.value(ip));
    }
    // However they were named, one image goes to one type of camera.
    if (!options.type && !options.anyType && typeCounts.size() > 1)
        return Refuse(MixedTypes(typeCounts));
    canaries = qMin(options.canary, int(targets.size()));
    return true;
}

// A camera that did not answer the search may simply not answer broadcasts;
// its version and type are unknown, so it is updated.
void UpdatePlan::AddTarget(const QString &ip, const QList<CameraRecord> &claimants)
{
    if (claimants.size() > 1) {
        QStringList macs;
        for (const CameraRecord &camera : claimants)
            macs.append(camera.mac);
        refused.append({ ip, CameraResult::Outcome::Failed,
            QStringLiteral("%1 cameras claim this address: %2")
                .arg(claimants.size())
                .arg(macs.join(QStringLiteral(", "))),
            0 });
        return;
    }
    if (claimants.isEmpty()) {
        targets.append(ip);
        ++unknownTypes;
        return;
    }
    const CameraRecord &camera = claimants.constFirst();
    if (selection.type && camera.type != *selection.type) {
        refused.append({ ip, CameraResult::Outcome::Failed,
            QStringLiteral("its type is \"%1\", not \"%2\": an image for one type can ruin "
                           "another; --any-type sends it all the same")
                .arg(camera.type, *selection.type),
            0, false, camera.mac, camera.type });
        return;
    }
    if (selection.skipFw && camera.fw == *selection.skipFw) {
        skipped.append({ ip, CameraResult::Outcome::Skipped,
            QStringLiteral("already on firmware %1").arg(*selection.skipFw), 0, false, camera.mac,
            camera.type });
        return;
    }
    targets.append(ip);
    ++typeCounts[camera.type];
    foundTargets.insert(ip, camera);
}

void UpdatePlan::ReadAlso(const QList<CameraRecord> &cameras)
{
    sharedMacs += CameraRecord::SharedMacs(cameras);
}

bool UpdatePlan::MacIdentifies(const QString &mac) const
{
    return CameraRecord::MacCanIdentify(mac) && !sharedMacs.contains(mac.toUpper());
}

void UpdatePlan::AddMissing(const QList<CameraRecord> &expected)
{
    for (const CameraRecord &camera : expected) {
        // A file without types says nothing against a camera.
        if (selection.type && !camera.type.isEmpty() && camera.type != *selection.type)
            continue;
        missing.append({ camera.ip, CameraResult::Outcome::Missing,
            QStringLiteral("expected (%1), but it did not answer the search").arg(camera.mac), 0,
            false, camera.mac, camera.type });
    }
}

QString UpdatePlan::TypeRule() const
{
    if (selection.type)
        return *selection.type;
    if (!selection.anyType && typeCounts.size() == 1)
        return typeCounts.firstKey();
    return QString();
}

QString UpdatePlan::KeepEarlierType(Selection *selection, const QString &earlierType)
{
    if (selection->type || selection->anyType || earlierType.isEmpty())
        return QString();
    selection->type = earlierType;
    return QStringLiteral("Only cameras of type %1, as in that run.").arg(earlierType);
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

QString UpdatePlan::MixedTypes(const QMap<QString, int> &counts)
{
    return QStringLiteral("cameras of %1 types answered: %2. An image for one type can ruin "
                          "another: choose one with --type TYPE, or update them all with "
                          "--any-type")
        .arg(counts.size())
        .arg(TypeCounts(counts));
}

bool UpdatePlan::Refuse(const QString &reason)
{
    refusal = reason;
    return false;
}
