#ifndef CAMERACOMMAND_H
#define CAMERACOMMAND_H

#include "camerajob.h"

#include <QByteArray>
#include <QTimer>

// Restart or Shut Down for one camera, as the window sends it: a connection
// to the camera's broker, one QoS 0 message on the command's topic, and a
// clean disconnect. The camera does not confirm; "sent" means the broker
// connection took the message.
class CameraCommand : public CameraJob
{
    Q_OBJECT
public:
    CameraCommand(const QString &ip, const QString &topic, const QByteArray &payload,
        QObject *parent = nullptr);

    void Start() override;
    void Interrupt() override;

private slots:
    void BrokerConnected();
    void BrokerLost();
    void TimerFired();

private:
    PhaseName Phase() const override;
    enum class Step { Waiting, Connecting, Done };

    void End(CameraResult::Outcome outcome, const QString &message);

    QString topic;
    QByteArray payload;
    Step step = Step::Waiting;
    QTimer timer;
};

#endif // CAMERACOMMAND_H
