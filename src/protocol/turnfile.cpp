#include "turnfile.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QRegularExpression>

#include <cerrno>
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Every user's search may read who holds the port; only the holder writes.
constexpr mode_t readableByAll = 0644;

// A process number and a program's name, a line each; a longer file is not
// one this program wrote.
constexpr int longestContent = 128;

// A file removed between its opening and its lock is opened anew, so often.
constexpr int claimAttempts = 3;

// In a folder that every user writes to, the name may be a link to some other
// file, or a pipe whose opening would never return.
int OpenRegular(const QString &path, int flags)
{
    const int descriptor = ::open(QFile::encodeName(path).constData(),
        flags | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK, readableByAll);
    struct stat status = {};
    if (descriptor >= 0 && (::fstat(descriptor, &status) != 0 || !S_ISREG(status.st_mode))) {
        ::close(descriptor);
        return -1;
    }
    return descriptor;
}

// A process of another user answers with EPERM, and is alive all the same.
bool IsAlive(qint64 pid)
{
    return pid > 0 && (::kill(pid_t(pid), 0) == 0 || errno == EPERM);
}

} // namespace

TurnFile::TurnFile(const QString &path)
    : path(path)
{
}

TurnFile::~TurnFile()
{
    Release();
}

// Searches in different network namespaces of one host (the lab's, or a
// container's) have ports of their own, so each namespace has its own file.
QString TurnFile::ForThisNetwork()
{
    char target[64] = {};
    const ssize_t length = ::readlink("/proc/self/ns/net", target, sizeof target - 1);
    QString space = length > 0 ? QString::fromLatin1(target, int(length)) : QStringLiteral("net");
    space.remove(QLatin1Char(':')).remove(QLatin1Char('[')).remove(QLatin1Char(']'));
    return QDir(QDir::tempPath())
        .filePath(QStringLiteral("ordel-toolkits-discovery-%1.holder").arg(space));
}

void TurnFile::Claim()
{
    for (int attempt = 0; descriptor < 0 && attempt < claimAttempts; ++attempt)
        descriptor = Lock();
    if (descriptor < 0)
        return;
    // The creator's umask may have kept other users from reading it; a file
    // another user made stays as they made it.
    ::fchmod(descriptor, readableByAll);
    const QByteArray content = QByteArray::number(QCoreApplication::applicationPid()) + '\n'
        + QCoreApplication::applicationName().toUtf8() + '\n';
    if (::ftruncate(descriptor, 0) != 0
        || ::pwrite(descriptor, content.constData(), size_t(content.size()), 0)
            != ssize_t(content.size()))
        Release();
}

// The file locked, or -1. A holder removes its file as it ends: a file this
// process locked after that is no longer the one the path names.
int TurnFile::Lock() const
{
    const int opened = OpenRegular(path, O_RDWR | O_CREAT);
    if (opened < 0)
        return -1;
    struct stat locked = {};
    struct stat named = {};
    if (::flock(opened, LOCK_EX | LOCK_NB) == 0 && ::fstat(opened, &locked) == 0
        && ::stat(QFile::encodeName(path).constData(), &named) == 0 && locked.st_ino == named.st_ino
        && locked.st_dev == named.st_dev)
        return opened;
    ::close(opened);
    return -1;
}

void TurnFile::Release()
{
    if (descriptor < 0)
        return;
    // Removed while still locked, so that it never names a search that has
    // ended, and the next search, of whichever user, makes its own. Where the
    // folder does not let it go, it is emptied instead; and where even that
    // fails, the lock still goes with the descriptor, and an unlocked file
    // names nobody.
    if (::unlink(QFile::encodeName(path).constData()) != 0) {
        const int emptied = ::ftruncate(descriptor, 0);
        Q_UNUSED(emptied)
    }
    ::close(descriptor);
    descriptor = -1;
}

QString TurnFile::Holder() const
{
    const int opened = OpenRegular(path, O_RDONLY);
    if (opened < 0)
        return QString();
    char content[longestContent + 1] = {};
    ssize_t length = 0;
    if (::flock(opened, LOCK_SH | LOCK_NB) != 0 && errno == EWOULDBLOCK)
        length = ::pread(opened, content, sizeof content, 0);
    ::close(opened);
    if (length <= 0 || length > longestContent)
        return QString();
    const QStringList lines = QString::fromUtf8(content, int(length)).split(QLatin1Char('\n'));
    bool isNumber = false;
    const qint64 pid = lines.constFirst().toLongLong(&isNumber);
    if (!isNumber || !IsAlive(pid))
        return QString();
    // The file is any user's to write: only a plain program name is shown.
    static const QRegularExpression programName(
        QRegularExpression::anchoredPattern(QStringLiteral("[A-Za-z0-9._+-]{1,64}")));
    if (lines.size() < 2 || !programName.match(lines.at(1)).hasMatch())
        return QStringLiteral("process %1").arg(pid);
    return QStringLiteral("process %1 (%2)").arg(pid).arg(lines.at(1));
}
