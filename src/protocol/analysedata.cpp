#include "analysedata.h"

#include "protocol.h"

#include <cstring>

namespace {

constexpr int ipFirst = Protocol::replyIpOffset;
constexpr int macFirst = Protocol::replyMacOffset;
constexpr int macLast = Protocol::replyMacOffset + Protocol::replyMacLength - 1;

} // namespace

AnalyseData::AnalyseData() = default;

bool AnalyseData::QByteArraytoUCharArray(QByteArray datagram, unsigned char *buffer)
{
    if (!datagram.isEmpty())
        std::memcpy(buffer, datagram.constData(), static_cast<size_t>(datagram.size()));
    return true;
}

QString AnalyseData::UcharArraytoQString(const unsigned char *buffer, int first, int last)
{
    QString text;
    for (int index = first; index <= last && buffer[index] != 0; ++index)
        text.append(QChar(buffer[index]));
    return text;
}

bool AnalyseData::UcharArraytoQStringArray(const unsigned char *buffer, QString *record)
{
    record[0].append(QStringLiteral("%1.%2.%3.%4")
                         .arg(buffer[ipFirst])
                         .arg(buffer[ipFirst + 1])
                         .arg(buffer[ipFirst + 2])
                         .arg(buffer[ipFirst + 3]));

    for (int index = macFirst; index < macLast; ++index)
        record[1].append(
            QStringLiteral("%1:").arg(buffer[index], 2, 16, QLatin1Char('0')).toUpper());
    record[1].append(QStringLiteral("%1").arg(buffer[macLast], 2, 16, QLatin1Char('0')).toUpper());

    int slot = 2;
    for (const Protocol::ReplyTextField &field : Protocol::replyTextFields)
        record[slot++].append(
            UcharArraytoQString(buffer, field.offset, field.offset + field.width - 1));
    return true;
}
