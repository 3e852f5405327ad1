#include "keltosource_fixture.h"

#include "base/global.h"
#include "base/posix_lock.h"
#include "base/utils.h"
#include "fpga/fpga_manage.h"
#include "params/block_layout.h"
#include "params/config_engine.h"
#include "params/vyrrampara.h"
#include "video_chips/sdi_it66121.h"

#include "platform/sim/devices/fpga_chip.h"
#include "platform/sim/board_config.h"
#include "platform/sim/devices/i2c_board.h"
#include "platform/sim/sim_board.h"
#include "edid_decode.h"
#include "frame_client.h"
#include "lock_waiters.h"
#include "program.h"
#include "test_root.h"

#include "platform/paths.h"
#include "store_face.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <thread>
#include <cstring>

// The input manager's thread stepped by hand on the simulated board, observed through the chips.
namespace {

using namespace keltosource_test;

TEST_F(KeltoSource, PathsHeldLowThenReleasedAndEdidCheckWaitsForTheirSettling)
{
    g_check_edid = "Never";
    run(1);
    EXPECT_EQ(gpio(kIt6602Path), 0);
    EXPECT_EQ(gpio(kIte6805Path), 0);
    run(1, 100); // exactly 100 ticks: still held
    EXPECT_EQ(k->path_state, keltosource::PathHeld);
    run(1, 1);
    run(1, 0);
    EXPECT_EQ(gpio(kIt6602Path), 16);
    EXPECT_EQ(gpio(kIte6805Path), 16);
    EXPECT_EQ(k->path_state, keltosource::PathSettle);
    run(1, 500);
    EXPECT_EQ(k->path_state, keltosource::PathSettle);
    EXPECT_EQ(k->clock_state[0], 0); // nothing programmed before the running state
    run(1, 1);
    EXPECT_EQ(k->path_state, keltosource::PathEdidCheck);
    run(1, 0);
    EXPECT_EQ(k->path_state, keltosource::PathRunning);
}

// FPGA 0 may leave reset only once the synthesiser holds its whole table.
TEST_F(KeltoSource, ClockSynthesiserLockedBeforeFpgaZeroLeavesReset)
{
    platform::Sim::fpgaChip().setClockGate([] { return i2cBoard().clockSynth().locked(); });
    fpga_manage::gpio_write(fpga_manage::rst_fpga0, 0);
    toRunning("Never");
    bool released = false;
    for (int i = 0; i < 5 && !released; ++i) {
        const bool lockedBefore = i2cBoard().clockSynth().locked();
        const uint8_t stateBefore = k->clock_state[0];
        run(1);
        if (gpio(kResetWord) == 16) {
            released = true;
            EXPECT_TRUE(lockedBefore) << "reset released in the pass that wrote the table";
            EXPECT_EQ(stateBefore, 1);
        } else {
            EXPECT_LT(k->clock_state[0], 2);
        }
    }
    ASSERT_TRUE(released);
    EXPECT_EQ(k->clock_state[0], 2);
    EXPECT_TRUE(i2cBoard().clockSynth().locked());
    EXPECT_TRUE(store->image[regimage::kEdidStatus] & 0x80);
    // The synthesiser is written once: later passes leave it alone.
    const size_t writes = i2cBoard().logOf(0xD0 >> 1).size();
    run(20);
    EXPECT_EQ(i2cBoard().logOf(0xD0 >> 1).size(), writes);
    for (const auto& m : i2cBoard().logOf(0xD0 >> 1))
        EXPECT_EQ(m.edidChannels, 0x80);
}

TEST_F(KeltoSource, RefusedClockWriteIsLoggedAndRetriedWithoutStoppingTheInputs)
{
    i2cBoard().clockSynth().refuseWriteOf(40, 3);
    fpga_manage::gpio_write(fpga_manage::rst_fpga0, 0);
    toRunning("Never");
    i2cBoard().clearLog();
    run(3);
    EXPECT_EQ(k->clock_state[0], 0);
    EXPECT_EQ(gpio(kResetWord), 0);
    EXPECT_TRUE(logHas("clock synthesiser refused a register write"));
    EXPECT_GE(i2cBoard().logOf(0xEE >> 1).size(), 3u * 6) << "the receivers are stepped meanwhile";
    run(3);
    EXPECT_EQ(k->clock_state[0], 2);
    EXPECT_TRUE(i2cBoard().clockSynth().locked());
}

TEST_F(KeltoSource, MissingBusIsLoggedAndThePassesGoOn)
{
    i2cBoard().setOpenFails(true);
    keltosource::p_kelto_source->initializeWithoutThread();
    EXPECT_TRUE(logHas("/dev/i2c-0 cannot be opened"));
    toRunning("Once"); // every EEPROM read fails: no stall, no endless repair cycle
    run(50);
    EXPECT_EQ(k->path_state, keltosource::PathRunning);
    EXPECT_EQ(k->clock_state[0], 0);
    EXPECT_EQ(gpio(kResetWord), 0);
    EXPECT_TRUE(logHas("switch 0xE0 does not answer"));
    EXPECT_EQ(k->it66121->fail_count, 10); // the SDI path gives up after ten tries
}

TEST_F(KeltoSource, EdidCheckOnceRewritesBlankEepromsAndTurnsTheSettingToNever)
{
    for (int i = 0; i < 6; ++i)
        i2cBoard().eeprom(i).erase();
    toRunning("Once");
    for (int i = 0; i < 6; ++i) {
        const auto t = i2cBoard().eepromContents(i);
        EXPECT_TRUE(headerOk(t)) << i;
        EXPECT_EQ(blockSum(t, 0), 0) << i;
        EXPECT_EQ(blockSum(t, 1), 0) << i;
        EXPECT_EQ(maker(t), i < 4 ? "KLT" : "VYR") << i;
        EXPECT_EQ(t[128], 0x02) << "CEA extension on input " << i;
#ifndef VYR_TESTS_EMULATED // same bytes everywhere; edid-decode under qemu-arm ended the test session
        const QString out = edidDecodeCheck(t.data());
        EXPECT_TRUE(edidDecodeClean(out)) << "input " << i << ": " << out.toStdString();
#endif
    }
    EXPECT_EQ(store->image[regimage::kChipPresence] & 0x80, 0x80);
    EXPECT_EQ(store->image[regimage::kEdidStatus] & 0x1F, 0x1F);
    EXPECT_EQ(g_check_edid.get(), QStringLiteral("Never"));
    EXPECT_TRUE(TestRoot::readFile("/data/configs/tcpip.ini").contains("EDIDCheck=Never"));
    EXPECT_TRUE(TestRoot::shellLog().contains("sync"));
    EXPECT_EQ(gpio(kProtectWord), 16);
    EXPECT_EQ(i2cBoard().expander().value() & 0x01, 0x01);
}

TEST_F(KeltoSource, EdidCheckOnceLeavesGoodEepromsAndRepairsAnyBadBlock)
{
    fillAllEeproms();
    auto t1 = i2cBoard().eepromContents(1);
    t1[200] ^= 0x01; // extension block's sum off only
    i2cBoard().eeprom(1).setContents(t1);
    auto t3 = i2cBoard().eepromContents(3);
    t3[0] = 0x01; // header off
    i2cBoard().eeprom(3).setContents(t3);
    auto t5 = i2cBoard().eepromContents(5);
    t5[20] ^= 0x40; // base block's sum off
    i2cBoard().eeprom(5).setContents(t5);
    toRunning("Once");
    for (int i : {0, 2, 4})
        EXPECT_EQ(i2cBoard().eeprom(i).pageWrites(), 0) << i;
    for (int i : {1, 3, 5}) {
        EXPECT_GE(i2cBoard().eeprom(i).pageWrites(), 32) << i;
        EXPECT_TRUE(valid(i2cBoard().eepromContents(i))) << i;
        EXPECT_EQ(maker(i2cBoard().eepromContents(i)), i < 4 ? "KLT" : "VYR") << i;
    }
}

// Whatever "EDIDCheck" holds, the check reads every EEPROM, 32 reads of 8 bytes, and rewrites one
// whose sums fail from the input's EDID record (the record of a fresh parameter file: the default
// table); the good bits say what was read. Only "Once" is turned into "Never"; another value is
// logged.
TEST_F(KeltoSource, EdidCheckReadsEveryEepromAndRepairsADamagedOneFromItsRecord)
{
    struct Row {
        const char* value;
        uint16_t width, height; // input 2's record
        uint16_t clockField;    // its table's first detailed timing afterwards, 10 kHz
    };
    const Row rows[] = {{"Never", 1920, 1080, 14850}, // the default table's 1080p60
                        {"Never", 1280, 720, 6756},   // 60 x 782 x 1440 / 10000
                        {"Sometimes", 1280, 720, 6756},
                        {"", 1920, 1080, 14850}};
    for (const Row& row : rows) {
        SCOPED_TRACE(row.value);
        fillAllEeproms();
        auto t = i2cBoard().eepromContents(2);
        t[20] ^= 0x40; // the base block's sum off, as a write cut after its first pages leaves it
        i2cBoard().eeprom(2).setContents(t);
        store->setU16(blk::edidWidth(2), row.width);
        store->setU16(blk::edidHeight(2), row.height);
        int pages[6];
        for (int i = 0; i < 6; ++i)
            pages[i] = i2cBoard().eeprom(i).pageWrites();
        // A fresh state machine, the status bytes at their start values.
        k->path_state = keltosource::PathEdidCheck;
        store->image[regimage::kChipPresence] = 0x80;
        store->image[regimage::kEdidStatus] = 0x1F;
        g_check_edid = row.value;
        i2cBoard().clearLog();
        run(1);
        EXPECT_EQ(k->path_state, keltosource::PathRunning);
        const auto repaired = i2cBoard().eepromContents(2);
        EXPECT_TRUE(valid(repaired));
        EXPECT_EQ(maker(repaired), "KLT");
        EXPECT_EQ(repaired[54] | repaired[55] << 8, row.clockField);
        EXPECT_EQ(repaired[56] | (repaired[58] & 0xF0) << 4, row.width);
        int reads[6] = {};
        for (const auto& m : i2cBoard().logOf(0xA0 >> 1))
            for (int i = 0; i < 6; ++i)
                reads[i] += m.read && m.acknowledged && m.edidChannels == platform::Sim::I2cBoard::channelOf(i);
        for (int i = 0; i < 6; ++i) {
            if (i == 2)
                continue;
            EXPECT_EQ(reads[i], 32) << i;
            EXPECT_EQ(i2cBoard().eeprom(i).pageWrites(), pages[i]) << i;
        }
        EXPECT_EQ(store->image[regimage::kChipPresence] & 0x80, 0x80);
        EXPECT_EQ(store->image[regimage::kEdidStatus] & 0x5F, 0x5F);
        EXPECT_EQ(g_check_edid.get(), QString(row.value)) << "setting unchanged";
    }
    EXPECT_TRUE(logHas("EDIDCheck \"Sometimes\" is neither Once nor Never"));
    run(3); // the clock still comes up
    EXPECT_EQ(k->clock_state[0], 2);
}

TEST_F(KeltoSource, FailedRepairClearsTheGoodBitCyclesThePathsAndIsNotRetried)
{
    runFirstCheckWithInput2Unrepairable();
    EXPECT_EQ(store->image[regimage::kEdidStatus] & 0x02, 0) << "input 2's good bit";
    EXPECT_EQ(store->image[regimage::kEdidStatus] & 0x1D, 0x1D);
    EXPECT_TRUE(logHas("EDID EEPROM of input 2 could not be repaired"));
    TestRoot::acceptViolations(); // the refused page writes were provoked
}

TEST_F(KeltoSource, AudioWindowIndexSixOrMoreMeansWindowZero)
{
    struct Row {
        uint8_t window;
        uint8_t high0, high3; // byte 21 of windows 0 and 3
        uint16_t src0, src3;
        uint8_t expected;
    };
    const uint16_t crop7 = blk::win::kSourceCrop | 7;
    const Row rows[] = {
        {3, 0x80, 0x80, 1, 4, 0x04},     // window 3, input 4
        {3, 0x80, 0x00, 1, 4, 0x00},     // its audio off
        {6, 0x80, 0x80, 5, 4, 0x08},     // 6: window 0, input 5
        {255, 0x80, 0x80, 0, 4, 0x80},   // 255: window 0, input 0
        {0, 0x80, 0x80, 9, 4, 0x00},     // source not an input
        {0, 0x80, 0x80, crop7, 0, 0x20}, // crop entry 7 of input 2
    };
    std::vector<uint8_t> block(kBlockSize, 0);
    blk::put16(block.data(), blk::cropEntry(7), blk::crop::idWord(2, 1));
    for (const Row& row : rows) {
        block[blk::kAudioWindow] = row.window;
        block[blk::window(0, blk::win::kAudioHigh)] = row.high0;
        block[blk::window(3, blk::win::kAudioHigh)] = row.high3;
        blk::put16(block.data(), blk::window(0, blk::win::kSource), row.src0);
        blk::put16(block.data(), blk::window(3, blk::win::kSource), row.src3);
        EXPECT_EQ(keltosource::audioBitsFromBlock(block.data()), row.expected) << int(row.window);
    }
}

TEST_F(KeltoSource, AudioRequestWritesTheExpanderAndIsClearedOnlyWhenAcknowledged)
{
    toRunning("Never");
    testBlock(store)[blk::kAudioWindow] = 200;
    testBlock(store)[blk::window(0, blk::win::kAudioHigh)] = 0x80;
    store->setU16(blk::window(0, blk::win::kSource), 3);
    i2cBoard().expander().clearLog();
    k->audio_sel_req = 1;
    run(1);
    EXPECT_EQ(k->audio_sel_req, 0);
    ASSERT_FALSE(i2cBoard().expander().writes().empty());
    EXPECT_EQ(i2cBoard().expander().writes().back(), 0x11); // input 3's bit, write-protected
    EXPECT_EQ(i2cBoard().expander().value(), 0x11);
}

TEST_F(KeltoSource, SdiResetGoesLowAndBackHighAfterFifteenTicks)
{
    toRunning("Never");
    run(3); // the SDI path's own bring-up releases and pulses the reset in its first passes
    k->sdi_reset_req = 1;
    run(1, 0);
    EXPECT_EQ(gpio(kSdiReset), 0);
    run(1, 15);
    EXPECT_EQ(gpio(kSdiReset), 0);
    EXPECT_EQ(k->sdi_reset_req, 1);
    run(1, 1);
    EXPECT_EQ(gpio(kSdiReset), 1);
    EXPECT_EQ(k->sdi_reset_req, 0);
}

// A source plugged into HDMI 1 (input 2) and pulled again, seen through the passes of the thread.
TEST_F(KeltoSource, ConnectedInputIsPublishedWithinAFewPassesAndClearedWhenPulled)
{
    toRunning("Never");
    run(3);
    i2cBoard().it6602(2).connect(*platform::Sim::standardTiming("1920x1080p60"));
    const std::vector<uint8_t> p1080 = {0x80, 0x07, 0x38, 0x04, 0x3C, 0x00};
    int passes = 0;
    while (passes < 50 && blockOf(2) != p1080) {
        run(1);
        ++passes;
    }
    EXPECT_LE(passes, 10) << "published within ten passes";
    ASSERT_EQ(blockOf(2), p1080);
    const HDMI_INFO h = record(2);
    const int32_t words[10] = {1920, 44, 148, 1, 2200, 1080, 5, 36, 1, 1125};
    EXPECT_EQ(0, memcmp(&h, words, sizeof words));
    EXPECT_FLOAT_EQ(h.pfreq, 148.5f);
    EXPECT_EQ(h.nosignal, 0);
    EXPECT_EQ(h.stable, 1);
    EXPECT_EQ(blockOf(1), std::vector<uint8_t>(6, 0)) << "the neighbour input stays empty";

    i2cBoard().it6602(2).disconnect();
    run(5);
    EXPECT_EQ(blockOf(2), std::vector<uint8_t>(6, 0));
    EXPECT_EQ(record(2).nosignal, 1);
    EXPECT_EQ(record(2).hact, 0);
}

TEST_F(KeltoSource, CustomEdidWrittenAndFlagsClearedTogether)
{
    toRunning("Never");
    store->setU16(blk::edidWidth(2), 1920);
    store->setU16(blk::edidHeight(2), 1080);
    store->setU16(blk::edidRate(2), 60);
    run(3);
    ASSERT_EQ(k->it6602_step[2], 2) << "receiver 2 running before the request";
    k->custom_edid_req[2] = 1;
    k->custom_edid_written[2] = 0;
    run(1);
    const auto t = i2cBoard().eepromContents(2);
    EXPECT_TRUE(valid(t));
#ifndef VYR_TESTS_EMULATED
    const QString out = edidDecodeCheck(t.data());
    EXPECT_TRUE(edidDecodeClean(out)) << out.toStdString();
#endif
    EXPECT_EQ(t[54] | t[55] << 8, 14252); // 60 x 1142 x 2080 / 10000
    EXPECT_EQ(t[72] | t[73] << 8, 14252);
    EXPECT_EQ(k->custom_edid_req[2], 0);
    EXPECT_EQ(k->custom_edid_written[2], 0) << "cleared with the request";
    EXPECT_LT(k->it6602_step[2], 2) << "receiver restarted";
    EXPECT_EQ(gpio(kProtectWord), 16);
    EXPECT_EQ(i2cBoard().expander().value() & 1, 1);

    // A second request is written again, not only a receiver restart.
    store->setU16(blk::edidWidth(2), 1280);
    store->setU16(blk::edidHeight(2), 720);
    const int pages = i2cBoard().eeprom(2).pageWrites();
    k->custom_edid_req[2] = 1;
    run(1);
    EXPECT_GT(i2cBoard().eeprom(2).pageWrites(), pages);
    const auto t2 = i2cBoard().eepromContents(2);
    EXPECT_EQ(t2[56], 1280 & 0xFF);
    EXPECT_EQ(t2[56 + 3], 720 & 0xFF);
}

// The source sees the hot-plug line low for 100-200 ms after its EDID was rewritten (a tick is 10 ms).
TEST_F(KeltoSource, HotPlugStaysLowForATimedPulseAfterACustomEdid)
{
    toRunning("Never");
    const auto timing = *platform::Sim::standardTiming("1920x1080p60");
    i2cBoard().it6602(2).connect(timing);
    i2cBoard().ite6805(0).connect(timing);
    auto high = [](int input) {
        return input == 2 ? (i2cBoard().it6602(2).reg(1, 0xB0) & 3) == 3 : i2cBoard().ite6805(0).hotPlug() == 0xC0;
    };
    for (const int input : {2, 4}) {
        SCOPED_TRACE(input);
        run(15);
        ASSERT_TRUE(high(input));
        k->custom_edid_req[input] = 1;
        int low = -1, back = -1;
        for (int tick = 0; tick < 100 && back < 0; ++tick) {
            run(1);
            if (low < 0 && !high(input))
                low = tick;
            else if (low >= 0 && high(input))
                back = tick;
        }
        ASSERT_GE(low, 0);
        ASSERT_GE(back, 0);
        EXPECT_GE(back - low, 10);
        EXPECT_LE(back - low, 20);
    }
}

// A request raised while the thread is clearing a served one (under its lock) lands after the
// clearing and stays pending.
TEST_F(KeltoSource, CustomEdidRequestRaisedDuringTheClearingIsKept)
{
    k->custom_edid_req[3] = 1;
    k->custom_edid_written[3] = 1;
    std::atomic<bool> returned{false};
    std::thread writer;
    {
        QMutexLocker lock(&Utils::_system_mutex);
        writer = std::thread([&] {
            k->requestCustomEdid(3);
            returned = true;
        });
        EXPECT_TRUE(waitFor([] { return LockWaiters::waited(Utils::_system_mutex); }, 2000)) << "the request waits for the lock";
        EXPECT_FALSE(returned.load());
        k->custom_edid_req[3] = 0; // the thread's clearing of the served request
        k->custom_edid_written[3] = 0;
    }
    writer.join();
    EXPECT_EQ(k->custom_edid_req[3], 1);
    EXPECT_EQ(k->custom_edid_written[3], 0);
}

TEST_F(KeltoSource, CustomEdidFailureLeavesWrittenClearAndMaskedInputKeepsItsRequest)
{
    g_check_source = 0xFF & ~0x08; // input 3 not stepped
    k->initializeWithoutThread();
    toRunning("Never");
    // Input 1: the part ignores writes, so the read-back differs.
    i2cBoard().eeprom(1).setProtectLine([] { return true; });
    k->custom_edid_req[1] = 1;
    k->custom_edid_req[3] = 1;
    run(1);
    EXPECT_EQ(k->custom_edid_written[1], 0);
    EXPECT_EQ(k->custom_edid_req[1], 0);
    // The part kept the table the check read, which a read finds valid: the bit says so.
    EXPECT_EQ(store->image[regimage::kEdidStatus] & 0x01, 0x01) << "input 1's good bit";
    EXPECT_TRUE(logHas("custom EDID of input 1 not written (no acknowledge or read-back differs); previous EDID put back"));
    // Input 3 is written but never switched to, so its request stays and it is not rewritten.
    EXPECT_EQ(k->custom_edid_written[3], 1);
    EXPECT_EQ(k->custom_edid_req[3], 1);
    const int pages = i2cBoard().eeprom(3).pageWrites();
    EXPECT_GE(pages, 32);
    run(5);
    EXPECT_EQ(i2cBoard().eeprom(3).pageWrites(), pages);
    for (const auto& m : i2cBoard().logOf(0xEE >> 1))
        EXPECT_NE(m.data.empty() ? 0 : m.data[0], 0x08);
    TestRoot::acceptViolations(); // the refused page writes were provoked
}

// A timing whose fields do not fit, or whose pixel clock the receiver does not take, is refused:
// nothing reaches the wire (no EEPROM write, no hot-plug restart of a live picture) and the log
// says why.
TEST_F(KeltoSource, CustomTimingThatDoesNotFitOrIsTooFastKeepsThePreviousTable)
{
    struct Row {
        int input;
        uint16_t w, h;
        const char* why;
    };
    const Row rows[] = {
        {4, 5000, 2160, "custom EDID 5000x2160@60 of input 4 does not fit; previous timing kept"},
        {4, 4095, 2160, "custom EDID 4095x2160@60 of input 4 needs a 628.42 MHz pixel clock, above the receiver's 600 MHz"},
        {2, 3840, 2160, "custom EDID 3840x2160@60 of input 2 needs a 533.28 MHz pixel clock, above the receiver's 300 MHz"},
        {2, 1, 1, "custom EDID 1x1@60 of input 2 needs a 0.60 MHz pixel clock, below 10 MHz"},
    };
    toRunning("Never");
    auto hotPlugWrites = [](int input) {
        return input < 4 ? i2cBoard().it6602(input).writesTo(1, 0xB0).size() : i2cBoard().ite6805(input - 4).writesTo(3, 0xAB).size();
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.why);
        // a timing the receiver takes first, then the refused one
        store->setU16(blk::edidWidth(row.input), 1280);
        store->setU16(blk::edidHeight(row.input), 720);
        store->setU16(blk::edidRate(row.input), 60);
        k->custom_edid_req[row.input] = 1;
        run(30);
        const auto before = i2cBoard().eepromContents(row.input);
        ASSERT_EQ(before[56] | (before[58] & 0xF0) << 4, 1280);
        const int pages = i2cBoard().eeprom(row.input).pageWrites();
        const size_t hotPlug = hotPlugWrites(row.input);
        store->setU16(blk::edidWidth(row.input), row.w);
        store->setU16(blk::edidHeight(row.input), row.h);
        k->custom_edid_req[row.input] = 1;
        run(30);
        EXPECT_EQ(i2cBoard().eepromContents(row.input), before) << "previous timing kept";
        EXPECT_EQ(i2cBoard().eeprom(row.input).pageWrites(), pages) << "nothing written";
        EXPECT_EQ(hotPlugWrites(row.input), hotPlug) << "the receiver is not restarted";
        EXPECT_EQ(k->custom_edid_req[row.input], 0) << "the request is dropped";
        EXPECT_TRUE(logHas(row.why));
    }
}

TEST_F(KeltoSource, RegisterRequestsDriveTheIte6805PathWordInOnePass)
{
    toRunning("Never");
    store->image[regimage::kRegisters] = 0x0C;
    run(1);
    EXPECT_EQ(store->image[regimage::kRegisters], 0);
    EXPECT_EQ(gpio(kIte6805Path), 16);
    store->image[regimage::kInputReinit] = 0x01;
    run(1);
    EXPECT_EQ(store->image[regimage::kInputReinit], 0);
    EXPECT_EQ(gpio(kIte6805Path), 0);
}

// Register 0 is served in the first input's step; its hot-plug calls select an iTE6805 channel, and
// the IT6602 receivers (at 0x94) must still be reached on their own channels afterwards.
TEST_F(KeltoSource, HotPlugRequestInRegisterZeroLeavesEachReceiverOnItsOwnChannel)
{
    toRunning("Never");
    run(3);
    for (const uint8_t request : {0x10, 0x20, 0x40, 0x80}) {
        SCOPED_TRACE(int(request));
        i2cBoard().clearLog();
        store->image[regimage::kRegisters] = request;
        run(1);
        int transfers = 0;
        for (const auto& m : i2cBoard().logOf(0x94 >> 1)) {
            ++transfers;
            EXPECT_TRUE(m.receiverChannels == 0x01 || m.receiverChannels == 0x02 || m.receiverChannels == 0x04 ||
                        m.receiverChannels == 0x08)
                << "channels " << int(m.receiverChannels);
        }
        EXPECT_GT(transfers, 0);
    }
}

TEST_F(KeltoSource, ResolutionRecordWrittenUnderTheStoreMutex)
{
    keltosource::setInputResolution(2, 1920, 1080, 60);
    EXPECT_EQ(blk::get16(testBlock(store), blk::inputResolution(2)), 1920);
    EXPECT_EQ(blk::get16(testBlock(store), blk::inputResolution(2) + 2), 1080);
    EXPECT_EQ(testBlock(store)[blk::inputResolution(2) + 4], 60);
    keltosource::setInputResolution(6, 1, 1, 1); // no record 6: nothing past 0x123
    EXPECT_EQ(testBlock(store)[blk::kInputResolutionEnd], 0);
    pthread_mutex_lock(&store->mutex);
    std::atomic<bool> done{false};
    std::thread writer([&] {
        keltosource::setInputResolution(0, 640, 480, 60);
        done = true;
    });
    EXPECT_TRUE(waitFor([&] { return LockWaiters::waited(store->mutex); }, 2000)) << "the writer waits for the store's mutex";
    EXPECT_FALSE(done);
    pthread_mutex_unlock(&store->mutex);
    writer.join();
    EXPECT_EQ(blk::get16(testBlock(store), blk::inputResolution(0)), 640);
}

// The real thread: quick through the start-up states, then one running pass every 50 ms, so an
// idle box does not poll its receivers hundreds of times a second.
class KeltoSourceTiming : public KeltoSource {};

TEST_F(KeltoSourceTiming, ThreadPacesItsRunningPasses)
{
    g_check_edid = "Never";
    ASSERT_EQ(k->initialize(), 0);
    struct Stop { // the thread ends before the board it polls goes away
        keltosource* k;
        ~Stop() { k->stopThread(); }
    } stop{k};
    auto running = [&] { // the thread owns the state; read it as it does, under its lock
        QMutexLocker lock(&Utils::_source_init_mutex);
        return k->path_state == keltosource::PathRunning;
    };
    for (int i = 0; i < TimeLimit::ms(2000) / 5 && !running(); ++i) {
        G_timeTicks += 50;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    ASSERT_TRUE(running());
    // Each pass opens with the clock synthesiser's channel on the EEPROM switch.
    auto passes = [] {
        const auto log = i2cBoard().logOf(0xE0 >> 1);
        return std::count_if(log.begin(), log.end(), [](const auto& m) { return !m.read && m.data == std::vector<uint8_t>{0x80}; });
    };
    // Two running passes opened: the one before them, the first at the running pace, has ended.
    i2cBoard().clearLog();
    ASSERT_TRUE(waitFor([&] { return passes() >= 2; }, 2000));
    i2cBoard().clearLog();
    // Ten passes within a second, as long as this build needs for them; over at least a second,
    // no more than the pace allows in the time that really passed.
    const auto start = std::chrono::steady_clock::now();
    EXPECT_TRUE(waitFor([&] { return passes() >= 10; }, 1000)) << "ten passes";
    std::this_thread::sleep_until(start + std::chrono::seconds(1));
    const auto counted = passes();
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    EXPECT_LE(counted, 22 * seconds);
}

// The whole program on the simulated board: the input thread programs the clock synthesiser, the
// FPGA comes up behind it, and the status bytes a PC tool reads say so.
TEST(KeltoSourceProgram, FpgaComesUpBehindTheClockSynthesiser)
{
    const int port = freeTcpPort();
    ASSERT_GT(port, 0);
    ASSERT_TRUE(TestRoot::writeFile("/data/configs/tcpip.ini",
                                    QByteArray("[config]\nTcpPort=") + QByteArray::number(port) + "\n"));
    Program program(platform::Paths::root());
    FrameClient tool(port, 20000);
    ASSERT_TRUE(tool.connected()) << program.report();
    auto readByte = [&](uint32_t address) -> int {
        const Bytes reply = tool.request(Wire::readRam(address, 1));
        return reply.size() == 13u && Wire::checkOk(reply) && reply[10] == 0 ? reply[11] : -1;
    };
    // Device information byte 0x41 is the FPGA status; status bytes 0-2 sit at 0x600880-0x600882.
    ASSERT_TRUE(waitFor([&] { return readByte(0xA0000041) == 1; }, 60000)) << program.report();
    const int status0 = readByte(0x600880), status1 = readByte(0x600881);
    EXPECT_EQ(status1 & 0x80, 0x80) << "clock synthesiser programmed";
    EXPECT_EQ(status1 & 0x1F, 0x1F) << "EDID EEPROMs of inputs 1-5 good";
    EXPECT_EQ(status0 & 0x80, 0x80) << "EDID EEPROM of input 0 good";
    EXPECT_TRUE(TestRoot::readFile("/data/configs/tcpip.ini").contains("EDIDCheck=Never"));
    // The simulated board's defaults feed HDMI 1 (input 2) with 1080p60.
    const Bytes input2 = tool.request(Wire::readRam(blk::inputResolution(2), blk::kInputResolutionSize));
    ASSERT_EQ(input2.size(), 18u);
    EXPECT_EQ(Bytes(input2.begin() + 11, input2.begin() + 17), (Bytes{0x80, 0x07, 0x38, 0x04, 0x3C, 0x00}));
    EXPECT_TRUE(TestRoot::readFile("/sim/board.json").contains("1920x1080p60"));
    EXPECT_TRUE(program.running());
}

}
