#include "eventlog.h"

#include <QJsonDocument>

#include <cstdio>

EventLog::EventLog()
{
    m_clock.start();
}

bool EventLog::open(const QString &path, QString *error)
{
    bool opened = false;
    if (path.isEmpty()) {
        opened = m_file.open(stderr, QIODevice::WriteOnly | QIODevice::Unbuffered);
    } else {
        m_file.setFileName(path);
        opened = m_file.open(QIODevice::WriteOnly | QIODevice::Truncate);
    }
    if (!opened)
        *error = QStringLiteral("cannot open log %1: %2").arg(path, m_file.errorString());
    return opened;
}

void EventLog::write(const QString &event, QJsonObject fields)
{
    fields.insert(QStringLiteral("t"), m_clock.elapsed());
    fields.insert(QStringLiteral("event"), event);
    m_file.write(QJsonDocument(fields).toJson(QJsonDocument::Compact) + '\n');
    m_file.flush();
}
