// FPGA access on the simulated board: window set-up, command words, the register cache rules,
// RAM banks and the configuration flash, checked on what the simulated FPGA and flash saw.
#include "scaler/c331_manage.h"
#include "fpga/fpga_drv.h"
#include "fpga/fpga_manage.h"
#include "base/global.h"
#include "platform/sim/devices/fpga_chip.h"
#include "platform/sim/devices/fpga_flash.h"
#include "platform/sim/sim_board.h"
#include "base/utils.h"
#include "params/vyrrampara.h"
#include "lock_waiters.h"
#include "program.h"
#include "store_face.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>
#include <vector>

using platform::Sim::FpgaChip;
using platform::Sim::FpgaFlash;
using platform::Sim::fpgaChip;
using platform::Sim::fpgaFlash;
using platform::Sim::memSim;

namespace {
uint16_t word(uint32_t offset) { return memSim().read16(FpgaChip::WindowBase + offset); }
}

class FpgaAccess : public ::testing::Test {
protected:
    void SetUp() override
    {
        store = VyrRamPara::pInstance();
        fpga = fpga_manage::instanceWithoutWorker();
        fpga_manage::gpio_write(fpga->rst_fpga0, 16); // out of reset, as the input manager leaves it
        fpgaChip().watchLines();
        fpgaChip().clearLog();
        fpgaFlash().clearLog();
    }
    void TearDown() override
    {
        EXPECT_TRUE(fpgaChip().violations().empty()) << fpgaChip().violations().front();
        EXPECT_TRUE(fpgaFlash().violations().empty()) << fpgaFlash().violations().front();
    }
    std::vector<uint8_t> opcodes() const
    {
        std::vector<uint8_t> ops;
        for (const FpgaFlash::Op& op : fpgaFlash().log())
            if (op.opcode != 0x05)
                ops.push_back(op.opcode);
        return ops;
    }

    VyrRamPara* store = nullptr;
    fpga_manage* fpga = nullptr;
    fpga_drv* drv() { return fpga->fpgadrv; }
};

TEST_F(FpgaAccess, WindowSetUpOpensBothDevicesAndWritesTheStartValues)
{
    for (auto setup : {fpgaChip().busSetup().mode, fpgaFlash().busSetup().mode})
        EXPECT_EQ(setup, 3);
    EXPECT_EQ(fpgaChip().busSetup().bitsPerWord, 8);
    EXPECT_EQ(fpgaFlash().busSetup().maxSpeedHz, 10000000u);
    EXPECT_EQ(word(0x207944), 0);
    EXPECT_EQ(word(0x207940), 0);
    EXPECT_EQ(word(0x207948), 16);
    EXPECT_EQ(word(0x001F1C), 1);
}

TEST_F(FpgaAccess, FailedWindowLeavesNullSafeWordsAndNoBusTraffic)
{
    fpga->write_to_register(3, 0xFF, 0x11, 0);
    memSim().setMsysFails(true);
    EXPECT_EQ(fpga->setupWindow(), 255);
    memSim().setMsysFails(false);
    EXPECT_EQ(fpga->window, nullptr);
    fpgaChip().clearLog();
    memSim().write16(FpgaChip::WindowBase + fpga_manage::irq_fpga0, 1);
    fpga_manage::gpio_write(fpga_manage::edid_wp, 0); // dropped, no crash
    EXPECT_EQ(word(fpga_manage::edid_wp), 16);
    EXPECT_EQ(fpga_manage::gpio_read(fpga_manage::irq_fpga0), 0);
    EXPECT_EQ(fpga->read_from_register(3, 0), 1);
    EXPECT_EQ(fpga->MCU_REG_func[0][3], 0x11) << "a failed read keeps the cached byte";
    uint8_t b = 0;
    EXPECT_EQ(fpga->write_fpga_ram(&b, 0, 1, 1, 0), 1);
    EXPECT_EQ(drv()->FPGA_SPI_FLASH_VBYONE_READ(2, 0, 1, &b), 0);
    EXPECT_TRUE(fpgaChip().log().empty());
    EXPECT_TRUE(fpgaFlash().log().empty());

    memSim().setOpenFails(true);
    EXPECT_EQ(fpga->setupWindow(), 255);
    memSim().setOpenFails(false);
    EXPECT_EQ(fpga->setupWindow(), 0);
    EXPECT_EQ(fpga_manage::gpio_read(fpga_manage::irq_fpga0), 1);
}

TEST_F(FpgaAccess, CachedWriteReadsFirstMergesAndReleasesTheLines)
{
    fpgaChip().setRegister(3, 0x81);
    fpga->write_to_register(3, 0x40, 0x40, 0);
    const std::vector<FpgaChip::Access> log = fpgaChip().log();
    ASSERT_EQ(log.size(), 2u);
    EXPECT_EQ(log[0].kind, FpgaChip::Access::RegisterRead);
    EXPECT_EQ(log[1].kind, FpgaChip::Access::RegisterWrite);
    EXPECT_EQ(log[1].mask, 0x40);
    EXPECT_EQ(log[1].data, std::vector<uint8_t>{0xC1});
    EXPECT_EQ(fpga->MCU_REG_func[0][3], 0xC1);
    EXPECT_EQ(fpgaChip().registerValue(3), 0xC1);
    EXPECT_EQ(word(0x207810), 16);
    EXPECT_EQ(word(0x207900), 16);
    EXPECT_EQ(word(0x207838), 0);

    fpgaChip().failNextTransfers(1);
    EXPECT_EQ(fpga->read_from_register(3, 0), 1);
    EXPECT_EQ(fpga->MCU_REG_func[0][3], 0xC1) << "a failed read leaves the cache";
}

TEST_F(FpgaAccess, RegisterRangesCacheOnlyIgnoredAnd170)
{
    fpga->write_to_register(64, 0x0F, 0x3C, 0);
    EXPECT_EQ(fpga->MCU_REG_func[0][64], 0x0C);
    EXPECT_EQ(fpga->read_from_register(64, 0), 1);
    EXPECT_EQ(fpga->MCU_REG_func[0][64], 0x0C);
    fpga->write_to_register(100, 0xFF, 7, 0);
    fpga->read_from_register(100, 0);
    EXPECT_EQ(fpga->MCU_REG_func[0][100], 0);
    fpga->write_to_register(171, 0xFF, 7, 0);
    fpga->read_from_register(171, 0);
    EXPECT_TRUE(fpgaChip().log().empty());

    fpga->write_to_register(170, 0xFF, 0x5A, 0);
    EXPECT_EQ(fpgaChip().registerValue(170), 0x5A);
    EXPECT_EQ(fpga->MCU_REG_func[0][170], 0x5A);
    fpgaChip().clearLog();
    fpga->write_to_register(5, 0xFF, 1, 1);
    EXPECT_TRUE(fpgaChip().log().empty()) << "FPGA 1 is not fitted";
}

TEST_F(FpgaAccess, Register2DoorbellRunsTheMailboxAndNeverReachesTheFpga)
{
    const uint8_t clock[] = {0xAA, 1, 0, 0, 0, 0, 7, 0, 0x24, 0x20, 0x05, 0x01, 0x09, 0x30, 0x00};
    memcpy(fpga_manage::MCU_RAM_CMD, clock, sizeof clock);
    platform::Sim::shellSim().clearLog();
    fpga->write_to_register(2, 0xFF, 0x07, 0);
    EXPECT_EQ(fpgaChip().registerWrites(2), std::vector<uint8_t>{0x01});
    EXPECT_EQ(fpga->MCU_REG_func[0][2], 0x07);
    const size_t clockSet = platform::Sim::shellSim().commands().size();
    EXPECT_EQ(clockSet, 2u) << "date, then hwclock";
    fpga->write_to_register(2, 0x01, 0x01, 0);
    EXPECT_EQ(platform::Sim::shellSim().commands().size(), clockSet) << "the FPGA's copy has bit 2 clear";
}

TEST_F(FpgaAccess, Register0BlankFlagGoesToTheBlockUnderTheScalerLock)
{
    c331_manage* scaler = c331_manage::instanceWithoutWorker();
    pthread_mutex_lock(&scaler->c331_mutex);
    std::thread writer([&] { fpga->write_to_register(0, 0x04, 0x04, 0); });
    EXPECT_TRUE(waitFor([&] { return LockWaiters::waited(scaler->c331_mutex); }, 2000)) << "the writer waits for the lock";
    EXPECT_EQ(testBlock(store)[0x844], 0) << "written while the scaler held its lock";
    pthread_mutex_unlock(&scaler->c331_mutex);
    writer.join();
    EXPECT_EQ(testBlock(store)[0x844], 1);
    EXPECT_EQ(testBlock(store)[0x845], 0);
    EXPECT_EQ(ScreenState.load(), 0);
    EXPECT_EQ(fpga_manage::MCU_RAM_EXTEND[29], 0);
    EXPECT_EQ(fpgaChip().registerValue(0) & 0x04, 0x04);

    fpga->write_to_register(0, 0xFF, 0x00, 0); // not the plain blank request: block untouched
    EXPECT_EQ(ScreenState.load(), 1);
    EXPECT_EQ(testBlock(store)[0x844], 1);
    g_set_led_para = 1;
    fpga->write_to_register(0, 0x04, 0x04, 0);
    EXPECT_EQ(ScreenState.load(), 0);
    EXPECT_EQ(testBlock(store)[0x844], 1);
    g_set_led_para = 0;
    fpga->write_to_register(0, 0x04, 0x00, 0);
    EXPECT_EQ(testBlock(store)[0x844], 0);
    EXPECT_EQ(fpga_manage::MCU_RAM_EXTEND[29], 1);
}

TEST_F(FpgaAccess, RamBanksAtTwelveBitAddresses)
{
    const std::vector<uint8_t> data = {1, 2, 3, 4};
    EXPECT_EQ(fpga->write_fpga_ram(data.data(), 0x05000FFC, 4, 7, 0), 0);
    EXPECT_EQ(fpgaChip().ram(7, 0xFFC, 4), data);
    const std::vector<uint8_t> held = {9, 8, 7, 6};
    fpgaChip().setRam(7, 0xFFC, held);
    std::vector<uint8_t> got(4, 0xEE);
    EXPECT_EQ(fpga->read_fpga_ram(got.data(), 0xFFC, 4, 7, 0), 0);
    EXPECT_EQ(got, held);
    fpgaChip().clearLog();
    EXPECT_EQ(fpga->write_fpga_ram(data.data(), 0xFFE, 4, 7, 0), 1) << "would run past the bank";
    EXPECT_TRUE(fpgaChip().log().empty());
    fpgaChip().failNextTransfers(1);
    got.assign(4, 0xEE);
    EXPECT_EQ(fpga->read_fpga_ram(got.data(), 0xFFC, 4, 7, 0), 1);
    EXPECT_EQ(got, std::vector<uint8_t>(4, 0xEE));
}

TEST_F(FpgaAccess, EraseBoundsAndSizeCodes)
{
    EXPECT_EQ(drv()->FPGA_SPI_FLASH_VBYONE_ERASE(2, 0, 0, 2049), 0);
    EXPECT_EQ(drv()->FPGA_SPI_FLASH_VBYONE_ERASE(2, 2033, 2, 1), 0);
    EXPECT_EQ(drv()->FPGA_SPI_FLASH_VBYONE_ERASE(2, 0, 3, 1), 0);
    EXPECT_EQ(drv()->FPGA_SPI_FLASH_VBYONE_ERASE(3, 0, 0, 1), 0) << "FPGA 1's flash is not fitted";
    EXPECT_TRUE(fpgaFlash().log().empty());

    fpgaFlash().store(0x7F0000, std::vector<uint8_t>(0x10000, 0));
    EXPECT_EQ(drv()->FPGA_SPI_FLASH_VBYONE_ERASE(2, 2032, 2, 1), 1);
    EXPECT_EQ(fpgaFlash().read(0x7F0000, 0x10000), std::vector<uint8_t>(0x10000, 0xFF));
    EXPECT_EQ(opcodes(), (std::vector<uint8_t>{0x06, 0xD8}));
    fpgaFlash().clearLog();
    EXPECT_EQ(drv()->FPGA_SPI_FLASH_VBYONE_ERASE(2, 0, 0, 2048), 1);
    const std::vector<FpgaFlash::Op> erases = fpgaFlash().logOf(0x20);
    ASSERT_EQ(erases.size(), 2048u);
    EXPECT_EQ(erases.back().address, 0x7FF000u);
    EXPECT_EQ(fpgaFlash().logOf(0x06).size(), 2048u);
    EXPECT_EQ(word(0x207860), 16);
    EXPECT_EQ(word(0x207810), 16);
}

TEST_F(FpgaAccess, PageWritesSplitAtPageEndsFromAPrivateBuffer)
{
    drv()->FPGA_SPI_FLASH_VBYONE_ERASE(2, 0, 0, 1);
    fpgaFlash().clearLog();
    std::vector<uint8_t> buffer(4 + 300);
    for (size_t i = 0; i < buffer.size(); ++i)
        buffer[i] = uint8_t(i * 13 + 1);
    const std::vector<uint8_t> before = buffer;
    ASSERT_EQ(drv()->FPGA_SPI_FLASH_VBYONE_WRITE(2, 0x1F0, buffer.data(), 300), 1);
    EXPECT_EQ(buffer, before) << "the caller's buffer is not written";
    EXPECT_EQ(fpgaFlash().read(0x1F0, 300), std::vector<uint8_t>(before.begin() + 4, before.end()));
    const std::vector<FpgaFlash::Op> pages = fpgaFlash().logOf(0x02);
    ASSERT_EQ(pages.size(), 3u);
    EXPECT_EQ(pages[0].address, 0x1F0u);
    EXPECT_EQ(pages[0].length, 4u + 16);
    EXPECT_EQ(pages[1].address, 0x200u);
    EXPECT_EQ(pages[1].length, 4u + 256);
    EXPECT_EQ(pages[2].address, 0x300u);
    EXPECT_EQ(pages[2].length, 4u + 28);
    EXPECT_EQ(opcodes(), (std::vector<uint8_t>{0x06, 0x02, 0x06, 0x02, 0x06, 0x02}));

    fpgaFlash().clearLog();
    EXPECT_EQ(drv()->FPGA_SPI_FLASH_VBYONE_WRITE(2, 0x7FFF00, buffer.data(), 0x101), 0);
    EXPECT_EQ(drv()->FPGA_SPI_FLASH_VBYONE_WRITE(2, 0, buffer.data(), 0), 0);
    EXPECT_TRUE(fpgaFlash().log().empty());
}

TEST_F(FpgaAccess, LongReadsGoIn2048ByteChunks)
{
    std::vector<uint8_t> data(5000);
    for (size_t i = 0; i < data.size(); ++i)
        data[i] = uint8_t(i * 7 + i / 256);
    fpgaFlash().store(0x10000, data);
    std::vector<uint8_t> got(5000);
    ASSERT_EQ(drv()->FPGA_SPI_FLASH_VBYONE_READ(2, 0x10000, 5000, got.data()), 1);
    EXPECT_EQ(got, data);
    const std::vector<FpgaFlash::Op> reads = fpgaFlash().logOf(0x0B);
    ASSERT_EQ(reads.size(), 3u);
    EXPECT_EQ(reads[0].length, 2053u);
    EXPECT_EQ(reads[1].length, 2053u);
    EXPECT_EQ(reads[2].length, 909u);
    EXPECT_EQ(reads[1].address, 0x10800u);
    EXPECT_EQ(reads[2].address, 0x11000u);
    EXPECT_EQ(drv()->FPGA_SPI_FLASH_VBYONE_READ(2, 0x7FFFFF, 2, got.data()), 0);
}

TEST_F(FpgaAccess, UniqueIdInOneThirteenByteTransfer)
{
    fpgaFlash().setUniqueId({1, 2, 3, 4, 5, 6, 7, 8});
    uint8_t id[8] = {};
    ASSERT_EQ(drv()->FPGA_SPI_FLASH_SSTF016B_RD_UID(2, id), 1);
    EXPECT_EQ(std::vector<uint8_t>(id, id + 8), (std::vector<uint8_t>{1, 2, 3, 4, 5, 6, 7, 8}));
    ASSERT_EQ(fpgaFlash().logOf(0x4B).size(), 1u);
    EXPECT_EQ(fpgaFlash().logOf(0x4B)[0].length, 13u);
}

TEST_F(FpgaAccess, StuckBusyFlashGivesUpAndFreesTheBus)
{
    fpgaFlash().setStuckBusy(true);
    EXPECT_EQ(drv()->FPGA_SPI_FLASH_VBYONE_ERASE(2, 10, 0, 1), 0);
    EXPECT_EQ(fpgaFlash().logOf(0x05).size(), size_t(fpga_drv::kBusyPolls));
    EXPECT_TRUE(fpgaFlash().logOf(0x20).empty());
    EXPECT_TRUE(Utils::_spi_mutex.tryLock());
    Utils::_spi_mutex.unlock();
    EXPECT_EQ(word(0x207860), 16);
    fpgaFlash().setStuckBusy(false);
    fpgaFlash().clearViolations(); // commands sent while it was busy
}
