#include "input_board.h"

#include "video_chips/sdi_it66121.h"
#include "video_chips/keltosource.h"

#include "base/global.h"
#include "fpga/fpga_manage.h"
#include "params/block_layout.h"
#include "params/config_engine.h"
#include "params/vyrrampara.h"
#include "platform/sim/devices/fpga_chip.h"
#include "platform/sim/devices/i2c_board.h"
#include "platform/sim/sim_board.h"

#include <gtest/gtest.h>

#include <vector>

using platform::Sim::i2cBoard;
using platform::Sim::It66121Chip;

// The SDI path's transmitter driver against the simulated IT66121, alone and as the input
// manager steps it.
namespace {

using namespace input_board;

constexpr uint32_t kTxEnable = 0x207800;

class SdiPath : public ::testing::Test {
protected:
    void SetUp() override
    {
        ConfigEngine::pInstance();
        VyrRamPara::pInstance();
        fpga_manage::instanceWithoutWorker();
        g_check_source = 0; // no receiver stepped: only the SDI path
        k = keltosource::pInstance();
        ASSERT_EQ(k->initializeWithoutThread(), 0);
        tx = k->it66121;
    }
    It66121Chip& chip() { return i2cBoard().it66121(); }
    // The value the last write left in a register of a bank.
    int last(int bank, uint8_t reg)
    {
        int v = -1;
        for (const auto& w : chip().writes())
            if (w.bank == bank && w.address == reg)
                v = w.value;
        return v;
    }
    void toRunning()
    {
        g_check_edid = "Never";
        for (int i = 0; i < 2000 && k->path_state != keltosource::PathRunning; ++i) {
            G_timeTicks += 5;
            k->runOnce();
        }
        ASSERT_EQ(k->path_state, keltosource::PathRunning);
    }
    keltosource* k = nullptr;
    it66121_sys* tx = nullptr;
};

TEST_F(SdiPath, BringUpEnablesTheTransmitterAndRunsTheSdiReceiver)
{
    tx->sdi_it66121_init();
    EXPECT_EQ(gpio(kTxEnable), 16);
    EXPECT_EQ(gpio(kSdiReset), 1);
}

TEST_F(SdiPath, IdentityTestNeedsBothBytesInOrder)
{
    tx->sdi_it66121_init();
    EXPECT_EQ(tx->IT66121_Test(), 1);
    chip().setIdentity(0x49, 0x54); // the bytes the other way round
    EXPECT_EQ(tx->IT66121_Test(), 0);
    chip().setIdentity(0x54, 0x49);
    chip().poke(1, 0x00, 0x54); // bank 1 selected: the test reads bank 0 all the same
    chip().poke(1, 0x0F, 0x01);
    EXPECT_EQ(tx->IT66121_Test(), 1);
    EXPECT_EQ(chip().reg(0, 0x0F) & 0x01, 0);
    // silent transmitter: not enabled
    fpga_manage::gpio_write(kTxEnable, 0);
    EXPECT_EQ(tx->IT66121_Test(), 0);
    fpga_manage::gpio_write(kTxEnable, 16);
    chip().failIdentityReads(1);
    EXPECT_EQ(tx->IT66121_Test(), 0) << "register 0 read back wrong";
    EXPECT_EQ(tx->IT66121_Test(), 1);
}

TEST_F(SdiPath, InitialisationLoadsTheTablesInOrder)
{
    tx->sdi_it66121_init();
    chip().clearLog();
    tx->IT66121_init();
    const auto w = chip().writes();
    // first row: bank register, bits 6 cleared by a masked write
    ASSERT_FALSE(w.empty());
    EXPECT_EQ(w.front().bank, -1);
    EXPECT_EQ(w.front().value & 0x40, 0);
    // the unlock pair, the two rows under it and the lock, in that order
    std::vector<uint8_t> f8;
    size_t firstF8 = 0, lock = 0;
    for (size_t i = 0; i < w.size(); ++i)
        if (w[i].address == 0xF8) {
            if (f8.empty())
                firstF8 = i;
            f8.push_back(w[i].value);
            lock = i;
        }
    ASSERT_EQ(f8.size(), 3u);
    EXPECT_EQ(f8[2], 0xFF);
    EXPECT_NE(f8[0], f8[1]);
    EXPECT_EQ(lock - firstF8, 5u) << "0x20 set, 0x37 bit 0, 0x20 cleared between unlock and lock";
    // values the tables leave behind, in both banks
    EXPECT_EQ(last(0, 0x8D), 0x9C);
    EXPECT_EQ(last(0, 0x09), 0xFC & ~0x03);
    EXPECT_EQ(last(0, 0x0C), 0x00);
    EXPECT_EQ(last(0, 0x74), 0x80);
    EXPECT_EQ(last(0, 0x87), 0x04);
    EXPECT_EQ(last(1, 0x58), 0x10);
    EXPECT_EQ(last(1, 0x5D), 0x57);
    EXPECT_EQ(last(1, 0x6D), 0x71);
    EXPECT_EQ(last(1, 0x99), 0xDA);
    EXPECT_EQ(last(0, 0xE0), 0xD1);
    EXPECT_EQ(last(0, 0xE2), 0xE4);
    EXPECT_EQ(chip().reg(0, 0xC6) & 0x03, 0x03);
    EXPECT_EQ(chip().reg(0, 0xCD) & 0x03, 0x03);
    EXPECT_EQ(chip().reg(0, 0xCE) & 0x03, 0x03);
    EXPECT_EQ(chip().reg(0, 0x04) & 0x14, 0x00) << "audio reset released at the end";
    EXPECT_EQ(chip().reg(0, 0x0F) & 0x01, 0) << "bank 0 at the end";
    EXPECT_EQ(gpio(kSdiReset), 1);
    // the display option is only stored: VIC 16
    EXPECT_EQ(tx->hdmitx_sys->vic, 16);
    EXPECT_EQ(tx->hdmitx_sys->pixel_clock_hz, 148500000u);
    EXPECT_EQ(tx->hdmitx_drv->instance[1], 0x98);
    EXPECT_EQ(tx->hdmitx_drv->option_flag, 0);
}

TEST_F(SdiPath, DisplayOptionsByVideoCode)
{
    struct Row {
        int n;
        uint8_t vic;
        uint32_t hz;
        uint8_t wide, bt709, repeat;
    };
    // Every option n = 0-18 (n modulo 18), and VIC 61 directly: clock, 16:9, BT.709 (the 4:3 and
    // the 480/576-line codes are BT.601), pixel repetition.
    const Row rows[] = {
        {0, 1, 25000000, 0, 0, 0},    {1, 2, 27000000, 0, 0, 0},    {2, 3, 27000000, 1, 0, 0},
        {3, 4, 74250000, 1, 1, 0},    {4, 5, 74250000, 1, 1, 0},    {5, 6, 13500000, 0, 0, 1},
        {6, 7, 13500000, 1, 0, 1},    {7, 16, 148500000, 1, 1, 0},  {8, 17, 27000000, 0, 0, 0},
        {9, 18, 27000000, 1, 0, 0},   {10, 19, 74250000, 1, 1, 0},  {11, 20, 74250000, 1, 1, 0},
        {12, 21, 13500000, 0, 0, 1},  {13, 22, 13500000, 1, 0, 1},  {14, 31, 148500000, 1, 1, 0},
        {15, 32, 74250000, 1, 1, 0},  {16, 33, 74250000, 1, 1, 0},  {17, 34, 74250000, 1, 1, 0},
        {18, 1, 25000000, 0, 0, 0},   {-61, 61, 74250000, 1, 1, 0},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.n);
        if (r.n >= 0)
            tx->CHANGE_INPUT(r.n);
        else
            tx->hdmitx_sys->HDMITX_ChangeDisplayOption(uint8_t(-r.n), 0);
        const it66121_hdmitx_sys& s = *tx->hdmitx_sys;
        EXPECT_EQ(s.vic, r.vic);
        EXPECT_EQ(s.pixel_clock_hz, r.hz);
        EXPECT_EQ(s.aspect_16_9, r.wide);
        EXPECT_EQ(s.colorimetry_709, r.bt709);
        EXPECT_EQ(s.pixel_repetition, r.repeat);
        EXPECT_EQ(s.video_changed, 1);
    }
    tx->hdmitx_sys->HDMITX_ChangeDisplayOption(95, 0); // not one of ours
    EXPECT_EQ(tx->hdmitx_sys->video_changed, 0);
    EXPECT_EQ(tx->hdmitx_sys->vic, 61) << "the last option stays";
}

TEST_F(SdiPath, TransmitterAnsweringOnTheTenthTryIsStillInitialised)
{
    chip().failIdentityReads(2 * 9); // nine failed tests, two identity bytes each
    toRunning();
    for (int i = 0; i < 14; ++i)
        k->runOnce();
    EXPECT_EQ(tx->fail_count, 9);
    EXPECT_EQ(tx->test_result, 1);
    EXPECT_NE(last(1, 0x99), -1) << "tables written";
    EXPECT_EQ(VyrRamPara::pInstance()->image[regimage::kChipPresence] & 0x02, 0x02);
}

TEST_F(SdiPath, TransmitterFailingTenTimesIsNeverProbedAgain)
{
    chip().failIdentityReads(1000);
    toRunning();
    for (int i = 0; i < 20; ++i)
        k->runOnce();
    EXPECT_EQ(tx->fail_count, 10);
    const int reads = chip().identityReads();
    for (int i = 0; i < 20; ++i)
        k->runOnce();
    EXPECT_EQ(chip().identityReads(), reads);
    EXPECT_EQ(last(1, 0x99), -1) << "no table written";
    EXPECT_EQ(gpio(kSdiReset), 1) << "the SDI receiver stays running";
    EXPECT_EQ(VyrRamPara::pInstance()->image[regimage::kChipPresence] & 0x02, 0);
}

} // namespace
