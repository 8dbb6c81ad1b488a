#include "signalwatcher.h"

#include <QSocketNotifier>

#include <csignal>
#include <cstring>
#include <sys/socket.h>
#include <unistd.h>

namespace {

int signalPair[2] = { -1, -1 };
volatile sig_atomic_t signalSeen = 0;
volatile sig_atomic_t exitOnRepeat = 0;
// A shell's convention: a program ended by signal N exits with 128 + N.
constexpr int signalExitBase = 128;

} // namespace

SignalWatcher::SignalWatcher(QObject *parent)
    : QObject(parent)
{
}

bool SignalWatcher::install(QString *error)
{
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, signalPair) != 0) {
        *error = QStringLiteral("socketpair: %1").arg(QString::fromLocal8Bit(strerror(errno)));
        return false;
    }
    notifier = new QSocketNotifier(signalPair[1], QSocketNotifier::Read, this);
    connect(notifier, &QSocketNotifier::activated, this, &SignalWatcher::readSignal);

    struct sigaction action
    {
    };
    action.sa_handler = &SignalWatcher::handle;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    ::sigaction(SIGTERM, &action, nullptr);
    ::sigaction(SIGINT, &action, nullptr);
    // A dropped SSH session or a closed terminal: an orderly end as for
    // SIGTERM, not the default death that leaves no word of the work done.
    ::sigaction(SIGHUP, &action, nullptr);
    // A peer that vanishes mid-write must cost an error code, not the process.
    ::signal(SIGPIPE, SIG_IGN);
    return true;
}

void SignalWatcher::exitAtOnceOnRepeat()
{
    exitOnRepeat = 1;
}

void SignalWatcher::handle(int signalNumber)
{
    if (signalSeen && exitOnRepeat)
        ::_exit(signalExitBase + signalNumber);
    signalSeen = 1;
    const char byte = char(signalNumber);
    const ssize_t ignored = ::write(signalPair[0], &byte, 1);
    (void)ignored;
}

void SignalWatcher::readSignal()
{
    char byte = 0;
    if (::read(signalPair[1], &byte, 1) == 1)
        emit terminationRequested(int(byte));
}
