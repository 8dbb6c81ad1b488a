#ifndef TIMELINE_H
#define TIMELINE_H

#include <QElapsedTimer>
#include <QHash>
#include <QObject>
#include <QPointer>
#include <QTimer>

#include <functional>

class Form;
class LabCamera;
class QLabel;
class QPushButton;
class QTcpSocket;

// The update window's handlers hold the stack in their own event loops for
// seconds, so a test cannot look at the clock between two of its statements.
// Timers and event filters still run inside those loops: a timeline notes when
// things happen and acts at chosen moments of the update.
class Timeline : public QObject
{
public:
    static constexpr int pollMs = 10;

    // Watches the camera and the window given.
    explicit Timeline(LabCamera *camera = nullptr, Form *form = nullptr);
    qint64 now() const { return clock.elapsed(); }

    // When the camera's log first showed each kind of event, -1 if never.
    void watch(LabCamera *camera);
    qint64 firstSeen(const LabCamera *camera, const QString &event) const
    {
        return seen.value(qMakePair(camera, event), -1);
    }

    // The window's status line, in order, each text with whether Start was
    // enabled then. The window repaints its status at once, so the text is
    // noted as it is painted, and Start as it changes.
    struct Step
    {
        qint64 at;
        QString text;
        bool startEnabled;
    };
    QList<Step> steps;
    // -1 if never; whileRunning looks only at what was shown with Start disabled.
    qint64 firstShown(const QString &text, bool whileRunning = false) const;
    qint64 firstDisabled() const;
    qint64 lastEnabled() const;
    QString describe() const;

    // Follows the tool's image connection: what waits in its buffer, what it
    // has handed to the system (counted as each write reaches the system, so exact), and
    // when a chunk was written. The socket is a local of the window's
    // handler; it is found through its notifiers, whose engine is the
    // socket's child.
    void watchToolSocket();
    qint64 queued() const;
    qint64 handedOver = 0;
    int chunksWritten = 0;
    qint64 lastChunkAt = -1;
    qint64 mostQueued = 0;

    // The longest the event loop, nested or not, kept the next look waiting.
    qint64 longestStall = 0;

    // Runs action once, from whichever event loop runs when condition is first
    // found to hold; it is looked at every pollMs.
    void when(std::function<bool()> condition, std::function<void()> action);
    // Runs action once, afterMs after the camera first logged event.
    void afterEvent(
        LabCamera *camera, const QString &event, qint64 afterMs, std::function<void()> action);
    // Runs action once, from inside the first event on object that matches.
    void onEvent(
        QObject *object, std::function<bool(QEvent *)> match, std::function<void()> action);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    // An action for an event on object, or for a poll when object is null.
    struct Hook
    {
        QObject *object;
        std::function<bool(QEvent *)> match;
        std::function<void()> action;
    };

    void poll();
    void noteStep();
    void runFirstHook(QObject *object, QEvent *event);

    QElapsedTimer clock;
    QElapsedTimer sincePoll;
    QTimer poller;
    QList<QPointer<LabCamera>> cameras;
    QHash<QPair<const LabCamera *, QString>, qint64> seen;
    QPointer<QLabel> label;
    QPointer<QPushButton> startButton;
    QList<Hook> hooks;
    bool followsToolSocket = false;
    QPointer<QTcpSocket> toolSocket;
    const QEvent *lastHookedEvent = nullptr;
};

#endif // TIMELINE_H
