// On-screen display, fonts and the chip's serial flash.
#include "scaler/c331_manage.h"

void c331_manage::load_char()
{
    call_log.record("load_char", {});
}

void c331_manage::read_c331_font(int)
{
    call_log.record("read_c331_font", {});
}

void c331_manage::update_font(int)
{
    call_log.record("update_font", {});
}

int c331_manage::vyrApi_OsdSet(int type, int value)
{
    call_log.record("vyrApi_OsdSet", {type, value});
    return 0;
}

void c331_manage::update_osd(int)
{
    call_log.record("update_osd", {});
}

void c331_manage::set_osd(int, int plane)
{
    call_log.record("set_osd", {plane});
}

void c331_manage::set_scroll(int)
{
    call_log.record("set_scroll", {});
}
