#ifndef CAMERAJOB_H
#define CAMERAJOB_H

#include "cameraresult.h"

#include <QElapsedTimer>
#include <QObject>
#include <QString>

class MqttClient;

// One camera's share of a run: a command or an update, driven by its own
// timer and sockets from the event loop, so that no camera's wait holds up
// another's. It ends exactly once, with finished().
class CameraJob : public QObject
{
    Q_OBJECT
public:
    // A step's phase, as a word for scripts and in words for people.
    struct PhaseName
    {
        const char *key;
        const char *text;
    };
    // Every kind of job waits for its turn first and is done last.
    static constexpr PhaseName waitingPhase { "waiting", "waiting for its turn" };
    static constexpr PhaseName donePhase { "done", "done" };

    explicit CameraJob(const QString &ip, QObject *parent = nullptr);

    QString Ip() const { return ip; }
    bool IsFinished() const { return ended; }
    // What the search found of the camera, carried into its result; empty
    // for a camera it did not find.
    void SetIdentity(const QString &mac, const QString &type);
    QString Mac() const { return mac; }
    QString Type() const { return type; }
    // The camera's row in the journal, which its claim and its result go
    // to wherever the camera turns out to be; 0 for none.
    void SetJournalKey(qint64 key) { journalKey = key; }
    qint64 JournalKey() const { return journalKey; }

    // Starts the camera's timeline; it never ends before Start() returns.
    virtual void Start() = 0;
    // Ends the camera's work now, closing what it has open, as interrupted in
    // the phase it was in.
    virtual void Interrupt() = 0;

    // The phase as a word for scripts, and in words for people.
    QString PhaseKey() const;
    QString PhaseText() const;
    bool IsWaiting() const;
    // What a live display shows beside the phase, such as bytes sent.
    virtual QString Detail() const;

signals:
    void phaseChanged();
    // The job needs no place among the cameras in flight any more: it only
    // waits for the camera, which costs the host nothing.
    void released();
    void finished(const CameraResult &result);

protected:
    // The phase of the step the job is in.
    virtual PhaseName Phase() const = 0;
    // Starts the job's clock and the connection to the camera's broker.
    void OpenBroker();
    // Ends the broker connection cleanly; its end is not a lost broker then.
    void CloseBroker();
    // Why the broker connection is not up: the broker, or this process that
    // had no descriptor left to open it.
    QString BrokerUnreachable() const;
    void Finish(CameraResult::Outcome outcome, const QString &message, bool verified = false);

    MqttClient *broker = nullptr;

private:
    QString ip;
    QString mac;
    QString type;
    qint64 journalKey = 0;
    QElapsedTimer clock;
    bool ended = false;
};

#endif // CAMERAJOB_H
