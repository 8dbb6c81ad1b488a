#ifndef FORM_H
#define FORM_H

#include <QHostAddress>
#include <QList>
#include <QWidget>

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
    // cannot be read.
    QByteArray CreateJsonQByteArray();

    // The address the camera is told is ours where neither the camera's
    // network nor the routing table names one: the last IPv4 address listed
    // that is neither 127.0.0.1 nor unspecified.
    static QString ChooseLocalIp(const QList<QHostAddress> &addresses);

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
    friend class HandlerScope;

    // Abandoned: the window is closing, so the handler returns at once.
    enum class StepResult { Succeeded, Failed, Abandoned };

    bool Wait(int milliseconds);
    StepResult SendImage(QTcpSocket &socket, QFile &file, QString *failure);
    StepResult WaitForDrain(QTcpSocket &socket, qint64 limit, QString *failure);
    StepResult CloseConnection(QTcpSocket &socket, QString *failure);
    void ShowState(const QString &text);
    void EnableStart();
    void EndUpdate(const QString &failure = QString());

    Ui::Form *ui;
    QString filePath;
    QString fileName;
    qint64 fileSize = 0;
    QString deviceIp;
    Form_WorkThread *formWorkThread = nullptr;
    FormTcpTransfer *formTcpTransfer = nullptr;
    MqttClient *mqttClient = nullptr;
    quint16 tcpPort = 8000;
    qint64 bufferSize = 1048576;
    QString localIp;

    // An update runs from the operator's Yes until its last step has returned.
    // Start is given back only then, so two updates never run side by side.
    bool updateRunning = false;
    bool startWanted = false;
    // From the published request until the camera's final report: the reports
    // can only come while the broker connection lasts.
    bool awaitingReports = false;
    // Shown again when the transfer ends, so its own texts do not hide it.
    QString reportsLost;
    // Handlers of this window that are on the stack, most of them suspended in
    // a wait. The window is destroyed only when none is left.
    int runningHandlers = 0;
    bool closeRequested = false;
};

#endif // FORM_H
