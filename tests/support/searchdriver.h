#ifndef SEARCHDRIVER_H
#define SEARCHDRIVER_H

#include <QMessageBox>
#include <QStringList>

class MainWindow;
class ModalAnswerer;
class QLabel;
class QPushButton;
class QStandardItemModel;
class QTableView;

// Drives the main window's device list the way an operator does, for the
// tests that search simulated cameras or fill the table themselves.
namespace SearchDriver {

// The collection window with room for a loaded machine.
constexpr int searchTimeoutMs = 6000;

QTableView *table(const MainWindow *window);
QStandardItemModel *model(const MainWindow *window);
QLabel *status(const MainWindow *window);
QPushButton *searchButton(const MainWindow *window);

// Search Device, then the end of the collection window. False, with a
// warning of what the status line showed, when the search did not start at
// once or did not end in time.
bool search(MainWindow *window, int timeoutMs = searchTimeoutMs);
QStringList row(const MainWindow *window, int index);

// A row put in as a search would, without one.
void addRow(MainWindow *window, const QStringList &cells);
// A click on the row, as an operator selects it.
void selectRow(MainWindow *window, int row);
// The row selected, then the right-click menu's entry chosen and its
// question, if any, answered after afterMs; returns once all is answered.
void chooseFromMenu(MainWindow *window, ModalAnswerer &answerer, int row, const QString &entry,
    QMessageBox::StandardButton answer = QMessageBox::NoButton, int afterMs = 0);
// The same, returning at once: the menu and its question are answered later,
// by the event loop that runs then. For use inside a wait of the tool's, which
// a wait of the test's own would hold.
void openMenu(MainWindow *window, ModalAnswerer &answerer, int row, const QString &entry,
    QMessageBox::StandardButton answer = QMessageBox::NoButton, int afterMs = 0);

} // namespace SearchDriver

#endif // SEARCHDRIVER_H
