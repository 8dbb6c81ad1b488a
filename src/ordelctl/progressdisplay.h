#ifndef PROGRESSDISPLAY_H
#define PROGRESSDISPLAY_H

#include "cameraresult.h"

#include <QObject>
#include <QTimer>

class CameraJob;
class FleetRun;

// What a run is doing, on standard error. On a terminal a block of lines is
// redrawn in place, one per camera in flight and a total, with each ended
// camera's result printed above it for good. Elsewhere, as in a log, one
// plain line per phase change and one per result.
class ProgressDisplay : public QObject
{
    Q_OBJECT
public:
    explicit ProgressDisplay(bool live, QObject *parent = nullptr);

    void Follow(FleetRun *run);
    // Takes the live block off the terminal.
    void End();

private slots:
    void Redraw();

private:
    void JobStarted(CameraJob *job);
    void JobFinished(CameraJob *job, const CameraResult &result);
    void PrintAbove(const QString &line);
    QString Block() const;
    QString Total() const;
    QString Erase() const;

    bool live;
    FleetRun *run = nullptr;
    QTimer redrawTimer;
    int drawnLines = 0;
    QString drawnBlock;
};

#endif // PROGRESSDISPLAY_H
