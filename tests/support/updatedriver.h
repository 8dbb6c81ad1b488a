#ifndef UPDATEDRIVER_H
#define UPDATEDRIVER_H

#include <QByteArray>
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

constexpr qint64 chunkSize = 1048576;
// From the Yes to the camera's last report of a good update, with room for a
// loaded machine: 1 s broker wait, 5 s settle wait, 0.5 s per chunk.
constexpr int updateTimeoutMs = 30000;

QByteArray randomBytes(qint64 size);
QString md5Hex(const QByteArray &data);
// False when the file could not be written whole.
bool writeImage(const QString &path, const QByteArray &data);

// The request the window publishes for image, chosen under that file name,
// from the tool's address on the virtual LAN.
QString announcement(const QString &fileName, const QByteArray &image);

QPushButton *startButton(Form *form);
QLabel *state(Form *form);
QProgressBar *progress(Form *form);

// A shown window for the camera; the caller deletes it.
Form *openWindow(const LabCamera *camera);
// Browse, then the file dialog answered with the image.
void browse(Form *form, const QString &path);
// Start, then the question answered Yes. Returns once the Start handler has,
// which is before the update's own steps run.
void start(Form *form);
// The camera's last report gave Start back at 100.
void verifySucceeded(Form *form, int timeoutMs = updateTimeoutMs);
// The camera's last image connection carried exactly image; waits for the
// camera to see that connection end, which may come after the tool's end.
void verifyImageArrived(LabCamera *camera, const QByteArray &image);

} // namespace UpdateDriver

#define UPDATE_STEP(call)                                                                          \
    do {                                                                                           \
        call;                                                                                      \
        if (QTest::currentTestFailed())                                                            \
            return;                                                                                \
    } while (false)

#endif // UPDATEDRIVER_H
