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
};

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
    for (const QString &network : networks) {
        QNetworkAddressEntry entry;
        entry.setIp(QHostAddress(network.section('/', 0, 0)));
        entry.setPrefixLength(network.section('/', 1).toInt());
        entries.append(entry);
    }
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

QTEST_MAIN(TestLocalAddress)
#include "tst_localaddress.moc"
