#ifndef UPDATEQUEUE_H
#define UPDATEQUEUE_H

#include <QString>

#include <functional>

class Form_WorkThread;

// Update windows take turns with the steps of their updates. Every step waits
// in local event loops on the one GUI thread, so the steps of a second update
// would run inside the first one's waits and hold them for seconds, stalling
// its image connection. Updates line up in the order the operator confirmed
// them, and the next one's steps start once the running one's have returned.
//
// A camera also takes one update at a time: its reports carry no identity,
// and every window subscribed to its status topic hears them all, so a second
// update of the same camera begins only once the first has had its final
// report (or ended otherwise, or its window has gone). Meanwhile the second
// waits, and later updates of other cameras go ahead of it.
//
// An update is known by its window's relay, which is what starts its steps.
class UpdateQueue
{
public:
    enum class Waiting { ForTurn, ForCamera };
    // Told whenever the reason an update waits changes.
    using WaitNotice = std::function<void(Waiting)>;

    // Takes the update's place in line, at the operator's Yes; camera is the
    // address of the camera it updates.
    static void Join(Form_WorkThread *update, const QString &camera, const WaitNotice &notice);
    // The update is prepared; its steps start through the relay once it is
    // its turn, or else its window is told why it waits.
    static void Ready(Form_WorkThread *update);
    // The update's steps have returned: the next update's steps may start.
    static void StepsReturned(Form_WorkThread *update);
    // The update's camera is done with it: its final report came, or the
    // update ended without one. Another update of that camera may begin.
    static void CameraReleased(Form_WorkThread *update);
    // The update's window is going away.
    static void Leave(Form_WorkThread *update);

private:
    static void StartNext();
};

#endif // UPDATEQUEUE_H
