// The status watch after the bring-up, which ends with the scaler lifting its forced colour, and
// the interrupt service.
#include "fpga/fpga_manage.h"

#include "base/bytes.h"
#include "params/scaler_hand_over.h"
#include "base/global.h"
#include "base/logMsg.h"
#include "base/utils.h"
#include "params/block_layout.h"
#include "params/vyrrampara.h"

#include <cstring>
#include <string>

namespace {

constexpr uint32_t kMeasureMin = 714286, kMeasureMax = 999999; // frame period of 50-70 Hz at 50 MHz
constexpr uint32_t kMeasureLogTicks = 1000; // a wall dark this long says why in the log, once

bool after(uint32_t stamp, uint32_t ticks)
{
    return Utils::getTimeSpace(stamp) > ticks;
}

}

void fpga_manage::power_up_check_fpga_status(int fpga)
{
    if (fpga < 0 || fpga > 1 || reg_cached(fpga, FpgaReg::State) != FpgaReg::StateUp || vbo_step[fpga] != VboStep::Up ||
        rst_pending[fpga])
        return;
    const int stampWord = 47 + fpga;
    const uint32_t stamp = change_word(stampWord);
    const uint32_t now = G_timeTicks.load();
    auto measureWait = [&] {
        status_step[fpga] = StatusStep::MeasureWait;
        measure_since[fpga] = now;
        measure_logged[fpga] = 0;
    };
    switch (status_step[fpga].load()) {
    case StatusStep::LinkWait:
        if (!after(stamp, 10))
            return;
        read_from_register(FpgaReg::Status, fpga);
        if (reg_cached(fpga, FpgaReg::Status) & 0x80) {
            measureWait();
        } else {
            const uint32_t bound = (status_retry2[fpga] + 1) * 20;
            if (status_retry[fpga] < bound)
                ++status_retry[fpga];
            if (status_retry[fpga] >= bound) {
                if (status_retry2[fpga] > 100)
                    measureWait();
                else
                    ++status_retry2[fpga];
                writeLogMsg(LOG_WARNING, "FPGA " + std::to_string(fpga) + " link not locked, resetting");
                hold_in_reset(fpga);
                vbo_step[fpga] = VboStep::WatchReset;
            }
        }
        set_change_word(stampWord, now);
        break;
    case StatusStep::MeasureWait: {
        if (!after(stamp, 70))
            return;
        uint8_t measure[8];
        if (read_fpga_ram(measure, 116, sizeof measure, 1, fpga) == 0) {
            std::lock_guard<std::mutex> lock(image_mutex);
            memcpy(MCU_RAM_PARA_func[fpga] + 116, measure, sizeof measure);
        } else {
            memset(measure, 0, sizeof measure);
        }
        // One aligned halfword each, written by the pages under the scaler's mutex.
        const VyrRamPara* store = VyrRamPara::p_vyrrampara_config;
        const uint32_t ledW = store ? store->u16(blk::kLedWidth) : 0, ledH = store ? store->u16(blk::kLedHeight) : 0;
        const uint32_t period = getU32(measure + 4);
        if (2u * getU16(measure) >= ledW && 2u * getU16(measure + 2) >= ledH && period >= kMeasureMin && period <= kMeasureMax) {
            write_to_register(FpgaReg::Apply, 0x01, 0x01, fpga);
            write_to_register(FpgaReg::Apply, 0x01, 0x01, fpga);
            status_step[fpga] = StatusStep::LoopStart;
        } else if (!measure_logged[fpga] && after(measure_since[fpga], kMeasureLogTicks)) {
            measure_logged[fpga] = 1;
            writeLogMsg(LOG_WARNING, "FPGA " + std::to_string(fpga) + " output stays off: its input measures " +
                                         std::to_string(getU16(measure)) + " x " + std::to_string(getU16(measure + 2)) +
                                         " at a frame period of " + std::to_string(period) +
                                         " clocks, the LED size " + std::to_string(ledW) + " x " + std::to_string(ledH) +
                                         " needs at least half of it each way at 50-70 Hz");
        }
        set_change_word(stampWord, now);
        break;
    }
    case StatusStep::LoopStart:
        write_to_register(FpgaReg::LinkLoop, 0x01, 0x01, fpga);
        status_step[fpga] = StatusStep::LoopCheck;
        set_change_word(stampWord, now);
        write_to_register(FpgaReg::Control23, 0x02, 0x02, fpga);
        break;
    case StatusStep::LoopCheck:
        if (!after(stamp, 5))
            return;
        read_from_register(FpgaReg::Control23, fpga);
        status_step[fpga] = (reg_cached(fpga, FpgaReg::Control23) & 0x02) ? StatusStep::LoopRead : StatusStep::LoopStart;
        set_change_word(stampWord, now);
        break;
    case StatusStep::LoopRead:
        if (!after(stamp, 20))
            return;
        read_from_register(FpgaReg::LinkLoop, fpga);
        link_loop[fpga] = 1;
        status_step[fpga] = StatusStep::LoopStop;
        break;
    case StatusStep::LoopStop:
        write_to_register(FpgaReg::Control23, 0x02, 0x00, fpga);
        status_step[fpga] = StatusStep::LoopStopCheck;
        set_change_word(stampWord, now);
        break;
    case StatusStep::LoopStopCheck:
        if (!after(stamp, 5))
            return;
        read_from_register(FpgaReg::Control23, fpga);
        status_step[fpga] = (reg_cached(fpga, FpgaReg::Control23) & 0x02) ? StatusStep::LoopStop : StatusStep::HandOver;
        break;
    case StatusStep::HandOver:
        if (link_loop[fpga] != 1)
            return;
        write_to_register(FpgaReg::Apply, 0x01, 0x01, fpga);
        {
            // The scaler lifts its forced colour on this hand-over.
            ScalerHandOver scaler;
            g_force_bkcolor = 0;
            scaler.commit(1);
        }
        status_step[fpga] = StatusStep::Unmute;
        break;
    case StatusStep::Unmute:
        if (!after(stamp, 50))
            return;
        SCREEN_fpgactrl_status2(11, fpga);
        status_step[fpga] = StatusStep::OutputOn;
        write_to_register(FpgaReg::Apply, 0x01, 0x01, fpga);
        write_to_register(FpgaReg::Apply, 0x01, 0x01, fpga);
        set_change_word(stampWord, now);
        break;
    case StatusStep::OutputOn:
        if (!after(stamp, 50))
            return;
        SCREEN_fpgactrl_status2(4, fpga);
        status_step[fpga] = StatusStep::Up;
        set_change_word(stampWord, now);
        break;
    default:
        break;
    }
}

// The caller holds pass_mutex.
void fpga_manage::reg_IRQ_Dealwith(int fpga, int force)
{
    if (fpga < 0 || fpga > 1)
        return;
    const uint8_t state = reg_cached(fpga, FpgaReg::State);
    if (state != 2 && state != FpgaReg::StateUp)
        return;
    // A reply seen by the card link without its interrupt (word 36 + f) is served as one.
    const bool pending = force == 1 || (gpio_read(fpga == 0 ? irq_fpga0 : irq_fpga1) & 1) || change_word(36 + fpga) == 1;
    if (!pending) {
        set_change_word(36 + fpga, 0);
        if (pc_cmd_valid.load() == 1 && pass_pending.load() == 1) {
            if (change_word(42 + fpga) == 0) {
                set_change_word(40 + fpga, G_timeTicks.load());
                set_change_word(42 + fpga, 1);
            } else if (after(change_word(40 + fpga), 1)) {
                check_fpga_net_data_status(fpga);
                set_change_word(42 + fpga, 0);
            }
        }
        return;
    }
    set_change_word(36 + fpga, 0);
    set_change_word(42 + fpga, 0);
    write_to_register(FpgaReg::Status, 0x20, 0x00, fpga);
    read_from_register(FpgaReg::Status, fpga);
    if (reg_cached(fpga, FpgaReg::Status) & 0x40) {
        write_to_register(FpgaReg::Status, 0x60, 0x00, fpga);
        read_from_register(FpgaReg::FpgaIdentity, fpga);
        const uint8_t identity = reg_cached(fpga, FpgaReg::FpgaIdentity);
        if (identity < 25 || identity > 48) {
            write_to_register(FpgaReg::State, 0xFF, 0, fpga); // lost its configuration
            set_change_word(38 + fpga, G_timeTicks.load());
        }
    }
    read_from_register(FpgaReg::RxReadyLow, fpga);
    read_from_register(FpgaReg::RxReadyHigh, fpga);
    if ((reg_cached(fpga, FpgaReg::RxReadyLow) | reg_cached(fpga, FpgaReg::RxReadyHigh)) & 0x55)
        Rcv_data_from_eth(fpga);
    update_eth_state(fpga);
}

void fpga_manage::check_fpga_net_data_status(int fpga)
{
    if (fpga < 0 || fpga > 1)
        return;
    const uint8_t state = reg_cached(fpga, FpgaReg::State);
    if (state != 2 && state != FpgaReg::StateUp)
        return;
    read_from_register(FpgaReg::RxReadyLow, fpga);
    read_from_register(FpgaReg::RxReadyHigh, fpga);
    if (((reg_cached(fpga, FpgaReg::RxReadyLow) | reg_cached(fpga, FpgaReg::RxReadyHigh)) & 0x55) && change_word(36 + fpga) == 0)
        set_change_word(36 + fpga, 1);
}
