// On-screen display, fonts and the chip's serial flash.
#include "scaler/c331_manage.h"

void c331_manage::load_char() {}

void c331_manage::read_c331_font(int) {}

void c331_manage::update_font(int) {}

int c331_manage::vyrApi_OsdSet(int, int)
{
    return 0;
}

void c331_manage::update_osd(int) {}

void c331_manage::set_osd(int, int) {}

void c331_manage::set_scroll(int) {}
