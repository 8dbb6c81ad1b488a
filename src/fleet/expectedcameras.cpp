#include "expectedcameras.h"

#include "cameraaddress.h"
#include "csvtext.h"
#include "imagefile.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QSet>
#include <QVector>

#include <algorithm>

namespace {

// A search lists a camera in a few hundred bytes at most, so this holds far
// more cameras than a network has; a file bigger than this is not a list.
constexpr qint64 largestFile = 64 * 1024 * 1024;

bool isBlank(char character)
{
    return character == ' ' || (character >= '\t' && character <= '\r');
}

const QString hexDigits = QStringLiteral("0123456789abcdefABCDEF");

// Six pairs of hex digits with colons between, as a search lists a MAC.
bool isMac(const QString &text)
{
    if (text.size() != 17)
        return false;
    for (int index = 0; index < text.size(); ++index) {
        const QChar character = text.at(index);
        if (index % 3 == 2 ? character != QLatin1Char(':') : !hexDigits.contains(character))
            return false;
    }
    return true;
}

// Where each of CameraRecord::Keys() is in a CSV header, -1 where it is not,
// or the key the header names twice. A search writes them all, but in any
// order and case they are the same columns: a file put together by hand or
// by a spreadsheet may hold only ip and mac.
QVector<int> columnsOf(const QStringList &header, QString *twice)
{
    QVector<int> columns;
    for (const QString &key : CameraRecord::Keys()) {
        int column = -1;
        for (int index = 0; index < header.size(); ++index) {
            if (header.at(index).trimmed().compare(key, Qt::CaseInsensitive) != 0)
                continue;
            if (column >= 0)
                *twice = key;
            column = index;
        }
        columns.append(column);
    }
    return columns;
}

// The records of CSV as CsvText::Record writes them: a quoted cell may
// hold commas, doubled quotes and line ends of its own, so a record can span
// several lines of the file.
class CsvRecords
{
public:
    explicit CsvRecords(const QByteArray &text)
        : text(text)
    {
    }

    // Past lines that hold nothing but blanks: false at the end of the text.
    bool SkipBlankLines();
    // The next record's cells, unquoted; false, with why, when it is not CSV.
    bool Next(QStringList *cells, QString *why);
    // Where the next record starts.
    int Line() const { return line; }

private:
    bool ReadQuoted(QByteArray *cell, QString *why);
    bool At(char character) const
    {
        return position < text.size() && text.at(position) == character;
    }

    const QByteArray &text;
    int position = 0;
    int line = 1;
};

bool CsvRecords::SkipBlankLines()
{
    while (position < text.size()) {
        int end = text.indexOf('\n', position);
        if (end < 0)
            end = text.size();
        if (!text.mid(position, end - position).trimmed().isEmpty())
            return true;
        position = end + 1;
        ++line;
    }
    return false;
}

bool CsvRecords::Next(QStringList *cells, QString *why)
{
    cells->clear();
    for (;;) {
        QByteArray cell;
        if (At('"')) {
            if (!ReadQuoted(&cell, why))
                return false;
        } else {
            const int start = position;
            while (position < text.size() && !At(',') && !At('\n'))
                ++position;
            cell = text.mid(start, position - start);
            // The CR of a CR LF; a bare one inside a cell would have been
            // quoted.
            if (!At(',') && cell.endsWith('\r'))
                cell.chop(1);
        }
        cells->append(QString::fromUtf8(cell));
        if (!At(','))
            break;
        ++position;
    }
    if (At('\n')) {
        ++position;
        ++line;
    }
    return true;
}

bool CsvRecords::ReadQuoted(QByteArray *cell, QString *why)
{
    for (++position; position < text.size(); ++position) {
        const char character = text.at(position);
        if (character == '"' && position + 1 < text.size() && text.at(position + 1) == '"') {
            ++position;
        } else if (character == '"') {
            ++position;
            if (At('\r') && position + 1 < text.size() && text.at(position + 1) == '\n')
                ++position;
            if (position < text.size() && !At(',') && !At('\n')) {
                *why = QStringLiteral("text follows a quoted cell");
                return false;
            }
            return true;
        } else if (character == '\n') {
            ++line;
        }
        *cell += character;
    }
    *why = QStringLiteral("a quoted cell is never closed");
    return false;
}

} // namespace

bool ExpectedCameras::Read(const QString &path)
{
    // Opened as an image is: a FIFO or a device such as /dev/zero is refused
    // without blocking, and the size is known before anything is read.
    ImageFile file;
    if (!file.Open(path))
        return Refuse(file.ErrorString());
    if (file.Size() > largestFile)
        return Refuse(QStringLiteral("larger than any search's output"));
    QByteArray text;
    if (!file.ReadRest(&text))
        return Refuse(QStringLiteral("it changed while it was read"));
    return ReadText(text);
}

bool ExpectedCameras::ReadText(const QByteArray &text)
{
    cameras.clear();
    listed.clear();
    error.clear();
    // A spreadsheet that saves CSV as UTF-8 starts it with a byte order mark.
    QByteArray body = text;
    if (body.startsWith("\xEF\xBB\xBF"))
        body.remove(0, 3);
    // A search's JSON is an object a line, and its CSV starts with the
    // header, so the first thing that is not a blank tells which it is.
    const auto first = std::find_if_not(body.cbegin(), body.cend(), isBlank);
    if (first != body.cend() && !(*first == '{' ? ReadJsonLines(body) : ReadCsv(body)))
        return false;
    return cameras.isEmpty() ? Refuse(QStringLiteral("it holds no camera")) : true;
}

QList<CameraRecord> ExpectedCameras::Missing(const QList<CameraRecord> &found) const
{
    // A MAC that several cameras share, in the file or in the search, or a
    // placeholder, is answered for one camera only by a reply from its own
    // address.
    const QSet<QString> shared
        = CameraRecord::SharedMacs(cameras) + CameraRecord::SharedMacs(found);
    QSet<QString> answered;
    for (const CameraRecord &camera : found) {
        answered.insert(camera.mac.toUpper());
        answered.insert(camera.ip + QLatin1Char('/') + camera.mac.toUpper());
    }
    QList<CameraRecord> missing;
    for (const CameraRecord &camera : cameras) {
        const bool identifies
            = CameraRecord::MacCanIdentify(camera.mac) && !shared.contains(camera.mac);
        if (!answered.contains(identifies ? camera.mac : camera.ip + QLatin1Char('/') + camera.mac))
            missing.append(camera);
    }
    return missing;
}

bool ExpectedCameras::ReadJsonLines(const QByteArray &text)
{
    const QList<QByteArray> lines = text.split('\n');
    for (int index = 0; index < lines.size(); ++index) {
        if (lines.at(index).trimmed().isEmpty())
            continue;
        QJsonParseError parsed;
        const QJsonDocument document = QJsonDocument::fromJson(lines.at(index), &parsed);
        if (parsed.error != QJsonParseError::NoError || !document.isObject())
            return RefuseLine(index + 1, QStringLiteral("not a JSON object"));
        const QJsonObject object = document.object();
        QStringList fields;
        for (const QString &key : CameraRecord::Keys())
            fields.append(object.value(key).toString());
        if (!Add(index + 1, CameraRecord::FromFields(fields)))
            return false;
    }
    return true;
}

bool ExpectedCameras::ReadCsv(const QByteArray &text)
{
    CsvRecords records(text);
    QStringList cells;
    QString why;
    records.SkipBlankLines();
    const int headerLine = records.Line();
    const QString notAHeader
        = QStringLiteral("line %1 is not a CSV header with ip and mac columns").arg(headerLine);
    if (!records.Next(&cells, &why))
        return Refuse(notAHeader);
    const QStringList header = cells;
    QString twice;
    const QVector<int> columns = columnsOf(header, &twice);
    if (!twice.isEmpty())
        return Refuse(
            QStringLiteral("line %1 names the %2 column twice").arg(headerLine).arg(twice));
    if (columns.at(0) < 0 || columns.at(1) < 0)
        return Refuse(notAHeader);

    while (records.SkipBlankLines()) {
        const int line = records.Line();
        if (!records.Next(&cells, &why))
            return RefuseLine(line, why);
        if (cells.size() != header.size())
            return RefuseLine(line,
                QStringLiteral("%1 cells where the header has %2")
                    .arg(cells.size())
                    .arg(header.size()));
        QStringList fields;
        for (const int column : qAsConst(columns))
            fields.append(column < 0 ? QString() : CsvText::Field(cells.at(column)));
        CameraRecord camera = CameraRecord::FromFields(fields);
        // A file typed by hand often has a blank after each comma.
        camera.ip = camera.ip.trimmed();
        camera.mac = camera.mac.trimmed();
        if (!Add(line, camera))
            return false;
    }
    return true;
}

bool ExpectedCameras::Add(int line, CameraRecord camera)
{
    if (!CameraAddress::IsDottedQuad(camera.ip))
        return RefuseLine(line, QStringLiteral("its ip is not an IPv4 address"));
    if (!isMac(camera.mac))
        return RefuseLine(
            line, QStringLiteral("its mac is not a MAC address like 00:1A:2B:3C:4D:5E"));
    camera.mac = camera.mac.toUpper();
    // A camera is what the search counts as one, an address and a MAC. The
    // same pair again (two searches' output appended) is that camera once,
    // as the later search saw it. One MAC at two addresses stays two
    // cameras, as the search listed them: a camera that moved between the
    // searches, or two that share a MAC. Refusing would make a search's own
    // output unreadable, and keeping only one would count fewer cameras
    // than the search found. Such a MAC names neither, so each is matched at
    // its own address.
    const QString key = camera.ip + QLatin1Char('/') + camera.mac;
    const auto known = listed.constFind(key);
    if (known != listed.constEnd()) {
        cameras[*known] = camera;
    } else {
        listed.insert(key, cameras.size());
        cameras.append(camera);
    }
    return true;
}

bool ExpectedCameras::RefuseLine(int line, const QString &why)
{
    return Refuse(QStringLiteral("line %1 is not a camera: %2").arg(line).arg(why));
}

bool ExpectedCameras::Refuse(const QString &reason)
{
    cameras.clear();
    listed.clear();
    error = reason;
    return false;
}
