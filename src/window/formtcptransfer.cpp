#include "formtcptransfer.h"

FormTcpTransfer::FormTcpTransfer(QObject *parent)
    : QObject(parent)
{
}

void FormTcpTransfer::Start_TCP_Transfer()
{
    emit TCP_Transfer();
}
