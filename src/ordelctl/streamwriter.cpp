#include "streamwriter.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <poll.h>
#include <pthread.h>
#include <unistd.h>
#include <utility>

StreamWriter::StreamWriter(std::function<void(int descriptor, int error)> failed)
    : failed(std::move(failed))
{
    // With every signal blocked in the writer, a reader that went away costs
    // its write an EPIPE rather than the process a SIGPIPE, even before the
    // signal watcher ignores that; and Ctrl-C stays with the event loop.
    sigset_t all;
    sigset_t previous;
    sigfillset(&all);
    pthread_sigmask(SIG_SETMASK, &all, &previous);
    thread = std::thread(&StreamWriter::Run, this);
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
}

StreamWriter::~StreamWriter()
{
    {
        std::lock_guard<std::mutex> lock(mutex);
        stopping = true;
    }
    changed.notify_all();
    thread.join();
}

bool StreamWriter::Keep(int descriptor, const QByteArray &bytes, bool droppable)
{
    std::lock_guard<std::mutex> lock(mutex);
    // A stream that failed once takes nothing more: a record with a hole in
    // it would pass for whole.
    if (std::count(failedDescriptors.begin(), failedDescriptors.end(), descriptor) > 0)
        return true;
    if (droppable && backlog + bytes.size() > droppableBacklogBytes)
        return false;
    pieces.push_back({ descriptor, bytes });
    backlog += bytes.size();
    changed.notify_all();
    return true;
}

void StreamWriter::Drain()
{
    std::unique_lock<std::mutex> lock(mutex);
    changed.wait(lock, [this] { return pieces.empty() && !writing; });
}

bool StreamWriter::HasFailed(int descriptor) const
{
    std::lock_guard<std::mutex> lock(mutex);
    return std::count(failedDescriptors.begin(), failedDescriptors.end(), descriptor) > 0;
}

// What is kept for one descriptor goes out in one write, so that a flood of
// short lines costs few calls.
void StreamWriter::Run()
{
    std::unique_lock<std::mutex> lock(mutex);
    for (;;) {
        changed.wait(lock, [this] { return stopping || !pieces.empty(); });
        if (pieces.empty())
            return;
        const int descriptor = pieces.front().descriptor;
        QByteArray batch;
        while (!pieces.empty() && pieces.front().descriptor == descriptor) {
            batch += pieces.front().bytes;
            pieces.pop_front();
        }
        writing = true;
        lock.unlock();
        const int error = WriteAll(descriptor, batch);
        lock.lock();
        if (error != 0) {
            failedDescriptors.push_back(descriptor);
            const auto end = std::remove_if(pieces.begin(), pieces.end(),
                [descriptor](const Piece &piece) { return piece.descriptor == descriptor; });
            for (auto piece = end; piece != pieces.end(); ++piece)
                backlog -= piece->bytes.size();
            pieces.erase(end, pieces.end());
            // Unlocked: the report of the failure may be kept by this very
            // writer, when both streams share it.
            lock.unlock();
            failed(descriptor, error);
            lock.lock();
        }
        writing = false;
        changed.notify_all();
    }
}

// Returns 0 once every byte is written, or the errno of the write that
// failed. A descriptor left non-blocking by whoever shares it is waited on.
int StreamWriter::WriteAll(int descriptor, const QByteArray &bytes)
{
    const char *data = bytes.constData();
    qint64 left = bytes.size();
    while (left > 0) {
        const ssize_t written = ::write(descriptor, data, size_t(left));
        if (written > 0) {
            data += written;
            left -= written;
            Written(written);
            continue;
        }
        const int error = written < 0 ? errno : EIO;
        if (error == EINTR)
            continue;
        if (error == EAGAIN || error == EWOULDBLOCK) {
            pollfd ready { descriptor, POLLOUT, 0 };
            ::poll(&ready, 1, -1);
            continue;
        }
        Written(left);
        return error;
    }
    return 0;
}

void StreamWriter::Written(qint64 bytes)
{
    std::lock_guard<std::mutex> lock(mutex);
    backlog -= bytes;
}
