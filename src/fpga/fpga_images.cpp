// The parameter-RAM image of each FPGA: output-port geometry, link state, the RAM check and the
// identity bytes.
#include "fpga/fpga_manage.h"

#include "base/bytes.h"
#include "fpga/fpga_drv.h"
#include "base/global.h"
#include "base/logMsg.h"
#include "base/posix_lock.h"
#include "base/utils.h"
#include "params/block_layout.h"
#include "params/vyrrampara.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace {

constexpr uint32_t kEntries = 296, kEntriesEnd = 360; // sixteen 4-byte entries

// Port positions in the parameter RAM and where the backup keeps them.
struct BackupRun {
    uint16_t para, back, length;
};
constexpr BackupRun kBackupRuns[] = {
    {60, 0, 4}, {8, 4, 8}, {19, 12, 8}, {32, 20, 8}, {43, 28, 8}, {520, 36, 32}, {576, 68, 64}, {56, 132, 4},
};

// Where the backup keeps a mirrored parameter-RAM byte.
uint32_t backupOf(uint32_t paraOffset)
{
    for (const BackupRun& run : kBackupRuns)
        if (paraOffset >= run.para && paraOffset < uint32_t(run.para + run.length))
            return run.back + (paraOffset - run.para);
    return 0;
}

bool fpgaIndex(int fpga)
{
    return fpga == 0 || fpga == 1;
}

uint16_t blockU16(uint32_t offset)
{
    const VyrRamPara* store = VyrRamPara::p_vyrrampara_config;
    return store ? store->u16(offset) : 0;
}

}

void fpga_manage::get_eth_param_addr(int port, uint32_t* x, uint32_t* y, uint32_t* width, uint32_t* height)
{
    static const uint16_t kFirst[4] = {8, 19, 32, 43};
    if (port < 0 || port >= kPorts)
        port = 0;
    const uint32_t at = port < 4 ? kFirst[port] : port < 8 ? 520 + 8 * uint32_t(port - 4) : 576 + 8 * uint32_t(port - 8);
    *x = at;
    *y = at + 2;
    *width = at + 4;
    *height = at + 6;
}

void fpga_manage::get_eth_min_x_y(int fpga, uint16_t* x, uint16_t* y)
{
    uint16_t minX = 0xFFFF, minY = 0xFFFF;
    if (fpgaIndex(fpga)) {
        const uint8_t* para = MCU_RAM_PARA_func[fpga];
        for (int p = 0; p < kPorts; ++p) {
            uint32_t ax, ay, aw, ah;
            get_eth_param_addr(p, &ax, &ay, &aw, &ah);
            minX = std::min(minX, getU16(para + ax));
            minY = std::min(minY, getU16(para + ay));
        }
    }
    *x = minX;
    *y = minY;
}

void fpga_manage::get_eth_max_border(int fpga, uint32_t* right, uint32_t* bottom)
{
    uint32_t r = 0, b = 0;
    if (fpgaIndex(fpga)) {
        const uint8_t* para = MCU_RAM_PARA_func[fpga];
        for (int p = 0; p < kPorts; ++p) {
            uint32_t ax, ay, aw, ah;
            get_eth_param_addr(p, &ax, &ay, &aw, &ah);
            r = std::max<uint32_t>(r, uint32_t(getU16(para + ax)) + getU16(para + aw));
            b = std::max<uint32_t>(b, uint32_t(getU16(para + ay)) + getU16(para + ah));
        }
    }
    *right = r;
    *bottom = b;
}

void fpga_manage::get_eth_lcd_x_y(int fpga, uint16_t* x, uint16_t* y)
{
    const uint8_t* para = MCU_RAM_PARA_func[fpgaIndex(fpga) ? fpga : 0];
    *x = getU16(para + 56);
    *y = getU16(para + 58);
}

void fpga_manage::get_eth_lcd_w_h(int fpga, uint16_t* width, uint16_t* height)
{
    const uint8_t* para = MCU_RAM_PARA_func[fpgaIndex(fpga) ? fpga : 0];
    *width = getU16(para + 60);
    *height = getU16(para + 62);
}

uint16_t fpga_manage::get_port_card_num(int port)
{
    if (port < 0 || port >= kPorts)
        return 0;
    uint32_t count, status;
    card_fields(port, &count, &status);
    std::lock_guard<std::mutex> lock(image_mutex); // search replies are stored from any thread
    return getU16(MCU_RAM_PARA_func[0] + count);
}

void fpga_manage::eth_param_init(int clear, int fpga)
{
    if (clear != 1 || !fpgaIndex(fpga))
        return;
    std::lock_guard<std::mutex> lock(image_mutex);
    for (int p = 0; p < kPorts; ++p) {
        uint32_t ax, ay, aw, ah;
        get_eth_param_addr(p, &ax, &ay, &aw, &ah);
        putU16(MCU_RAM_PARA_func[fpga] + ax, 0);
        putU16(MCU_RAM_PARA_func[fpga] + ay, 0);
        putU16(MCU_RAM_PARA_func[fpga] + aw, 1280);
        putU16(MCU_RAM_PARA_func[fpga] + ah, 512);
    }
}

void fpga_manage::R58_back_mcu_set_net_para(int fpga)
{
    if (!fpgaIndex(fpga))
        return;
    std::lock_guard<std::mutex> lock(image_mutex);
    for (const BackupRun& run : kBackupRuns)
        memcpy(MCU_RAM_ETH_BACK_PARA_func[fpga] + run.back, MCU_RAM_PARA_func[fpga] + run.para, run.length);
}

// The LED offset of the block moves the whole canvas: the word pair at 60/62 and every port.
void fpga_manage::R58_mcu_set_net_para(int fpga)
{
    if (!fpgaIndex(fpga))
        return;
    const uint16_t dx = blockU16(blk::kCanvasX), dy = blockU16(blk::kCanvasY);
    std::lock_guard<std::mutex> lock(image_mutex);
    uint8_t* para = MCU_RAM_PARA_func[fpga];
    const uint8_t* back = MCU_RAM_ETH_BACK_PARA_func[fpga];
    putU16(para + 60, uint16_t(getU16(back + 0) + dx));
    putU16(para + 62, uint16_t(getU16(back + 2) + dy));
    for (int p = 0; p < kPorts; ++p) {
        uint32_t ax, ay, aw, ah;
        get_eth_param_addr(p, &ax, &ay, &aw, &ah);
        putU16(para + ax, uint16_t(getU16(back + backupOf(ax)) + dx));
        putU16(para + ay, uint16_t(getU16(back + backupOf(ay)) + dy));
    }
}

void fpga_manage::update_eth_state(int fpga)
{
    if (!fpgaIndex(fpga))
        return;
    read_from_register(FpgaReg::PortLinksLow, fpga);
    read_from_register(FpgaReg::PortLinksHigh, fpga);
    const uint8_t low = reg_cached(fpga, FpgaReg::PortLinksLow), high = reg_cached(fpga, FpgaReg::PortLinksHigh);

    uint8_t* para = MCU_RAM_PARA_func[fpga];
    struct Change {
        uint32_t at;
        uint8_t value;
    };
    Change links[3];
    int changed = 0;
    {
        std::lock_guard<std::mutex> lock(image_mutex);
        const uint8_t b96 = uint8_t((low & 0x03) | ((low & 0x0C) << 1) | (para[96] & 0xE4));
        const uint8_t b512 = uint8_t((para[512] & 0xF0) | (low >> 4));
        const uint8_t b513 = high;
        for (const Change& c : {Change{96, b96}, Change{512, b512}, Change{513, b513}}) {
            if (para[c.at] != c.value) {
                para[c.at] = c.value;
                links[changed++] = c;
            }
        }
    }
    for (int i = 0; i < changed; ++i)
        write_fpga_ram(&links[i].value, links[i].at, 1, 1, fpga);

    const uint16_t word = uint16_t(high << 8 | low);
    const uint8_t zeros[2] = {0, 0};
    for (int p = 0; p < kPorts; ++p) {
        if (word & (1u << p))
            continue;
        uint32_t count, status;
        card_fields(p, &count, &status);
        {
            std::lock_guard<std::mutex> lock(image_mutex);
            putU16(para + count, 0);
            para[status] = 0;
        }
        write_fpga_ram(zeros, count, 2, 1, fpga);
        write_fpga_ram(zeros, status, 1, 1, fpga);
    }
}

// A read that fails counts as a difference.
int fpga_manage::check_fpga_ram_param(int fpga)
{
    if (!fpgaIndex(fpga))
        return 0;
    const uint8_t* para = MCU_RAM_PARA_func[fpga];
    auto same = [&](uint32_t at) {
        uint8_t got[2];
        return read_fpga_ram(got, at, 2, 1, fpga) == 0 && memcmp(got, para + at, 2) == 0;
    };
    for (int p = 0; p < kPorts; ++p) {
        uint32_t ax, ay, aw, ah;
        get_eth_param_addr(p, &ax, &ay, &aw, &ah);
        for (uint32_t at : {ax, ay, aw, ah})
            if (!same(at))
                return 0;
    }
    for (uint32_t at = kEntries; at < kEntriesEnd; at += 2)
        if (!same(at))
            return 0;
    return 1;
}

void fpga_manage::FPGA_to_RAM(int fpga)
{
    for (int r = 28; r <= 31; ++r) {
        read_from_register(r, fpga);
        PosixLock lock(reg_mutex);
        MCU_RAM_CMD[12 + (r - 28)] = fpgaIndex(fpga) ? MCU_REG_func[fpga][r] : 0;
    }
}

// The id is that of FPGA 0's flash whichever FPGA is asked; its first 8 bytes go to registers
// 32-39 (40 and 41 are link registers).
int fpga_manage::get_control_uid(int fpga)
{
    uint8_t id[16] = {};
    if (fpgadrv->FPGA_SPI_FLASH_SSTF016B_RD_UID(2, id) != 1) {
        writeLogMsg(LOG_ERROR, "fpga_manage: the flash unique id cannot be read");
        return 1;
    }
    for (int i = 0; i < 8; ++i)
        write_to_register(32 + i, 0xFF, id[i], fpga);
    {
        PosixLock cache(reg_mutex); // the transports copy it into the device information
        memcpy(control_uid, id, sizeof id);
    }
    control_id = Utils::calcCRC32(id, sizeof id);
    if (traceOn())
        printf("\n device_id = %#x \n", control_id);
    return 0;
}
