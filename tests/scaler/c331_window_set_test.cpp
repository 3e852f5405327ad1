// The window set end to end: window records handed over, the dispatch and the re-programming, the
// chip's output channels and the block afterwards; refused layouts, the fall-back window, the
// output word and crops.
#include "scaler_fixture.h"

#include "base/utils.h"
#include "store_face.h"

#include <QMutexLocker>
#include <chrono>
#include <functional>
#include <thread>

using namespace scaler_test;
namespace win = blk::win;
namespace crop = blk::crop;

namespace {

class WindowSet : public ScalerFixture {
protected:
    void up()
    {
        connect1080p(1); // source 2, window 0's
        bringUp();
        settle();
    }

    void put(uint32_t offset, uint16_t value) { blk::put16(testBlock(store), offset, value); }
    uint16_t get(uint32_t offset) const { return blk::get16(testBlock(store), offset); }
    void hand(std::initializer_list<std::pair<uint32_t, uint16_t>> writes)
    {
        handOver([&](VyrRamPara&) {
            for (auto [off, v] : writes)
                put(off, v);
        });
        scaler->runOnce();
    }

    // Output channel showing tile 0 of window slot w, -1 none.
    int outputOf(int w) const
    {
        for (int o = 0; o < 8; ++o)
            if (scaler->PM_WIN_NUM[o] == w && scaler->PM_AREA_NUM[o] == 0)
                return o;
        return -1;
    }

    uint32_t reg(uint32_t desc, int channel) { return c331Chip().value(desc, uint32_t(16 * channel)); }
};

}

// Bring-up shows window 0 over the panel: its output channel reads 1920 pixels and 1080 lines.
TEST_F(WindowSet, WindowZeroCoversTheCanvas)
{
    up();
    const int o = outputOf(0);
    ASSERT_GE(o, 0);
    EXPECT_EQ(reg(0x084202, o), 1920u);
    EXPECT_EQ(reg(0x084602, o), 1081u);
    EXPECT_EQ(reg(0x084002, o), uint32_t(scaler->PS_ACTHST));
    EXPECT_EQ(reg(0x082201, o), 0u);
    EXPECT_EQ(reg(0x080802, o) & 0xFF, o == 0 ? 1u : 0x11u);
}

// A layout wider than the panel area is refused whole: the chip keeps the last one, and the block
// is given back what the chip shows.
TEST_F(WindowSet, RefusedLayoutKeepsWhatIsShownAndTheBlockSaysSo)
{
    up();
    const int o = outputOf(0);
    ASSERT_GE(o, 0);
    const uint32_t area = uint32_t(scaler->pnl.och.width * scaler->pnl.och_HCnt);
    hand({{blk::window(0, win::kMirror), 1}}); // applied on its own, no rebuild
    ASSERT_EQ(reg(0x082201, o), 1u);
    const uint16_t source = get(blk::window(0, win::kSource));
    for (int sent = 1; sent <= 2; ++sent) { // refused and taken back every time it is sent
        SCOPED_TRACE(sent);
        hand({{blk::window(0, win::kX), 1}, {blk::window(0, win::kWidth), uint16_t(area)}});
        EXPECT_EQ(get(blk::window(0, win::kX)), 0);
        EXPECT_EQ(get(blk::window(0, win::kWidth)), 1920);
        EXPECT_EQ(reg(0x084202, o), 1920u);
        EXPECT_EQ(get(blk::window(0, win::kMirror)), 1) << "the mirror set since stays";
        EXPECT_EQ(reg(0x082201, o), 1u);
        hand({{blk::window(0, win::kSource), 6}}); // no such input
        EXPECT_EQ(get(blk::window(0, win::kSource)), source);
    }
    // the same area exactly is taken
    hand({{blk::window(0, win::kX), 0}, {blk::window(0, win::kWidth), uint16_t(area)}});
    EXPECT_EQ(get(blk::window(0, win::kWidth)), area);
}

// A layout that never fitted falls back to one window over the whole panel, and the block shows it.
TEST_F(WindowSet, LayoutThatNeverFittedFallsBackToTheFullPanelWindow)
{
    connect1080p(1);
    put(blk::window(0, win::kWidth), 9000);
    put(blk::window(2, win::kState), 1);
    put(blk::window(2, win::kX), 100);
    put(blk::window(2, win::kWidth), 100);
    put(blk::window(2, win::kHeight), 100);
    bringUp();
    settle();
    EXPECT_EQ(get(blk::window(0, win::kState)), 1);
    EXPECT_EQ(get(blk::window(0, win::kX)), 0);
    EXPECT_EQ(get(blk::window(0, win::kY)), 0);
    EXPECT_EQ(get(blk::window(0, win::kWidth)), 1920);
    EXPECT_EQ(get(blk::window(0, win::kHeight)), 1080);
    EXPECT_EQ(get(blk::window(2, win::kState)), 0);
    const int o = outputOf(0);
    ASSERT_GE(o, 0);
    EXPECT_EQ(reg(0x084202, o), 1920u);
    EXPECT_EQ(outputOf(1), -1) << "one window only";
}

// Every record off: the full-panel window is shown, the records stay as they are.
TEST_F(WindowSet, AllRecordsOffShowTheFullPanelWindow)
{
    up();
    hand({{blk::window(0, win::kState), 0}});
    EXPECT_EQ(get(blk::window(0, win::kState)), 0);
    const int o = outputOf(0);
    ASSERT_GE(o, 0);
    EXPECT_EQ(reg(0x084202, o), 1920u);
}

// Records 1 and 3 on, 0 and 2 off: record 3 is window slot 1, and its mirror reaches slot 1's
// output channel, not the output of a window that does not exist.
TEST_F(WindowSet, RecordsWithGapsReachTheirWindowSlots)
{
    up();
    hand({{blk::window(0, win::kState), 0},
          {blk::window(1, win::kState), 1}, {blk::window(1, win::kSource), 2},
          {blk::window(1, win::kWidth), 960}, {blk::window(1, win::kHeight), 1080},
          {blk::window(3, win::kState), 1}, {blk::window(3, win::kSource), 2},
          {blk::window(3, win::kX), 960}, {blk::window(3, win::kWidth), 960}, {blk::window(3, win::kHeight), 1080}});
    const int o1 = outputOf(1);
    ASSERT_GE(o1, 0);
    const int o0 = outputOf(0);
    ASSERT_GE(o0, 0);
    EXPECT_EQ(reg(0x082201, o1), 0u);
    hand({{blk::window(3, win::kMirror), 1}});
    EXPECT_EQ(reg(0x082201, o1), 1u) << "record 3 is slot 1";
    EXPECT_EQ(reg(0x082201, o0), 0u) << "record 1 (slot 0) unchanged";
}

// The output word of a slot without a window touches nothing; a freeze of a window that has no
// input channel writes no freeze register (a channel of -1 would hit channel 1's mode register).
TEST_F(WindowSet, OutputWordIsIgnoredWithoutAWindowOrChannel)
{
    up();
    c331Chip().clearLog();
    scaler->c331_SetWinOutput(scaler->c331_fd, 3, win::kOutFreeze | win::kOutBlack);
    scaler->c331_SetWinOutput(scaler->c331_fd, 6, win::kOutFreeze);
    scaler->c331_SetWinOutput(scaler->c331_fd, -1, win::kOutFreeze);
    EXPECT_EQ(c331Chip().transferCount(), 0u);

    const int saved = scaler->g_win_ich[0][0];
    scaler->g_win_ich[0][0] = -1;
    c331Chip().clearLog();
    scaler->c331_SetWinOutput(scaler->c331_fd, 0, win::kOutFreeze);
    EXPECT_TRUE(c331Chip().writesTo(0x000901).empty());
    scaler->g_win_ich[0][0] = saved;
}

// Freeze: on a window with a signal its capture channel holds the picture (mode 2) and is released
// (1) again; without a signal nothing freezes and the rest of the word still applies.
TEST_F(WindowSet, FreezeNeedsASignal)
{
    up();
    const int c = scaler->g_win_ich[0][0];
    ASSERT_GE(c, 0);
    hand({{blk::window(0, win::kOutput), win::kOutFreeze}});
    EXPECT_EQ(c331Chip().value(0x100901, uint32_t(16 * c)), 2u);
    hand({{blk::window(0, win::kOutput), 0}});
    EXPECT_EQ(c331Chip().value(0x100901, uint32_t(16 * c)), 1u);

    // port 1 loses its signal: freeze refused, the black bit still reaches the background
    platform::Sim::C331Chip::InputTiming none;
    c331Chip().setInput(1, none);
    {
        QMutexLocker lock(&Utils::_source_hdminfo_mutex);
        keltosource::p_kelto_source->hdminfo[c331_manage::vyrApi_GetPortDevId(1)].nosignal = 1;
    }
    settle();
    ASSERT_EQ(scaler->PI_STATE[1], 0) << "port 1 without signal";
    const int o = outputOf(0);
    ASSERT_GE(o, 0);
    hand({{blk::window(0, win::kOutput), win::kOutFreeze | win::kOutBlack}});
    // the re-programming freezes the buffers for its own switch, but releases them again
    EXPECT_EQ(c331Chip().value(0x100901, uint32_t(16 * c)), 1u) << "not held frozen";
    EXPECT_EQ(reg(0x084801, o), 1u) << "black: the background is on";
}

// Window changes handed over from two threads at once while the worker runs: the chip ends at the
// last state of the block, never at a mix of two hand-overs.
TEST(WindowSetWorker, QuickChangesFromTwoThreadsEndAtTheLastState)
{
    VyrRamPara* store = VyrRamPara::pInstance();
    keltosource::pInstance();
    {
        platform::Sim::C331Chip::InputTiming t;
        t.present = true;
        t.htotal = 2200, t.vtotal = 1125, t.hact = 1920, t.fv = 60;
        c331Chip().setInput(1, t);
        HDMI_INFO rec{};
        rec.hact = 1920, rec.hsync = 44, rec.hback = 148, rec.htt = 2200;
        rec.vact = 1080, rec.vsync = 5, rec.vback = 36, rec.vtt = 1125;
        rec.pfreq = 148.5f, rec.stable = 1;
        QMutexLocker lock(&Utils::_source_hdminfo_mutex);
        keltosource::p_kelto_source->hdminfo[c331_manage::vyrApi_GetPortDevId(1)] = rec;
    }
    c331_manage* scaler = c331_manage::pInstance();
    waitFor([] { return g_fpga_c331_start.load() != 0; }, 10000);
    ASSERT_EQ(g_fpga_c331_start.load(), 1);
    const uint32_t acthst = uint32_t(scaler->PS_ACTHST);

    constexpr int kRounds = 150;
    auto writer = [&](std::function<void(int)> change) {
        for (int i = 0; i < kRounds; ++i) {
            ScalerHandOver h;
            change(i);
            h.commit(1);
            if (i % 8 == 0)
                std::this_thread::sleep_for(std::chrono::microseconds(200));
        }
    };
    // the page moves and sizes window 0, the protocol mirrors it
    std::thread page(writer, [&](int i) {
        store->setU16(blk::window(0, win::kX), uint16_t(i % 2 ? 100 : 40));
        store->setU16(blk::window(0, win::kWidth), uint16_t(i % 2 ? 1280 : 960));
    });
    std::thread protocol(writer, [&](int i) { store->setU16(blk::window(0, win::kMirror), uint16_t((i + 2) % 4)); });
    page.join();
    protocol.join();
    // last state: x 100, width 1280, mirror 3 (both)
    ASSERT_TRUE(waitFor([&] { return scaler->change_flag.load() == 0; }, 10000));
    ASSERT_TRUE(parkWorker(scaler)); // the last change has been applied whole

    int o = -1;
    for (int k = 0; k < 8 && o < 0; ++k)
        if (c331Chip().value(0x084202, uint32_t(16 * k)) == 1280u)
            o = k;
    ASSERT_GE(o, 0) << "an output channel shows 1280 pixels";
    EXPECT_EQ(c331Chip().value(0x084002, uint32_t(16 * o)), 100 + acthst);
    EXPECT_EQ(c331Chip().value(0x082201, uint32_t(16 * o)), 1u);
    EXPECT_EQ(c331Chip().value(0x163001, uint32_t(16 * o)), 0x100u - uint32_t(c331in::kDefaultUnits)) << "vertical mirror";
    EXPECT_EQ(c331Chip().violations(), std::vector<std::string>{});
}

// A source switch with the switch effect fades the window out and in again (fade lengths of the
// block, each step one output frame) and ends; with another window moving in the same
// re-programming there is no fade, the pictures are frozen instead.
TEST_F(WindowSet, SourceSwitchFadesOutAndInAndEnds)
{
    connect1080p(0); // source 3
    up();
    hand({{blk::window(0, win::kOutput), win::kOutEffect}, {blk::fadeIn(0), 5}, {blk::fadeOut(0), 7}});
    c331Chip().clearLog();
    hand({{blk::window(0, win::kSource), 3}});
    // each ramp step ends with 0xA9 / 0xCB (the routing update also writes 255 there)
    auto rampSteps = [] {
        size_t n = 0;
        for (const auto& t : c331Chip().writesTo(0x002301))
            n += t.value == 0xCB;
        return n;
    };
    EXPECT_EQ(rampSteps(), 8u + 6u) << "fade out 7 + 1 steps, fade in 5 + 1 steps";
    EXPECT_EQ(c331Chip().value(0x002901), 0u) << "no update left pending";
    EXPECT_EQ(scaler->PM_INPUT[0], 0) << "now port 0";

    // a fade length beyond the bound is clamped
    hand({{blk::fadeIn(0), 60000}, {blk::fadeOut(0), 0}});
    c331Chip().clearLog();
    hand({{blk::window(0, win::kSource), 2}});
    EXPECT_EQ(rampSteps(), 1u + size_t(c331_manage::kMaxFadeSteps) + 1);

    // another window moving in the same re-programming: freeze, no fade
    const int c = scaler->g_win_ich[0][0];
    ASSERT_GE(c, 0);
    scaler->g_chg_input[0] = 1;
    scaler->g_chg_geometry[1] = 1;
    c331Chip().clearLog();
    scaler->set_output(scaler->c331_fd);
    EXPECT_EQ(rampSteps(), 0u);
    bool frozen = false;
    for (const auto& t : c331Chip().writesTo(0x100901, uint32_t(16 * c)))
        frozen |= t.value == 2;
    EXPECT_TRUE(frozen);

    // freeze and the switch effect in one word: the picture holds, and the next switch fades
    hand({{blk::window(0, win::kOutput), 0}, {blk::fadeIn(0), 0}, {blk::fadeOut(0), 0}});
    hand({{blk::window(0, win::kOutput), win::kOutFreeze | win::kOutEffect}});
    EXPECT_EQ(c331Chip().value(0x100901, uint32_t(16 * scaler->g_win_ich[0][0])), 2u);
    c331Chip().clearLog();
    hand({{blk::window(0, win::kSource), 3}});
    EXPECT_EQ(rampSteps(), 2u) << "one step out, one in";
}

// The worker's upkeep after the chip measured a new timing on a window's port (1080p60 to 50 Hz,
// the input manager's record unchanged): the window is re-programmed once, frozen and not faded
// even with the switch effect on; the pass after it re-programs nothing, also when the port's
// record is no longer stable and the measurement skips the port.
struct Upkeep {
    const char* name;
    bool recordUnstableAfter;
    size_t nextPassWrites; // the measurement's freeze and release of the port only
};

const Upkeep kUpkeeps[] = {
    {"RecordStaysStable", false, 2},
    {"RecordUnstableAfter", true, 0},
};

void PrintTo(const Upkeep& u, std::ostream* os) { *os << u.name; }

class WindowUpkeep : public WindowSet, public ::testing::WithParamInterface<Upkeep> {};

TEST_P(WindowUpkeep, PortTimingChangeReprogramsTheWindowOnceWithoutAFade)
{
    const Upkeep& u = GetParam();
    up();
    hand({{blk::window(0, win::kOutput), win::kOutEffect}, {blk::fadeIn(0), 5}, {blk::fadeOut(0), 7}});
    scaler->runOnce();
    const int c = scaler->g_win_ich[0][0];
    ASSERT_GE(c, 0);
    platform::Sim::C331Chip::InputTiming t;
    t.present = true;
    t.htotal = 2200, t.vtotal = 1125, t.hact = 1920, t.fv = 50;
    c331Chip().setInput(1, t);
    c331Chip().clearLog();
    scaler->runOnce();
    size_t ramp = 0, freezes = 0;
    for (const auto& w : c331Chip().writesTo(0x002301))
        ramp += w.value == 0xCB;
    for (const auto& w : c331Chip().writesTo(0x100901, uint32_t(16 * c)))
        freezes += w.value == 2;
    EXPECT_EQ(ramp, 0u) << "no fade for a timing change";
    EXPECT_EQ(freezes, 1u) << "re-programmed once, frozen";
    EXPECT_EQ(c331Chip().value(0x002901), 0u);

    if (u.recordUnstableAfter) {
        QMutexLocker lock(&Utils::_source_hdminfo_mutex);
        keltosource::p_kelto_source->hdminfo[c331_manage::vyrApi_GetPortDevId(1)].stable = 0;
    }
    c331Chip().clearLog();
    scaler->runOnce();
    size_t writes = 0;
    for (const auto& w : c331Chip().log())
        writes += w.kind == platform::Sim::C331Chip::Transfer::Write;
    EXPECT_EQ(writes, u.nextPassWrites);
}

INSTANTIATE_TEST_SUITE_P(Records, WindowUpkeep, ::testing::ValuesIn(kUpkeeps),
                         [](const ::testing::TestParamInfo<Upkeep>& info) { return std::string(info.param.name); });
