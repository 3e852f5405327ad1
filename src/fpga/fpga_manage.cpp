// FPGA access: the GPIO window, command words, register and RAM transfers and the register cache.
#include "fpga/fpga_manage.h"

#include "params/scaler_hand_over.h"
#include "fpga/fpga_drv.h"
#include "base/global.h"
#include "base/logMsg.h"
#include "base/posix_lock.h"
#include "platform/mem_window.h"
#include "platform/spi_bus.h"
#include "base/utils.h"
#include "params/block_layout.h"
#include "params/vyrrampara.h"

#include <QMutexLocker>
#include <cstdio>
#include <cstring>
#include <vector>

fpga_manage* fpga_manage::p_fpga_manage = nullptr;
uint8_t fpga_manage::MCU_RAM_CMD[kRamSize];
uint8_t fpga_manage::MCU_RAM_EXTEND[kRamSize];
uint8_t fpga_manage::MCU_RAM_ZOOM[kRamSize];
uint8_t fpga_manage::MCU_RAM_DEFAULT[2 * kRamSize];

namespace {

constexpr uint32_t kBankSize = 0x1000;
constexpr size_t kWindowNeeded = 0x207950; // up to FPGA 1's command-phase word
constexpr uint8_t kRegOp = 2, kRamOp = 1;

std::atomic<bool> unmappedNoted{false};

void noteUnmapped()
{
    if (!unmappedNoted.exchange(true))
        writeLogMsg(LOG_ERROR, "fpga_manage: GPIO word used before the window was mapped");
}

// Register 0 bit 2 blanks the wall; a plain blank/show request (mask 4) outside the LED-size
// hand-over is also the block's blank flag, which the scaler worker reads under its mutex.
// A write made from the block's word (blackRead) leaves the block alone once another writer, such
// as a tool's recall, has replaced that word since: checked and set in one hold of the hand-over.
void screenControlWritten(fpga_manage& m, bool blank, uint8_t mask, const uint16_t* blackRead)
{
    ScreenState = blank ? 0 : 1;
    VyrRamPara* store = VyrRamPara::p_vyrrampara_config;
    if (mask == 0x04 && g_set_led_para.load() == 0 && store) {
        bool set = false;
        {
            ScalerHandOver scaler;
            set = !blackRead || store->boxWord(blk::kBlackScreen) == *blackRead;
            // A write-back leaves a tool's write waiting for its apply; a request is the box's own.
            if (set && blackRead)
                store->setBoxWord(blk::kBlackScreen, blank ? 1 : 0);
            else if (set)
                store->setU16(blk::kBlackScreen, blank ? 1 : 0);
        }
        if (set)
            store->test_signal(1);
    }
    PosixLock lock(m.reg_mutex);
    fpga_manage::MCU_RAM_EXTEND[29] = ScreenState.load();
}

bool fpgaIndex(int fpga)
{
    return fpga == 0 || fpga == 1;
}

}

fpga_manage::fpga_manage()
{
    writeLogMsg(LOG_INFO, "====fpga_manage::fpga_manage()=====");
    pthread_mutex_init(&reg_mutex, nullptr);
    for (int f = 0; f < 2; ++f) {
        MCU_REG_func[f] = reg_cache_[f];
        MCU_RAM_PARA_func[f] = para_[f];
        MCU_RAM_RX_func[f] = rx_[f];
        MCU_RAM_TX_func[f] = tx_[f];
        MCU_RAM_ETH_PARA_func[f] = eth_para_[f];
        MCU_RAM_ETH_BACK_PARA_func[f] = eth_back_[f];
    }
    memset(HalfHourValue, 15, sizeof HalfHourValue);
    fpgadrv = new fpga_drv(this);
}

void fpga_manage::gpio_write(uint32_t word, uint16_t value)
{
    fpga_manage* m = p_fpga_manage;
    if (m && m->window)
        m->window->write16(word, value);
    else
        noteUnmapped();
}

uint16_t fpga_manage::gpio_read(uint32_t word)
{
    fpga_manage* m = p_fpga_manage;
    if (m && m->window)
        return m->window->read16(word);
    noteUnmapped();
    return 0;
}

// FPGA 1 and its flash stay closed: the worker drives FPGA 0 only. The worker needs the window
// and FPGA 0's device; without the flash device only the flash reads fail (defaults are used).
int fpga_manage::setupWindow()
{
    window.reset(); // from scratch: a failed set-up leaves no word of an older window behind
    spi_fpga[0] = fpgadrv->initialize_vbyne1(0);
    spi_flash[0] = fpgadrv->initialize_vbyne1(2);
    if (!spi_flash[0])
        writeLogMsg(LOG_ERROR, "fpga_manage: configuration flash of FPGA 0 missing, its records read as absent");

    uint32_t physical = 0, length = 0;
    if (!platform::msysRequest(&physical, &length)) {
        printf("\n DMEM request failed!!");
        writeLogMsg(LOG_ERROR, "fpga_manage: /dev/msys window request failed");
        return 255;
    }
    std::unique_ptr<platform::MemWindow> w = platform::openMemWindow(physical, length);
    if (!w || w->size() < kWindowNeeded) {
        printf("\n NULL pointer!");
        writeLogMsg(LOG_ERROR, "fpga_manage: /dev/mem window cannot be mapped");
        return 255;
    }
    window = std::move(w);
    gpio_write(ite6805_path, 0);
    gpio_write(it6602_path, 0);
    gpio_write(edid_wp, 16);
    gpio_write(board_1f1c, 1);
    return spi_fpga[0] ? 0 : 255;
}

// Byte 0 holds the 4-bit op and the read bit; the word goes out least significant byte first.
uint32_t fpga_manage::fpga_cmd_to_spi_data(uint8_t op, uint8_t bank, uint16_t address, uint8_t read)
{
    const uint32_t b0 = uint32_t(((op & 0x0F) << 1) | (read & 1));
    return b0 | uint32_t(bank) << 8 | uint32_t(address & 0xFF) << 16 | uint32_t((address >> 8) & 0x0F) << 24;
}

uint32_t fpga_manage::fpga_reg_cmd_to_spi_data(uint8_t op, uint8_t bank, uint8_t reg, uint8_t read, uint8_t mask)
{
    const uint32_t b0 = uint32_t(((op & 0x0F) << 1) | (read & 1));
    return b0 | uint32_t(bank) << 8 | uint32_t(reg) << 16 | uint32_t(read ? 0 : mask) << 24;
}

// Command phase, then data phase, with the FPGA selected and the other one released.
int fpga_manage::transfer(int fpga, uint32_t command, const uint8_t* tx, uint8_t* rx, uint32_t length)
{
    if (!fpgaIndex(fpga) || !spi_fpga[fpga] || !window) // without the selects the FPGA cannot listen
        return 1;
    platform::SpiBus* fd = spi_fpga[fpga].get();
    const uint8_t cmd[4] = {uint8_t(command), uint8_t(command >> 8), uint8_t(command >> 16), uint8_t(command >> 24)};
    QMutexLocker bus(&Utils::_spi_mutex);
    if (fpga == 0) {
        gpio_write(cmd_fpga0, 16);
        gpio_write(cs_fpga0, 0);
        gpio_write(cs_fpga1, 16);
    } else {
        gpio_write(cmd_fpga1, 1);
        gpio_write(cs_fpga1, 0);
        gpio_write(cs_fpga0, 16);
    }
    bool ok = fpgadrv->SPI_Transfer_Write(fd, cmd, 4) > 0;
    gpio_write(fpga == 0 ? cmd_fpga0 : cmd_fpga1, 0);
    if (ok)
        ok = fpgadrv->SPI_Transfer(fd, tx, rx, length) > 0;
    gpio_write(cs_fpga0, 16);
    gpio_write(cs_fpga1, 16);
    return ok ? 0 : 1;
}

int fpga_manage::read_fpga_register(uint8_t reg, uint8_t* result, int fpga)
{
    const uint8_t clock = 0xFF;
    uint8_t got = 0;
    if (transfer(fpga, fpga_reg_cmd_to_spi_data(kRegOp, 0, reg, 1, 0), &clock, &got, 1) != 0)
        return 1;
    if (result)
        *result = got;
    return 0;
}

int fpga_manage::write_fpga_register(uint8_t reg, uint8_t value, int fpga, uint8_t mask)
{
    return transfer(fpga, fpga_reg_cmd_to_spi_data(kRegOp, 0, reg, 0, mask), &value, nullptr, 1);
}

int fpga_manage::write_fpga_ram(const uint8_t* buffer, uint32_t address, uint32_t length, int bank, int fpga)
{
    const uint32_t at = address & 0xFFF;
    if (!buffer || !fitted(fpga) || bank < 0 || bank > 255 || at + uint64_t(length) > kBankSize)
        return 1;
    if (length == 0)
        return 0;
    return transfer(fpga, fpga_cmd_to_spi_data(kRamOp, uint8_t(bank), uint16_t(at), 0), buffer, nullptr, length);
}

// A failed read leaves the buffer as it was.
int fpga_manage::read_fpga_ram(uint8_t* buffer, uint32_t address, uint32_t length, int bank, int fpga)
{
    const uint32_t at = address & 0xFFF;
    if (!buffer || bank < 0 || bank > 255 || at + uint64_t(length) > kBankSize)
        return 1;
    if (length == 0)
        return 0;
    std::vector<uint8_t> clock(length, 0xFF), got(length);
    if (transfer(fpga, fpga_cmd_to_spi_data(kRamOp, uint8_t(bank), uint16_t(at), 1), clock.data(), got.data(), length) != 0)
        return 1;
    memcpy(buffer, got.data(), length);
    return 0;
}

int fpga_manage::read_from_register(int reg, int fpga)
{
    if (!fpgaIndex(fpga) || reg < 0 || reg >= int(kRegCount) || (reg >= 64 && reg <= 127))
        return 1;
    uint8_t value = 0;
    if (read_fpga_register(uint8_t(reg), &value, fpga) != 0)
        return 1;
    PosixLock lock(reg_mutex);
    reg_cache_[fpga][reg] = value;
    return 0;
}

bool fpga_manage::fitted(int fpga) const
{
    return fpgaIndex(fpga) && spi_fpga[fpga] != nullptr;
}

bool fpga_manage::heldInReset(int fpga) const
{
    return fpgaIndex(fpga) && rst_pending[fpga].load() != 0;
}

int fpga_manage::write_to_register(int reg, uint8_t mask, uint8_t value, int fpga, const uint16_t* blackRead)
{
    if (!fitted(fpga) || reg < 0 || reg >= int(kRegCount) || (reg >= 97 && reg <= 127))
        return 1;
    const bool programOnly = reg >= 64 && reg <= 96;
    // The FPGA's own value is what the mask keeps: without it nothing is written.
    if (!programOnly && read_from_register(reg, fpga) != 0)
        return 1;
    uint8_t sent, held;
    {
        PosixLock lock(reg_mutex);
        uint8_t& cached = reg_cache_[fpga][reg];
        held = cached;
        cached = uint8_t((cached & ~mask) | (value & mask));
        sent = cached;
    }
    if (programOnly)
        return 0;
    bool served = true;
    if (reg == 2) {
        // The doorbell and bit 1 are requests to this side; the FPGA never keeps them.
        if (sent & 0x04) {
            sent &= uint8_t(~0x04);
            served = Dealwith_mcu_ram();
        }
        sent &= uint8_t(~0x02);
    } else if (reg == 0) {
        screenControlWritten(*this, sent & 0x04, mask, blackRead);
    }
    if (write_fpga_register(uint8_t(reg), sent, fpga, mask) != 0) {
        PosixLock lock(reg_mutex);
        reg_cache_[fpga][reg] = held; // the cache holds what the FPGA holds
        return 1;
    }
    return served ? 0 : 1;
}

bool fpga_manage::fpgaUp(int fpga)
{
    return fpgaIndex(fpga) && reg_cached(fpga, FpgaReg::State) == FpgaReg::StateUp;
}
