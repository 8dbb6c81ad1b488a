#include "updatequeue.h"

#include "form_workthread.h"

#include <QList>
#include <QPointer>

#include <algorithm>

namespace {

struct Place
{
    QPointer<Form_WorkThread> update;
    bool ready = false;
};

// A window that goes away takes its relay with it, which clears its place.
QList<Place> line;
QPointer<Form_WorkThread> running;

} // namespace

void UpdateQueue::Join(Form_WorkThread *update)
{
    line.append({ update, false });
}

bool UpdateQueue::Ready(Form_WorkThread *update)
{
    for (Place &place : line) {
        if (place.update == update)
            place.ready = true;
    }
    StartNext();
    return running == update;
}

void UpdateQueue::Leave(Form_WorkThread *update)
{
    line.erase(std::remove_if(line.begin(), line.end(),
                   [update](const Place &place) { return place.update == update; }),
        line.end());
    if (running == update)
        running.clear();
    StartNext();
}

// The relay's signal is queued: the steps begin from the event loop, never
// inside the caller, which may be the previous update's last step.
void UpdateQueue::StartNext()
{
    if (running)
        return;
    while (!line.isEmpty() && !line.first().update)
        line.removeFirst();
    if (line.isEmpty() || !line.first().ready)
        return;
    running = line.takeFirst().update;
    running->Start_Camera_Updating();
}
