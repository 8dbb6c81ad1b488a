#include "eventstream.h"

#include "camerajob.h"
#include "cameraupdate.h"
#include "console.h"
#include "exportform.h"
#include "fleetrun.h"
#include "imagesnapshot.h"
#include "jsonline.h"
#include "statusreport.h"

EventStream::EventStream(QObject *parent)
    : QObject(parent)
{
}

void EventStream::Follow(FleetRun *run)
{
    connect(run, &FleetRun::jobStarted, this, &EventStream::JobStarted);
    connect(run, &FleetRun::jobFinished, this,
        [](CameraJob *, const CameraResult &result) { WriteFinal(result); });
}

void EventStream::JobStarted(CameraJob *job)
{
    connect(job, &CameraJob::phaseChanged, this, [job] {
        Console::OutProgress(JsonLine()
                                 .Add("ip", job->Ip())
                                 .Add("event", QStringLiteral("phase"))
                                 .Add("phase", job->PhaseKey())
                                 .Text());
    });
    auto *update = qobject_cast<CameraUpdate *>(job);
    if (!update)
        return;
    connect(update, &CameraUpdate::chunkSent, this, [update](qint64 bytes, qint64 size) {
        Console::OutProgress(JsonLine()
                                 .Add("ip", update->Ip())
                                 .Add("event", QStringLiteral("sent"))
                                 .Add("bytes", bytes)
                                 .Add("size", size)
                                 .Text());
    });
    connect(update, &CameraUpdate::reportReceived, this, [update](const StatusReport &report) {
        Console::OutProgress(ReportLine(update->Ip(), report));
    });
}

QByteArray EventStream::ReportLine(const QString &ip, const StatusReport &report)
{
    JsonLine line;
    line.Add("ip", ip).Add("event", QStringLiteral("report"));
    if (!report.readable) {
        line.Add("error", report.parseError);
    } else {
        line.Add("type", report.type)
            .Add("errorcode", report.errorCode)
            .Add("progress", report.progress)
            .Add("message", report.message);
    }
    return line.Text();
}

void EventStream::WriteFinal(const CameraResult &result)
{
    Console::Out(FinalLine(result));
}

void EventStream::WritePlanned(const QString &ip, const QString &mac, const QString &type)
{
    JsonLine line;
    line.Add("ip", ip).Add("event", QStringLiteral("planned"));
    Console::Out(AddIdentity(line, mac, type).Text());
}

void EventStream::WriteImage(const ImageSnapshot &image, const QString &typeRule)
{
    Console::Out(ExportForm::ImageLine(image, typeRule));
}

QByteArray EventStream::FinalLine(const CameraResult &result)
{
    return ExportForm::FinalLine(result);
}

// A camera the search did not find has neither.
JsonLine &EventStream::AddIdentity(JsonLine &line, const QString &mac, const QString &type)
{
    if (!mac.isEmpty())
        line.Add("mac", mac).Add("type", type);
    return line;
}
