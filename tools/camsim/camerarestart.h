#ifndef CAMERARESTART_H
#define CAMERARESTART_H

#include <QByteArray>
#include <QHostAddress>
#include <QObject>
#include <QString>

class Broker;
class DiscoveryResponder;
class EventLog;
class QTimer;
struct Options;

// What the updated camera does once it has reported a successful update: it
// restarts, answering no probe for a while, its broker gone, and comes back
// on the firmware it installed. Only that camera goes down; the others of the
// process answer on, as separate devices would.
class CameraRestart : public QObject
{
    Q_OBJECT
public:
    // broker: the camera's own, null when it has none.
    CameraRestart(const Options &options, DiscoveryResponder *discovery, Broker *broker,
        EventLog *log, QObject *parent = nullptr);

    // The update of the image of that name was reported a success.
    void begin(const QString &imageFileName);

    // The last dotted version number in a file name, "2.9.0" in
    // "camera-fw-2.9.0.bin"; empty without one.
    static QByteArray versionIn(const QString &fileName);

private:
    void goDown(const QString &imageFileName);
    void comeBack();
    QByteArray versionAfter(const QString &imageFileName) const;
    QByteArray currentVersion() const;

    void stopBroker();

    DiscoveryResponder *discovery;
    Broker *broker;
    EventLog *log;
    QTimer *downTimer;
    // Runs from the final report until the broker goes down.
    QTimer *brokerDownTimer;
    QHostAddress brokerAddress;
    // -1 when no listed camera is at the bind address: nothing stops answering.
    int cameraIndex;
    int restartMs;
    QByteArray installs;
    bool backOnOld;
    bool neverBack;
    int upAfterMs;
    quint32 backAtIpv4;
    QByteArray comingBackOn;
};

#endif // CAMERARESTART_H
