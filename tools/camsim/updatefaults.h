#ifndef UPDATEFAULTS_H
#define UPDATEFAULTS_H

#include "optionvalues.h"

#include <QString>

// Ways the simulated camera's firmware update can misbehave, so the tests can
// see how the tool copes with each. Any number may be combined.
struct UpdateFaults
{
    bool noListener = false;
    int listenAfterMs = 0;
    qint64 dropAfterBytes = -1;
    // Closes the image connection itself once it holds the announced size.
    bool closeWhenComplete = false;
    int slowBytesPerSecond = 0;
    // How long the camera flashes an image before its final report.
    int flashMs = 0;
    bool statusNotJson = false;
    bool statusArray = false;
    bool progressNumber = false;
    bool errorReport = false;
    int statusFloodCount = 0;
    // Takes the image but never reports on it: a camera that hangs while it
    // flashes.
    bool silent = false;
    // Reports a completed update as soon as the request comes, before any
    // image: the late report of an earlier update.
    bool staleCompletion = false;
    // After a successful update the camera restarts as usual but comes back
    // on the firmware it had: the new image did not take.
    bool backOnOld = false;
    // After a successful update the camera goes quiet and never answers a
    // probe again: it did not survive its restart.
    bool neverBack = false;
    // After its success report the camera stays up, answering on the firmware
    // it had, this long before it restarts.
    int upAfterMs = 0;
    // The camera comes back from its restart at this address, as DHCP may
    // hand it another; 0 for its own.
    quint32 backAtIpv4 = 0;

    // Adds the faults of a comma-separated list such as "slow=2000,status-array".
    bool add(const QByteArray &list, QString *error);

private:
    bool addOne(const OptionValues::Item &item);
};

#endif // UPDATEFAULTS_H
