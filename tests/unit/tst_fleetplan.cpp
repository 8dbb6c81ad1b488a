#include "cameraaddress.h"
#include "retryfile.h"
#include "updateplan.h"

#include <QtTest>

namespace {

CameraRecord camera(const QString &ip, const QString &mac, const QString &fw = "V1.0")
{
    return { ip, mac, "SN", "Gate", "IPC-D240", "4.19.2", fw };
}

QStringList ips(const QList<CameraResult> &results)
{
    QStringList found;
    for (const CameraResult &result : results)
        found.append(result.ip);
    return found;
}

} // namespace

// What a fleet run decides before it sends anything: which addresses may be
// cameras at all, which cameras an update touches, and which a retry takes up
// again. A fault here sends an image where none belongs, or counts a camera
// done that was never updated.
class TestFleetPlan : public QObject
{
    Q_OBJECT

private slots:
    void judgesAddresses_data();
    void judgesAddresses();
    void retryTakesEveryUnfinishedCamera_data();
    void retryTakesEveryUnfinishedCamera();
    void planSendsNothingToAnAddressTwoCamerasClaim();
    void planGivesEveryCameraAResult();
};

void TestFleetPlan::judgesAddresses_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("dotted");
    QTest::addColumn<bool>("camera");
    QTest::newRow("a camera") << "198.51.100.21" << true << true;
    QTest::newRow("a final line feed") << "198.51.100.21\n" << false << false;
    QTest::newRow("a line feed inside") << "198.51.100.21\n10.0.0.1" << false << false;
    QTest::newRow("leading zero") << "198.51.100.021" << false << false;
    QTest::newRow("over 255") << "198.51.100.256" << false << false;
    QTest::newRow("blank") << " 198.51.100.21" << false << false;
    QTest::newRow("this network") << "0.0.0.0" << true << false;
    QTest::newRow("loopback") << "127.0.0.1" << true << false;
    QTest::newRow("loopback's far end") << "127.255.0.9" << true << false;
    QTest::newRow("broadcast") << "255.255.255.255" << true << false;
    QTest::newRow("multicast") << "239.1.2.3" << true << false;
}

void TestFleetPlan::judgesAddresses()
{
    QFETCH(QString, text);
    QFETCH(bool, dotted);
    QFETCH(bool, camera);
    QCOMPARE(CameraAddress::IsDottedQuad(text), dotted);
    QCOMPARE(CameraAddress::WhyNotACamera(text).isEmpty(), camera);
    if (!camera)
        QCOMPARE(CameraAddress::WhyNotACamera(text),
            QString("address %1 is not a camera's address").arg(text));
}

void TestFleetPlan::retryTakesEveryUnfinishedCamera_data()
{
    QTest::addColumn<QByteArray>("text");
    // Empty with an error when the file must be refused.
    QTest::addColumn<QStringList>("retried");
    QTest::addColumn<QString>("error");
    const QByteArray image = "{\"event\":\"image\",\"file\":\"fw.bin\",\"md5\":\"ab\"}\n";
    const QByteArray planned = "{\"ip\":\"198.51.100.11\",\"event\":\"planned\"}\n"
                               "{\"ip\":\"198.51.100.12\",\"event\":\"planned\"}\n"
                               "{\"ip\":\"198.51.100.13\",\"event\":\"planned\"}\n";
    QTest::newRow("killed: planned and never ended")
        << image + planned + "{\"ip\":\"198.51.100.12\",\"result\":\"succeeded\"}\n"
        << QStringList { "198.51.100.11", "198.51.100.13" } << "";
    QTest::newRow("killed while writing a line") << image + planned
            + "{\"ip\":\"198.51.100.11\",\"result\":\"succeeded\"}\n"
              "{\"ip\":\"198.51.100.12\",\"res" << QStringList { "198.51.100.12", "198.51.100.13" }
                                                 << "";
    QTest::newRow("a later run appended, planned again")
        << QByteArray("{\"ip\":\"198.51.100.11\",\"result\":\"succeeded\"}\n"
                      "{\"ip\":\"198.51.100.11\",\"event\":\"planned\"}\n")
        << QStringList { "198.51.100.11" } << "";
    QTest::newRow("every camera skipped") << image
            + "{\"ip\":\"198.51.100.11\",\"event\":\"planned\"}\n"
              "{\"ip\":\"198.51.100.11\",\"result\":\"skipped\"}\n"
                                          << QStringList() << "";
    QTest::newRow("not a camera's address still reads")
        << QByteArray("{\"ip\":\"127.0.0.1\",\"result\":\"failed\"}\n"
                      "{\"ip\":\"0.0.0.0\",\"result\":\"failed\"}\n")
        << QStringList { "127.0.0.1", "0.0.0.0" } << "";
    QTest::newRow("an address ending in a line feed")
        << QByteArray("{\"ip\":\"198.51.100.21\\n\",\"result\":\"failed\"}\n") << QStringList()
        << "line 1 is not a camera's result";
    QTest::newRow("an unknown result")
        << QByteArray("{\"ip\":\"198.51.100.21\",\"result\":\"done\"}\n") << QStringList()
        << "line 1 is not a camera's result";
    QTest::newRow("events only") << QByteArray("{\"ip\":\"198.51.100.21\",\"event\":\"phase\"}\n")
                                 << QStringList() << "it holds no camera's result";
}

void TestFleetPlan::retryTakesEveryUnfinishedCamera()
{
    QFETCH(QByteArray, text);
    QFETCH(QStringList, retried);
    QFETCH(QString, error);
    RetryFile retry;
    QCOMPARE(retry.ReadText(text), error.isEmpty());
    QCOMPARE(retry.ErrorString(), error);
    QCOMPARE(retry.Addresses(), retried);
}

void TestFleetPlan::planSendsNothingToAnAddressTwoCamerasClaim()
{
    Selection options;
    options.all = true;
    options.skipFw = "V2.0";
    // Both claimants are judged, not the last to answer: one is current.
    const QList<CameraRecord> found { camera("198.51.100.11", "00:1A:2B:3C:4D:01", "V2.0"),
        camera("198.51.100.12", "00:1A:2B:3C:4D:02"),
        camera("198.51.100.11", "00:1A:2B:3C:4D:03") };
    UpdatePlan plan;
    QVERIFY(plan.Make(options, {}, found));
    QCOMPARE(plan.First(), QStringList { "198.51.100.12" });
    QCOMPARE(plan.Skipped().size(), 0);
    QCOMPARE(plan.Refused().size(), 1);
    const CameraResult refused = plan.Refused().constFirst();
    QCOMPARE(refused.ip, QString("198.51.100.11"));
    QVERIFY(refused.CountsAsFailure());
    QCOMPARE(refused.message,
        QString("2 cameras claim this address: 00:1A:2B:3C:4D:01, 00:1A:2B:3C:4D:03"));
}

void TestFleetPlan::planGivesEveryCameraAResult()
{
    Selection options;
    options.skipFw = "V2.0";
    options.canary = 1;
    const QList<CameraRecord> found { camera("198.51.100.11", "00:1A:2B:3C:4D:01", "V2.0"),
        camera("198.51.100.13", "00:1A:2B:3C:4D:03"), camera("127.0.0.1", "00:1A:2B:3C:4D:04") };
    UpdatePlan plan;
    QVERIFY(plan.Make(options,
        { "198.51.100.11", "198.51.100.12", "127.0.0.1", "198.51.100.13", "224.0.0.1" }, found));
    QCOMPARE(plan.First(), QStringList { "198.51.100.12" });
    QCOMPARE(plan.Then(), QStringList { "198.51.100.13" });
    QCOMPARE(ips(plan.Skipped()), QStringList { "198.51.100.11" });
    QCOMPARE(ips(plan.Refused()), QStringList({ "127.0.0.1", "224.0.0.1" }));
    // The planned lines name each camera once, whatever becomes of it.
    QStringList everyone = plan.Everyone();
    QCOMPARE(everyone.size(), 5);
    everyone.removeDuplicates();
    QCOMPARE(everyone.size(), 5);
}

QTEST_GUILESS_MAIN(TestFleetPlan)
#include "tst_fleetplan.moc"
