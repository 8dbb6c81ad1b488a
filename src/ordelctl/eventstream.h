#ifndef EVENTSTREAM_H
#define EVENTSTREAM_H

#include "cameraresult.h"

#include <QByteArray>
#include <QObject>

class CameraJob;
class FleetRun;
class JsonLine;
class ImageSnapshot;
struct StatusReport;

// The run as JSON lines on standard output, for scripts: every phase change,
// every chunk that has left and every report of every camera as it happens,
// and one final object per camera as it ends. A script tells them apart by
// their keys: a final object has "result", an event has "event". A reader
// that falls far behind misses live events, never the image or a final.
class EventStream : public QObject
{
    Q_OBJECT
public:
    explicit EventStream(QObject *parent = nullptr);

    void Follow(FleetRun *run);
    // For a camera that is not part of the run, such as one skipped.
    static void WriteFinal(const CameraResult &result);
    // A camera the run will give a result, before any camera is touched.
    static void WritePlanned(const QString &ip, const QString &mac, const QString &type);
    // The image of an update, before any camera's event, and the type of
    // camera it is for: a later --retry shows whether it is given the same
    // image, and sends it to no other type.
    static void WriteImage(const ImageSnapshot &image, const QString &typeRule);
    static QByteArray FinalLine(const CameraResult &result);
    // A camera's report as its event line: what the camera sent, or why it
    // could not be read.
    static QByteArray ReportLine(const QString &ip, const StatusReport &report);

private:
    void JobStarted(CameraJob *job);
    static JsonLine &AddIdentity(JsonLine &line, const QString &mac, const QString &type);
};

#endif // EVENTSTREAM_H
