// Upkeep between card jobs: the clock read, the link watchdog and link report, brightness and
// schedule; and the entry of the USB upgrade.
#include "fpga/fpga_manage.h"

#include "base/global.h"
#include "base/logMsg.h"
#include "base/utils.h"
#include "params/vyrrampara.h"

#include <atomic>
#include <mutex>
#include <string>

void fpga_manage::Record_Time_Deal()
{
    if (Utils::getTimeSpace(readtime_ticks.load()) < kClockReadTicks || !get_fpga_status())
        return;
    // Stamped with the tick it started at: ticks that come while it waits for the clock's lock
    // must not put the next read off.
    const uint32_t stamp = G_timeTicks.load();
    refresh_time();
    readtime_ticks = stamp;
}

TimeRealType fpga_manage::refresh_time()
{
    TimeRealType now = {};
    IT8563WE_Get(&now);
    std::lock_guard<std::mutex> lock(onoff_mutex);
    now.weekday = time_now.weekday;
    time_now = now;
    return now;
}

int fpga_manage::check_vbo_status(int fpga)
{
    if (fpga < 0 || fpga > 1)
        return 0;
    if (Utils::getTimeSpace(change_word(3 + fpga)) < kWatchdogTicks)
        return vbo_wd_flag[fpga];
    const uint32_t stamp = G_timeTicks.load(); // the tick it started at, as the clock read
    if (!vbo_wd_flag[fpga]) {
        int lacking = 0;
        for (int i = 0; i < 8; ++i) {
            read_from_register(FpgaReg::Links, fpga);
            lacking += (reg_cached(fpga, FpgaReg::Links) & 0x1C) != 0x1C;
        }
        if (lacking > 3) {
            vbo_wd_flag[fpga] = 1;
            write_to_register(FpgaReg::Control, 0xC0, 0x00, fpga);
            vbo_wd_phase[fpga] = 0;
        }
    } else if (vbo_wd_phase[fpga] == 0) {
        write_to_register(FpgaReg::Control, 0x40, 0x40, fpga);
        vbo_wd_phase[fpga] = 1;
        vbo_wd_count[fpga] = 0;
    } else {
        read_from_register(FpgaReg::Status, fpga);
        ++vbo_wd_count[fpga];
        if (!(reg_cached(fpga, FpgaReg::Status) & 0x08) || vbo_wd_count[fpga] >= 1000) {
            write_to_register(FpgaReg::Control, 0x80, 0x80, fpga);
            vbo_wd_flag[fpga] = 0;
        }
    }
    set_change_word(3 + fpga, stamp);
    return vbo_wd_flag[fpga];
}

void fpga_manage::check_wlanonline_state()
{
    uint16_t word = 0;
    if (clock_ready() && reg_cached(0, FpgaReg::State) == FpgaReg::StateUp) {
        read_from_register(FpgaReg::PortLinksLow, 0);
        read_from_register(FpgaReg::PortLinksHigh, 0);
        word = uint16_t(reg_cached(0, FpgaReg::PortLinksHigh) << 8 | reg_cached(0, FpgaReg::PortLinksLow));
    }
    if (get_fpga_status() && word != wlan_state_word) {
        wlan_state_word = word;
        if (VyrRamPara* store = VyrRamPara::p_vyrrampara_config)
            store->test_signal(11);
    }
}

void fpga_manage::Extension_function()
{
    if (bri_reload.exchange(0))
        record_bright_change();
    if (bri_task_enable.load())
        Brightness_task();
    if (reg_cached(0, FpgaReg::ScheduleEnabled) == 1)
        dealwith_onoff();
}

namespace {
std::atomic<void (*)(fpga_manage*)> upgradeStep{nullptr};
}

void fpga_manage::set_upgrade_step(void (*step)(fpga_manage*))
{
    upgradeStep = step;
}

// One step of the USB upgrade run per pass; the run ends by clearing g_usb_grade.
void fpga_manage::usb_upgrade_manage_deal(void*)
{
    if (void (*step)(fpga_manage*) = upgradeStep.load())
        step(this);
}
