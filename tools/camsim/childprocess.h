#ifndef CHILDPROCESS_H
#define CHILDPROCESS_H

#include <QProcess>

// A child process that the kernel ends when the simulator dies, however it
// dies, so a killed simulator leaves no broker holding the camera's port.
class ChildProcess : public QProcess
{
    Q_OBJECT
public:
    explicit ChildProcess(QObject *parent = nullptr);

protected:
    void setupChildProcess() override;
};

#endif // CHILDPROCESS_H
