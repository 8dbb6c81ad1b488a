#ifndef LOCALADDRESS_H
#define LOCALADDRESS_H

#include <QHostAddress>
#include <QList>
#include <QNetworkAddressEntry>
#include <QNetworkInterface>
#include <QString>

// This host's address as a camera sees it, for the camera to reach the tool
// back. On a host attached to several networks only the address on the
// camera's own network is reachable from there.
class LocalAddress
{
public:
    // The address on the interface whose subnet holds deviceIp; else the
    // address the routing table would send from to reach it; else the last
    // IPv4 address the host lists (LastListed).
    static QString ForDevice(const QString &deviceIp);

    // The last IPv4 address listed that is neither 127.0.0.1 nor unspecified;
    // empty when there is none. Only 127.0.0.1 itself counts as loopback here.
    static QString LastListed(const QList<QHostAddress> &addresses);

    // The same choice over given data: the IPv4 networks of the host's
    // interfaces and the routing table's source address (null when there is
    // no route).
    static QString Choose(const QHostAddress &device, const QList<QNetworkAddressEntry> &networks,
        const QHostAddress &routed, const QString &fallback);

    // The interfaces that are up and running, loopback excluded: the networks
    // this host is attached to.
    static QList<QNetworkInterface> HostInterfaces();

    // The IPv4 networks of those interfaces.
    static QList<QNetworkAddressEntry> HostNetworks();

    // The source address of a connected UDP socket; connecting one sends
    // nothing. Null when there is no route.
    static QHostAddress RoutedAddress(const QHostAddress &device);
};

#endif // LOCALADDRESS_H
