#include "console.h"

#include "exitcode.h"
#include "streamwriter.h"

#include <memory>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr int defaultWidth = 80;
constexpr int defaultHeight = 24;

using FileStatus = struct stat;

bool sameFile(int one, int other)
{
    FileStatus first {};
    FileStatus second {};
    return ::fstat(one, &first) == 0 && ::fstat(other, &second) == 0
        && first.st_dev == second.st_dev && first.st_ino == second.st_ino;
}

// The writers of standard output and standard error, one when both are the
// same file. Made at the first output and ended after main returns, each
// writing out what it still keeps.
class Streams
{
public:
    Streams()
        : error(new StreamWriter([this](int descriptor, int code) { Failed(descriptor, code); }))
    {
        if (sameFile(STDOUT_FILENO, STDERR_FILENO)) {
            out = error.get();
        } else {
            ownOut.reset(
                new StreamWriter([this](int descriptor, int code) { Failed(descriptor, code); }));
            out = ownOut.get();
        }
    }

    // Declared first, ended last: standard output's writer may still report
    // its failure here.
    std::unique_ptr<StreamWriter> error;
    std::unique_ptr<StreamWriter> ownOut;
    StreamWriter *out = nullptr;

private:
    // Standard error's own failure cannot be told anywhere; it still counts
    // in the exit code.
    void Failed(int descriptor, int code)
    {
        if (descriptor != STDOUT_FILENO)
            return;
        error->Keep(STDERR_FILENO,
            QStringLiteral("ordelctl: cannot write to standard output: %1\n")
                .arg(qt_error_string(code))
                .toUtf8(),
            false);
    }
};

Streams &streams()
{
    static Streams instance;
    return instance;
}

} // namespace

void Console::Out(const QByteArray &bytes)
{
    streams().out->Keep(STDOUT_FILENO, bytes, false);
}

void Console::Out(const QString &text)
{
    Out(text.toUtf8());
}

void Console::Error(const QString &text)
{
    streams().error->Keep(STDERR_FILENO, text.toUtf8(), false);
}

bool Console::OutProgress(const QByteArray &bytes)
{
    return streams().out->Keep(STDOUT_FILENO, bytes, true);
}

bool Console::ErrorProgress(const QString &text)
{
    return streams().error->Keep(STDERR_FILENO, text.toUtf8(), true);
}

int Console::Finish(int exitCode)
{
    Streams &all = streams();
    all.out->Drain();
    all.error->Drain();
    const bool failed = all.out->HasFailed(STDOUT_FILENO) || all.error->HasFailed(STDERR_FILENO);
    return failed && exitCode == ExitCode::succeeded ? ExitCode::failed : exitCode;
}

bool Console::InIsTerminal()
{
    return ::isatty(STDIN_FILENO) == 1;
}

bool Console::OutIsTerminal()
{
    return ::isatty(STDOUT_FILENO) == 1;
}

bool Console::ErrorIsTerminal()
{
    return ::isatty(STDERR_FILENO) == 1;
}

int Console::ErrorWidth()
{
    winsize size {};
    if (::ioctl(STDERR_FILENO, TIOCGWINSZ, &size) != 0 || size.ws_col == 0)
        return defaultWidth;
    return size.ws_col;
}

int Console::OutWidth()
{
    winsize size {};
    if (!OutIsTerminal() || ::ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) != 0)
        return 0;
    return size.ws_col;
}

int Console::ErrorHeight()
{
    winsize size {};
    if (::ioctl(STDERR_FILENO, TIOCGWINSZ, &size) != 0 || size.ws_row == 0)
        return defaultHeight;
    return size.ws_row;
}
