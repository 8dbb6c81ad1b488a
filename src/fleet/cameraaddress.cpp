#include "cameraaddress.h"

#include <QHostAddress>
#include <QNetworkInterface>
#include <QRegularExpression>

bool CameraAddress::IsDottedQuad(const QString &text)
{
    // Anchored as a whole: "$" alone would also match before a final line
    // feed, and "198.51.100.21\n" would pass.
    static const QRegularExpression dotted(QRegularExpression::anchoredPattern(QStringLiteral(
        "(0|[1-9][0-9]{0,2})\\.(0|[1-9][0-9]{0,2})\\.(0|[1-9][0-9]{0,2})\\.(0|[1-9][0-9]{0,2})")));
    const QRegularExpressionMatch match = dotted.match(text);
    if (!match.hasMatch())
        return false;
    for (int part = 1; part <= 4; ++part) {
        if (match.captured(part).toInt() > 255)
            return false;
    }
    return true;
}

QString CameraAddress::WhyNotACamera(const QString &ip)
{
    const QString refusal = QStringLiteral("address %1 is not a camera's address").arg(ip);
    if (!IsDottedQuad(ip))
        return refusal;
    const QHostAddress address(ip);
    const quint32 value = address.toIPv4Address();
    const quint32 firstByte = value >> 24;
    if (firstByte == 0 || firstByte == 127 || firstByte >= 224)
        return refusal;
    for (const QNetworkInterface &interface : QNetworkInterface::allInterfaces()) {
        for (const QNetworkAddressEntry &entry : interface.addressEntries()) {
            if (entry.ip() == address || entry.broadcast() == address)
                return refusal;
        }
    }
    return QString();
}
