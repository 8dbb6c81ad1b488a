#include "retryfile.h"

#include "cameraaddress.h"
#include "cameraresult.h"
#include "imagefile.h"

#include <QHash>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSet>

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
    struct Line
    {
        CameraRecord camera;
        std::optional<CameraResult::Outcome> outcome;
    };
    QList<Line> lines;
    int lineNumber = 0;
    for (const QByteArray &line : text.split('\n')) {
        ++lineNumber;
        // Progress events and anything else that is neither a plan nor a
        // final object (a stray line of another program, or the last line
        // of a run killed while writing it) carry no result.
        const QJsonObject object = QJsonDocument::fromJson(line).object();
        const QString event = object.value(QLatin1String("event")).toString();
        if (event == QLatin1String("image")) {
            earlierMd5 = object.value(QLatin1String("md5")).toString();
            earlierType = object.value(QLatin1String("type")).toString();
        }
        const bool planned = event == QLatin1String("planned");
        if (!planned && !object.contains(QLatin1String("result")))
            continue;
        CameraRecord camera;
        camera.ip = object.value(QLatin1String("ip")).toString();
        camera.mac = object.value(QLatin1String("mac")).toString().toUpper();
        camera.type = object.value(QLatin1String("type")).toString();
        CameraResult::Outcome outcome = CameraResult::Outcome::Failed;
        if (!CameraAddress::IsDottedQuad(camera.ip)
            || (!planned
                && !CameraResult::OutcomeFromName(
                    object.value(QLatin1String("result")).toString(), &outcome)))
            return Refuse(QStringLiteral("line %1 is not a camera's result").arg(lineNumber));
        lines.append({ camera, planned ? std::nullopt : std::optional(outcome) });
    }
    // A MAC the file gives at several addresses, or a placeholder, names
    // none of those cameras: each is then its address and that MAC.
    QList<CameraRecord> named;
    for (const Line &line : qAsConst(lines))
        named.append(line.camera);
    const QSet<QString> shared = CameraRecord::SharedMacs(named);
    QList<Line> order;
    QHash<QString, int> byKey;
    for (const Line &line : qAsConst(lines)) {
        const QString &mac = line.camera.mac;
        const QString key = CameraRecord::MacCanIdentify(mac) && !shared.contains(mac)
            ? mac
            : line.camera.ip + QLatin1Char('/') + mac;
        const auto known = byKey.constFind(key);
        if (known == byKey.constEnd()) {
            byKey.insert(key, int(order.size()));
            order.append(line);
        } else {
            order[known.value()] = line;
        }
    }
    if (order.isEmpty())
        return Refuse(QStringLiteral("it holds no camera's result"));
    cameras = order.size();
    for (const Line &line : qAsConst(order)) {
        // Planned and never ended: the run was killed before it could say.
        const std::optional<CameraResult::Outcome> &outcome = line.outcome;
        if (!outcome || CameraResult { line.camera.ip, *outcome, QString(), 0 }.CountsAsFailure())
            toRetry.append(line.camera);
    }
    return true;
}

QStringList RetryFile::Addresses() const
{
    QStringList addresses;
    for (const CameraRecord &camera : toRetry) {
        if (!addresses.contains(camera.ip))
            addresses.append(camera.ip);
    }
    return addresses;
}

bool RetryFile::Refuse(const QString &reason)
{
    error = reason;
    return false;
}
