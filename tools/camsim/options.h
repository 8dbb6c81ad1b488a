#ifndef OPTIONS_H
#define OPTIONS_H

#include "cameraidentity.h"
#include "updatefaults.h"

#include <QByteArrayList>
#include <QHostAddress>
#include <QList>
#include <QString>

// The simulator's command line. Arguments are taken as raw bytes so camera
// fields reach the frames exactly as given, whatever the locale.
struct Options
{
    QHostAddress bindAddress;
    QString logPath;
    bool broker = false;
    bool http = false;
    bool update = false;
    bool help = false;
    UpdateFaults updateFaults;
    QList<CameraIdentity> cameras;
    int generatedCount = 0;
    int generatedFirst = 1;
    int floodCount = 0;
    // How long the updated camera stays silent while it restarts after a
    // successful update, and the version it comes back on (empty: the one in
    // the image's file name, or else the one it had).
    int restartMs = 0;
    QByteArray installs;

    bool parse(const QByteArrayList &arguments, QString *error);
    static QString usage();
    // The camera that takes the updates: the first listed at the bind
    // address, -1 when none is.
    int updatedCameraIndex() const;

private:
    bool takeOption(const QByteArray &name, const QByteArray &value, QString *error);
    bool resolveCameras(QString *error);
    bool checkCombination(QString *error) const;
    static bool needsValue(const QByteArray &name);

    QByteArrayList cameraFields;
};

#endif // OPTIONS_H
