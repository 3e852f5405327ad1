// Windows, layers, fades and crops.
#include "scaler/c331_manage.h"

void c331_manage::vyrApi_initEnvC331()
{
    call_log.record("vyrApi_initEnvC331", {});
}

void c331_manage::set_output(int)
{
    call_log.record("set_output", {});
}

void c331_manage::c331_SetWinOutput(int, char win, int word)
{
    call_log.record("c331_SetWinOutput", {win, word});
}

void c331_manage::c331_SetWinDbdMode(int, char win, int value)
{
    call_log.record("c331_SetWinDbdMode", {win, value});
}

void c331_manage::c331_SetWinAttr(char win, int word)
{
    call_log.record("c331_SetWinAttr", {win, word});
}

void c331_manage::c331_SetWinPriority(int win, int pri)
{
    call_log.record("c331_SetWinPriority", {win, pri});
}

void c331_manage::c331_SetWinPriority1(int)
{
    call_log.record("c331_SetWinPriority1", {});
}

void c331_manage::c331_SetInputsourceCrop(int win, int word)
{
    call_log.record("c331_SetInputsourceCrop", {win, word});
}

// rect is null when the crop is switched off.
void c331_manage::c331_SetCrop(char win, char enable, ST_RECT* rect)
{
    if (rect)
        call_log.record("c331_SetCrop", {win, enable, rect->x, rect->y, rect->w, rect->h});
    else
        call_log.record("c331_SetCrop", {win, enable});
}
