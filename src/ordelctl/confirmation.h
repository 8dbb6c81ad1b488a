#ifndef CONFIRMATION_H
#define CONFIRMATION_H

#include <QByteArray>
#include <QObject>

class QSocketNotifier;

// The one question before cameras are changed, asked on standard error and
// answered on the terminal. The answer is read from the event loop, so that
// Ctrl-C while the question is open ends the program as anywhere else.
class Confirmation : public QObject
{
    Q_OBJECT
public:
    explicit Confirmation(QObject *parent = nullptr);

    // Only a terminal can answer; without one the program needs --yes.
    static bool CanAsk();
    // Shows question with " [y/N] "; answered() follows.
    void Ask(const QString &question);

signals:
    // Yes only for "y" or "yes" in any letter case; anything else, and the
    // end of input, is no.
    void answered(bool yes);

private slots:
    void ReadAnswer();

private:
    void Answer(bool yes);

    QSocketNotifier *notifier = nullptr;
    QByteArray line;
};

#endif // CONFIRMATION_H
