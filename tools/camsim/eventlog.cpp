#include "eventlog.h"

#include <QJsonDocument>

#include <cstdio>

EventLog::EventLog()
{
    clock.start();
}

bool EventLog::open(const QString &path, QString *error)
{
    bool opened = false;
    if (path.isEmpty()) {
        opened = file.open(stderr, QIODevice::WriteOnly | QIODevice::Unbuffered);
    } else {
        file.setFileName(path);
        opened = file.open(QIODevice::WriteOnly | QIODevice::Truncate);
    }
    if (!opened)
        *error = QStringLiteral("cannot open log %1: %2").arg(path, file.errorString());
    return opened;
}

void EventLog::write(const QString &event, QJsonObject fields)
{
    fields.insert(QStringLiteral("t"), clock.elapsed());
    fields.insert(QStringLiteral("event"), event);
    file.write(QJsonDocument(fields).toJson(QJsonDocument::Compact) + '\n');
    file.flush();
}
