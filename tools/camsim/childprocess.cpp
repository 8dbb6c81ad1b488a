#include "childprocess.h"

#include <csignal>
#include <sys/prctl.h>

namespace {

// Runs in the child, before exec.
void endWithParent()
{
    ::prctl(PR_SET_PDEATHSIG, SIGTERM);
}

} // namespace

ChildProcess::ChildProcess(QObject *parent)
    : QProcess(parent)
{
#if QT_VERSION >= QT_VERSION_CHECK(6, 0, 0)
    setChildProcessModifier(endWithParent);
#endif
}

#if QT_VERSION < QT_VERSION_CHECK(6, 0, 0)
void ChildProcess::setupChildProcess()
{
    endWithParent();
}
#endif
