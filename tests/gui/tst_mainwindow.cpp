#include "applicationloop.h"
#include "form.h"
#include "mainwindow.h"
#include "modalanswerer.h"
#include "searchdriver.h"
#include "urlcatcher.h"

#include <QAction>
#include <QDesktopServices>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QScrollBar>
#include <QStandardItemModel>
#include <QStatusBar>
#include <QTableView>
#include <QtTest>

using namespace SearchDriver;

// The main window as the operator meets it, without any network: everything
// that sends a probe or talks to a camera is tested in the lab instead. Its
// designed values are in tst_windowlayout.
class TestMainWindow : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void startsWithEmptyTableAndStatusLine();
    void cellsAreReadOnlyAndClicksSelectWholeRows();
    void columnsGrowOnlyAsFarAsTheirTextNeeds_data();
    void columnsGrowOnlyAsFarAsTheirTextNeeds();
    void quitNeedsConfirmation_data();
    void quitNeedsConfirmation();
    void contextMenuNeedsASelectedRow();
    void contextMenuOffersFourActionsInOrder();
    void loginPageOpensTheCamerasWebPage();
    void cameraFwUpdateOpensAWindowPerChoice();
    void commandAnsweredNoIsCancelled_data();
    void commandAnsweredNoIsCancelled();

private:
    QList<int> columnWidths() const;
    QList<int> widthsThatFit() const;

    MainWindow *window = nullptr;
};

void TestMainWindow::init()
{
    window = new MainWindow;
    window->show();
    QVERIFY(QTest::qWaitForWindowExposed(window));
}

void TestMainWindow::cleanup()
{
    delete window;
}

void TestMainWindow::startsWithEmptyTableAndStatusLine()
{
    const QStringList headers { "IP Address", "MAC Address", "SN", "Device Name", "Camera Type",
        "OS Version", "Camera FW Version" };
    QCOMPARE(model(window)->columnCount(), headers.size());
    for (int column = 0; column < headers.size(); ++column)
        QCOMPARE(model(window)->headerData(column, Qt::Horizontal).toString(), headers.at(column));
    QCOMPARE(model(window)->rowCount(), 0);
    QVERIFY(status(window)->text().isEmpty());
    QVERIFY(window->statusBar()->isAncestorOf(status(window)));
}

void TestMainWindow::cellsAreReadOnlyAndClicksSelectWholeRows()
{
    addRow(window, { "198.51.100.11", "00:1A:2B:3C:4D:01", "SN1", "A", "T", "1", "1" });
    addRow(window, { "198.51.100.12", "00:1A:2B:3C:4D:02", "SN2", "B", "T", "1", "1" });

    const QRect cell = table(window)->visualRect(model(window)->index(0, 3));
    QTest::mouseDClick(table(window)->viewport(), Qt::LeftButton, {}, cell.center());
    QTest::keyClicks(table(window), "edited");
    QVERIFY(!table(window)->findChild<QLineEdit *>());
    QCOMPARE(model(window)->index(0, 3).data().toString(), QString("A"));

    selectRow(window, 0);
    QCOMPARE(table(window)->selectionModel()->selectedRows().size(), 1);
    QCOMPARE(table(window)->selectionModel()->selectedIndexes().size(), 7);
    selectRow(window, 1);
    const QModelIndexList rows = table(window)->selectionModel()->selectedRows();
    QCOMPARE(rows.size(), 1);
    QCOMPARE(rows.first().row(), 1);
}

QList<int> TestMainWindow::columnWidths() const
{
    QList<int> widths;
    for (int column = 0; column < model(window)->columnCount(); ++column)
        widths << table(window)->columnWidth(column);
    return widths;
}

// Qt's own fit to the contents is the width at which no header and no cell is
// elided; below the designed 120 px a column never shrinks.
QList<int> TestMainWindow::widthsThatFit() const
{
    QTableView fitted;
    fitted.setFont(table(window)->font());
    fitted.setModel(model(window));
    QList<int> widths;
    for (int column = 0; column < model(window)->columnCount(); ++column) {
        fitted.resizeColumnToContents(column);
        widths << qMax(120, fitted.columnWidth(column));
    }
    return widths;
}

void TestMainWindow::columnsGrowOnlyAsFarAsTheirTextNeeds_data()
{
    QTest::addColumn<QStringList>("cells");
    QTest::newRow("short fields") << QStringList { "10.0.0.1", "00:1A:2B:3C:4D:5E", "A", "B", "T",
        "1", "1" };
    QTest::newRow("widest fields") << QStringList { "255.255.255.255", "00:1A:2B:3C:4D:5E",
        "ABCDEFGHIJKLMNOPQRST", "WWWWWWWWWWWWWWWWWWWW", "MMMMMMMMMMMMMMMMMMMM", "10.0.19045",
        "2.8.1-20240101-build" };
}

void TestMainWindow::columnsGrowOnlyAsFarAsTheirTextNeeds()
{
    QFETCH(QStringList, cells);
    const QList<int> empty = columnWidths();
    QCOMPARE(empty, widthsThatFit());

    addRow(window, cells);
    addRow(window, { "10.0.0.2", "00:00:00:00:00:02", "", "", "", "", "" });
    QCOMPARE(columnWidths(), widthsThatFit());
    int total = 0;
    for (int width : columnWidths())
        total += width;
    if (total > table(window)->viewport()->width())
        QTRY_VERIFY(table(window)->horizontalScrollBar()->maximum() > 0);

    // A new search empties the table first and starts from the same widths.
    model(window)->removeRows(0, model(window)->rowCount());
    QCOMPARE(columnWidths(), empty);
}

void TestMainWindow::quitNeedsConfirmation_data()
{
    QTest::addColumn<bool>("yes");
    QTest::addColumn<bool>("escape");
    QTest::newRow("answered No") << false << false;
    QTest::newRow("closed with Escape") << false << true;
    QTest::newRow("answered Yes") << true << false;
}

// Closed from inside the application's own loop, as an operator closes it,
// with an update window open beside it: only Yes ends the application, and
// the update window does not keep it up.
void TestMainWindow::quitNeedsConfirmation()
{
    QFETCH(bool, yes);
    QFETCH(bool, escape);
    QPointer<Form> form = new Form("192.0.2.10", "00:1A:2B:3C:4D:5E", "SN1");
    form->show();
    ModalAnswerer answerer;
    if (escape)
        answerer.pressEscape();
    else
        answerer.pressButton(yes ? QMessageBox::Yes : QMessageBox::No);
    QTimer::singleShot(0, window, [this] { QVERIFY(!window->close()); });
    // A loop that does not end by itself is ended after 2 s, with code 2.
    QCOMPARE(ApplicationLoop::Run(2000, 2), yes ? 0 : 2);

    QCOMPARE(window->isVisible(), !yes);
    QVERIFY(answerer.allAnswered());
    QCOMPARE(answerer.seenBoxes(),
        { ModalAnswerer::tip("Do you want to quit?", QMessageBox::Yes | QMessageBox::No) });
    QCOMPARE(answerer.unexpectedBoxes, 0);
    delete form;
}

void TestMainWindow::contextMenuNeedsASelectedRow()
{
    ModalAnswerer answerer;
    answerer.pressButton(QMessageBox::Ok);
    emit table(window)->customContextMenuRequested(QPoint(5, 5));
    QVERIFY(answerer.waitUntilAnswered());
    const QString refusal = ModalAnswerer::tip("Please select a row");
    QCOMPARE(answerer.seenBoxes(), { refusal });
    QVERIFY(answerer.menus.isEmpty());

    // A table with rows but no selection refuses the same way.
    addRow(window, { "198.51.100.11", "00:1A:2B:3C:4D:01", "SN1", "A", "T", "1", "1" });
    answerer.pressButton(QMessageBox::Ok);
    emit table(window)->customContextMenuRequested(QPoint(5, 5));
    QVERIFY(answerer.waitUntilAnswered());
    QCOMPARE(answerer.seenBoxes(), QStringList({ refusal, refusal }));
    QVERIFY(answerer.menus.isEmpty());
}

void TestMainWindow::contextMenuOffersFourActionsInOrder()
{
    addRow(window, { "198.51.100.11", "00:1A:2B:3C:4D:01", "SN1", "A", "T", "1", "1" });
    const int actionsBefore = window->findChildren<QAction *>().size();

    ModalAnswerer answerer;
    chooseFromMenu(window, answerer, 0, QString());
    QCOMPARE(answerer.menus.size(), 1);
    QCOMPARE(answerer.menus.first(),
        QStringList({ "Login Page", "Shut Down", "Restart", "Camera FW Update" }));
    // Nothing of the menu outlives the right-click.
    QTRY_VERIFY(window->findChildren<QMenu *>().isEmpty());
    QCOMPARE(window->findChildren<QAction *>().size(), actionsBefore);
}

void TestMainWindow::loginPageOpensTheCamerasWebPage()
{
    UrlCatcher catcher;
    QDesktopServices::setUrlHandler("http", &catcher, "open");
    addRow(window, { "192.168.1.10", "00:1A:2B:3C:4D:01", "SN1", "A", "T", "1", "1" });
    ModalAnswerer answerer;
    chooseFromMenu(window, answerer, 0, "Login Page");
    QDesktopServices::unsetUrlHandler("http");

    QCOMPARE(catcher.urls.size(), 1);
    QCOMPARE(catcher.urls.first(), QUrl("http://192.168.1.10:8888"));
    QCOMPARE(catcher.urls.first().path(), QString());
    QCOMPARE(answerer.unexpectedBoxes, 0);
}

void TestMainWindow::cameraFwUpdateOpensAWindowPerChoice()
{
    addRow(window, { "198.51.100.11", "00:1A:2B:3C:4D:01", "SN1", "A", "T", "1", "1" });
    addRow(window, { "198.51.100.12", "00:1A:2B:3C:4D:02", "SN2", "B", "T", "1", "1" });
    ModalAnswerer answerer;
    for (int row : { 0, 1 })
        chooseFromMenu(window, answerer, row, "Camera FW Update");

    QList<QPointer<Form>> forms;
    for (QWidget *widget : QApplication::topLevelWidgets()) {
        if (auto *form = qobject_cast<Form *>(widget))
            forms.append(form);
    }
    QCOMPARE(forms.size(), 2);
    QStringList shown;
    for (const QPointer<Form> &form : forms) {
        QVERIFY(form->isVisible());
        shown << form->findChild<QLabel *>("label_ip_value")->text() + " "
                + form->findChild<QLabel *>("label_mac_value")->text() + " "
                + form->findChild<QLabel *>("label_sn_value")->text();
    }
    shown.sort();
    QCOMPARE(shown,
        QStringList(
            { "198.51.100.11 00:1A:2B:3C:4D:01 SN1", "198.51.100.12 00:1A:2B:3C:4D:02 SN2" }));

    // Closing one window destroys it alone.
    QVERIFY(forms.first()->close());
    QTRY_VERIFY(forms.first().isNull());
    QVERIFY(forms.last()->isVisible());
    QVERIFY(window->isVisible());
    delete forms.last();
}

void TestMainWindow::commandAnsweredNoIsCancelled_data()
{
    QTest::addColumn<QString>("entry");
    QTest::addColumn<QString>("question");
    QTest::addColumn<QString>("cancelled");
    QTest::newRow("shut down") << "Shut Down"
                               << "Do you want to shut down?"
                               << "Shut Down Cancel";
    QTest::newRow("restart") << "Restart"
                             << "Do you want to restart?"
                             << "Restart Cancel";
}

// Loopback only: the row's address is this machine, where no broker runs, so
// the connection the command starts goes nowhere.
void TestMainWindow::commandAnsweredNoIsCancelled()
{
    QFETCH(QString, entry);
    QFETCH(QString, question);
    QFETCH(QString, cancelled);
    addRow(window, { "127.0.0.1", "00:1A:2B:3C:4D:01", "SN1", "A", "T", "1", "1" });
    ModalAnswerer answerer;
    chooseFromMenu(window, answerer, 0, entry, QMessageBox::No);

    QCOMPARE(
        answerer.seenBoxes(), { ModalAnswerer::tip(question, QMessageBox::Yes | QMessageBox::No) });
    QCOMPARE(status(window)->text(), cancelled);
}

QTEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"
