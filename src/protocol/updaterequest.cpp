#include "updaterequest.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>

namespace {

const char bufferSizeKey[] = "buffer_size";
const char clientIpKey[] = "client_ip";
const char fileMd5Key[] = "file_md5";
const char fileNameKey[] = "file_name";
const char fileSizeKey[] = "file_size";

bool takeString(const QJsonObject &object, const char *key, QString *value, QString *error)
{
    const QJsonValue field = object.value(QLatin1String(key));
    if (!field.isString()) {
        *error = QStringLiteral("\"%1\" is missing or not a string").arg(QLatin1String(key));
        return false;
    }
    *value = field.toString();
    return true;
}

} // namespace

QByteArray UpdateRequest::Build(const QString &clientIp, const QString &fileName, qint64 fileSize,
    const QByteArray &md5Hex, qint64 bufferSize)
{
    // The JSON writer keeps an object's members in the order of their keys.
    QJsonObject request;
    request.insert(QLatin1String(clientIpKey), clientIp);
    request.insert(QLatin1String(fileNameKey), fileName);
    request.insert(QLatin1String(bufferSizeKey), QString::number(bufferSize));
    request.insert(QLatin1String(fileSizeKey), QString::number(fileSize));
    request.insert(QLatin1String(fileMd5Key), QString::fromLatin1(md5Hex));
    return QJsonDocument(request).toJson(QJsonDocument::Compact);
}

bool UpdateRequest::Parse(const QByteArray &payload, UpdateRequest *request, QString *error)
{
    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(payload, &parseError);
    if (!document.isObject()) {
        *error = parseError.error == QJsonParseError::NoError ? QStringLiteral("not a JSON object")
                                                              : parseError.errorString();
        return false;
    }
    const QJsonObject object = document.object();
    QString fileSize;
    if (!takeString(object, bufferSizeKey, &request->bufferSize, error)
        || !takeString(object, clientIpKey, &request->clientIp, error)
        || !takeString(object, fileMd5Key, &request->fileMd5, error)
        || !takeString(object, fileNameKey, &request->fileName, error)
        || !takeString(object, fileSizeKey, &fileSize, error))
        return false;
    bool ok = false;
    request->fileSize = fileSize.toLongLong(&ok);
    if (!ok || request->fileSize < 0) {
        *error = QStringLiteral("\"file_size\" is not a byte count: %1").arg(fileSize);
        return false;
    }
    return true;
}
