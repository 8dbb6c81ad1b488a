#ifndef EXPECTEDCAMERAS_H
#define EXPECTEDCAMERAS_H

#include "camerarecord.h"

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QString>

// The cameras that should answer, as an earlier search listed them with
// --csv or --json, so that a later run can tell which are gone. A camera is
// known by its MAC: its address may have changed since, and the one the file
// gives is only what to show for a camera that did not answer; but a MAC that
// several cameras share, or a placeholder, names none, and such a camera is
// known by its address.
class ExpectedCameras
{
public:
    // False, with ErrorString(), when the file cannot be read, a line of it
    // is not a camera, or it names no camera at all.
    bool Read(const QString &path);
    // The same, of the file's text.
    bool ReadText(const QByteArray &text);
    QString ErrorString() const { return error; }

    // In the order the file names them, each MAC in upper case.
    const QList<CameraRecord> &Cameras() const { return cameras; }
    // Those whose MAC no camera of found has, whatever its case; for a MAC
    // that names no camera alone, none of found at the camera's address.
    QList<CameraRecord> Missing(const QList<CameraRecord> &found) const;

private:
    bool ReadJsonLines(const QByteArray &text);
    bool ReadCsv(const QByteArray &text);
    // False, with ErrorString(), when camera, from line, has no MAC or
    // address.
    bool Add(int line, CameraRecord camera);
    bool RefuseLine(int line, const QString &why);
    bool Refuse(const QString &reason);

    QList<CameraRecord> cameras;
    // Where each address and MAC is in cameras.
    QHash<QString, int> listed;
    QString error;
};

#endif // EXPECTEDCAMERAS_H
