#include "fpga_manage.h"

#include "fpga_drv.h"
#include "global.h"
#include "networkmanage.h"

#include <cstring>

fpga_manage* fpga_manage::p_fpga_manage = nullptr;
uint8_t fpga_manage::MCU_RAM_CMD[kRamSize];
uint8_t fpga_manage::MCU_RAM_EXTEND[kRamSize];
uint8_t fpga_manage::MCU_RAM_ZOOM[kRamSize];
uint8_t fpga_manage::MCU_RAM_DEFAULT[2 * kRamSize];

namespace {
constexpr uint32_t kBankSize = 0x1000;
constexpr uint32_t kBanks = 256;

// Port positions in the parameter RAM and where the backup keeps them (x, y, width, height).
struct BackupRun {
    uint16_t para, back, length;
};
constexpr BackupRun kBackupRuns[] = {
    {60, 0, 4}, {8, 4, 8}, {19, 12, 8}, {32, 20, 8}, {43, 28, 8}, {520, 36, 32}, {576, 68, 64}, {56, 132, 4},
};
}

fpga_manage::fpga_manage()
{
    pthread_mutex_init(&reg_mutex, nullptr);
    for (int f = 0; f < 2; ++f) {
        MCU_REG_func[f] = reg_cache_[f];
        MCU_RAM_PARA_func[f] = para_[f];
        MCU_RAM_RX_func[f] = rx_[f];
        MCU_RAM_TX_func[f] = tx_[f];
        MCU_RAM_ETH_PARA_func[f] = eth_para_[f];
        MCU_RAM_ETH_BACK_PARA_func[f] = eth_back_[f];
        banks_[f].assign(size_t(kBanks) * kBankSize, 0);
    }
    MCU_RAM_EXTEND[49] = 0x9F;
    MCU_RAM_EXTEND[50] = 0x1F;
    fpgadrv = new fpga_drv();
}

fpga_manage* fpga_manage::pInstance()
{
    if (!p_fpga_manage)
        p_fpga_manage = new fpga_manage();
    return p_fpga_manage;
}

void fpga_manage::read_from_register(int reg, int fpga)
{
    if (reg < 0 || reg > int(kRegCount) || (reg >= 64 && reg <= 127) || fpga < 0 || fpga > 1)
        return;
    // The cache stands for the FPGA's register file until the SPI layer reads it.
}

void fpga_manage::write_to_register(int reg, uint8_t mask, uint8_t value, int fpga)
{
    if (reg < 0 || reg > int(kRegCount) || (reg >= 97 && reg <= 127) || fpga < 0 || fpga > 1)
        return;
    read_from_register(reg, fpga);
    pthread_mutex_lock(&reg_mutex);
    uint8_t& b = reg_cache_[fpga][reg];
    b = uint8_t((b & ~mask) | (value & mask));
    pthread_mutex_unlock(&reg_mutex);
}

int fpga_manage::write_fpga_ram(const uint8_t* buffer, uint32_t address, uint32_t length, int bank, int fpga)
{
    const uint32_t at = address & 0xFFF;
    if (fpga < 0 || fpga > 1 || bank < 0 || bank >= int(kBanks) || at + uint64_t(length) > kBankSize)
        return 1;
    memcpy(banks_[fpga].data() + size_t(bank) * kBankSize + at, buffer, length);
    return 0;
}

int fpga_manage::read_fpga_ram(uint8_t* buffer, uint32_t address, uint32_t length, int bank, int fpga)
{
    const uint32_t at = address & 0xFFF;
    if (fpga < 0 || fpga > 1 || bank < 0 || bank >= int(kBanks) || at + uint64_t(length) > kBankSize)
        return 1;
    memcpy(buffer, banks_[fpga].data() + size_t(bank) * kBankSize + at, length);
    return 0;
}

void fpga_manage::R58_back_mcu_set_net_para(int fpga)
{
    if (fpga < 0 || fpga > 1)
        return;
    for (const BackupRun& run : kBackupRuns)
        memcpy(eth_back_[fpga] + run.back, para_[fpga] + run.para, run.length);
}

bool fpga_manage::fpgaUp(int fpga) const
{
    return fpga >= 0 && fpga <= 1 && reg_cache_[fpga][80] == 3;
}

int fpga_manage::get_fpga_status()
{
    return fpgaUp(0) && !(reg_cache_[0][0] & 0x08) ? 1 : 0;
}

// The LED network is not driven yet: frames for the cards go nowhere, so no answer comes back
// and the waiting transport gives up after its time-out.
int fpga_manage::Dealwith1_PC_to_eth(uint32_t length, const uint8_t* packet)
{
    return 1;
}

void fpga_manage::reg_IRQ_Dealwith(int fpga, int force)
{
}

void fpga_manage::forward_card_reply(const uint8_t* reply, uint32_t length)
{
    switch (g_passby_trans_port.exchange(255)) {
    case 2:
        if (!networkManage::p_network || !networkManage::p_network->queue_card_answer(reply, length))
            return;
        break;
    default:
        return; // nobody waits for it (the serial and UDP transports join here when they exist)
    }
    reply_ready = 1;
}
