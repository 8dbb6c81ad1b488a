#include "labcameras.h"

#include "labcamera.h"

#include <QDebug>

LabCameras::~LabCameras()
{
    clear();
}

LabCamera *LabCameras::start(int index, const QStringList &camsimArgs)
{
    auto *camera = new LabCamera(index, camsimArgs);
    cameras.append(camera);
    if (!camera->start())
        qWarning().noquote() << "camera" << index << "did not start:" << camera->errorString();
    return camera;
}

QStringList LabCameras::updating(const QStringList &faults)
{
    QStringList arguments { QStringLiteral("--broker"), QStringLiteral("--update") };
    if (!faults.isEmpty())
        arguments << QStringLiteral("--update-fault") << faults.join(QLatin1Char(','));
    return arguments;
}

void LabCameras::remove(LabCamera *camera)
{
    cameras.removeOne(camera);
    delete camera;
}

void LabCameras::clear()
{
    qDeleteAll(cameras);
    cameras.clear();
}
