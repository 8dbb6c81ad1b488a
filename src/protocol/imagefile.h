#ifndef IMAGEFILE_H
#define IMAGEFILE_H

#include "fileidentity.h"

#include <QByteArray>
#include <QFile>
#include <QString>

// A firmware image as one update takes it: opened once, its identity taken
// then, and every later read held to it. What is announced (the size and the
// digest of exactly that many bytes) and what is sent then come from the same
// open file, whatever happens to the path meanwhile: removed, or replaced by
// a rename, it is still read as it was. Written to meanwhile, whether it
// shrank, grew or kept its size (a padded image rebuilt in place), it fails
// the update instead of sending other bytes than announced. A path that is
// not a regular file (a FIFO, or a link to /dev/zero, which would never end)
// is refused without blocking.
class ImageFile
{
public:
    ImageFile() = default;
    ImageFile(const ImageFile &) = delete;
    ImageFile &operator=(const ImageFile &) = delete;

    // False, with ErrorString(), unless path is a regular file that can be read.
    bool Open(const QString &path);
    void Close();
    bool IsOpen() const;
    QString ErrorString() const { return error; }

    QString Path() const { return path; }
    // Without any directory part.
    QString Name() const;
    qint64 Size() const { return size; }

    // Back to the first byte.
    bool Rewind();
    // Reads on to at most maxLength bytes: the number read, 0 once Size()
    // bytes have been read, -1 when the file is no longer as it was opened
    // or cannot be read.
    qint64 Read(char *data, qint64 maxLength);
    // Everything not read yet, in one piece, for a small file read whole:
    // false when the file is no longer as it was opened.
    bool ReadRest(QByteArray *bytes);
    // False, with ErrorString(), once the open file is no longer as it was
    // at Open: another size, or written to since.
    bool Unchanged();

private:
    bool Refuse(const QString &reason);

    QFile file;
    QString path;
    FileIdentity opened;
    qint64 size = 0;
    qint64 position = 0;
    QString error;
};

#endif // IMAGEFILE_H
