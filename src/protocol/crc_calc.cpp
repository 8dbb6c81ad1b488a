#include "crc_calc.h"

#include "protocol.h"

#include <array>

namespace {

// The two byte tables of the Modbus byte-wise algorithm, derived from the
// reflected polynomial 0xA001 instead of written out, so they cannot be
// mistyped. Entry i of each holds one byte of the CRC step T(i) of byte i.
struct CrcTables
{
    std::array<unsigned char, 256> lowByteOfStep {};
    std::array<unsigned char, 256> highByteOfStep {};
};

constexpr CrcTables makeTables()
{
    CrcTables tables;
    for (unsigned index = 0; index < 256; ++index) {
        unsigned value = index;
        for (int bit = 0; bit < 8; ++bit)
            value = (value & 1u) ? (value >> 1) ^ 0xA001u : value >> 1;
        tables.lowByteOfStep[index] = static_cast<unsigned char>(value & 0xFFu);
        tables.highByteOfStep[index] = static_cast<unsigned char>(value >> 8);
    }
    return tables;
}

constexpr CrcTables crcTables = makeTables();

} // namespace

Crc_Calc::Crc_Calc() = default;

void Crc_Calc::GetCRC16(
    unsigned char *data, unsigned short length, unsigned char *crcLow, unsigned char *crcHigh)
{
    unsigned char accLow = 0xFF;
    unsigned char accHigh = 0xFF;
    for (unsigned short n = 0; n < length; ++n) {
        const unsigned char index = accLow ^ data[n];
        accLow = accHigh ^ crcTables.lowByteOfStep[index];
        accHigh = crcTables.highByteOfStep[index];
    }
    *crcLow = accLow;
    *crcHigh = accHigh;
}

bool Crc_Calc::CheckIdCRC(
    unsigned char *frame, unsigned short length, unsigned char firstId, unsigned char secondId)
{
    if (frame[0] != firstId || frame[1] != secondId)
        return false;
    if (static_cast<int>(frame[Protocol::frameLengthOffset])
        != static_cast<int>(length) - Protocol::frameOverhead)
        return false;

    unsigned char crcLow = 0;
    unsigned char crcHigh = 0;
    const int checksumAt = length - Protocol::frameChecksumLength;
    GetCRC16(frame, static_cast<unsigned short>(checksumAt), &crcLow, &crcHigh);
    return frame[checksumAt] == crcHigh && frame[checksumAt + 1] == crcLow;
}
