#include "fixedwindow.h"

#include <QGuiApplication>
#include <QScreen>
#include <QWidget>

void FixedWindow::SetUp(QWidget *window)
{
    window->setWindowFlags(window->windowFlags() & ~Qt::WindowMaximizeButtonHint);
    window->setFixedSize(window->width(), window->height());
    // The virtual desktop spans every screen; its origin is not counted, as
    // the desktop's own width and height never count it.
    const QSize desktop = QGuiApplication::primaryScreen()->virtualSize();
    window->move(
        (desktop.width() - window->width()) / 2, (desktop.height() - window->height()) / 2);
}
