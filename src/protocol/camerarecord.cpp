#include "camerarecord.h"

#include <QHostAddress>

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
