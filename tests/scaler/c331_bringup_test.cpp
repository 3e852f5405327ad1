// Identification, bring-up and the initial register programme, driven pass by pass against the
// simulated chip; the worker thread itself at the end.
#include "scaler_fixture.h"

#include "base/tick_alarm.h"
#include "scaler/c331_drv.h"

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

using namespace scaler_test;
using Transfer = platform::Sim::C331Chip::Transfer;

namespace {

std::string hex2(uint32_t v)
{
    char text[4];
    snprintf(text, sizeof text, "%02X", v & 0xFF);
    return text;
}

// Register writes as they go out on the wire: a bank select only when the bank changes (and after
// a write to address 0, which is the bank register itself), then one message per byte, low first.
struct BusTrace {
    std::vector<std::string> out;
    int bank = -1;
    void reg(uint32_t b, uint32_t addr, uint32_t width, uint32_t value)
    {
        if (int(b) != bank)
            out.push_back("sel " + hex2(b));
        bank = int(b);
        for (uint32_t i = 0; i < width; ++i, value >>= 8) {
            if (addr + i == 0) {
                out.push_back("sel " + hex2(value));
                bank = -1;
            } else {
                out.push_back(hex2(b) + ":" + hex2(addr + i) + "=" + hex2(value));
            }
        }
    }
};

class BringUp : public ScalerFixture {
protected:
    void SetUp() override
    {
        ScalerFixture::SetUp();
        ASSERT_EQ(scaler->c331_fd, 0);
    }

    void runUntilRunning() { bringUp(); }

    void apply(std::initializer_list<std::pair<uint32_t, uint16_t>> writes)
    {
        ScalerHandOver h;
        for (const auto& w : writes)
            store->setU16(w.first, w.second);
    }

    // The chip's transfer log in the form BusTrace writes.
    std::vector<std::string> wire()
    {
        std::vector<std::string> out;
        for (const Transfer& t : c331Chip().log()) {
            if (t.kind == Transfer::Select)
                out.push_back("sel " + hex2(t.bank));
            else if (t.kind == Transfer::Write)
                out.push_back(hex2(t.bank) + ":" + hex2(t.addr) + "=" + hex2(t.value));
            else
                out.push_back("read " + hex2(t.bank) + ":" + hex2(t.addr));
        }
        return out;
    }

    void prepareModel()
    {
        scaler->load_system_param();
        scaler->define_param();
    }
};

}

TEST_F(BringUp, FiveGoodIdReadsThenBringUpRaisesTheStartFlag)
{
    for (int i = 1; i <= 5; ++i) {
        scaler->runOnce();
        EXPECT_EQ(scaler->thread_state, i);
        EXPECT_EQ(g_fpga_c331_start.load(), 0);
    }
    scaler->runOnce();
    EXPECT_EQ(scaler->thread_state, 6);
    EXPECT_EQ(g_fpga_c331_start.load(), 1);
}

TEST_F(BringUp, ABadIdReadDoesNotResetTheCount)
{
    scaler->runOnce();
    scaler->runOnce();
    c331Chip().setChipId(0x23);
    for (int i = 0; i < 3; ++i)
        scaler->runOnce();
    EXPECT_EQ(scaler->thread_state, 2);
    c331Chip().setChipId(0x24);
    for (int i = 0; i < 3; ++i)
        scaler->runOnce();
    EXPECT_EQ(scaler->thread_state, 5);
}

TEST_F(BringUp, AChipWithAnotherIdIsNeverProgrammed)
{
    c331Chip().setChipId(0x42);
    c331Chip().clearLog();
    for (int i = 0; i < 50; ++i)
        scaler->runOnce();
    EXPECT_EQ(scaler->thread_state, 0);
    EXPECT_EQ(g_fpga_c331_start.load(), 0);
    size_t writes = 0;
    for (const Transfer& t : c331Chip().log())
        writes += t.kind == Transfer::Write;
    EXPECT_EQ(writes, 0u);
}

TEST_F(BringUp, StepsCallTheSettersWithTheBlockValuesInOrder)
{
    apply({{blk::kLedWidth, 3840}, {blk::kLedHeight, 2160}, {blk::kOutput1Width, 1920}, {blk::kOutput1Height, 1080},
           {blk::kSpliceMode, 3}, {blk::kContrast, 70}, {blk::kSharpness, 25}, {blk::kSaturation, 40},
           {blk::kColourTemp, 0}, {blk::kColourRed, 100}, {blk::kColourGreen, 110}, {blk::kColourBlue, 120},
           {blk::kBrightness, 10}});
    g_force_bkcolor = 2;
    runUntilRunning();
    std::vector<std::string> expected = {call("write_initial_setting", {1}), call("set_rtct", {1}), call("load_param"),
                                         call("check_input_port"),          call("load_char"),        call("read_c331_font"),
                                         call("update_font"), call("vyrApi_PnlInit2", {3840, 2160, 1920, 1080, 3})};
    for (const auto& c : {control("c331_SetBrightness", 50), control("c331_SetContrast", 70),
                          control("c331_SetSharpness", 25), control("c331_SetColorTemp", 0 | 120 << 8 | 110 << 16 | 100 << 24),
                          control("c331_SetSaturation", 40)})
        expected.insert(expected.end(), c.begin(), c.end());
    expected.push_back(call("set_output"));
    EXPECT_EQ(scaler->call_log.calls(), expected);
}

TEST_F(BringUp, ForcedColourAndMenuReloadFollowTheirFlags)
{
    struct Row {
        uint8_t force;
        uint16_t osd;
        bool green;
        uint8_t osdUpdate;
    };
    for (const Row& r : {Row{1, 1, true, 1}, Row{0, 0, false, 0}, Row{2, 2, false, 0}}) {
        g_force_bkcolor = r.force;
        g_osd_update = 0;
        store->setU16(blk::kOsdMenu, r.osd);
        scaler->thread_state = 5;
        c331Chip().clearLog();
        runUntilRunning();
        for (uint32_t n = 0; n < 8; ++n) {
            // The forced colour comes first; the window programming after it sets the background of
            // the channels in use again.
            const auto colour = c331Chip().writesTo(0x084903, 16 * n);
            EXPECT_EQ(colour.size() >= 3 && colour[1].value == 0xFF, r.green) << int(r.force) << "/" << n;
            if (r.green) {
                EXPECT_EQ(c331Chip().value(0x084903, 16 * n), 0x00FF00u) << n;
                EXPECT_EQ(c331Chip().value(0x084801, 16 * n), 1u) << n;
            }
        }
        EXPECT_EQ(g_osd_update.load(), r.osdUpdate) << r.osd;
    }
}

TEST_F(BringUp, LoadParamRaisesOnlyTheWordsOfChangedValues)
{
    scaler->load_param();
    for (int w = 0; w < 6; ++w)
        EXPECT_EQ(scaler->g_chg_geometry[w], 1u) << w; // every default window has a shape

    for (int w = 0; w < 6; ++w) {
        scaler->g_chg_geometry[w] = scaler->g_chg_memmode[w] = scaler->g_chg_fade[w] = scaler->g_chg_dbd[w] = 0;
        scaler->g_chg_input[w] = 0;
    }
    scaler->g_chg_overlay = scaler->g_chg_priority = 0;
    scaler->osd_attribute_word = scaler->osd_content_word = 0;
    scaler->osd_mode_word[0] = scaler->osd_mode_word[1] = 0;

    scaler->PM_INPUT[2] = 0;
    scaler->PM_WIN_FADE_IN[4] = 10;
    scaler->PM_OVERLAY[5] = 0;
    scaler->PM_OSD_MODE[1] = 3;       // back to 0: no request
    scaler->PM_OSD_UPDATE_BUTTON = 1; // back to 0: no request
    scaler->load_param();
    for (int w = 0; w < 6; ++w) {
        EXPECT_EQ(scaler->g_chg_input[w], w == 2 ? 1 : 0) << w;
        EXPECT_EQ(scaler->g_chg_fade[w], w == 4 ? 1u : 0u) << w;
        EXPECT_EQ(scaler->g_chg_geometry[w], 0u) << w;
        EXPECT_EQ(scaler->g_chg_dbd[w], 0u) << w;
    }
    EXPECT_EQ(scaler->PM_INPUT[2], 1);
    EXPECT_EQ(scaler->g_chg_overlay, 1u);
    EXPECT_EQ(scaler->g_chg_priority, 0u);
    EXPECT_EQ(scaler->osd_mode_word[1], 0u);
    EXPECT_EQ(scaler->osd_content_word, 0u);
    EXPECT_EQ(scaler->PM_OSD_MODE[1], 0);
}

TEST_F(BringUp, PanelFollowsTransmitterModeAndLayout)
{
    struct Case {
        int mode, layout, hw, vw, hshape, vshape;
    };
    const Case cases[] = {
        {0, 0, 7680, 2160, 4, 1}, {0, 1, 3840, 4320, 2, 2}, {2, 0, 3840, 2160, 2, 1},
        {2, 3, 1920, 4320, 1, 2}, {1, 0, 15360, 2160, 8, 1}, {3, 1, 7680, 4320, 4, 2},
    };
    for (const Case& c : cases) {
        scaler->load_system_param();
        scaler->PS_VBOTX_MODE = c.mode;
        scaler->PS_VBOTX_LAYOUT = c.layout;
        scaler->define_param();
        EXPECT_EQ(scaler->PS_PANEL_HW, c.hw) << c.mode << "/" << c.layout;
        EXPECT_EQ(scaler->PS_PANEL_VW, c.vw) << c.mode << "/" << c.layout;
        EXPECT_EQ(scaler->PS_PANEL_HSHAPE, c.hshape) << c.mode << "/" << c.layout;
        EXPECT_EQ(scaler->PS_PANEL_VSHAPE, c.vshape) << c.mode << "/" << c.layout;
    }
    EXPECT_EQ(scaler->PS_OAOIHST, 176);
    EXPECT_EQ(scaler->PS_OAOIHED, 2096);
    EXPECT_EQ(scaler->PS_OAOIVST, 82);
    EXPECT_EQ(scaler->PS_OAOIVED, 2242);
    for (int c = 0; c < 8; ++c)
        EXPECT_EQ(scaler->g_ich_owner[c], -1);
}

// The register programme on the wire, in order, from the rows of the chip's set-up; the default
// system parameters apart from the transmitter mode and the PLL multiplier, and the divider class
// they lead to.
static std::vector<std::string> initialProgramme(bool full, int mode, uint32_t multiplier, uint32_t dividerClass)
{
    BusTrace w;
    if (full) {
        w.reg(0xFF, 0x00, 1, 8); // also the bank register: the next row selects 0xFF again
        w.reg(0xFF, 0x01, 1, 0);
        w.reg(0xFF, 0x02, 1, 200);
        w.reg(0xFF, 0x03, 1, 0);
        w.reg(0xFF, 0x04, 1, 0x61);
        w.reg(0xFF, 0x05, 3, 1);
    }
    for (uint32_t k = 0; k < 8; ++k)
        w.reg(0x00, 0x08 + k, 1, 0x11);
    for (uint32_t k = 0; k < 8; ++k)
        w.reg(0x00, 0x10 + k, 1, 2 * k);
    const uint32_t pll1[5] = {0, 137, 0, 1, multiplier}, pll2[4] = {137, 0, 2, 24};
    for (uint32_t i = 0; i < 5; ++i)
        w.reg(0x00, 0x47 + i, 1, pll1[i]);
    for (uint32_t i = 0; i < 4; ++i)
        w.reg(0x00, 0x51 + i, 1, pll2[i]);
    uint32_t order[3] = {0x76543210, 0x76543210, 0x76543210};
    if (mode == 2) {
        order[0] = 0x00010000;
    } else if (mode != 1) {
        w.reg(0x03, 0x2C, 1, 5);
        w.reg(0x03, 0x36, 1, 5);
        w.reg(0x03, 0x2F, 2, 0x780);
        w.reg(0x03, 0x39, 2, 0x780);
        w.reg(0x03, 0x46, 1, 1);
        w.reg(0x03, 0x4E, 1, 1);
        order[0] = order[1] = order[2] = 0x73625140;
    }
    w.reg(0x03, 0x55, 4, order[0]);
    w.reg(0x03, 0x5E, 4, order[1]);
    w.reg(0x03, 0x62, 4, order[2]);
    const uint32_t base[4] = {0x08800000, 0x11000000, 0x19800000, 0x22000000};
    for (uint32_t n = 0; n < 8; ++n) {
        const bool shared = n == 5 || n == 7; // banks 0x66 and 0x86
        for (uint32_t k = 0; k < 4; ++k)
            w.reg(0x16 + 16 * n, 0x1C + 4 * k, 4, base[k] + (shared ? n - 1 : n) * 0x2000 + (shared ? 0x1E00 : 0));
    }
    const uint32_t matrix[9] = {0x4000, 0xC5DD, 0xFA23, 0x1B36, 0x5B8C, 0x093E, 0xF155, 0xCEAB, 0x4000};
    for (uint32_t n = 0; n < 8; ++n) {
        w.reg(0x08 + 16 * n, 0x0A, 2, 1920 - 2); // active width and height minus 2, then 0x40
        w.reg(0x08 + 16 * n, 0x0C, 2, 2160 - 2);
        w.reg(0x08 + 16 * n, 0x1D, 2, 0x40);
        for (uint32_t k = 0; k < 9; ++k)
            w.reg(0x10 + 16 * n, 0x35 + 2 * k, 2, matrix[k]);
    }
    if (!full)
        return w.out;
    w.reg(0x01, 0x08, 1, 0x30);
    uint32_t a = 0x09;
    for (uint32_t word : {0x22222222u, 0x66663445u, 0x88888888u}) {
        w.reg(0x01, a, 4, word);
        a += 4;
    }
    for (uint32_t word : {0x924924u, 0x6DB6DBu}) {
        for (int k = 0; k < 8; ++k) {
            w.reg(0x01, a, 3, word);
            a += 3;
        }
    }
    w.reg(0x01, a, 4, 0x33333333);
    w.reg(0xFF, 0x02, 1, 0x88);
    w.reg(0xFF, 0x02, 1, 200);
    w.reg(0xFF, 0x04, 1, 0x61);
    for (uint32_t sel : {0x0E, 0x0F, 0x0D, 0x0F})
        w.reg(0x02, 0x7F, 1, sel);
    const uint32_t modeValue = mode == 1 ? 5 : 9;
    w.reg(0x02, 0x08, 1, dividerClass);
    w.reg(0x02, 0x09, 1, modeValue);
    for (uint32_t sel : {0x0B, 0x0F, 0x07, 0x0F})
        w.reg(0x02, 0x7F, 1, sel);
    w.reg(0x02, 0x24, 1, dividerClass);
    w.reg(0x02, 0x25, 1, modeValue);
    return w.out;
}

TEST_F(BringUp, InitialProgrammeGoesOutRowByRow)
{
    struct Case {
        int full, mode, clockHz, multiplier;
        uint32_t dividerClass;
    };
    // ratio = clock x multiplier / (4 MHz, or 2 MHz in mode 1): class 0x44 below 21, 0x48 to 40
    const Case cases[] = {{1, 0, 27000000, 22, 0x4C}, {0, 0, 27000000, 22, 0x4C}, {1, 0, 4000000, 20, 0x44},
                          {1, 0, 4000000, 21, 0x48}, {1, 0, 4000000, 40, 0x48}, {1, 0, 4000000, 41, 0x4C},
                          {1, 1, 4000000, 10, 0x44}, {1, 1, 4000000, 20, 0x48}, {1, 1, 4000000, 21, 0x4C},
                          {1, 2, 4000000, 20, 0x44}, {0, 2, 27000000, 22, 0x4C}};
    for (const Case& c : cases) {
        prepareModel();
        scaler->PS_VBOTX_MODE = c.mode;
        scaler->PS_CLOCK[2] = c.clockHz;
        scaler->PS_PLL_SET1[4] = c.multiplier;
        scaler->drv->init_reg_acc_param();
        c331Chip().clearLog();
        scaler->write_initial_setting(c.full);
        EXPECT_EQ(wire(), initialProgramme(c.full, c.mode, c.multiplier, c.dividerClass))
            << "full " << c.full << " mode " << c.mode << " x" << c.multiplier;
    }
}

namespace {

c331_manage* startWorker()
{
    VyrRamPara::pInstance();
    c331_manage* scaler = c331_manage::pInstance();
    waitFor([] { return g_fpga_c331_start.load() != 0; }, 10000);
    return scaler;
}

// Upkeep passes in the worker's call log: each begins with load_hdmi().
size_t upkeepPasses(c331_manage* scaler)
{
    size_t n = 0;
    for (const std::string& c : scaler->call_log.calls())
        n += c == "load_hdmi()";
    return n;
}

}

TEST(ScalerWorker, ThreadIdentifiesBringsUpAndServesHandOversFromOtherThreads)
{
    c331_manage* scaler = startWorker();
    ASSERT_EQ(g_fpga_c331_start.load(), 1);

    bool named = false;
    for (const auto& task : std::filesystem::directory_iterator("/proc/self/task")) {
        std::ifstream comm(task.path() / "comm");
        std::string name;
        std::getline(comm, name);
        named |= name == "c331_manage";
    }
    EXPECT_TRUE(named);

    // Writers in two threads while this one watches the flag without the lock, as the page
    // thread does; every hand-over is served.
    std::atomic<bool> stop{false};
    std::vector<std::thread> writers;
    for (int t = 0; t < 2; ++t) {
        writers.emplace_back([t] {
            for (int i = 0; i < 200; ++i) {
                ScalerHandOver h;
                VyrRamPara::p_vyrrampara_config->setU16(blk::kContrast + 2 * t, uint16_t(i % 100));
                h.commit(1);
            }
        });
    }
    size_t seenPending = 0;
    std::thread watcher([&] {
        while (!stop.load())
            seenPending += scaler->change_flag.load() != 0;
    });
    for (auto& w : writers)
        w.join();
    // The flag drops when the worker takes the change, before the chip is programmed from its copy.
    const uint32_t lastContrast = 99 * 1023 / 100;
    waitFor([&] { return scaler->change_flag.load() == 0 && c331Chip().value(0x0C2802, 0x30) == lastContrast; }, 10000);
    stop = true;
    watcher.join();
    EXPECT_EQ(scaler->change_flag.load(), 0) << "the worker served the hand-overs";
    EXPECT_EQ(c331Chip().value(0x0C2802, 0x30), lastContrast) << "the last contrast reached the chip";
    EXPECT_EQ(c331Chip().violations(), std::vector<std::string>{});
    EXPECT_TRUE(parkWorker(scaler));
}

// An idle worker blocks between its upkeep passes (about one each 50 ms) and costs no bus traffic.
TEST(ScalerIdleTiming, IdleWorkerBlocksBetweenPassesWithoutBusTraffic)
{
    c331_manage* scaler = startWorker();
    ASSERT_EQ(g_fpga_c331_start.load(), 1);
    auto passes = [scaler] { return upkeepPasses(scaler); };
    // The second pass from here begins after the first has ended, the bring-up's left-over one
    // included: from then on the worker is idle.
    scaler->call_log.clear();
    ASSERT_TRUE(waitFor([&] { return passes() >= 2; }, 2000)) << "the upkeep runs while idle";
    scaler->call_log.clear();
    c331Chip().clearLog();
    // A pass within half a second, as long as this build needs for one; over at least half a
    // second, no more than the idle pace allows in the time that really passed.
    const auto start = std::chrono::steady_clock::now();
    EXPECT_TRUE(waitFor([&] { return passes() >= 1; }, 500)) << "the upkeep runs while idle";
    std::this_thread::sleep_until(start + std::chrono::milliseconds(500));
    const size_t counted = passes();
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    EXPECT_LE(counted, 40 * seconds) << "the worker wakes more often than its idle pace";
    EXPECT_EQ(c331Chip().transferCount(), 0u);
    EXPECT_TRUE(parkWorker(scaler));
}

// Idle, the worker sleeps until the panel's burst of ticks rather than on a timer of its own. Its
// own bound stretched to an hour, a pass within the limit can only come from a burst; the panel's
// bursts count 9 to 11 ticks, and the smallest must ring too.
TEST(ScalerIdleTiming, PanelsTickBurstBringsTheIdleUpkeep)
{
    c331_manage* scaler = startWorker();
    ASSERT_EQ(g_fpga_c331_start.load(), 1);
    auto passes = [scaler] { return upkeepPasses(scaler); };
    // The worker holds this process's only tick alarm (no FPGA worker, no Wi-Fi set-up): an arming
    // counted after the bound changed is the worker gone to sleep with the new bound.
    scaler->idle_wait_ms = 3600 * 1000;
    const uint32_t armed = TickAlarm::armings();
    ASSERT_TRUE(waitFor([&] { return TickAlarm::armings() > armed; }, 2000)) << "asleep on its alarm";
    for (uint32_t burst : {9u, 11u, 10u, 9u}) {
        const size_t before = passes();
        const uint32_t asleep = TickAlarm::armings();
        G_timeTicks += burst;
        TickAlarm::advanced(G_timeTicks.load());
        ASSERT_TRUE(waitFor([&] { return TickAlarm::armings() > asleep; }, 2000))
            << "a burst of " << burst << " ticks brings a pass";
        EXPECT_EQ(passes(), before + 1) << "one pass a burst";
    }
    EXPECT_TRUE(parkWorker(scaler));
}
