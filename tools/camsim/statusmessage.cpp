#include "statusmessage.h"

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
    const QByteArray object = "{\"type\":" + jsonString(QString::number(type))
        + ",\"errorcode\":" + jsonString(QString::number(errorCode))
        + ",\"progress\":" + progressValue + ",\"message\":" + jsonString(message) + "}";
    return faults.statusArray ? "[" + object + "]" : object;
}

QByteArray StatusMessage::jsonString(const QString &text)
{
    // The array's brackets are the only bytes around the escaped string.
    const QByteArray array = QJsonDocument(QJsonArray { text }).toJson(QJsonDocument::Compact);
    return array.mid(1, array.size() - 2);
}
