#ifndef PROTOCOL_H
#define PROTOCOL_H

#include <QtGlobal>

#include <iterator>

// What the tool and the cameras agree on over the wire: ports, topics, frames
// and sizes. The tool, the camera simulator, the tests and the benchmarks all
// take them from here.
namespace Protocol {

// Discovery runs on one port in both directions: a camera answers to the port
// the probe came from.
inline constexpr quint16 discoveryPort = 6999;
// The probe never changes, so its checksum (3C 61, high byte first) is part of
// the constant.
inline constexpr char discoveryProbe[] = { '\xFA', '\x01', '\x00', '\x00', '\x3C', '\x61' };
// The cameras are slow to answer a probe that follows the bind of the
// searching socket at once, so the probe goes this long after it.
inline constexpr int probeAfterBindMs = 500;
// A crowd of cameras answers in one burst, faster than a search lists them,
// so the kernel has to hold the replies meanwhile. A queued 105-byte reply
// takes about 832 bytes of receive buffer with the kernel's bookkeeping; 5000
// cameras need about 4 MiB. The kernel doubles what is asked and caps it at
// twice net.core.rmem_max: a 4 MiB cap leaves room for about 10000 replies,
// the kernel's stock 208 KiB cap for about 500.
inline constexpr int searchReceiveBufferBytes = 4 * 1024 * 1024;
// What one queued reply takes of the buffer as the kernel reports it, so the
// buffer granted can be told in replies.
inline constexpr int queuedReplyBytes = 832;
// A discovery frame: two identifier bytes, a byte that gives the length of
// the body that follows, the body, and the checksum of all before it, high
// byte first.
inline constexpr unsigned char frameFirstId = 0xFA;
inline constexpr unsigned char frameSecondId = 0x01;
inline constexpr int frameLengthOffset = 2;
inline constexpr int frameBodyOffset = 3;
inline constexpr int frameChecksumLength = 2;
// What a frame has besides its body.
inline constexpr int frameOverhead = frameBodyOffset + frameChecksumLength;
// A reply's body is the camera's record.
inline constexpr int replyBodyLength = 100;
inline constexpr int replyLength = replyBodyLength + frameOverhead;
inline constexpr int replyChecksumOffset = replyLength - frameChecksumLength;

// Where a reply carries the camera's record: its IPv4 address and MAC as raw
// bytes, then five text fields, each cut at its first zero byte. The OS
// version is only ten bytes wide.
inline constexpr int replyIpOffset = frameBodyOffset;
inline constexpr int replyMacOffset = 7;
inline constexpr int replyMacLength = 6;
struct ReplyTextField
{
    int offset;
    int width;
};
// Serial number, device name, camera type, OS version, camera FW version.
inline constexpr ReplyTextField replyTextFields[] = {
    { 13, 20 },
    { 33, 20 },
    { 53, 20 },
    { 73, 10 },
    { 83, 20 },
};
// The record fills the body, so a field moved or widened shows here.
static_assert(replyTextFields[std::size(replyTextFields) - 1].offset
            + replyTextFields[std::size(replyTextFields) - 1].width
        == replyChecksumOffset,
    "the last text field ends where the checksum starts");
// IP, MAC and the five texts: a device record, and the device table's columns.
inline constexpr int recordFields = 7;

inline constexpr quint16 brokerPort = 1883;
inline constexpr quint16 imagePort = 8000;
inline constexpr quint16 webPagePort = 8888;

inline constexpr char powerOffTopic[] = "Ordel Tool_in/poweroff";
inline constexpr char powerOffPayload[] = "Shut Down";
inline constexpr char restartTopic[] = "Ordel Tool_in/restart";
inline constexpr char restartPayload[] = "Restart";
inline constexpr char updateRequestTopic[] = "Ordel Tool_in/update_camera_fw";
inline constexpr char updateStatusTopic[] = "Ordel Tool_out/update_camera_fw";

// The image goes in chunks of this size, which the update request announces
// as its buffer_size.
inline constexpr qint64 imageChunkSize = 1048576;

// An update's timeline, which the cameras are built around. The tool waits the
// whole second after it starts the broker connection, also when the broker
// answers sooner. After the request the camera gets five seconds to prepare
// for the image. The image connection is tried three times, each attempt
// waited out in full, so a camera that opens its port late is still reached.
// Each chunk is followed by a pause, which paces the image at about 2 MiB/s.
inline constexpr int brokerConnectWaitMs = 1000;
inline constexpr int settleWaitMs = 5000;
inline constexpr int imageConnectWaitsMs[] = { 1000, 3000, 3000 };
inline constexpr int chunkPauseMs = 500;
// A camera that takes no image data at all for this long has stopped, and one
// that does not close the connection within this long after the last byte is
// left to do so by itself.
inline constexpr int imageStallLimitMs = 30000;
inline constexpr int imageCloseWaitMs = 5000;

} // namespace Protocol

#endif // PROTOCOL_H
