#ifndef CSVTEXT_H
#define CSVTEXT_H

#include <QString>
#include <QStringList>

// The CSV of a search's output, written by one front end and read back by the
// engine as the cameras to expect. A camera's name, type or message is data:
// it is quoted, and kept from being taken for a formula.
class CsvText
{
public:
    // One record of RFC 4180: a field holding a comma, a double quote, a
    // carriage return or a line feed is quoted, its quotes doubled, and the
    // record ends in CR LF. A field that a spreadsheet would take for a
    // formula, one starting with =, +, -, @, a tab or a carriage return,
    // gets a leading ' first.
    static QString Record(const QStringList &fields);
    // A field as Record was given it, from its cell once unquoted: the '
    // put before a formula's first character taken off. A field that began
    // with ' and one of those characters itself reads back without it.
    static QString Field(const QString &cell);
};

#endif // CSVTEXT_H
