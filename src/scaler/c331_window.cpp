// Windows, layers, fades and crops.
#include "scaler/c331_manage.h"

void c331_manage::vyrApi_initEnvC331() {}

void c331_manage::set_output(int) {}

void c331_manage::c331_SetWinOutput(int, char, int) {}

void c331_manage::c331_SetWinDbdMode(int, char, int) {}

void c331_manage::c331_SetWinAttr(char, int) {}

void c331_manage::c331_SetWinPriority(int, int) {}

void c331_manage::c331_SetWinPriority1(int) {}

void c331_manage::c331_SetInputsourceCrop(int, int) {}

void c331_manage::c331_SetCrop(char, char, ST_RECT*) {}
