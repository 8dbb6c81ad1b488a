#ifndef FIXEDWINDOW_H
#define FIXEDWINDOW_H

class QWidget;

// Both windows open at their designed size, centred over the whole virtual
// desktop (all screens together), and keep that size: the fixed layouts have
// no room to grow, so neither resizing nor maximizing is offered.
class FixedWindow
{
public:
    static void SetUp(QWidget *window);
};

#endif // FIXEDWINDOW_H
