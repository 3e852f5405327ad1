#include "ite6805_fixture.h"

#include "base/posix_lock.h"
#include "lock_waiters.h"
#include "program.h"
#include "platform/sim/board_config.h"
#include "platform/sim/devices/c331_chip.h"
#include "store_face.h"

#include <atomic>
#include <chrono>
#include <cstring>
#include <thread>

// Receiver core: identification, initialisation, video states, publishing, watchdog.
namespace {

using namespace ite6805_test;
using Ite6805Driver = Ite6805Fixture;

TEST_F(Ite6805Driver, IdentificationAcceptsIt6805AndIt6807OnlyAndSetsThePresenceBit)
{
    struct Row {
        uint8_t third;
        bool accepted;
    };
    const Row rows[] = {{0x05, true}, {0x07, true}, {0x06, false}, {0x04, false}};
    uint8_t& presence = store->image[regimage::kChipPresence];
    for (const Row& row : rows) {
        SCOPED_TRACE(int(row.third));
        for (int dev = 0; dev < 2; ++dev) {
            s->top_state[dev] = 0;
            chip(dev).setIdentityByte(row.third);
            run(dev, 1);
            EXPECT_EQ(s->top_state[dev], row.accepted ? 1 : 0);
            EXPECT_EQ(presence & (dev ? 0x40 : 0x20), row.accepted ? (dev ? 0x40 : 0x20) : 0);
            EXPECT_EQ(chip(dev).bank(), 0);
        }
    }
}

TEST_F(Ite6805Driver, SilentReceiverIsRetriedEveryPassAndLoggedBounded)
{
    pathOn(false);
    run(0, 5);
    EXPECT_EQ(s->top_state[0], 0);
    EXPECT_EQ(s->identifyFailures(0), 5u);
    EXPECT_EQ(store->image[regimage::kChipPresence] & 0x20, 0);
    EXPECT_TRUE(logHas("iTE6805 device 0 (input 4) does not answer its identification (1 tries)"));
    EXPECT_FALSE(logHas("(2 tries)"));
    pathOn(true);
    run(0, 1);
    EXPECT_EQ(s->top_state[0], 1);
    EXPECT_TRUE(logHas("identified after 5 failed tries"));
}

// The stored oscillator count (kHz, or hundredths of kHz) gives the reference clock, 13000-27000
// kHz or else 19000, and the registers derived from it, worked out by hand:
// 0:91 = kHz/1000, 0:92 = (kHz mod 1000) x 256/1000, 3:E1 = kHz/100, with T = 2 kHz 0:45 = T/312,
// 0:44 = T/1560, 0:46 = T/2320, 0:47 = T/5312, with K = 2560 (T/4)/10^6 5:D3 = 2K, 5:D4 = K.
TEST_F(Ite6805Driver, ReferenceClockComesFromTheStoredOscillatorCount)
{
    struct Row {
        uint32_t count;
        bool hundredths;
        uint32_t rclk;
        uint8_t r091, r092, r3E1, r045, r044, r046, r047, r5D3, r5D4, cec0C;
    };
    const Row rows[] = {
        {24000, false, 24000, 0x18, 0x00, 0xF0, 0x99, 0x1E, 0x14, 0x09, 0x3C, 0x1E, 150},
        {2400000, true, 24000, 0x18, 0x00, 0xF0, 0x99, 0x1E, 0x14, 0x09, 0x3C, 0x1E, 150},
        {24576, false, 24576, 0x18, 0x93, 0xF5, 0x9D, 0x1F, 0x15, 0x09, 0x3E, 0x1F, 153},
        {0, false, 19000, 0x13, 0x00, 0xBE, 0x79, 0x18, 0x10, 0x07, 0x30, 0x18, 118},
        {12999, false, 19000, 0x13, 0x00, 0xBE, 0x79, 0x18, 0x10, 0x07, 0x30, 0x18, 118},
        {13000, false, 13000, 0x0D, 0x00, 0x82, 0x53, 0x10, 0x0B, 0x04, 0x20, 0x10, 81},
        {27000, false, 27000, 0x1B, 0x00, 0x0E, 0xAD, 0x22, 0x17, 0x0A, 0x44, 0x22, 168},
        {27001, false, 19000, 0x13, 0x00, 0xBE, 0x79, 0x18, 0x10, 0x07, 0x30, 0x18, 118},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.count);
        chip(0).setOscillator(row.count, row.hundredths);
        s->top_state[0] = 0;
        run(0, 1);
        ASSERT_EQ(s->top_state[0], 1);
        EXPECT_EQ(s->drv->RCLK[0], row.rclk);
        const std::vector<uint8_t> got = {uint8_t(chip(0).reg(0, 0x91) & 0x3F), chip(0).reg(0, 0x92),
                                          chip(0).reg(3, 0xE1), chip(0).reg(0, 0x45), chip(0).reg(0, 0x44),
                                          chip(0).reg(0, 0x46), chip(0).reg(0, 0x47), chip(0).reg(5, 0xD3),
                                          chip(0).reg(5, 0xD4), chip(0).cecRegister(0x0C)};
        EXPECT_EQ(got, (std::vector<uint8_t>{row.r091, row.r092, row.r3E1, row.r045, row.r044, row.r046, row.r047,
                                             row.r5D3, row.r5D4, row.cec0C}));
        EXPECT_EQ(chip(0).reg(0, 0xF8), 0x00) << "registers locked again";
    }
}

TEST_F(Ite6805Driver, SlowOscillatorAndCalibrationStillFinishInitialisation)
{
    chip(0).setOscillatorReady(false);
    chip(0).setCalibrationDone(false);
    run(0, 1);
    EXPECT_EQ(s->top_state[0], 1);
    // six calibration pulses per port: five after misses and the last one after giving up
    int starts = 0;
    for (const auto& w : chip(0).writesTo(0, 0x2A))
        if (w.bank == 0 && (w.value & 0x40))
            ++starts;
    EXPECT_EQ(starts, 1 + 6); // the first start and the six pulses
    EXPECT_EQ(chip(0).reg(3, 0x3A) & 0x80, 0);
}

TEST_F(Ite6805Driver, FourKSourceIsLockedPublishedAndHandedToTheScaler)
{
    chip(0).connect(P2160p60);
    run(0, 12);
    EXPECT_EQ(s->data[0].STATEV, STATEV_VidStable);
    EXPECT_EQ(chip(0).hotPlug(), 0xC0);
    EXPECT_EQ(blockOf(4), le(3840, 2160, 60));
    EXPECT_EQ(testBlock(store)[blk::iteSummary(0)], uint8_t(3840));
    EXPECT_EQ(testBlock(store)[blk::iteSummary(0) + 1], uint8_t(2160));
    EXPECT_EQ(testBlock(store)[blk::iteSummary(0) + 2], 60); // the measured rate, 59.9 Hz, to the nearest hertz
    EXPECT_EQ(chip(0).pixelSamplesTaken(), 40); // the output set-up measures a second time
    EXPECT_EQ(chip(0).bank(), 0);

    // Handed over: the scaler's word of port 5 asks for a check; no record yet.
    EXPECT_EQ(portWord(5), 0x81);
    EXPECT_EQ(record(4).hact, 0);
    run(0, 1, 501); // the scaler has not taken it: nothing refreshed, the word stays
    EXPECT_EQ(portWord(5), 0x81);
    EXPECT_EQ(record(4).hact, 0);
    scalerTakes(5);
    run(0, 1);
    EXPECT_EQ(portWord(5), 0);
    const HDMI_INFO r = record(4);
    const int32_t expect[10] = {3840, 88, 296, 1, 4400, 2160, 10, 72, 1, 2250};
    EXPECT_EQ(0, memcmp(&r, expect, sizeof expect));
    EXPECT_NEAR(r.pfreq, 594.0, 1.5) << "pixel clock from the sampled sum";
    EXPECT_EQ(r.type, 1);
    EXPECT_EQ(r.datamode, 1);
    EXPECT_EQ(r.lane, 8);
    EXPECT_EQ(r.ip, 0);
    EXPECT_EQ(r.nosignal, 0);
    EXPECT_EQ(r.stable, 1);
    // the cycle starts again while the signal stays
    run(0, 1);
    EXPECT_EQ(portWord(5), 0x81);
}

// The record is refreshed only once more than 500 ticks have passed since the word was raised.
TEST_F(Ite6805Driver, HandshakeRefreshesTheRecordAfterMoreThan500Ticks)
{
    chip(0).connect(P2160p60);
    for (int i = 0; i < 40 && portWord(5) != 0x81; ++i)
        run(0, 1);
    ASSERT_EQ(portWord(5), 0x81); // raised, with the stamp, in the last pass
    scalerTakes(5);
    run(0, 1, 500);
    EXPECT_EQ(portWord(5), 0x80);
    EXPECT_EQ(record(4).hact, 0);
    run(0, 1, 1);
    EXPECT_EQ(portWord(5), 0x00);
    EXPECT_EQ(record(4).hact, 3840);
}

TEST_F(Ite6805Driver, UnpluggedSourcePublishesNoSignal)
{
    chip(0).connect(P2160p60);
    run(0, 12);
    scalerTakes(5);
    run(0, 1, 501);
    ASSERT_EQ(record(4).hact, 3840);
    chip(0).disconnect();
    run(0, 2);
    EXPECT_EQ(s->data[0].STATEV, STATEV_Unplug);
    EXPECT_EQ(chip(0).hotPlug(), 0x00);
    EXPECT_EQ(blockOf(4), std::vector<uint8_t>(6, 0));
    const HDMI_INFO r = record(4);
    const int32_t zero[10] = {};
    EXPECT_EQ(0, memcmp(&r, zero, sizeof zero));
    EXPECT_EQ(r.pfreq, 0.0f);
    EXPECT_EQ(r.type + r.datamode + r.lane, 3);
    EXPECT_EQ(r.ip, 0);
    EXPECT_EQ(r.nosignal, 1);
    EXPECT_EQ(r.stable, 1);
    // and back
    chip(0).connect(P1080p60);
    run(0, 12);
    EXPECT_EQ(blockOf(4), le(1920, 1080, 60));
}

TEST_F(Ite6805Driver, Yuv420HorizontalValuesArePublishedDoubled)
{
    chip(1).connect(P2160p60, true);
    run(1, 12);
    ASSERT_EQ(s->data[1].STATEV, STATEV_VidStable);
    EXPECT_EQ(s->vid[1].HActive, 1920); // as the chip measures it
    EXPECT_EQ(blockOf(5), le(3840, 2160, 60));
    EXPECT_EQ(portWord(4), 0x81); // device 1 hands over through port 4
    scalerTakes(4);
    run(1, 1, 501);
    const HDMI_INFO r = record(5);
    EXPECT_EQ(r.hact, 3840);
    EXPECT_EQ(r.hsync, 88);
    EXPECT_EQ(r.hback, 296);
    EXPECT_EQ(r.htt, 4400);
    EXPECT_EQ(r.vact, 2160);
    EXPECT_EQ(r.vsync, 10);
    EXPECT_EQ(r.vtt, 2250);
    EXPECT_EQ(r.lane, 8); // 4:2:0 above 160 MHz counts as 4K
}

// The rate is rounded to the nearest hertz: the sampled clock lands just under the true one on
// about half of the oscillator values, which truncated showed 50 Hz as 49.
TEST_F(Ite6805Driver, FrameRatesBelow55AreKeptAndTheRestShownAs60)
{
    struct Row {
        HdmiTiming t;
        uint8_t published;
    };
    auto clocked = [](uint32_t khz) {
        HdmiTiming t = P1080p60;
        t.pixelClockKHz = khz;
        return t;
    };
    auto board = [](const char* name) { return *platform::Sim::standardTiming(name); };
    HdmiTiming p1080p25 = board("1920x1080p50"), p1080p24 = p1080p25;
    p1080p25.pixelClockKHz = p1080p24.pixelClockKHz = 74250;
    p1080p24.htotal = 2750;
    // 1920x1080 with totals 2200 x 1125: 134 MHz is 54.1 Hz, 135.3 MHz 54.67 Hz, 137 MHz 55.4 Hz
    const Row rows[] = {{clocked(134000), 54}, {clocked(135300), 60}, {clocked(137000), 60}, {clocked(74250), 30},
                        {clocked(148500), 60}, {board("1920x1080p50"), 50}, {board("1280x720p50"), 50},
                        {board("3840x2160p30"), 30}, {p1080p25, 25}, {p1080p24, 24}};
    // The stored oscillator count across the receiver's range, 0 standing for the 19000 kHz fallback.
    std::vector<uint32_t> counts = {0};
    for (uint32_t count = 13000; count <= 27000; count += 250)
        counts.push_back(count);
    for (const uint32_t count : counts) {
        chip(0).setOscillator(count);
        s->top_state[0] = 0;
        for (const Row& row : rows) {
            SCOPED_TRACE(testing::Message() << count << " kHz, " << row.t.hactive << "x" << row.t.vactive << " at "
                                            << row.t.pixelClockKHz << " kHz");
            chip(0).disconnect();
            run(0, 2);
            chip(0).connect(row.t);
            run(0, 12);
            EXPECT_EQ(blockOf(4), le(row.t.hactive, row.t.vactive, row.published));
        }
    }
}

TEST_F(Ite6805Driver, AlternativeTimingLayoutOfRevisionClass0x10)
{
    for (uint8_t rev : {0x10, 0xE0}) {
        SCOPED_TRACE(int(rev));
        chip(0).setRevision(rev);
        chip(0).connect(make(2560, 48, 32, 80, 1440, 3, 5, 33, 241500));
        s->top_state[0] = 0;
        run(0, 12);
        ASSERT_EQ(s->data[0].ChipRevision, rev);
        const iTE6805_VidInfo& v = s->vid[0];
        EXPECT_EQ(v.HActive, 2560);
        EXPECT_EQ(v.HFrontPorch, 48);
        EXPECT_EQ(v.HSyncWidth, 32);
        EXPECT_EQ(v.HBackPorch, 80);
        EXPECT_EQ(v.VActive, 1440);
        EXPECT_EQ(v.VFrontPorch, 3);
        EXPECT_EQ(v.VSyncWidth, 5);
        EXPECT_EQ(v.VBackPorch, 33);
        EXPECT_EQ(blockOf(4), le(2560, 1440, 60));
        chip(0).disconnect();
        run(0, 2);
    }
}

// A source whose clock and totals read zero while it settles: no division by zero, no rate.
TEST_F(Ite6805Driver, SettlingSourceWithZeroClockAndTotalsDoesNotDivideByZero)
{
    HdmiTiming t; // everything 0: no pixel-clock samples, TMDS counter at 0xFF, zero totals
    chip(0).connect(t);
    run(0, 12);
    ASSERT_EQ(s->data[0].STATEV, STATEV_VidStable);
    EXPECT_EQ(s->vid[0].PCLK, 0u);
    EXPECT_EQ(s->vid[0].TMDS, 0u);
    EXPECT_EQ(s->vid[0].FrameRate, 0u);
    EXPECT_EQ(blockOf(4), le(0, 0, 0));
}

// The resolution records are written under the store's mutex: a holder of the mutex keeps the
// driver from publishing until it lets go.
TEST_F(Ite6805Driver, ResolutionRecordWaitsForTheStoreMutex)
{
    chip(0).connect(P1080p60);
    run(0, 6); // up to the last CheckSync pass
    ASSERT_EQ(s->data[0].STATEV, STATEV_CheckSync);
    std::atomic<bool> done{false};
    std::thread poller;
    {
        PosixLock lock(store->mutex);
        poller = std::thread([&] {
            run(0, 6);
            done = true;
        });
        EXPECT_TRUE(waitFor([&] { return LockWaiters::waited(store->mutex); }, 5000)) << "the driver waits for the store's mutex";
        EXPECT_FALSE(done.load());
        EXPECT_EQ(blockOf(4), std::vector<uint8_t>(6, 0));
        EXPECT_EQ(testBlock(store)[blk::iteSummary(0)], 0);
        EXPECT_EQ(testBlock(store)[blk::iteSummary(0) + 2], 0);
    }
    poller.join();
    EXPECT_TRUE(done.load());
    EXPECT_EQ(blockOf(4), le(1920, 1080, 60));
    EXPECT_EQ(testBlock(store)[blk::iteSummary(0)], uint8_t(1920));
    EXPECT_EQ(testBlock(store)[blk::iteSummary(0) + 1], uint8_t(1080));
    EXPECT_EQ(testBlock(store)[blk::iteSummary(0) + 2], 60);
}

TEST_F(Ite6805Driver, ReceiverThatStopsAnsweringIsShownWithoutSignalAndTheOtherGoesOn)
{
    chip(0).connect(P1080p60);
    chip(1).connect(P2160p60);
    run(0, 12);
    run(1, 12);
    scalerTakes(5);
    run(0, 1, 501);
    ASSERT_EQ(record(4).hact, 1920);
    chip(0).setPresent(false);
    run(0, ite6805_sys::DeadPassLimit);
    run(1, 3);
    EXPECT_EQ(s->top_state[0], 0);
    EXPECT_EQ(record(4).nosignal, 1);
    EXPECT_EQ(record(4).hact, 0);
    EXPECT_EQ(blockOf(4), std::vector<uint8_t>(6, 0));
    EXPECT_TRUE(logHas("iTE6805 device 0 (input 4) stopped answering"));
    EXPECT_EQ(s->top_state[1], 1);
    EXPECT_EQ(s->data[1].STATEV, STATEV_VidStable);
    EXPECT_EQ(blockOf(5), le(3840, 2160, 60));
    chip(0).setPresent(true);
    run(0, 14);
    EXPECT_EQ(blockOf(4), le(1920, 1080, 60));
}

// Only the receiver block counts: a CEC engine that never answers leaves the input running.
TEST_F(Ite6805Driver, SilentCecEngineDoesNotMakeTheReceiverCountAsGone)
{
    chip(0).cec().setPresent(false);
    chip(0).connect(P1080p60);
    run(0, 40);
    EXPECT_EQ(s->top_state[0], 1);
    EXPECT_EQ(s->data[0].STATEV, STATEV_VidStable);
    EXPECT_FALSE(logHas("stopped answering"));
}

TEST_F(Ite6805Driver, ScalerTimingThatKeepsChangingRestartsTheReceiverPath)
{
    chip(0).connect(P1080p60);
    run(0, 12);
    ASSERT_EQ(s->data[0].STATEV, STATEV_VidStable);
    k->path_state = keltosource::PathRunning;
    // ten changed one-second checks are tolerated, the eleventh asks for a restart
    for (int check = 1; check <= 11; ++check) {
        scaler->PI_PORT_INFO[5][0] = 2200 + check;
        scaler->PI_PORT_INFO[5][1] = 1125;
        run(0, 1, 101);
        if (check < 11) {
            EXPECT_EQ(k->path_state, keltosource::PathRunning) << check;
        }
    }
    EXPECT_EQ(k->path_state, keltosource::PathHold);
    EXPECT_EQ(k->path_flags[4], 1);
    EXPECT_TRUE(logHas("scaler timing keeps changing"));
}

// The scaler worker writes its port records (a new window set-up clears them, each measurement
// fills them) while the input thread's watchdog reads the totals of the same port: one form on both
// sides, so the ThreadSanitizer build (where a race fails the test) has nothing to report, and the
// watchdog takes the scaler's measurement.
TEST_F(Ite6805Driver, WatchdogReadsThePortRecordsWhileTheScalerWorkerWritesThem)
{
    chip(0).connect(P1080p60);
    run(0, 12);
    ASSERT_EQ(s->data[0].STATEV, STATEV_VidStable);
    platform::Sim::C331Chip::InputTiming measured; // as the scaler chip sees device 0 on its port 5
    measured.present = true;
    measured.htotal = 2200;
    measured.vtotal = 1125;
    measured.hact = 1920;
    measured.fv = 60;
    measured.lanes = 4;
    platform::Sim::c331Chip().setInput(5, measured);
    std::atomic<bool> stop{false};
    int rounds = 0;
    std::thread worker([&] {
        while (!stop.load(std::memory_order_relaxed) || rounds == 0) {
            scaler->vyrApi_MultiWinChInit();
            scaler->measurePort(scaler->c331_fd, 5, false);
            ++rounds;
        }
    });
    run(0, 40, 101); // a watchdog check on every pass
    stop = true;
    worker.join();
    EXPECT_GT(rounds, 0);
    run(0, 1, 101);
    EXPECT_EQ(s->wd_htt[0], 2200u);
    EXPECT_EQ(s->wd_vtt[0], 1125u);
}

TEST_F(Ite6805Driver, SteadyScalerTimingNeverRestartsThePath)
{
    chip(0).connect(P1080p60);
    run(0, 12);
    k->path_state = keltosource::PathRunning;
    scaler->PI_PORT_INFO[5][0] = 2200;
    scaler->PI_PORT_INFO[5][1] = 1125;
    run(0, 30, 101);
    EXPECT_EQ(k->path_state, keltosource::PathRunning);
}

TEST_F(Ite6805Driver, HotPlugRequestsOfTheInputManager)
{
    run(0, 1);
    // without 5 V the line stays low whatever is asked
    s->iTE6805_Set_HPD_Ctrl(0, 1, 0);
    EXPECT_EQ(chip(0).hotPlug(), 0x00);
    chip(0).connect(P1080p60);
    run(0, 2);
    EXPECT_EQ(chip(0).hotPlug(), 0xC0);
    s->iTE6805_Set_HPD_Ctrl(0, 0, 0);
    EXPECT_EQ(chip(0).hotPlug(), 0x40); // low with 5 V present
    s->iTE6805_Set_HPD_Ctrl(0, 1, 0);
    EXPECT_EQ(chip(0).hotPlug(), 0xC0);
    EXPECT_EQ(chip(0).bank(), 0);
    // a request for one device while the other's channel is selected reaches the right chip
    chip(1).connect(P1080p60);
    run(1, 2);
    ASSERT_EQ(chip(1).hotPlug(), 0xC0);
    s->iTE6805_Set_HPD_Ctrl(0, 0, 0);
    EXPECT_EQ(chip(0).hotPlug(), 0x40);
    EXPECT_EQ(chip(1).hotPlug(), 0xC0);
    s->iTE6805_Set_HPD_Ctrl(0, 0, 1);
    EXPECT_EQ(chip(1).hotPlug(), 0x40);
    EXPECT_EQ(chip(0).hotPlug(), 0x40);
}

} // namespace

// The whole input manager's passes: the path states, the EDID check, then input 4 stepped on its
// switch channel with the other inputs.
namespace {

using namespace ite6805_test;

TEST_F(Ite6805Fixture, InputManagerLocksAFourKSourceOnInput4)
{
    g_check_source = 255;
    k->initializeWithoutThread();
    chip(0).connect(P2160p60);
    chip(1).connect(P1080p60, true);
    g_check_edid = "Never";
    for (int i = 0; i < 2000 && k->path_state != keltosource::PathRunning; ++i) {
        G_timeTicks += 5;
        k->runOnce();
    }
    ASSERT_EQ(k->path_state, keltosource::PathRunning);
    for (int i = 0; i < 20; ++i) {
        G_timeTicks += 5;
        k->runOnce();
    }
    EXPECT_EQ(blockOf(4), le(3840, 2160, 60));
    EXPECT_EQ(blockOf(5), le(1920, 1080, 60)); // 4:2:0 at 74.25 MHz on the wire, published doubled
    EXPECT_EQ(store->image[regimage::kChipPresence] & 0x60, 0x60);
    int answered = 0; // the IT6602 driver also tries 0x90 on its channels; only ours answer there
    for (const auto& m : i2cBoard().logOf(0x90 >> 1))
        if (m.acknowledged) {
            ++answered;
            EXPECT_TRUE(m.receiverChannels == 0x20 || m.receiverChannels == 0x10) << int(m.receiverChannels);
        }
    EXPECT_GT(answered, 100);
    chip(0).disconnect();
    for (int i = 0; i < 3; ++i)
        k->runOnce();
    EXPECT_EQ(blockOf(4), std::vector<uint8_t>(6, 0));
    EXPECT_EQ(record(4).nosignal, 1);
    EXPECT_EQ(blockOf(5), le(1920, 1080, 60));
}

} // namespace
