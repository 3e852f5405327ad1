// Input capture and input ports: the routing update group and the per-port upkeep.
#include "scaler/c331_manage.h"

#include "scaler/c331_drv.h"
#include "base/delay.h"
#include "base/logMsg.h"

namespace {
// Routing-update group 0x2201-0x2801 by mode: the chip takes new values over together.
const uint8_t kRoutingGroups[5][7] = {
    {0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00},
    {0x99, 0x99, 0x21, 0x43, 0x55, 0x77, 0x99},
    {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF},
    {0xFF, 0xFF, 0x21, 0x43, 0x55, 0x77, 0xFF},
    {0x99, 0x99, 0xFF, 0xFF, 0xFF, 0xFF, 0x99},
};
// Source id s (0 external, 1 DVI, 2-5 HDMI 1-4) to the chip's input port.
const int kSourcePort[6] = {3, 2, 1, 0, 5, 4};
}

void c331_manage::set_rtct(int fd, int mode)
{
    call_log.record("set_rtct", {mode});
    const uint8_t* group = kRoutingGroups[mode >= 0 && mode <= 3 ? mode : 4];
    drv->write_c331_mask(fd, 0x002901, 1, 1, 0);
    for (uint32_t i = 0; i < 7; ++i)
        drv->write_C331(fd, (0x22 + i) << 8 | 1, group[i], 0);
    drv->write_c331_mask(fd, 0x002901, 0, 1, 0);
}

void c331_manage::c331_SetInputsource(int win, int source)
{
    call_log.record("c331_SetInputsource", {win, source});
    if (win < 0 || win > 5 || source < 0 || source > 5)
        return;
    PM_INPUT[win] = kSourcePort[source];
}

void c331_manage::load_hdmi()
{
    call_log.record("load_hdmi", {});
}

void c331_manage::check_port_valid(int)
{
    call_log.record("check_port_valid", {});
}

void c331_manage::check_input_port(int)
{
    call_log.record("check_input_port", {});
}

bool c331_manage::wait1_povs(int fd, int o)
{
    if (o < 0 || o > 7)
        return false;
    drv->write_C331(fd, 0x050901, 1u << o, 0);
    drv->write_C331(fd, 0x002901, 0x80, 0);
    bool seen = false;
    // Bounded: without an output frame (chip stalled, no panel clock) the caller, often holding
    // the hand-over mutex, must not wait for minutes.
    for (int i = 0; i < kFrameWaitPolls && !seen; ++i) {
        seen = drv->read_C331(fd, 0x052301, 0) & (1u << o);
        if (!seen)
            Delay::ms(1);
    }
    drv->write_C331(fd, 0x050901, 0, 0);
    drv->write_C331(fd, 0x002901, 0, 0);
    if (!seen)
        writeLogMsg(LOG_WARNING, "no output frame on channel " + std::to_string(o));
    return seen;
}
