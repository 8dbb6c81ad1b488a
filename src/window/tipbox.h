#ifndef TIPBOX_H
#define TIPBOX_H

#include <QMessageBox>

// The windows' question and information boxes, titled "Tip". Each is modal to
// its own window only and runs in no event loop of its own: the caller goes on
// at once and acts on the answer through the box's finished() signal. A box
// left open so never holds an update's wait, or its next chunk, inside it.
// The box deletes itself once answered; Escape answers No, or OK.
class TipBox
{
public:
    static QMessageBox *Open(QWidget *window, QMessageBox::Icon icon, const QString &text,
        QMessageBox::StandardButtons buttons);
    // Like QMessageBox::about(): the window's icon beside the text, and OK.
    static QMessageBox *OpenAbout(QWidget *window, const QString &text);
};

#endif // TIPBOX_H
