#include "exportform.h"

#include "csvtext.h"
#include "imagesnapshot.h"
#include "jsonline.h"

QByteArray ExportForm::FinalLine(const CameraResult &result)
{
    JsonLine line;
    line.Add("ip", result.ip)
        .Add("result", CameraResult::OutcomeName(result.outcome))
        .Add("message", result.message)
        .Add("seconds", result.seconds, 1)
        .AddFlag("verified", result.verified);
    // A camera the search did not find has neither.
    if (!result.mac.isEmpty())
        line.Add("mac", result.mac).Add("type", result.type);
    return line.Text();
}

QByteArray ExportForm::ImageLine(const ImageSnapshot &image, const QString &typeRule)
{
    JsonLine line;
    line.Add("event", QStringLiteral("image"))
        .Add("file", image.Name())
        .Add("size", image.Size())
        .Add("md5", QString::fromLatin1(image.Md5Hex()));
    if (!typeRule.isEmpty())
        line.Add("type", typeRule);
    return line.Text();
}

QByteArray ExportForm::RunJson(const QByteArray &imageLine, const QList<CameraResult> &results)
{
    QByteArray text = imageLine;
    for (const CameraResult &result : results)
        text += FinalLine(result);
    return text;
}

QByteArray ExportForm::CameraLine(const CameraRecord &camera)
{
    const QStringList fields = camera.Fields();
    const QStringList keys = CameraRecord::Keys();
    JsonLine line;
    for (int index = 0; index < fields.size(); ++index)
        line.Add(qPrintable(keys.at(index)), fields.at(index));
    return line.Text();
}

QByteArray ExportForm::SearchCsv(const QList<CameraRecord> &cameras)
{
    QString text = CsvText::Record(CameraRecord::Keys());
    for (const CameraRecord &camera : cameras)
        text += CsvText::Record(camera.Fields());
    return text.toUtf8();
}

QByteArray ExportForm::SearchJson(const QList<CameraRecord> &cameras)
{
    QByteArray text;
    for (const CameraRecord &camera : cameras)
        text += CameraLine(camera);
    return text;
}
