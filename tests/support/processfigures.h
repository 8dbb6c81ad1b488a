#ifndef PROCESSFIGURES_H
#define PROCESSFIGURES_H

#include <QList>
#include <QtGlobal>

// What a process holds, as the kernel tells it under /proc: resident memory,
// its peak, and open descriptors. For the soak test and the benchmarks.
namespace ProcessFigures {

// The resident memory (VmRSS) in KiB of this process, or of process pid; -1
// when it cannot be read, as once the process is gone.
qint64 residentKiB(qint64 pid = 0);
// The peak of its resident memory (VmHWM), likewise.
qint64 peakResidentKiB(qint64 pid = 0);
// Starts this process's peak afresh from its current resident memory, so that
// the peak then holds what follows only. False when the kernel refuses.
bool resetPeakResident();

// This process's open descriptors.
QList<int> openDescriptors();

} // namespace ProcessFigures

#endif // PROCESSFIGURES_H
