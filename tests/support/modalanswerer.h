#ifndef MODALANSWERER_H
#define MODALANSWERER_H

#include <QMessageBox>
#include <QObject>
#include <QPointer>
#include <QQueue>
#include <QStringList>
#include <QTimer>

// What a test saw of a message box before answering it.
struct SeenBox
{
    QString title;
    QString text;
    QMessageBox::StandardButtons buttons;
    const QWidget *window = nullptr; // the window the box belongs to
};

// Answers the modal message boxes and popup menus that the code under test
// opens, in the order queued. A box or menu that opens with nothing queued is
// recorded and closed with Escape, so a test never hangs on a box it did not
// expect; it can assert on unexpectedBoxes afterwards.
class QFileDialog;
class QMenu;

class ModalAnswerer : public QObject
{
    Q_OBJECT
public:
    explicit ModalAnswerer(QObject *parent = nullptr);

    // afterMs leaves the box open that long first, as an operator would.
    void pressButton(QMessageBox::StandardButton button, int afterMs = 0);
    void pressEscape();
    // Triggers the menu entry of that text; an empty text dismisses the menu.
    void chooseMenuEntry(const QString &text, int afterMs = 0);
    // Picks that file in the next file dialog; an empty path cancels it.
    void chooseFile(const QString &path, int afterMs = 0);

    bool allAnswered() const { return answers.isEmpty(); }
    // A window-modal box or chooser (open() rather than exec()) is answered
    // after the click that opened it has returned: processes events until
    // every queued answer was given and nothing is open any more.
    bool waitUntilAnswered(int timeoutMs = 5000);

    // The boxes seen, each written as tip() writes one, to compare whole.
    QStringList seenBoxes() const;
    // A box of the windows' own: "Tip" above the text, with those buttons.
    static QString tip(const QString &text, QMessageBox::StandardButtons buttons = QMessageBox::Ok);

    QList<SeenBox> boxes;
    QList<QStringList> menus;
    QStringList fileDialogs; // their captions
    int unexpectedBoxes = 0;

private:
    struct Answer
    {
        enum Kind { Button, Escape, Menu, File } kind;
        QMessageBox::StandardButton button = QMessageBox::NoButton;
        QString choice; // a menu entry or a file
        int afterMs = 0;
    };

    static QWidget *openWidget();
    void poll();
    void answerBox(QMessageBox *box);
    void answerMenu(QMenu *menu);
    void answerFileDialog(QFileDialog *dialog);

    QQueue<Answer> answers;
    QTimer timer;
    bool answering = false;
};

#endif // MODALANSWERER_H
