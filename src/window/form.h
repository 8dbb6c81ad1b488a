#ifndef FORM_H
#define FORM_H

#include "imagefile.h"
#include "protocol.h"
#include "updatequeue.h"

#include <QPointer>
#include <QWidget>

#include <optional>

class FormTcpTransfer;
class Form_WorkThread;
class MqttClient;
class QTcpSocket;

QT_BEGIN_NAMESPACE
namespace Ui {
class Form;
}
QT_END_NAMESPACE

// The update window of one camera: announces a firmware image to the camera
// over MQTT, pushes it over TCP and shows the camera's progress reports.
class Form : public QWidget
{
    Q_OBJECT

public:
    Form(QString deviceIp, QString deviceMac, QString deviceSn, QWidget *parent = nullptr);
    ~Form() override;

    // The update request: compact JSON naming the image, its size, its MD5
    // digest, this host's address and the chunk size; empty when the image
    // cannot be read. It describes the image of the update in progress, or
    // else the operator's current choice.
    QByteArray CreateJsonQByteArray();

protected:
    void closeEvent(QCloseEvent *event) override;

private slots:
    void on_pushButton_Browser_clicked();
    void on_pushButton_Start_clicked();
    void Camera_FW_Update();
    void Tcp_Transfer_File();
    void topicMessageReceived(const QByteArray &message, const QString &topic);
    void MqttConnectionLost();

private:
    friend class StepScope;

    // Where the window's update stands. Start is enabled only in Idle.
    enum class Phase {
        Idle, // no update, or the last one has ended
        Preparing, // Yes given: the cleared window is painted
        WaitingTurn, // another update runs its steps, or holds this camera
        Announcing, // connecting to the broker and publishing the request
        Settling, // the request is out: the camera prepares for the image
        Transferring, // the image goes over TCP
        Sent, // every byte has left the socket: the connection is closing
        AwaitingReport, // the steps have returned: the camera's final report ends it
        Closing, // the window was closed: each step returns at once
    };

    // How a step of the update ended: on to the next, failed with the text
    // for the status line, or stopped because the window is closing.
    struct StepResult
    {
        enum Kind { Done, Failed, Closing };
        Kind kind = Done;
        QString failure;

        static StepResult done() { return {}; }
        static StepResult failed(const QString &text) { return { Failed, text }; }
        static StepResult closing() { return { Closing, {} }; }
    };

    void ImageChosen(const QString &path);
    void UpdateConfirmed();
    void WaitingForTurn(UpdateQueue::Waiting waiting);
    bool UpdateUnderway() const;
    bool ImageSent() const;
    StepResult Wait(int milliseconds);
    bool StepEnds(const StepResult &result);
    StepResult BuildRequest(ImageFile &file, QByteArray *request);
    StepResult Digest(ImageFile &file, QByteArray *md5);
    StepResult ImageUnchanged();
    StepResult ConnectImage(QTcpSocket &socket);
    StepResult SendImage(QTcpSocket &socket);
    StepResult WaitForDrain(QTcpSocket &socket);
    StepResult CloseConnection(QTcpSocket &socket);
    void NoteBytesLeft(qint64 total);
    void ShowStatus(const QString &text);
    void StepsReturned(const QString &failure = QString());
    void OutcomeArrived(const QString &shown);

    Ui::Form *ui;
    QString filePath;
    QString fileName;
    qint64 fileSize = 0;
    QString deviceIp;
    Form_WorkThread *formWorkThread = nullptr;
    FormTcpTransfer *formTcpTransfer = nullptr;
    MqttClient *mqttClient = nullptr;
    quint16 tcpPort = Protocol::imagePort;
    qint64 bufferSize = Protocol::imageChunkSize;
    QString localIp;

    Phase phase = Phase::Idle;
    // The image of the update, opened at the operator's Yes and read from
    // there to the last byte: the announcement and the bytes sent describe
    // one and the same file, whatever Browse or the disk do meanwhile.
    ImageFile image;
    // What ended the update while its steps still ran: the camera's final
    // report, a report that could not be read, the broker lost. It is shown
    // again, and Start given back, once the steps have returned, so that the
    // steps' own texts do not hide it.
    std::optional<QString> pendingNotice;
    // The image connection while the transfer step holds it, so that a close
    // can throw away what still waits in its buffer.
    QPointer<QTcpSocket> imageSocket;
};

#endif // FORM_H
