#include "textformat.h"

#include <QVector>

namespace {

const QString columnGap = QStringLiteral("  ");

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

QString TextFormat::Table(const QStringList &header, const QList<QStringList> &rows)
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
            widths[column] = qMax(widths[column], row.at(column).size());
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
            line
                += last ? row.at(column) : row.at(column).leftJustified(widths[column]) + columnGap;
        }
        table += line + QLatin1Char('\n');
    }
    return table;
}

QString TextFormat::CsvRecord(const QStringList &fields)
{
    QStringList quoted;
    for (QString field : fields) {
        if (field.contains(QLatin1Char(',')) || field.contains(QLatin1Char('"'))
            || field.contains(QLatin1Char('\r')) || field.contains(QLatin1Char('\n'))) {
            field.replace(QLatin1Char('"'), QLatin1String("\"\""));
            field = QLatin1Char('"') + field + QLatin1Char('"');
        }
        quoted.append(field);
    }
    return quoted.join(QLatin1Char(',')) + QLatin1String("\r\n");
}

QString TextFormat::Clip(const QString &text, int width)
{
    return text.size() <= width ? text : text.left(qMax(width, 0));
}

QString TextFormat::Cameras(int count)
{
    return count == 1 ? QStringLiteral("1 camera") : QStringLiteral("%1 cameras").arg(count);
}
