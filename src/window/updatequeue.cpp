#include "updatequeue.h"

#include "form_workthread.h"

#include <QList>
#include <QPointer>

#include <algorithm>

namespace {

struct Place
{
    QPointer<Form_WorkThread> update;
    QString camera;
    UpdateQueue::WaitNotice notice;
    bool ready = false;
    bool told = false;
    UpdateQueue::Waiting waiting = UpdateQueue::Waiting::ForTurn;
};

// Updates waiting for their steps to start, in the order of their Yes.
QList<Place> line;
// Updates that hold their camera, in the order of their Yes: from the Yes
// until the camera is done with them.
struct Hold
{
    QPointer<Form_WorkThread> update;
    QString camera;
};
QList<Hold> holds;
QPointer<Form_WorkThread> running;

// Whether an earlier update still holds the camera.
bool cameraTaken(const Place &place)
{
    for (const Hold &hold : qAsConst(holds)) {
        if (hold.update && hold.camera == place.camera)
            return hold.update != place.update;
    }
    return false;
}

template <typename List> void forget(List &list, Form_WorkThread *update)
{
    list.erase(std::remove_if(list.begin(), list.end(),
                   [update](const auto &entry) { return !entry.update || entry.update == update; }),
        list.end());
}

} // namespace

void UpdateQueue::Join(Form_WorkThread *update, const QString &camera, const WaitNotice &notice)
{
    forget(line, update);
    forget(holds, update);
    line.append({ update, camera, notice });
    holds.append({ update, camera });
}

void UpdateQueue::Ready(Form_WorkThread *update)
{
    for (Place &place : line) {
        if (place.update == update)
            place.ready = true;
    }
    StartNext();
}

void UpdateQueue::StepsReturned(Form_WorkThread *update)
{
    if (running == update)
        running.clear();
    StartNext();
}

void UpdateQueue::CameraReleased(Form_WorkThread *update)
{
    forget(holds, update);
    StartNext();
}

void UpdateQueue::Leave(Form_WorkThread *update)
{
    forget(line, update);
    forget(holds, update);
    if (running == update)
        running.clear();
    StartNext();
}

// The relay's signal is queued: the steps begin from the event loop, never
// inside the caller, which may be the previous update's last step.
void UpdateQueue::StartNext()
{
    forget(line, nullptr);
    for (int i = 0; i < line.size(); ++i) {
        Place &place = line[i];
        if (!place.ready)
            continue;
        const Waiting waiting = cameraTaken(place) ? Waiting::ForCamera : Waiting::ForTurn;
        if (waiting == Waiting::ForTurn && !running) {
            running = line.takeAt(i).update;
            running->Start_Camera_Updating();
            // Those behind may wait for another reason now.
            StartNext();
            return;
        }
        if (!place.told || place.waiting != waiting) {
            place.told = true;
            place.waiting = waiting;
            // A copy: the window told may change the line.
            const WaitNotice notice = place.notice;
            notice(waiting);
            return StartNext();
        }
    }
}
