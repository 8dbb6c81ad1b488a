#include "imagesnapshot.h"

#include <QFileInfo>

#include <limits>
#include <new>

namespace {

// A QByteArray holds at most this much; firmware images are far smaller.
constexpr qint64 largestImage = std::numeric_limits<int>::max() - 4096;
// Read and digested a slice at a time from the event loop, so that Ctrl-C
// during a large image is taken within a fraction of a second.
constexpr qint64 sliceBytes = 8 * 1024 * 1024;

} // namespace

bool ImageSnapshot::Open(const QString &imagePath)
{
    path = imagePath;
    bytes.clear();
    md5Hex.clear();
    filled = 0;
    digest = std::make_unique<Md5Digest>();
    if (!file.Open(path))
        return Refuse(file.ErrorString());
    before = FileIdentity::OfPath(path);
    if (!before.IsValid())
        return Refuse(QStringLiteral("cannot tell its size and time"));
    if (file.Size() == 0)
        return Refuse(QStringLiteral("the file is empty"));
    if (file.Size() > largestImage)
        return Refuse(QStringLiteral("the file is larger than %1 bytes").arg(largestImage));

    // The one allocation of the size of the image: without the memory for it
    // the run cannot start, and says so instead of throwing out of a slot.
    try {
        bytes.resize(int(file.Size()));
    } catch (const std::bad_alloc &) {
        return Refuse(QStringLiteral("not enough memory to hold its %1 bytes").arg(file.Size()));
    }
    return true;
}

bool ImageSnapshot::ReadMore()
{
    if (Complete())
        return true;
    const qint64 wanted = qMin(sliceBytes, file.Size() - filled);
    const qint64 got = file.Read(bytes.data() + filled, wanted);
    if (got <= 0)
        return Refuse(got < 0 ? file.ErrorString() : QStringLiteral("the file ended early"));
    digest->addData(bytes.constData() + filled, got);
    filled += got;
    if (filled < file.Size())
        return true;

    file.Close();
    identity = FileIdentity::OfPath(path);
    if (identity != before)
        return Refuse(QStringLiteral("the file changed while it was read"));
    md5Hex = digest->hexResult();
    digest.reset();
    if (md5Hex.isEmpty())
        return Refuse(QStringLiteral("its MD5 digest failed"));
    error.clear();
    return true;
}

bool ImageSnapshot::Complete() const
{
    return !md5Hex.isEmpty();
}

bool ImageSnapshot::Read(const QString &imagePath)
{
    if (!Open(imagePath))
        return false;
    while (!Complete()) {
        if (!ReadMore())
            return false;
    }
    return true;
}

QString ImageSnapshot::Name() const
{
    return QFileInfo(path).fileName();
}

bool ImageSnapshot::Unchanged(QString *change) const
{
    const FileIdentity now = FileIdentity::OfPath(path);
    if (!now.IsValid()) {
        *change = QStringLiteral("the image file %1 is gone").arg(path);
        return false;
    }
    if (now == identity)
        return true;
    *change = QStringLiteral("the image file %1 changed after it was read").arg(path);
    return false;
}

bool ImageSnapshot::Refuse(const QString &reason)
{
    bytes.clear();
    md5Hex.clear();
    file.Close();
    error = reason;
    return false;
}
