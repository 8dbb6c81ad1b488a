#include "imagefile.h"

#include <QFileInfo>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

bool ImageFile::Open(const QString &imagePath)
{
    Close();
    path = imagePath;
    // Non-blocking, so that a FIFO does not hold the caller until a writer
    // comes; a regular file reads the same either way.
    const int descriptor
        = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (descriptor < 0)
        return Refuse(QString::fromLocal8Bit(std::strerror(errno)));
    struct stat status;
    if (::fstat(descriptor, &status) != 0 || !S_ISREG(status.st_mode)) {
        ::close(descriptor);
        return Refuse(QStringLiteral("not a regular file"));
    }
    if (!file.open(descriptor, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        ::close(descriptor);
        return Refuse(file.errorString());
    }
    opened = FileIdentity::OfDescriptor(descriptor);
    if (!opened.IsValid()) {
        file.close();
        return Refuse(QStringLiteral("cannot tell its size and time"));
    }
    size = opened.Size();
    position = 0;
    return true;
}

void ImageFile::Close()
{
    file.close();
    opened = FileIdentity();
    size = 0;
    position = 0;
    error.clear();
}

bool ImageFile::IsOpen() const
{
    return file.isOpen();
}

QString ImageFile::Name() const
{
    return path.isEmpty() ? QString() : QFileInfo(path).fileName();
}

bool ImageFile::Rewind()
{
    if (!file.isOpen() || !file.seek(0))
        return Refuse(QStringLiteral("cannot read from the start"));
    position = 0;
    return true;
}

qint64 ImageFile::Read(char *data, qint64 maxLength)
{
    if (!file.isOpen()) {
        Refuse(QStringLiteral("not open"));
        return -1;
    }
    const qint64 wanted = qMin(maxLength, size - position);
    if (wanted <= 0)
        return 0;
    const qint64 got = file.read(data, wanted);
    // Looked at after the read: a write moves the modification time before
    // it changes a byte, so any byte of a rewrite read here shows.
    if (!Unchanged())
        return -1;
    if (got != wanted) {
        Refuse(QStringLiteral("the file ended early"));
        return -1;
    }
    position += got;
    return got;
}

bool ImageFile::ReadRest(QByteArray *bytes)
{
    bytes->resize(int(size - position));
    qint64 filled = 0;
    while (filled < bytes->size()) {
        const qint64 got = Read(bytes->data() + filled, bytes->size() - filled);
        if (got <= 0)
            return false;
        filled += got;
    }
    return true;
}

bool ImageFile::Unchanged()
{
    if (!file.isOpen())
        return Refuse(QStringLiteral("not open"));
    const FileIdentity now = FileIdentity::OfDescriptor(file.handle());
    if (now == opened)
        return true;
    if (now.Size() != size)
        return Refuse(QStringLiteral("the file is now %1 bytes, not %2").arg(now.Size()).arg(size));
    return Refuse(QStringLiteral("the file was written to since it was opened"));
}

bool ImageFile::Refuse(const QString &reason)
{
    error = reason;
    return false;
}
