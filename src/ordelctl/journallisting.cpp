#include "journallisting.h"

#include "console.h"
#include "csvtext.h"
#include "jsonline.h"
#include "textformat.h"

JournalListing::JournalListing(OutputForm form)
    : form(form)
{
}

QString JournalListing::ResultOf(const Journal::CameraRow &camera)
{
    return camera.result.isEmpty() ? QStringLiteral("unfinished") : camera.result;
}

int JournalListing::Count(const Journal::Run &run, const QString &result)
{
    for (const auto &[word, count] : run.counts) {
        if (word == result)
            return count;
    }
    return 0;
}

void JournalListing::Runs(const QList<Journal::Run> &runs) const
{
    // Every result its column, so that they add up to the cameras; the ones
    // added later come last, where a script reading CSV by position does not
    // look.
    const QStringList results { QStringLiteral("succeeded"), QStringLiteral("failed"),
        QStringLiteral("skipped"), QStringLiteral("unfinished"), QStringLiteral("sent"),
        QStringLiteral("interrupted"), QStringLiteral("not started"), QStringLiteral("missing") };
    QStringList keys { "run", "started", "ended", "command", "image", "md5", "fw_version",
        "cameras" };
    QStringList headings { "Run", "Started", "Ended", "Command", "Image", "MD5", "FW version",
        "Cameras" };
    for (const QString &result : results) {
        keys.append(QString(result).replace(QLatin1Char(' '), QLatin1Char('_')));
        headings.append(result.at(0).toUpper() + result.mid(1));
    }
    keys.append(QStringLiteral("resumes"));
    headings.append(QStringLiteral("Resumes"));
    QList<QStringList> rows;
    for (const Journal::Run &run : runs) {
        QStringList row { QString::number(run.id), run.started, run.ended, run.command,
            run.imagePath, run.imageMd5, run.fwVersion, QString::number(run.cameras) };
        for (const QString &result : results)
            row.append(QString::number(Count(run, result)));
        row.append(run.resumes > 0 ? QString::number(run.resumes) : QString());
        rows.append(row);
    }
    Write(keys, "nsosssonnnnnnnnnm", headings, rows);
}

void JournalListing::Cameras(const QList<Journal::CameraRow> &cameras) const
{
    QList<QStringList> rows;
    for (const Journal::CameraRow &camera : cameras) {
        rows.append({ QString::number(camera.run), camera.ip, camera.mac, ResultOf(camera),
            camera.verified ? QStringLiteral("true") : QStringLiteral("false"), camera.fwBefore,
            camera.message, QString::number(camera.seconds, 'f', 1), camera.ended });
    }
    Write({ "run", "ip", "mac", "result", "verified", "fw_before", "message", "seconds", "ended" },
        "nsssbssno",
        { "Run", "Camera", "MAC", "Result", "Verified", "FW before", "Reason", "Seconds", "Ended" },
        rows);
}

void JournalListing::Inventory(const QList<Journal::InventoryRow> &cameras) const
{
    QList<QStringList> rows;
    for (const Journal::InventoryRow &row : cameras) {
        const CameraRecord &camera = row.camera;
        rows.append({ camera.mac, camera.ip, camera.sn, camera.name, camera.type, camera.os,
            camera.fw, row.firstSeen, row.lastSeen, row.lastResult, row.lastUpdate });
    }
    Write({ "mac", "ip", "sn", "name", "type", "os", "fw", "first_seen", "last_seen", "last_result",
              "last_update" },
        "sssssssssoo",
        { "MAC", "IP", "SN", "Name", "Type", "OS", "FW", "First seen", "Last seen", "Last result",
            "Last update" },
        rows);
}

void JournalListing::Write(const QStringList &keys, const QByteArray &kinds,
    const QStringList &headings, const QList<QStringList> &rows) const
{
    switch (form) {
    case OutputForm::Json:
        for (const QStringList &row : rows) {
            JsonLine line;
            for (int index = 0; index < keys.size(); ++index) {
                const QByteArray key = keys.at(index).toLatin1();
                const QString &value = row.at(index);
                if ((kinds.at(index) == 'o' || kinds.at(index) == 'm') && value.isEmpty())
                    line.AddNull(key.constData());
                else if (kinds.at(index) == 'n' || kinds.at(index) == 'm')
                    line.Add(key.constData(), value.toDouble(), value.contains('.') ? 1 : 0);
                else if (kinds.at(index) == 'b')
                    line.AddFlag(key.constData(), value == QLatin1String("true"));
                else
                    line.Add(key.constData(), value);
            }
            Console::Out(line.Text());
        }
        return;
    case OutputForm::Csv:
        Console::Out(CsvText::Record(keys));
        for (const QStringList &row : rows)
            Console::Out(CsvText::Record(row));
        return;
    case OutputForm::Text:
        if (rows.isEmpty())
            Console::Error(QStringLiteral("The journal has nothing to show.\n"));
        else
            Console::Out(TextFormat::Table(headings, rows, Console::OutWidth()));
        return;
    }
}
