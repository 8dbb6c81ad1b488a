#ifndef HTTPRESPONDER_H
#define HTTPRESPONDER_H

#include "protocol.h"

#include <QByteArray>
#include <QObject>

class EventLog;
class QHostAddress;
class QTcpServer;
class QTcpSocket;

// The camera's web page, just enough for the tool's "open in browser" to land
// on something that names the camera.
class HttpResponder : public QObject
{
    Q_OBJECT
public:
    static constexpr quint16 port = Protocol::webPagePort;

    HttpResponder(const QByteArray &cameraName, EventLog *log, QObject *parent = nullptr);

    bool start(const QHostAddress &address, QString *error);

private:
    void acceptConnections();
    void answerWhenRequestComplete(QTcpSocket *socket);
    void answer(QTcpSocket *socket);
    static QByteArray pageFor(const QByteArray &cameraName);

    QByteArray page;
    EventLog *log;
    QTcpServer *server;
};

#endif // HTTPRESPONDER_H
