// Panel timing, output channels and splice.
#include "scaler/c331_manage.h"

int c331_manage::vyrApi_PnlInit2(int, int, int, int, int)
{
    return 0;
}

void c331_manage::vyrApi_MultiWinChAlloc(char) {}

void c331_manage::vyrApi_MultiWinChInit() {}
