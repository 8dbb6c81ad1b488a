#include "crc_calc.h"
#include "protocol.h"
#include "referencecrc.h"

#include <QtTest>

// The checksum guards every discovery frame; a wrong table entry or a swapped
// byte order would make the tool list no camera at all, or accept garbage.
class TestCrcCalc : public QObject
{
    Q_OBJECT

private slots:
    void matchesCrc16ModbusCheckValues_data();
    void matchesCrc16ModbusCheckValues();
    void checkAcceptsFramesOfAnyBodyLength();
    void checkRejectsMalformedFrames_data();
    void checkRejectsMalformedFrames();
};

namespace {

// FA 01 n body CRC(high) CRC(low)
QByteArray frame(const QByteArray &body)
{
    return ReferenceCrc::appended(QByteArray::fromHex("FA01") + char(body.size()) + body);
}

// The check the search applies to each datagram.
bool accepted(QByteArray bytes)
{
    return Crc_Calc().CheckIdCRC(reinterpret_cast<unsigned char *>(bytes.data()),
        static_cast<unsigned short>(bytes.size()), Protocol::frameFirstId, Protocol::frameSecondId);
}

} // namespace

void TestCrcCalc::matchesCrc16ModbusCheckValues_data()
{
    QTest::addColumn<QByteArray>("input");
    QTest::addColumn<int>("low");
    QTest::addColumn<int>("high");
    QTest::newRow("123456789") << QByteArray("123456789") << 0x37 << 0x4B;
    QTest::newRow("abc") << QByteArray("abc") << 0x49 << 0x57;
    QTest::newRow("nothing") << QByteArray() << 0xFF << 0xFF;
    // The probe, FA 01 00 00 3C 61, carries the checksum of its first four bytes.
    QTest::newRow("probe head") << QByteArray::fromHex("FA010000") << 0x61 << 0x3C;
}

// The tests' own bitwise checksum is held to the same values, since the frames
// the other tests build and check rely on it.
void TestCrcCalc::matchesCrc16ModbusCheckValues()
{
    QFETCH(QByteArray, input);
    QFETCH(int, low);
    QFETCH(int, high);
    unsigned char first = 0;
    unsigned char second = 0;
    Crc_Calc().GetCRC16(reinterpret_cast<unsigned char *>(input.data()),
        static_cast<unsigned short>(input.size()), &first, &second);
    QCOMPARE(int(first), low);
    QCOMPARE(int(second), high);
    QCOMPARE(int(ReferenceCrc::of(input)), high << 8 | low);
}

void TestCrcCalc::checkAcceptsFramesOfAnyBodyLength()
{
    for (int n : { 0, 1, 9, Protocol::replyBodyLength, 255 })
        QVERIFY2(accepted(frame(QByteArray(n, 'x'))), qPrintable(QString::number(n)));
}

void TestCrcCalc::checkRejectsMalformedFrames_data()
{
    QTest::addColumn<QByteArray>("bytes");
    const QByteArray good = frame(QByteArray(Protocol::replyBodyLength, '\x5A'));
    const int checksumAt = Protocol::replyChecksumOffset;

    // Identifier and length faults carry a checksum that is right for the
    // bytes as sent, so only the field itself can reject them.
    const auto withByte = [&good](int at, char value) {
        QByteArray head = good.chopped(2);
        head[at] = value;
        return ReferenceCrc::appended(head);
    };
    QTest::newRow("first identifier byte") << withByte(0, char(0xFB));
    QTest::newRow("second identifier byte") << withByte(1, char(0x02));
    QTest::newRow("length byte") << withByte(
        Protocol::frameLengthOffset, char(Protocol::replyBodyLength + 1));

    QByteArray lowByteFirst = good;
    lowByteFirst[checksumAt] = good.at(checksumAt + 1);
    lowByteFirst[checksumAt + 1] = good.at(checksumAt);
    QVERIFY(lowByteFirst.at(checksumAt) != lowByteFirst.at(checksumAt + 1));
    QTest::newRow("checksum low byte first") << lowByteFirst;

    QTest::newRow("a reply cut short by a byte") << good.chopped(1);
    QTest::newRow("a reply with a byte appended") << good + 'x';

    QByteArray flippedBody = good;
    flippedBody[50] = char(flippedBody.at(50) ^ 0x01);
    QTest::newRow("body byte altered") << flippedBody;

    QByteArray flippedChecksum = good;
    flippedChecksum[checksumAt + 1] = char(flippedChecksum.at(checksumAt + 1) ^ 0x80);
    QTest::newRow("checksum byte altered") << flippedChecksum;
    // Its checksum is right, high byte first, but its length byte is 0.
    QTest::newRow("the probe") << QByteArray::fromHex("FA0100003C61");
}

void TestCrcCalc::checkRejectsMalformedFrames()
{
    QFETCH(QByteArray, bytes);
    QVERIFY(!accepted(bytes));
}

QTEST_APPLESS_MAIN(TestCrcCalc)
#include "tst_crccalc.moc"
