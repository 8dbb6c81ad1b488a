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
    // address the routing table would send from to reach it; else fallback.
    static QString ForDevice(const QString &deviceIp, const QString &fallback);

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
