#include "camerarecord.h"

#include <QHash>
#include <QHostAddress>
#include <QRegularExpression>

CameraRecord CameraRecord::FromFields(const QStringList &fields)
{
    return { fields.value(0), fields.value(1), fields.value(2), fields.value(3), fields.value(4),
        fields.value(5), fields.value(6) };
}

QStringList CameraRecord::Fields() const
{
    return { ip, mac, sn, name, type, os, fw };
}

QStringList CameraRecord::Keys()
{
    return { QStringLiteral("ip"), QStringLiteral("mac"), QStringLiteral("sn"),
        QStringLiteral("name"), QStringLiteral("type"), QStringLiteral("os"),
        QStringLiteral("fw") };
}

QStringList CameraRecord::Headings()
{
    return { QStringLiteral("IP Address"), QStringLiteral("MAC Address"), QStringLiteral("SN"),
        QStringLiteral("Device Name"), QStringLiteral("Camera Type"), QStringLiteral("OS Version"),
        QStringLiteral("Camera FW Version") };
}

quint32 CameraRecord::AddressNumber() const
{
    return QHostAddress(ip).toIPv4Address();
}

bool CameraRecord::InAddressOrder(const CameraRecord &left, const CameraRecord &right)
{
    return left.AddressNumber() < right.AddressNumber();
}

bool CameraRecord::MacCanIdentify(const QString &mac)
{
    static const QRegularExpression wellFormed(
        QStringLiteral("^[0-9A-Fa-f]{2}([:-])[0-9A-Fa-f]{2}(\\1[0-9A-Fa-f]{2}){4}$"));
    if (!wellFormed.match(mac).hasMatch())
        return false;
    const QString digits = mac.toUpper().remove(QLatin1Char(':')).remove(QLatin1Char('-'));
    if (digits == QLatin1String("000000000000"))
        return false;
    // The group bit of the first octet: broadcast and multicast addresses
    // belong to no single interface.
    return (digits.left(2).toUInt(nullptr, 16) & 0x01) == 0;
}

QSet<QString> CameraRecord::SharedMacs(const QList<CameraRecord> &cameras)
{
    // One camera listed twice at its address is still one camera.
    QHash<QString, QSet<QString>> addresses;
    for (const CameraRecord &camera : cameras)
        addresses[camera.mac.toUpper()].insert(camera.ip);
    QSet<QString> shared;
    for (auto entry = addresses.constBegin(); entry != addresses.constEnd(); ++entry) {
        if (entry.value().size() > 1)
            shared.insert(entry.key());
    }
    return shared;
}
