#ifndef LOCALWAIT_H
#define LOCALWAIT_H

// The windows' one way to wait: a local event loop that a single-shot timer
// ends, during which every event is delivered (painting, input, socket data,
// MQTT messages, queued steps). The application quitting ends every loop of
// the thread at once; the wait then reports that it was cut short, so that
// the caller stops instead of going on as if the time had passed.
class LocalWait
{
public:
    // True when the full time has passed, false when the wait was cut short.
    static bool For(int milliseconds);
};

#endif // LOCALWAIT_H
