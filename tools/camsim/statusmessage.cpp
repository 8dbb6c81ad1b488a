#include "statusmessage.h"

#include "statusreport.h"
#include "updatefaults.h"

#include <QJsonArray>
#include <QJsonDocument>

QByteArray StatusMessage::encode(Type type, ErrorCode errorCode, int progress,
    const QString &message, const UpdateFaults &faults)
{
    if (faults.statusNotJson)
        return QByteArrayLiteral("not json");
    const QByteArray progressValue = faults.progressNumber ? QByteArray::number(progress)
                                                           : jsonString(QString::number(progress));
    // The camera's own key order, not the JSON writer's.
    const QByteArray object = "{" + member(StatusReport::typeKey, jsonString(QString::number(type)))
        + "," + member(StatusReport::errorCodeKey, jsonString(QString::number(errorCode))) + ","
        + member(StatusReport::progressKey, progressValue) + ","
        + member(StatusReport::messageKey, jsonString(message)) + "}";
    return faults.statusArray ? "[" + object + "]" : object;
}

QByteArray StatusMessage::member(const char *key, const QByteArray &value)
{
    return '"' + QByteArray(key) + "\":" + value;
}

QByteArray StatusMessage::jsonString(const QString &text)
{
    // The array's brackets are the only bytes around the escaped string.
    const QByteArray array = QJsonDocument(QJsonArray { text }).toJson(QJsonDocument::Compact);
    return array.mid(1, array.size() - 2);
}
