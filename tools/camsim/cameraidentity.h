#ifndef CAMERAIDENTITY_H
#define CAMERAIDENTITY_H

#include "protocol.h"

#include <QByteArray>
#include <QString>
#include <QVector>

class QHostAddress;

// Ways a simulated camera's discovery reply can deviate from a correct one, so
// the tests can see how the tool copes with each.
enum class ReplyFault { None, BadCrc, CrcLowFirst, BadLengthByte, Short, Long, BadId, Duplicate };

// What one simulated camera tells about itself in its discovery reply. Text
// fields are raw bytes: the tests need to send bytes that are not valid text.
struct CameraIdentity
{
    // A text field of the reply, which follows the address and the MAC: the
    // --camera key that sets it and its place in the reply, whose width it is
    // cut or padded with zeros to.
    struct TextField
    {
        const char *key;
        QByteArray CameraIdentity::*value;
        Protocol::ReplyTextField place;
    };

    quint32 ipv4 = 0;
    QByteArray mac;
    QByteArray serialNumber;
    QByteArray deviceName;
    QByteArray cameraType;
    QByteArray osVersion;
    QByteArray firmwareVersion;
    ReplyFault fault = ReplyFault::None;
    int delayMs = 0;

    QString ipText() const;
    QString faultName() const;

    // In the reply's order.
    static const QVector<TextField> &textFields();

    // A camera described by "key=value,..." with percent-encoded values; keys
    // left out take the defaults of the index-th camera at bindAddress.
    static bool fromFields(const QByteArray &fields, int index, const QHostAddress &bindAddress,
        CameraIdentity *camera, QString *error);
    static CameraIdentity defaults(int index, const QHostAddress &bindAddress);
    // The number-th (1-based) camera of a crowd, unique in every field that
    // identifies a camera.
    static CameraIdentity generated(int number);

private:
    bool setField(const QByteArray &key, const QByteArray &value, QString *error);
    static bool parseMac(const QByteArray &text, QByteArray *mac);
    static bool parseFault(const QByteArray &text, ReplyFault *fault);
};

#endif // CAMERAIDENTITY_H
