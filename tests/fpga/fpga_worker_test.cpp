// The FPGA worker against the simulated FPGA: pass by pass with the tick driven here, end to end
// with the simulated scaler, and once as the real thread.
#include "fpga_up.h"
#include "frame_client.h"
#include "second_writer.h"

#include "scaler/c331_manage.h"
#include "fpga/fpga_manage.h"
#include "base/global.h"
#include "base/posix_lock.h"
#include "video_chips/keltosource.h"
#include "program.h"
#include "race_hold.h"
#include "running_fpga.h"
#include "test_root.h"
#include "base/utils.h"
#include "params/vyrrampara.h"
#include "platform/sim/devices/c331_chip.h"
#include "platform/sim/devices/fpga_chip.h"
#include "platform/sim/devices/fpga_flash.h"
#include "platform/sim/sim_board.h"
#include "store_face.h"

#include <QDir>
#include <QMutexLocker>
#include <QSignalSpy>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
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

using TestRoot::logHas;

// A 16-bit word of the simulated FPGA's RAM bank.
uint16_t bankU16(int bank, uint16_t at)
{
    const std::vector<uint8_t> b = fpgaChip().ram(bank, at, 2);
    return uint16_t(b[0] | b[1] << 8);
}
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
            if (before != resetLine())
                resetEdges.push_back({G_timeTicks.load(), resetLine()});
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
    std::vector<std::pair<uint32_t, uint16_t>> resetEdges; // tick, new level of the reset line
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

// One row per step access of the bring-up (S) and status watch (T) as the FPGA sees it: the
// access, for writes the bits that change, and the ticks since the previous row (one pass a tick).
struct StepRow {
    const char* step;
    FpgaChip::Access::Kind kind;
    int bank; // -1: a register access
    int address;
    uint8_t mask, value;
    uint32_t ticks;
};
using K = FpgaChip::Access::Kind;
const StepRow kStepRows[] = {
    {"identity", K::RegisterRead, -1, 31, 0, 0, 31},
    {"S1 link on", K::RegisterWrite, -1, 3, 0x40, 0x40, 31},
    {"S2 error check", K::RegisterRead, -1, 22, 0, 0, 31},
    {"S3 V-by-One on", K::RegisterWrite, -1, 3, 0x80, 0x80, 31},
    {"S5 V-by-One check", K::RegisterRead, -1, 22, 0, 0, 31},
    {"S5 V-by-One off", K::RegisterWrite, -1, 23, 0x01, 0x00, 0},
    {"S6 V-by-One enable", K::RegisterWrite, -1, 23, 0x01, 0x01, 31},
    {"init pulse", K::RegisterWrite, -1, 23, 0x40, 0x40, 0},
    {"init pulse end", K::RegisterWrite, -1, 23, 0x40, 0x00, 0},
    {"init reply flag", K::RegisterWrite, -1, 22, 0x20, 0x00, 0},
    {"init image", K::RamWrite, 1, 0, 0, 0, 0},
    {"init load", K::RegisterWrite, -1, 2, 0x08, 0x08, 0},
    {"T0 link lock", K::RegisterRead, -1, 22, 0, 0, 0},
    {"T7 measure", K::RamRead, 1, 116, 0, 0, 71},
    {"T7 apply", K::RegisterWrite, -1, 2, 0x01, 0x01, 0},
    {"T7 apply again", K::RegisterWrite, -1, 2, 0x01, 0x01, 0},
    {"T1 loop", K::RegisterWrite, -1, 41, 0x01, 0x01, 1},
    {"T1 loop test on", K::RegisterWrite, -1, 23, 0x02, 0x02, 0},
    {"T8 loop check", K::RegisterRead, -1, 23, 0, 0, 6},
    {"T2 loop read", K::RegisterRead, -1, 41, 0, 0, 21},
    {"T9 loop test off", K::RegisterWrite, -1, 23, 0x02, 0x00, 1},
    {"T10 off check", K::RegisterRead, -1, 23, 0, 0, 6},
    {"T3 apply", K::RegisterWrite, -1, 2, 0x01, 0x01, 1},
    {"T14 unmute", K::RegisterWrite, -1, 23, 0x08, 0x00, 44},
    {"T14 apply", K::RegisterWrite, -1, 2, 0x01, 0x01, 0},
    {"T14 apply again", K::RegisterWrite, -1, 2, 0x01, 0x01, 0},
    {"T15 output on", K::RegisterWrite, -1, 3, 0x20, 0x20, 51},
};

bool matches(const StepRow& row, const FpgaChip::Access& a)
{
    if (a.kind != row.kind || a.address != row.address || (row.bank >= 0 && a.bank != row.bank))
        return false;
    return row.kind != K::RegisterWrite || (a.mask == row.mask && (a.data.at(0) & row.mask) == row.value);
}

TEST_F(FpgaWorker, BringUpAndStatusWatchStepsComeAtTheirTicks)
{
    fpgaChip().setTickSource([] { return G_timeTicks.load(); });
    fpgaFlash().store(FpgaFlash::Bank50Table, std::vector<uint8_t>(256, 0x5A));
    const uint32_t start = G_timeTicks.load();
    ASSERT_TRUE(runUntilUp());
    const std::vector<FpgaChip::Access> log = fpgaChip().log();
    size_t at = 0;
    uint32_t previous = start;
    for (const StepRow& row : kStepRows) {
        while (at < log.size() && !matches(row, log[at]))
            ++at;
        ASSERT_LT(at, log.size()) << row.step << " not seen";
        EXPECT_EQ(log[at].tick - previous, row.ticks) << row.step;
        previous = log[at].tick;
        ++at;
    }
    EXPECT_EQ(resets, 0);
    EXPECT_TRUE(fpgaChip().pictureOut());
    EXPECT_EQ(fpgaChip().applyCount(), 5);
    EXPECT_EQ(fpgaChip().ram(50, 0, 256), std::vector<uint8_t>(256, 0x5A));
    // Without a saved image: the default head, 1280 x 512 ports numbered 1-16, the entries.
    EXPECT_EQ(fpgaChip().ram(1, 0, 8), (std::vector<uint8_t>{0, 5, 0, 4, 0x76, 5, 0xD2, 1}));
    EXPECT_EQ(fpgaChip().ram(1, 60, 4), (std::vector<uint8_t>{0, 5, 0, 4}));
    EXPECT_EQ(bankU16(1, 43 + 4), 1280);
    EXPECT_EQ(bankU16(1, 576 + 8 * 7 + 6), 512);
    EXPECT_EQ(fpgaChip().ram(1, 276, 16), (std::vector<uint8_t>{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16}));
    EXPECT_EQ(fpgaChip().ram(1, 356, 4), (std::vector<uint8_t>{0x76, 5, 0xD2, 1}));
    EXPECT_EQ(fpga->ram_check[0], 1);

    // Up and idle: the link watchdog reads register 40 eight times every 10 ticks; the clock is
    // read every 26 ticks.
    std::vector<uint32_t> clockReads;
    fpga_manage::clock = [&clockReads] {
        clockReads.push_back(G_timeTicks.load());
        return QDateTime::currentDateTime();
    };
    fpgaChip().clearLog();
    tick(80);
    std::vector<uint32_t> watch;
    for (const FpgaChip::Access& a : fpgaChip().log())
        if (a.kind == K::RegisterRead && a.address == 40)
            watch.push_back(a.tick);
    ASSERT_EQ(watch.size(), 8u * 8);
    for (size_t i = 8; i < watch.size(); i += 8)
        EXPECT_EQ(watch[i] - watch[i - 8], 10u);
    ASSERT_GE(clockReads.size(), 3u);
    for (size_t i = 1; i < clockReads.size(); ++i)
        EXPECT_EQ(clockReads[i] - clockReads[i - 1], 26u);
    fpga_manage::clock = [] { return QDateTime::currentDateTime(); };
}

namespace {

// Offsets of each port's x, y, width and height (u16 each) in the parameter RAM.
const uint32_t kPortAt[16] = {8, 19, 32, 43, 520, 528, 536, 544, 576, 584, 592, 600, 608, 616, 624, 632};

void put16(std::vector<uint8_t>& b, uint32_t at, uint16_t v)
{
    b[at] = uint8_t(v);
    b[at + 1] = uint8_t(v >> 8);
}

// The whole 1024-byte parameter image the bring-up writes to bank 1 (the first write there).
std::vector<uint8_t> initImageWritten()
{
    for (const FpgaChip::Access& a : fpgaChip().log())
        if (a.kind == K::RamWrite && a.bank == 1 && a.address == 0 && a.data.size() == 1024)
            return a.data;
    return {};
}

std::string differences(const std::vector<uint8_t>& got, const std::vector<uint8_t>& want)
{
    std::string out;
    for (size_t i = 0; i < std::min(got.size(), want.size()); ++i)
        if (got[i] != want[i])
            out += " byte " + std::to_string(i) + ": " + std::to_string(got[i]) + " not " + std::to_string(want[i]) + ";";
    if (got.size() != want.size())
        out += " size " + std::to_string(got.size()) + " not " + std::to_string(want.size());
    return out;
}

}

// Without a saved image the bring-up writes the default head, then the sixteen entries, then every
// port at 0, 0, 1280 x 512 and the port numbers, as one image. The ports' width and height bytes
// cover head bytes 37 and 48 (port 2's and port 3's width, 0x05), so those two head values never
// reach the FPGA.
TEST_F(FpgaWorker, DefaultImageIsWrittenWholeAsTheBringUpBuildsIt)
{
    ASSERT_TRUE(runUntilUp());
    std::vector<uint8_t> want(1024, 0);
    const std::pair<uint32_t, uint8_t> head[] = {
        {1, 0x05},  {3, 0x04},  {4, 0x76},  {5, 0x05},   {6, 0xD2},   {7, 0x01},   {13, 0x05},  {15, 0x02},
        {24, 0x05}, {26, 0x02}, {30, 0x02}, {37, 0x01},  {48, 0x01},  {61, 0x05},  {63, 0x04},  {96, 0x05},
        {100, 0x02}, {116, 0x56}, {117, 0x05}, {119, 0x03}, {120, 0xD9}, {121, 0xB8}, {122, 0x0C}};
    for (const auto& row : head)
        want[row.first] = row.second;
    for (uint32_t at = 296; at < 360; at += 4) {
        const uint8_t entry[4] = {0x76, 0x05, 0xD2, 0x01};
        std::copy(entry, entry + 4, want.begin() + at);
    }
    for (uint32_t at : kPortAt) {
        put16(want, at, 0);
        put16(want, at + 2, 0);
        put16(want, at + 4, 1280);
        put16(want, at + 6, 512);
    }
    for (int p = 0; p < 16; ++p)
        want[276 + size_t(p)] = uint8_t(p + 1);
    ASSERT_EQ(want[37], 0x05);
    ASSERT_EQ(want[48], 0x05);
    EXPECT_EQ(differences(initImageWritten(), want), "");
}

// A saved image's ports are moved by the LED offset of the block, every port's x and y (through
// the position backup: its bytes 4-11 hold port 0, 12-19 port 1, 20-27 port 2 and so on), and the
// word pair at 60/62; widths and heights stay.
TEST_F(FpgaWorker, SavedImageMovesEveryPortByTheLedOffset)
{
    std::vector<uint8_t> image(1024, 0);
    put16(image, 60, 1000);
    put16(image, 62, 2000);
    for (int p = 0; p < 16; ++p) {
        put16(image, kPortAt[p], uint16_t(100 + 7 * p));
        put16(image, kPortAt[p] + 2, uint16_t(200 + 3 * p));
        put16(image, kPortAt[p] + 4, uint16_t(300 + p));
        put16(image, kPortAt[p] + 6, uint16_t(400 + p));
    }
    fpgaFlash().setSavedImage(image);
    store->setU16(0x566, 10);
    store->setU16(0x568, 20);
    ASSERT_TRUE(runUntilUp());
    const std::vector<uint8_t> got = initImageWritten();
    ASSERT_EQ(got.size(), 1024u);
    auto u16 = [&](uint32_t at) { return int(got[at] | got[at + 1] << 8); };
    EXPECT_EQ(u16(60), 1010);
    EXPECT_EQ(u16(62), 2020);
    for (int p = 0; p < 16; ++p) {
        SCOPED_TRACE(p);
        EXPECT_EQ(u16(kPortAt[p]), 100 + 7 * p + 10);
        EXPECT_EQ(u16(kPortAt[p] + 2), 200 + 3 * p + 20);
        EXPECT_EQ(u16(kPortAt[p] + 4), 300 + p);
        EXPECT_EQ(u16(kPortAt[p] + 6), 400 + p);
    }
}

// The interrupt service, as the FPGA sees it: a pending interrupt is acknowledged (register 22
// bit 5 := 0) before register 22 is read, then the RX-ready registers and the link registers are
// read; the rows come in this order (other accesses may stand between them).
TEST_F(FpgaWorker, InterruptServiceAcknowledgesBeforeItReads)
{
    ASSERT_TRUE(runUntilUp());
    const StepRow rows[] = {
        {"acknowledge", K::RegisterWrite, -1, 22, 0x20, 0x00, 0}, {"status", K::RegisterRead, -1, 22, 0, 0, 0},
        {"RX ready 0-7", K::RegisterRead, -1, 129, 0, 0, 0},       {"RX ready 8-15", K::RegisterRead, -1, 145, 0, 0, 0},
        {"links 0-7", K::RegisterRead, -1, 128, 0, 0, 0},          {"links 8-15", K::RegisterRead, -1, 144, 0, 0, 0}};
    fpgaChip().setRegister(22, uint8_t(fpgaChip().registerValue(22) | 0x20)); // a reply flagged
    fpgaChip().clearLog();
    {
        PosixLock lock(fpga->pass_mutex);
        fpga->reg_IRQ_Dealwith(0, 1);
    }
    const std::vector<FpgaChip::Access> log = fpgaChip().log();
    size_t at = 0;
    for (const StepRow& row : rows) {
        while (at < log.size() && !matches(row, log[at]))
            ++at;
        ASSERT_LT(at, log.size()) << row.step << " not seen in its place";
        ++at;
    }
    EXPECT_EQ(fpgaChip().registerValue(22) & 0x20, 0) << "acknowledged";
    // Nothing pending: nothing is touched.
    fpgaChip().clearLog();
    {
        PosixLock lock(fpga->pass_mutex);
        fpga->reg_IRQ_Dealwith(0, 0);
    }
    EXPECT_TRUE(fpgaChip().log().empty());
}

// The link watchdog trips when more than three of its eight readings of register 40 lack a lane
// bit: three pass, four switch the link off (register 3 bits 6 and 7 := 0).
TEST_F(FpgaWorker, LinkWatchdogTripsAtMoreThanThreeOfEightReadings)
{
    ASSERT_TRUE(runUntilUp());
    const struct {
        int lacking;
        bool trips;
    } rows[] = {{3, false}, {4, true}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.lacking);
        ASSERT_TRUE(runUntil([this] { return fpga->vbo_wd_flag[0] == 0; }, 100));
        tick(11); // a whole watchdog round without drops first
        fpgaChip().clearLog();
        fpgaChip().setLinkDropReads(row.lacking);
        tick(11);
        int reads = 0;
        bool off = false;
        for (const FpgaChip::Access& a : fpgaChip().log()) {
            reads += a.kind == K::RegisterRead && a.address == 40;
            off = off || (a.kind == K::RegisterWrite && a.address == 3 && a.mask == 0xC0 && (a.data.at(0) & 0xC0) == 0);
        }
        EXPECT_EQ(reads, 8) << "one round of eight readings";
        EXPECT_EQ(off, row.trips);
        EXPECT_EQ(fpga->vbo_wd_flag[0], row.trips ? 1 : 0);
    }
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
    EXPECT_EQ(bankU16(1, 8), 110);
    EXPECT_EQ(bankU16(1, 10), 20);
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

// The retry paths: how many reads of register 22 each step makes, how far apart, and which
// rounds end in a reset. A step's reads are those after the write that starts it.
struct RetryCase {
    const char* name;
    std::function<void()> fault;
    int startReg;            // the write that starts the step: register and mask
    uint8_t startMask;
    std::vector<int> reads;  // reads per round; a reset ends every round but the last ...
    bool lastEndsInReset;    // ... unless this is set
    uint32_t spacing;        // ticks between reads
};

TEST_F(FpgaWorker, RetryPathsKeepTheirCountsSpacingAndResets)
{
    const RetryCase cases[] = {
        // S2: five errors reset FPGA 0; after two resets the third round of five goes on to S3.
        {"V-by-One error at S2", [] { fpgaChip().setVboErrorReads(-1); }, 3, 0x40, {5, 5, 5}, false, 31},
        // S5: six errors, then two retries, then S6 without a reset.
        {"V-by-One down at S5", [] { fpgaChip().setVboUp(false); }, 3, 0x80, {8}, false, 31},
        // T0: twenty reads without the link lock reset FPGA 0; the count goes on after it.
        {"link not locked at T0", [] { fpgaChip().setLinkLocked(false); }, 2, 0x08, {20, 20}, true, 11},
    };
    for (const RetryCase& c : cases) {
        SCOPED_TRACE(c.name);
        fpgaChip().reset();
        fpga->hold_in_reset(0);
        tick(202); // released: a fresh bring-up
        fpgaChip().clearLog();
        resetEdges.clear();
        fpgaChip().setTickSource([] { return G_timeTicks.load(); });
        c.fault();
        auto stepReads = [&] {
            std::vector<uint32_t> ticks;
            bool inStep = false;
            for (const FpgaChip::Access& a : fpgaChip().log()) {
                if (a.kind == K::RegisterWrite && (a.address == 2 || a.address == 3 || a.address == 23))
                    inStep = a.address == c.startReg && a.mask == c.startMask;
                else if ((a.kind == K::RegisterRead && a.address == 31) || (a.kind == K::RamRead && a.address == 116))
                    inStep = false;
                else if (inStep && a.kind == K::RegisterRead && a.address == 22)
                    ticks.push_back(a.tick);
            }
            return ticks;
        };
        size_t total = 0;
        for (int n : c.reads)
            total += size_t(n);
        const size_t endResets = 2 * (c.reads.size() - (c.lastEndsInReset ? 0 : 1));
        ASSERT_TRUE(runUntil([&] { return stepReads().size() >= total && resetEdges.size() >= endResets; }, 6000))
            << stepReads().size() << " reads, " << resetEdges.size() << " reset edges";
        if (!c.lastEndsInReset) {
            ASSERT_TRUE(runUntilUp(4000));
        }
        const std::vector<uint32_t> ticks = stepReads();
        ASSERT_GE(ticks.size(), total);
        size_t at = 0;
        for (size_t round = 0; round < c.reads.size(); ++round) {
            for (int i = 1; i < c.reads[round]; ++i, ++at)
                EXPECT_EQ(ticks[at + 1] - ticks[at], c.spacing) << "round " << round << " read " << i;
            const uint32_t last = ticks[at++];
            if (round + 1 < c.reads.size() || c.lastEndsInReset) {
                ASSERT_GE(resetEdges.size(), 2 * round + 2);
                EXPECT_EQ(resetEdges[2 * round].first, last) << "reset at the last read of round " << round;
                EXPECT_EQ(resetEdges[2 * round].second, 0);
                EXPECT_EQ(resetEdges[2 * round + 1].first - last, 201u) << "released 201 ticks later";
                if (at < ticks.size()) {
                    EXPECT_GT(ticks[at] - last, 201u) << "the next round follows a new bring-up";
                }
            } else {
                EXPECT_EQ(resetEdges.size(), 2 * round) << "the last round ends without a reset";
                EXPECT_EQ(ticks.size(), total) << "no read after the last round";
            }
        }
        fpgaChip().setTickSource(nullptr);
        fpgaChip().setVboErrorReads(0);
        fpgaChip().setVboUp(true);
        fpgaChip().setLinkLocked(true);
    }
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
    ASSERT_TRUE(fpgaChip().pictureOut());
    fpgaChip().setTickSource([] { return G_timeTicks.load(); });
    fpgaChip().clearLog();
    setLedPara(1);
    tick();
    EXPECT_FALSE(fpgaChip().pictureOut()) << "blanked";
    ASSERT_TRUE(runUntil([] { return g_set_led_para == 0; }, 100));
    const uint32_t end = G_timeTicks.load();
    uint32_t blank = 0, output = 0;
    for (const FpgaChip::Access& a : fpgaChip().log()) {
        if (a.kind == K::RegisterWrite && a.address == 0 && a.mask == 0x04 && (a.data[0] & 0x04))
            blank = a.tick;
        if (a.kind == K::RegisterWrite && a.address == 3 && a.mask == 0x20 && !(a.data[0] & 0x20))
            output = a.tick;
    }
    ASSERT_NE(blank, 0u);
    ASSERT_NE(output, 0u);
    EXPECT_EQ(output - blank, 11u) << "output off 11 ticks after the blank";
    EXPECT_EQ(end - output, 31u) << "the step ends 31 ticks later";
    EXPECT_EQ(resets, 0);
}

TEST_F(FpgaWorker, ScalerHandOverResetsFpga0AndItComesUpAgain)
{
    ASSERT_TRUE(runUntilUp());
    setLedPara(2);
    tick();
    EXPECT_EQ(g_set_led_para, 0);
    EXPECT_EQ(resets, 1);
    // Held in reset the state byte still says 3; the status must not, or a new LED-parameter
    // hand-over would start that no pass serves.
    EXPECT_EQ(fpga->reg_cached(0, FpgaReg::State), FpgaReg::StateUp);
    EXPECT_EQ(fpga->get_fpga_status(), 0);
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
    EXPECT_EQ(bankU16(1, 8), 10);
    EXPECT_EQ(bankU16(1, 10), 20);
    EXPECT_NE(fpgaChip().registerValue(0) & 0x04, 0);
}

// A writer raises the request again while the worker applies the first one: the second change
// must not be lost when the first apply ends.
struct ApplyCase {
    const char* name;
    std::atomic<uint8_t> fpga_manage::*request;
    FpgaChip::Access::Kind kind;
    int bank, address;
};
const ApplyCase kApplyCases[] = {
    {"LCD offset", &fpga_manage::lcd_request, K::RamWrite, 1, 0},
    {"output on/off", &fpga_manage::onoff_request, K::RegisterWrite, 0, 0},
    {"brightness", &fpga_manage::bri_request, K::RegisterWrite, 0, FpgaReg::Brightness},
};

TEST_F(FpgaWorker, RequestRaisedWhileItsApplyRunsIsServedAgain)
{
    fpgaChip().setCards(0, 1); // brightness goes out only with a linked port
    ASSERT_TRUE(runUntilUp());
    for (const ApplyCase& c : kApplyCases) {
        SCOPED_TRACE(c.name);
        int applies = 0;
        fpgaChip().setAccessHook([&](const FpgaChip::Access& a) {
            if (a.kind != c.kind || a.address != c.address || (c.kind == K::RamWrite && a.bank != c.bank))
                return;
            if (++applies == 1)
                (fpga->*c.request) = 1; // as the scaler worker would, from its own thread
        });
        fpga->*c.request = 1;
        tick();
        EXPECT_EQ(applies, 1);
        EXPECT_EQ((fpga->*c.request).load(), 1) << "the change raised during the apply waits";
        tick();
        EXPECT_EQ(applies, 2);
        EXPECT_EQ((fpga->*c.request).load(), 0);
        tick();
        EXPECT_EQ(applies, 2);
        fpgaChip().setAccessHook(nullptr);
    }
}

TEST_F(FpgaWorker, LinkWatchdogAndLinkReport)
{
    ASSERT_TRUE(runUntilUp());
    QSignalSpy spy(store, &VyrRamPara::sig_update_para);
    fpgaChip().setLinked(9, true);
    tick(2);
    ASSERT_EQ(spy.count(), 1);
    EXPECT_EQ(spy.at(0).at(0).toInt(), 11);
    EXPECT_EQ(fpga->wlan_state_word.load(), 1 << 9);

    fpgaChip().setLinkDropReads(8);
    ASSERT_TRUE(runUntil([this] { return fpga->vbo_wd_flag[0] == 1; }, 20));
    EXPECT_EQ(fpgaChip().registerValue(3) & 0xC0, 0);
    ASSERT_TRUE(runUntil([this] { return fpga->vbo_wd_flag[0] == 0; }, 40));
    EXPECT_EQ(fpgaChip().registerValue(3) & 0xC0, 0xC0);
}

// A duty is stamped with the tick it started at: ticks that come while it runs (the panel's burst,
// the clock's lock held by a shell command) do not put its next run off.
TEST_F(FpgaWorker, DutiesAreStampedWithTheTickTheyStartedAt)
{
    ASSERT_TRUE(runUntilUp());
    bool burst = false;
    fpgaChip().setAccessHook([&](const FpgaChip::Access& a) {
        if (burst && a.kind == K::RegisterRead && a.address == FpgaReg::Links) {
            burst = false;
            G_timeTicks += 5;
        }
    });
    const uint32_t start = fpga_manage::change_word(3) + fpga_manage::kWatchdogTicks;
    G_timeTicks = start - 1;
    burst = true;
    tick();
    EXPECT_FALSE(burst) << "the watchdog ran";
    EXPECT_EQ(fpga_manage::change_word(3), start);
    fpgaChip().setAccessHook(nullptr);

    const auto localTime = fpga_manage::clock;
    fpga_manage::clock = [] {
        G_timeTicks += 5; // as if the clock's lock were held by a shell command meanwhile
        return QDateTime(QDate(2026, 1, 2), QTime(3, 4, 5));
    };
    const uint32_t clockStart = readtime_ticks.load() + fpga_manage::kClockReadTicks;
    G_timeTicks = clockStart - 1;
    tick();
    fpga_manage::clock = localTime;
    EXPECT_EQ(readtime_ticks.load(), clockStart);
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
    EXPECT_EQ(c331Chip().value(0x084903, 0), 0u) << "forced colour off"; // the enable now follows the signal

    // A writer of the LED size: block and handshake, then the hand-over.
    {
        ScalerHandOver writer;
        store->setU16(0x562, 1280);
        setLedPara(1);
        writer.commit();
    }
    std::atomic<bool> applied{false};
    RaceHold waiting(RacePause::LedStepWait);
    std::thread scalerThread([&] {
        scaler->runOnce();
        applied = true;
    });
    EXPECT_TRUE(waiting.parked()) << "the scaler waits for the FPGA's blanking";
    waiting.release(); // on into its wait, which only the FPGA's step ends
    EXPECT_FALSE(applied);
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

// Without an input of at least half the LED size the output stays off; once the watch has waited
// more than 1000 ticks for one, the log says so, once.
TEST_F(FpgaWorker, LongWaitForAMatchingInputIsLoggedOnce)
{
    store->setU16(blk::kLedWidth, 4096); // the fixed input measures 1920 x 1080
    store->setU16(blk::kLedHeight, 2160);
    ASSERT_TRUE(runUntil([this] { return fpga->status_step[0].load() == StatusStep::MeasureWait; }, 1500));
    const uint32_t since = G_timeTicks.load();
    const char* line = "FPGA 0 output stays off: its input measures 1920 x 1080 at a frame period of 833333 clocks, "
                       "the LED size 4096 x 2160 needs";
    ASSERT_TRUE(runUntil([line] { return logHas(line); }, 1200));
    EXPECT_GT(G_timeTicks.load() - since, 1000u);
    EXPECT_LE(G_timeTicks.load() - since, 1000u + 71) << "at the first measurement past it";
    tick(3000);
    EXPECT_EQ(TestRoot::readFile("/data/keltoqz/log/jtcEnglneLog").count(line), 1);
    EXPECT_FALSE(fpgaChip().pictureOut());
}

// On the board FPGA 0 measures the panel the scaler programmed for the LED size: every size the
// LED page takes (up to 8188 either way, 10,485,759 pixels) in every splice mode, evenly split or
// not (the first part's width for H, height for HV and V), brings the output on.
struct BoardLed {
    uint16_t w, h, splice, split;
};

void PrintTo(const BoardLed& l, std::ostream* os)
{
    static const char* const kModes[] = {"none", "HV", "V", "H", "CP12", "CP21"};
    *os << kModes[l.splice] << ' ' << l.w << 'x' << l.h << (l.split ? " split " + std::to_string(l.split) : "");
}

class FpgaOnTheBoard : public FpgaWorker, public ::testing::WithParamInterface<BoardLed> {};

TEST_P(FpgaOnTheBoard, EveryLedSizeBringsTheOutputOn)
{
    const BoardLed& led = GetParam();
    fpgaChip().setPictureSource(platform::Sim::scalerOutput);
    store->setU16(blk::kLedWidth, led.w);
    store->setU16(blk::kLedHeight, led.h);
    store->setU16(blk::kSpliceMode, led.splice);
    store->setU16(blk::kOutput1Width, led.splice == SPLICE_H ? led.split : led.w);
    store->setU16(blk::kOutput1Height, led.splice == SPLICE_HV || led.splice == SPLICE_V ? led.split : led.h);
    c331_manage* scaler = c331_manage::instanceWithoutWorker();
    g_fpga_c331_start = 0;
    ASSERT_TRUE(runUntil([&] {
        scaler->runOnce();
        return fpga->get_fpga_status() == 1;
    }, 3000));
    EXPECT_TRUE(fpgaChip().pictureOut());
}

// Beyond channel 0 alone: H 8188 x 1280 split 100 on two pairs gives each part a pair, channel 0
// 4044 pixels; none and CP12 8001 x 1280 halve the width to 4000 pixels a channel. CP21 500 x 17991
// (a PC tool's size) grows its total to 660 x 17999, the longest frame above 50 Hz. A ribbon, H
// 20000 x 96, gives each channel of the pair 5000 pixels. 20000 x 500, which no timing holds (a
// size stored before an update), starts on the factory screen, which the block then holds.
INSTANTIATE_TEST_SUITE_P(LedSizes, FpgaOnTheBoard,
                         ::testing::Values(BoardLed{1920, 1080, SPLICE_NONE, 0}, BoardLed{3840, 2160, SPLICE_NONE, 0},
                                           BoardLed{4096, 2160, SPLICE_NONE, 0}, BoardLed{8188, 1280, SPLICE_NONE, 0},
                                           BoardLed{1280, 8188, SPLICE_NONE, 0}, BoardLed{8001, 1280, SPLICE_NONE, 0},
                                           BoardLed{1920, 1080, SPLICE_HV, 300}, BoardLed{4156, 1280, SPLICE_HV, 640},
                                           BoardLed{2302, 4518, SPLICE_V, 434}, BoardLed{3840, 2160, SPLICE_H, 1920},
                                           BoardLed{8188, 1280, SPLICE_H, 100}, BoardLed{8001, 1280, SPLICE_CP1TO2, 0},
                                           BoardLed{1280, 8188, SPLICE_CP2TO1, 0}, BoardLed{500, 17991, SPLICE_CP2TO1, 0},
                                           BoardLed{20000, 96, SPLICE_H, 10000}, BoardLed{20000, 500, SPLICE_NONE, 0}));

namespace {

// The worker's /proc/self/task entry, found by its name.
std::string workerTask()
{
    for (const QString& task : QDir(QStringLiteral("/proc/self/task")).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        std::ifstream comm("/proc/self/task/" + task.toStdString() + "/comm");
        std::string name;
        std::getline(comm, name);
        if (name == "fpga_manage")
            return task.toStdString();
    }
    return {};
}

long wakeups(const std::string& task)
{
    std::ifstream status("/proc/self/task/" + task + "/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind("voluntary_ctxt_switches:", 0) == 0)
            return std::stol(line.substr(24));
    return -1;
}

}

TEST(FpgaWorkerTiming, NamedThreadSleepsWhileIdleAndWakesForEvents)
{
    RunningFpga running;
    fpga_manage* fpga = running.fpga;
    EXPECT_TRUE(QDir(QString::fromStdString(TestRoot::path("/data/smartmapping"))).exists());
    EXPECT_TRUE(QDir(QString::fromStdString(TestRoot::path("/data/rcvrecovery"))).exists());
    const std::string worker = workerTask();
    ASSERT_FALSE(worker.empty()) << "a thread named fpga_manage";
    ASSERT_TRUE(waitFor([fpga] { return fpga->get_fpga_status() == 1; }, 60000));

    // Up and idle at the real tick: about one pass per link-watchdog period (10 ticks), from
    // once the slow tick runs and the worker has had a pass at it. Three passes within a
    // second, as long as this build needs for them; over at least a second, no more than the
    // pace allows in the time that really passed.
    running.tickEvery(20);
    const uint32_t slowFrom = G_timeTicks.load() + 2;
    ASSERT_TRUE(waitFor([&] { return TickAlarm::reached(G_timeTicks.load(), slowFrom); }, 1000));
    const long settled = wakeups(worker);
    ASSERT_TRUE(waitFor([&] { return wakeups(worker) > settled; }, 2000)) << "a pass at the slow tick";
    const long before = wakeups(worker);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_TRUE(waitFor([&] { return wakeups(worker) - before >= 3; }, 1000)) << "the periodic duties still run";
    std::this_thread::sleep_until(start + std::chrono::seconds(1));
    const long passes = wakeups(worker) - before;
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    EXPECT_LE(passes, 25 * seconds) << "an idle worker wakes about ten times a second, not every millisecond";

    // Time stands still now, and the wait's time limit is stretched: only wake() brings the next
    // pass.
    running.tickEvery(0);
    TickAlarm::setSlackMs(3600 * 1000);
    for (int i = 0; i < 20; ++i) {
        const long before = wakeups(worker);
        fpga_manage::wake();
        ASSERT_TRUE(waitFor([&] { return wakeups(worker) > before; }, 1000)) << "wake() " << i << " runs a pass";
    }

    // The link watchdog's tick comes while the worker arms its alarm (the pause widens that
    // window): the alarm alone still brings the pass at once.
    RaceHold arming(RacePause::BeforeTickAlarm);
    fpga_manage::wake();
    ASSERT_TRUE(arming.parked()) << "the worker about to arm its alarm";
    fpgaChip().clearLog();
    G_timeTicks += fpga_manage::kWatchdogTicks;
    TickAlarm::advanced(G_timeTicks.load());
    arming.release();
    const auto watchdogRead = [] {
        for (const FpgaChip::Access& a : fpgaChip().log())
            if (a.kind == FpgaChip::Access::RegisterRead && a.address == FpgaReg::Links)
                return true;
        return false;
    };
    EXPECT_TRUE(waitFor(watchdogRead, 2000)) << "the watchdog's pass";
    TickAlarm::setSlackMs(110);
    running.stop();
    EXPECT_FALSE(fpga->worker_started);
}

// A tool's recall lands between the worker's read of the black-screen word and its write-back:
// what the tool reads back afterwards is the recalled mode, blank wall included.
TEST(FpgaWorkerStart, RecallBetweenTheBlackScreenReadAndItsWriteBackStays)
{
    RunningFpga running;
    ASSERT_TRUE(waitFor([&running] { return running.fpga->get_fpga_status() == 1; }, 60000));
    VyrRamPara* store = VyrRamPara::p_vyrrampara_config;
    store->mode[3][0] = store->mode[3][1] = blk::kMarkerSaved; // mode 4 blanks the wall
    memcpy(store->mode[3] + 2, testBlock(store) + kModeBodyStart, kModeDataSize);
    blk::put16(store->mode[3] + blk::inRecord(blk::kBlackScreen), 0, 1);
    ASSERT_EQ(store->u16(blk::kBlackScreen), 0);
    RaceHold between(RacePause::BlackScreenWriteBack);
    running.fpga->onoff_request = 1;
    fpga_manage::wake();
    ASSERT_TRUE(between.parked());
    SecondWriter tool = SecondWriter::inProcess();
    ASSERT_EQ(tool.set16(blk::kCurrentMode, 4), 0);
    std::atomic<bool> written{false};
    fpgaChip().setAccessHook([&](const FpgaChip::Access& a) {
        if (a.kind == K::RegisterWrite && a.address == FpgaReg::ScreenControl)
            written = true;
    });
    between.release();
    ASSERT_TRUE(waitFor([&] { return written.load(); }, 2000)) << "the worker's register 0 write";
    fpgaChip().setAccessHook(nullptr);
    for (const auto& w : {std::pair{blk::kBlackScreen, 1}, {blk::kCurrentMode, 4}}) {
        Bytes reply;
        ASSERT_EQ(tool.request(Wire::readRam(w.first, 2), &reply), 0);
        ASSERT_EQ(reply.size(), 14u);
        EXPECT_EQ(reply[11] | reply[12] << 8, w.second) << std::hex << w.first;
    }
}

// Without its configuration flash FPGA 0 still comes up, on the default parameter image.
TEST(FpgaWorkerStart, MissingConfigFlashStillBringsFpga0Up)
{
    fpgaFlash().setAbsent(true);
    RunningFpga running;
    ASSERT_TRUE(running.fpga->worker_started);
    EXPECT_TRUE(logHas("configuration flash of FPGA 0 missing"));
    EXPECT_TRUE(waitFor([&running] { return running.fpga->get_fpga_status() == 1; }, 60000));
    running.stop();
    EXPECT_EQ(fpgaChip().ram(1, 0, 8), (std::vector<uint8_t>{0, 5, 0, 4, 0x76, 5, 0xD2, 1}));
    EXPECT_TRUE(fpgaFlash().log().empty());
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
