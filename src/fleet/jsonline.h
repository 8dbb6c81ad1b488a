#ifndef JSONLINE_H
#define JSONLINE_H

#include <QByteArray>
#include <QString>

// One JSON object on one line, its members in the order they are added, so
// that a reader sees "ip" first as the documentation shows it. Every string is
// escaped down to the C0 and C1 control characters: a camera's name or
// message stays data in a script and cannot drive a terminal the lines are
// shown on.
class JsonLine
{
public:
    JsonLine &Add(const char *key, const QString &value);
    JsonLine &Add(const char *key, qint64 value);
    // true or false; named apart, as a bool would pass for a number.
    JsonLine &AddFlag(const char *key, bool value);
    // null: a value that does not exist, such as the end of a run that never
    // ended.
    JsonLine &AddNull(const char *key);
    // A number with that many decimals.
    JsonLine &Add(const char *key, double value, int decimals);

    // The object and a line feed.
    QByteArray Text() const;

    static QByteArray Quote(const QString &text);

private:
    // The escape of one UTF-16 unit, empty when it goes as it is.
    static QByteArray Escape(ushort unit);
    JsonLine &AddRaw(const char *key, const QByteArray &value);

    QByteArray members;
};

#endif // JSONLINE_H
