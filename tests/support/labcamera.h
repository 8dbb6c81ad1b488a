#ifndef LABCAMERA_H
#define LABCAMERA_H

#include <QByteArray>
#include <QJsonObject>
#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>

#include <memory>

class QProcess;
class QTemporaryDir;

// One camera simulator in a camera namespace of the virtual LAN, driven from a
// lab test that runs in the tool's namespace (tools/lab/lab.sh run). The
// simulator's event log is read back to see what the tool sent it.
class LabCamera : public QObject
{
    Q_OBJECT
public:
    static constexpr int defaultStartTimeoutMs = 10000;
    static constexpr int defaultEventTimeoutMs = 5000;

    // index is 1-based, as in the namespace names; camsimArgs come after
    // camsim's --bind and --log, e.g. {"--broker", "--camera", "name=Gate"}.
    LabCamera(int index, const QStringList &camsimArgs, QObject *parent = nullptr);
    ~LabCamera() override;

    // Cameras past LAB_CAMERAS are on the lab's second segment.
    static QString address(int index);
    QString address() const { return address(cameraIndex); }
    // The tool's address on the camera's segment.
    QString toolAddress() const;
    int index() const { return cameraIndex; }

    // True once the simulator said "ready"; false, with errorString(), when it
    // failed or took longer than timeoutMs.
    bool start(int timeoutMs = defaultStartTimeoutMs);
    // SIGTERM, a grace period, then SIGKILL; does nothing when not running.
    void stop();
    bool isRunning() const;
    QString errorString() const { return error; }
    QString logPath() const;

    // The events logged so far, oldest first; only those named event unless
    // event is empty.
    QList<QJsonObject> events(const QString &event = QString()) const;
    // Processes events while waiting until at least count events named event
    // were logged.
    bool waitForEvent(const QString &event, int count = 1, int timeoutMs = defaultEventTimeoutMs);
    // The one MQTT message the tool published to the camera, as message()
    // writes it, once it came and quietMs passed without another; otherwise
    // how many came.
    QString onlyMessage(int quietMs = 300);
    static QString message(
        const QString &topic, const QByteArray &payload, int qos = 0, bool retain = false);
    // The pid of the simulator's broker (--broker), -1 without one.
    qint64 brokerPid() const;

private:
    static constexpr int pollIntervalMs = 20;
    static constexpr int stopGraceMs = 5000;
    static constexpr int killWaitMs = 2000;

    QStringList commandLine() const;
    bool waitForReady(int timeoutMs);
    // Stops the simulator with reason as errorString(); false, for the caller
    // to return.
    bool fail(const QString &reason);

    int cameraIndex;
    QStringList camsimArgs;
    std::unique_ptr<QTemporaryDir> logDir;
    QProcess *process = nullptr;
    QByteArray output;
    QString error;
};

#endif // LABCAMERA_H
