#include "discoveryprobe.h"

#include "localaddress.h"
#include "protocol.h"

#include <QPair>
#include <QSet>

QByteArray DiscoveryProbe::Bytes()
{
    return QByteArray(Protocol::discoveryProbe, sizeof Protocol::discoveryProbe);
}

QHostAddress DiscoveryProbe::Broadcast()
{
    return QHostAddress(QHostAddress::Broadcast);
}

QList<QNetworkDatagram> DiscoveryProbe::PerNetwork()
{
    QList<Attachment> attachments;
    for (const QNetworkInterface &interface : LocalAddress::HostInterfaces()) {
        if (interface.flags().testFlag(QNetworkInterface::CanBroadcast))
            attachments.append({ interface.index(), interface.addressEntries() });
    }
    return PerNetwork(attachments);
}

QList<QNetworkDatagram> DiscoveryProbe::PerNetwork(const QList<Attachment> &attachments)
{
    QList<QNetworkDatagram> probes;
    // A network is its first address masked by its netmask, with that mask.
    QSet<QPair<quint32, int>> networks;
    for (const Attachment &attachment : attachments) {
        for (const QNetworkAddressEntry &entry : attachment.entries) {
            const QHostAddress address = entry.ip();
            if (address.protocol() != QAbstractSocket::IPv4Protocol || address.isLoopback())
                continue;
            const int prefix = qMax(entry.prefixLength(), 0);
            const quint32 mask = prefix == 0 ? 0 : ~quint32(0) << (32 - prefix);
            const QPair<quint32, int> network(address.toIPv4Address() & mask, prefix);
            if (networks.contains(network))
                continue;
            networks.insert(network);
            // On the dual-stack search socket the kernel takes the interface
            // only together with an IPv4 source address.
            QNetworkDatagram probe(Bytes(), Broadcast(), Protocol::discoveryPort);
            probe.setInterfaceIndex(uint(attachment.interfaceIndex));
            probe.setSender(address);
            probes.append(probe);
        }
    }
    return probes;
}
