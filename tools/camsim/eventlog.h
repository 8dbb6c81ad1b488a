#ifndef EVENTLOG_H
#define EVENTLOG_H

#include <QElapsedTimer>
#include <QFile>
#include <QJsonObject>
#include <QString>

// What the simulator saw and did, one JSON object a line, so that a test can
// read it back while the simulator runs. Each line is flushed at once and
// carries "t", the milliseconds since the log was created on a monotonic clock.
class EventLog
{
public:
    EventLog();

    // Without a path the lines go to standard error.
    bool open(const QString &path, QString *error);
    void write(const QString &event, QJsonObject fields = QJsonObject());

private:
    QElapsedTimer clock;
    QFile file;
};

#endif // EVENTLOG_H
