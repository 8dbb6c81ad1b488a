#include "processfigures.h"

#include <QByteArray>
#include <QFile>

#include <dirent.h>

namespace ProcessFigures {

namespace {

    qint64 statusKiB(qint64 pid, const QByteArray &field)
    {
        QFile status(QStringLiteral("/proc/%1/status")
                         .arg(pid ? QString::number(pid) : QStringLiteral("self")));
        if (!status.open(QIODevice::ReadOnly))
            return -1;
        const QByteArray prefix = field + ':';
        for (const QByteArray &line : status.readAll().split('\n')) {
            if (line.startsWith(prefix))
                return line.mid(prefix.size()).trimmed().split(' ').value(0).toLongLong();
        }
        return -1;
    }

} // namespace

qint64 residentKiB(qint64 pid)
{
    return statusKiB(pid, "VmRSS");
}

qint64 peakResidentKiB(qint64 pid)
{
    return statusKiB(pid, "VmHWM");
}

bool resetPeakResident()
{
    // "5" is the clear_refs command that resets the peak (Linux 4.0).
    QFile clearRefs(QStringLiteral("/proc/self/clear_refs"));
    return clearRefs.open(QIODevice::WriteOnly) && clearRefs.write("5") == 1;
}

QList<int> openDescriptors()
{
    // Read with the C library: the entries are links to sockets and pipes,
    // which QDir lists only with extra filters.
    QList<int> descriptors;
    DIR *dir = ::opendir("/proc/self/fd");
    if (!dir)
        return descriptors;
    while (const dirent *entry = ::readdir(dir)) {
        bool isNumber = false;
        const int descriptor = QByteArray(entry->d_name).toInt(&isNumber);
        if (isNumber && descriptor != ::dirfd(dir))
            descriptors.append(descriptor);
    }
    ::closedir(dir);
    return descriptors;
}

} // namespace ProcessFigures
