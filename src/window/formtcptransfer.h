#ifndef FORMTCPTRANSFER_H
#define FORMTCPTRANSFER_H

#include <QObject>

// Not a thread: a relay whose signal is connected queued, so the image
// transfer starts from the event loop once the MQTT exchange has returned.
class FormTcpTransfer : public QObject
{
    Q_OBJECT
public:
    explicit FormTcpTransfer(QObject *parent = nullptr);

    void Start_TCP_Transfer();

signals:
    void TCP_Transfer();
};

#endif // FORMTCPTRANSFER_H
