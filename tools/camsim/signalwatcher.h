#ifndef SIGNALWATCHER_H
#define SIGNALWATCHER_H

#include <QObject>

class QSocketNotifier;

// Turns SIGTERM and SIGINT into a Qt signal: the handler only writes a byte to
// a socket pair, and the event loop reads it, so the shutdown itself runs
// outside the handler where anything may be called.
class SignalWatcher : public QObject
{
    Q_OBJECT
public:
    explicit SignalWatcher(QObject *parent = nullptr);

    bool install(QString *error);

signals:
    void terminationRequested(int signalNumber);

private:
    static void handle(int signalNumber);
    void readSignal();

    QSocketNotifier *notifier = nullptr;
};

#endif // SIGNALWATCHER_H
