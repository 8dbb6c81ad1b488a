#ifndef TURNFILE_H
#define TURNFILE_H

#include <QString>

// Names the search that holds the discovery port, so that a search kept
// waiting can say whose turn it is. The port itself is the turn: this file
// never keeps a search from running. Its holder keeps it locked with a lock
// the kernel drops when the holder ends, however it ends, so an unlocked file
// names nobody, whatever it says.
class TurnFile
{
public:
    explicit TurnFile(const QString &path = ForThisNetwork());
    ~TurnFile();
    TurnFile(const TurnFile &) = delete;
    TurnFile &operator=(const TurnFile &) = delete;

    // One file a network namespace, in the folder every user shares.
    static QString ForThisNetwork();

    // Writes this process into the file and keeps it locked until Release().
    // A file that cannot be opened, locked or written is left alone: the
    // holder then goes unnamed, and nothing else changes.
    void Claim();
    void Release();

    // "process N (program)" for a live process that holds the file locked;
    // empty for anything else.
    QString Holder() const;

private:
    int Lock() const;

    QString path;
    int descriptor = -1;
};

#endif // TURNFILE_H
