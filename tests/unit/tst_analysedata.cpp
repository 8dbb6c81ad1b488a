#include "analysedata.h"
#include "protocol.h"

#include <QtTest>

#include <cstring>

// Decoding turns reply bytes into the seven table cells; every later action
// uses the decoded IP, so a wrong byte here sends commands to the wrong camera.
class TestAnalyseData : public QObject
{
    Q_OBJECT

private slots:
    void copiesEveryByte();
    void decodesAddresses_data();
    void decodesAddresses();
    void decodesTextFields_data();
    void decodesTextFields();
    void appendsToTheCallersStrings();
    void emptyRangeGivesEmptyText();
};

namespace {

// A reply with every field zero, to be filled in by each case; the decoder does
// not look at the frame header or the checksum.
QByteArray reply()
{
    QByteArray bytes(Protocol::replyLength, '\0');
    bytes[0] = char(Protocol::frameFirstId);
    bytes[1] = char(Protocol::frameSecondId);
    bytes[Protocol::frameLengthOffset] = char(Protocol::replyBodyLength);
    return bytes;
}

void put(QByteArray &bytes, int offset, const QByteArray &value)
{
    bytes.replace(offset, value.size(), value);
}

// A reply with the text fields, serial, name, type, OS and FW, written in.
QByteArray withTexts(const QStringList &texts)
{
    QByteArray bytes = reply();
    for (int field = 0; field < texts.size(); ++field)
        put(bytes, Protocol::replyTextFields[field].offset, texts.at(field).toLatin1());
    return bytes;
}

QStringList decode(const QByteArray &bytes)
{
    AnalyseData analyse;
    QString record[7];
    analyse.UcharArraytoQStringArray(
        reinterpret_cast<const unsigned char *>(bytes.constData()), record);
    return QStringList(std::begin(record), std::end(record));
}

} // namespace

void TestAnalyseData::copiesEveryByte()
{
    QByteArray datagram = reply();
    for (int i = 3; i < datagram.size(); ++i)
        datagram[i] = char(i * 7);
    unsigned char buffer[Protocol::replyLength + 2];
    std::memset(buffer, 0xEE, sizeof buffer);
    AnalyseData analyse;
    // Its answer is always true: only the buffer tells.
    analyse.QByteArraytoUCharArray(datagram, buffer);
    QCOMPARE(QByteArray(reinterpret_cast<char *>(buffer), Protocol::replyLength), datagram);
    QCOMPARE(int(buffer[Protocol::replyLength]), 0xEE);
    // An empty datagram writes nothing.
    std::memset(buffer, 0xEE, sizeof buffer);
    analyse.QByteArraytoUCharArray(QByteArray(), buffer);
    QCOMPARE(QByteArray(reinterpret_cast<char *>(buffer), sizeof buffer),
        QByteArray(sizeof buffer, '\xEE'));
}

void TestAnalyseData::decodesAddresses_data()
{
    QTest::addColumn<QByteArray>("ip");
    QTest::addColumn<QByteArray>("mac");
    QTest::addColumn<QString>("ipText");
    QTest::addColumn<QString>("macText");
    QTest::newRow("typical") << QByteArray::fromHex("C0A8010A")
                             << QByteArray::fromHex("001A2B3C4D5E") << "192.168.1.10"
                             << "00:1A:2B:3C:4D:5E";
    QTest::newRow("no leading zeros, upper-case hex")
        << QByteArray::fromHex("0A000001") << QByteArray::fromHex("abcdef0a0b0c") << "10.0.0.1"
        << "AB:CD:EF:0A:0B:0C";
    QTest::newRow("all zero") << QByteArray(4, '\0') << QByteArray(6, '\0') << "0.0.0.0"
                              << "00:00:00:00:00:00";
    QTest::newRow("all ones") << QByteArray(4, '\xFF') << QByteArray(6, '\xFF') << "255.255.255.255"
                              << "FF:FF:FF:FF:FF:FF";
}

void TestAnalyseData::decodesAddresses()
{
    QFETCH(QByteArray, ip);
    QFETCH(QByteArray, mac);
    QFETCH(QString, ipText);
    QFETCH(QString, macText);
    QByteArray bytes = reply();
    put(bytes, 3, ip + mac);
    QCOMPARE(decode(bytes).mid(0, 2), QStringList({ ipText, macText }));
}

void TestAnalyseData::decodesTextFields_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QStringList>("texts"); // serial, name, type, OS, FW

    const QStringList typical { "SN0001", "Gate camera", "IPC-4K", "3.10.2", "2.4.1-rc1" };
    QTest::newRow("terminated texts") << withTexts(typical) << typical;
    QTest::newRow("empty fields") << reply() << QStringList { "", "", "", "", "" };

    // Every field full to its width with no terminator: nothing of the next
    // field (or of the checksum, for the last one) joins it.
    const QStringList full { "ABCDEFGHIJKLMNOPQRST", "abcdefghijklmnopqrst", "01234567890123456789",
        "OSVERSION1", "FWVERSION-1234567890" };
    QByteArray fullBytes = withTexts(full);
    put(fullBytes, 103, "\x77\x77");
    QTest::newRow("full width, no terminator") << fullBytes << full;

    // The OS field is only ten bytes wide: a longer text spills into the FW
    // field, which starts at byte 83 whatever came before.
    QTest::newRow("OS text running into the FW field") << withTexts(
        { "", "", "", "10.0.19045.1" }) << QStringList { "", "", "", "10.0.19045", ".1" };

    QByteArray stopsAtZero = reply();
    put(stopsAtZero, 13, QByteArray("AB\0CD", 5));
    QTest::newRow("stops at the first zero") << stopsAtZero << QStringList { "AB", "", "", "", "" };

    QByteArray latin1 = reply();
    put(latin1, 33, "Cam\xE9ra \xB5");
    QTest::newRow("bytes are Latin-1")
        << latin1 << QStringList { "", QStringLiteral("Cam\u00E9ra \u00B5"), "", "", "" };
}

void TestAnalyseData::decodesTextFields()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QStringList, texts);
    QCOMPARE(decode(bytes).mid(2), texts);
}

void TestAnalyseData::appendsToTheCallersStrings()
{
    QByteArray bytes = reply();
    put(bytes, 3, QByteArray::fromHex("01020304"));
    put(bytes, 13, "SN");
    AnalyseData analyse;
    QString record[7] = { "ip:", "mac:", "sn:" };
    analyse.UcharArraytoQStringArray(
        reinterpret_cast<const unsigned char *>(bytes.constData()), record);
    QCOMPARE(record[0], QString("ip:1.2.3.4"));
    QCOMPARE(record[1], QString("mac:00:00:00:00:00:00"));
    QCOMPARE(record[2], QString("sn:SN"));
}

void TestAnalyseData::emptyRangeGivesEmptyText()
{
    const unsigned char bytes[] = { 'a', 'b', 'c' };
    AnalyseData analyse;
    QCOMPARE(analyse.UcharArraytoQString(bytes, 2, 1), QString());
    QCOMPARE(analyse.UcharArraytoQString(bytes, 1, 1), QString("b"));
}

QTEST_APPLESS_MAIN(TestAnalyseData)
#include "tst_analysedata.moc"
