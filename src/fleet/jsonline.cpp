#include "jsonline.h"

JsonLine &JsonLine::Add(const char *key, const QString &value)
{
    return AddRaw(key, Quote(value));
}

JsonLine &JsonLine::Add(const char *key, qint64 value)
{
    return AddRaw(key, QByteArray::number(value));
}

JsonLine &JsonLine::AddNull(const char *key)
{
    return AddRaw(key, QByteArrayLiteral("null"));
}

JsonLine &JsonLine::AddFlag(const char *key, bool value)
{
    return AddRaw(key, value ? QByteArrayLiteral("true") : QByteArrayLiteral("false"));
}

JsonLine &JsonLine::Add(const char *key, double value, int decimals)
{
    return AddRaw(key, QByteArray::number(value, 'f', decimals));
}

JsonLine &JsonLine::AddRaw(const char *key, const QByteArray &value)
{
    if (!members.isEmpty())
        members += ',';
    members += Quote(QLatin1String(key)) + ':' + value;
    return *this;
}

QByteArray JsonLine::Text() const
{
    return '{' + members + "}\n";
}

QByteArray JsonLine::Quote(const QString &text)
{
    QByteArray quoted("\"");
    // Runs of plain text are converted whole, so a surrogate pair stays one
    // character in UTF-8.
    int runStart = 0;
    for (int index = 0; index < text.size(); ++index) {
        const ushort unit = text.at(index).unicode();
        const QByteArray escape = Escape(unit);
        if (escape.isEmpty())
            continue;
        quoted += text.mid(runStart, index - runStart).toUtf8() + escape;
        runStart = index + 1;
    }
    return quoted + text.mid(runStart).toUtf8() + '"';
}

QByteArray JsonLine::Escape(ushort unit)
{
    switch (unit) {
    case '"':
        return "\\\"";
    case '\\':
        return "\\\\";
    case '\n':
        return "\\n";
    case '\r':
        return "\\r";
    case '\t':
        return "\\t";
    default:
        break;
    }
    // C0, DEL, C1, and the two separators that end a line in JavaScript.
    if (unit < 0x20 || (unit >= 0x7F && unit <= 0x9F) || unit == 0x2028 || unit == 0x2029)
        return "\\u" + QByteArray::number(unit, 16).rightJustified(4, '0');
    return QByteArray();
}
