#ifndef UPDATEDRIVER_H
#define UPDATEDRIVER_H

#include "protocol.h"

#include <QByteArray>
#include <QJsonObject>
#include <QList>
#include <QMessageBox>
#include <QString>
#include <QTest>

class Form;
class LabCamera;
class QLabel;
class QProgressBar;
class QPushButton;

// Runs firmware updates through the real update window the way an operator
// does, for lab tests that update simulated cameras. The functions check with
// the QtTest macros, which end only the function itself: wrap each call in
// UPDATE_STEP so the test stops at the first failed check.
namespace UpdateDriver {

constexpr qint64 chunkSize = Protocol::imageChunkSize;
constexpr qint64 mib = 1024 * 1024;
// The images of the update tests: whole chunks and a short tail, for the last
// chunk is where bytes get lost.
constexpr qint64 smallImageSize = chunkSize + 17;
constexpr qint64 mediumImageSize = 2 * chunkSize + 17;
constexpr qint64 largeImageSize = 3 * chunkSize + 17;
// From the Yes to the camera's last report of a good update, with room for a
// loaded machine: 1 s broker wait, 5 s settle wait, 0.5 s per chunk.
constexpr int updateTimeoutMs = 30000;

QByteArray randomBytes(qint64 size);
QString md5Hex(const QByteArray &data);
// Writes data as the image name in a directory of the test run's own and
// returns its path; fails the test when it could not be written whole.
QString imageFile(const QString &name, const QByteArray &data);

// The request the window publishes for image, chosen under that file name,
// from the tool's address on the virtual LAN.
QString announcement(const QString &fileName, const QByteArray &image);

QPushButton *startButton(Form *form);
QLabel *state(Form *form);
QProgressBar *progress(Form *form);

// A shown window for the camera. closeWindows() deletes it unless it has gone
// by then.
Form *openWindow(const LabCamera *camera);
// The same with the image at path chosen; null, after a failed check, when
// the camera is not running or the file dialog did not take the image.
Form *openWindow(const LabCamera *camera, const QString &path);
// For a test's cleanup(), where no handler of a window can be on the stack:
// deleting is safe, and it drops the steps still queued.
void closeWindows();
// Browse, then the file dialog answered with the image.
void browse(Form *form, const QString &path);
// Start, then the question answered. Returns once the Start handler has,
// which is before the update's own steps run.
void start(Form *form, QMessageBox::StandardButton answer = QMessageBox::Yes);
// Start came back, with text on the status line.
void verifyEnded(Form *form, const QString &text, int timeoutMs = updateTimeoutMs);
// The camera's last report gave Start back at 100.
void verifySucceeded(Form *form, int timeoutMs = updateTimeoutMs);
// The camera's last image connection carried exactly image; waits for the
// camera to see that connection end, which may come after the tool's end.
void verifyImageArrived(LabCamera *camera, const QByteArray &image);

// The camera's clock, in ms, when it logged event.
qint64 eventTime(const QJsonObject &event);
// The image bytes the camera has read so far, over all its connections.
qint64 bytesRead(const LabCamera *camera);

// What the camera's log says about the image connection that ended last.
struct ImageSeen
{
    qint64 size = -1;
    QString md5;
    bool ok = false;
    QString reason;
};
ImageSeen lastImage(const LabCamera *camera);

// The camera's reads grouped into bursts: one burst per chunk the tool wrote.
struct Burst
{
    qint64 start = 0;
    qint64 bytes = 0;
};
QList<Burst> readBursts(const LabCamera *camera);
// The ms between one chunk and the next, for the pairs whose earlier chunk
// began once the camera had read fromBytes.
QList<qint64> chunkGaps(const LabCamera *camera, qint64 fromBytes = 0);

} // namespace UpdateDriver

#define UPDATE_STEP(call)                                                                          \
    do {                                                                                           \
        call;                                                                                      \
        if (QTest::currentTestFailed())                                                            \
            return;                                                                                \
    } while (false)

#endif // UPDATEDRIVER_H
