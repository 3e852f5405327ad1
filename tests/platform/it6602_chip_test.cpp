#include "platform/i2c_bus.h"
#include "platform/sim/devices/fpga_chip.h"
#include "platform/sim/devices/i2c_board.h"
#include "platform/sim/sim_board.h"
#include "test_root.h"

#include <gtest/gtest.h>

#include <iterator>
#include <vector>

using platform::I2cMsg;
using platform::Sim::HdmiTiming;
using platform::Sim::i2cBoard;
using platform::Sim::It6602Chip;

namespace {

constexpr uint32_t PathWord = platform::Sim::FpgaChip::WindowBase + 0x207940;
constexpr uint8_t Receiver8 = 0x94;

// CEA 861 rows: 1920x1080p60 and 1280x720p60, both syncs positive.
const HdmiTiming P1080{1920, 1080, 2200, 1125, 44, 148, 5, 36, true, true, false, 148500};
const HdmiTiming P720{1280, 720, 1650, 750, 40, 220, 5, 20, true, true, false, 74250};

// Receiver path released, receiver 2 (switch channel 0x04) selected.
class It6602 : public ::testing::Test {
protected:
    void SetUp() override
    {
        bus_ = platform::openI2cBus(0);
        savedPath_ = platform::Sim::memSim().read16(PathWord);
        platform::Sim::memSim().write16(PathWord, 16);
        ASSERT_TRUE(select(0x04));
    }
    void TearDown() override { platform::Sim::memSim().write16(PathWord, savedPath_); }

    bool select(uint8_t channels) { return send(0xEE, {channels}); }
    bool send(uint8_t addr8, std::vector<uint8_t> bytes)
    {
        I2cMsg m{uint16_t(addr8 >> 1), 0, uint16_t(bytes.size()), bytes.data()};
        return bus_->transfer(&m, 1) == 1;
    }
    bool wr(uint8_t reg, uint8_t value) { return send(Receiver8, {reg, value}); }
    bool rd(uint8_t reg, std::vector<uint8_t>* out, size_t len = 1, uint8_t addr8 = Receiver8)
    {
        out->assign(len, 0);
        I2cMsg m[2] = {{uint16_t(addr8 >> 1), 0, 1, &reg}, {uint16_t(addr8 >> 1), I2cMsg::Read, uint16_t(len), out->data()}};
        return bus_->transfer(m, 2) == 2;
    }
    int rd1(uint8_t reg)
    {
        std::vector<uint8_t> v;
        return rd(reg, &v) ? v[0] : -1;
    }
    It6602Chip& chip() { return i2cBoard().it6602(2); }

    std::unique_ptr<platform::I2cBus> bus_;
    uint16_t savedPath_ = 0;
};

TEST_F(It6602, IdentityInEveryBankAndOnlyAt0x94)
{
    for (int bank = 0; bank < 4; ++bank) {
        SCOPED_TRACE(bank);
        ASSERT_TRUE(wr(0x0F, uint8_t(bank)));
        std::vector<uint8_t> id;
        ASSERT_TRUE(rd(0x00, &id, 4));
        EXPECT_EQ(id, (std::vector<uint8_t>{0x54, 0x49, 0x02, 0x68}));
    }
    std::vector<uint8_t> id;
    EXPECT_FALSE(rd(0x00, &id, 4, 0x90)); // identification tries 0x90 first: nobody there
}

TEST_F(It6602, ReachableOnlyOnItsChannelWhileThePathIsReleased)
{
    for (int r = 0; r < 4; ++r) {
        SCOPED_TRACE(r);
        ASSERT_TRUE(select(uint8_t(1 << r)));
        ASSERT_TRUE(wr(0x10, uint8_t(0xA0 + r)));
        for (int other = 0; other < 4; ++other)
            EXPECT_EQ(i2cBoard().it6602(other).reg(0, 0x10), other <= r ? 0xA0 + other : 0);
    }
    for (uint8_t channels : {uint8_t(0x00), uint8_t(0x10), uint8_t(0x20), uint8_t(0x40), uint8_t(0x80)}) {
        SCOPED_TRACE(int(channels));
        ASSERT_TRUE(select(channels));
        EXPECT_EQ(rd1(0x00), -1);
    }
    ASSERT_TRUE(select(0x04));
    platform::Sim::memSim().write16(PathWord, 0);
    EXPECT_EQ(rd1(0x00), -1);
    platform::Sim::memSim().write16(PathWord, 16);
    EXPECT_EQ(rd1(0x00), 0x54);
}

TEST_F(It6602, PowerAndSyncStatusAndChangeInterruptsFollowTheSource)
{
    EXPECT_EQ(rd1(0x0A), 0x00);
    EXPECT_EQ(rd1(0x05), 0x00);
    EXPECT_EQ(rd1(0x07), 0x00);
    for (bool on : {true, false, true}) {
        SCOPED_TRACE(on);
        if (on)
            chip().connect(P1080);
        else
            chip().disconnect();
        EXPECT_EQ(rd1(0x0A) & 0x81, on ? 0x81 : 0x00); // 5 V and SCDT
        EXPECT_EQ(rd1(0x0C) & 0x40, on ? 0x40 : 0x00);
        EXPECT_EQ(rd1(0x0B), 0x00); // port 1 stays empty
        EXPECT_EQ(rd1(0x05) & 0x01, 0x01);
        EXPECT_EQ(rd1(0x07) & 0x02, 0x02);
        // the driver writes back what it read: a zero clears nothing, a one clears its bit only
        ASSERT_TRUE(wr(0x05, 0x00));
        EXPECT_EQ(rd1(0x05) & 0x01, 0x01);
        ASSERT_TRUE(wr(0x05, 0x01));
        ASSERT_TRUE(wr(0x07, 0x02));
        EXPECT_EQ(rd1(0x05), 0x00);
        EXPECT_EQ(rd1(0x07), 0x00);
    }
    chip().connect(P720); // a timing change on a live source is no 5 V or sync change
    EXPECT_EQ(rd1(0x05), 0x00);
    EXPECT_EQ(rd1(0x07), 0x00);

    chip().poke(0, 0xD0, 0xF5);
    ASSERT_TRUE(wr(0xD0, 0x30));
    EXPECT_EQ(rd1(0xD0), 0xC5);
    chip().poke(0, 0x09, 0x61);
    ASSERT_TRUE(wr(0x09, 0x20));
    EXPECT_EQ(rd1(0x09), 0x41);
}

struct TimingCase {
    const char* name;
    HdmiTiming t;
    std::vector<uint8_t> bytes; // registers 0x99-0xA8
    uint8_t c0, c1, c2;         // bank 2
};

TEST_F(It6602, MeasuredTimingRegistersDecodeToTheSource)
{
    const TimingCase cases[] = {
        {"1080p60", P1080,
         {0x00, 21, 0x00, 0x98, 0x08, 0x80, 0x07, 0x2C, 0x00, 0x58, 0x65, 0x44, 0x38, 0x05, 0x04, 0x09},
         0x40, 0x24, 0x41},
        {"720p60", P720,
         {0x00, 43, 0x00, 0x72, 0x06, 0x00, 0x05, 0x28, 0x00, 0x6E, 0xEE, 0x22, 0xD0, 0x05, 0x05, 0x09},
         0xA0, 0x12, 0x20},
        // long porch and sync (ninth bits), negative syncs, interlaced, slow clock
        {"wide blanking", {1000, 500, 1660, 530, 260, 100, 3, 20, false, false, true, 25000},
         {0x02, 126, 0x00, 0x7C, 0x06, 0xE8, 0x03, 0x04, 0x11, 0x2C, 0x12, 0x12, 0xF4, 0x03, 0x07, 0x00},
         0x80, 0x06, 0x1A},
    };
    for (const TimingCase& c : cases) {
        SCOPED_TRACE(c.name);
        chip().connect(c.t);
        std::vector<uint8_t> r;
        ASSERT_TRUE(rd(0x99, &r, 16));
        EXPECT_EQ(r, c.bytes);
        auto R = [&](unsigned reg) { return unsigned(r[reg - 0x99]); };
        // read back exactly as the receiver driver decodes them
        const unsigned hact = ((R(0x9F) & 0x3F) << 8) + R(0x9E), htt = ((R(0x9D) & 0x3F) << 8) + R(0x9C);
        const unsigned vact = ((R(0xA4) & 0xF0) << 4) + R(0xA5), vtt = ((R(0xA4) & 0x0F) << 8) + R(0xA3);
        const unsigned h1 = ((R(0xA1) & 0xF0) << 4) + R(0xA2), h2 = ((R(0xA1) & 0x01) << 8) + R(0xA0);
        const unsigned v1 = R(0xA7) & 0x3F, v2 = R(0xA6) & 0x1F;
        EXPECT_EQ(hact, c.t.hactive);
        EXPECT_EQ(htt, c.t.htotal);
        EXPECT_EQ(vact, c.t.vactive);
        EXPECT_EQ(vtt, c.t.vtotal);
        EXPECT_EQ(h2, c.t.hsync);
        EXPECT_EQ(htt - (hact + h1) - h2, c.t.hback);
        EXPECT_EQ(v2, c.t.vsync);
        EXPECT_EQ(vtt - (v1 + v2) - vact, c.t.vback);
        EXPECT_EQ((R(0x99) >> 1) & 1, c.t.interlaced ? 1u : 0u);

        ASSERT_TRUE(wr(0x0F, 2));
        std::vector<uint8_t> clk;
        ASSERT_TRUE(rd(0xC0, &clk, 3));
        ASSERT_TRUE(wr(0x0F, 0));
        EXPECT_EQ(clk, (std::vector<uint8_t>{c.c0, c.c1, c.c2}));
        EXPECT_EQ((unsigned(clk[1]) << 12) + clk[2] * 16u + (clk[0] >> 4), c.t.pixelClockKHz);
    }
    // 21 is the value the driver turns into its 150 MHz estimate for 1080p
    chip().connect(P1080);
    EXPECT_EQ(31620 / rd1(0x9A) / 10, 150);

    chip().disconnect(); // no clock measured: every timing byte reads 0
    std::vector<uint8_t> r;
    ASSERT_TRUE(rd(0x99, &r, 16));
    EXPECT_EQ(r, std::vector<uint8_t>(16, 0));
    EXPECT_EQ(chip().reg(2, 0xC0) | chip().reg(2, 0xC1) | chip().reg(2, 0xC2), 0);
}

TEST_F(It6602, BanksKeepTheirOwnRegistersAndTheLogSaysWhich)
{
    chip().connect(P1080);
    ASSERT_TRUE(wr(0x0F, 0x01));
    ASSERT_TRUE(send(Receiver8, {0xB0, 0x03, 0x5A})); // block write runs on to 0xB1
    EXPECT_EQ(rd1(0xC1), 0x00);                        // bank 1 0xC1 is not the clock register
    ASSERT_TRUE(wr(0x0F, 0x00));
    ASSERT_TRUE(wr(0xB0, 0x77));
    ASSERT_TRUE(wr(0xC0, 0x03)); // bank 0 0xC0 is plain storage
    EXPECT_EQ(chip().bank(), 0);

    EXPECT_EQ(chip().reg(1, 0xB0), 0x03);
    EXPECT_EQ(chip().reg(1, 0xB1), 0x5A);
    EXPECT_EQ(chip().reg(0, 0xB0), 0x77);
    EXPECT_EQ(chip().reg(0, 0xC0), 0x03);
    EXPECT_EQ(chip().reg(2, 0xC0), 0x40); // the measured clock is untouched
    EXPECT_EQ(rd1(0xB0), 0x77);

    const auto hpd = chip().writesTo(1, 0xB0);
    ASSERT_EQ(hpd.size(), 1u);
    EXPECT_EQ(hpd[0].bank, 1);
    EXPECT_EQ(hpd[0].value, 0x03);
    const auto all = chip().writes();
    ASSERT_EQ(all.size(), 6u);
    EXPECT_EQ(all[0].bank, -1);
    EXPECT_EQ(all[2].address, 0xB1);
    EXPECT_TRUE(i2cBoard().violations().empty());
}

TEST_F(It6602, ReadOnlyAndWrongBankAccessesAreViolations)
{
    chip().connect(P1080);
    struct Case {
        int bank;
        uint8_t reg;
        bool write;
    };
    const Case cases[] = {
        {0, 0x00, true}, {0, 0x0A, true}, {0, 0x9A, true}, {0, 0xA8, true}, {2, 0xC1, true},
        {1, 0x61, true}, {1, 0x05, false}, {2, 0x0A, false}, {3, 0x9C, false}, {1, 0x07, true},
        {0, 0xAB, true}, {0, 0xD4, true}, {2, 0x16, true}, {1, 0xAA, false}, {3, 0xD1, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(int(c.reg));
        ASSERT_TRUE(wr(0x0F, uint8_t(c.bank)));
        const size_t before = chip().violations().size();
        const uint8_t held = chip().reg(c.bank, c.reg);
        if (c.write) {
            ASSERT_TRUE(wr(c.reg, 0x00));
            EXPECT_EQ(chip().reg(c.bank, c.reg), held); // not stored
        } else {
            EXPECT_GE(rd1(c.reg), 0);
        }
        EXPECT_EQ(chip().violations().size(), before + 1);
    }
    EXPECT_EQ(chip().reg(0, 0x07) & 0x02, 0x02); // the bank-1 write did not clear the bank-0 latch
    EXPECT_EQ(i2cBoard().violations().size(), std::size(cases));
    i2cBoard().clearViolations();
    EXPECT_TRUE(i2cBoard().violations().empty());
}

TEST_F(It6602, InjectedFailuresRefuseTheNextTransfersOnly)
{
    chip().failNextTransfers(2);
    EXPECT_EQ(rd1(0x00), -1);
    EXPECT_FALSE(wr(0x10, 0x11));
    EXPECT_EQ(chip().reg(0, 0x10), 0x00);
    EXPECT_EQ(rd1(0x00), 0x54);
    EXPECT_TRUE(wr(0x10, 0x22));
    EXPECT_EQ(chip().reg(0, 0x10), 0x22);
    EXPECT_EQ(i2cBoard().nacks(), 2);
    EXPECT_EQ(i2cBoard().it6602(1).reg(0, 0x10), 0x00);
}

TEST_F(It6602, ClockModeAndAviFollowTheSource)
{
    chip().setHdmiMode(true); // before the source: no change to announce
    chip().connect(P1080);
    EXPECT_EQ(rd1(0x0A), 0xC9); // 5 V, clock stable, HDMI, sync
    ASSERT_TRUE(wr(0x05, 0xFF));
    chip().setHdmiMode(false);
    EXPECT_EQ(rd1(0x0A), 0x89);
    EXPECT_EQ(rd1(0x05), 0x20); // mode change latched
    chip().setHdmiMode(false);
    ASSERT_TRUE(wr(0x05, 0x20));
    EXPECT_EQ(rd1(0x05), 0x00);

    chip().setAvi(0x40, 0x80, 0x04, 16, 2);
    EXPECT_EQ(rd1(0x09) & 0x01, 0x01);
    ASSERT_TRUE(wr(0x0F, 2));
    std::vector<uint8_t> avi;
    ASSERT_TRUE(rd(0x14, &avi, 6));
    ASSERT_TRUE(wr(0x0F, 0));
    EXPECT_EQ(avi[1], 2);
    EXPECT_EQ((std::vector<uint8_t>(avi.begin() + 2, avi.end())), (std::vector<uint8_t>{0x40, 0x80, 0x04, 16}));
    unsigned sum = 0x82 + 13; // header type and length
    for (uint8_t b : avi)
        sum += b;
    EXPECT_EQ(sum % 256, 0u);

    chip().setAudio(0x80, 2, 3);
    chip().setAmplitudes(1, 0x91, 0x92, 0x13);
    std::vector<uint8_t> v;
    ASSERT_TRUE(rd(0xAA, &v, 3));
    EXPECT_EQ(v, (std::vector<uint8_t>{0x80, 2, 3}));
    ASSERT_TRUE(rd(0xD1, &v, 6));
    EXPECT_EQ(v, (std::vector<uint8_t>{0, 0, 0, 0x91, 0x92, 0x13}));
    chip().raiseEq(0x90);
    EXPECT_EQ(rd1(0xD0), 0x90);
    EXPECT_TRUE(i2cBoard().violations().empty());
}

TEST_F(It6602, ErrorRegistersFollowTheEqualiserValueInForce)
{
    chip().connect(P1080);
    // plain counters: a test sets them, any write starts them over
    chip().poke(0, 0xB4, 7);
    EXPECT_EQ(rd1(0xB4), 7);
    ASSERT_TRUE(wr(0xB4, 0x00));
    EXPECT_EQ(rd1(0xB4), 0);
    // status: written ones clear latched bits, a lasting condition stays
    chip().poke(0, 0xB7, 0x06);
    chip().setSymbolErrors(1, 0x01);
    EXPECT_EQ(rd1(0xB7), 0x07);
    ASSERT_TRUE(wr(0xB7, 0x07));
    EXPECT_EQ(rd1(0xB7), 0x01);

    chip().setLinkErrors(0, 0x00, 9); // the chip's own setting
    chip().setLinkErrors(0, 0x9F, 2);
    struct Case {
        uint8_t manual, value;
        int errors;
    } cases[] = {{0x00, 0x9F, 9}, {0x20, 0x9F, 2}, {0x20, 0xFF, 0}, {0x20, 0x9F, 2}};
    for (const Case& c : cases) {
        SCOPED_TRACE(int(c.value));
        ASSERT_TRUE(wr(0x26, c.manual));
        ASSERT_TRUE(wr(0x27, c.value));
        for (int again = 0; again < 2; ++again) { // every restart counts the same again
            EXPECT_EQ(rd1(0xB3), c.errors);
            ASSERT_TRUE(wr(0xB3, uint8_t(c.errors)));
        }
        EXPECT_EQ(rd1(0xB8), 0); // port 1 has nothing set
    }
    EXPECT_TRUE(i2cBoard().violations().empty());
}

}
