#ifndef STATUSREPORT_H
#define STATUSREPORT_H

#include <QByteArray>
#include <QString>

// A camera's report on its update, as the tool reads it: a JSON object of
// which four members count, each read as a string. A member that is missing
// or holds a number, a boolean or null reads as empty, so a progress sent as
// the number 100 never completes an update. Keys and values are compared
// exactly, in their letter case.
struct StatusReport
{
    static constexpr char typeKey[] = "type";
    static constexpr char errorCodeKey[] = "errorcode";
    static constexpr char progressKey[] = "progress";
    static constexpr char messageKey[] = "message";

    // The most of a report that is read and kept, whatever a camera sends:
    // a larger payload is not parsed at all and reads as unreadable, and
    // each text kept (the four members, parseError) is cut to its first
    // longestText characters with a mark appended. The window shows these
    // texts and the command line prints them, report after report.
    static constexpr int largestPayload = 64 * 1024;
    static constexpr int longestText = 1000;

    // False when the payload is not JSON at all, or larger than
    // largestPayload; parseError then says why.
    bool readable = false;
    QString parseError;
    // A JSON array is readable but carries no report.
    bool isObject = false;
    QString type;
    QString errorCode;
    QString progress;
    QString message;

    static StatusReport Read(const QByteArray &payload);

    // Types "1" and "2" are shown; any other type is ignored.
    bool IsShown() const;
    // Without an error code the progress applies, as a number.
    bool MovesProgress() const;
    int ProgressValue() const;
    // Only "2" reports the end of an update: with error code "0" and
    // progress "100" a success, with any other error code a failure.
    bool IsCompletion() const;
    bool IsFailure() const;
};

#endif // STATUSREPORT_H
