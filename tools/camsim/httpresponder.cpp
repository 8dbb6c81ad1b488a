#include "httpresponder.h"

#include "eventlog.h"

#include <QHostAddress>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

namespace {

// A client that never finishes its request still gets the page.
constexpr int requestTimeoutMs = 2000;
constexpr int maxRequestBytes = 16384;
const char headerEnd[] = "\r\n\r\n";
// Either the whole request or the timeout may come first; only one answers.
const char answeredProperty[] = "camsimAnswered";

} // namespace

HttpResponder::HttpResponder(const QByteArray &cameraName, EventLog *log, QObject *parent)
    : QObject(parent)
    , page(pageFor(cameraName))
    , log(log)
    , server(new QTcpServer(this))
{
    connect(server, &QTcpServer::newConnection, this, &HttpResponder::acceptConnections);
}

bool HttpResponder::start(const QHostAddress &address, QString *error)
{
    if (server->listen(address, port))
        return true;
    *error = QStringLiteral("cannot listen on TCP %1:%2: %3")
                 .arg(address.toString())
                 .arg(port)
                 .arg(server->errorString());
    return false;
}

void HttpResponder::acceptConnections()
{
    while (QTcpSocket *socket = server->nextPendingConnection()) {
        connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
        connect(socket, &QTcpSocket::readyRead, this,
            [this, socket] { answerWhenRequestComplete(socket); });
        QTimer::singleShot(requestTimeoutMs, socket, [this, socket] { answer(socket); });
    }
}

void HttpResponder::answerWhenRequestComplete(QTcpSocket *socket)
{
    // Peeking leaves the request in the buffer until it is whole.
    const QByteArray request = socket->peek(maxRequestBytes);
    if (request.contains(headerEnd) || request.size() >= maxRequestBytes)
        answer(socket);
}

void HttpResponder::answer(QTcpSocket *socket)
{
    if (socket->property(answeredProperty).toBool())
        return;
    socket->setProperty(answeredProperty, true);
    const QByteArray requestLine = socket->readAll().split('\r').value(0);
    log->write(QStringLiteral("http"),
        { { "from", socket->peerAddress().toString() },
            { "request", QString::fromLatin1(requestLine) } });
    socket->write("HTTP/1.0 200 OK\r\nContent-Type: text/html; charset=utf-8\r\nContent-Length: "
        + QByteArray::number(page.size()) + "\r\nConnection: close\r\n\r\n" + page);
    socket->disconnectFromHost();
}

QByteArray HttpResponder::pageFor(const QByteArray &cameraName)
{
    const QByteArray name = QString::fromUtf8(cameraName).toHtmlEscaped().toUtf8();
    return "<html><head><title>" + name + "</title></head><body><h1>" + name
        + "</h1><p>Simulated camera</p></body></html>\n";
}
