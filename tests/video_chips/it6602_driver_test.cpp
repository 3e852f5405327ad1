#include "it6602_fixture.h"

#include "video_chips/keltosource_status.h"

#include "params/block_layout.h"
#include "params/vyrrampara.h"
#include "platform/sim/board_config.h"
#include "store_face.h"

#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <thread>
#include <vector>

// The driver against the simulated receivers, observed through the chips' registers and write
// logs and through the block and records it publishes.
namespace {

using namespace it6602_test;

HdmiTiming timing(uint16_t ha, uint16_t hs, uint16_t hb, uint16_t ht, uint16_t va, uint16_t vs, uint16_t vb,
                  uint16_t vt, uint32_t khz)
{
    HdmiTiming t;
    t.hactive = ha;
    t.hsync = hs;
    t.hback = hb;
    t.htotal = ht;
    t.vactive = va;
    t.vsync = vs;
    t.vback = vb;
    t.vtotal = vt;
    t.pixelClockKHz = khz;
    return t;
}

class It6602Driver : public It6602Fixture {
protected:
    std::vector<uint8_t> blockOf(int r) const
    {
        const uint8_t* p = testBlock(VyrRamPara::pInstance()) + blk::kInputResolution + 6 * r;
        return std::vector<uint8_t>(p, p + 6);
    }
    static std::vector<uint8_t> le(uint16_t w, uint16_t h, uint16_t rate)
    {
        return {uint8_t(w), uint8_t(w >> 8), uint8_t(h), uint8_t(h >> 8), uint8_t(rate), uint8_t(rate >> 8)};
    }
    static std::vector<uint8_t> written(const std::vector<It6602Chip::Write>& log)
    {
        std::vector<uint8_t> v;
        for (const auto& w : log)
            v.push_back(w.value);
        return v;
    }
};

// A missing receiver is reset on every pass; "no signal" reaches the pages once, not each time.
TEST_F(It6602Driver, ReceiverThatNeverIdentifiesAsksForNoRefreshOnEveryPass)
{
    int refreshes = 0;
    QObject::connect(VyrRamPara::pInstance(), &VyrRamPara::sig_update_para, [&refreshes](int) { ++refreshes; });
    testBlock(VyrRamPara::pInstance())[blk::kInputResolution + 6] = 0x80; // a timing was shown before
    i2cBoard().it6602(1).setPresent(false);
    select(1);
    for (int i = 0; i < 20; ++i)
        EXPECT_EQ(drv_.IT6602_fsm_init(fd_, 1), 0);
    EXPECT_EQ(refreshes, 1);
    EXPECT_EQ(blockOf(1), std::vector<uint8_t>(6, 0));
}

TEST_F(It6602Driver, IdentifiesAt0x94AfterTheFailedTryAt0x90AndSetsItsPresenceBit)
{
    const uint8_t bits[4] = {0x01, 0x04, 0x08, 0x10};
    uint8_t& presence = VyrRamPara::pInstance()->image[regimage::kChipPresence];
    for (int r = 0; r < 4; ++r) {
        SCOPED_TRACE(r);
        presence = 0x80;
        select(r);
        EXPECT_EQ(drv_.IT6602_fsm_init(fd_, r), 1);
        EXPECT_EQ(drv_.address(), 0x94);
        EXPECT_EQ(drv_.identify_failures(r), 1); // 0x90 is tried first and never answers
        EXPECT_EQ(presence, 0x80 | bits[r]);
        // the reset applied the init table as masked rows: 0x77 gets 0x80, then 0x08 under mask 0x0C
        EXPECT_EQ(i2cBoard().it6602(r).reg(0, 0x77), 0x88);
        EXPECT_EQ(i2cBoard().it6602(r).bank(), 0);
        EXPECT_EQ(drv_.oscillator_count(r), 0u); // the model's oscillator reads 0: refused
    }
    pathOn(false); // receivers silent: not found at either address, bit cleared again
    select(1);
    EXPECT_EQ(drv_.IT6602_fsm_init(fd_, 1), 0);
    EXPECT_EQ(drv_.identify_failures(1), 3);
    EXPECT_EQ(presence & 0x04, 0);
}

// Entry into the software-reset state: video output off, the selected port's analogue front end
// reset (0x11 bit 6 pulsed), then the hot-plug line from its 5 V (none here: low).
TEST_F(It6602Driver, SoftwareResetPulsesTheFrontEndBetweenOutputOffAndHotPlug)
{
    select(0);
    ASSERT_EQ(drv_.IT6602_fsm_init(fd_, 0), 1);
    const It6602Chip& chip = i2cBoard().it6602(0);
    EXPECT_EQ(chip.afeResets(0), 1);
    EXPECT_EQ(chip.afeResets(1), 0);
    std::vector<std::array<int, 3>> tail;
    for (const auto& w : chip.writes())
        if ((w.bank == 0 && (w.address == 0x53 || w.address == 0x11)) || (w.bank == 1 && w.address == 0xB0))
            tail.push_back({w.bank, w.address, w.value});
    ASSERT_GE(tail.size(), 4u);
    tail.erase(tail.begin(), tail.end() - 4);
    const std::vector<std::array<int, 3>> expected = {{0, 0x53, 0x4F}, {0, 0x11, 0xE0}, {0, 0x11, 0xA0}, {1, 0xB0, 0x00}};
    EXPECT_EQ(tail, expected);
}

// The presence bits share status byte 0 with bits other threads change atomically (the SDI
// transmitter's, the iTE6805s'): identifying a receiver must never undo one of those changes.
TEST_F(It6602Driver, IdentificationNeverUndoesAnotherThreadsPresenceBit)
{
    VyrRamPara* store = VyrRamPara::pInstance();
    std::atomic<bool> stop{false};
    int undone = 0;
    std::thread other([&] {
        for (int i = 0; !stop.load(); ++i) {
            const bool on = i & 1;
            keltosource_status::set(keltosource_status::ChipPresence, 0x40, on);
            for (int k = 0; k < 50; ++k)
                if (keltosource_status::test(keltosource_status::ChipPresence, 0x40) != on)
                    ++undone;
        }
    });
    select(0);
    for (int i = 0; i < 40000; ++i)
        drv_.IT6602_Identify_Chip(fd_, 0);
    stop = true;
    other.join();
    EXPECT_EQ(undone, 0);
    EXPECT_TRUE(store->image[regimage::kChipPresence] & 0x01);
}

struct TimingCase {
    const char* name;
    HdmiTiming t;
    uint16_t rate;
    float pfreq;
};

// The refresh comes from the receiver's exact clock; the whole-MHz estimate showed 720p50 as 49,
// 2160p30 as 28, 1080p24 as 23 and 1080p25 as 24.
TEST_F(It6602Driver, ConnectedSourceIsDecodedIntoBlockAndRecord)
{
    auto board = [](const char* name) { return *platform::Sim::standardTiming(name); };
    const TimingCase cases[] = {
        {"1080p60", P1080p60, 60, 148.5f},
        {"720p60", timing(1280, 40, 220, 1650, 720, 5, 20, 750, 74250), 60, 74.25f},
        {"1080p50", timing(1920, 44, 148, 2640, 1080, 5, 36, 1125, 148500), 50, 148.5f}, // below 55: as computed
        {"board 1920x1080p60", board("1920x1080p60"), 60, 148.5f},
        {"board 1920x1080p50", board("1920x1080p50"), 50, 148.5f},
        {"board 1280x720p50", board("1280x720p50"), 50, 74.25f},
        {"board 3840x2160p30", board("3840x2160p30"), 30, 297.0f},
        {"board 3840x2160p60", board("3840x2160p60"), 60, 594.0f},
        {"1080p24", timing(1920, 44, 148, 2750, 1080, 5, 36, 1125, 74250), 24, 74.25f},
        {"1080p25", timing(1920, 44, 148, 2640, 1080, 5, 36, 1125, 74250), 25, 74.25f},
    };
    int i = 0;
    for (const TimingCase& c : cases) {
        SCOPED_TRACE(c.name);
        const int r = i++ % 4;
        i2cBoard().it6602(r).disconnect(); // a receiver used before sees the source change
        i2cBoard().it6602(r).connect(c.t);
        bringUp(r);
        EXPECT_EQ(blockOf(r), le(c.t.hactive, c.t.vactive, c.rate));
        const HDMI_INFO& h = records_[r];
        const int32_t expect[10] = {c.t.hactive, c.t.hsync, c.t.hback, 1,       c.t.htotal,
                                    c.t.vactive, c.t.vsync, c.t.vback, 1,       c.t.vtotal};
        EXPECT_EQ(0, memcmp(&h, expect, sizeof expect));
        EXPECT_FLOAT_EQ(h.pfreq, c.pfreq);
        EXPECT_EQ(h.type + h.datamode + h.lane + h.ip, 0);
        EXPECT_EQ(h.nosignal, 0);
        EXPECT_EQ(h.stable, 1);
        EXPECT_EQ(i2cBoard().it6602(r).reg(1, 0xB0) & 3, 3); // hot-plug high with 5 V
        EXPECT_EQ(i2cBoard().it6602(r).reg(0, 0x53) & 0x0F, 0); // output enabled
    }
}

// 148.5 MHz / (2422 x 1125) = 54.5004 Hz rounds to 55 and is shown as 60, / (2423 x 1125) =
// 54.478 Hz as 54. Without the receiver's clock (bank 2 0xC0-0xC2 read 0) the estimate stands in:
// 148.5 MHz reads 150 MHz (0x9A = 21), 150 MHz / (2424 x 1125) = 55.005 Hz is shown as 60,
// / (2425 x 1125) = 54.98 Hz as 54.
TEST_F(It6602Driver, RefreshOf55IsShownAs60AndBelowAsComputed)
{
    const struct {
        uint16_t htotal, rate;
        bool clock;
    } rows[] = {{2422, 60, true}, {2423, 54, true}, {2424, 60, false}, {2425, 54, false}};
    int r = 0;
    for (const auto& row : rows) {
        SCOPED_TRACE(row.htotal);
        i2cBoard().it6602(r).connect(timing(1920, 44, 148, row.htotal, 1080, 5, 36, 1125, 148500));
        for (uint8_t reg = 0xC0; !row.clock && reg <= 0xC2; ++reg)
            i2cBoard().it6602(r).poke(2, reg, 0);
        bringUp(r);
        EXPECT_EQ(blockOf(r), le(1920, 1080, row.rate));
        ++r;
    }
}

TEST_F(It6602Driver, DisconnectPublishesNoSignal)
{
    i2cBoard().it6602(2).connect(P1080p60);
    bringUp(2);
    ASSERT_EQ(blockOf(2), le(1920, 1080, 60));
    i2cBoard().it6602(2).disconnect();
    run(2, 3);
    EXPECT_EQ(blockOf(2), std::vector<uint8_t>(6, 0));
    const HDMI_INFO& h = records_[2];
    EXPECT_EQ(h.nosignal, 1);
    const int32_t zero[10] = {};
    EXPECT_EQ(0, memcmp(&h, zero, sizeof zero));
    EXPECT_EQ(h.type + h.datamode + h.lane + h.ip, 0);
    EXPECT_EQ(i2cBoard().it6602(2).reg(1, 0xB0) & 3, 0); // hot-plug low without 5 V
    EXPECT_EQ(i2cBoard().it6602(2).reg(0, 0x53) & 0x0F, 0x0F);
    // and back
    i2cBoard().it6602(2).connect(P1080p60);
    run(2, 3);
    EXPECT_EQ(blockOf(2), le(1920, 1080, 60));
    EXPECT_EQ(records_[2].nosignal, 0);
}

TEST_F(It6602Driver, InterruptsAreAcknowledgedByWritingOnes)
{
    It6602Chip& chip = i2cBoard().it6602(1);
    select(1);
    ASSERT_EQ(drv_.IT6602_fsm_init(fd_, 1), 1);
    drv_.IT6602_fsm_init_1(fd_, 1);
    chip.clearLog();
    chip.connect(P1080p60); // latches 0x05 bit 0 and 0x07 bit 1
    chip.poke(0, 0x08, 0x04);
    chip.poke(0, 0xD0, 0x03);
    run(1, 1);
    EXPECT_EQ(written(chip.writesTo(0, 0x05)), std::vector<uint8_t>{0x01});
    EXPECT_EQ(written(chip.writesTo(0, 0x07)), std::vector<uint8_t>{0x02});
    EXPECT_EQ(written(chip.writesTo(0, 0x08)), std::vector<uint8_t>{0x04});
    EXPECT_EQ(written(chip.writesTo(0, 0xD0)), std::vector<uint8_t>{0x03});
    for (uint8_t reg : {0x05, 0x06, 0x07, 0x08, 0x09, 0xD0})
        EXPECT_EQ(chip.reg(0, reg), 0) << int(reg);
    run(1, 3);
    ASSERT_EQ(blockOf(1), le(1920, 1080, 60));
    // a 5 V change on the unselected port 1 changes no video state
    chip.clearLog();
    chip.poke(0, 0x06, 0x01);
    run(1, 3);
    EXPECT_EQ(written(chip.writesTo(0, 0x06)), std::vector<uint8_t>{0x01});
    EXPECT_EQ(drv_.get_IT6602_dev_data(1)->videoState, VSTATE_VideoOn);
    EXPECT_EQ(blockOf(1), le(1920, 1080, 60));
}

// Register 0x9A and the totals are divisors; they read 0 while a signal settles.
TEST_F(It6602Driver, SettlingMeasurementsNeitherCrashNorPublishNonsense)
{
    It6602Chip& chip = i2cBoard().it6602(3);
    chip.connect(P1080p60);
    bringUp(3);
    ASSERT_EQ(blockOf(3), le(1920, 1080, 60));
    auto remeasure = [&] {
        chip.poke(0, 0x07, 0x02); // sync change: measured again
        run(3, 4);
    };
    struct Case {
        const char* name;
        uint8_t reg, value;
    } unsettled[] = {{"0x9A = 0", 0x9A, 0}, {"total width 0", 0x9C, 0}, {"total height 0", 0xA3, 0}};
    for (const Case& c : unsettled) {
        SCOPED_TRACE(c.name);
        chip.connect(P1080p60);
        chip.poke(0, c.reg, c.value);
        if (c.reg == 0x9C)
            chip.poke(0, 0x9D, 0);
        if (c.reg == 0xA3)
            chip.poke(0, 0xA4, 0x40); // active height bits kept, total bits 0
        remeasure();
        EXPECT_EQ(blockOf(3), std::vector<uint8_t>(6, 0));
        EXPECT_EQ(records_[3].nosignal, 1);
        EXPECT_EQ(records_[3].htt, 0);
        // once the measurement settles the input comes back by itself
        chip.connect(P1080p60);
        run(3, 4);
        EXPECT_EQ(blockOf(3), le(1920, 1080, 60));
        EXPECT_EQ(records_[3].nosignal, 0);
    }
    // 0x9A = 1: the estimate is 3162 MHz; 1,000,000 x 3162 passes 32 bits
    chip.poke(0, 0x9A, 1);
    remeasure();
    EXPECT_EQ(blockOf(3), le(1920, 1080, 60));
    EXPECT_EQ(drv_.vid_info(3).pclk, 3162u);
    EXPECT_FLOAT_EQ(records_[3].pfreq, 148.5f); // the measured clock still wins
    // without the measured clock the oscillator estimate stands: 48696 / 400 x 255 / 1 / 10
    for (uint8_t reg : {0xC0, 0xC1, 0xC2})
        chip.poke(2, reg, 0);
    remeasure();
    EXPECT_NEAR(records_[3].pfreq, 48696.0 / 400 * 255 / 10, 0.01);
    EXPECT_EQ(records_[3].hact, 1920);
}

}
