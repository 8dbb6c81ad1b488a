#include "csvtext.h"
#include "runreport.h"
#include "textformat.h"

#include <QtTest>

// What the command line shows on a terminal: a camera's text may hold
// escapes, wide characters and combining marks, and each line of the live
// display must still fit its width exactly, or the redraw leaves stale lines.
class TestTextFormat : public QObject
{
    Q_OBJECT

private slots:
    void clipsToTheTerminalsColumns_data();
    void clipsToTheTerminalsColumns();
    void countsTheColumnsATerminalGives_data();
    void countsTheColumnsATerminalGives();
    void tableAlignsWideNames_data();
    void tableAlignsWideNames();
    void summaryCountsEachResult_data();
    void summaryCountsEachResult();
    void csvCellsStayData_data();
    void csvCellsStayData();
};

void TestTextFormat::clipsToTheTerminalsColumns_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("width");
    QTest::addColumn<QString>("clipped");

    QTest::newRow("fits") << "Flashing 40%" << 20 << "Flashing 40%";
    QTest::newRow("latin cut") << "Flashing 40%" << 8 << "Flashing";
    QTest::newRow("chinese by columns") << "固件升级中" << 6 << "固件升";
    QTest::newRow("wide not split at the edge") << "固件升级中" << 5 << "固件";
    QTest::newRow("combining mark takes no column") << "Re\u0301seau" << 3 << "Re\u0301s";
    QTest::newRow("pictograph outside the basic plane") << "ok \U0001F600!" << 4 << "ok ";
    QTest::newRow("escape shown, then clipped")
        << TextFormat::ForTerminal("a\x1b[2Jb") << 7 << "a\\x1b[2";
}

void TestTextFormat::clipsToTheTerminalsColumns()
{
    QFETCH(QString, text);
    QFETCH(int, width);
    QFETCH(QString, clipped);
    QCOMPARE(TextFormat::Clip(text, width), clipped);
}

// The widths a terminal gives these characters, as wcwidth() has them.
void TestTextFormat::countsTheColumnsATerminalGives_data()
{
    QTest::addColumn<uint>("codePoint");
    QTest::addColumn<int>("columns");
    QTest::newRow("latin letter") << 0x41u << 1;
    QTest::newRow("latin with accent") << 0xE9u << 1;
    QTest::newRow("combining acute") << 0x301u << 0;
    QTest::newRow("thai vowel mark") << 0xE31u << 0;
    QTest::newRow("hangul jamo") << 0x1100u << 2;
    QTest::newRow("ideographic space") << 0x3000u << 2;
    QTest::newRow("hiragana") << 0x3042u << 2;
    QTest::newRow("chinese") << 0x4E2Du << 2;
    QTest::newRow("hangul syllable") << 0xAC00u << 2;
    QTest::newRow("fullwidth A") << 0xFF21u << 2;
    QTest::newRow("halfwidth katakana") << 0xFF76u << 1;
    QTest::newRow("won sign") << 0x20A9u << 1;
    QTest::newRow("pictograph") << 0x1F600u << 2;
    QTest::newRow("ideograph beyond the basic plane") << 0x20BB7u << 2;
}

void TestTextFormat::countsTheColumnsATerminalGives()
{
    QFETCH(uint, codePoint);
    QFETCH(int, columns);
    QCOMPARE(TextFormat::Columns(QString::fromUcs4(&codePoint, 1)), columns);
}

void TestTextFormat::tableAlignsWideNames_data()
{
    // The terminal's width, 0 for a file or a pipe.
    QTest::addColumn<int>("width");
    QTest::addColumn<QString>("table");
    // Every type starts in the same terminal column, after the widest name.
    QTest::newRow("by terminal columns") << 0
                                         << QString("Name      Type      FW\n"
                                                    "--------  --------  -----\n"
                                                    "东门入口  IPC-D240  2.9.0\n"
                                                    "Gate      IPC-B410  2.7.9\n"
                                                    "Yard\u0301      IPC-B410  2.7.9\n");
    QTest::newRow("wide enough") << 25
                                 << QString("Name      Type      FW\n"
                                            "--------  --------  -----\n"
                                            "东门入口  IPC-D240  2.9.0\n"
                                            "Gate      IPC-B410  2.7.9\n"
                                            "Yard\u0301      IPC-B410  2.7.9\n");
    // The widest columns give way; the version, last, stays whole.
    QTest::newRow("narrow terminal") << 21
                                     << QString("Name    Type    FW\n"
                                                "------  ------  -----\n"
                                                "东门…   IPC-D…  2.9.0\n"
                                                "Gate    IPC-B…  2.7.9\n"
                                                "Yard\u0301    IPC-B…  2.7.9\n");
}

void TestTextFormat::tableAlignsWideNames()
{
    QFETCH(int, width);
    QFETCH(QString, table);
    QCOMPARE(TextFormat::Table({ "Name", "Type", "FW" },
                 { { "东门入口", "IPC-D240", "2.9.0" }, { "Gate", "IPC-B410", "2.7.9" },
                     { "Yard\u0301", "IPC-B410", "2.7.9" } },
                 width),
        table);
}

void TestTextFormat::csvCellsStayData_data()
{
    QTest::addColumn<QString>("cell");
    QTest::addColumn<QString>("written");

    QTest::newRow("plain name") << "Gate North"
                                << "Gate North";
    QTest::newRow("empty") << ""
                           << "";
    QTest::newRow("address") << "198.51.100.11"
                             << "198.51.100.11";
    QTest::newRow("equals inside") << "a=b+c"
                                   << "a=b+c";
    QTest::newRow("comma quoted") << "Gate, North"
                                  << "\"Gate, North\"";
    QTest::newRow("formula") << "=1+2"
                             << "'=1+2";
    QTest::newRow("plus") << "+1-1"
                          << "'+1-1";
    QTest::newRow("minus") << "-2+3"
                           << "'-2+3";
    QTest::newRow("at") << "@SUM(1)"
                        << "'@SUM(1)";
    QTest::newRow("tab") << "\t=1"
                         << "'\t=1";
    QTest::newRow("carriage return, then quoted") << "\r=1"
                                                  << "\"'\r=1\"";
    QTest::newRow("formula with quotes and commas")
        << "=HYPERLINK(\"http://x\",\"y\")"
        << "\"'=HYPERLINK(\"\"http://x\"\",\"\"y\"\")\"";
}

// The list opens in a spreadsheet, where a camera's name must not run as a
// formula.
void TestTextFormat::csvCellsStayData()
{
    QFETCH(QString, cell);
    QFETCH(QString, written);
    QCOMPARE(CsvText::Record({ "198.51.100.11", cell, "IPC-D240" }),
        "198.51.100.11," + written + ",IPC-D240\r\n");
}

void TestTextFormat::summaryCountsEachResult_data()
{
    // Each camera's result word, "+" after it for a verified one.
    QTest::addColumn<QStringList>("results");
    // The addresses whose result the journal could not take.
    QTest::addColumn<QStringList>("unrecorded");
    QTest::addColumn<QString>("summary");
    QTest::newRow("a rollout") << QStringList { "succeeded+", "skipped", "missing", "succeeded+",
        "skipped" } << QStringList()
                               << "2 succeeded (2 verified), 2 skipped, 1 missing";
    QTest::newRow("in a fixed order") << QStringList { "not started", "failed", "sent" }
                                      << QStringList() << "1 sent, 1 failed, 1 not started";
    QTest::newRow("nothing") << QStringList() << QStringList() << "no camera";
    QTest::newRow("a full disk") << QStringList { "succeeded", "not started" }
                                 << QStringList { "198.51.100.11", "198.51.100.12" }
                                 << "1 succeeded, 1 not started; not in the journal: "
                                    "198.51.100.11, 198.51.100.12";
}

void TestTextFormat::summaryCountsEachResult()
{
    QFETCH(QStringList, results);
    QFETCH(QStringList, unrecorded);
    QFETCH(QString, summary);
    QList<CameraResult> cameras;
    for (QString word : qAsConst(results)) {
        CameraResult result;
        result.verified = word.endsWith('+');
        word.remove('+');
        QVERIFY(CameraResult::OutcomeFromName(word, &result.outcome));
        cameras.append(result);
    }
    QCOMPARE(RunReport::Summary(cameras, unrecorded), summary);
}

QTEST_GUILESS_MAIN(TestTextFormat)
#include "tst_textformat.moc"
