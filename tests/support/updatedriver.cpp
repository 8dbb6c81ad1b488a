#include "updatedriver.h"

#include "form.h"
#include "labcamera.h"
#include "modalanswerer.h"

#include <QCryptographicHash>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QVector>

namespace {

// Reads that follow each other closer than this belong to one chunk.
constexpr qint64 burstGapMs = 200;

QList<QPointer<Form>> windows;

qint64 number(const QJsonObject &event, const char *field)
{
    return event.value(QLatin1String(field)).toVariant().toLongLong();
}

} // namespace

namespace UpdateDriver {

QByteArray randomBytes(qint64 size)
{
    QVector<quint32> words(int((size + 3) / 4));
    QRandomGenerator::global()->fillRange(words.data(), words.size());
    return QByteArray(reinterpret_cast<const char *>(words.constData()), int(size));
}

QString md5Hex(const QByteArray &data)
{
    return QString::fromLatin1(QCryptographicHash::hash(data, QCryptographicHash::Md5).toHex());
}

QString imageFile(const QString &name, const QByteArray &data)
{
    static const QTemporaryDir dir;
    QFile file(dir.filePath(name));
    if (!dir.isValid() || !file.open(QIODevice::WriteOnly) || file.write(data) != data.size())
        QTest::qFail(qPrintable("cannot write " + file.fileName()), __FILE__, __LINE__);
    return file.fileName();
}

QString announcement(const QString &fileName, const QByteArray &image)
{
    return QStringLiteral("{\"buffer_size\":\"%1\",\"client_ip\":\"%2\",\"file_md5\":\"%3\","
                          "\"file_name\":\"%4\",\"file_size\":\"%5\"}")
        .arg(chunkSize)
        .arg(qEnvironmentVariable("LAB_TOOL_IP"), md5Hex(image), fileName)
        .arg(image.size());
}

QPushButton *startButton(Form *form)
{
    return form->findChild<QPushButton *>(QStringLiteral("pushButton_Start"));
}

QLabel *state(Form *form)
{
    return form->findChild<QLabel *>(QStringLiteral("label_state"));
}

QProgressBar *progress(Form *form)
{
    return form->findChild<QProgressBar *>(QStringLiteral("progressBar"));
}

Form *openWindow(const LabCamera *camera)
{
    auto *form = new Form(camera->address(), QStringLiteral("aa:bb:cc:00:00:01"),
        QStringLiteral("SN%1").arg(camera->index(), 6, 10, QLatin1Char('0')));
    windows.append(form);
    form->show();
    return form;
}

Form *openWindow(const LabCamera *camera, const QString &path)
{
    if (!QTest::qVerify(camera->isRunning(), "camera->isRunning()", "the camera did not start",
            __FILE__, __LINE__))
        return nullptr;
    Form *form = openWindow(camera);
    browse(form, path);
    return QTest::currentTestFailed() ? nullptr : form;
}

void closeWindows()
{
    for (const QPointer<Form> &form : qAsConst(windows))
        delete form.data();
    windows.clear();
}

void browse(Form *form, const QString &path)
{
    ModalAnswerer answerer;
    answerer.chooseFile(path);
    QTest::mouseClick(
        form->findChild<QPushButton *>(QStringLiteral("pushButton_Browser")), Qt::LeftButton);
    QVERIFY(answerer.waitUntilAnswered());
    QCOMPARE(answerer.unexpectedBoxes, 0);
    QCOMPARE(form->findChild<QLineEdit *>(QStringLiteral("lineEdit"))->text(), path);
}

void start(Form *form, QMessageBox::StandardButton answer)
{
    ModalAnswerer answerer;
    answerer.pressButton(answer);
    QTest::mouseClick(startButton(form), Qt::LeftButton);
    QVERIFY(answerer.waitUntilAnswered());
    QCOMPARE(answerer.unexpectedBoxes, 0);
    QCOMPARE(answerer.boxes.size(), 1);
    QCOMPARE(answerer.boxes.first().text, QStringLiteral("Do you want to update?"));
    QCOMPARE(answerer.boxes.first().buttons, QMessageBox::Yes | QMessageBox::No);
}

void verifyEnded(Form *form, const QString &text, int timeoutMs)
{
    QTRY_VERIFY_WITH_TIMEOUT(startButton(form)->isEnabled(), timeoutMs);
    QCOMPARE(state(form)->text(), text);
}

void verifySucceeded(Form *form, int timeoutMs)
{
    UPDATE_STEP(verifyEnded(form, QStringLiteral("Update succeeded"), timeoutMs));
    QCOMPARE(progress(form)->value(), 100);
}

void verifyImageArrived(LabCamera *camera, const QByteArray &image)
{
    // Each accepted connection ends in one image event.
    const int accepted = qMax(1, int(camera->events(QStringLiteral("tcp-accept")).size()));
    QVERIFY2(camera->waitForEvent(QStringLiteral("image"), accepted),
        "the camera saw no image connection end");
    const ImageSeen last = lastImage(camera);
    QCOMPARE(last.size, qint64(image.size()));
    QCOMPARE(last.md5, md5Hex(image));
    QVERIFY2(last.ok, qPrintable(last.reason));
}

qint64 eventTime(const QJsonObject &event)
{
    return number(event, "t");
}

qint64 bytesRead(const LabCamera *camera)
{
    qint64 total = 0;
    for (const QJsonObject &read : camera->events(QStringLiteral("tcp-read")))
        total += number(read, "bytes");
    return total;
}

ImageSeen lastImage(const LabCamera *camera)
{
    const QList<QJsonObject> images = camera->events(QStringLiteral("image"));
    if (images.isEmpty())
        return {};
    const QJsonObject &last = images.constLast();
    return { number(last, "size"), last.value(QLatin1String("md5")).toString(),
        last.value(QLatin1String("ok")).toBool(), last.value(QLatin1String("reason")).toString() };
}

QList<Burst> readBursts(const LabCamera *camera)
{
    QList<Burst> bursts;
    qint64 last = -1;
    for (const QJsonObject &read : camera->events(QStringLiteral("tcp-read"))) {
        const qint64 t = eventTime(read);
        if (bursts.isEmpty() || t - last > burstGapMs)
            bursts.append({ t, 0 });
        bursts.last().bytes += number(read, "bytes");
        last = t;
    }
    return bursts;
}

QList<qint64> chunkGaps(const LabCamera *camera, qint64 fromBytes)
{
    // A chunk is found by its offset, not by a quiet spell before it: a GUI
    // thread busy for a moment (a dialog being built, a sanitizer) can split
    // one chunk's reads in two without changing the pace of the chunks.
    QList<qint64> starts;
    qint64 total = 0;
    for (const QJsonObject &read : camera->events(QStringLiteral("tcp-read"))) {
        const qint64 before = total;
        total += number(read, "bytes");
        // The read that carries the first byte of the next chunk.
        if (total > before && (before + chunkSize - 1) / chunkSize <= (total - 1) / chunkSize)
            starts << (before >= fromBytes ? eventTime(read) : -1);
    }
    QList<qint64> gaps;
    for (int i = 1; i < starts.size(); ++i) {
        if (starts[i - 1] >= 0)
            gaps << starts[i] - starts[i - 1];
    }
    return gaps;
}

} // namespace UpdateDriver
