#include "video_chips/clock_synth_table.h"
#include "video_chips/drv_i2c.h"
#include "video_chips/edid_tables.h"
#include "time_limit.h"

#include "platform/sim/devices/fpga_chip.h"
#include "platform/sim/devices/i2c_board.h"
#include "platform/sim/sim_board.h"
#include "test_root.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>

using platform::Sim::i2cBoard;

// The wrapper on the simulated bus, observed through the chips' records and the bus log.
namespace {

class DrvI2c : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_GE(fd_ = drv_.initialize(), 0); }
    // The input's EEPROM selected on 0xE0 and writable (expander bit 0 and the protect word low).
    void selectWritableEeprom(int input)
    {
        platform::Sim::memSim().write16(platform::Sim::FpgaChip::WindowBase + 0x207948, 0);
        ASSERT_EQ(drv_.i2c_write(fd_, 0x40, 0x00, nullptr, 0), 1);
        ASSERT_EQ(drv_.i2c_write(fd_, 0xE0, platform::Sim::I2cBoard::channelOf(input), nullptr, 0), 1);
    }
    Drv_I2C0 drv_;
    int fd_ = -1;
};

TEST_F(DrvI2c, RegisterThenDataGoToTheShiftedAddressAndRefusalsLeaveTheOutputAlone)
{
    const uint8_t data[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    uint8_t out[100];
    memset(out, 0x5A, sizeof out);
    EXPECT_EQ(drv_.i2c_read(fd_, 0xD0, 0x05, out, 8), 0); // channel 0x80 not selected yet
    EXPECT_EQ(drv_.i2c_write(fd_, 0xEE, 0x04, nullptr, 0), 1);
    EXPECT_EQ(drv_.i2c_write(fd_, 0xE0, 0x80, nullptr, 0), 1);
    EXPECT_EQ(drv_.i2c_write(fd_, 0xD0, 0x05, data, 8), 1);
    const auto log = i2cBoard().logOf(0xD0 >> 1);
    ASSERT_EQ(log.size(), 2u);
    EXPECT_FALSE(log[0].acknowledged);
    EXPECT_EQ(log[1].data, std::vector<uint8_t>({0x05, 1, 2, 3, 4, 5, 6, 7, 8}));
    EXPECT_EQ(log[1].edidChannels, 0x80);
    EXPECT_EQ(log[1].receiverChannels, 0x04);
    const size_t messages = i2cBoard().log().size();
    EXPECT_EQ(drv_.i2c_read(fd_, 0xD0, 0, out, 101), 0);
    EXPECT_EQ(drv_.i2c_read(fd_, 0xD0, 0, out, 0), 0);
    EXPECT_EQ(drv_.i2c_write(fd_, 0xD0, 0, out, 256), 0);
    EXPECT_EQ(drv_.i2c_write(fd_, 0xD0, 0, nullptr, 1), 0);
    EXPECT_EQ(drv_.i2c_write(-1, 0xD0, 0, nullptr, 0), 0);
    EXPECT_EQ(drv_.i2c_read(fd_ + 1, 0xD0, 0, out, 1), 0);
    EXPECT_EQ(Drv_I2C0().i2c_write(0, 0xE0, 0, nullptr, 0), 0); // never opened
    EXPECT_EQ(i2cBoard().log().size(), messages);               // none of these reached the bus
    EXPECT_EQ(std::count(out, out + 100, 0x5A), 100);
    EXPECT_EQ(drv_.i2c_read(fd_, 0xD0, 0x05, out, 8), 1);
    EXPECT_EQ(0, memcmp(out, data, 8));
    i2cBoard().setOpenFails(true);
    EXPECT_LT(Drv_I2C0().initialize(), 0);
}

// Real bus clock: each page starts a 5 ms write cycle during which the part answers nothing.
TEST_F(DrvI2c, EepromWriteWaitsOutEachWriteCycleAndReadsBack)
{
    selectWritableEeprom(2);
    const edid::Table table = edid::defaultFor(2);
    ASSERT_EQ(drv_.eeprom_write(fd_, table.data()), 1);
    EXPECT_EQ(i2cBoard().eepromContents(2), table);
    EXPECT_EQ(i2cBoard().eeprom(2).pageWrites(), 32);
    EXPECT_EQ(i2cBoard().eeprom(2).refusedPageWrites(), 0); // no page sent into a running cycle
    for (int other : {0, 1, 3, 4, 5})
        EXPECT_EQ(i2cBoard().eeprom(other).pageWrites(), 0) << other;
    for (const auto& m : i2cBoard().logOf(0xA0 >> 1))
        ASSERT_EQ(m.edidChannels, 0x04);
}

// Pages that did not take (the first three, refused by the protect line) are found by the
// read-back and written again, and only they.
TEST_F(DrvI2c, EepromPagesThatDidNotTakeAreRewritten)
{
    selectWritableEeprom(4);
    auto refusals = std::make_shared<std::atomic<int>>(3);
    i2cBoard().eeprom(4).setProtectLine([refusals] { return refusals->fetch_sub(1) > 0; });
    const edid::Table table = edid::defaultFor(4);
    ASSERT_EQ(drv_.eeprom_write(fd_, table.data()), 1);
    EXPECT_EQ(i2cBoard().eepromContents(4), table);
    EXPECT_EQ(i2cBoard().eeprom(4).protectedWrites(), 3);
    EXPECT_EQ(i2cBoard().eeprom(4).pageWrites(), 32);
    TestRoot::acceptViolations(); // the refused pages count as writes under protection
}

TEST_F(DrvI2c, EepromThatTakesNoWriteIsReportedFailedWithinBoundedTime)
{
    selectWritableEeprom(1);
    ASSERT_EQ(drv_.i2c_write(fd_, 0x40, 0x01, nullptr, 0), 1); // protected
    EXPECT_EQ(drv_.eeprom_write(fd_, edid::defaultFor(1).data()), 0);
    EXPECT_EQ(i2cBoard().eeprom(1).protectedWrites(), 32 * Drv_I2C0::WriteAttempts);
    TestRoot::acceptViolations();
    // a write cycle that never ends: the bus clock stands still
    i2cBoard().setManualClock(true);
    selectWritableEeprom(0);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(drv_.eeprom_write(fd_, edid::defaultFor(0).data()), 0);
    EXPECT_LT(std::chrono::steady_clock::now() - start, TimeLimit::of(5000));
    EXPECT_EQ(i2cBoard().eeprom(0).pageWrites(), 1);
}

TEST_F(DrvI2c, ClockTableLocksTheSynthesiserAndARefusedRegisterStopsIt)
{
    auto& synth = i2cBoard().clockSynth();
    EXPECT_EQ(clock_synth::program(drv_, fd_), 0); // channel not selected
    ASSERT_EQ(drv_.i2c_write(fd_, 0xE0, clock_synth::Channel, nullptr, 0), 1);
    synth.refuseWriteOf(20);
    EXPECT_EQ(clock_synth::program(drv_, fd_), 0);
    EXPECT_FALSE(synth.locked());
    ASSERT_EQ(synth.writes().size(), 21u);
    EXPECT_FALSE(synth.writes().back().accepted);
    synth.clearLog();
    EXPECT_EQ(clock_synth::program(drv_, fd_), 1);
    EXPECT_TRUE(synth.locked());
    const auto writes = synth.writes();
    ASSERT_EQ(writes.size(), 63u);
    for (size_t r = 0; r < writes.size(); ++r)
        EXPECT_EQ(writes[r].reg, r); // one register per write, from 0 on
}

}
