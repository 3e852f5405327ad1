// The change dispatch driven pass by pass without the worker thread, against the simulated chip.
#include "base/bytes.h"
#include "scaler/c331_manage.h"
#include "fpga/fpga_manage.h"
#include "base/global.h"
#include "video_chips/keltosource.h"
#include "params/vyrrampara.h"
#include "platform/sim/devices/c331_chip.h"

#include <QSignalSpy>
#include <gtest/gtest.h>
#include <cstring>

using platform::Sim::c331Chip;

namespace {

class Dispatch : public ::testing::Test {
protected:
    void SetUp() override
    {
        store = VyrRamPara::pInstance();
        keltosource::pInstance();
        fpga = fpga_manage::instanceWithoutWorker();
        scaler = c331_manage::instanceWithoutWorker();
        g_force_bkcolor = 2; // FPGA up, forced colour already gone
        // Identification and bring-up, then the worker is in its running state.
        for (int i = 0; i < 10 && scaler->thread_state < 6; ++i)
            scaler->runOnce();
        ASSERT_EQ(scaler->thread_state, 6);
        c331Chip().clearLog();
        spy = std::make_unique<QSignalSpy>(store, &VyrRamPara::sig_update_para);
    }

    // A writer's hand-over: change the block under the mutex, raise the flag.
    void handOver(const std::function<void(VyrRamPara&)>& change, uint8_t flag = 1)
    {
        ScalerHandOver h;
        change(*store);
        h.commit(flag);
    }

    size_t writesTo(uint32_t desc, uint32_t off = 0) { return c331Chip().writesTo(desc, off).size(); }

    VyrRamPara* store = nullptr;
    fpga_manage* fpga = nullptr;
    c331_manage* scaler = nullptr;
    std::unique_ptr<QSignalSpy> spy;
};

}

TEST_F(Dispatch, IdleWorkerWritesNothingForUnchangedBlock)
{
    scaler->runOnce();
    EXPECT_EQ(spy->count(), 0);
    handOver([](VyrRamPara&) {});
    scaler->runOnce();
    ASSERT_EQ(spy->count(), 1) << "a hand-over is always reported to the page thread";
    EXPECT_EQ(spy->at(0).at(0).toInt(), 1);
    EXPECT_EQ(scaler->change_flag, 0);
    EXPECT_EQ(writesTo(0x0C2802) + writesTo(0x0C5B02) + writesTo(0x0C3A02), 0u);
}

TEST_F(Dispatch, ContrastReachesEveryChannelInsideTheRoutingBracket)
{
    handOver([](VyrRamPara& s) { s.setU16(0x882, 100); });
    scaler->runOnce();
    for (int n = 0; n < 8; ++n)
        EXPECT_EQ(c331Chip().value(0x0C2802, 16 * n), 1023u) << n;
    EXPECT_EQ(c331Chip().value(0x0C2101) & 1, 1u);
    // Every data write of the control lies between set_rtct(2) and set_rtct(1).
    const auto log = c331Chip().log();
    uint64_t bracketOpen = 0, firstData = UINT64_MAX, lastData = 0, bracketClose = 0;
    for (const auto& t : log) {
        if (t.kind != platform::Sim::C331Chip::Transfer::Write)
            continue;
        if (t.bank == 0x00 && t.addr == 0x22 && t.value == 0xFF && !bracketOpen)
            bracketOpen = t.seq;
        if (t.bank == 0x0C && t.addr == 0x28) {
            firstData = std::min(firstData, t.seq);
            lastData = std::max(lastData, t.seq);
        }
        if (t.bank == 0x00 && t.addr == 0x22 && t.value == 0x99)
            bracketClose = t.seq;
    }
    EXPECT_LT(bracketOpen, firstData);
    EXPECT_GT(bracketClose, lastData);
    EXPECT_EQ(c331Chip().value(0x002901) & 1, 0u) << "routing update closed again";
}

TEST_F(Dispatch, OneColourGainSetsTheWholeMatrixOnce)
{
    handOver([](VyrRamPara& s) {
        s.setU16(0x888, 0); // user
        s.setU16(0x88C, 128);
    });
    scaler->runOnce();
    size_t writes = 0;
    for (int n = 0; n < 8; ++n)
        writes += writesTo(0x0C5B02, 16 * n);
    EXPECT_EQ(writes, 8u * 2) << "once per channel (two bytes each)";
    EXPECT_EQ(c331Chip().value(0x0C6302, 16 * 3), 8192u) << "green gain 128 is 1.0";
    EXPECT_EQ(c331Chip().value(0x0C5B02), 4096u) << "red keeps its 64";
    EXPECT_EQ(c331Chip().value(0x0C5D02, 16 * 7), 0u);
    EXPECT_EQ(c331Chip().value(0x005901) & 0x20, 0x20u);
}

TEST_F(Dispatch, BrightnessGoesToTheFpgaAndTheChipStaysAt50)
{
    handOver([](VyrRamPara& s) { s.setU16(0x880, 20); });
    scaler->runOnce();
    EXPECT_EQ(c331Chip().value(0x0C3A02, 16 * 5), 0u);
    EXPECT_EQ(fpga->bri_request.load(), 1);
}

TEST_F(Dispatch, SecondHandOverBeforeTheSaveDoesNotApplyAgain)
{
    handOver([](VyrRamPara& s) { s.setU16(0x882, 70); });
    scaler->runOnce();
    const size_t first = writesTo(0x0C2802);
    ASSERT_GT(first, 0u);
    // The page thread has not copied block to shadow yet; another change arrives.
    ASSERT_NE(getU16(store->shadow + 0x882), 70);
    handOver([](VyrRamPara& s) { s.setU16(0x886, 30); });
    scaler->runOnce();
    EXPECT_EQ(writesTo(0x0C2802), first) << "contrast was not written again";
    EXPECT_GT(writesTo(0x0C1B02), 0u);
}

TEST_F(Dispatch, EveryChangedEdidIsFlaggedOnePerPass)
{
    keltosource* k = keltosource::p_kelto_source;
    handOver([](VyrRamPara& s) {
        s.setU16(0x380 + 6 * 1, 1280);
        s.setU16(0x380 + 6 * 4 + 4, 30);
    });
    k->custom_edid_written[1] = 1;
    scaler->runOnce();
    EXPECT_EQ(k->custom_edid_req[1].load(), 1);
    EXPECT_EQ(k->custom_edid_written[1].load(), 0);
    EXPECT_EQ(k->custom_edid_req[4].load(), 0) << "one input per pass";
    EXPECT_EQ(scaler->change_flag, 1) << "the other input stays pending";
    scaler->runOnce();
    EXPECT_EQ(k->custom_edid_req[4].load(), 1);
    EXPECT_EQ(scaler->change_flag, 0);
    k->custom_edid_req[1] = 0;
    handOver([](VyrRamPara&) {});
    scaler->runOnce();
    EXPECT_EQ(k->custom_edid_req[1].load(), 0) << "served inputs are not flagged again";
}

TEST_F(Dispatch, RefusedPatternIsTakenBackOutOfTheBlock)
{
    handOver([](VyrRamPara& s) {
        s.setU16(kWindowBase + kWindowSize, 1); // a second window on
        s.block[0x360] = 3;
    });
    scaler->runOnce();
    EXPECT_EQ(store->block[0x360], 0);
    EXPECT_EQ(scaler->pattern_flag, 0);
    handOver([](VyrRamPara& s) {
        s.setU16(kWindowBase + kWindowSize, 0);
        s.block[0x360] = 3;
    });
    scaler->runOnce();
    EXPECT_EQ(store->block[0x360], 3);
    EXPECT_EQ(scaler->pattern_flag, 1);
}

TEST_F(Dispatch, SourcesThroughCropsAreValidated)
{
    // Entry 7: crop 1 of source 4 -> chip port of HDMI 3
    handOver([](VyrRamPara& s) {
        s.setU16(kCropBase + 70, 0x8004);
        s.setU16(kWindowBase + 8, 0x8007);
    });
    scaler->runOnce();
    EXPECT_EQ(scaler->PM_INPUT[0], 5);
    // An index past the table and an unused entry are refused and the source is kept.
    handOver([](VyrRamPara& s) { s.setU16(kWindowBase + 8, 0x80FF); });
    scaler->runOnce();
    EXPECT_EQ(scaler->PM_INPUT[0], 5);
    handOver([](VyrRamPara& s) { s.setU16(kWindowBase + 8, 0x8009); });
    scaler->runOnce();
    EXPECT_EQ(scaler->PM_INPUT[0], 5);
    handOver([](VyrRamPara& s) { s.setU16(kWindowBase + 8, 0x0002); });
    scaler->runOnce();
    EXPECT_EQ(scaler->PM_INPUT[0], 1);
}

TEST_F(Dispatch, NeighbourRequestsAndAudio)
{
    keltosource::p_kelto_source->audio_sel_req = 0;
    handOver([](VyrRamPara& s) {
        s.setU16(0x844, 1);
        s.setU16(0x566, 8);
        s.setU16(kWindowBase + 26 * 2 + 20, 1);
    });
    scaler->runOnce();
    EXPECT_EQ(fpga->onoff_request.load(), 1);
    EXPECT_EQ(fpga->lcd_request.load(), 1);
    EXPECT_EQ(keltosource::p_kelto_source->audio_sel_req.load(), 1);
}

TEST_F(Dispatch, PanelChangeWaitsForTheFpgaButNotForEver)
{
    scaler->led_wait_limit_ms = 50;
    g_set_led_para = 1; // the FPGA's LED step never ends
    handOver([](VyrRamPara& s) { s.setU16(0x562, 3840); });
    scaler->runOnce();
    EXPECT_EQ(g_set_led_para.load(), 2) << "panel set up after the bounded wait";
    EXPECT_EQ(scaler->change_flag, 0);
    // A second hand-over with the same size does not set the panel up again.
    g_set_led_para = 0;
    handOver([](VyrRamPara&) {});
    scaler->runOnce();
    EXPECT_EQ(g_set_led_para.load(), 0);
}

TEST_F(Dispatch, DiagnosticRequestBytesNeedTheFlagAndRunTheLowestBit)
{
    store->image[0x022] = 0x05;
    store->image[0x023] = 2;
    scaler->runOnce();
    EXPECT_EQ(store->image[0x022], 0x05) << "served only with a hand-over";
    handOver([](VyrRamPara&) {});
    scaler->runOnce();
    EXPECT_EQ(store->image[0x022], 0);
    EXPECT_EQ(store->image[0x023], 0);
    store->image[0x022] = 0x40; // bring the chip up again
    handOver([](VyrRamPara&) {});
    scaler->runOnce();
    EXPECT_EQ(scaler->thread_state, 0);
}

TEST_F(Dispatch, UserModeReplacementIsPassedOnAsCode2)
{
    handOver([](VyrRamPara&) {}, 2);
    scaler->runOnce();
    ASSERT_EQ(spy->count(), 1);
    EXPECT_EQ(spy->at(0).at(0).toInt(), 2);
}

TEST_F(Dispatch, ForcedColourIsRemovedOnceTheFpgaIsUp)
{
    g_force_bkcolor = 0;
    handOver([](VyrRamPara&) {});
    scaler->runOnce();
    EXPECT_EQ(g_force_bkcolor.load(), 2);
    for (int n = 0; n < 8; ++n)
        EXPECT_EQ(c331Chip().value(0x084903, 16 * n), 0u);
}

TEST_F(Dispatch, OutputFrameWaitIsBounded)
{
    EXPECT_TRUE(scaler->wait1_povs(scaler->c331_fd, 3));
    EXPECT_EQ(c331Chip().value(0x050901), 0u);
    EXPECT_EQ(c331Chip().value(0x002901), 0u);
    c331Chip().setOutputFrameStalled(true);
    c331Chip().clearLog();
    EXPECT_FALSE(scaler->wait1_povs(scaler->c331_fd, 3));
    size_t polls = 0;
    for (const auto& t : c331Chip().log())
        polls += t.kind == platform::Sim::C331Chip::Transfer::Read && t.bank == 0x05 && t.addr == 0x23;
    EXPECT_EQ(polls, size_t(c331_manage::kFrameWaitPolls));
    EXPECT_EQ(c331Chip().value(0x002901), 0u) << "the freeze is released after a timeout too";
    EXPECT_FALSE(scaler->wait1_povs(scaler->c331_fd, 8));
}
