#include "modalanswerer.h"

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMetaEnum>
#include <QTest>

ModalAnswerer::ModalAnswerer(QObject *parent)
    : QObject(parent)
{
    timer.setInterval(10);
    connect(&timer, &QTimer::timeout, this, &ModalAnswerer::poll);
    timer.start();
}

void ModalAnswerer::pressButton(QMessageBox::StandardButton button, int afterMs)
{
    answers.enqueue({ Answer::Button, button, {}, afterMs });
}

void ModalAnswerer::pressEscape()
{
    answers.enqueue({ Answer::Escape, QMessageBox::NoButton, {} });
}

void ModalAnswerer::chooseMenuEntry(const QString &text, int afterMs)
{
    answers.enqueue({ Answer::Menu, QMessageBox::NoButton, text, afterMs });
}

void ModalAnswerer::chooseFile(const QString &path, int afterMs)
{
    answers.enqueue({ Answer::File, QMessageBox::NoButton, path, afterMs });
}

namespace {

QString described(const QString &title, const QString &text, QMessageBox::StandardButtons buttons)
{
    const QMetaObject &box = QMessageBox::staticMetaObject;
    const QMetaEnum names = box.enumerator(box.indexOfEnumerator("StandardButtons"));
    return QStringLiteral("%1: %2 [%3]")
        .arg(title, text, QString::fromLatin1(names.valueToKeys(int(buttons))));
}

} // namespace

QStringList ModalAnswerer::seenBoxes() const
{
    QStringList seen;
    for (const SeenBox &box : boxes)
        seen.append(described(box.title, box.text, box.buttons));
    return seen;
}

QString ModalAnswerer::tip(const QString &text, QMessageBox::StandardButtons buttons)
{
    return described(QStringLiteral("Tip"), text, buttons);
}

// The answer is given from a posted call, not from the timer's own slot: the
// answer may open the next box, and a timer does not fire again while its slot
// is still running, which would leave that box unanswered.
void ModalAnswerer::poll()
{
    if (answering)
        return;
    QPointer<QWidget> widget = openWidget();
    if (!widget)
        return;
    answering = true;
    const int delay = answers.isEmpty() ? 0 : answers.head().afterMs;
    QTimer::singleShot(delay, this, [this, widget] {
        answering = false;
        if (!widget || !widget->isVisible())
            return;
        if (auto *menu = qobject_cast<QMenu *>(widget))
            answerMenu(menu);
        else if (auto *dialog = qobject_cast<QFileDialog *>(widget))
            answerFileDialog(dialog);
        else
            answerBox(static_cast<QMessageBox *>(widget.data()));
    });
}

QWidget *ModalAnswerer::openWidget()
{
    QWidget *widget = QApplication::activePopupWidget();
    if (!qobject_cast<QMenu *>(widget)) {
        widget = QApplication::activeModalWidget();
        if (!qobject_cast<QMessageBox *>(widget) && !qobject_cast<QFileDialog *>(widget))
            widget = nullptr;
    }
    return widget && widget->isVisible() ? widget : nullptr;
}

bool ModalAnswerer::waitUntilAnswered(int timeoutMs)
{
    return QTest::qWaitFor(
        [this] { return answers.isEmpty() && !answering && !openWidget(); }, timeoutMs);
}

void ModalAnswerer::answerBox(QMessageBox *box)
{
    boxes.append({ box->windowTitle(), box->text(), box->standardButtons(), box->parentWidget() });
    // Without a button or Escape queued next, the box is unexpected: Escape.
    const bool forBox = !answers.isEmpty()
        && (answers.head().kind == Answer::Button || answers.head().kind == Answer::Escape);
    const Answer answer = forBox ? answers.dequeue() : Answer { Answer::Button, {}, {} };
    if (QAbstractButton *button = box->button(answer.button)) {
        button->click();
        return;
    }
    if (answer.kind != Answer::Escape)
        ++unexpectedBoxes;
    QTest::keyClick(box, Qt::Key_Escape);
}

void ModalAnswerer::answerMenu(QMenu *menu)
{
    QStringList entries;
    for (const QAction *action : menu->actions())
        entries.append(action->text());
    menus.append(entries);
    const bool forMenu = !answers.isEmpty() && answers.head().kind == Answer::Menu;
    const QString choice = forMenu ? answers.dequeue().choice : QString();
    const int chosen = choice.isEmpty() ? -1 : entries.indexOf(choice);
    if (chosen < 0) {
        menu->close();
        return;
    }
    // Like a click: the menu closes, then the action fires.
    menu->setActiveAction(menu->actions().at(chosen));
    QTest::keyClick(menu, Qt::Key_Return);
}

void ModalAnswerer::answerFileDialog(QFileDialog *dialog)
{
    fileDialogs.append(dialog->windowTitle());
    const bool forDialog = !answers.isEmpty() && answers.head().kind == Answer::File;
    const QString path = forDialog ? answers.dequeue().choice : QString();
    if (path.isEmpty()) {
        if (!forDialog)
            ++unexpectedBoxes;
        dialog->reject();
        return;
    }
    // Typed into the name field as an operator would: selectFile() only marks
    // files the dialog has listed already, which it does in the background.
    if (auto *name = dialog->findChild<QLineEdit *>(QStringLiteral("fileNameEdit")))
        name->setText(path);
    // accept() is protected in QFileDialog; it checks the name like Open does.
    QMetaObject::invokeMethod(dialog, "accept");
}
