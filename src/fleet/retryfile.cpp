#include "retryfile.h"

#include "cameraaddress.h"
#include "cameraresult.h"
#include "imagefile.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QMap>

#include <optional>

namespace {

// Larger than any fleet's output; a file bigger than this is not one.
constexpr qint64 largestFile = 256 * 1024 * 1024;

} // namespace

bool RetryFile::Read(const QString &path)
{
    // Opened as an image is: a FIFO or a device such as /dev/zero is refused
    // without blocking, and the size is known before anything is read.
    ImageFile file;
    if (!file.Open(path))
        return Refuse(file.ErrorString());
    if (file.Size() > largestFile)
        return Refuse(QStringLiteral("larger than any run's output"));
    QByteArray text;
    if (!file.ReadRest(&text))
        return Refuse(QStringLiteral("it changed while it was read"));
    return ReadText(text);
}

bool RetryFile::ReadText(const QByteArray &text)
{
    // A camera's state is its last line: planned, then a result, and
    // planned again when a later run appended to the same file.
    QStringList order;
    QMap<QString, std::optional<CameraResult::Outcome>> last;
    int lineNumber = 0;
    for (const QByteArray &line : text.split('\n')) {
        ++lineNumber;
        // Progress events and anything else that is neither a plan nor a
        // final object (a stray line of another program, or the last line
        // of a run killed while writing it) carry no result.
        const QJsonObject object = QJsonDocument::fromJson(line).object();
        const QString event = object.value(QLatin1String("event")).toString();
        if (event == QLatin1String("image"))
            earlierMd5 = object.value(QLatin1String("md5")).toString();
        const bool planned = event == QLatin1String("planned");
        if (!planned && !object.contains(QLatin1String("result")))
            continue;
        const QString ip = object.value(QLatin1String("ip")).toString();
        CameraResult::Outcome outcome = CameraResult::Outcome::Failed;
        if (!CameraAddress::IsDottedQuad(ip)
            || (!planned
                && !CameraResult::OutcomeFromName(
                    object.value(QLatin1String("result")).toString(), &outcome)))
            return Refuse(QStringLiteral("line %1 is not a camera's result").arg(lineNumber));
        if (!last.contains(ip))
            order.append(ip);
        last.insert(ip, planned ? std::nullopt : std::optional(outcome));
    }
    if (order.isEmpty())
        return Refuse(QStringLiteral("it holds no camera's result"));
    cameras = order.size();
    for (const QString &ip : qAsConst(order)) {
        // Planned and never ended: the run was killed before it could say.
        const std::optional<CameraResult::Outcome> outcome = last.value(ip);
        if (!outcome || CameraResult { ip, *outcome, QString(), 0 }.CountsAsFailure())
            addresses.append(ip);
    }
    return true;
}

bool RetryFile::Refuse(const QString &reason)
{
    error = reason;
    return false;
}
