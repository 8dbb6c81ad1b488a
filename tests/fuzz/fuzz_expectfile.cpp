// Any file through ExpectedCameras::ReadText, as --expect reads the --csv or
// --json output of an earlier search that a user hands over: edited by hand
// or by a spreadsheet, cut off, or not such a file at all. Besides crashes
// and sanitizer findings, a file that is taken must give each camera a
// dotted quad and a MAC in upper case, once each, that read the same again
// when written as a search writes them; and every camera it names is found
// by its own MAC in whatever case.
#include "cameraaddress.h"
#include "expectedcameras.h"
#include "searchlisting.h"

#include <QByteArray>
#include <QSet>
#include <QString>

#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace {

void check(bool condition, const char *what)
{
    if (!condition) {
        std::fprintf(stderr, "fuzz_expectfile: %s\n", what);
        std::abort();
    }
}

QStringList addresses(const QList<CameraRecord> &cameras)
{
    QStringList pairs;
    for (const CameraRecord &camera : cameras)
        pairs.append(camera.ip + QLatin1Char('/') + camera.mac);
    return pairs;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray text(reinterpret_cast<const char *>(data), static_cast<int>(size));
    ExpectedCameras expected;
    if (!expected.ReadText(text)) {
        check(!expected.ErrorString().isEmpty(), "a refusal without a reason");
        check(expected.Cameras().isEmpty(), "cameras from a refused file");
        return 0;
    }
    const QList<CameraRecord> cameras = expected.Cameras();
    check(!cameras.isEmpty(), "a file taken without a camera");
    const QStringList pairs = addresses(cameras);
    check(QSet<QString>(pairs.cbegin(), pairs.cend()).size() == pairs.size(),
        "a camera listed twice at one address");
    QList<CameraRecord> lowered;
    for (CameraRecord camera : cameras) {
        check(CameraAddress::IsDottedQuad(camera.ip), "an address that is not a dotted quad");
        check(camera.mac.size() == 17 && camera.mac == camera.mac.toUpper(),
            "a MAC not in the search's form");
        camera.mac = camera.mac.toLower();
        lowered.append(camera);
    }
    check(expected.Missing(lowered).isEmpty(), "a camera missing that answered");
    check(expected.Missing({}).size() == cameras.size(), "a camera found among none");

    for (const QByteArray &written :
        { SearchListing::Csv(cameras), SearchListing::Json(cameras) }) {
        ExpectedCameras again;
        check(again.ReadText(written), "the file's cameras refused as a search writes them");
        check(addresses(again.Cameras()) == pairs, "the file's cameras read back otherwise");
    }
    return 0;
}
