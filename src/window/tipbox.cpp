#include "tipbox.h"

#include <QCoreApplication>
#include <QIcon>

QMessageBox *TipBox::Open(QWidget *window, QMessageBox::Icon icon, const QString &text,
    QMessageBox::StandardButtons buttons)
{
    auto *box = new QMessageBox(
        icon, QCoreApplication::translate("TipBox", "Tip"), text, buttons, window);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->open();
    return box;
}

QMessageBox *TipBox::OpenAbout(QWidget *window, const QString &text)
{
    auto *box = Open(window, QMessageBox::NoIcon, text, QMessageBox::Ok);
    const QIcon icon = box->windowIcon();
    box->setIconPixmap(icon.pixmap(icon.actualSize(QSize(64, 64))));
    return box;
}
