#include "crc_calc.h"
#include "protocol.h"

#include <QtTest>

// The checksum guards every discovery frame; a wrong table entry or a swapped
// byte order would make the tool list no camera at all, or accept garbage.
class TestCrcCalc : public QObject
{
    Q_OBJECT

private slots:
    void matchesCrc16ModbusCheckValues_data();
    void matchesCrc16ModbusCheckValues();
    void probeCarriesItsOwnChecksumHighByteFirst();
    void checkAcceptsFramesOfAnyBodyLength();
    void checkRejectsMalformedFrames_data();
    void checkRejectsMalformedFrames();

private:
    static QByteArray checksummed(const QByteArray &bytes);
    static QByteArray frame(const QByteArray &body);
    static bool accepted(QByteArray bytes);
};

// Appends the checksum, high byte first, computed bit by bit here so that the
// table-driven code is checked against an independent computation.
QByteArray TestCrcCalc::checksummed(const QByteArray &head)
{
    QByteArray bytes = head;
    quint16 crc = 0xFFFF;
    for (const char byte : bytes) {
        crc ^= static_cast<quint8>(byte);
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 1) ? (crc >> 1) ^ 0xA001 : crc >> 1;
    }
    bytes.append(char(crc >> 8)).append(char(crc & 0xFF));
    return bytes;
}

// FA 01 n body CRC(high) CRC(low)
QByteArray TestCrcCalc::frame(const QByteArray &body)
{
    return checksummed(QByteArray::fromHex("FA01") + char(body.size()) + body);
}

// The check the search applies to each datagram.
bool TestCrcCalc::accepted(QByteArray bytes)
{
    return Crc_Calc().CheckIdCRC(reinterpret_cast<unsigned char *>(bytes.data()),
        static_cast<unsigned short>(bytes.size()), Protocol::frameFirstId, Protocol::frameSecondId);
}

void TestCrcCalc::matchesCrc16ModbusCheckValues_data()
{
    QTest::addColumn<QByteArray>("input");
    QTest::addColumn<int>("low");
    QTest::addColumn<int>("high");
    QTest::newRow("123456789") << QByteArray("123456789") << 0x37 << 0x4B;
    QTest::newRow("abc") << QByteArray("abc") << 0x49 << 0x57;
    QTest::newRow("nothing") << QByteArray() << 0xFF << 0xFF;
    QTest::newRow("probe head") << QByteArray::fromHex("FA010000") << 0x61 << 0x3C;
}

void TestCrcCalc::matchesCrc16ModbusCheckValues()
{
    QFETCH(QByteArray, input);
    QFETCH(int, low);
    QFETCH(int, high);
    Crc_Calc crc;
    unsigned char first = 0;
    unsigned char second = 0;
    crc.GetCRC16(reinterpret_cast<unsigned char *>(input.data()),
        static_cast<unsigned short>(input.size()), &first, &second);
    QCOMPARE(int(first), low);
    QCOMPARE(int(second), high);
}

void TestCrcCalc::probeCarriesItsOwnChecksumHighByteFirst()
{
    // The probe is not a well-formed reply (its length byte is 0), but its last
    // two bytes are the checksum of the first four, high byte first.
    QByteArray probe = QByteArray::fromHex("FA0100003C61");
    Crc_Calc crc;
    unsigned char low = 0;
    unsigned char high = 0;
    crc.GetCRC16(reinterpret_cast<unsigned char *>(probe.data()), 4, &low, &high);
    QCOMPARE(high, static_cast<unsigned char>(probe.at(4)));
    QCOMPARE(low, static_cast<unsigned char>(probe.at(5)));
    QVERIFY(!accepted(probe));
}

void TestCrcCalc::checkAcceptsFramesOfAnyBodyLength()
{
    for (int n : { 0, 1, 9, 100, 255 })
        QVERIFY2(accepted(frame(QByteArray(n, 'x'))), qPrintable(QString::number(n)));
}

void TestCrcCalc::checkRejectsMalformedFrames_data()
{
    QTest::addColumn<QByteArray>("bytes");
    const QByteArray good = frame(QByteArray(100, '\x5A'));

    // Identifier and length faults carry a checksum that is right for the
    // bytes as sent, so only the field itself can reject them.
    QByteArray wrongFirstId = good.left(103);
    wrongFirstId[0] = char(0xFB);
    QTest::newRow("first identifier byte") << checksummed(wrongFirstId);

    QByteArray wrongSecondId = good.left(103);
    wrongSecondId[1] = char(0x02);
    QTest::newRow("second identifier byte") << checksummed(wrongSecondId);

    QByteArray wrongLength = good.left(103);
    wrongLength[2] = char(0x65);
    QTest::newRow("length byte") << checksummed(wrongLength);

    QByteArray lowByteFirst = good;
    lowByteFirst[103] = good.at(104);
    lowByteFirst[104] = good.at(103);
    QVERIFY(lowByteFirst.at(103) != lowByteFirst.at(104));
    QTest::newRow("checksum low byte first") << lowByteFirst;

    QTest::newRow("104 bytes, a reply cut short") << good.left(104);
    QTest::newRow("106 bytes, a reply with a byte appended") << good + 'x';

    QByteArray flippedBody = good;
    flippedBody[50] = char(flippedBody.at(50) ^ 0x01);
    QTest::newRow("body byte altered") << flippedBody;

    QByteArray flippedChecksum = good;
    flippedChecksum[104] = char(flippedChecksum.at(104) ^ 0x80);
    QTest::newRow("checksum byte altered") << flippedChecksum;
}

void TestCrcCalc::checkRejectsMalformedFrames()
{
    QFETCH(QByteArray, bytes);
    QVERIFY(!accepted(bytes));
}

QTEST_APPLESS_MAIN(TestCrcCalc)
#include "tst_crccalc.moc"
