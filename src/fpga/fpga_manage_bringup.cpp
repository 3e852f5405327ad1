// FPGA 0's bring-up: reset and its release, the V-by-One steps S and the initialisation of its
// parameter RAM.
#include "fpga/fpga_manage.h"
#include "fpga/fpga_flash_layout.h"

#include "base/bytes.h"
#include "fpga/fpga_drv.h"
#include "base/global.h"
#include "base/logMsg.h"
#include "base/posix_lock.h"
#include "base/utils.h"
#include "params/vyrrampara.h"

#include <cstdio>
#include <cstring>
#include <string>

namespace {

constexpr uint32_t kResetTicks = 200;
constexpr uint32_t kStepTicks = 30;
constexpr uint32_t kEntryFirst = 296, kEntryEnd = 360;

bool configured(uint8_t identity)
{
    return identity >= 25 && identity <= 48;
}

bool after(uint32_t stamp, uint32_t ticks)
{
    return Utils::getTimeSpace(stamp) > ticks;
}

void traceStep(int step, int fpga)
{
    if (traceOn())
        printf("\n +++++++++++++++++++++FPGA[%d]_VBO_INIT_S%d++++++++++++++++++++++++ !!!\n", fpga, step);
}

void setState(fpga_manage& m, int fpga, uint8_t state)
{
    m.write_to_register(FpgaReg::State, 0xFF, state, fpga); // program-only register: the cache alone
}

}

const uint8_t fpga_manage::RAM1[256] = {
    0x00, 0x05, 0x00, 0x04, 0x76, 0x05, 0xD2, 0x01, 0, 0, 0, 0, 0, 0x05, 0, 0x02, // 0
    0, 0, 0, 0, 0, 0, 0, 0, 0x05, 0, 0x02, 0, 0, 0, 0x02, 0,                    // 16
    0, 0, 0, 0, 0, 0x01, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,                          // 32
    0x01, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x05, 0, 0x04,                    // 48
    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,                             // 64
    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,                             // 80
    0x05, 0, 0, 0, 0x02, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,                       // 96
    0, 0, 0, 0, 0x56, 0x05, 0, 0x03, 0xD9, 0xB8, 0x0C, 0, 0, 0, 0, 0,           // 112
};

uint32_t fpga_manage::change_word(int word)
{
    uint32_t v = 0;
    if (word >= 0 && word < int(sizeof g_change / 4))
        memcpy(&v, g_change + 4 * word, 4);
    return v;
}

void fpga_manage::set_change_word(int word, uint32_t value)
{
    if (word >= 0 && word < int(sizeof g_change / 4))
        memcpy(g_change + 4 * word, &value, 4);
}

void fpga_manage::hold_in_reset(int fpga)
{
    if (fpga < 0 || fpga > 1)
        return;
    // The worker reads the flag first, then the stamp: the stamp must be there before the flag,
    // or a request could be paired with an old stamp and released at once. Under the lock, a
    // request made while the worker releases the previous one is neither released nor dropped.
    std::lock_guard<std::mutex> lock(rst_mutex);
    gpio_write(fpga == 0 ? rst_fpga0 : rst_fpga1, 0);
    rst_stamp[fpga] = G_timeTicks.load();
    rst_pending[fpga] = 1;
}

// Only FPGA 0 is ever released: FPGA 1 is not driven.
void fpga_manage::check_fpga_rst()
{
    if (!rst_pending[0] || !after(rst_stamp[0], kResetTicks))
        return;
    {
        std::lock_guard<std::mutex> lock(rst_mutex);
        if (!rst_pending[0] || !after(rst_stamp[0], kResetTicks))
            return; // asked again meanwhile
        gpio_write(rst_fpga0, 16);
        rst_pending[0] = 0;
    }
    {
        PosixLock lock(reg_mutex);
        MCU_REG_func[0][FpgaReg::State] = 0;
        MCU_REG_func[0][FpgaReg::FpgaIdentity] = 0;
    }
    status_step[0] = StatusStep::LinkWait;
    vbo_step[0] = VboStep::Start;
    vbo_err[0] = 0;
    {
        PosixLock lock(pass_mutex); // the transports' interrupt service writes the same record
        set_change_word(38, G_timeTicks.load());
    }
}

void fpga_manage::power_up_fpga_start(int check, int fpga)
{
    if (fpga < 0 || fpga > 1)
        return;
    if (check && reg_cached(fpga, FpgaReg::State) == FpgaReg::StateUp && vbo_step[fpga] == VboStep::Up)
        return;
    // Held in reset the FPGA reads 0: steps taken now would clear the retry count that limits
    // the resets, so the steps wait for the release.
    if (rst_pending[fpga])
        return;
    const int stampWord = 32 + fpga;
    if (!after(change_word(stampWord), kStepTicks))
        return;
    const uint32_t now = G_timeTicks.load();
    if (!configured(reg_cached(fpga, FpgaReg::FpgaIdentity))) {
        for (int reg : {FpgaReg::FpgaIdentity, 30, 29, FpgaReg::IdentityFirst, FpgaReg::Identity7})
            read_from_register(reg, fpga);
        vbo_step[fpga] = VboStep::LinkOn;
        vbo_err[fpga] = 0;
        set_change_word(stampWord, now);
        return;
    }
    bool renew = true;
    switch (vbo_step[fpga].load()) {
    case VboStep::LinkOn:
        traceStep(1, fpga);
        write_to_register(FpgaReg::Control, 0x40, 0x40, fpga);
        vbo_step[fpga] = VboStep::LinkCheck;
        break;
    case VboStep::LinkCheck:
        traceStep(2, fpga);
        read_from_register(FpgaReg::Status, fpga);
        if (!(reg_cached(fpga, FpgaReg::Status) & 0x08)) {
            vbo_step[fpga] = VboStep::VboOn;
            break;
        }
        if (traceOn())
            printf("\n +++++++++++++++++FPGA[[%d]]_VBO_INIT_S2 error!!!++++++++++++++++\n", fpga);
        if (++vbo_err[fpga] < 5)
            break;
        if (++vbo_retry[fpga] < 3) {
            if (traceOn())
                printf("\n +++++++++++++++++FPGA[%d]_VBO_INIT_S2 reset!!!++++++++++++++++\n", fpga);
            hold_in_reset(fpga);
        } else {
            vbo_step[fpga] = VboStep::VboOn;
        }
        break;
    case VboStep::VboOn:
        traceStep(3, fpga);
        write_to_register(FpgaReg::Control, 0x80, 0x80, fpga);
        vbo_step[fpga] = VboStep::VboCheck;
        vbo_err[fpga] = 0;
        vbo_retry[fpga] = 0;
        break;
    case VboStep::VboCheck:
        traceStep(5, fpga);
        read_from_register(FpgaReg::Status, fpga);
        if (reg_cached(fpga, FpgaReg::Status) & 0x10) {
            vbo_step[fpga] = VboStep::Enable;
            vbo_retry[fpga] = 0;
            write_to_register(FpgaReg::Control23, 0x01, 0x00, fpga);
            break;
        }
        if (traceOn())
            printf("\n +++++++++++++++++FPGA[%d]_VBO_INIT_S5 error!!!++++++++++++++++\n", fpga);
        if (++vbo_err[fpga] < 6)
            break;
        if (++vbo_retry[fpga] >= 3)
            vbo_step[fpga] = VboStep::Enable;
        break;
    case VboStep::Enable:
        traceStep(6, fpga);
        write_to_register(FpgaReg::Control23, 0x01, 0x01, fpga);
        setState(*this, fpga, FpgaReg::StateUp);
        fpgainit(fpga);
        setState(*this, fpga, FpgaReg::StateUp);
        vbo_step[fpga] = VboStep::Up;
        renew = false;
        break;
    default:
        break;
    }
    if (renew)
        set_change_word(stampWord, now);
}

void fpga_manage::fpgainit(int fpga)
{
    if (fpga < 0 || fpga > 1)
        return;
    const int flash = fpga + 2;
    // 1. the initial table of bank 50, staged in the TX image
    if (fpgadrv->FPGA_SPI_FLASH_VBYONE_READ(flash, FpgaFlash::kBank50Table, 256, MCU_RAM_TX_func[fpga]) == 1)
        write_fpga_ram(MCU_RAM_TX_func[fpga], 0, 256, 50, fpga);
    else
        writeLogMsg(LOG_ERROR, "FPGA " + std::to_string(fpga) + ": bank-50 table not read from flash");
    // 2.-5.
    get_control_uid(fpga);
    write_to_register(FpgaReg::Control23, 0x40, 0x40, fpga);
    write_to_register(FpgaReg::Control23, 0x40, 0x00, fpga);
    read_from_register(FpgaReg::Status, fpga);
    write_to_register(FpgaReg::Status, 0x20, 0x00, fpga);
    record_bright_change();
    record_onoff_time(2);
    for (int i = 0; i < 3; ++i)
        read_from_register(FpgaReg::Status21, fpga);

    // 6. the saved parameter image, else the defaults
    uint8_t marker = 0;
    const bool saved = fpgadrv->FPGA_SPI_FLASH_VBYONE_READ(flash, FpgaFlash::kSavedImageMarker, 1, &marker) == 1 && marker == 0xAA;
    uint8_t image[kRamSize];
    if (saved && fpgadrv->FPGA_SPI_FLASH_VBYONE_READ(flash, FpgaFlash::kSavedImage, kRamSize, image) == 1) {
        memset(image + 96, 0, 32);
        {
            std::lock_guard<std::mutex> lock(image_mutex);
            memcpy(MCU_RAM_PARA_func[fpga], image, kRamSize);
        }
        eth_param_init(0, fpga);
        R58_back_mcu_set_net_para(fpga);
        R58_mcu_set_lcd_x_y_para(fpga);
        if (fpga == 0)
            R58_mcu_set_net_para(0);
    } else {
        {
            std::lock_guard<std::mutex> lock(image_mutex);
            uint8_t* para = MCU_RAM_PARA_func[fpga];
            memcpy(para, RAM1, sizeof RAM1);
            for (uint32_t at = kEntryFirst; at < kEntryEnd; at += 4) {
                const uint8_t entry[4] = {0x76, 0x05, 0xD2, 0x01};
                memcpy(para + at, entry, 4);
            }
            para[496] = 0;
            para[498] = 0;
        }
        eth_param_init(1, fpga);
        R58_back_mcu_set_net_para(fpga);
    }
    // 7.-8. port numbers, then the whole image to the FPGA and applied
    {
        std::lock_guard<std::mutex> lock(image_mutex);
        for (int p = 0; p < 16; ++p)
            MCU_RAM_PARA_func[fpga][276 + p] = uint8_t(16 * fpga + p + 1);
        memcpy(image, MCU_RAM_PARA_func[fpga], kRamSize);
    }
    write_fpga_ram(image, 0, kRamSize, 1, fpga);
    update_eth_state(fpga);
    FPGA_to_RAM(fpga);
    write_to_register(FpgaReg::Apply, 0x08, 0x08, fpga);

    // 9. A mismatch resets the FPGA; a lasting one would blank the wall every few seconds for
    // ever, so after a few in a row the FPGA runs with what it holds.
    ram_check[fpga] = uint8_t(check_fpga_ram_param(fpga));
    if (ram_check[fpga]) {
        ram_check_fails[fpga] = 0;
        return;
    }
    if (ram_check_fails[fpga] < 255)
        ++ram_check_fails[fpga];
    const int fails = ram_check_fails[fpga];
    if (fails > kRamCheckResets) {
        if (fails == kRamCheckResets + 1)
            writeLogMsg(LOG_ERROR, "FPGA " + std::to_string(fpga) + " parameter RAM still differs after " +
                                       std::to_string(kRamCheckResets) + " resets, running without reset");
        return;
    }
    writeLogMsg(LOG_ERROR, "FPGA " + std::to_string(fpga) + " parameter RAM check failed (" + std::to_string(fails) +
                               " in a row), resetting");
    if (traceOn())
        printf("\n check fpga%d ram error ,start to reset .... \n", fpga + 1);
    hold_in_reset(fpga);
}
