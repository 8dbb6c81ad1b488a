#include "discoveryframe.h"

#include "cameraidentity.h"
#include "crc_calc.h"

#include <QRandomGenerator>

namespace {

constexpr char wrongSecondId = char(0x02);
constexpr int bodyLength = DiscoveryFrame::replyLength - 5;
constexpr int lengthByteOffset = 2;
constexpr int macLength = Protocol::replyMacLength;

// Any change of both bytes at once guarantees the check fails.
constexpr char checksumSpoiler = char(0x5A);

constexpr int maxNoiseLength = 300;
enum NoiseKind { AnyLength, ReplyLength, ReplyShape, NoiseKindCount };

} // namespace

bool DiscoveryFrame::isProbe(const QByteArray &datagram)
{
    return datagram
        == QByteArray::fromRawData(Protocol::discoveryProbe, sizeof(Protocol::discoveryProbe));
}

QByteArray DiscoveryFrame::reply(const CameraIdentity &camera)
{
    QByteArray frame = correctBody(camera);
    switch (camera.fault) {
    case ReplyFault::BadLengthByte:
        frame[lengthByteOffset] = char(bodyLength + 1);
        break;
    case ReplyFault::BadId:
        frame[1] = wrongSecondId;
        break;
    default:
        break;
    }
    appendChecksum(&frame, camera.fault != ReplyFault::CrcLowFirst);

    switch (camera.fault) {
    case ReplyFault::BadCrc:
        frame[replyLength - 2] = char(frame[replyLength - 2] ^ checksumSpoiler);
        frame[replyLength - 1] = char(frame[replyLength - 1] ^ checksumSpoiler);
        break;
    case ReplyFault::Short:
        frame.chop(1);
        break;
    case ReplyFault::Long:
        frame.append('\0');
        break;
    default:
        break;
    }
    return frame;
}

QByteArray DiscoveryFrame::noise(QRandomGenerator *random)
{
    const int kind = random->bounded(int(NoiseKindCount));
    QByteArray datagram(
        kind == AnyLength ? random->bounded(maxNoiseLength + 1) : replyLength, '\0');
    for (char &byte : datagram)
        byte = char(random->generate());
    if (kind == ReplyShape) {
        // Only the checksum stands between such a datagram and a garbage row.
        const QByteArray start = header();
        datagram.replace(0, start.size(), start);
        datagram.chop(2);
        appendChecksum(&datagram, true);
        datagram[replyLength - 2] = char(datagram[replyLength - 2] ^ checksumSpoiler);
        datagram[replyLength - 1] = char(datagram[replyLength - 1] ^ checksumSpoiler);
    }
    return datagram;
}

QByteArray DiscoveryFrame::correctBody(const CameraIdentity &camera)
{
    QByteArray frame;
    frame.reserve(replyLength + 1);
    frame.append(header());
    for (int shift = 24; shift >= 0; shift -= 8)
        frame.append(char((camera.ipv4 >> shift) & 0xFF));
    appendText(&frame, camera.mac, macLength);
    for (const CameraIdentity::TextField &field : CameraIdentity::textFields())
        appendText(&frame, camera.*field.value, field.width);
    return frame;
}

QByteArray DiscoveryFrame::header()
{
    const char bytes[]
        = { char(Protocol::frameFirstId), char(Protocol::frameSecondId), char(bodyLength) };
    return QByteArray(bytes, sizeof bytes);
}

void DiscoveryFrame::appendText(QByteArray *frame, const QByteArray &text, int width)
{
    const QByteArray field = text.left(width);
    frame->append(field);
    frame->append(QByteArray(width - field.size(), '\0'));
}

void DiscoveryFrame::appendChecksum(QByteArray *frame, bool highFirst)
{
    unsigned char low = 0;
    unsigned char high = 0;
    Crc_Calc().GetCRC16(reinterpret_cast<unsigned char *>(frame->data()),
        static_cast<unsigned short>(frame->size()), &low, &high);
    frame->append(char(highFirst ? high : low));
    frame->append(char(highFirst ? low : high));
}
