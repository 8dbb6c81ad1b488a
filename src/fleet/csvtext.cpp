#include "csvtext.h"

namespace {

const QString formulaStarts = QStringLiteral("=+-@\t\r");

} // namespace

QString CsvText::Record(const QStringList &fields)
{
    QStringList quoted;
    for (QString field : fields) {
        // A spreadsheet takes a cell that starts with one of these as a
        // formula, and a camera's name is whatever the camera says: the
        // apostrophe makes the cell text again, and the spreadsheet hides it.
        if (!field.isEmpty() && formulaStarts.contains(field.front()))
            field.prepend(QLatin1Char('\''));
        if (field.contains(QLatin1Char(',')) || field.contains(QLatin1Char('"'))
            || field.contains(QLatin1Char('\r')) || field.contains(QLatin1Char('\n'))) {
            field.replace(QLatin1Char('"'), QLatin1String("\"\""));
            field = QLatin1Char('"') + field + QLatin1Char('"');
        }
        quoted.append(field);
    }
    return quoted.join(QLatin1Char(',')) + QLatin1String("\r\n");
}

QString CsvText::Field(const QString &cell)
{
    if (cell.size() > 1 && cell.front() == QLatin1Char('\'') && formulaStarts.contains(cell.at(1)))
        return cell.mid(1);
    return cell;
}
