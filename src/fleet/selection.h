#ifndef SELECTION_H
#define SELECTION_H

#include <QString>

#include <optional>

// Which of the cameras found or named an update touches, and in which order.
struct Selection
{
    // Every camera that answers the search, rather than those named.
    bool all = false;
    // With all, only cameras of this type.
    std::optional<QString> type;
    bool anyType = false;
    // Cameras on this firmware version are skipped.
    std::optional<QString> skipFw;
    // This many cameras first, the others only if all of them succeeded.
    int canary = 0;
};

#endif // SELECTION_H
