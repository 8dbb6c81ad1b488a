#ifndef FORM_WORKTHREAD_H
#define FORM_WORKTHREAD_H

#include <QObject>

// Not a thread: a relay whose signal is connected queued, so the update starts
// from the event loop once the Start handler has returned.
class Form_WorkThread : public QObject
{
    Q_OBJECT
public:
    explicit Form_WorkThread(QObject *parent = nullptr);

    void Start_Camera_Updating();

signals:
    void Camera_Updating();
};

#endif // FORM_WORKTHREAD_H
