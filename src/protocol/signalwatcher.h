#ifndef SIGNALWATCHER_H
#define SIGNALWATCHER_H

#include <QObject>

class QSocketNotifier;

// Turns SIGTERM, SIGINT and SIGHUP into a Qt signal: the handler only writes a byte to
// a socket pair, and the event loop reads it, so the shutdown itself runs
// outside the handler where anything may be called. The camera simulator and
// the command line share it.
class SignalWatcher : public QObject
{
    Q_OBJECT
public:
    explicit SignalWatcher(QObject *parent = nullptr);

    bool install(QString *error);
    // A second signal ends the process at once, inside the handler, with the
    // shell's code for a death by that signal (128 + its number): an operator
    // who presses Ctrl-C again does not want to wait for an orderly end that
    // may itself be stuck.
    void exitAtOnceOnRepeat();

signals:
    void terminationRequested(int signalNumber);

private:
    static void handle(int signalNumber);
    void readSignal();

    QSocketNotifier *notifier = nullptr;
};

#endif // SIGNALWATCHER_H
