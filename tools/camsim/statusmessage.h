#ifndef STATUSMESSAGE_H
#define STATUSMESSAGE_H

#include <QByteArray>
#include <QString>

struct UpdateFaults;

// The camera's update report as published to the tool: a compact JSON object
// of strings in the camera's key order, or one of the malformed variants the
// faults ask for.
class StatusMessage
{
public:
    enum Type { Progress = 1, Final = 2 };
    enum ErrorCode { NoError = 0, ImageCheckFailed = 1, FlashWriteFailed = 3 };

    static QByteArray encode(Type type, ErrorCode errorCode, int progress, const QString &message,
        const UpdateFaults &faults);

private:
    static QByteArray member(const char *key, const QByteArray &value);
    static QByteArray jsonString(const QString &text);
};

#endif // STATUSMESSAGE_H
