#ifndef PROTOCOL_H
#define PROTOCOL_H

#include <QtGlobal>

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
// Every discovery frame starts with these two bytes.
inline constexpr unsigned char frameFirstId = 0xFA;
inline constexpr unsigned char frameSecondId = 0x01;
// A reply: two identifier bytes, a length byte, 100 bytes of body and the
// checksum.
inline constexpr int replyLength = 105;

// Where a reply carries the camera's record: its IPv4 address and MAC as raw
// bytes, then five text fields, each cut at its first zero byte. The OS
// version is only ten bytes wide.
inline constexpr int replyIpOffset = 3;
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

} // namespace Protocol

#endif // PROTOCOL_H
