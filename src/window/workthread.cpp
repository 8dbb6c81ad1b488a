#include "workthread.h"

WorkThread::WorkThread(QObject *parent)
    : QObject(parent)
{
}

void WorkThread::StartDelaySignal()
{
    emit DelaySignal();
}
