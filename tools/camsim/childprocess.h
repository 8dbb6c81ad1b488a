#ifndef CHILDPROCESS_H
#define CHILDPROCESS_H

#include <QProcess>

// A child process that the kernel ends when the simulator dies, however it
// dies, so a killed simulator leaves no broker holding the camera's port. The
// setting is made in the child between fork and exec, which Qt 5 lets a
// subclass do and Qt 6 a function handed over; this class hides which.
class ChildProcess : public QProcess
{
    Q_OBJECT
public:
    explicit ChildProcess(QObject *parent = nullptr);

#if QT_VERSION < QT_VERSION_CHECK(6, 0, 0)
protected:
    void setupChildProcess() override;
#endif
};

#endif // CHILDPROCESS_H
