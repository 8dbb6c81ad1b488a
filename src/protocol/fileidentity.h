#ifndef FILEIDENTITY_H
#define FILEIDENTITY_H

#include <QString>

struct stat;

// Which file a path or descriptor names, and in what state, without reading
// it: its device and inode, its size and its modification time in ns. A file
// rebuilt in place keeps its inode and often its size (a padded image always
// does), but writing it moves its modification time; one put in its place by
// a rename is another inode. An identity that could not be taken (the path
// is gone) matches none, itself included.
class FileIdentity
{
public:
    FileIdentity() = default;

    static FileIdentity OfPath(const QString &path);
    static FileIdentity OfDescriptor(int descriptor);

    bool IsValid() const { return valid; }
    // -1 when not valid.
    qint64 Size() const { return size; }

    bool operator==(const FileIdentity &other) const;
    bool operator!=(const FileIdentity &other) const { return !(*this == other); }

private:
    static FileIdentity FromStatus(const struct stat &status);

    bool valid = false;
    quint64 device = 0;
    quint64 inode = 0;
    qint64 size = -1;
    qint64 modifiedNs = 0;
};

#endif // FILEIDENTITY_H
