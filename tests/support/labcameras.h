#ifndef LABCAMERAS_H
#define LABCAMERAS_H

#include <QList>
#include <QStringList>

class LabCamera;

// The simulated cameras of one lab test function. Each is started in its own
// camera namespace of the virtual LAN and stopped at clear(), which a test
// calls from its cleanup().
class LabCameras
{
public:
    LabCameras() = default;
    ~LabCameras();
    LabCameras(const LabCameras &) = delete;
    LabCameras &operator=(const LabCameras &) = delete;

    // Camera index (1-based) with camsim's arguments after --bind and --log.
    // A camera that did not come up is returned all the same, not running,
    // with a warning that says why.
    LabCamera *start(int index, const QStringList &camsimArgs);
    // The arguments of a camera that takes firmware updates over its own
    // broker, with the given update faults.
    static QStringList updating(const QStringList &faults = {});

    // Stops one camera early, as if it were switched off.
    void remove(LabCamera *camera);
    void clear();
    const QList<LabCamera *> &all() const { return cameras; }

private:
    QList<LabCamera *> cameras;
};

#endif // LABCAMERAS_H
