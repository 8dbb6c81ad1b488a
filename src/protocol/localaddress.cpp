#include "localaddress.h"

#include "protocol.h"

#include <QUdpSocket>

namespace {

// Only picks the route, which any port would: no datagram is sent to it.
constexpr quint16 routeLookupPort = Protocol::discoveryPort;

bool isUsable(const QHostAddress &address)
{
    return address.protocol() == QAbstractSocket::IPv4Protocol && !address.isLoopback()
        && address.toIPv4Address() != 0;
}

} // namespace

QString LocalAddress::ForDevice(const QString &deviceIp)
{
    const QHostAddress device(deviceIp);
    return Choose(device, HostNetworks(), RoutedAddress(device),
        LastListed(QNetworkInterface::allAddresses()));
}

QString LocalAddress::LastListed(const QList<QHostAddress> &addresses)
{
    QString chosen;
    for (const QHostAddress &address : addresses) {
        if (address == QHostAddress(QHostAddress::LocalHost) || address.toIPv4Address() == 0)
            continue;
        chosen = address.toString();
    }
    return chosen;
}

QString LocalAddress::Choose(const QHostAddress &device,
    const QList<QNetworkAddressEntry> &networks, const QHostAddress &routed,
    const QString &fallback)
{
    if (device.protocol() != QAbstractSocket::IPv4Protocol)
        return fallback;
    // Overlapping subnets: the narrowest one is where the routing table sends.
    const QNetworkAddressEntry *closest = nullptr;
    for (const QNetworkAddressEntry &network : networks) {
        if (!isUsable(network.ip()) || !device.isInSubnet(network.ip(), network.prefixLength()))
            continue;
        if (!closest || network.prefixLength() > closest->prefixLength())
            closest = &network;
    }
    if (closest)
        return closest->ip().toString();
    if (isUsable(routed))
        return routed.toString();
    return fallback;
}

QList<QNetworkInterface> LocalAddress::HostInterfaces()
{
    QList<QNetworkInterface> interfaces;
    const auto wanted = QNetworkInterface::IsUp | QNetworkInterface::IsRunning;
    for (const QNetworkInterface &interface : QNetworkInterface::allInterfaces()) {
        if ((interface.flags() & wanted) == wanted
            && !interface.flags().testFlag(QNetworkInterface::IsLoopBack))
            interfaces.append(interface);
    }
    return interfaces;
}

QList<QNetworkAddressEntry> LocalAddress::HostNetworks()
{
    QList<QNetworkAddressEntry> networks;
    for (const QNetworkInterface &interface : HostInterfaces()) {
        for (const QNetworkAddressEntry &entry : interface.addressEntries()) {
            if (entry.ip().protocol() == QAbstractSocket::IPv4Protocol)
                networks.append(entry);
        }
    }
    return networks;
}

QHostAddress LocalAddress::RoutedAddress(const QHostAddress &device)
{
    if (device.protocol() != QAbstractSocket::IPv4Protocol)
        return QHostAddress();
    QUdpSocket socket;
    // An address needs no lookup, so a UDP socket connects at once or not at all.
    socket.connectToHost(device, routeLookupPort);
    if (socket.state() != QAbstractSocket::ConnectedState)
        return QHostAddress();
    return socket.localAddress();
}
