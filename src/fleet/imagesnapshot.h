#ifndef IMAGESNAPSHOT_H
#define IMAGESNAPSHOT_H

#include "fileidentity.h"
#include "imagefile.h"
#include "md5digest.h"

#include <QByteArray>
#include <QString>

#include <memory>

// A firmware image read and digested once, for every camera of a run: each
// camera is sent its bytes from this one copy in memory, so all of them get
// exactly the bytes that were announced, whatever happens to the file. The
// file itself is still watched: an operator who replaces it during a run means
// another image, and the cameras not yet sent then fail instead of getting
// the old one.
class ImageSnapshot
{
public:
    // False, with ErrorString(), unless path is a readable, non-empty regular
    // file that stayed the same while it was read.
    bool Read(const QString &path);
    // The same in steps: Open() checks the file and makes room for it, and
    // each ReadMore() reads and digests the next slice, until Complete().
    // False, with ErrorString(), as Read().
    bool Open(const QString &path);
    bool ReadMore();
    bool Complete() const;
    QString ErrorString() const { return error; }

    QString Path() const { return path; }
    // Without any directory part: the name a camera is told.
    QString Name() const;
    qint64 Size() const { return bytes.size(); }
    QByteArray Md5Hex() const { return md5Hex; }
    const char *Data() const { return bytes.constData(); }

    // False, saying how, once the path no longer names the file that was
    // read: another file, another size or another modification time.
    bool Unchanged(QString *change) const;

private:
    bool Refuse(const QString &reason);

    QString path;
    ImageFile file;
    std::unique_ptr<Md5Digest> digest;
    qint64 filled = 0;
    FileIdentity before;
    QByteArray bytes;
    QByteArray md5Hex;
    FileIdentity identity;
    QString error;
};

#endif // IMAGESNAPSHOT_H
