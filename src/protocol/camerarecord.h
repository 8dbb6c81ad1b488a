#ifndef CAMERARECORD_H
#define CAMERARECORD_H

#include <QList>
#include <QSet>
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

    // Whether a MAC can name one camera at all: cameras without a burnt-in
    // address report a placeholder (all zeros, the broadcast address, a group
    // address or no well-formed address), and many may report the same one.
    static bool MacCanIdentify(const QString &mac);
    // The MACs, upper case, reported at more than one address in one list (a
    // search, or a file): a batch from one factory may share one. Such a MAC
    // names none of them; a caller with several lists unites their sets.
    static QSet<QString> SharedMacs(const QList<CameraRecord> &cameras);
};

#endif // CAMERARECORD_H
