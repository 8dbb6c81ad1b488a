#include "cameraidentity.h"

#include "optionvalues.h"
#include "protocol.h"

#include <QHostAddress>
#include <QList>

namespace {

const char defaultCameraType[] = "SimCam-1000";
const char defaultOsVersion[] = "4.9.88";
const char defaultFirmwareVersion[] = "V1.0.0";

// First byte of a locally administered unicast MAC, which no real NIC carries.
constexpr quint8 localMacPrefix = 0x02;

constexpr int maxDelayMs = 600000;

struct FaultName
{
    ReplyFault fault;
    const char *name;
};

const FaultName faultNames[] = {
    { ReplyFault::None, "none" },
    { ReplyFault::BadCrc, "bad-crc" },
    { ReplyFault::CrcLowFirst, "crc-low-first" },
    { ReplyFault::BadLengthByte, "bad-length-byte" },
    { ReplyFault::Short, "short" },
    { ReplyFault::Long, "long" },
    { ReplyFault::BadId, "bad-id" },
    { ReplyFault::Duplicate, "duplicate" },
};

QByteArray macFrom(quint8 second, quint32 tail)
{
    QByteArray mac(6, '\0');
    mac[0] = char(localMacPrefix);
    mac[1] = char(second);
    for (int n = 0; n < 4; ++n)
        mac[2 + n] = char((tail >> (24 - 8 * n)) & 0xFF);
    return mac;
}

} // namespace

const QVector<CameraIdentity::TextField> &CameraIdentity::textFields()
{
    static const QVector<TextField> fields = {
        { "sn", &CameraIdentity::serialNumber, Protocol::replyTextFields[0] },
        { "name", &CameraIdentity::deviceName, Protocol::replyTextFields[1] },
        { "type", &CameraIdentity::cameraType, Protocol::replyTextFields[2] },
        { "os", &CameraIdentity::osVersion, Protocol::replyTextFields[3] },
        { "fw", &CameraIdentity::firmwareVersion, Protocol::replyTextFields[4] },
    };
    return fields;
}

QString CameraIdentity::ipText() const
{
    return QHostAddress(ipv4).toString();
}

QString CameraIdentity::faultName() const
{
    for (const FaultName &entry : faultNames) {
        if (entry.fault == fault)
            return QString::fromLatin1(entry.name);
    }
    return QString();
}

CameraIdentity CameraIdentity::defaults(int index, const QHostAddress &bindAddress)
{
    CameraIdentity camera;
    camera.ipv4 = bindAddress.toIPv4Address();
    camera.mac = macFrom(quint8(index), camera.ipv4);
    // Several cameras of one simulator share its address, so the index keeps
    // their serial numbers and names apart.
    const QByteArray suffix = index == 0 ? QByteArray() : "-" + QByteArray::number(index + 1);
    camera.serialNumber = "SIM-" + bindAddress.toString().toLatin1() + suffix;
    camera.deviceName = "Camera " + QByteArray::number(camera.ipv4 & 0xFF) + suffix;
    camera.cameraType = defaultCameraType;
    camera.osVersion = defaultOsVersion;
    camera.firmwareVersion = defaultFirmwareVersion;
    return camera;
}

CameraIdentity CameraIdentity::generated(int number)
{
    CameraIdentity camera;
    const quint32 tail = quint32(number) & 0xFFFFFF;
    camera.ipv4 = (10u << 24) | tail;
    camera.mac = macFrom(0xC0, tail);
    camera.serialNumber = QString::asprintf("SN%07d", number).toLatin1();
    camera.deviceName = "Camera " + QByteArray::number(number);
    camera.cameraType = defaultCameraType;
    camera.osVersion = defaultOsVersion;
    camera.firmwareVersion = defaultFirmwareVersion;
    return camera;
}

bool CameraIdentity::fromFields(const QByteArray &fields, int index,
    const QHostAddress &bindAddress, CameraIdentity *camera, QString *error)
{
    *camera = defaults(index, bindAddress);
    for (const OptionValues::Item &item : OptionValues::splitList(fields)) {
        if (item.text.isEmpty())
            continue;
        if (!item.hasValue || item.name.isEmpty()) {
            *error = QStringLiteral("camera field without key=value: %1")
                         .arg(QString::fromUtf8(item.text));
            return false;
        }
        const QByteArray value = QByteArray::fromPercentEncoding(item.value);
        if (!camera->setField(item.name, value, error))
            return false;
    }
    return true;
}

bool CameraIdentity::setField(const QByteArray &key, const QByteArray &value, QString *error)
{
    for (const TextField &field : textFields()) {
        if (key == field.key) {
            this->*field.value = value;
            return true;
        }
    }
    bool ok = true;
    if (key == "ip") {
        const QHostAddress address(QString::fromLatin1(value));
        ok = address.protocol() == QAbstractSocket::IPv4Protocol;
        ipv4 = address.toIPv4Address();
    } else if (key == "mac") {
        ok = parseMac(value, &mac);
    } else if (key == "fault") {
        ok = parseFault(value, &fault);
    } else if (key == "delay") {
        ok = OptionValues::readNumber(value, 0, maxDelayMs, &delayMs);
    } else {
        *error = QStringLiteral("unknown camera key: %1").arg(QString::fromUtf8(key));
        return false;
    }
    if (!ok)
        *error = QStringLiteral("bad value for camera key %1: %2")
                     .arg(QString::fromUtf8(key), QString::fromUtf8(value));
    return ok;
}

bool CameraIdentity::parseMac(const QByteArray &text, QByteArray *mac)
{
    const QList<QByteArray> parts = text.split(':');
    if (parts.size() != 6)
        return false;
    QByteArray bytes;
    for (const QByteArray &part : parts) {
        bool ok = false;
        const uint value = part.toUInt(&ok, 16);
        if (!ok || part.size() > 2 || value > 0xFF)
            return false;
        bytes.append(char(value));
    }
    *mac = bytes;
    return true;
}

bool CameraIdentity::parseFault(const QByteArray &text, ReplyFault *fault)
{
    for (const FaultName &entry : faultNames) {
        if (text == entry.name) {
            *fault = entry.fault;
            return true;
        }
    }
    return false;
}
