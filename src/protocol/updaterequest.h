#ifndef UPDATEREQUEST_H
#define UPDATEREQUEST_H

#include <QByteArray>
#include <QString>

// The announcement of a firmware image that starts a camera's update: one
// compact JSON object whose values are all strings, the numbers included, in
// the order of their keys. The camera checks the image that follows against
// its size and MD5, and takes it in chunks of buffer_size bytes.
struct UpdateRequest
{
    QString clientIp;
    QString fileName;
    qint64 fileSize = -1;
    QString fileMd5;
    QString bufferSize;

    // The request as the camera gets it: exactly these five members, no blank,
    // no line break.
    static QByteArray Build(const QString &clientIp, const QString &fileName, qint64 fileSize,
        const QByteArray &md5Hex, qint64 bufferSize);

    // Fails, saying why, on anything but that exact shape.
    static bool Parse(const QByteArray &payload, UpdateRequest *request, QString *error);
};

#endif // UPDATEREQUEST_H
