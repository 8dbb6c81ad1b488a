#include "textformat.h"

#include <QVector>

#include <algorithm>

namespace {

const QString columnGap = QStringLiteral("  ");
// However narrow the terminal, a column keeps this many: the start of a
// value and the ellipsis.
constexpr int narrowestColumn = 4;

struct CodePointRange
{
    uint first;
    uint last;
};

// The blocks a terminal draws two columns wide: Hangul, CJK, Yi, the
// fullwidth forms and the common pictographs. A camera's message in Chinese
// is ordinary; counting its characters as one column each would let a line
// of the live display wrap and the redraw leave stale lines behind.
const CodePointRange wideRanges[] = {
    { 0x1100, 0x115F },
    { 0x2E80, 0x303E },
    { 0x3041, 0x33FF },
    { 0x3400, 0x4DBF },
    { 0x4E00, 0x9FFF },
    { 0xA000, 0xA4CF },
    { 0xA960, 0xA97F },
    { 0xAC00, 0xD7A3 },
    { 0xF900, 0xFAFF },
    { 0xFE10, 0xFE19 },
    { 0xFE30, 0xFE6F },
    { 0xFF00, 0xFF60 },
    { 0xFFE0, 0xFFE6 },
    { 0x1F300, 0x1F64F },
    { 0x1F900, 0x1F9FF },
    { 0x20000, 0x3FFFD },
};

int columnsOf(uint codePoint)
{
    const QChar::Category category = QChar::category(codePoint);
    if (category == QChar::Mark_NonSpacing || category == QChar::Mark_Enclosing)
        return 0;
    for (const CodePointRange &range : wideRanges) {
        if (codePoint >= range.first && codePoint <= range.last)
            return 2;
    }
    return 1;
}

// text followed by blanks up to width columns.
QString padded(const QString &text, int width)
{
    return text + QString(qMax(width - TextFormat::Columns(text), 0), QLatin1Char(' '));
}

} // namespace

QString TextFormat::ForTerminal(const QString &text)
{
    QString shown;
    shown.reserve(text.size());
    for (const uint codePoint : text.toUcs4()) {
        if (QChar::isPrint(codePoint)) {
            shown += QString::fromUcs4(&codePoint, 1);
        } else if (codePoint <= 0xFF) {
            shown += QStringLiteral("\\x%1").arg(codePoint, 2, 16, QLatin1Char('0'));
        } else {
            shown += QStringLiteral("\\u{%1}").arg(codePoint, 4, 16, QLatin1Char('0'));
        }
    }
    return shown;
}

QString TextFormat::Table(const QStringList &header, const QList<QStringList> &rows, int width)
{
    QList<QStringList> shown { header };
    for (const QStringList &row : rows) {
        QStringList cells;
        for (const QString &cell : row)
            cells.append(ForTerminal(cell));
        shown.append(cells);
    }
    QVector<int> widths(header.size(), 0);
    for (const QStringList &row : qAsConst(shown)) {
        for (int column = 0; column < row.size() && column < widths.size(); ++column)
            widths[column] = qMax(widths[column], Columns(row.at(column)));
    }
    if (width > 0 && FitColumns(&widths, width)) {
        for (QStringList &row : shown) {
            for (int column = 0; column < row.size() && column < widths.size(); ++column)
                row[column] = Shortened(row.at(column), widths.at(column));
        }
    }
    QStringList rule;
    for (const int width : qAsConst(widths))
        rule.append(QString(width, QLatin1Char('-')));
    shown.insert(1, rule);

    QString table;
    for (const QStringList &row : qAsConst(shown)) {
        QString line;
        for (int column = 0; column < row.size() && column < widths.size(); ++column) {
            const bool last = column + 1 == row.size();
            line += last ? row.at(column) : padded(row.at(column), widths[column]) + columnGap;
        }
        table += line + QLatin1Char('\n');
    }
    return table;
}

// Takes a column at a time off the widest column until the table fits, so
// that short columns such as an address or a version stay whole; none goes
// below a few columns. False when every column fits as it is.
bool TextFormat::FitColumns(QVector<int> *widths, int width)
{
    const int gaps = int(columnGap.size()) * qMax(int(widths->size()) - 1, 0);
    int total = gaps;
    for (const int columnWidth : qAsConst(*widths))
        total += columnWidth;
    if (total <= width)
        return false;
    while (total > width) {
        const auto widest = std::max_element(widths->begin(), widths->end());
        if (widest == widths->end() || *widest <= narrowestColumn)
            break;
        --*widest;
        --total;
    }
    return true;
}

// A cell wider than its column ends in an ellipsis where it was cut.
QString TextFormat::Shortened(const QString &cell, int width)
{
    if (Columns(cell) <= width)
        return cell;
    return Clip(cell, width - 1) + QChar(0x2026);
}

int TextFormat::Columns(const QString &text)
{
    int columns = 0;
    for (const uint codePoint : text.toUcs4())
        columns += columnsOf(codePoint);
    return columns;
}

QString TextFormat::Clip(const QString &text, int width)
{
    QString clipped;
    int columns = 0;
    for (const uint codePoint : text.toUcs4()) {
        columns += columnsOf(codePoint);
        if (columns > width)
            break;
        clipped += QString::fromUcs4(&codePoint, 1);
    }
    return clipped;
}

QString TextFormat::Cameras(int count)
{
    return count == 1 ? QStringLiteral("1 camera") : QStringLiteral("%1 cameras").arg(count);
}
