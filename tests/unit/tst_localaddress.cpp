#include "discoveryprobe.h"
#include "localaddress.h"

#include <QtTest>

// The address a camera is told to reach the tool at. On a host with several
// networks only the address on the camera's own network is reachable from it.
// Everything here is data, except a route lookup on loopback, which sends
// nothing.
class TestLocalAddress : public QObject
{
    Q_OBJECT

private slots:
    void choosesTheAddressOnTheCamerasNetwork_data();
    void choosesTheAddressOnTheCamerasNetwork();
    void routeLookupConnectsAtOnce();
    void fallbackIsTheLastUsableIpv4_data();
    void fallbackIsTheLastUsableIpv4();
    void probesOncePerNetwork_data();
    void probesOncePerNetwork();
};

// "192.0.2.5/24" as an interface's address entry.
static QNetworkAddressEntry entry(const QString &network)
{
    QNetworkAddressEntry entry;
    entry.setIp(QHostAddress(network.section('/', 0, 0)));
    entry.setPrefixLength(network.section('/', 1).toInt());
    return entry;
}

void TestLocalAddress::choosesTheAddressOnTheCamerasNetwork_data()
{
    QTest::addColumn<QString>("device");
    QTest::addColumn<QStringList>("networks");
    QTest::addColumn<QString>("routed");
    QTest::addColumn<QString>("chosen");

    const QStringList twoNetworks { "198.51.100.2/24", "203.0.113.2/24" };
    // The fallback, the last address the host lists, is 203.0.113.2 throughout.
    QTest::newRow("first of two networks") << "198.51.100.11" << twoNetworks << "198.51.100.2"
                                           << "198.51.100.2";
    QTest::newRow("second of two networks") << "203.0.113.14" << twoNetworks << "198.51.100.2"
                                            << "203.0.113.2";
    QTest::newRow("narrowest of overlapping subnets")
        << "10.1.2.50" << QStringList { "10.0.0.2/8", "10.1.2.3/24", "10.1.0.9/16" } << ""
        << "10.1.2.3";
    QTest::newRow("beyond a router") << "192.0.2.77" << twoNetworks << "198.51.100.2"
                                     << "198.51.100.2";
    QTest::newRow("no route") << "192.0.2.77" << twoNetworks << ""
                              << "203.0.113.2";
    QTest::newRow("camera on loopback") << "127.0.0.1" << twoNetworks << "127.0.0.1"
                                        << "203.0.113.2";
}

void TestLocalAddress::choosesTheAddressOnTheCamerasNetwork()
{
    QFETCH(QString, device);
    QFETCH(QStringList, networks);
    QFETCH(QString, routed);
    QFETCH(QString, chosen);
    QList<QNetworkAddressEntry> entries;
    for (const QString &network : networks)
        entries.append(entry(network));
    QCOMPARE(LocalAddress::Choose(QHostAddress(device), entries, QHostAddress(routed),
                 QStringLiteral("203.0.113.2")),
        chosen);
}

// A route lookup that needed the event loop would always come back empty,
// and the choice would silently skip the routing table.
void TestLocalAddress::routeLookupConnectsAtOnce()
{
    QCOMPARE(LocalAddress::RoutedAddress(QHostAddress::LocalHost),
        QHostAddress(QHostAddress::LocalHost));
    QVERIFY(LocalAddress::RoutedAddress(QHostAddress()).isNull());
}

void TestLocalAddress::fallbackIsTheLastUsableIpv4_data()
{
    QTest::addColumn<QStringList>("addresses");
    QTest::addColumn<QString>("chosen");
    QTest::newRow("loopback only") << QStringList { "127.0.0.1", "::1" } << "";
    QTest::newRow("nothing") << QStringList {} << "";
    QTest::newRow("last one wins")
        << QStringList { "127.0.0.1", "192.168.1.5", "10.0.0.2" } << "10.0.0.2";
    QTest::newRow("IPv6 skipped") << QStringList { "10.0.0.2", "::1", "fe80::1", "2001:db8::5" }
                                  << "10.0.0.2";
    QTest::newRow("unspecified skipped")
        << QStringList { "192.168.1.5", "0.0.0.0" } << "192.168.1.5";
    // Only 127.0.0.1 itself counts as the loopback address.
    QTest::newRow("other 127 address") << QStringList { "192.168.1.5", "127.0.0.2" } << "127.0.0.2";
}

void TestLocalAddress::fallbackIsTheLastUsableIpv4()
{
    QFETCH(QStringList, addresses);
    QFETCH(QString, chosen);
    QList<QHostAddress> list;
    for (const QString &address : addresses)
        list.append(QHostAddress(address));
    QCOMPARE(LocalAddress::LastListed(list), chosen);
}

void TestLocalAddress::probesOncePerNetwork_data()
{
    // Each interface as "index address/prefix...", in the order listed; each
    // probe as "index sender".
    QTest::addColumn<QStringList>("interfaces");
    QTest::addColumn<QStringList>("probes");
    QTest::newRow("one network") << QStringList { "2 198.51.100.2/24" }
                                 << QStringList { "2 198.51.100.2" };
    QTest::newRow("two networks") << QStringList { "2 198.51.100.2/24", "3 203.0.113.2/24" }
                                  << QStringList { "2 198.51.100.2", "3 203.0.113.2" };
    // Wired and wireless on one LAN: its cameras would answer each probe.
    QTest::newRow("two interfaces on one network") << QStringList { "2 192.168.1.20/24",
        "3 192.168.1.21/24" } << QStringList { "2 192.168.1.20" };
    QTest::newRow("second address on another network")
        << QStringList { "2 198.51.100.2/24 203.0.113.2/24" }
        << QStringList { "2 198.51.100.2", "2 203.0.113.2" };
    QTest::newRow("one range, another mask") << QStringList { "2 10.0.0.2/8", "3 10.0.0.3/16" }
                                             << QStringList { "2 10.0.0.2", "3 10.0.0.3" };
    QTest::newRow("IPv6 and loopback addresses")
        << QStringList { "2 fe80::1/64 127.0.0.2/8 10.0.0.2/8" } << QStringList { "2 10.0.0.2" };
    QTest::newRow("no network") << QStringList {} << QStringList {};
}

void TestLocalAddress::probesOncePerNetwork()
{
    QFETCH(QStringList, interfaces);
    QFETCH(QStringList, probes);
    QList<DiscoveryProbe::Attachment> attachments;
    for (const QString &interface : interfaces) {
        const QStringList words = interface.split(' ');
        DiscoveryProbe::Attachment attachment { words.first().toInt(), {} };
        for (const QString &network : words.mid(1))
            attachment.entries.append(entry(network));
        attachments.append(attachment);
    }
    QStringList sent;
    for (const QNetworkDatagram &probe : DiscoveryProbe::PerNetwork(attachments)) {
        QCOMPARE(probe.data(), QByteArray::fromHex("FA0100003C61"));
        QCOMPARE(probe.destinationAddress(), QHostAddress("255.255.255.255"));
        QCOMPARE(probe.destinationPort(), 6999);
        sent << QString::number(probe.interfaceIndex()) + ' ' + probe.senderAddress().toString();
    }
    QCOMPARE(sent, probes);
}

QTEST_MAIN(TestLocalAddress)
#include "tst_localaddress.moc"
