#ifndef WORKTHREAD_H
#define WORKTHREAD_H

#include <QObject>

// Not a thread: a relay whose signal is connected queued, so that the reply
// collection window starts from the event loop once the search button's
// handler has returned.
class WorkThread : public QObject
{
    Q_OBJECT
public:
    explicit WorkThread(QObject *parent = nullptr);

    void StartDelaySignal();

signals:
    void DelaySignal();
};

#endif // WORKTHREAD_H
