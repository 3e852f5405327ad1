// The FPGA worker against the simulated FPGA: pass by pass with the tick driven here, end to end
// with the simulated scaler, and once as the real thread.
#include "scaler/c331_manage.h"
#include "fpga/fpga_manage.h"
#include "base/global.h"
#include "video_chips/keltosource.h"
#include "test_root.h"
#include "base/utils.h"
#include "params/vyrrampara.h"
#include "platform/sim/devices/c331_chip.h"
#include "platform/sim/devices/fpga_chip.h"
#include "platform/sim/devices/fpga_flash.h"
#include "platform/sim/sim_board.h"

#include <QDir>
#include <QMutexLocker>
#include <QSignalSpy>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <ctime>
#include <fstream>
#include <functional>
#include <thread>
#include <vector>

using platform::Sim::FpgaChip;
using platform::Sim::FpgaFlash;
using platform::Sim::c331Chip;
using platform::Sim::fpgaChip;
using platform::Sim::fpgaFlash;
using platform::Sim::memSim;

namespace {

uint16_t resetLine() { return memSim().read16(FpgaChip::WindowBase + FpgaChip::ResetWord); }
uint16_t ramU16(int bank, uint16_t at)
{
    const std::vector<uint8_t> b = fpgaChip().ram(bank, at, 2);
    return uint16_t(b[0] | b[1] << 8);
}
bool logHas(const char* text) { return TestRoot::readFile("/data/keltoqz/log/jtcEnglneLog").contains(text); }
void setLedPara(uint8_t para)
{
    QMutexLocker lock(&Utils::_led_para_init_mutex);
    g_set_led_para = para;
    g_set_led_setup = 0;
}

class FpgaWorker : public ::testing::Test {
protected:
    void SetUp() override
    {
        store = VyrRamPara::pInstance();
        keltosource::pInstance();
        fpga = fpga_manage::instanceWithoutWorker();
        g_fpga_c331_start = 1;
        clockUp();
        fpgaChip().clearLog();
    }
    void TearDown() override
    {
        EXPECT_TRUE(fpgaChip().violations().empty()) << fpgaChip().violations().front();
    }
    // What the input manager leaves once the clock synthesiser runs.
    void clockUp()
    {
        fpga_manage::gpio_write(fpga->rst_fpga0, 16);
        keltosource::p_kelto_source->clock_state[0] = 2;
    }
    // One tick, one pass; resets asserted meanwhile are counted.
    void tick(int n = 1)
    {
        for (int i = 0; i < n; ++i) {
            const uint16_t before = resetLine();
            G_timeTicks.fetch_add(1);
            fpga->runOnce();
            fpgaChip().watchLines(); // the FPGA sees its reset line all the time, not only at transfers
            resets += before == 16 && resetLine() == 0;
        }
    }
    bool runUntil(const std::function<bool()>& done, int maxTicks)
    {
        for (int i = 0; i < maxTicks && !done(); ++i)
            tick();
        return done();
    }
    bool runUntilUp(int maxTicks = 1500) { return runUntil([this] { return fpga->get_fpga_status() == 1; }, maxTicks); }

    VyrRamPara* store = nullptr;
    fpga_manage* fpga = nullptr;
    int resets = 0;
};

}

TEST_F(FpgaWorker, NoFpgaAccessBeforeTheScalerAndTheClockAreUp)
{
    g_fpga_c331_start = 0;
    tick(500);
    EXPECT_TRUE(fpgaChip().log().empty());
    g_fpga_c331_start = 1;
    keltosource::p_kelto_source->clock_state[0] = 1;
    tick(500);
    EXPECT_TRUE(fpgaChip().log().empty());
    EXPECT_EQ(fpga->get_fpga_status(), 0);
}

TEST_F(FpgaWorker, BringUpAndStatusWatchRunTheirStepsInOrder)
{
    fpgaFlash().store(FpgaFlash::Bank50Table, std::vector<uint8_t>(256, 0x5A));
    std::vector<int> s{fpga->vbo_step[0]}, t{fpga->status_step[0]};
    ASSERT_TRUE(runUntil([&] {
        if (fpga->vbo_step[0] != s.back())
            s.push_back(fpga->vbo_step[0]);
        if (fpga->status_step[0] != t.back())
            t.push_back(fpga->status_step[0]);
        return fpga->get_fpga_status() == 1;
    }, 1500));
    EXPECT_EQ(s, (std::vector<int>{0, 1, 2, 3, 5, 6, 7}));
    EXPECT_EQ(t, (std::vector<int>{0, 7, 1, 8, 2, 9, 10, 3, 14, 15, 18}));
    EXPECT_EQ(resets, 0);
    EXPECT_EQ(fpgaChip().registerValue(3) & 0xE0, 0xE0); // link, V-by-One, then step T 15
    EXPECT_EQ(fpgaChip().ram(50, 0, 256), std::vector<uint8_t>(256, 0x5A));
    // Without a saved image: the default head, 1280 x 512 ports numbered 1-16, the entries.
    EXPECT_EQ(fpgaChip().ram(1, 0, 8), (std::vector<uint8_t>{0, 5, 0, 4, 0x76, 5, 0xD2, 1}));
    EXPECT_EQ(fpgaChip().ram(1, 60, 4), (std::vector<uint8_t>{0, 5, 0, 4}));
    EXPECT_EQ(ramU16(1, 43 + 4), 1280);
    EXPECT_EQ(ramU16(1, 576 + 8 * 7 + 6), 512);
    EXPECT_EQ(fpgaChip().ram(1, 276, 16), (std::vector<uint8_t>{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16}));
    EXPECT_EQ(fpgaChip().ram(1, 356, 4), (std::vector<uint8_t>{0x76, 5, 0xD2, 1}));
    EXPECT_EQ(fpga->ram_check[0], 1);
}

TEST_F(FpgaWorker, SavedImageKeepsItsPortsMovedByTheLedOffset)
{
    std::vector<uint8_t> image(1024, 0);
    image[8] = 100; // port 0 x
    image[124] = 7; // 96-127 are run-time bytes: never taken from flash
    image[200] = 9;
    fpgaFlash().setSavedImage(image);
    store->setU16(0x566, 10);
    store->setU16(0x568, 20);
    ASSERT_TRUE(runUntilUp());
    EXPECT_EQ(ramU16(1, 8), 110);
    EXPECT_EQ(ramU16(1, 10), 20);
    EXPECT_EQ(fpgaChip().ram(1, 124, 1)[0], 0);
    EXPECT_EQ(fpgaChip().ram(1, 200, 1)[0], 9);
}

class FpgaIdentity : public FpgaWorker, public ::testing::WithParamInterface<std::pair<int, bool>> {};

TEST_P(FpgaIdentity, OnlyAConfiguredIdentityStartsTheSteps)
{
    fpgaChip().setIdentity(uint8_t(GetParam().first));
    tick(400);
    size_t identityReads = 0, step1Writes = 0;
    for (const FpgaChip::Access& a : fpgaChip().log()) {
        identityReads += a.kind == FpgaChip::Access::RegisterRead && a.address == 31;
        step1Writes += a.kind == FpgaChip::Access::RegisterWrite && a.address == 3;
    }
    if (GetParam().second) {
        EXPECT_EQ(fpga->vbo_step[0], 7);
        EXPECT_LE(identityReads, 2u); // the first look and the copy for the PC tools
    } else {
        EXPECT_EQ(fpga->vbo_step[0], 1); // every pass reads the identity again
        EXPECT_GE(identityReads, 10u);
        EXPECT_EQ(step1Writes, 0u);
    }
}
INSTANTIATE_TEST_SUITE_P(Bounds, FpgaIdentity,
                         ::testing::Values(std::make_pair(24, false), std::make_pair(25, true),
                                           std::make_pair(48, true), std::make_pair(49, false)));

TEST_F(FpgaWorker, VboErrorsResetTwiceThenTheBringUpGoesOn)
{
    fpgaChip().setVboErrorReads(-1);
    ASSERT_TRUE(runUntilUp(4000));
    EXPECT_EQ(resets, 2);
}

TEST_F(FpgaWorker, LastingRamMismatchStopsResettingAfterAFew)
{
    fpgaChip().setRamCheckMismatch(true);
    ASSERT_TRUE(runUntilUp(8000));
    tick(2000);
    EXPECT_EQ(resets, fpga_manage::kRamCheckResets);
    EXPECT_EQ(fpga->get_fpga_status(), 1);
    EXPECT_EQ(fpga->ram_check[0], 0);
    EXPECT_TRUE(logHas("parameter RAM check failed (3 in a row)"));
    EXPECT_TRUE(logHas("running without reset"));
}

TEST_F(FpgaWorker, GoodRamCheckAfterAMismatchClearsTheCount)
{
    fpgaChip().setRamCheckMismatch(true);
    ASSERT_TRUE(runUntil([this] { return resets == 1; }, 1500));
    fpgaChip().setRamCheckMismatch(false);
    ASSERT_TRUE(runUntilUp(1500));
    EXPECT_EQ(resets, 1);
    EXPECT_EQ(fpga->ram_check_fails[0], 0);
}

TEST_F(FpgaWorker, LedParameterStepBlanksForElevenAndThirtyOneTicks)
{
    ASSERT_TRUE(runUntilUp());
    ASSERT_NE(fpgaChip().registerValue(3) & 0x20, 0);
    setLedPara(1);
    tick();
    EXPECT_NE(fpgaChip().registerValue(0) & 0x04, 0) << "blanked";
    int ticks = 1;
    while (g_set_led_para == 1 && ticks < 100) {
        tick();
        ++ticks;
    }
    EXPECT_GE(ticks, 11 + 31);
    EXPECT_LE(ticks, 11 + 31 + 2);
    EXPECT_EQ(fpgaChip().registerValue(3) & 0x20, 0);
    EXPECT_EQ(resets, 0);
}

TEST_F(FpgaWorker, ScalerHandOverResetsFpga0AndItComesUpAgain)
{
    ASSERT_TRUE(runUntilUp());
    setLedPara(2);
    tick();
    EXPECT_EQ(g_set_led_para, 0);
    EXPECT_EQ(resets, 1);
    tick(200);
    EXPECT_EQ(resetLine(), 0);
    tick();
    EXPECT_EQ(resetLine(), 16) << "released 201 ticks later";
    EXPECT_EQ(fpga->get_fpga_status(), 0);
    EXPECT_TRUE(runUntilUp());
}

TEST_F(FpgaWorker, RequestsWaitForTheFpgaAndAreServedOnce)
{
    fpgaChip().setCards(0, 1); // brightness goes out only with a linked port
    store->setU16(0x880, 50);
    store->setU16(0x566, 10);
    store->setU16(0x568, 20);
    store->setU16(0x844, 1);
    ASSERT_TRUE(runUntil([this] { return fpga->status_step[0] == 9; }, 1500));
    fpga->bri_request = 1;
    fpga->lcd_request = 1;
    fpga->onoff_request = 1;
    ASSERT_TRUE(runUntil([this] { return fpga->status_step[0] == 15; }, 500));
    EXPECT_EQ(fpga->bri_request + fpga->lcd_request + fpga->onoff_request, 3);
    ASSERT_TRUE(runUntilUp());
    tick();
    EXPECT_EQ(fpga->bri_request + fpga->lcd_request + fpga->onoff_request, 0);
    EXPECT_EQ(fpgaChip().registerValue(6), 127);
    EXPECT_EQ(ramU16(1, 8), 10);
    EXPECT_EQ(ramU16(1, 10), 20);
    EXPECT_NE(fpgaChip().registerValue(0) & 0x04, 0);
}

TEST_F(FpgaWorker, LinkWatchdogAndLinkReport)
{
    ASSERT_TRUE(runUntilUp());
    QSignalSpy spy(store, &VyrRamPara::sig_update_para);
    fpgaChip().setLinked(9, true);
    tick(2);
    ASSERT_EQ(spy.count(), 1);
    EXPECT_EQ(spy.at(0).at(0).toInt(), 11);
    EXPECT_EQ(fpga->wlan_state_word, 1 << 9);

    fpgaChip().setLinkDropReads(8);
    ASSERT_TRUE(runUntil([this] { return fpga->vbo_wd_flag[0] == 1; }, 20));
    EXPECT_EQ(fpgaChip().registerValue(3) & 0xC0, 0);
    ASSERT_TRUE(runUntil([this] { return fpga->vbo_wd_flag[0] == 0; }, 40));
    EXPECT_EQ(fpgaChip().registerValue(3) & 0xC0, 0xC0);
}

// Both simulated chips, one pass each per tick, as their two threads would run them.
TEST_F(FpgaWorker, ForcedColourLiftedAndLedSizeChangeBringsTheFpgaUpAgain)
{
    c331_manage* scaler = c331_manage::instanceWithoutWorker();
    scaler->led_wait_limit_ms = 20000;
    g_fpga_c331_start = 0;
    g_force_bkcolor = 1;
    auto both = [&](int n) {
        for (int i = 0; i < n; ++i) {
            scaler->runOnce();
            tick();
        }
    };
    for (int i = 0; i < 10 && scaler->thread_state < 6; ++i)
        both(1);
    ASSERT_EQ(g_fpga_c331_start, 1);
    EXPECT_EQ(c331Chip().value(0x084801, 0), 1u) << "forced colour while the FPGA is down";
    ASSERT_TRUE(runUntil([&] {
        scaler->runOnce();
        return fpga->get_fpga_status() == 1;
    }, 1500));
    both(2);
    EXPECT_EQ(g_force_bkcolor, 2);
    EXPECT_EQ(c331Chip().value(0x084801, 0), 0u) << "forced colour off";

    // A writer of the LED size: block and handshake, then the hand-over.
    {
        ScalerHandOver writer;
        store->setU16(0x562, 1280);
        setLedPara(1);
        writer.commit();
    }
    std::atomic<bool> applied{false};
    std::thread scalerThread([&] {
        scaler->runOnce();
        applied = true;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_FALSE(applied) << "the scaler waits for the FPGA's blanking";
    tick();
    EXPECT_NE(fpgaChip().registerValue(0) & 0x04, 0) << "blanked";
    runUntil([] { return g_set_led_para != 1; }, 100);
    scalerThread.join();
    EXPECT_EQ(g_set_led_para, 2);
    tick();
    EXPECT_EQ(resets, 1);
    EXPECT_EQ(fpga->get_fpga_status(), 0);
    ASSERT_TRUE(runUntil([&] {
        scaler->runOnce();
        return fpga->get_fpga_status() == 1;
    }, 1500));
    EXPECT_EQ(fpgaChip().registerValue(0) & 0x04, 0) << "shown again";
}

TEST(FpgaWorkerThread, NamedThreadBringsTheFpgaUpAndIdlesQuietly)
{
    VyrRamPara::pInstance();
    keltosource::pInstance()->clock_state[0] = 2;
    fpga_manage* fpga = fpga_manage::pInstance();
    EXPECT_TRUE(QDir(QString::fromStdString(TestRoot::path("/data/smartmapping"))).exists());
    EXPECT_TRUE(QDir(QString::fromStdString(TestRoot::path("/data/rcvrecovery"))).exists());
    std::string worker; // its /proc/self/task entry
    for (const QString& task : QDir(QStringLiteral("/proc/self/task")).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        std::ifstream comm("/proc/self/task/" + task.toStdString() + "/comm");
        std::string name;
        std::getline(comm, name);
        if (name == "fpga_manage")
            worker = task.toStdString();
    }
    ASSERT_FALSE(worker.empty()) << "a thread named fpga_manage";

    fpga_manage::gpio_write(fpga->rst_fpga0, 16);
    g_fpga_c331_start = 1;
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (fpga->get_fpga_status() != 1 && std::chrono::steady_clock::now() < until) {
        G_timeTicks.fetch_add(1);
        std::this_thread::sleep_for(std::chrono::milliseconds(3));
    }
    ASSERT_EQ(fpga->get_fpga_status(), 1);

    // Up and idle: the worker sleeps about 1 ms between passes instead of spinning.
    auto wakeups = [&worker] {
        std::ifstream status("/proc/self/task/" + worker + "/status");
        for (std::string line; std::getline(status, line);)
            if (line.rfind("voluntary_ctxt_switches:", 0) == 0)
                return std::stol(line.substr(24));
        return -1L;
    };
    timespec cpu0, cpu1;
    const long wakeups0 = wakeups();
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &cpu0);
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &cpu1);
    const long passes = wakeups() - wakeups0;
    EXPECT_GT(passes, 50);
    EXPECT_LT(passes, 1500) << "a spinning worker wakes up thousands of times";
    const double used = (cpu1.tv_sec - cpu0.tv_sec) + (cpu1.tv_nsec - cpu0.tv_nsec) / 1e9;
    EXPECT_LT(used, 0.15) << "seconds of CPU in 0.5 s";

    // Park the worker, so the process can end while it never does.
    g_fpga_c331_start = 0;
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
}

TEST(FpgaWorkerStart, FailedWindowSetUpIsReportedAndTouchesNothing)
{
    memSim().setMsysFails(true);
    VyrRamPara::pInstance();
    keltosource::pInstance()->clock_state[0] = 2;
    fpga_manage* fpga = fpga_manage::pInstance();
    ASSERT_NE(fpga, nullptr);
    EXPECT_FALSE(fpga->worker_started);
    EXPECT_TRUE(logHas("FPGA access set-up failed"));
    fpgaChip().clearLog();
    g_fpga_c331_start = 1;
    fpga->hold_in_reset(0);
    for (int i = 0; i < 500; ++i) {
        G_timeTicks.fetch_add(1);
        fpga->runOnce();
    }
    EXPECT_TRUE(fpgaChip().log().empty());
    EXPECT_EQ(fpga->get_fpga_status(), 0);
}
