#include "descriptorbudget.h"

#include <cerrno>
#include <climits>
#include <dirent.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

namespace {

// Where the system lists the process's open descriptors, one entry each.
const char openDescriptors[] = "/proc/self/fd";

} // namespace

void DescriptorBudget::RaiseLimit()
{
    struct rlimit limit;
    if (::getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur >= limit.rlim_max)
        return;
    // An unlimited hard limit is not a number the soft one may take.
    if (limit.rlim_max == RLIM_INFINITY)
        return;
    limit.rlim_cur = limit.rlim_max;
    // Where the system refuses, the soft limit stays and the cap follows it.
    ::setrlimit(RLIMIT_NOFILE, &limit);
}

int DescriptorBudget::Limit()
{
    struct rlimit limit;
    if (::getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY
        || limit.rlim_cur > rlim_t(INT_MAX))
        return INT_MAX;
    return int(limit.rlim_cur);
}

int DescriptorBudget::CamerasAtOnce(int wanted, int cameras)
{
    return CamerasThatFit(qMin(wanted, cameras), Limit(), OpenNow());
}

int DescriptorBudget::CamerasThatFit(int wanted, int limit, int open)
{
    const qint64 room = qint64(limit) - open - reserve;
    return int(qMax<qint64>(1, qMin<qint64>(wanted, room / perCamera)));
}

bool DescriptorBudget::MayKeep(int descriptors)
{
    return qint64(Limit()) - OpenNow() - reserve - descriptors >= qint64(perCamera) * mostAtOnce;
}

// Without the list, as when not even its own descriptor is left, every
// descriptor counts as open: one camera at a time.
int DescriptorBudget::OpenNow()
{
    DIR *directory = ::opendir(openDescriptors);
    if (!directory)
        return Limit();
    int count = 0;
    while (const dirent *entry = ::readdir(directory)) {
        if (entry->d_name[0] != '.')
            ++count;
    }
    ::closedir(directory);
    // The list's own descriptor is among the entries.
    return count - 1;
}

bool DescriptorBudget::IsShortage(int error)
{
    return error == EMFILE || error == ENFILE;
}

bool DescriptorBudget::Exhausted()
{
    const int probe = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
    if (probe >= 0) {
        ::close(probe);
        return false;
    }
    return IsShortage(errno);
}

QString DescriptorBudget::Shortage(const QString &purpose)
{
    return QStringLiteral("no file descriptor left for %1 (the limit is %2)")
        .arg(purpose)
        .arg(Limit());
}
