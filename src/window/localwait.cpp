#include "localwait.h"

#include <QEventLoop>
#include <QTimer>

bool LocalWait::For(int milliseconds)
{
    QEventLoop loop;
    bool timedOut = false;
    // Precise: from 2000 ms up Qt's default timer may fire 5 % early, which
    // would cut a camera's settle time, a connect attempt or the search's
    // reply window short.
    QTimer::singleShot(qMax(milliseconds, 0), Qt::PreciseTimer, &loop, [&] {
        timedOut = true;
        loop.quit();
    });
    loop.exec(QEventLoop::AllEvents);
    return timedOut;
}
