// Any payload on the update status topic through what ordelctl makes of it:
// StatusReport::Read, the report's event line for scripts
// (EventStream::ReportLine) and the camera's live text on the terminal
// (CameraUpdate::CameraAccount, beside the phase as the progress display
// puts it, through TextFormat::ForTerminal and TextFormat::Clip). Besides
// crashes and sanitizer findings: the event line is one JSON object on one
// line with the report's members and nothing a terminal or a JavaScript
// reader would act on, and the live text holds no character that does not
// print and keeps within the columns it is clipped to.
#include "cameraupdate.h"
#include "eventstream.h"
#include "statusreport.h"
#include "textformat.h"

#include <QByteArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace {

const QString ip = QStringLiteral("198.51.100.11");

void check(bool condition, const char *what)
{
    if (!condition) {
        std::fprintf(stderr, "fuzz_fleetreport: %s\n", what);
        std::abort();
    }
}

// A text as a line of UTF-8 carries it to Qt's reader. UTF-8 cannot carry a
// lone surrogate, so both sides hold the same replacement; and that reader
// drops a U+FEFF that starts a string without escapes, which other readers
// keep.
QByteArray asRead(const QString &text)
{
    QByteArray bytes = text.toUtf8();
    if (bytes.startsWith("\xEF\xBB\xBF"))
        bytes.remove(0, 3);
    return bytes;
}

// Raw bytes that a terminal acts on or that end a line for a reader of
// JavaScript: C0 and DEL, C1 in UTF-8, and the two separators.
bool holdsRawControl(const QByteArray &text)
{
    for (int index = 0; index < text.size(); ++index) {
        const auto byte = static_cast<unsigned char>(text.at(index));
        if (byte < 0x20 || byte == 0x7F)
            return true;
        const auto next
            = index + 1 < text.size() ? static_cast<unsigned char>(text.at(index + 1)) : 0;
        const auto third
            = index + 2 < text.size() ? static_cast<unsigned char>(text.at(index + 2)) : 0;
        if (byte == 0xC2 && next >= 0x80 && next <= 0x9F)
            return true;
        if (byte == 0xE2 && next == 0x80 && (third == 0xA8 || third == 0xA9))
            return true;
    }
    return false;
}

void checkEventLine(const StatusReport &report)
{
    const QByteArray line = EventStream::ReportLine(ip, report);
    check(line.endsWith('\n') && line.count('\n') == 1, "the event line is not one line");
    const QByteArray object = line.chopped(1);
    check(!holdsRawControl(object), "a raw control character in the event line");
    check(object.startsWith("{\"ip\":"), "the event line does not start with its ip");

    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(object, &error);
    check(error.error == QJsonParseError::NoError && document.isObject(),
        "the event line is not a JSON object");
    const QJsonObject parsed = document.object();
    QStringList keys { "ip", "event" };
    QStringList values { ip, QStringLiteral("report") };
    if (report.readable) {
        keys << "type"
             << "errorcode"
             << "progress"
             << "message";
        values << report.type << report.errorCode << report.progress << report.message;
    } else {
        keys << "error";
        values << report.parseError;
    }
    check(parsed.size() == keys.size(), "the event line has members it should not");
    for (int member = 0; member < keys.size(); ++member) {
        const QJsonValue value = parsed.value(keys.at(member));
        check(value.isString(), "a member of the event line is missing or not a string");
        check(asRead(value.toString()) == asRead(values.at(member)),
            "a member of the event line is not the report's text");
    }
}

// A character that does not print: a control or format character, a
// surrogate without its partner, a private or unassigned code point.
bool printsNothing(uint codePoint)
{
    switch (QChar::category(codePoint)) {
    case QChar::Other_Control:
    case QChar::Other_Format:
    case QChar::Other_Surrogate:
    case QChar::Other_PrivateUse:
    case QChar::Other_NotAssigned:
        return true;
    default:
        return false;
    }
}

// The camera's line of the live display, clipped to a few terminal widths;
// widthSeed, taken from the input, gives any other width its turn.
void checkLiveText(const StatusReport &report, int widthSeed)
{
    // Once taken over an earlier report's account, as a camera sends one
    // report after another.
    CameraUpdate::CameraAccount account;
    account.percent = 40;
    account.message = QStringLiteral("earlier");
    account.Take(report);

    const QString line = QStringLiteral("  %1  %2  %3")
                             .arg(ip, QStringLiteral("waiting for the final report"),
                                 QStringLiteral("1.0/1.0 MiB") + account.Text());
    const QString shown = TextFormat::ForTerminal(line);
    for (int index = 0; index < shown.size(); ++index) {
        const QChar unit = shown.at(index);
        if (unit.isHighSurrogate() && index + 1 < shown.size()
            && shown.at(index + 1).isLowSurrogate()) {
            check(!printsNothing(QChar::surrogateToUcs4(unit, shown.at(index + 1))),
                "a character that does not print in the live text");
            ++index;
            continue;
        }
        check(!printsNothing(unit.unicode()), "a character that does not print in the live text");
    }

    const int columns = TextFormat::Columns(shown);
    // Every width costs a pass over a line of up to a few thousand
    // characters: a few, and the edges, keep the fuzzer fast.
    for (const int width : { 0, 79, columns, widthSeed % (columns + 2) }) {
        const QString clipped = TextFormat::Clip(shown, width);
        check(shown.startsWith(clipped), "the clipped text is not the start of the line");
        check(TextFormat::Columns(clipped) <= qMax(width, 0), "the clipped text is too wide");
        if (clipped.size() < shown.size()) {
            // As much as fits: the next character would not have.
            const int nextSize = shown.at(clipped.size()).isHighSurrogate() ? 2 : 1;
            check(TextFormat::Columns(clipped + shown.mid(clipped.size(), nextSize)) > width,
                "the clipped text stops short of its width");
        }
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray payload(reinterpret_cast<const char *>(data), static_cast<int>(size));
    const StatusReport report = StatusReport::Read(payload);
    for (const QString &text :
        { report.parseError, report.type, report.errorCode, report.progress, report.message })
        check(text.size() <= StatusReport::longestText + 1, "a text kept beyond its bound");
    checkEventLine(report);
    checkLiveText(report, static_cast<int>(size));
    return 0;
}
