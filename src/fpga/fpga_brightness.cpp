// Brightness and the relay path of the multifunction card: the entry points the mailbox and the
// worker call. The sensor and half-hour passes and the relay traffic come with the card link.
#include "fpga/fpga_manage.h"
#include "fpga/fpga_flash_layout.h"

#include "base/bytes.h"
#include "scaler/c331_manage.h"
#include "fpga/fpga_drv.h"
#include "base/global.h"
#include "base/posix_lock.h"
#include "base/utils.h"
#include "params/block_layout.h"
#include "params/vyrrampara.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr uint32_t kBrightnessRecordSize = 57;
constexpr uint32_t kOnOffRecordSize = 50;

bool rawMode(uint32_t mode)
{
    return mode == 16 || mode == 17;
}

uint8_t reg(fpga_manage& m, int fpga, int r)
{
    return m.reg_cached(fpga, r);
}

void setReg(fpga_manage& m, int fpga, int r, uint8_t v)
{
    PosixLock lock(m.reg_mutex);
    m.MCU_REG_func[fpga][r] = v;
}

}

void fpga_manage::Power_ctrl_init()
{
    relay_counter = 1;
    relay_stop_armed = relay_stop_enable = relay_power = 0;
}

void fpga_manage::Power_ctrl_reset()
{
    relay_counter = 1;
    relay_stop_armed = 0;
    relay_stop_enable = 1;
    relay_power = 0;
}

// Level (or raw value) to register 6; with the block's percentage changed, the percentage wins
// and is kept as a raw record, so the loaded mode becomes 16 as a reload would make it.
int fpga_manage::Brightness_hand_dealwith(uint8_t)
{
    VyrRamPara* store = VyrRamPara::p_vyrrampara_config;
    const bool fromBlock = bri_request.load() != 0;
    read_from_register(FpgaReg::PortLinksLow, 0);
    read_from_register(FpgaReg::PortLinksHigh, 0);
    if (reg(*this, 0, FpgaReg::PortLinksLow) != 0 || reg(*this, 0, FpgaReg::PortLinksHigh) != 0) {
        {
            std::lock_guard<std::mutex> lock(image_mutex);
            MCU_RAM_PARA_func[0][256] = 1;
        }
        uint8_t v;
        if (fromBlock) {
            const uint32_t percent = std::min<uint32_t>(store ? store->u16(blk::kBrightness) : 100, 100);
            v = uint8_t(percent * 255 / 100);
            if (!rawMode(bri_mode))
                v = std::max<uint8_t>(v, 15);
            setReg(*this, 0, FpgaReg::ManualBrightness, v);
        } else {
            v = reg(*this, 0, FpgaReg::ManualBrightness);
            if (!rawMode(bri_mode))
                v = uint8_t(v * 16 - 1);
            const uint16_t percent = uint16_t(v * 100 / 255);
            if (store && store->u16(blk::kBrightness) != percent) {
                {
                    ScalerHandOver scaler;
                    blk::put16(store->block, blk::kBrightness, percent);
                }
                store->test_signal(1);
            }
        }
        write_to_register(FpgaReg::Brightness, 0xFF, v, 0);
        write_to_register(FpgaReg::Control, 0x04, 0x04, 0);
    }
    if (fromBlock) {
        uint8_t record[kBrightnessRecordSize] = {0xAA, 0x03, 0xAA, 0x00, 0x00, 0x00, 0x31, 0x00, 0x10};
        memset(record + 9, reg(*this, 0, FpgaReg::ManualBrightness), kBrightnessRecordSize - 9);
        store_flash_record(FpgaFlash::kBrightnessRecord, record, kBrightnessRecordSize);
        bri_mode = 16;
        bri_resend = 0;
    }
    return 1;
}

void fpga_manage::Brightness_init(const uint8_t* record)
{
    bri_mode = record[8];
    bri_last_slot = 255;
    bri_task_enable = 0;
    switch (bri_mode) {
    case 0:
    case 16: {
        const uint8_t level = bri_mode == 0 ? std::min<uint8_t>(record[9], 16) : record[9];
        bri_level = level;
        setReg(*this, 0, FpgaReg::ManualBrightness, level);
        bri_resend = 0;
        bri_task_enable = 1;
        break;
    }
    case 1:
    case 17:
        memcpy(HalfHourValue, record + 9, sizeof HalfHourValue);
        bri_task_enable = 1;
        break;
    case 2:
        bri_task_enable = 1;
        break;
    default:
        break;
    }
}

void fpga_manage::record_bright_change()
{
    if (reg(*this, 0, FpgaReg::State) != FpgaReg::StateUp)
        return;
    uint8_t marker = 0;
    if (fpgadrv->FPGA_SPI_FLASH_VBYONE_READ(FpgaFlash::kSelector0, FpgaFlash::kBrightnessRecord, 1, &marker) != 1 || marker != 0xAA) {
        bri_task_enable = 0;
        bri_level = 16;
        return;
    }
    if (fpgadrv->FPGA_SPI_FLASH_VBYONE_READ(FpgaFlash::kSelector0, FpgaFlash::kBrightnessRecord, kBrightnessRecordSize, MCU_RAM_CMD) == 1)
        Brightness_init(MCU_RAM_CMD);
}

// The schedule is always FPGA 0's, whichever FPGA is being initialised.
void fpga_manage::record_onoff_time(int selector)
{
    if (reg(*this, 0, FpgaReg::State) != FpgaReg::StateUp && selector != 2)
        return;
    uint8_t marker = 0;
    if (fpgadrv->FPGA_SPI_FLASH_VBYONE_READ(FpgaFlash::kSelector0, FpgaFlash::kOnOffRecord, 1, &marker) != 1 || marker != 0xAA)
        return;
    if (fpgadrv->FPGA_SPI_FLASH_VBYONE_READ(FpgaFlash::kSelector0, FpgaFlash::kOnOffRecord, kOnOffRecordSize, MCU_RAM_CMD) != 1)
        return;
    OnOff_time(MCU_RAM_CMD);
    setReg(*this, 0, FpgaReg::ScheduleEnabled, 1);
}

// Only the pacing so far: the mode passes need the multifunction card link.
void fpga_manage::Brightness_task()
{
    if (Utils::getTimeSpace(bri_stamp) < kBrightnessTaskTicks)
        return;
    bri_stamp = G_timeTicks.load();
}
