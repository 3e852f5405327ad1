// Panel timing, output channels and splice.
#include "scaler/c331_manage.h"

int c331_manage::vyrApi_PnlInit2(int ledW, int ledH, int out1w, int out1h, int splice)
{
    call_log.record("vyrApi_PnlInit2", {ledW, ledH, out1w, out1h, splice});
    return 0;
}

void c331_manage::vyrApi_MultiWinChAlloc(char init)
{
    call_log.record("vyrApi_MultiWinChAlloc", {init});
}

void c331_manage::vyrApi_MultiWinChInit()
{
    call_log.record("vyrApi_MultiWinChInit", {});
}
