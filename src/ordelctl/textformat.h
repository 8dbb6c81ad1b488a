#ifndef TEXTFORMAT_H
#define TEXTFORMAT_H

#include <QList>
#include <QString>
#include <QStringList>
#include <QVector>

// Text for people on a terminal. A camera's name, type or message is data:
// its control characters are shown as escapes, so that a camera cannot move
// the cursor, retitle the window or hide a line.
class TextFormat
{
public:
    // Every character that does not print shown as \xHH or \u{HHHH}.
    static QString ForTerminal(const QString &text);

    // Columns aligned by two spaces, the header underlined; every cell shown
    // ForTerminal. Ends in a line feed. Given a width, the widest columns
    // give way until the table fits it, their cells cut short with an
    // ellipsis.
    static QString Table(const QStringList &header, const QList<QStringList> &rows, int width = 0);

    // "1 camera", "2 cameras".
    static QString Cameras(int count);

    // The columns a terminal gives text: two a character of the wide East
    // Asian scripts or a pictograph, none a combining mark, one any other.
    static int Columns(const QString &text);

    // As many leading characters as fit width columns, ForTerminal already
    // applied. A wide character that would straddle the edge is left out.
    static QString Clip(const QString &text, int width);

private:
    static bool FitColumns(QVector<int> *widths, int width);
    static QString Shortened(const QString &cell, int width);
};

#endif // TEXTFORMAT_H
