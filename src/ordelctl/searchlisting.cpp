#include "searchlisting.h"

#include "console.h"
#include "csvtext.h"
#include "exportform.h"
#include "textformat.h"

SearchListing::SearchListing(OutputForm form)
    : form(form)
{
}

void SearchListing::Begin() const
{
    if (form == OutputForm::Csv)
        Console::Out(CsvText::Record(CameraRecord::Keys()));
}

void SearchListing::Found(const CameraRecord &camera) const
{
    const QStringList fields = camera.Fields();
    switch (form) {
    case OutputForm::Json:
        Console::Out(Line(camera).Text());
        break;
    case OutputForm::Csv: {
        QStringList shown = fields;
        // CSV is data, but on a terminal a camera must not drive it.
        if (Console::OutIsTerminal()) {
            for (QString &field : shown)
                field = TextFormat::ForTerminal(field);
        }
        Console::Out(CsvText::Record(shown));
        break;
    }
    case OutputForm::Text:
        break;
    }
}

void SearchListing::End(const QList<CameraRecord> &cameras) const
{
    if (form != OutputForm::Text)
        return;
    // On a terminal the table fits its width; --csv and --json keep every
    // value whole.
    if (cameras.isEmpty())
        Console::Error(QStringLiteral("No camera answered.\n"));
    else
        Console::Out(Table(cameras, Console::OutWidth()));
}

void SearchListing::Missing(const QList<CameraRecord> &cameras, int expected) const
{
    if (form == OutputForm::Json) {
        for (const CameraRecord &camera : cameras)
            Console::Out(Line(camera).AddFlag("missing", true).Text());
    }
    Console::Error(QStringLiteral("ordelctl: %1 of %2 expected did not answer:\n")
                       .arg(TextFormat::Cameras(cameras.size()))
                       .arg(expected));
    Console::Error(Table(cameras, Console::ErrorIsTerminal() ? Console::ErrorWidth() : 0));
}

QByteArray SearchListing::Csv(const QList<CameraRecord> &cameras)
{
    return ExportForm::SearchCsv(cameras);
}

QByteArray SearchListing::Json(const QList<CameraRecord> &cameras)
{
    return ExportForm::SearchJson(cameras);
}

QString SearchListing::Table(const QList<CameraRecord> &cameras, int width)
{
    QList<QStringList> rows;
    for (const CameraRecord &camera : cameras)
        rows.append(camera.Fields());
    return TextFormat::Table(CameraRecord::Headings(), rows, width);
}

JsonLine SearchListing::Line(const CameraRecord &camera)
{
    const QStringList fields = camera.Fields();
    JsonLine line;
    for (int index = 0; index < fields.size(); ++index)
        line.Add(qPrintable(CameraRecord::Keys().at(index)), fields.at(index));
    return line;
}
