#include "console.h"

#include <cstdio>
#include <sys/ioctl.h>
#include <unistd.h>

namespace {

constexpr int defaultWidth = 80;
constexpr int defaultHeight = 24;

void write(std::FILE *stream, const QByteArray &bytes)
{
    // A reader that went away (a pipe into head) costs the rest of the
    // output, not the process: SIGPIPE is ignored and the error dropped.
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stream);
    std::fflush(stream);
}

} // namespace

void Console::Out(const QByteArray &bytes)
{
    write(stdout, bytes);
}

void Console::Out(const QString &text)
{
    write(stdout, text.toUtf8());
}

void Console::Error(const QString &text)
{
    write(stderr, text.toUtf8());
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

int Console::ErrorHeight()
{
    winsize size {};
    if (::ioctl(STDERR_FILENO, TIOCGWINSZ, &size) != 0 || size.ws_row == 0)
        return defaultHeight;
    return size.ws_row;
}
