#ifndef FLEETSEARCH_H
#define FLEETSEARCH_H

#include "camerarecord.h"

#include <QDeadlineTimer>
#include <QList>
#include <QObject>
#include <QSet>
#include <QTimer>
#include <QUdpSocket>

// The window's search without the window: the probe once out of every
// attached network, the replies taken for a while and checked by the same
// acceptance rule. Unlike the device table it lists each camera once, however
// often it answers.
class FleetSearch : public QObject
{
    Q_OBJECT
public:
    explicit FleetSearch(int windowMs, QObject *parent = nullptr);

    // Binds the discovery port, shared as the window shares it, and sends the
    // probes after the cameras' pause. False, saying why, when the port cannot
    // be had; nothing is sent then.
    bool Start(QString *error);
    // Ends the search now; finished() is not emitted.
    void Stop();

    const QList<CameraRecord> &Cameras() const { return cameras; }

signals:
    void cameraFound(const CameraRecord &camera);
    void finished();

private slots:
    void SendProbes();
    void ReadReplies();
    void EndWindow();

private:
    enum class Step { Idle, Pausing, Collecting, Done };

    int windowMs;
    Step step = Step::Idle;
    QUdpSocket socket;
    QTimer timer;
    QDeadlineTimer windowEnd;
    QSet<QString> seen;
    QList<CameraRecord> cameras;
};

#endif // FLEETSEARCH_H
