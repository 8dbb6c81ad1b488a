// camsim: plays one or many cameras for the maintenance tool's tests and demo.
// Run it only inside the project's virtual LAN (tools/lab/lab.sh) or on
// loopback: it answers the tool's discovery probe and serves the camera's
// MQTT, HTTP and firmware update ports.

#include "eventlog.h"
#include "options.h"
#include "signalwatcher.h"
#include "simulator.h"

#include <QCoreApplication>

#include <mosquitto.h>

#include <cstdio>

namespace {

constexpr int usageExitCode = 2;
constexpr int failureExitCode = 1;

QByteArrayList rawArguments(int argc, char **argv)
{
    QByteArrayList arguments;
    for (int n = 1; n < argc; ++n)
        arguments.append(QByteArray(argv[n]));
    return arguments;
}

int fail(const QString &message, int exitCode)
{
    std::fprintf(stderr, "camsim: %s\n", qPrintable(message));
    return exitCode;
}

} // namespace

int main(int argc, char **argv)
{
    EventLog log;
    QCoreApplication app(argc, argv);

    Options options;
    QString error;
    if (!options.parse(rawArguments(argc, argv), &error))
        return fail(error + QStringLiteral(" (camsim --help shows the usage)"), usageExitCode);
    if (options.help) {
        std::fputs(qPrintable(Options::usage()), stdout);
        return 0;
    }
    if (!log.open(options.logPath, &error))
        return fail(error, failureExitCode);

    SignalWatcher signalWatcher;
    if (!signalWatcher.install(&error))
        return fail(error, failureExitCode);

    mosquitto_lib_init();
    int exitCode = failureExitCode;
    {
        Simulator simulator(options, &log);
        QObject::connect(&signalWatcher, &SignalWatcher::terminationRequested, &simulator,
            [&simulator] { simulator.shutDown(0); });
        if (simulator.start(&error)) {
            exitCode = app.exec();
        } else {
            log.write(QStringLiteral("error"), { { "message", error } });
            fail(error, failureExitCode);
        }
    }
    mosquitto_lib_cleanup();
    return exitCode;
}
