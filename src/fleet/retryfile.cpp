#include "retryfile.h"

#include "cameraaddress.h"
#include "cameraresult.h"
#include "imagefile.h"

#include <QHash>
#include <QJsonDocument>
#include <QJsonObject>

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
    struct Camera
    {
        CameraRecord record;
        std::optional<CameraResult::Outcome> last;
    };
    QList<Camera> order;
    QHash<QString, int> byKey;
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
        const QString key = camera.mac.isEmpty() ? camera.ip : camera.mac;
        const auto known = byKey.constFind(key);
        const int index = known == byKey.constEnd() ? int(order.size()) : known.value();
        if (index == order.size()) {
            byKey.insert(key, index);
            order.append(Camera {});
        }
        order[index] = { camera, planned ? std::nullopt : std::optional(outcome) };
    }
    if (order.isEmpty())
        return Refuse(QStringLiteral("it holds no camera's result"));
    cameras = order.size();
    for (const Camera &camera : qAsConst(order)) {
        // Planned and never ended: the run was killed before it could say.
        const std::optional<CameraResult::Outcome> &outcome = camera.last;
        if (!outcome || CameraResult { camera.record.ip, *outcome, QString(), 0 }.CountsAsFailure())
            toRetry.append(camera.record);
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
