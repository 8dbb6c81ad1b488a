#ifndef MAINWINDOW_H
#define MAINWINDOW_H

#include <QDeadlineTimer>
#include <QMainWindow>
#include <QPointer>

class QMessageBox;
class AnalyseData;
class Crc_Calc;
class MqttClient;
class QStandardItemModel;
class QUdpSocket;
class WorkThread;
struct DeviceCommand;

QT_BEGIN_NAMESPACE
namespace Ui {
class MainWindow;
}
QT_END_NAMESPACE

// The device list: finds the cameras on the LAN by a UDP broadcast and offers
// the per-camera actions from the table's context menu.
class MainWindow : public QMainWindow
{
    Q_OBJECT

public:
    explicit MainWindow(QWidget *parent = nullptr);
    ~MainWindow() override;

protected:
    void closeEvent(QCloseEvent *event) override;

private slots:
    void readPendingDatagrams();
    bool SendData();
    bool ReceiveData();
    void DelayDisconnect();
    void on_pushButton_Search_Device_clicked();
    void on_tableView_customContextMenuRequested(const QPoint &pos);
    void LoginPage();
    void ShutDown();
    void Restart();
    void CameraFWAction();

private:
    void EndSearch();
    bool RefuseWhileSearching();
    void SendDeviceCommand(const DeviceCommand &command);
    void CommandAnswered(const DeviceCommand &command, const QString &ip, bool yes);
    void ShowStatus(const QString &text);

    Ui::MainWindow *ui;
    QUdpSocket *udpSocket = nullptr;
    Crc_Calc *crcCalc;
    AnalyseData *analyseData;
    WorkThread *workThread;
    QStandardItemModel *model;
    MqttClient *mqttClient;
    bool socketActive;
    bool isSearching;
    // The end of the reply collection window, counted from the probe.
    QDeadlineTimer replyWindowEnd;
    // The quit question while it is open, and whether it was answered Yes.
    QPointer<QMessageBox> quitQuestion;
    bool quitConfirmed = false;
};

#endif // MAINWINDOW_H
