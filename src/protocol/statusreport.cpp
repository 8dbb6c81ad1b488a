#include "statusreport.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>

StatusReport StatusReport::Read(const QByteArray &payload)
{
    StatusReport report;
    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(payload, &parseError);
    if (parseError.error != QJsonParseError::NoError) {
        report.parseError = parseError.errorString();
        return report;
    }
    report.readable = true;
    report.isObject = document.isObject();
    const QJsonObject object = document.object();
    report.type = object.value(QLatin1String(typeKey)).toString();
    report.errorCode = object.value(QLatin1String(errorCodeKey)).toString();
    report.progress = object.value(QLatin1String(progressKey)).toString();
    report.message = object.value(QLatin1String(messageKey)).toString();
    return report;
}

bool StatusReport::IsShown() const
{
    return isObject && (type == QLatin1String("1") || type == QLatin1String("2"));
}

bool StatusReport::MovesProgress() const
{
    return IsShown() && errorCode == QLatin1String("0");
}

// Text that is not a whole decimal number reads as 0.
int StatusReport::ProgressValue() const
{
    return progress.toInt(nullptr, 10);
}

bool StatusReport::IsCompletion() const
{
    return isObject && type == QLatin1String("2") && errorCode == QLatin1String("0")
        && progress == QLatin1String("100");
}

bool StatusReport::IsFailure() const
{
    return isObject && type == QLatin1String("2") && errorCode != QLatin1String("0");
}
