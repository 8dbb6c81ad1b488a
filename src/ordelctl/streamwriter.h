#ifndef STREAMWRITER_H
#define STREAMWRITER_H

#include <QByteArray>

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

// Writes to an open file, a terminal or a pipe, from a thread of its own and
// in the order given, so that the thread that prints never waits for a slow
// reader. Standard output and standard error share one writer when they are
// the same file (2>&1): their lines then keep the order they were printed in.
class StreamWriter
{
public:
    // How far a reader may fall behind before droppable bytes are refused: a
    // few hundred JSON events, or many redraws of a terminal's live block.
    static constexpr qint64 droppableBacklogBytes = 64 * 1024;

    // failed is called from the writer's thread when a write to a
    // descriptor fails for the first time, with the errno.
    explicit StreamWriter(std::function<void(int descriptor, int error)> failed);
    // Writes out everything kept first, however long that takes.
    ~StreamWriter();

    // Keeps bytes for descriptor, which must stay open. Droppable bytes are
    // refused, and false returned, while the backlog is at its bound.
    bool Keep(int descriptor, const QByteArray &bytes, bool droppable);
    // Returns once everything kept is written or given up.
    void Drain();
    bool HasFailed(int descriptor) const;

private:
    struct Piece
    {
        int descriptor;
        QByteArray bytes;
    };

    void Run();
    int WriteAll(int descriptor, const QByteArray &bytes);
    void Written(qint64 bytes);

    std::function<void(int, int)> failed;
    mutable std::mutex mutex;
    std::condition_variable changed;
    std::deque<Piece> pieces;
    std::vector<int> failedDescriptors;
    // Bytes kept and not yet written, those being written included.
    qint64 backlog = 0;
    bool writing = false;
    bool stopping = false;
    std::thread thread;
};

#endif // STREAMWRITER_H
