#ifndef FORM_H
#define FORM_H

#include "protocol.h"

#include <QHostAddress>
#include <QList>
#include <QMessageBox>
#include <QWidget>

#include <optional>

class FormTcpTransfer;
class Form_WorkThread;
class MqttClient;
class QFile;
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
        WaitingTurn, // another window's update is running its steps
        Announcing, // connecting to the broker and publishing the request
        Settling, // the request is out: the camera prepares for the image
        Transferring, // the image goes over TCP
        AwaitingReport, // the image is sent: the camera's final report ends it
        Closing, // the window was closed: each step returns at once
    };

    // The image an update announces and sends, fixed at the operator's Yes.
    struct FirmwareImage
    {
        QString path;
        QString name;
        qint64 size = 0;
    };

    void ImageChosen(const QString &path);
    void UpdateConfirmed();
    bool UpdateUnderway() const;
    bool Wait(int milliseconds);
    QMessageBox *OpenBox(
        QMessageBox::Icon icon, const QString &text, QMessageBox::StandardButtons buttons);
    bool SendImage(QTcpSocket &socket, QFile &file, QString *failure);
    bool WaitForDrain(QTcpSocket &socket, QString *failure);
    bool CloseConnection(QTcpSocket &socket, QString *failure);
    void ShowState(const QString &text);
    void EndUpdate(const QString &failure = QString());
    void ReportOutcome(const QString &shown);

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
    FirmwareImage updateImage;
    // What ended the update while its steps still ran: the camera's final
    // report, a report that could not be read, the broker lost. It is shown
    // again, and Start given back, once the steps have returned, so that the
    // steps' own texts do not hide it.
    std::optional<QString> pendingNotice;
};

#endif // FORM_H
