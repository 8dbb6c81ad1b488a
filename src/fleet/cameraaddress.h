#ifndef CAMERAADDRESS_H
#define CAMERAADDRESS_H

#include <QString>

// Which addresses may be sent an update or a command. A camera's reply names
// its own address, and an operator may type one: either can name this host,
// a whole network or nothing at all, and a connection there would reach
// something other than a camera.
class CameraAddress
{
public:
    // Four decimal numbers of at most 255 with dots between and nothing
    // else, not even a final line feed, without leading zeros (which some
    // readers take for octal).
    static bool IsDottedQuad(const QString &text);

    // Empty when ip may be a camera's; otherwise why it cannot be: not a
    // dotted quad, "this network" (0.0.0.0/8), loopback, multicast or
    // reserved (224.0.0.0 up, the broadcast address among them), an
    // attached network's broadcast address, or one of this host's own
    // addresses.
    static QString WhyNotACamera(const QString &ip);
};

#endif // CAMERAADDRESS_H
