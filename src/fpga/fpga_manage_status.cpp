// The status watch after the bring-up, which ends with the scaler lifting its forced colour, and
// the interrupt service.
#include "fpga/fpga_manage.h"

#include "base/bytes.h"
#include "scaler/c331_manage.h"
#include "base/global.h"
#include "base/logMsg.h"
#include "base/utils.h"
#include "params/vyrrampara.h"

#include <cstring>
#include <string>

namespace {

constexpr uint32_t kMeasureMin = 714286, kMeasureMax = 999999; // frame period of 50-70 Hz at 50 MHz

bool after(uint32_t stamp, uint32_t ticks)
{
    return Utils::getTimeSpace(stamp) > ticks;
}

}

void fpga_manage::power_up_check_fpga_status(int fpga)
{
    if (fpga < 0 || fpga > 1 || reg_cached(fpga, 80) != 3 || vbo_step[fpga] != 7 || rst_pending[fpga])
        return;
    const int stampWord = 47 + fpga;
    const uint32_t stamp = change_word(stampWord);
    const uint32_t now = G_timeTicks.load();
    switch (status_step[fpga].load()) {
    case 0:
        if (!after(stamp, 10))
            return;
        read_from_register(22, fpga);
        if (reg_cached(fpga, 22) & 0x80) {
            status_step[fpga] = 7;
        } else {
            const uint32_t bound = (status_retry2[fpga] + 1) * 20;
            if (status_retry[fpga] < bound)
                ++status_retry[fpga];
            if (status_retry[fpga] >= bound) {
                if (status_retry2[fpga] > 100)
                    status_step[fpga] = 7;
                else
                    ++status_retry2[fpga];
                writeLogMsg(LOG_WARNING, "FPGA " + std::to_string(fpga) + " link not locked, resetting");
                hold_in_reset(fpga);
                vbo_step[fpga] = 17;
            }
        }
        set_change_word(stampWord, now);
        break;
    case 7: {
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
        const uint32_t ledW = store ? store->u16(0x562) : 0, ledH = store ? store->u16(0x564) : 0;
        const uint32_t period = getU32(measure + 4);
        if (2u * getU16(measure) >= ledW && 2u * getU16(measure + 2) >= ledH && period >= kMeasureMin && period <= kMeasureMax) {
            write_to_register(2, 0x01, 0x01, fpga);
            write_to_register(2, 0x01, 0x01, fpga);
            status_step[fpga] = 1;
        }
        set_change_word(stampWord, now);
        break;
    }
    case 1:
        write_to_register(41, 0x01, 0x01, fpga);
        status_step[fpga] = 8;
        set_change_word(stampWord, now);
        write_to_register(23, 0x02, 0x02, fpga);
        break;
    case 8:
        if (!after(stamp, 5))
            return;
        read_from_register(23, fpga);
        status_step[fpga] = (reg_cached(fpga, 23) & 0x02) ? 2 : 1;
        set_change_word(stampWord, now);
        break;
    case 2:
        if (!after(stamp, 20))
            return;
        read_from_register(41, fpga);
        link_loop[fpga] = 1;
        status_step[fpga] = 9;
        break;
    case 9:
        write_to_register(23, 0x02, 0x00, fpga);
        status_step[fpga] = 10;
        set_change_word(stampWord, now);
        break;
    case 10:
        if (!after(stamp, 5))
            return;
        read_from_register(23, fpga);
        status_step[fpga] = (reg_cached(fpga, 23) & 0x02) ? 9 : 3;
        break;
    case 3:
        if (link_loop[fpga] != 1)
            return;
        write_to_register(2, 0x01, 0x01, fpga);
        {
            // The scaler lifts its forced colour on this hand-over.
            ScalerHandOver scaler;
            g_force_bkcolor = 0;
            scaler.commit(1);
        }
        status_step[fpga] = 14;
        break;
    case 14:
        if (!after(stamp, 50))
            return;
        SCREEN_fpgactrl_status2(11, fpga);
        status_step[fpga] = 15;
        write_to_register(2, 0x01, 0x01, fpga);
        write_to_register(2, 0x01, 0x01, fpga);
        set_change_word(stampWord, now);
        break;
    case 15:
        if (!after(stamp, 50))
            return;
        SCREEN_fpgactrl_status2(4, fpga);
        status_step[fpga] = 18;
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
    const uint8_t state = reg_cached(fpga, 80);
    if (state != 2 && state != 3)
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
    write_to_register(22, 0x20, 0x00, fpga);
    read_from_register(22, fpga);
    if (reg_cached(fpga, 22) & 0x40) {
        write_to_register(22, 0x60, 0x00, fpga);
        read_from_register(31, fpga);
        const uint8_t identity = reg_cached(fpga, 31);
        if (identity < 25 || identity > 48) {
            write_to_register(80, 0xFF, 0, fpga); // lost its configuration
            set_change_word(38 + fpga, G_timeTicks.load());
        }
    }
    read_from_register(129, fpga);
    read_from_register(145, fpga);
    if ((reg_cached(fpga, 129) | reg_cached(fpga, 145)) & 0x55)
        Rcv_data_from_eth(fpga);
    update_eth_state(fpga);
}

void fpga_manage::check_fpga_net_data_status(int fpga)
{
    if (fpga < 0 || fpga > 1)
        return;
    const uint8_t state = reg_cached(fpga, 80);
    if (state != 2 && state != 3)
        return;
    read_from_register(129, fpga);
    read_from_register(145, fpga);
    if (((reg_cached(fpga, 129) | reg_cached(fpga, 145)) & 0x55) && change_word(36 + fpga) == 0)
        set_change_word(36 + fpga, 1);
}

// Replies come only for packets the card link sends; it brings their collection with it.
void fpga_manage::Rcv_data_from_eth(int fpga)
{
}
