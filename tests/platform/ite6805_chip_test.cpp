#include "platform/i2c_bus.h"
#include "platform/sim/devices/fpga_chip.h"
#include "platform/sim/devices/i2c_board.h"
#include "platform/sim/sim_board.h"
#include "test_root.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

using platform::I2cMsg;
using platform::Sim::HdmiTiming;
using platform::Sim::i2cBoard;
using platform::Sim::Ite6805Chip;
using platform::Sim::It66121Chip;

// The simulated iTE6805 receivers and the IT66121 transmitter, driven by raw bus transfers.
namespace {

constexpr uint32_t Window = platform::Sim::FpgaChip::WindowBase;
constexpr uint32_t IteWord = Window + 0x207944;
constexpr uint32_t TxWord = Window + 0x207800;

HdmiTiming make(uint16_t ha, uint16_t hfront, uint16_t hs, uint16_t hb, uint16_t va, uint16_t vfront, uint16_t vs,
                uint16_t vb, uint32_t khz)
{
    HdmiTiming t;
    t.hactive = ha;
    t.hsync = hs;
    t.hback = hb;
    t.htotal = uint16_t(ha + hfront + hs + hb);
    t.vactive = va;
    t.vsync = vs;
    t.vback = vb;
    t.vtotal = uint16_t(va + vfront + vs + vb);
    t.pixelClockKHz = khz;
    return t;
}

class BoardChips : public ::testing::Test {
protected:
    void SetUp() override
    {
        bus_ = platform::openI2cBus(0);
        platform::Sim::memSim().write16(IteWord, 16);
        platform::Sim::memSim().write16(TxWord, 16);
    }
    bool send(uint8_t addr8, std::vector<uint8_t> bytes)
    {
        I2cMsg m{uint16_t(addr8 >> 1), 0, uint16_t(bytes.size()), bytes.data()};
        return bus_->transfer(&m, 1) == 1;
    }
    bool select(uint8_t channels) { return send(0xEE, {channels}); }
    int rd(uint8_t addr8, uint8_t reg)
    {
        uint8_t v = 0;
        I2cMsg m[2] = {{uint16_t(addr8 >> 1), 0, 1, &reg}, {uint16_t(addr8 >> 1), I2cMsg::Read, 1, &v}};
        return bus_->transfer(m, 2) == 2 ? v : -1;
    }
    int rx(uint8_t reg) { return rd(0x90, reg); }
    bool wx(uint8_t reg, uint8_t v) { return send(0x90, {reg, v}); }
    bool bank(uint8_t b) { return wx(0x0F, b); }

    std::unique_ptr<platform::I2cBus> bus_;
};

TEST_F(BoardChips, ReceiversAnswerOnTheirChannelOnlyWhileTheirPathWordIsSet)
{
    struct Row {
        uint8_t channel;
        uint16_t path;
        bool answers;
    };
    const Row rows[] = {{0x20, 16, true}, {0x10, 16, true}, {0x20, 0, false}, {0x04, 16, false}, {0x00, 16, false}};
    for (const Row& row : rows) {
        SCOPED_TRACE(int(row.channel));
        platform::Sim::memSim().write16(IteWord, row.path);
        ASSERT_TRUE(select(row.channel));
        EXPECT_EQ(rx(0x00) == 0x54, row.answers);
        EXPECT_EQ(rd(0xC8, 0x4C) >= 0, row.answers) << "CEC engine";
    }
    // each device is its own chip
    platform::Sim::memSim().write16(IteWord, 16);
    i2cBoard().ite6805(1).setRevision(0x10);
    ASSERT_TRUE(select(0x10));
    EXPECT_EQ(rx(0x04), 0x10);
    ASSERT_TRUE(select(0x20));
    EXPECT_NE(rx(0x04), 0x10);
}

TEST_F(BoardChips, ReceiverBanksLatchesAndChipDrivenRegisters)
{
    ASSERT_TRUE(select(0x20));
    Ite6805Chip& chip = i2cBoard().ite6805(0);
    EXPECT_EQ(rx(0x00), 0x54);
    EXPECT_EQ(rx(0x02), 0x05);
    EXPECT_EQ(rx(0x03), 0x68);
    ASSERT_TRUE(bank(3));
    ASSERT_TRUE(wx(0xAB, 0xC0));
    EXPECT_EQ(chip.hotPlug(), 0xC0);
    EXPECT_EQ(rx(0x00), 0x00) << "bank 3 has its own register 0";
    ASSERT_TRUE(bank(0));
    // latches clear by written ones only
    chip.connect(make(1920, 88, 44, 148, 1080, 4, 5, 36, 148500));
    EXPECT_EQ(rx(0x05) & 0x01, 0x01);
    ASSERT_TRUE(wx(0x05, 0x00));
    EXPECT_EQ(rx(0x05) & 0x01, 0x01);
    ASSERT_TRUE(wx(0x05, 0x01));
    EXPECT_EQ(rx(0x05) & 0x01, 0x00);
    EXPECT_EQ(rx(0x13), 0xBF);
    EXPECT_EQ(rx(0x14) & 0x38, 0x38);
    EXPECT_EQ(rx(0x19) & 0x82, 0x82);
    EXPECT_EQ(rx(0x08) & 0x10, 0x10) << "calibration done";
    chip.setCalibrationDone(false);
    EXPECT_EQ(rx(0x08) & 0x10, 0x00);
    // the chip's own registers refuse writes, and say so
    ASSERT_TRUE(wx(0x13, 0x00));
    EXPECT_EQ(rx(0x13), 0xBF);
    EXPECT_EQ(TestRoot::newViolations().size(), 1u);
    TestRoot::acceptViolations();
    chip.disconnect();
    EXPECT_EQ(rx(0x13), 0x00);
    EXPECT_EQ(rx(0x48), 0xFF) << "no clock: the counter runs over";
    EXPECT_EQ(rx(0x05) & 0x01, 0x01);
}

TEST_F(BoardChips, PixelClockSamplesAndTmdsCountGiveTheSourceClock)
{
    ASSERT_TRUE(select(0x20));
    Ite6805Chip& chip = i2cBoard().ite6805(0);
    struct Row {
        uint32_t khz, osc;
    };
    const Row rows[] = {{594000, 0}, {148500, 0}, {25175, 24000}, {297000, 27000}};
    for (const Row& row : rows) {
        SCOPED_TRACE(row.khz);
        chip.setOscillator(row.osc);
        chip.connect(make(1920, 88, 44, 148, 1080, 4, 5, 36, row.khz));
        const uint32_t rclk = chip.referenceKHz();
        EXPECT_EQ(rclk, row.osc ? row.osc : 19000u);
        uint32_t sum = 0;
        for (int k = 0; k < 20; ++k) {
            ASSERT_TRUE(wx(0x9A, 0x00)); // bit 7 clear: take a sample
            sum += ((uint32_t(rx(0x9A)) << 8) & 0x300) + uint32_t(rx(0x99));
            ASSERT_TRUE(wx(0x9A, 0x80));
        }
        EXPECT_NEAR(10240.0 * rclk / sum, row.khz, row.khz * 0.004);
        const int ratio = rx(0x43);
        const int k = ratio & 0x80 ? 10 : ratio & 0x40 ? 9 : ratio & 0x20 ? 8 : 7;
        const double tmds = double(rclk) * (1 << k) / ((rx(0x48) + 1) & 0xFF);
        EXPECT_NEAR(tmds, row.khz, row.khz * 0.02);
        chip.disconnect();
    }
}

TEST_F(BoardChips, OscillatorCountThroughTheIndirectReads)
{
    ASSERT_TRUE(select(0x10));
    i2cBoard().ite6805(1).setOscillator(0x0153A8, true);
    ASSERT_TRUE(bank(1));
    EXPECT_EQ(rx(0x60), 0x19);
    auto indirect = [&](uint8_t page, uint8_t address) {
        wx(0x50, page);
        wx(0x51, address);
        wx(0x54, 0x04);
        return std::pair<int, int>(rx(0x61), rx(0x62));
    };
    EXPECT_EQ(indirect(0, 0xB0), std::make_pair(0xA8, 0x53));
    EXPECT_EQ(indirect(0, 0xB1), std::make_pair(0x01, 0xC0));
    EXPECT_EQ(indirect(0, 0x00), std::make_pair(0, 0));
    i2cBoard().ite6805(1).setOscillatorReady(false);
    EXPECT_EQ(rx(0x60), 0x00);
    ASSERT_TRUE(bank(0));
}

TEST_F(BoardChips, TimingLayoutsOfBothRevisionClasses)
{
    ASSERT_TRUE(select(0x20));
    Ite6805Chip& chip = i2cBoard().ite6805(0);
    HdmiTiming t = make(3840, 176, 88, 296, 2160, 8, 10, 72, 594000);
    t.hpositive = false;
    chip.connect(t);
    // total 4400 = 0x1130, active 3840 = 0x0F00
    EXPECT_EQ(rx(0x9B), 0x30);
    EXPECT_EQ(rx(0x9C), 0x11);
    EXPECT_EQ(rx(0x9D), 0x00);
    EXPECT_EQ(rx(0x9E), 0x0F);
    EXPECT_EQ(rx(0x9F), 88);
    EXPECT_EQ(rx(0xA0), 176);
    EXPECT_EQ(rx(0xA2) + 256 * rx(0xA3), 2250);
    EXPECT_EQ(rx(0xA4) + 256 * rx(0xA5), 2160);
    EXPECT_EQ(rx(0xA6), 10);
    EXPECT_EQ(rx(0xA7), 8);
    EXPECT_EQ(rx(0xAA) & 0x60, 0x40);
    chip.setRevision(0xE0);
    EXPECT_EQ(rx(0xA1) + 256 * rx(0xA2), 176);
    EXPECT_EQ(rx(0xA3) + 256 * rx(0xA4), 2250);
    EXPECT_EQ(rx(0xA5) + 256 * rx(0xA6), 2160);
    EXPECT_EQ(rx(0xA9) + 256 * rx(0xAB), 8);
    // a 4:2:0 source is measured with half the horizontal values
    chip.connect(t, true);
    EXPECT_EQ(rx(0x9D) + 256 * rx(0x9E), 1920);
    ASSERT_TRUE(bank(2));
    EXPECT_EQ(rx(0x15) & 0x60, 0x60);
}

TEST_F(BoardChips, TransmitterAnswersOnlyWhileEnabledAndLogsItsWrites)
{
    It66121Chip& tx = i2cBoard().it66121();
    platform::Sim::memSim().write16(TxWord, 0);
    EXPECT_EQ(rd(0x98, 0x00), -1);
    platform::Sim::memSim().write16(TxWord, 16);
    EXPECT_EQ(rd(0x98, 0x00), 0x54);
    EXPECT_EQ(rd(0x98, 0x01), 0x49);
    ASSERT_TRUE(send(0x98, {0x0F, 0x01}));
    EXPECT_EQ(rd(0x98, 0x00), 0x00) << "bank 1";
    ASSERT_TRUE(send(0x98, {0x58, 0x10, 0x08}));
    EXPECT_EQ(tx.reg(1, 0x59), 0x08);
    const auto w = tx.writes();
    ASSERT_EQ(w.size(), 3u);
    EXPECT_EQ(w[0].bank, -1);
    EXPECT_EQ(w[2].bank, 1);
    EXPECT_EQ(w[2].address, 0x59);
    ASSERT_TRUE(send(0x98, {0x0F, 0x00}));
    tx.failIdentityReads(2);
    EXPECT_EQ(rd(0x98, 0x00), 0x00);
    EXPECT_EQ(rd(0x98, 0x01), 0x00);
    EXPECT_EQ(rd(0x98, 0x00), 0x54);
}

} // namespace
