// The fleet window's rollout without an operator: search, the cameras of one
// type not on the target version chosen, the plan checked, Update and its
// question answered Yes, and, once every camera has its result, a picture of
// the window. Exits 0 only when every chosen camera was verified.
//
//   fleet-demo --image FILE --fw-version V --type TYPE --screenshot FILE.png

#include "fleetwindow.h"

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QCommandLineParser>
#include <QMessageBox>
#include <QTimer>

#include <algorithm>
#include <cstdio>

namespace {

// Long enough for a dozen cameras that restart for a few seconds each.
constexpr int rolloutTimeoutMs = 180000;
constexpr int imageReadTimeoutMs = 30000;
constexpr int answerPollMs = 50;

void say(const QString &text)
{
    std::fprintf(stderr, "fleet-demo: %s\n", qPrintable(text));
}

QAction *action(const QWidget &window, const char *name)
{
    return window.findChild<QAction *>(QLatin1String(name));
}

// Presses Yes in the question Update asks, as soon as it is open.
void answerYes()
{
    auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
    if (box && box->button(QMessageBox::Yes)) {
        box->button(QMessageBox::Yes)->click();
        return;
    }
    QTimer::singleShot(answerPollMs, answerYes);
}

int verifiedIn(const FleetWindow &window)
{
    const QList<CameraResult> results = window.Model()->Results();
    return int(std::count_if(results.cbegin(), results.cend(),
        [](const CameraResult &result) { return result.verified; }));
}

} // namespace

int main(int argc, char *argv[])
{
    QApplication application(argc, argv);
    QCommandLineParser parser;
    const QCommandLineOption image(
        QStringLiteral("image"), QStringLiteral("The image."), QStringLiteral("FILE"));
    const QCommandLineOption version(QStringLiteral("fw-version"),
        QStringLiteral("The version it installs."), QStringLiteral("V"));
    const QCommandLineOption type(
        QStringLiteral("type"), QStringLiteral("The cameras' type."), QStringLiteral("TYPE"));
    const QCommandLineOption screenshot(QStringLiteral("screenshot"),
        QStringLiteral("Where the picture goes."), QStringLiteral("FILE"));
    parser.addOptions({ image, version, type, screenshot });
    parser.process(application);

    FleetWindow window;
    window.SetTargetVersion(parser.value(version));
    window.resize(1200, 640);
    window.show();
    auto *types = window.findChild<QComboBox *>(QStringLiteral("comboBox_Type"));
    if (!types)
        return 1;

    int chosen = 0;
    bool ok = false;
    // Update searches again before it asks: only the first search is ours.
    bool searched = false;
    QObject::connect(&window, &FleetWindow::searchFinished, &window, [&] {
        if (searched)
            return;
        searched = true;
        types->setCurrentIndex(types->findText(parser.value(type)));
        action(window, "actionSelectOutdated")->trigger();
        action(window, "actionCheck")->trigger();
        chosen = window.Model()->CheckedCount();
        say(QStringLiteral("%1 cameras to update").arg(chosen));
        QTimer::singleShot(0, answerYes);
        action(window, "actionUpdate")->trigger();
    });
    QObject::connect(&window, &FleetWindow::runFinished, &window, [&] {
        const int verified = verifiedIn(window);
        say(QStringLiteral("%1 of %2 verified").arg(verified).arg(chosen));
        ok = chosen > 0 && verified == chosen;
        // The last repaint first, then the picture.
        QTimer::singleShot(500, &window, [&] {
            if (!window.grab().save(parser.value(screenshot)))
                ok = false;
            QApplication::exit();
        });
    });
    QTimer::singleShot(rolloutTimeoutMs, &application, [] {
        say(QStringLiteral("the rollout did not end in time"));
        QApplication::exit(1);
    });

    // The digest first: Update waits for it.
    bool read = false;
    QObject::connect(&window, &FleetWindow::imageRead, &window, [&] {
        read = true;
        action(window, "actionSearch")->trigger();
    });
    QTimer::singleShot(imageReadTimeoutMs, &window, [&] {
        if (read)
            return;
        say(QStringLiteral("the image was not read"));
        QApplication::exit(1);
    });
    window.SetImagePath(parser.value(image));
    const int status = application.exec();
    return status == 0 && ok ? 0 : 1;
}
