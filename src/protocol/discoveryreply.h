#ifndef DISCOVERYREPLY_H
#define DISCOVERYREPLY_H

#include <QByteArray>
#include <QStringList>

class AnalyseData;
class Crc_Calc;

// The acceptance of one datagram that a search received: a camera's reply is
// exactly Protocol::replyLength bytes long, starts with the frame's
// identifier bytes, carries its body length and ends in its checksum. Whatever else arrives is
// dropped without a word, the search's own probe included.
class DiscoveryReply
{
public:
    // The seven fields of the camera's record in the device table's order,
    // or an empty list when the datagram is not a reply.
    static QStringList Read(
        const QByteArray &datagram, Crc_Calc &crcCalc, AnalyseData &analyseData);
    static QStringList Read(const QByteArray &datagram);
};

#endif // DISCOVERYREPLY_H
