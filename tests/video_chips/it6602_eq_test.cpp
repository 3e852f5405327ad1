#include "it6602_fixture.h"

#include "base/delay.h"
#include "time_limit.h"

#include <gtest/gtest.h>

#include <chrono>
#include <vector>

// The receivers' equaliser search, link resets and port events, seen through the simulated
// receivers' registers and write logs.
namespace {

using namespace it6602_test;

class It6602Eq : public It6602Fixture {
protected:
    // A live 1080p60 source on port 0, picture on, logs cleared.
    void live(int r)
    {
        chip(r).connect(P1080p60);
        select(r);
        ASSERT_EQ(drv_.IT6602_fsm_init(fd_, r), 1);
        drv_.IT6602_fsm_init_1(fd_, r);
        run(r, 4);
        ASSERT_EQ(drv_.get_IT6602_dev_data(r)->videoState, VSTATE_VideoOn);
        chip(r).clearLog();
    }
};

struct SearchCase {
    const char* name;
    uint8_t errors[3]; // per pass at values FF, 9F, 83
    uint8_t kept;
};

TEST_F(It6602Eq, SearchTriesTheThreeValuesAndKeepsTheOneWithFewestErrors)
{
    const SearchCase cases[] = {
        {"clean link keeps the last", {0, 0, 0}, 0x83},
        {"last no worse than the best", {1, 2, 1}, 0x83},
        {"first best", {1, 2, 5}, 0xFF},
        {"second best", {3, 1, 2}, 0x9F},
        // value FF is measured three times as long: 2 per pass is 20 per ten passes, not 60
        {"first window weighed like the others", {2, 3, 3}, 0xFF},
        // 260 errors must not wrap to 4 and win
        {"counts saturate", {1, 26, 20}, 0xFF},
    };
    int r = 0;
    for (const SearchCase& c : cases) {
        SCOPED_TRACE(c.name);
        live(r);
        for (int v = 0; v < 3; ++v)
            chip(r).setLinkErrors(0, kelto_it6602::IT6602EQTable[v], c.errors[v]);
        chip(r).raiseEq(0x10); // amplitude check and search start on port 0
        run(r, 30);
        EXPECT_TRUE(values(r, 0, 0x27).empty()); // steps 0-29: nothing written yet
        run(r, 1);
        EXPECT_EQ(values(r, 0, 0x27), std::vector<uint8_t>{0xFF});
        run(r, 51);
        EXPECT_EQ(values(r, 0, 0x27), (std::vector<uint8_t>{0xFF, 0x9F, 0x83, c.kept}));
        EXPECT_EQ(chip(r).reg(0, 0x26) & 0x20, 0x20); // manual value in force
        EXPECT_EQ(chip(r).writesTo(0, 0xB3).size(), 60u); // counters read and restarted in steps 20-79
        EXPECT_EQ(chip(r).writesTo(0, 0xB6).size(), 60u);
        run(r, 20);
        EXPECT_EQ(values(r, 0, 0x27).size(), 4u); // the run is over
        r = (r + 1) % 4;
        if (r == 0)
            i2cBoard().reset();
    }
}

struct CheckCase {
    const char* name;
    bool sync;
    uint8_t symbols;
    bool forced, abandoned;
};

TEST_F(It6602Eq, FirstTwentyStepsCheckSyncAndSymbolErrors)
{
    const CheckCase cases[] = {
        {"good link", true, 0, false, false},
        {"no sync", false, 0, true, false},
        {"one channel in error", true, 0x02, true, false},
        {"all three channels in error", true, 0x07, true, true},
    };
    int r = 0;
    for (const CheckCase& c : cases) {
        SCOPED_TRACE(c.name);
        live(r);
        if (!c.sync)
            chip(r).poke(0, 0x0A, 0x09); // power and clock, no sync, no interrupt
        chip(r).setSymbolErrors(0, c.symbols);
        chip(r).raiseEq(0x10);
        run(r, 3);
        // the third bad check forces the control register, which the init table left at 0
        EXPECT_EQ(values(r, 0, 0x22), c.forced ? std::vector<uint8_t>{0x3F} : std::vector<uint8_t>{});
        run(r, 100);
        EXPECT_EQ(values(r, 0, 0x22).size(), c.forced ? 1u : 0u); // it no longer reads 0
        EXPECT_EQ(values(r, 0, 0x27).size(), c.abandoned ? 0u : 4u);
        EXPECT_EQ(chip(r).writesTo(0, 0xB3).size(), c.abandoned ? 0u : 60u);
        r = (r + 1) % 4;
    }
    // an abandoned run is over: the next start runs a full search
    chip(3).setSymbolErrors(0, 0);
    chip(3).clearLog();
    chip(3).raiseEq(0x10);
    run(3, 82);
    EXPECT_EQ(values(3, 0, 0x27).size(), 4u);
}

TEST_F(It6602Eq, UnselectedPortSkipsTheSyncChecks)
{
    live(1);
    chip(1).poke(0, 0x0B, 0x09); // a stable clock on port 1
    chip(1).poke(0, 0x06, 0x02); // and its clock-stable interrupt: the TMDS check starts a search
    run(1, 9);
    EXPECT_TRUE(values(1, 0, 0x3F).empty());
    run(1, 1); // step 21 + 9 passes = step 30
    EXPECT_EQ(values(1, 0, 0x3F), std::vector<uint8_t>{0xFF});
    EXPECT_EQ(chip(1).reg(0, 0x3E) & 0x20, 0x20);
    run(1, 60);
    EXPECT_EQ(values(1, 0, 0x3F).size(), 4u);
    EXPECT_TRUE(values(1, 0, 0x27).empty()); // port 0 untouched
    EXPECT_EQ(drv_.get_IT6602_dev_data(1)->videoState, VSTATE_VideoOn);
}

TEST_F(It6602Eq, MeasuredAmplitudesReplaceAValueThatDidNotTake)
{
    live(0);
    chip(0).setAmplitudes(0, 0x80 | 0x12, 0x80 | 0x15, 0x05); // third channel without a valid reading
    chip(0).raiseEq(0x10);
    run(0, 80);
    ASSERT_EQ(values(0, 0, 0x27).size(), 3u);
    chip(0).poke(0, 0x27, 0x1F); // the value register lost the table value
    chip(0).clearLog();
    run(0, 1);
    EXPECT_EQ(values(0, 0, 0x27), std::vector<uint8_t>{0x12});
    EXPECT_EQ(values(0, 0, 0x28), std::vector<uint8_t>{0x15});
    EXPECT_TRUE(values(0, 0, 0x29).empty());
    // with a value written, a clock-on event arms nothing
    chip(0).clearLog();
    chip(0).poke(0, 0x05, 0x08);
    run(0, 40);
    EXPECT_TRUE(values(0, 0, 0x22).empty());
    EXPECT_TRUE(values(0, 0, 0x27).empty());

    // a source pulled and another plugged: the old readings are not the new source's
    chip(0).disconnect();
    run(0, 2);
    chip(0).connect(P1080p60);
    run(0, 4);
    chip(0).raiseEq(0x20); // a failure without a new amplitude reading restarts the search
    run(0, 80);
    chip(0).poke(0, 0x27, 0x1F);
    chip(0).clearLog();
    run(0, 1);
    EXPECT_TRUE(values(0, 0, 0x27).empty());
    EXPECT_TRUE(values(0, 0, 0x28).empty());
}

TEST_F(It6602Eq, ClockOnEventStartsTheSearchThreePassesLaterOnlyWithAStableClock)
{
    for (bool stable : {true, false}) {
        SCOPED_TRACE(stable);
        const int r = stable ? 0 : 1;
        live(r);
        if (!stable)
            chip(r).poke(0, 0x0A, 0x81);
        chip(r).poke(0, 0x05, 0x10);
        run(r, 1);
        EXPECT_EQ(values(r, 0, 0x22), std::vector<uint8_t>{0x00});
        run(r, 32); // armed 3 passes, then steps 0-29
        EXPECT_TRUE(values(r, 0, 0x27).empty());
        run(r, 1);
        EXPECT_EQ(values(r, 0, 0x27).size(), stable ? 1u : 0u);
    }
}

TEST_F(It6602Eq, EqFailuresTogglePort1ClockPolarityThenRestartTheSearch)
{
    live(2);
    const uint8_t before = chip(2).reg(0, 0x49);
    for (int i = 0; i < 16; ++i) {
        chip(2).raiseEq(0x80);
        run(2, 1);
    }
    const auto toggles = values(2, 0, 0x49);
    ASSERT_EQ(toggles.size(), 16u);
    for (size_t i = 0; i < toggles.size(); ++i)
        EXPECT_EQ(toggles[i], uint8_t(before ^ (i % 2 == 0 ? 0x80 : 0x00))) << i;
    EXPECT_TRUE(values(2, 0, 0x3F).empty());
    chip(2).raiseEq(0x80); // the seventeenth restarts port 1's search at step 21
    run(2, 9);
    EXPECT_EQ(values(2, 0, 0x49).size(), 16u);
    EXPECT_TRUE(values(2, 0, 0x3F).empty());
    run(2, 1);
    EXPECT_EQ(values(2, 0, 0x3F), std::vector<uint8_t>{0xFF});
    // a failure while the search runs changes nothing
    chip(2).raiseEq(0x80);
    run(2, 1);
    EXPECT_EQ(values(2, 0, 0x49).size(), 16u);

    // port 0: no polarity to try, the search starts over at once
    chip(2).clearLog();
    chip(2).raiseEq(0x20);
    run(2, 31);
    EXPECT_EQ(values(2, 0, 0x27), std::vector<uint8_t>{0xFF});
    EXPECT_TRUE(values(2, 0, 0x49).empty());
}

// (bank, register, value) of the hot-plug line and the port resets, in write order
std::vector<std::vector<int>> linkWrites(It6602Chip& chip)
{
    std::vector<std::vector<int>> out;
    for (const auto& w : chip.writes())
        if ((w.bank == 1 && w.address == 0xB0) || (w.bank == 0 && (w.address == 0x11 || w.address == 0x18)))
            out.push_back({w.bank, w.address, w.value});
    return out;
}

TEST_F(It6602Eq, TwentySecondEccErrorResetsThePortLinkBehindAHotPlugDrop)
{
    live(0);
    for (int i = 0; i < 21; ++i) {
        chip(0).poke(0, 0x05, 0x40);
        run(0, 1);
    }
    EXPECT_TRUE(linkWrites(chip(0)).empty());
    chip(0).poke(0, 0x05, 0x40);
    run(0, 1);
    const std::vector<std::vector<int>> port0 = {{1, 0xB0, 0x01}, {0, 0x11, 0xAF}, {0, 0x11, 0xA0}, {1, 0xB0, 0x03}};
    EXPECT_EQ(linkWrites(chip(0)), port0);

    // bit 7 starts the count over
    chip(0).clearLog();
    for (int i = 0; i < 21; ++i) {
        chip(0).poke(0, 0x05, 0x40);
        run(0, 1);
    }
    chip(0).poke(0, 0x05, 0x80);
    run(0, 1);
    chip(0).poke(0, 0x05, 0x40);
    run(0, 1);
    EXPECT_TRUE(linkWrites(chip(0)).empty());

    // port 1: its own reset register; its hot-plug line is not wired
    chip(0).clearLog();
    for (int i = 0; i < 22; ++i) {
        chip(0).poke(0, 0x06, 0x40);
        run(0, 1);
    }
    const std::vector<std::vector<int>> port1 = {{0, 0x18, 0xAF}, {0, 0x18, 0xA0}};
    EXPECT_EQ(linkWrites(chip(0)), port1);

    // not while the port's equaliser search runs
    chip(0).clearLog();
    chip(0).raiseEq(0x10);
    for (int i = 0; i < 30; ++i) {
        chip(0).poke(0, 0x05, 0x40);
        run(0, 1);
    }
    EXPECT_TRUE(linkWrites(chip(0)).empty());
}

TEST_F(It6602Eq, PowerAndClockWithoutSyncResetTheLinkAndRestartTheSearch)
{
    live(0);
    chip(0).poke(0, 0x0A, 0x09); // sync lost, power and clock still there
    chip(0).poke(0, 0x07, 0x02);
    run(0, 21);
    EXPECT_EQ(drv_.get_IT6602_dev_data(0)->videoState, VSTATE_SyncWait);
    EXPECT_TRUE(values(0, 0, 0x11).empty());
    run(0, 1);
    EXPECT_EQ(values(0, 0, 0x11), (std::vector<uint8_t>{0xAF, 0xA0}));
    const auto rs = values(0, 0, 0x2A);
    ASSERT_FALSE(rs.empty());
    EXPECT_EQ(rs.back() & 0x01, 0);
    run(0, 30);
    EXPECT_EQ(values(0, 0, 0x27), std::vector<uint8_t>{0xFF});
    EXPECT_EQ(values(0, 0, 0x11).size(), 2u); // no second reset while the search runs
    // without the clock nothing is counted
    live(1);
    chip(1).poke(0, 0x0A, 0x01);
    chip(1).poke(0, 0x07, 0x02);
    run(1, 60);
    EXPECT_TRUE(values(1, 0, 0x11).empty());
}

TEST_F(It6602Eq, PortEventsDeskewAndReleaseTheRsOverride)
{
    live(3);
    chip(3).poke(0, 0x09, 0x20);
    run(3, 1);
    EXPECT_EQ(values(3, 0, 0x11), (std::vector<uint8_t>{0xB0, 0xA0}));
    EXPECT_TRUE(values(3, 0, 0x18).empty());
    chip(3).clearLog();
    chip(3).poke(0, 0x09, 0x40);
    run(3, 1);
    EXPECT_EQ(values(3, 0, 0x18), (std::vector<uint8_t>{0xB0, 0xA0}));
    EXPECT_EQ(values(3, 0, 0x09), (std::vector<uint8_t>{0x40, 0x20}));
    // power gone on the unselected port 1: its RS override is released, the picture stays
    chip(3).clearLog();
    chip(3).poke(0, 0x42, 0x01);
    chip(3).poke(0, 0x06, 0x01);
    run(3, 2);
    EXPECT_EQ(chip(3).reg(0, 0x42) & 0x01, 0);
    EXPECT_EQ(drv_.get_IT6602_dev_data(3)->videoState, VSTATE_VideoOn);
}

// The link reset holds the port 300 ms, through the shortenable pause.
class It6602EccTiming : public It6602Eq {};

TEST_F(It6602EccTiming, LinkResetHoldsThePortForThreeHundredMilliseconds)
{
    live(0);
    for (int i = 0; i < 21; ++i) {
        chip(0).poke(0, 0x05, 0x40);
        run(0, 1);
    }
    Delay::setScalePercent(100);
    chip(0).poke(0, 0x05, 0x40);
    const auto t0 = std::chrono::steady_clock::now();
    run(0, 1);
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - t0);
    Delay::setScalePercent(0);
    EXPECT_GE(ms.count(), 300);
    EXPECT_LT(ms, TimeLimit::of(1500));
    EXPECT_EQ(values(0, 0, 0x11), (std::vector<uint8_t>{0xAF, 0xA0}));
}

}
