#ifndef RETRYFILE_H
#define RETRYFILE_H

#include "camerarecord.h"

#include <QList>
#include <QString>
#include <QStringList>

// A previous run's --json output, read for the cameras to try again: each
// camera's last line counts, and those that failed, were interrupted or were
// not started are the ones to update, as are those the run planned and never
// gave a result, because it was killed first. Cameras that succeeded or were
// skipped are left alone. A camera is known by its MAC where the file gives
// one that names it alone, so that a camera missing from an address since
// given to another stays missing until it answers itself; cameras that share
// one MAC stay as many cameras as addresses.
class RetryFile
{
public:
    // False, with ErrorString(), when the file cannot be read or holds no
    // camera's result at all.
    bool Read(const QString &path);
    // The same, of the file's text.
    bool ReadText(const QByteArray &text);
    QString ErrorString() const { return error; }

    // The cameras to update again, in the order the file names them first:
    // the address each was last seen at, and its MAC and type where known.
    const QList<CameraRecord> &ToRetry() const { return toRetry; }
    QStringList Addresses() const;
    // How many cameras the file has a result for.
    int Cameras() const { return cameras; }
    // The image that run announced, empty when the file does not say.
    QString EarlierMd5() const { return earlierMd5; }
    // The type of camera that image was for, empty when the file does not
    // say or any type would do.
    QString EarlierType() const { return earlierType; }

private:
    bool Refuse(const QString &reason);

    QList<CameraRecord> toRetry;
    int cameras = 0;
    QString earlierMd5;
    QString earlierType;
    QString error;
};

#endif // RETRYFILE_H
