#ifndef OPTIONVALUES_H
#define OPTIONVALUES_H

#include <QByteArray>
#include <QList>

// How the simulator reads its options' values: "name" or "name=value" items,
// alone or in comma-separated lists, and whole numbers within bounds.
namespace OptionValues {

struct Item
{
    QByteArray text;
    QByteArray name;
    QByteArray value;
    bool hasValue = false;
};

Item splitItem(const QByteArray &text);
// Every item of the list, empty ones included.
QList<Item> splitList(const QByteArray &list);

// False, leaving number as it was, unless text is a whole number from min to
// max.
bool readNumber(const QByteArray &text, qint64 min, qint64 max, qint64 *number);
bool readNumber(const QByteArray &text, int min, int max, int *number);

} // namespace OptionValues

#endif // OPTIONVALUES_H
