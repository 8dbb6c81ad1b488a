#include "discoveryreply.h"

#include "analysedata.h"
#include "crc_calc.h"
#include "protocol.h"

QStringList DiscoveryReply::Read(
    const QByteArray &datagram, Crc_Calc &crcCalc, AnalyseData &analyseData)
{
    if (datagram.size() != Protocol::replyLength)
        return {};
    unsigned char buffer[Protocol::replyLength];
    analyseData.QByteArraytoUCharArray(datagram, buffer);
    if (!crcCalc.CheckIdCRC(
            buffer, Protocol::replyLength, Protocol::frameFirstId, Protocol::frameSecondId))
        return {};
    QString record[Protocol::recordFields];
    analyseData.UcharArraytoQStringArray(buffer, record);
    return QStringList(std::begin(record), std::end(record));
}

QStringList DiscoveryReply::Read(const QByteArray &datagram)
{
    Crc_Calc crcCalc;
    AnalyseData analyseData;
    return Read(datagram, crcCalc, analyseData);
}
