#ifndef DISCOVERYPROBE_H
#define DISCOVERYPROBE_H

#include <QByteArray>
#include <QHostAddress>
#include <QList>
#include <QNetworkAddressEntry>
#include <QNetworkDatagram>
#include <QNetworkInterface>

// The discovery probe, once out of each IPv4 network this host is attached
// to. Through the routing table a broadcast to 255.255.255.255 leaves by the
// default route's interface only, and without a default route not at all;
// naming the interface routes it all the same. Each probe is sent from the
// host's address on its network, the one its cameras can answer.
class DiscoveryProbe
{
public:
    static QByteArray Bytes();
    static QHostAddress Broadcast();

    // One datagram per distinct network (address and netmask) of the host's
    // broadcast-capable interfaces. A network reached by two interfaces, such
    // as wired and wireless on one LAN, gets one probe, or each camera there
    // would answer twice; a second address of an interface on another network
    // gets one of its own. Empty when the host has no such network.
    static QList<QNetworkDatagram> PerNetwork();

    // The same choice over given data: each interface's index with its
    // address entries, in the order the host lists them.
    struct Attachment
    {
        int interfaceIndex;
        QList<QNetworkAddressEntry> entries;
    };
    static QList<QNetworkDatagram> PerNetwork(const QList<Attachment> &attachments);
};

#endif // DISCOVERYPROBE_H
