#include "form.h"
#include "labcamera.h"
#include "labcameras.h"
#include "mainwindow.h"
#include "modalanswerer.h"
#include "searchdriver.h"
#include "timeline.h"
#include "updatedriver.h"

#include <QLabel>
#include <QPushButton>
#include <QStandardItemModel>
#include <QTableView>
#include <QUdpSocket>
#include <QtTest>

#include <memory>

using namespace UpdateDriver;

namespace {

// The pace a failed check saw.
QByteArray describe(const QList<qint64> &gaps)
{
    QStringList figures;
    for (const qint64 gap : gaps)
        figures << QString::number(gap);
    return "ms between chunks: " + figures.join(", ").toLatin1();
}

} // namespace

// A running transfer keeps its pace of one chunk every half second, whatever
// the operator does meanwhile in other windows: every wait is a local event
// loop on the one GUI thread, so anything that ran an event loop of its own
// inside one would hold the transfer's next chunk for as long as it stayed.
class TestPacing : public QObject
{
    Q_OBJECT

private slots:
    void cleanup();

    void otherWindowsDoNotStallTheTransfer_data();
    void otherWindowsDoNotStallTheTransfer();
    void mainWindowBoxesDoNotStallTheTransfer_data();
    void mainWindowBoxesDoNotStallTheTransfer();

private:
    LabCameras cameras;
};

void TestPacing::cleanup()
{
    closeWindows();
    cameras.clear();
}

void TestPacing::otherWindowsDoNotStallTheTransfer_data()
{
    // Else the second window's file chooser is left open meanwhile.
    QTest::addColumn<bool>("secondUpdates");
    QTest::newRow("another window's update") << true;
    QTest::newRow("another window's file chooser") << false;
}

// Each window talks to its own camera. What the operator does in a second
// window while the first image is being sent must not pause the first
// transfer: a second update waits its turn, and a chooser holds nothing.
void TestPacing::otherWindowsDoNotStallTheTransfer()
{
    QFETCH(bool, secondUpdates);
    const int chooserOpenMs = 3000;
    LabCamera *first = cameras.start(1, LabCameras::updating());
    LabCamera *second = cameras.start(2, LabCameras::updating());
    const QByteArray firstImage = randomBytes(4 * chunkSize + 5);
    const QByteArray secondImage = randomBytes(chunkSize + 9);
    Form *firstForm = openWindow(first, imageFile("first.bin", firstImage));
    Form *secondForm = openWindow(second, imageFile("second.bin", secondImage));
    QVERIFY(firstForm && secondForm);
    Timeline timeline(second, secondForm);
    // Made only when needed: an answerer answers every box it sees.
    std::unique_ptr<ModalAnswerer> chooser;
    bool acted = false;
    timeline.afterEvent(first, "tcp-read", 0, [&] {
        acted = true;
        if (secondUpdates) {
            start(secondForm);
            return;
        }
        chooser = std::make_unique<ModalAnswerer>();
        chooser->chooseFile(QString(), chooserOpenMs);
        QTest::mouseClick(
            secondForm->findChild<QPushButton *>("pushButton_Browser"), Qt::LeftButton);
    });

    UPDATE_STEP(start(firstForm));
    UPDATE_STEP(verifySucceeded(firstForm));
    UPDATE_STEP(verifyImageArrived(first, firstImage));
    QVERIFY(acted);
    const QList<qint64> gaps = chunkGaps(first);
    QVERIFY2(gaps.size() == 4, describe(gaps));
    for (const qint64 gap : gaps)
        QVERIFY2(gap <= 1000, describe(gaps));

    if (!secondUpdates) {
        QVERIFY(chooser->waitUntilAnswered(chooserOpenMs + 5000));
        QCOMPARE(chooser->fileDialogs.size(), 1);
        return;
    }
    UPDATE_STEP(verifySucceeded(secondForm));
    UPDATE_STEP(verifyImageArrived(second, secondImage));
    QCOMPARE(first->events("update-request").first().value("payload").toString(),
        announcement("first.bin", firstImage));
    QCOMPARE(second->events("update-request").first().value("payload").toString(),
        announcement("second.bin", secondImage));
    // The second waited, said so, and announced only once the first image
    // was sent.
    QVERIFY(timeline.firstShown("Waiting for another camera's update...") >= 0);
    QVERIFY(timeline.firstSeen(second, "update-request") > timeline.firstSeen(first, "image"));
}

void TestPacing::mainWindowBoxesDoNotStallTheTransfer_data()
{
    QTest::addColumn<QString>("box");
    // The menus and boxes that open in all.
    QTest::addColumn<int>("opened");
    QTest::newRow("quit question") << "quit question" << 1;
    QTest::newRow("shut down question") << "shut down question" << 2;
    QTest::newRow("restart question") << "restart question" << 2;
    QTest::newRow("no row selected") << "no row selected" << 1;
    QTest::newRow("port held by another program") << "port held by another program" << 1;
    QTest::newRow("row menu") << "row menu" << 1;
    QTest::newRow("search still running") << "search still running" << 2;
}

// A box or the row menu of the main window, left open for five seconds while
// an image is being sent, must not hold the transfer: the chunks keep their
// pace. Each is answered so that nothing is sent to a camera.
void TestPacing::mainWindowBoxesDoNotStallTheTransfer()
{
    QFETCH(QString, box);
    QFETCH(int, opened);
    const int openMs = 5000;
    const qint64 longestGapMs = 700;
    LabCamera *camera = cameras.start(1, LabCameras::updating());
    const QByteArray image = randomBytes(12 * chunkSize + 3);
    Form *form = openWindow(camera, imageFile("boxes.bin", image));
    QVERIFY(form);
    MainWindow window;
    window.show();
    // Camera 2's row, whose questions are answered No.
    SearchDriver::addRow(
        &window, { LabCamera::address(2), "00:1A:2B:3C:4D:02", "SN2", "B", "T", "1", "1" });
    // Made only once the image is on its way: an answerer answers every box
    // it sees, the update's own question included.
    std::unique_ptr<ModalAnswerer> answering;
    QUdpSocket holder;
    // The chunks measured: all of them, or those after the search's own pause.
    qint64 measuredFrom = 0;
    Timeline timeline(camera, form);
    // From inside the update's waits, without a wait of the test's own.
    timeline.afterEvent(camera, "tcp-read", 0, [&] {
        using namespace SearchDriver;
        answering = std::make_unique<ModalAnswerer>();
        ModalAnswerer &answerer = *answering;
        if (box == "quit question") {
            answerer.pressButton(QMessageBox::No, openMs);
            window.close();
        } else if (box == "shut down question" || box == "restart question") {
            openMenu(&window, answerer, 0, box == "restart question" ? "Restart" : "Shut Down",
                QMessageBox::No, openMs);
        } else if (box == "no row selected") {
            answerer.pressButton(QMessageBox::Ok, openMs);
            emit table(&window)->customContextMenuRequested(QPoint(5, 5));
        } else if (box == "port held by another program") {
            QVERIFY(holder.bind(
                QHostAddress::Any, Protocol::discoveryPort, QAbstractSocket::DontShareAddress));
            answerer.pressButton(QMessageBox::Ok, openMs);
            QTest::mouseClick(searchButton(&window), Qt::LeftButton);
        } else if (box == "row menu") {
            selectRow(&window, 0);
            answerer.chooseMenuEntry(QString(), openMs);
            emit table(&window)->customContextMenuRequested(QPoint(5, 5));
        } else {
            // The search holds the update for its own 2.5 s, as it always
            // has; the refusal asked for during it must not hold it longer.
            QTest::mouseClick(searchButton(&window), Qt::LeftButton);
        }
    });
    if (box == "search still running") {
        timeline.when(
            [&] {
                return SearchDriver::status(&window)->text() == "Searching Device..."
                    && SearchDriver::model(&window)->rowCount() > 0;
            },
            [&] {
                SearchDriver::openMenu(
                    &window, *answering, 0, "Login Page", QMessageBox::Ok, openMs);
            });
        timeline.when([&] { return SearchDriver::status(&window)->text() == "Search Completed"; },
            [&] { measuredFrom = bytesRead(camera); });
    }

    UPDATE_STEP(start(form));
    UPDATE_STEP(verifySucceeded(form));
    UPDATE_STEP(verifyImageArrived(camera, image));
    QVERIFY(answering && answering->waitUntilAnswered(openMs));
    QCOMPARE(answering->unexpectedBoxes, 0);
    QCOMPARE(answering->boxes.size() + answering->menus.size(), opened);
    QVERIFY(window.isVisible());
    const QList<qint64> gaps = chunkGaps(camera, measuredFrom);
    QVERIFY2(gaps.size() >= 4, describe(gaps));
    for (const qint64 gap : gaps)
        QVERIFY2(gap <= longestGapMs, describe(gaps));
}

QTEST_MAIN(TestPacing)
#include "tst_pacing.moc"
