#include "cameraaddress.h"
#include "commandline.h"
#include "expectedcameras.h"
#include "imagesnapshot.h"
#include "planquestion.h"
#include "retryfile.h"
#include "rollout.h"
#include "searchlisting.h"
#include "textformat.h"
#include "updateplan.h"

#include <QCryptographicHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QTemporaryDir>
#include <QtTest>

#include <sys/stat.h>

namespace {

CameraRecord camera(const QString &ip, const QString &mac, const QString &fw = "V1.0",
    const QString &type = "IPC-D240")
{
    return { ip, mac, "SN", "Gate", type, "4.19.2", fw };
}

QStringList records(const QList<CameraRecord> &cameras)
{
    QStringList fields;
    for (const CameraRecord &camera : cameras)
        fields.append(camera.Fields().join('|'));
    return fields;
}

QStringList ips(const QList<CameraResult> &results)
{
    QStringList found;
    for (const CameraResult &result : results)
        found.append(result.ip);
    return found;
}

// A path in directory for a row's kind of file: "file" holds text, "huge" is
// hugeBytes long without a byte written, "directory", "fifo" and "missing"
// are what they say, and any other kind is a path as it stands.
QString fileOfKind(const QTemporaryDir &directory, const QString &kind, const QByteArray &text,
    qint64 hugeBytes = 0)
{
    const QString path = directory.filePath("given");
    QFile file(path);
    if (kind == "file" && file.open(QIODevice::WriteOnly) && file.write(text) == text.size())
        return path;
    if (kind == "huge" && file.open(QIODevice::WriteOnly) && file.resize(hugeBytes))
        return path;
    if (kind == "fifo" && ::mkfifo(QFile::encodeName(path).constData(), 0600) == 0)
        return path;
    if (kind == "directory")
        return directory.path();
    if (kind == "missing")
        return path;
    return kind.startsWith('/') ? kind : QString();
}

} // namespace

// What a fleet run decides before it sends anything: which addresses may be
// cameras at all, which files it takes for an image or a run's output, which
// cameras an update touches, and which a retry takes up again. A fault here
// sends an image where none belongs, blocks on a file that never ends, or
// counts a camera done that was never updated.
class TestFleetPlan : public QObject
{
    Q_OBJECT

private slots:
    void judgesAddresses_data();
    void judgesAddresses();
    void collectionJudgesAddressesAsARunDoes_data();
    void collectionJudgesAddressesAsARunDoes();
    void retryTakesEveryUnfinishedCamera_data();
    void retryTakesEveryUnfinishedCamera();
    void retryReadsOnlyARunsOutput_data();
    void retryReadsOnlyARunsOutput();
    void expectedCamerasAreReadAsASearchListedThem_data();
    void expectedCamerasAreReadAsASearchListedThem();
    void missingCamerasAreMatchedByMacAlone();
    void imageIsReadOnlyFromARegularFile_data();
    void imageIsReadOnlyFromARegularFile();
    void planSendsNothingToAnAddressTwoCamerasClaim();
    void planSendsAnImageToOneTypeOnly_data();
    void planSendsAnImageToOneTypeOnly();
    void macNamesACameraOnlyIfItCanBeOnesAlone_data();
    void macNamesACameraOnlyIfItCanBeOnesAlone();
    void planKnowsACameraByItsMacOnlyWhileItIsTheOnlyOne_data();
    void planKnowsACameraByItsMacOnlyWhileItIsTheOnlyOne();
    void planGivesEveryCameraAResult();
    void resumeSendsNothingBlindly_data();
    void resumeSendsNothingBlindly();
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

// The Ansible collection's check mode does not run ordelctl, so it applies
// the run's rule in its own code; its unit test reads the same table.
void TestFleetPlan::collectionJudgesAddressesAsARunDoes_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("camera");
    QFile file(QStringLiteral(CAMERA_ADDRESSES));
    QVERIFY2(file.open(QIODevice::ReadOnly), qPrintable(file.fileName()));
    const QJsonArray rows = QJsonDocument::fromJson(file.readAll()).array();
    QVERIFY(!rows.isEmpty());
    for (const QJsonValue &row : rows) {
        const QJsonArray cells = row.toArray();
        QTest::newRow(
            QJsonDocument(QJsonArray { cells.at(0) }).toJson(QJsonDocument::Compact).constData())
            << cells.at(0).toString() << cells.at(1).toBool();
    }
}

// Restart and shutdown refuse what the command line does not read as an
// address, and fail what the plan finds is no camera's.
void TestFleetPlan::collectionJudgesAddressesAsARunDoes()
{
    QFETCH(QString, text);
    QFETCH(bool, camera);
    QCOMPARE(
        CommandLine::IsDottedIpv4(text) && CameraAddress::WhyNotACamera(text).isEmpty(), camera);
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
    // A spare took the address of a missing camera and was updated: the
    // missing one, known by its MAC, is still to be done.
    QTest::newRow("an address reused by a spare") << QByteArray(
        "{\"ip\":\"198.51.100.20\",\"event\":\"planned\",\"mac\":\"00:1A:2B:3C:4D:05\"}\n"
        "{\"ip\":\"198.51.100.20\",\"event\":\"planned\",\"mac\":\"00:1a:2b:3c:4d:04\"}\n"
        "{\"ip\":\"198.51.100.20\",\"result\":\"succeeded\",\"mac\":\"00:1A:2B:3C:4D:05\"}\n"
        "{\"ip\":\"198.51.100.20\",\"result\":\"missing\",\"mac\":\"00:1A:2B:3C:4D:04\"}\n"
        "{\"ip\":\"198.51.100.20\",\"result\":\"succeeded\",\"mac\":\"00:1A:2B:3C:4D:05\"}\n")
                                                  << QStringList { "198.51.100.20" } << "";
    // One factory MAC on every camera of a batch: each is its address.
    const QByteArray shared = ",\"mac\":\"02:00:00:00:00:01\"}\n";
    QTest::newRow("killed: four cameras that share a MAC")
        << "{\"ip\":\"198.51.100.11\",\"event\":\"planned\"" + shared
            + "{\"ip\":\"198.51.100.12\",\"event\":\"planned\"" + shared
            + "{\"ip\":\"198.51.100.13\",\"event\":\"planned\"" + shared
            + "{\"ip\":\"198.51.100.14\",\"event\":\"planned\"" + shared
            + "{\"ip\":\"198.51.100.11\",\"result\":\"succeeded\"" + shared
        << QStringList { "198.51.100.12", "198.51.100.13", "198.51.100.14" } << "";
    QTest::newRow("a placeholder MAC, the later camera succeeded")
        << QByteArray(
               "{\"ip\":\"198.51.100.11\",\"result\":\"failed\",\"mac\":\"00:00:00:00:00:00\"}\n"
               "{\"ip\":\"198.51.100.12\",\"result\":\"succeeded\",\"mac\":\"00:00:00:00:00:00\"}"
               "\n")
        << QStringList { "198.51.100.11" } << "";
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

void TestFleetPlan::retryReadsOnlyARunsOutput_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QStringList>("retried");
    QTest::addColumn<QString>("error");
    const QByteArray planned = "{\"ip\":\"198.51.100.11\",\"event\":\"planned\"}\n"
                               "{\"ip\":\"198.51.100.12\",\"event\":\"planned\"}\n";
    QTest::newRow("a run's output")
        << "file" << planned + "{\"ip\":\"198.51.100.12\",\"result\":\"succeeded\"}\n"
        << QStringList { "198.51.100.11" } << "";
    QTest::newRow("killed while writing") << "file"
                                          << planned
            + "{\"ip\":\"198.51.100.11\",\"result\":\"succeeded\"}\n{\"ip\":\"198.51.100.12\",\"re"
                                          << QStringList { "198.51.100.12" } << "";
    QTest::newRow("another program's text")
        << "file" << QByteArray("total 8\n-rw-r--r-- 1 op op 2097152 fw.bin\n") << QStringList()
        << "it holds no camera's result";
    // Its size alone refuses it: nothing is read, nor held in memory.
    QTest::newRow("over 256 MiB") << "huge" << QByteArray() << QStringList()
                                  << "larger than any run's output";
    QTest::newRow("a directory") << "directory" << QByteArray() << QStringList()
                                 << "not a regular file";
    QTest::newRow("a FIFO without a writer")
        << "fifo" << QByteArray() << QStringList() << "not a regular file";
    QTest::newRow("an endless device")
        << "/dev/zero" << QByteArray() << QStringList() << "not a regular file";
    QTest::newRow("missing") << "missing" << QByteArray() << QStringList()
                             << "No such file or directory";
}

void TestFleetPlan::retryReadsOnlyARunsOutput()
{
    QFETCH(QString, kind);
    QFETCH(QByteArray, text);
    QFETCH(QStringList, retried);
    QFETCH(QString, error);
    QTemporaryDir directory;
    const QString path = fileOfKind(directory, kind, text, 256 * 1024 * 1024 + 1);
    QVERIFY(!path.isEmpty());
    RetryFile retry;
    QCOMPARE(retry.Read(path), error.isEmpty());
    QCOMPARE(retry.ErrorString(), error);
    QCOMPARE(retry.Addresses(), retried);
}

void TestFleetPlan::expectedCamerasAreReadAsASearchListedThem_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QByteArray>("text");
    // Each camera's fields joined by |; empty with an error when refused.
    QTest::addColumn<QStringList>("cameras");
    QTest::addColumn<QString>("error");
    // Between them, a field starting with each character the CSV guards.
    const CameraRecord first { "198.51.100.11", "00:1A:2B:3C:4D:01", "SN1", "Gate", "IPC-D240",
        "4.19.2", "+V1.0" };
    const CameraRecord second { "198.51.100.12", "00:1a:2b:3c:4d:0e", "=1+1",
        "\rGate \"North\",\r\n2", "@IPC", "\t4.19", "-V1" };
    CameraRecord secondRead = second;
    secondRead.mac = "00:1A:2B:3C:4D:0E";
    const QStringList both = records({ first, secondRead });
    const QString notACamera = "line %1 is not a camera: %2";
    const QString badMac = "its mac is not a MAC address like 00:1A:2B:3C:4D:5E";
    QTest::newRow("csv") << "file" << SearchListing::Csv({ first, second }) << both << "";
    QTest::newRow("json") << "file" << SearchListing::Json({ first, second }) << both << "";
    QTest::newRow("csv typed by hand: columns reordered, blanks")
        << "file"
        << QByteArray(
               "\xEF\xBB\xBF\r\nMAC, name ,IP\r\n  \r\n00:1a:2b:3c:4d:01,Gate,198.51.100.11 ")
        << QStringList { "198.51.100.11|00:1A:2B:3C:4D:01||Gate|||" } << "";
    QTest::newRow("json with CR LF and blank lines")
        << "file"
        << "\r\n" + SearchListing::Json({ first }).replace("\n", "\r\n\r\n") << records({ first })
        << "";
    // Two searches' output appended: the camera that moved is listed at both.
    CameraRecord updated = first;
    updated.fw = "V2.0";
    CameraRecord moved = first;
    moved.ip = "198.51.100.21";
    QTest::newRow("the same camera again")
        << "file"
        << SearchListing::Json({ first, second }) + SearchListing::Json({ updated, moved })
        << records({ updated, secondRead, moved }) << "";
    QTest::newRow("the text table")
        << "file" << TextFormat::Table(CameraRecord::Headings(), { first.Fields() }).toUtf8()
        << QStringList() << "line 1 is not a CSV header with ip and mac columns";
    QTest::newRow("two ip columns") << "file" << QByteArray("ip,mac,IP\n") << QStringList()
                                    << "line 1 names the ip column twice";
    QTest::newRow("a cell short") << "file"
                                  << SearchListing::Csv({}) + "198.51.100.11,00:1A:2B:3C:4D:01\n"
                                  << QStringList()
                                  << notACamera.arg(2).arg("2 cells where the header has 7");
    QTest::newRow("a quote never closed")
        << "file" << QByteArray("ip,mac\n\n198.51.100.11,\"00:1A:2B:3C:4D:01\n") << QStringList()
        << notACamera.arg(3).arg("a quoted cell is never closed");
    QTest::newRow("text after a quote")
        << "file" << QByteArray("ip,mac\n\"198.51.100.11\"0,00:1A:2B:3C:4D:01\n") << QStringList()
        << notACamera.arg(2).arg("text follows a quoted cell");
    QTest::newRow("counted past a quoted line end")
        << "file" << SearchListing::Csv({ second }) + "198.51.100.256,00:1A:2B:3C:4D:01,,,,,\r\n"
        << QStringList() << notACamera.arg(4).arg("its ip is not an IPv4 address");
    QTest::newRow("an address ending in a line feed")
        << "file" << QByteArray("{\"ip\":\"198.51.100.11\\n\",\"mac\":\"00:1A:2B:3C:4D:01\"}")
        << QStringList() << notACamera.arg(1).arg("its ip is not an IPv4 address");
    QTest::newRow("a MAC with dashes")
        << "file" << QByteArray("ip,mac\n198.51.100.11,00-1A-2B-3C-4D-01\n") << QStringList()
        << notACamera.arg(2).arg(badMac);
    QTest::newRow("a MAC not in hex") << "file"
                                      << SearchListing::Json({ first })
            + "{\"ip\":\"198.51.100.12\",\"mac\":\"00:1A:2B:3C:4D:0G\"}"
                                      << QStringList() << notACamera.arg(2).arg(badMac);
    QTest::newRow("the search killed while writing")
        << "file" << SearchListing::Json({ first, second }).chopped(9) << QStringList()
        << notACamera.arg(2).arg("not a JSON object");
    QTest::newRow("only the header and blanks") << "file" << SearchListing::Csv({}) + " \r\n\n"
                                                << QStringList() << "it holds no camera";
    QTest::newRow("empty") << "file" << QByteArray() << QStringList() << "it holds no camera";
    QTest::newRow("over 64 MiB") << "huge" << QByteArray() << QStringList()
                                 << "larger than any search's output";
    QTest::newRow("a FIFO without a writer")
        << "fifo" << QByteArray() << QStringList() << "not a regular file";
}

void TestFleetPlan::expectedCamerasAreReadAsASearchListedThem()
{
    QFETCH(QString, kind);
    QFETCH(QByteArray, text);
    QFETCH(QStringList, cameras);
    QFETCH(QString, error);
    QTemporaryDir directory;
    const QString path = fileOfKind(directory, kind, text, 64 * 1024 * 1024 + 1);
    QVERIFY(!path.isEmpty());
    ExpectedCameras expected;
    QCOMPARE(expected.Read(path), error.isEmpty());
    QCOMPARE(expected.ErrorString(), error);
    QCOMPARE(records(expected.Cameras()), cameras);
}

void TestFleetPlan::missingCamerasAreMatchedByMacAlone()
{
    ExpectedCameras expected;
    QVERIFY(expected.ReadText(SearchListing::Json({ camera("198.51.100.11", "00:1A:2B:3C:4D:0A"),
        camera("198.51.100.12", "00:1A:2B:3C:4D:0B"), camera("198.51.100.13", "00:1A:2B:3C:4D:0C"),
        camera("198.51.100.14", "02:00:00:00:00:01"),
        camera("198.51.100.15", "02:00:00:00:00:01") })));
    // The first answered from another address, its MAC in lower case;
    // another camera took the second's address, which counts for nothing.
    // Of two that share a MAC, one answering does not answer for both.
    const QList<CameraRecord> missing
        = expected.Missing({ camera("198.51.100.31", "00:1a:2b:3c:4d:0a"),
            camera("198.51.100.12", "00:1A:2B:3C:4D:FF"),
            camera("198.51.100.15", "02:00:00:00:00:01") });
    QCOMPARE(records(missing),
        records({ camera("198.51.100.12", "00:1A:2B:3C:4D:0B"),
            camera("198.51.100.13", "00:1A:2B:3C:4D:0C"),
            camera("198.51.100.14", "02:00:00:00:00:01") }));
}

void TestFleetPlan::imageIsReadOnlyFromARegularFile_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QString>("error");
    QTest::newRow("an image") << "file" << QByteArray("firmware\0image", 14) << "";
    QTest::newRow("missing") << "missing" << QByteArray() << "No such file or directory";
    QTest::newRow("empty") << "file" << QByteArray() << "the file is empty";
    QTest::newRow("a directory") << "directory" << QByteArray() << "not a regular file";
    QTest::newRow("a FIFO without a writer") << "fifo" << QByteArray() << "not a regular file";
}

void TestFleetPlan::imageIsReadOnlyFromARegularFile()
{
    QFETCH(QString, kind);
    QFETCH(QByteArray, text);
    QFETCH(QString, error);
    QTemporaryDir directory;
    const QString path = fileOfKind(directory, kind, text);
    QVERIFY(!path.isEmpty());
    ImageSnapshot image;
    QCOMPARE(image.Read(path), error.isEmpty());
    QCOMPARE(image.ErrorString(), error);
    QCOMPARE(image.Md5Hex(),
        error.isEmpty() ? QCryptographicHash::hash(text, QCryptographicHash::Md5).toHex()
                        : QByteArray());
    QCOMPARE(QByteArray(image.Data(), int(image.Size())), error.isEmpty() ? text : QByteArray());
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
    QVERIFY(plan.Make(options, QStringList(), found));
    QCOMPARE(plan.Targets(), QStringList { "198.51.100.12" });
    QCOMPARE(plan.Skipped().size(), 0);
    QCOMPARE(plan.Refused().size(), 1);
    const CameraResult refused = plan.Refused().constFirst();
    QCOMPARE(refused.ip, QString("198.51.100.11"));
    QVERIFY(refused.CountsAsFailure());
    QCOMPARE(refused.message,
        QString("2 cameras claim this address: 00:1A:2B:3C:4D:01, 00:1A:2B:3C:4D:03"));
}

void TestFleetPlan::planSendsAnImageToOneTypeOnly_data()
{
    // --type, or empty; --any-type.
    QTest::addColumn<QString>("type");
    QTest::addColumn<bool>("anyType");
    // Each camera named: "IP", or "IP MAC" as a retry knows it; none for --all.
    QTest::addColumn<QStringList>("listed");
    // The expected cameras' "IP MAC TYPE".
    QTest::addColumn<QStringList>("expected");
    QTest::addColumn<QString>("refusal");
    QTest::addColumn<QStringList>("targets");
    QTest::addColumn<QStringList>("refused");
    QTest::addColumn<QStringList>("missing");
    // How a check of the plan ends.
    QTest::addColumn<QString>("verdict");
    const QString mixed = "cameras of 2 types answered: 1 IPC-B410, 1 IPC-D240. An image for "
                          "one type can ruin another: choose one with --type TYPE, or update "
                          "them all with --any-type";
    QTest::newRow("addresses of two types")
        << "" << false << QStringList { "198.51.100.11", "198.51.100.12" } << QStringList() << mixed
        << QStringList() << QStringList() << QStringList() << "";
    QTest::newRow("addresses of two types, any type")
        << "" << true << QStringList { "198.51.100.11", "198.51.100.12" } << QStringList() << ""
        << QStringList { "198.51.100.11", "198.51.100.12" } << QStringList() << QStringList()
        << "It would update 2 cameras.";
    QTest::newRow("an address of another type")
        << "IPC-D240" << false << QStringList { "198.51.100.11", "198.51.100.12" } << QStringList()
        << "" << QStringList { "198.51.100.11" } << QStringList { "198.51.100.12" } << QStringList()
        << "A real run would fail 1 camera without sending anything (1 refused), so it would "
           "end with exit code 1; it would update 1 camera.";
    // A retried camera is the one with its MAC: found at a new address, or
    // missing though a spare now answers at its old one.
    QTest::newRow("retried by MAC")
        << "IPC-D240" << false
        << QStringList { "198.51.100.23 00:1a:2b:3c:4d:03", "198.51.100.20 00:1A:2B:3C:4D:04" }
        << QStringList() << "" << QStringList { "198.51.100.13" } << QStringList()
        << QStringList { "198.51.100.20" }
        << "A real run would fail 1 camera without sending anything (1 missing), so it would "
           "end with exit code 1; it would update 1 camera.";
    QTest::newRow("expected of the type asked for only")
        << "IPC-D240" << false << QStringList()
        << QStringList { "198.51.100.31 00:1A:2B:3C:4D:31 IPC-B410",
               "198.51.100.32 00:1A:2B:3C:4D:32 IPC-D240" }
        << "" << QStringList { "198.51.100.11", "198.51.100.13", "198.51.100.20" } << QStringList()
        << QStringList { "198.51.100.32" }
        << "A real run would fail 1 camera without sending anything (1 missing), so it would "
           "end with exit code 1; it would update 3 cameras.";
}

void TestFleetPlan::planSendsAnImageToOneTypeOnly()
{
    QFETCH(QString, type);
    QFETCH(bool, anyType);
    QFETCH(QStringList, listed);
    QFETCH(QStringList, expected);
    QFETCH(QString, refusal);
    QFETCH(QStringList, targets);
    QFETCH(QStringList, refused);
    QFETCH(QStringList, missing);
    QFETCH(QString, verdict);
    Selection options;
    options.all = listed.isEmpty();
    if (!type.isEmpty())
        options.type = type;
    options.anyType = anyType;
    // In the order the replies came, not by address: --all takes them by
    // address, so that its canaries do not depend on reply timing.
    const QList<CameraRecord> found { camera("198.51.100.20", "00:1A:2B:3C:4D:05"),
        camera("198.51.100.11", "00:1A:2B:3C:4D:01"),
        camera("198.51.100.12", "00:1A:2B:3C:4D:02", "V1.0", "IPC-B410"),
        camera("198.51.100.13", "00:1A:2B:3C:4D:03") };
    QList<CameraRecord> named;
    for (const QString &entry : qAsConst(listed))
        named.append(camera(entry.section(' ', 0, 0), entry.section(' ', 1, 1), "", ""));
    QList<CameraRecord> expectedCameras;
    for (const QString &entry : qAsConst(expected))
        expectedCameras.append(camera(
            entry.section(' ', 0, 0), entry.section(' ', 1, 1), "", entry.section(' ', 2, 2)));
    UpdatePlan plan;
    QCOMPARE(plan.Make(options, named, found), refusal.isEmpty());
    QCOMPARE(plan.Refusal(), refusal);
    if (!refusal.isEmpty())
        return;
    plan.AddMissing(expectedCameras);
    QCOMPARE(plan.Targets(), targets);
    QCOMPARE(ips(plan.Refused()), refused);
    QCOMPARE(ips(plan.Missing()), missing);
    QCOMPARE(PlanQuestion::Verdict(plan), verdict);
}

void TestFleetPlan::macNamesACameraOnlyIfItCanBeOnesAlone_data()
{
    QTest::addColumn<QString>("mac");
    QTest::addColumn<bool>("identifies");
    QTest::newRow("burnt in") << "00:1A:2B:3C:4D:5E" << true;
    QTest::newRow("lower case, dashes") << "00-1a-2b-3c-4d-5e" << true;
    QTest::newRow("locally administered") << "02:00:00:00:00:01" << true;
    QTest::newRow("all zeros") << "00:00:00:00:00:00" << false;
    QTest::newRow("broadcast") << "FF:FF:FF:FF:FF:FF" << false;
    QTest::newRow("multicast") << "01:00:5E:00:00:01" << false;
    QTest::newRow("mixed separators") << "00:1A-2B:3C:4D:5E" << false;
    QTest::newRow("five octets") << "00:1A:2B:3C:4D" << false;
    QTest::newRow("none") << "" << false;
}

void TestFleetPlan::macNamesACameraOnlyIfItCanBeOnesAlone()
{
    QFETCH(QString, mac);
    QFETCH(bool, identifies);
    QCOMPARE(CameraRecord::MacCanIdentify(mac), identifies);
}

void TestFleetPlan::planKnowsACameraByItsMacOnlyWhileItIsTheOnlyOne_data()
{
    // Each camera "IP MAC": as the search found them, as a retry names
    // them, and as the expected cameras' file gives them.
    QTest::addColumn<QStringList>("found");
    QTest::addColumn<QStringList>("listed");
    QTest::addColumn<QStringList>("expected");
    QTest::addColumn<QStringList>("targets");
    QTest::addColumn<QStringList>("missing");
    // The targets that may answer from another address after their restart.
    QTest::addColumn<QStringList>("anyAddress");
    const QString batch = " 02:00:00:00:00:01";
    const QString zeros = " 00:00:00:00:00:00";
    const QStringList four { "198.51.100.11" + batch, "198.51.100.12" + batch,
        "198.51.100.13" + batch, "198.51.100.14" + batch };
    QTest::newRow("four retried that share a MAC")
        << four << four << QStringList()
        << QStringList { "198.51.100.11", "198.51.100.12", "198.51.100.13", "198.51.100.14" }
        << QStringList() << QStringList();
    QTest::newRow("shared in the retried run, one answers")
        << QStringList { "198.51.100.11" + batch } << QStringList(four.mid(0, 2)) << QStringList()
        << QStringList { "198.51.100.11" } << QStringList { "198.51.100.12" } << QStringList();
    QTest::newRow("shared in the search, its address taken by another")
        << QStringList { "198.51.100.11" + batch, "198.51.100.21" + batch,
               "198.51.100.12 00:1A:2B:3C:4D:02" }
        << QStringList { "198.51.100.12" + batch } << QStringList() << QStringList()
        << QStringList { "198.51.100.12" } << QStringList();
    QTest::newRow("shared in the expected cameras")
        << QStringList { "198.51.100.21" + batch } << QStringList { "198.51.100.11" + batch }
        << QStringList { "198.51.100.11" + batch, "198.51.100.12" + batch } << QStringList()
        << QStringList { "198.51.100.11" } << QStringList();
    QTest::newRow("a placeholder, found at its own address only")
        << QStringList { "198.51.100.21" + zeros, "198.51.100.11" + zeros }
        << QStringList { "198.51.100.11" + zeros, "198.51.100.12" + zeros } << QStringList()
        << QStringList { "198.51.100.11" } << QStringList { "198.51.100.12" } << QStringList();
    QTest::newRow("its own MAC, moved: wherever it is")
        << QStringList { "198.51.100.21 00:1A:2B:3C:4D:01", "198.51.100.12" + batch }
        << QStringList { "198.51.100.11 00:1a:2b:3c:4d:01", "198.51.100.12" + batch }
        << QStringList() << QStringList { "198.51.100.21", "198.51.100.12" } << QStringList()
        << QStringList { "198.51.100.21", "198.51.100.12" };
}

void TestFleetPlan::planKnowsACameraByItsMacOnlyWhileItIsTheOnlyOne()
{
    QFETCH(QStringList, found);
    QFETCH(QStringList, listed);
    QFETCH(QStringList, expected);
    QFETCH(QStringList, targets);
    QFETCH(QStringList, missing);
    QFETCH(QStringList, anyAddress);
    const auto cameras = [](const QStringList &entries) {
        QList<CameraRecord> list;
        for (const QString &entry : entries)
            list.append(camera(entry.section(' ', 0, 0), entry.section(' ', 1, 1)));
        return list;
    };
    UpdatePlan plan;
    plan.ReadAlso(cameras(expected));
    QVERIFY(plan.Make(Selection(), cameras(listed), cameras(found)));
    QCOMPARE(plan.Targets(), targets);
    QCOMPARE(ips(plan.Missing()), missing);
    QStringList movable;
    for (const QString &ip : plan.Targets()) {
        if (plan.Found(ip) && plan.MacIdentifies(plan.Found(ip)->mac))
            movable.append(ip);
    }
    QCOMPARE(movable, anyAddress);
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
    QCOMPARE(plan.Targets(), QStringList({ "198.51.100.12", "198.51.100.13" }));
    QCOMPARE(plan.Canaries(), 1);
    QCOMPARE(ips(plan.Skipped()), QStringList { "198.51.100.11" });
    QCOMPARE(ips(plan.Refused()), QStringList({ "127.0.0.1", "224.0.0.1" }));
    // The planned lines name each camera once, whatever becomes of it.
    QStringList everyone = plan.Everyone();
    QCOMPARE(everyone.size(), 5);
    everyone.removeDuplicates();
    QCOMPARE(everyone.size(), 5);
}

void TestFleetPlan::resumeSendsNothingBlindly_data()
{
    // The row the dead run left: "IP MAC", the MAC "-" for none.
    QTest::addColumn<QString>("row");
    QTest::addColumn<bool>("claimed");
    QTest::addColumn<bool>("verifying");
    // Whether the resume's search found the camera.
    QTest::addColumn<bool>("answered");
    QTest::addColumn<bool>("planned");
    QTest::newRow("not started, not found") << "198.51.100.11 -" << false << false << false << true;
    QTest::newRow("claimed, nothing to verify")
        << "198.51.100.11 00:1A:2B:3C:4D:11" << true << false << true << false;
    QTest::newRow("claimed, found to verify")
        << "198.51.100.11 00:1A:2B:3C:4D:11" << true << true << true << true;
    QTest::newRow("claimed, gone")
        << "198.51.100.11 00:1A:2B:3C:4D:11" << true << true << false << false;
    // Found at its address, where the dead run sent to it before it had
    // answered any search.
    QTest::newRow("claimed without a MAC, found")
        << "198.51.100.11 -" << true << true << true << true;
    QTest::newRow("claimed without a MAC, gone")
        << "198.51.100.11 -" << true << true << false << false;
}

void TestFleetPlan::resumeSendsNothingBlindly()
{
    QFETCH(QString, row);
    QFETCH(bool, claimed);
    QFETCH(bool, verifying);
    QFETCH(bool, answered);
    QFETCH(bool, planned);
    Journal::CameraRow left;
    left.ip = row.section(' ', 0, 0);
    left.mac = row.section(' ', 1, 1) == "-" ? QString() : row.section(' ', 1, 1);
    left.claimed = claimed;
    // Elsewhere, and another camera at its address, when it did not answer.
    QList<CameraRecord> found { answered ? camera(left.ip, "00:1a:2b:3c:4d:11")
                                         : camera("198.51.100.40", "00:1A:2B:3C:4D:40") };
    if (left.mac.isEmpty() && !answered)
        found = {};
    QList<CameraRecord> toPlan;
    const QList<CameraResult> failed = Rollout::Unsendable(7, { left }, verifying, found, &toPlan);
    QCOMPARE(toPlan.size(), planned ? 1 : 0);
    QCOMPARE(failed.size(), planned ? 0 : 1);
    if (!planned)
        QCOMPARE(failed.constFirst().message,
            QString("run 7 may have updated it; check it, then update it by name"));
}

QTEST_GUILESS_MAIN(TestFleetPlan)
#include "tst_fleetplan.moc"
