#ifndef ANALYSEDATA_H
#define ANALYSEDATA_H

#include <QByteArray>
#include <QString>

// Turns a camera's discovery reply into the seven strings of a device record:
// IP, MAC, serial number, name, camera type, OS version, FW version.
class AnalyseData
{
public:
    AnalyseData();

    // Copies every byte of datagram to buffer, which must be at least as long.
    bool QByteArraytoUCharArray(QByteArray datagram, unsigned char *buffer);

    // The text between first and last (both included), ending early at a zero
    // byte; each byte becomes the character of the same code point (Latin-1).
    QString UcharArraytoQString(const unsigned char *buffer, int first, int last);

    // Appends the seven decoded fields of a reply to the seven strings of record.
    bool UcharArraytoQStringArray(const unsigned char *buffer, QString *record);
};

#endif // ANALYSEDATA_H
