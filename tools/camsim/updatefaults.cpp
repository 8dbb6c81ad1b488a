#include "updatefaults.h"

#include <QList>

namespace {

constexpr int maxListenDelayMs = 600000;
constexpr int maxStatusFlood = 1000000;

} // namespace

bool UpdateFaults::add(const QByteArray &list, QString *error)
{
    const QList<QByteArray> items = list.split(',');
    for (const QByteArray &item : items) {
        const int equals = item.indexOf('=');
        const QByteArray name = equals < 0 ? item : item.left(equals);
        const QByteArray value = equals < 0 ? QByteArray() : item.mid(equals + 1);
        if (!addOne(name, value, equals >= 0)) {
            *error = QStringLiteral("bad update fault: %1").arg(QString::fromUtf8(item));
            return false;
        }
    }
    return true;
}

bool UpdateFaults::addOne(const QByteArray &name, const QByteArray &value, bool hasValue)
{
    bool ok = !hasValue;
    if (name == "no-listener") {
        noListener = ok;
    } else if (name == "status-not-json") {
        statusNotJson = ok;
    } else if (name == "status-array") {
        statusArray = ok;
    } else if (name == "progress-number") {
        progressNumber = ok;
    } else if (name == "close-when-complete") {
        closeWhenComplete = ok;
    } else if (name == "error-report") {
        errorReport = ok;
    } else if (name == "listen-after") {
        listenAfterMs = value.toInt(&ok);
        ok = ok && listenAfterMs >= 0 && listenAfterMs <= maxListenDelayMs;
    } else if (name == "drop-after") {
        dropAfterBytes = value.toLongLong(&ok);
        ok = ok && dropAfterBytes >= 0;
    } else if (name == "status-flood") {
        statusFloodCount = value.toInt(&ok);
        ok = ok && statusFloodCount > 0 && statusFloodCount <= maxStatusFlood;
    } else if (name == "slow") {
        slowBytesPerSecond = value.toInt(&ok);
        ok = ok && slowBytesPerSecond > 0;
    } else {
        ok = false;
    }
    return ok;
}
