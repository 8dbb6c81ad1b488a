#ifndef JOURNALLISTING_H
#define JOURNALLISTING_H

#include "journal.h"
#include "outputform.h"

#include <QList>
#include <QStringList>

// What the journal remembers, on standard output in the form asked for: the
// runs, newest first; one run's cameras or one camera's results; every
// camera ever listed. As JSON one object a line, as CSV a header and one
// record a line (formula-safe, as the search's), as text a table.
class JournalListing
{
public:
    explicit JournalListing(OutputForm form);

    void Runs(const QList<Journal::Run> &runs) const;
    void Cameras(const QList<Journal::CameraRow> &cameras) const;
    void Inventory(const QList<Journal::InventoryRow> &cameras) const;

    // A camera without a final result: its run died, or still runs.
    static QString ResultOf(const Journal::CameraRow &camera);
    // How many cameras of the run ended with the result given.
    static int Count(const Journal::Run &run, const QString &result);

private:
    // Each row's values as text, in the order of keys; kinds says how each
    // goes into JSON: s a string, n a number, b true or false, o a string or
    // null when empty, m a number or null when empty.
    void Write(const QStringList &keys, const QByteArray &kinds, const QStringList &headings,
        const QList<QStringList> &rows) const;

    OutputForm form;
};

#endif // JOURNALLISTING_H
