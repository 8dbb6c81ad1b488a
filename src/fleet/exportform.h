#ifndef EXPORTFORM_H
#define EXPORTFORM_H

#include "camerarecord.h"
#include "cameraresult.h"

#include <QByteArray>
#include <QList>
#include <QString>

class ImageSnapshot;

// The forms a run's results and a search's cameras take as data, as values:
// each front end writes them where it likes, and RetryFile and
// ExpectedCameras read back whichever wrote them.
class ExportForm
{
public:
    // A camera's final result as one JSON line.
    static QByteArray FinalLine(const CameraResult &result);
    // The image of an update and the type it is for: a later retry shows
    // whether it is given the same image, and sends it to no other type.
    static QByteArray ImageLine(const ImageSnapshot &image, const QString &typeRule);
    // A run's whole output as --json gives it: the image line as the run
    // began (empty for a command), then each final.
    static QByteArray RunJson(const QByteArray &imageLine, const QList<CameraResult> &results);
    // A camera as a search lists it, as one JSON line.
    static QByteArray CameraLine(const CameraRecord &camera);
    // The whole listing of a search, as its CSV or its JSON lines.
    static QByteArray SearchCsv(const QList<CameraRecord> &cameras);
    static QByteArray SearchJson(const QList<CameraRecord> &cameras);
};

#endif // EXPORTFORM_H
