// ordelctl: searches, restarts, shuts down and updates the cameras on the
// networks this host is attached to, many at once, from a shell or a script.
// It sends the discovery probe and talks to cameras: run it on a camera
// network, or inside the project's virtual LAN (tools/lab/lab.sh run).

#include "commandline.h"
#include "console.h"
#include "controller.h"
#include "descriptorbudget.h"
#include "exitcode.h"
#include "signalwatcher.h"

#include <QCoreApplication>
#include <QTimer>

int main(int argc, char *argv[])
{
    DescriptorBudget::RaiseLimit();
    QCoreApplication application(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("ordelctl"));
    QCoreApplication::setApplicationVersion(QStringLiteral(ORDELCTL_VERSION));

    CommandLine options;
    switch (options.Parse(QCoreApplication::arguments())) {
    case CommandLine::Status::Done:
        Console::Out(options.Output());
        return Console::Finish(ExitCode::succeeded);
    case CommandLine::Status::UsageError:
        Console::Error(
            QStringLiteral("ordelctl: %1\nTry \"%2\".\n").arg(options.Error(), options.HelpHint()));
        return Console::Finish(ExitCode::usage);
    case CommandLine::Status::Run:
        break;
    }

    SignalWatcher signalWatcher;
    QString error;
    if (!signalWatcher.install(&error)) {
        Console::Error(QStringLiteral("ordelctl: %1\n").arg(error));
        return Console::Finish(ExitCode::failed);
    }
    signalWatcher.exitAtOnceOnRepeat();

    Controller controller(options);
    QObject::connect(&controller, &Controller::done, &application, &QCoreApplication::exit);
    QObject::connect(
        &signalWatcher, &SignalWatcher::terminationRequested, &controller, &Controller::Interrupt);
    QTimer::singleShot(0, &controller, &Controller::Start);
    return Console::Finish(application.exec());
}
