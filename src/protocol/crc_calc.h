#ifndef CRC_CALC_H
#define CRC_CALC_H

// CRC-16/MODBUS as the cameras use it in their discovery frames. Unlike the
// Modbus serial line, the frames carry the checksum high byte first.
class Crc_Calc
{
public:
    Crc_Calc();

    // Stores the checksum's low byte in *crcLow and its high byte in *crcHigh.
    void GetCRC16(
        unsigned char *data, unsigned short length, unsigned char *crcLow, unsigned char *crcHigh);

    // True when the frame starts with the two identifier bytes, its length byte
    // gives the length of the body between it and the checksum, and its last
    // two bytes hold the checksum, high byte first.
    // The frame must hold at least length bytes and length must be at least 5.
    bool CheckIdCRC(
        unsigned char *frame, unsigned short length, unsigned char firstId, unsigned char secondId);
};

#endif // CRC_CALC_H
