#include "updaterequest.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>

namespace {

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

bool UpdateRequest::parse(const QByteArray &payload, UpdateRequest *request, QString *error)
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
    if (!takeString(object, "buffer_size", &request->bufferSize, error)
        || !takeString(object, "client_ip", &request->clientIp, error)
        || !takeString(object, "file_md5", &request->fileMd5, error)
        || !takeString(object, "file_name", &request->fileName, error)
        || !takeString(object, "file_size", &fileSize, error))
        return false;
    bool ok = false;
    request->fileSize = fileSize.toLongLong(&ok);
    if (!ok || request->fileSize < 0) {
        *error = QStringLiteral("\"file_size\" is not a byte count: %1").arg(fileSize);
        return false;
    }
    return true;
}
