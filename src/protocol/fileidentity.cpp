#include "fileidentity.h"

#include <QFile>

#include <sys/stat.h>

FileIdentity FileIdentity::OfPath(const QString &path)
{
    struct stat status;
    if (::stat(QFile::encodeName(path).constData(), &status) != 0)
        return {};
    return FromStatus(status);
}

FileIdentity FileIdentity::OfDescriptor(int descriptor)
{
    struct stat status;
    if (::fstat(descriptor, &status) != 0)
        return {};
    return FromStatus(status);
}

FileIdentity FileIdentity::FromStatus(const struct stat &status)
{
    FileIdentity identity;
    identity.valid = true;
    identity.device = quint64(status.st_dev);
    identity.inode = quint64(status.st_ino);
    identity.size = qint64(status.st_size);
    identity.modifiedNs = qint64(status.st_mtim.tv_sec) * 1000000000 + status.st_mtim.tv_nsec;
    return identity;
}

bool FileIdentity::operator==(const FileIdentity &other) const
{
    return valid && other.valid && device == other.device && inode == other.inode
        && size == other.size && modifiedNs == other.modifiedNs;
}
