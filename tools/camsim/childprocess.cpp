#include "childprocess.h"

#include <csignal>
#include <sys/prctl.h>

ChildProcess::ChildProcess(QObject *parent)
    : QProcess(parent)
{
}

void ChildProcess::setupChildProcess()
{
    ::prctl(PR_SET_PDEATHSIG, SIGTERM);
}
