#include "searchdriver.h"

#include "mainwindow.h"
#include "modalanswerer.h"

#include <QLabel>
#include <QPushButton>
#include <QStandardItemModel>
#include <QTableView>
#include <QTest>

namespace SearchDriver {

QTableView *table(const MainWindow *window)
{
    return window->findChild<QTableView *>(QStringLiteral("tableView"));
}

QStandardItemModel *model(const MainWindow *window)
{
    return qobject_cast<QStandardItemModel *>(table(window)->model());
}

QLabel *status(const MainWindow *window)
{
    return window->findChild<QLabel *>(QStringLiteral("label_Search_State"));
}

QPushButton *searchButton(const MainWindow *window)
{
    return window->findChild<QPushButton *>(QStringLiteral("pushButton_Search_Device"));
}

bool search(MainWindow *window, int timeoutMs)
{
    QTest::mouseClick(searchButton(window), Qt::LeftButton);
    const bool started = status(window)->text() == QLatin1String("Searching Device...");
    const bool ended = started
        && QTest::qWaitFor(
            [window] { return status(window)->text() == QLatin1String("Search Completed"); },
            timeoutMs);
    if (!ended)
        qWarning().noquote() << "search" << (started ? "did not end:" : "did not start:")
                             << status(window)->text();
    return ended;
}

QStringList row(const MainWindow *window, int index)
{
    QStringList cells;
    for (int column = 0; column < model(window)->columnCount(); ++column)
        cells << model(window)->item(index, column)->text();
    return cells;
}

void addRow(MainWindow *window, const QStringList &cells)
{
    QList<QStandardItem *> items;
    for (const QString &cell : cells)
        items.append(new QStandardItem(cell));
    model(window)->appendRow(items);
}

void selectRow(MainWindow *window, int row)
{
    const QRect cell = table(window)->visualRect(model(window)->index(row, 1));
    QTest::mouseClick(table(window)->viewport(), Qt::LeftButton, {}, cell.center());
}

void openMenu(MainWindow *window, ModalAnswerer &answerer, int row, const QString &entry,
    QMessageBox::StandardButton answer, int afterMs)
{
    selectRow(window, row);
    answerer.chooseMenuEntry(entry);
    if (answer != QMessageBox::NoButton)
        answerer.pressButton(answer, afterMs);
    emit table(window)->customContextMenuRequested(QPoint(5, 5));
}

void chooseFromMenu(MainWindow *window, ModalAnswerer &answerer, int row, const QString &entry,
    QMessageBox::StandardButton answer, int afterMs)
{
    openMenu(window, answerer, row, entry, answer, afterMs);
    // The menu and the boxes run in no event loop of their own: they are
    // answered after the right-click has returned.
    QVERIFY(answerer.waitUntilAnswered());
}

} // namespace SearchDriver
