#include "optionvalues.h"

namespace OptionValues {

Item splitItem(const QByteArray &text)
{
    Item item;
    item.text = text;
    const int equals = text.indexOf('=');
    item.hasValue = equals >= 0;
    item.name = item.hasValue ? text.left(equals) : text;
    item.value = item.hasValue ? text.mid(equals + 1) : QByteArray();
    return item;
}

QList<Item> splitList(const QByteArray &list)
{
    QList<Item> items;
    for (const QByteArray &text : list.split(','))
        items.append(splitItem(text));
    return items;
}

bool readNumber(const QByteArray &text, qint64 min, qint64 max, qint64 *number)
{
    bool ok = false;
    const qint64 value = text.toLongLong(&ok);
    if (!ok || value < min || value > max)
        return false;
    *number = value;
    return true;
}

bool readNumber(const QByteArray &text, int min, int max, int *number)
{
    qint64 value = 0;
    if (!readNumber(text, qint64(min), qint64(max), &value))
        return false;
    *number = int(value);
    return true;
}

} // namespace OptionValues
