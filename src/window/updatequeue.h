#ifndef UPDATEQUEUE_H
#define UPDATEQUEUE_H

class Form_WorkThread;

// Update windows take turns with the steps of their updates. Every step waits
// in local event loops on the one GUI thread, so the steps of a second update
// would run inside the first one's waits and hold them for seconds, stalling
// its image connection. Updates line up in the order the operator confirmed
// them, and the next one's steps start once the running one's have returned.
// An update is known by its window's relay, which is what starts its steps.
class UpdateQueue
{
public:
    // Takes the update's place in line, at the operator's Yes.
    static void Join(Form_WorkThread *update);
    // The update is prepared; its steps start through the relay once it is
    // first in line. True when they started at once.
    static bool Ready(Form_WorkThread *update);
    // The update's steps have returned, or its window is going away.
    static void Leave(Form_WorkThread *update);

private:
    static void StartNext();
};

#endif // UPDATEQUEUE_H
