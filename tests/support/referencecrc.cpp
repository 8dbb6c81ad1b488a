#include "referencecrc.h"

namespace ReferenceCrc {

quint16 of(const QByteArray &data)
{
    quint16 crc = 0xFFFF;
    for (const char byte : data) {
        crc ^= quint8(byte);
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 1) ? quint16((crc >> 1) ^ 0xA001) : quint16(crc >> 1);
    }
    return crc;
}

QByteArray appended(const QByteArray &data)
{
    const quint16 crc = of(data);
    return data + char(crc >> 8) + char(crc & 0xFF);
}

bool isAppended(const QByteArray &frame)
{
    return frame.size() >= 2 && appended(frame.chopped(2)) == frame;
}

} // namespace ReferenceCrc
