#include "retryfile.h"

#include "cameraresult.h"
#include "commandline.h"

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMap>

namespace {

// Larger than any fleet's output; a file bigger than this is not one.
constexpr qint64 largestFile = 256 * 1024 * 1024;

} // namespace

bool RetryFile::Read(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return Refuse(file.errorString());
    if (file.size() > largestFile)
        return Refuse(QStringLiteral("larger than any run's output"));
    QStringList order;
    QMap<QString, CameraResult::Outcome> last;
    int lineNumber = 0;
    for (const QByteArray &line : file.readAll().split('\n')) {
        ++lineNumber;
        // Progress events and anything else that is not a final object (a
        // stray line of another program, say) carry no result.
        const QJsonObject object = QJsonDocument::fromJson(line).object();
        if (object.value(QLatin1String("event")).toString() == QLatin1String("image"))
            earlierMd5 = object.value(QLatin1String("md5")).toString();
        if (!object.contains(QLatin1String("result")))
            continue;
        const QString ip = object.value(QLatin1String("ip")).toString();
        CameraResult::Outcome outcome;
        if (!CommandLine::IsDottedIpv4(ip)
            || !CameraResult::OutcomeFromName(
                object.value(QLatin1String("result")).toString(), &outcome))
            return Refuse(QStringLiteral("line %1 is not a camera's result").arg(lineNumber));
        if (!last.contains(ip))
            order.append(ip);
        last.insert(ip, outcome);
    }
    if (order.isEmpty())
        return Refuse(QStringLiteral("it holds no camera's result"));
    cameras = order.size();
    for (const QString &ip : qAsConst(order)) {
        const CameraResult::Outcome outcome = last.value(ip);
        if (outcome == CameraResult::Outcome::Failed
            || outcome == CameraResult::Outcome::Interrupted
            || outcome == CameraResult::Outcome::NotStarted)
            addresses.append(ip);
    }
    return true;
}

bool RetryFile::Refuse(const QString &reason)
{
    error = reason;
    return false;
}
