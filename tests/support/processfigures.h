#ifndef PROCESSFIGURES_H
#define PROCESSFIGURES_H

#include <QList>
#include <QtGlobal>

// What a process holds, as the kernel tells it under /proc: resident memory,
// its peak, and open descriptors. For the soak test and the benchmarks.
namespace ProcessFigures {

// This process's resident memory (VmRSS) in KiB; -1 when it cannot be read.
qint64 residentKiB();
// The peak of this process's resident memory (VmHWM) in KiB, likewise.
qint64 peakResidentKiB();
// The peak of another process's resident memory; -1 once it is gone.
qint64 peakResidentKiB(qint64 pid);
// Starts this process's peak afresh from its current resident memory, so that
// the peak then holds what follows only. False when the kernel refuses.
bool resetPeakResident();

// This process's open descriptors.
QList<int> openDescriptors();

} // namespace ProcessFigures

#endif // PROCESSFIGURES_H
