#include "applicationloop.h"

#include <QApplication>
#include <QObject>
#include <QTimer>

namespace ApplicationLoop {

int Run(int timeoutMs, int timeoutCode)
{
    QObject guard;
    QTimer::singleShot(timeoutMs, &guard, [timeoutCode] { QCoreApplication::exit(timeoutCode); });
    const int code = QApplication::exec();
    // Qt 5 posts a quit of its own when the last window closes. Left queued,
    // a later wait of the test would deliver it outside this loop, and from
    // then on every event loop of the thread would end as soon as it starts.
    QCoreApplication::removePostedEvents(qApp, QEvent::Quit);
    return code;
}

} // namespace ApplicationLoop
