#include "timeline.h"

#include "labcamera.h"
#include "protocol.h"
#include "updatedriver.h"

#include <QApplication>
#include <QLabel>
#include <QPushButton>
#include <QStringList>
#include <QTcpSocket>

Timeline::Timeline(LabCamera *camera, Form *form)
{
    clock.start();
    sincePoll.start();
    poller.setInterval(pollMs);
    connect(&poller, &QTimer::timeout, this, &Timeline::poll);
    poller.start();
    if (camera)
        watch(camera);
    if (form) {
        label = UpdateDriver::state(form);
        startButton = UpdateDriver::startButton(form);
        label->installEventFilter(this);
        startButton->installEventFilter(this);
    }
}

void Timeline::watch(LabCamera *camera)
{
    if (!cameras.contains(camera))
        cameras.append(camera);
}

qint64 Timeline::firstShown(const QString &text, bool whileRunning) const
{
    for (const Step &step : steps) {
        if (step.text == text && !(whileRunning && step.startEnabled))
            return step.at;
    }
    return -1;
}

qint64 Timeline::firstDisabled() const
{
    for (const Step &step : steps) {
        if (!step.startEnabled)
            return step.at;
    }
    return -1;
}

qint64 Timeline::lastEnabled() const
{
    for (int i = steps.size() - 1; i > 0; --i) {
        if (steps[i].startEnabled && !steps[i - 1].startEnabled)
            return steps[i].at;
    }
    return -1;
}

QString Timeline::describe() const
{
    QStringList shown;
    for (const Step &step : steps)
        shown << step.text + (step.startEnabled ? " [Start enabled]" : "");
    return shown.join(" -> ");
}

void Timeline::watchToolSocket()
{
    followsToolSocket = true;
    qApp->installEventFilter(this);
}

qint64 Timeline::queued() const
{
    return toolSocket ? toolSocket->bytesToWrite() : 0;
}

void Timeline::when(std::function<bool()> condition, std::function<void()> action)
{
    hooks.append({ nullptr, [condition](QEvent *) { return condition(); }, std::move(action) });
}

void Timeline::afterEvent(
    LabCamera *camera, const QString &event, qint64 afterMs, std::function<void()> action)
{
    watch(camera);
    when(
        [=] {
            const qint64 at = firstSeen(camera, event);
            return at >= 0 && now() >= at + afterMs;
        },
        std::move(action));
}

void Timeline::onEvent(
    QObject *object, std::function<bool(QEvent *)> match, std::function<void()> action)
{
    object->installEventFilter(this);
    hooks.append({ object, std::move(match), std::move(action) });
}

bool Timeline::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::SockAct && followsToolSocket && !toolSocket) {
        for (QObject *object = watched; object; object = object->parent()) {
            auto *socket = qobject_cast<QTcpSocket *>(object);
            if (socket && socket->peerPort() == Protocol::imagePort) {
                toolSocket = socket;
                // Unlike bytesWritten, said for every write, even one made
                // while a bytesWritten handler runs.
                connect(socket, &QTcpSocket::channelBytesWritten, this,
                    [this](int, qint64 bytes) { handedOver += bytes; });
            }
        }
    }
    if ((event->type() == QEvent::EnabledChange || event->type() == QEvent::Paint)
        && (watched == label.data() || watched == startButton.data()))
        noteStep();
    // An application-wide filter (watchToolSocket) sees each event first.
    if (event != lastHookedEvent) {
        lastHookedEvent = event;
        runFirstHook(watched, event);
    }
    return false;
}

void Timeline::poll()
{
    longestStall = qMax(longestStall, sincePoll.restart());
    // Everything written into the socket is either handed over or queued, so
    // the count of chunks does not depend on what the last look saw.
    const qint64 nowQueued = queued();
    const auto chunks
        = int((handedOver + nowQueued + Protocol::imageChunkSize - 1) / Protocol::imageChunkSize);
    if (chunks > chunksWritten) {
        chunksWritten = chunks;
        lastChunkAt = now();
    }
    mostQueued = qMax(mostQueued, nowQueued);
    for (const QPointer<LabCamera> &camera : qAsConst(cameras)) {
        for (const QJsonObject &event : camera ? camera->events() : QList<QJsonObject>()) {
            const auto key
                = qMakePair(camera.data(), event.value(QLatin1String("event")).toString());
            if (!seen.contains(key))
                seen.insert(key, now());
        }
    }
    noteStep();
    runFirstHook(nullptr, nullptr);
}

void Timeline::runFirstHook(QObject *object, QEvent *event)
{
    for (int i = 0; i < hooks.size(); ++i) {
        if (hooks[i].object == object && hooks[i].match(event)) {
            const std::function<void()> action = hooks.takeAt(i).action;
            action();
            return;
        }
    }
}

void Timeline::noteStep()
{
    if (!label || !startButton)
        return;
    const Step step { now(), label->text(), startButton->isEnabled() };
    if (steps.isEmpty() || steps.constLast().text != step.text
        || steps.constLast().startEnabled != step.startEnabled)
        steps.append(step);
}
