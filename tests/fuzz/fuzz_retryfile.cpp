// Any file through RetryFile::ReadText, as --retry reads the --json output of
// an earlier run that a user hands over in whatever state it is in: cut off,
// edited, appended to, or not such a file at all. Besides crashes and
// sanitizer findings, a file that is taken must name only cameras it gives
// an address for: each retried address a dotted quad, named once, and one of
// the file's own "ip" values.
#include "cameraaddress.h"
#include "retryfile.h"

#include <QByteArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSet>
#include <QString>

#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace {

void check(bool condition, const char *what)
{
    if (!condition) {
        std::fprintf(stderr, "fuzz_retryfile: %s\n", what);
        std::abort();
    }
}

// Every "ip" string the file holds on a line of its own, whatever the line
// is besides.
QSet<QString> ipValues(const QByteArray &text)
{
    QSet<QString> values;
    for (const QByteArray &line : text.split('\n')) {
        const QJsonValue ip = QJsonDocument::fromJson(line).object().value(QLatin1String("ip"));
        if (ip.isString())
            values.insert(ip.toString());
    }
    return values;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray text(reinterpret_cast<const char *>(data), static_cast<int>(size));
    RetryFile retry;
    if (!retry.ReadText(text)) {
        check(!retry.ErrorString().isEmpty(), "a refusal without a reason");
        check(retry.Addresses().isEmpty(), "addresses from a refused file");
        return 0;
    }
    const QStringList addresses = retry.Addresses();
    const QSet<QString> named = ipValues(text);
    QSet<QString> seen;
    for (const QString &address : addresses) {
        check(CameraAddress::IsDottedQuad(address), "an address that is not a dotted quad");
        check(!seen.contains(address), "an address retried twice");
        check(named.contains(address), "an address the file does not name");
        seen.insert(address);
    }
    check(retry.Cameras() > 0 && retry.Cameras() <= named.size(),
        "a count of cameras the file does not hold");
    check(addresses.size() <= retry.Cameras(), "more cameras retried than the file holds");
    return 0;
}
