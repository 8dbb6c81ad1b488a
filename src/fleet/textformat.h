#ifndef TEXTFORMAT_H
#define TEXTFORMAT_H

#include <QList>
#include <QString>
#include <QStringList>

// Text for people and for spreadsheets. A camera's name, type or message is
// data: on a terminal its control characters are shown as escapes, so that a
// camera cannot move the cursor, retitle the window or hide a line; in CSV it
// is quoted, and kept from being taken for a formula.
class TextFormat
{
public:
    // Every character that does not print shown as \xHH or \u{HHHH}.
    static QString ForTerminal(const QString &text);

    // Columns aligned by two spaces, the header underlined; every cell shown
    // ForTerminal. Ends in a line feed.
    static QString Table(const QStringList &header, const QList<QStringList> &rows);

    // One record of RFC 4180: a field holding a comma, a double quote, a
    // carriage return or a line feed is quoted, its quotes doubled, and the
    // record ends in CR LF. A field that a spreadsheet would take for a
    // formula, one starting with =, +, -, @, a tab or a carriage return,
    // gets a leading ' first.
    static QString CsvRecord(const QStringList &fields);
    // A field as CsvRecord was given it, from its cell once unquoted: the '
    // put before a formula's first character taken off. A field that began
    // with ' and one of those characters itself reads back without it.
    static QString CsvField(const QString &cell);

    // "1 camera", "2 cameras".
    static QString Cameras(int count);

    // The columns a terminal gives text: two a character of the wide East
    // Asian scripts or a pictograph, none a combining mark, one any other.
    static int Columns(const QString &text);

    // As many leading characters as fit width columns, ForTerminal already
    // applied. A wide character that would straddle the edge is left out.
    static QString Clip(const QString &text, int width);
};

#endif // TEXTFORMAT_H
