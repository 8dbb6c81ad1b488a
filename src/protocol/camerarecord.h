#ifndef CAMERARECORD_H
#define CAMERARECORD_H

#include <QString>
#include <QStringList>

// What a camera tells about itself in its discovery reply, as the search
// lists it: its address and MAC, then the five texts as the camera sent them.
struct CameraRecord
{
    QString ip;
    QString mac;
    QString sn;
    QString name;
    QString type;
    QString os;
    QString fw;

    // From the seven fields of an accepted reply, in their order.
    static CameraRecord FromFields(const QStringList &fields);
    QStringList Fields() const;
    // The JSON keys and CSV header, in the fields' order.
    static QStringList Keys();
    // The table's column headings, the device table's own.
    static QStringList Headings();
    // The address as one number, so that .9 comes before .10.
    quint32 AddressNumber() const;
    static bool InAddressOrder(const CameraRecord &left, const CameraRecord &right);
};

#endif // CAMERARECORD_H
