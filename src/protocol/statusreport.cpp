#include "statusreport.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>

namespace {

// Never half of a pictograph: a cut between the two halves of a surrogate
// pair would leave a character that is none.
QString bounded(const QString &text)
{
    if (text.size() <= StatusReport::longestText)
        return text;
    int kept = StatusReport::longestText;
    if (text.at(kept - 1).isHighSurrogate())
        --kept;
    return text.left(kept) + QChar(0x2026);
}

} // namespace

StatusReport StatusReport::Read(const QByteArray &payload)
{
    StatusReport report;
    if (payload.size() > largestPayload) {
        report.parseError = QStringLiteral("report of %1 bytes not read: more than %2")
                                .arg(payload.size())
                                .arg(largestPayload);
        return report;
    }
    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(payload, &parseError);
    if (parseError.error != QJsonParseError::NoError) {
        report.parseError = bounded(parseError.errorString());
        return report;
    }
    report.readable = true;
    report.isObject = document.isObject();
    const QJsonObject object = document.object();
    report.type = bounded(object.value(QLatin1String(typeKey)).toString());
    report.errorCode = bounded(object.value(QLatin1String(errorCodeKey)).toString());
    report.progress = bounded(object.value(QLatin1String(progressKey)).toString());
    report.message = bounded(object.value(QLatin1String(messageKey)).toString());
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
