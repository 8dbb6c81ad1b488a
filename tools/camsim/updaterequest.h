#ifndef UPDATEREQUEST_H
#define UPDATEREQUEST_H

#include <QByteArray>
#include <QString>

// The tool's announcement of a firmware image: a flat JSON object whose
// values are all strings.
struct UpdateRequest
{
    QString bufferSize;
    QString clientIp;
    QString fileMd5;
    QString fileName;
    qint64 fileSize = -1;

    // Fails, saying why, on anything but that exact shape.
    static bool parse(const QByteArray &payload, UpdateRequest *request, QString *error);
};

#endif // UPDATEREQUEST_H
