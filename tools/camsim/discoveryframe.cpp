#include "discoveryframe.h"

#include "cameraidentity.h"
#include "crc_calc.h"

#include <QRandomGenerator>
#include <QtEndian>

namespace {

constexpr char wrongSecondId = char(0x02);
constexpr int checksumAt = Protocol::replyChecksumOffset;

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

// A fault in the header comes with a checksum that is right for the bytes as
// sent, so that only the field itself can give it away.
QByteArray DiscoveryFrame::reply(const CameraIdentity &camera)
{
    QByteArray frame = correctReply(camera);
    switch (camera.fault) {
    case ReplyFault::BadLengthByte:
        frame[Protocol::frameLengthOffset] = char(Protocol::replyBodyLength + 1);
        writeChecksum(&frame, true);
        break;
    case ReplyFault::BadId:
        frame[1] = wrongSecondId;
        writeChecksum(&frame, true);
        break;
    case ReplyFault::CrcLowFirst:
        writeChecksum(&frame, false);
        break;
    case ReplyFault::BadCrc:
        spoilChecksum(&frame);
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
        writeHeader(&datagram);
        writeChecksum(&datagram, true);
        spoilChecksum(&datagram);
    }
    return datagram;
}

QByteArray DiscoveryFrame::correctReply(const CameraIdentity &camera)
{
    QByteArray frame(replyLength, '\0');
    writeHeader(&frame);
    const quint32 ip = qToBigEndian(camera.ipv4);
    place(&frame, Protocol::replyIpOffset,
        QByteArray(reinterpret_cast<const char *>(&ip), sizeof ip), sizeof ip);
    place(&frame, Protocol::replyMacOffset, camera.mac, Protocol::replyMacLength);
    for (const CameraIdentity::TextField &field : CameraIdentity::textFields())
        place(&frame, field.place.offset, camera.*field.value, field.place.width);
    writeChecksum(&frame, true);
    return frame;
}

void DiscoveryFrame::writeHeader(QByteArray *frame)
{
    (*frame)[0] = char(Protocol::frameFirstId);
    (*frame)[1] = char(Protocol::frameSecondId);
    (*frame)[Protocol::frameLengthOffset] = char(Protocol::replyBodyLength);
}

void DiscoveryFrame::place(QByteArray *frame, int offset, const QByteArray &bytes, int width)
{
    const QByteArray field = bytes.left(width);
    frame->replace(offset, field.size(), field);
}

void DiscoveryFrame::writeChecksum(QByteArray *frame, bool highFirst)
{
    unsigned char low = 0;
    unsigned char high = 0;
    Crc_Calc().GetCRC16(reinterpret_cast<unsigned char *>(frame->data()),
        static_cast<unsigned short>(checksumAt), &low, &high);
    (*frame)[checksumAt] = char(highFirst ? high : low);
    (*frame)[checksumAt + 1] = char(highFirst ? low : high);
}

void DiscoveryFrame::spoilChecksum(QByteArray *frame)
{
    (*frame)[checksumAt] = char(frame->at(checksumAt) ^ checksumSpoiler);
    (*frame)[checksumAt + 1] = char(frame->at(checksumAt + 1) ^ checksumSpoiler);
}
