#include "updatefaults.h"

#include "optionvalues.h"

#include <QHostAddress>

#include <limits>

namespace {

constexpr int maxListenDelayMs = 600000; // also the longest flash
constexpr int maxStatusFlood = 1000000;

// The faults that take no value.
struct Flag
{
    const char *name;
    bool UpdateFaults::*isSet;
};
const Flag flags[] = {
    { "no-listener", &UpdateFaults::noListener },
    { "status-not-json", &UpdateFaults::statusNotJson },
    { "status-array", &UpdateFaults::statusArray },
    { "progress-number", &UpdateFaults::progressNumber },
    { "close-when-complete", &UpdateFaults::closeWhenComplete },
    { "error-report", &UpdateFaults::errorReport },
    { "silent", &UpdateFaults::silent },
    { "stale-completion", &UpdateFaults::staleCompletion },
    { "back-on-old", &UpdateFaults::backOnOld },
    { "never-back", &UpdateFaults::neverBack },
};

} // namespace

bool UpdateFaults::add(const QByteArray &list, QString *error)
{
    for (const OptionValues::Item &item : OptionValues::splitList(list)) {
        if (!addOne(item)) {
            *error = QStringLiteral("bad update fault: %1").arg(QString::fromUtf8(item.text));
            return false;
        }
    }
    return true;
}

bool UpdateFaults::addOne(const OptionValues::Item &item)
{
    for (const Flag &flag : flags) {
        if (item.name == flag.name) {
            this->*flag.isSet = !item.hasValue;
            return !item.hasValue;
        }
    }
    using OptionValues::readNumber;
    if (item.name == "listen-after")
        return readNumber(item.value, 0, maxListenDelayMs, &listenAfterMs);
    if (item.name == "drop-after")
        return readNumber(item.value, 0, std::numeric_limits<qint64>::max(), &dropAfterBytes);
    if (item.name == "status-flood")
        return readNumber(item.value, 1, maxStatusFlood, &statusFloodCount);
    if (item.name == "flash-time")
        return readNumber(item.value, 0, maxListenDelayMs, &flashMs);
    if (item.name == "up-after")
        return readNumber(item.value, 0, maxListenDelayMs, &upAfterMs);
    if (item.name == "back-at") {
        bool ok = false;
        backAtIpv4 = QHostAddress(QString::fromUtf8(item.value)).toIPv4Address(&ok);
        return ok;
    }
    if (item.name == "slow")
        return readNumber(item.value, 1, std::numeric_limits<int>::max(), &slowBytesPerSecond);
    return false;
}
