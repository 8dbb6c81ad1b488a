// Any datagram through the checks and decoding MainWindow::readPendingDatagrams
// applies to each datagram a search receives, plus Crc_Calc::CheckIdCRC on
// frames of every length the datagram could have. Besides crashes and
// sanitizer findings, the results are compared with plain reimplementations,
// so a wrong table entry, field range or format fails too.
#include "analysedata.h"
#include "crc_calc.h"
#include "protocol.h"
#include "referencecrc.h"

#include <QString>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

using Protocol::frameFirstId;
using Protocol::frameLengthOffset;
using Protocol::frameOverhead;
using Protocol::frameSecondId;
using Protocol::recordFields;
using Protocol::replyLength;

constexpr size_t maxDatagram = 300;

void check(bool condition, const char *what)
{
    if (!condition) {
        std::fprintf(stderr, "fuzz_discovery: %s\n", what);
        std::abort();
    }
}

bool referenceCheck(const unsigned char *frame, size_t length)
{
    return frame[0] == frameFirstId && frame[1] == frameSecondId
        && frame[frameLengthOffset] == length - frameOverhead
        && ReferenceCrc::isAppended(
            QByteArray::fromRawData(reinterpret_cast<const char *>(frame), int(length)));
}

// Latin-1 text of bytes first..last, ending at the first zero byte.
QString referenceText(const unsigned char *buffer, int first, int last)
{
    QByteArray text(reinterpret_cast<const char *>(buffer + first), last - first + 1);
    const int zero = text.indexOf('\0');
    if (zero >= 0)
        text.truncate(zero);
    return QString::fromLatin1(text);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size > maxDatagram)
        return 0;
    Crc_Calc crcCalc;

    // A heap copy of exactly the datagram's size, so AddressSanitizer sees
    // any read past its end.
    if (size >= size_t(frameOverhead)) {
        std::vector<unsigned char> frame(data, data + size);
        const bool accepted = crcCalc.CheckIdCRC(
            frame.data(), static_cast<unsigned short>(size), frameFirstId, frameSecondId);
        check(accepted == referenceCheck(frame.data(), size),
            "CheckIdCRC disagrees with a bitwise CRC-16/MODBUS");
    }

    const QByteArray datagram(reinterpret_cast<const char *>(data), static_cast<int>(size));
    if (datagram.size() != replyLength)
        return 0;
    AnalyseData analyseData;
    unsigned char buffer[replyLength];
    analyseData.QByteArraytoUCharArray(datagram, buffer);
    if (!crcCalc.CheckIdCRC(buffer, replyLength, frameFirstId, frameSecondId))
        return 0;
    QString record[recordFields];
    analyseData.UcharArraytoQStringArray(buffer, record);

    const unsigned char *ipBytes = buffer + Protocol::replyIpOffset;
    const QString ip = QStringLiteral("%1.%2.%3.%4")
                           .arg(ipBytes[0])
                           .arg(ipBytes[1])
                           .arg(ipBytes[2])
                           .arg(ipBytes[3]);
    check(record[0] == ip, "IP address field");
    const QByteArray mac(reinterpret_cast<const char *>(buffer + Protocol::replyMacOffset),
        Protocol::replyMacLength);
    check(record[1] == QString::fromLatin1(mac.toHex(':').toUpper()), "MAC address field");
    int slot = 2;
    for (const Protocol::ReplyTextField &field : Protocol::replyTextFields) {
        const QString expected
            = referenceText(buffer, field.offset, field.offset + field.width - 1);
        check(record[slot++] == expected, "text field");
    }
    return 0;
}
