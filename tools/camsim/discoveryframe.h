#ifndef DISCOVERYFRAME_H
#define DISCOVERYFRAME_H

#include "protocol.h"

#include <QByteArray>

class QRandomGenerator;
struct CameraIdentity;

// The bytes of the discovery exchange: recognising the tool's probe and
// building a camera's reply, correct or altered by the camera's fault.
class DiscoveryFrame
{
public:
    static constexpr quint16 port = Protocol::discoveryPort;
    static constexpr int replyLength = Protocol::replyLength;

    static bool isProbe(const QByteArray &datagram);
    // The reply as the camera sends it; a duplicate is the sender's business.
    static QByteArray reply(const CameraIdentity &camera);
    // One datagram of a flood: a third of any length up to 300 bytes, a third
    // of the reply's length, a third shaped like a reply but with a wrong
    // checksum. The content is random throughout.
    static QByteArray noise(QRandomGenerator *random);

private:
    // Each field at its offset in a zeroed reply, the checksum last.
    static QByteArray correctReply(const CameraIdentity &camera);
    // The identifier bytes and the length byte.
    static void writeHeader(QByteArray *frame);
    // Cut to width; the reply's zeros pad it.
    static void place(QByteArray *frame, int offset, const QByteArray &bytes, int width);
    static void writeChecksum(QByteArray *frame, bool highFirst);
    static void spoilChecksum(QByteArray *frame);
};

#endif // DISCOVERYFRAME_H
