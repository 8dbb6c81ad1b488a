#include "form_workthread.h"

Form_WorkThread::Form_WorkThread(QObject *parent)
    : QObject(parent)
{
}

void Form_WorkThread::Start_Camera_Updating()
{
    emit Camera_Updating();
}
