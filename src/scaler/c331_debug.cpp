// Diagnostic dumps, slide bars and sync tests.
#include "scaler/c331_manage.h"

#include "scaler/c331_drv.h"
#include "base/delay.h"

#include <cstdio>

void c331_manage::input_slidebar() { call_log.record("input_slidebar", {}); }
void c331_manage::output_slidebar() { call_log.record("output_slidebar", {}); }
void c331_manage::disable_slidebar() { call_log.record("disable_slidebar", {}); }
void c331_manage::vbyone_rx_ch1_seq() { call_log.record("vbyone_rx_ch1_seq", {}); }
void c331_manage::vbyone_rx_ch2_seq() { call_log.record("vbyone_rx_ch2_seq", {}); }
void c331_manage::read_c331_b174bug() { call_log.record("read_c331_b174bug", {}); }
void c331_manage::write_read_c331_b80_iacthstch5() { call_log.record("write_read_c331_b80_iacthstch5", {}); }
void c331_manage::vyrDbg_c331_param(int group) { call_log.record("vyrDbg_c331_param", {group}); }
void c331_manage::vyrDbg_c331_print_regGrp(int group) { call_log.record("vyrDbg_c331_print_regGrp", {group}); }
void c331_manage::sync_c331_device_test_input() { call_log.record("sync_c331_device_test_input", {}); }
void c331_manage::sync_c331_device_test_frame_lock() { call_log.record("sync_c331_device_test_frame_lock", {}); }

// Only the registers the manager itself knows so far; the full register list comes with the
// diagnostic dumps.
void c331_manage::c331_print()
{
    static const uint32_t kKnown[] = {0xB20801};
    for (uint32_t desc : kKnown) {
        printf("%06X  %08Xh\n", desc, drv ? drv->read_C331(c331_fd, desc, 0) : 0);
        Delay::us(1);
    }
}
