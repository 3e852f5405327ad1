// Test patterns on window 0's output channels: the generator registers each pattern sets, the
// phase by channel and window width, and a pattern refused with two windows on.
#include "scaler_fixture.h"
#include "store_face.h"

#include <array>
#include <map>

using namespace scaler_test;

namespace {

constexpr uint32_t kMode = 0x085701, kPhase = 0x085B02;
const uint32_t kGenerator[] = {0x085701, 0x085801, 0x085901, 0x085A01, 0x085B02, 0x085D02, 0x085F02,
                               0x086102, 0x086301, 0x086401, 0x086501, 0x086601, 0x086701, 0x086801};

using Regs = std::map<uint32_t, uint32_t>; // generator register -> value; absent = 0

Regs withColour(Regs r, uint32_t red, uint32_t green, uint32_t blue, uint32_t scale = 3)
{
    r[0x086301] = red, r[0x086401] = green, r[0x086501] = blue;
    r[0x086601] = r[0x086701] = r[0x086801] = scale;
    for (auto it = r.begin(); it != r.end();)
        it = it->second == 0 ? r.erase(it) : std::next(it); // a zero reads as the cleared register
    return r;
}

class Pattern : public ScalerFixture {
protected:
    void SetUp() override
    {
        ScalerFixture::SetUp();
        bringUp();
    }

    // Window 0 alone, `width` wide, on the given output channels.
    void window0(uint16_t width, std::initializer_list<uint8_t> channels)
    {
        scaler->wincnt = 1;
        ST_WIN_INFO& info = scaler->gWininfo[0];
        info.x = info.y = 0;
        info.w = width;
        info.h = 1080;
        std::fill(std::begin(info.ochPosLst), std::end(info.ochPosLst), 255);
        int m = 0;
        for (uint8_t c : channels)
            info.ochPosLst[m++] = c;
        info.ochHCnt = uint8_t(channels.size());
        info.ochVCnt = 1;
    }

    void dirtyGenerators()
    {
        for (uint32_t n = 0; n < 8; ++n)
            for (uint32_t d : kGenerator)
                preset(d, 0x77, 16 * n);
    }

    Regs generator(uint32_t channel)
    {
        Regs r;
        for (uint32_t d : kGenerator)
            if (uint32_t v = c331Chip().value(d, 16 * channel))
                r[d] = v;
        return r;
    }
};

}

TEST_F(Pattern, EachPatternSetsItsGeneratorRegistersOnWindow0sChannels)
{
    struct Row {
        int pattern;
        Regs first;  // the first channel of the window
        Regs others; // the second one
    };
    const Regs solid = {{kMode, 4}};
    const Row rows[] = {
        {1, withColour(solid, 255, 0, 0), withColour({{kMode, 4}, {kPhase, 3}}, 255, 0, 0)},
        {2, withColour(solid, 0, 255, 0), withColour({{kMode, 4}, {kPhase, 3}}, 0, 255, 0)},
        {3, withColour(solid, 0, 0, 255), withColour({{kMode, 4}, {kPhase, 3}}, 0, 0, 255)},
        {4, withColour(solid, 255, 255, 255), withColour({{kMode, 4}, {kPhase, 3}}, 255, 255, 255)},
        {5, withColour(solid, 0, 0, 0), withColour({{kMode, 4}, {kPhase, 3}}, 0, 0, 0)},
        {6, withColour({{kMode, 1}, {kPhase, 0x8000}, {0x085F02, 480}}, 255, 255, 255),
         withColour({{kMode, 1}, {kPhase, 0x8000}, {0x085F02, 480}}, 255, 255, 255)},
        {7, withColour({{kMode, 14}, {kPhase, 14}, {0x085F02, 1}}, 255, 255, 255),
         withColour({{kMode, 14}, {kPhase, 14}, {0x085F02, 1}}, 255, 255, 255)},
        {8, withColour({{kMode, 15}, {kPhase, 15}, {0x086102, 1}}, 255, 255, 255),
         withColour({{kMode, 15}, {kPhase, 15}, {0x086102, 1}}, 255, 255, 255)},
        {9, {}, {}},   // index 8: the generator stays off
        {10, {}, {}},  // index 9
        {11, withColour({{kMode, 8}, {0x085801, 48}, {kPhase, 0x8000}, {0x085F02, 32}, {0x086102, 32}}, 255, 255, 255),
         withColour({{kMode, 8}, {0x085801, 48}, {kPhase, 0x8000}, {0x085F02, 32}, {0x086102, 32}}, 255, 255, 255)},
        {15, {{kMode, 3}, {0x085901, 1}, {kPhase, 0x8000}, {0x085F02, 36863}, {0x086401, 120}},
         {{kMode, 3}, {0x085901, 1}, {kPhase, 0x8000}, {0x085F02, 36863}, {0x086401, 120}}},
        {18, withColour({{kMode, 9}, {kPhase, 32917}, {0x085F02, 4}, {0x086102, 3840}}, 255, 255, 255),
         withColour({{kMode, 9}, {kPhase, 32917}, {0x085F02, 4}, {0x086102, 3840}}, 255, 255, 255)},
        {20, withColour({{kMode, 3}, {0x085801, 1}, {0x085901, 1}, {0x085A01, 1}, {kPhase, 0x8000}, {0x086102, 20479}},
                        255, 255, 255),
         withColour({{kMode, 3}, {0x085801, 1}, {0x085901, 1}, {0x085A01, 1}, {kPhase, 0x8000}, {0x086102, 20479}},
                    255, 255, 255)},
        {21, withColour(solid, 255, 0, 0), withColour({{kMode, 4}, {kPhase, 3}}, 255, 0, 0)}, // as 1
    };
    window0(1920, {2, 5});
    for (const Row& row : rows) {
        SCOPED_TRACE(row.pattern);
        dirtyGenerators();
        EXPECT_EQ(scaler->c331_SetPattern(row.pattern), 0);
        EXPECT_EQ(generator(2), row.first);
        EXPECT_EQ(generator(5), row.others);
        for (uint32_t n : {0u, 1u, 3u, 4u, 6u, 7u})
            EXPECT_EQ(c331Chip().value(kMode, 16 * n), 0x77u) << "channel " << n << " is not window 0's";
        EXPECT_EQ(scaler->vyrApi_IsPatternGen(), true);
    }
}

TEST_F(Pattern, AWindowWiderThan2048GivesTheWidePhaseOnEveryChannel)
{
    for (int p : {1, 5, 7, 8}) {
        SCOPED_TRACE(p);
        window0(2049, {0, 1, 2});
        scaler->c331_SetPattern(p);
        for (uint32_t n = 0; n < 3; ++n)
            EXPECT_EQ(c331Chip().value(kPhase, 16 * n), 0x8000u) << "channel " << n;
        window0(2048, {0, 1, 2});
        scaler->c331_SetPattern(p);
        EXPECT_NE(c331Chip().value(kPhase, 16 * 2), 0x8000u) << "2048 is not wide";
    }
}

TEST_F(Pattern, PatternOffClearsTheGeneratorAndLetsTheUpkeepRunAgain)
{
    window0(1920, {0});
    scaler->c331_SetPattern(6);
    scaler->call_log.clear();
    scaler->runOnce();
    EXPECT_EQ(scaler->call_log.calls(), std::vector<std::string>{}) << "upkeep paused while a pattern shows";
    dirtyGenerators();
    EXPECT_EQ(scaler->c331_SetPattern(0), 0);
    EXPECT_EQ(generator(0), Regs{});
    EXPECT_FALSE(scaler->vyrApi_IsPatternGen());
    scaler->call_log.clear();
    scaler->runOnce();
    EXPECT_NE(scaler->call_log.calls(), std::vector<std::string>{});
}

TEST_F(Pattern, TwoWindowsRefuseThePatternAndTheBlockKeepsItsValue)
{
    // Through the dispatch, as the test-pattern page hands it over.
    handOver([](VyrRamPara& s) {
        for (int w = 0; w < 6; ++w)
            blk::put16(testBlock(&s), blk::window(w, blk::win::kState), w < 2);
        testBlock(&s)[blk::kTestPattern] = 0;
    });
    scaler->runOnce();
    const auto before = c331Chip().snapshot();
    handOver([](VyrRamPara& s) { testBlock(&s)[blk::kTestPattern] = 3; });
    scaler->runOnce();
    for (uint32_t n = 0; n < 8; ++n)
        EXPECT_TRUE(c331Chip().writesTo(kMode, 16 * n).empty() || c331Chip().value(kMode, 16 * n) == 0) << n;
    for (const std::string& d : c331Chip().diff(before))
        EXPECT_NE(d.substr(3, 2), "57") << "no generator register changed: " << d;
    PosixLock lock(scaler->c331_mutex);
    EXPECT_EQ(testBlock(store)[blk::kTestPattern], 0) << "the refused pattern is taken back out";
    EXPECT_FALSE(scaler->vyrApi_IsPatternGen());
}

// The pattern step through the dispatch, with LED size changes made as the LED size page makes
// them (panel and output size, window 0 over the new canvas): the generator mode (08:57) of every
// output channel afterwards. At 7680 x 1365 window 0 spans channels 0 and 1, at 1920 x 1080 only 0.
namespace {

struct PatternStepChange {
    int pattern;         // -1: left as it is
    uint16_t ledW, ledH; // 0: left as it is
};

struct PatternStepRow {
    const char* name;
    std::vector<PatternStepChange> changes; // one hand-over each
    std::array<uint32_t, 8> mode;           // 08:57 of channels 0-7 afterwards
    uint8_t blockPattern;                   // block byte 0x360 afterwards
};

const PatternStepRow kPatternSteps[] = {
    {"OnThenWider", {{3, 0, 0}, {-1, 7680, 1365}}, {4, 4, 0, 0, 0, 0, 0, 0}, 3},
    {"OnWithTheWiderSize", {{3, 7680, 1365}}, {4, 4, 0, 0, 0, 0, 0, 0}, 3},
    {"OnThenNarrower", {{-1, 7680, 1365}, {3, 0, 0}, {-1, 1920, 1080}}, {4, 0, 0, 0, 0, 0, 0, 0}, 3},
    {"OffAfterNarrowerThenWider", {{-1, 7680, 1365}, {3, 0, 0}, {-1, 1920, 1080}, {0, 0, 0}, {-1, 7680, 1365}},
     {0, 0, 0, 0, 0, 0, 0, 0}, 0},
    {"RefusedSizeKeepsThePattern", {{3, 0, 0}, {-1, 8000, 2000}}, {4, 0, 0, 0, 0, 0, 0, 0}, 3},
    {"ColourBarThenWider", {{6, 0, 0}, {-1, 7680, 1365}}, {1, 1, 0, 0, 0, 0, 0, 0}, 6},
};

void PrintTo(const PatternStepRow& r, std::ostream* os) { *os << r.name; }

class PatternStep : public ScalerFixture, public ::testing::WithParamInterface<PatternStepRow> {};

}

TEST_P(PatternStep, GeneratorModeOnEveryChannelOfWindow0)
{
    const PatternStepRow& row = GetParam();
    g_force_bkcolor = 2;
    bringUp();
    settle();
    for (const PatternStepChange& c : row.changes) {
        handOver([&](VyrRamPara& s) {
            if (c.pattern >= 0)
                testBlock(&s)[blk::kTestPattern] = uint8_t(c.pattern);
            if (c.ledW) {
                for (auto [f, v] : {std::pair<uint32_t, uint16_t>{blk::kLedWidth, c.ledW}, {blk::kLedHeight, c.ledH},
                                    {blk::kOutput1Width, c.ledW}, {blk::kOutput1Height, c.ledH},
                                    {blk::window(0, blk::win::kX), 0}, {blk::window(0, blk::win::kY), 0},
                                    {blk::window(0, blk::win::kWidth), c.ledW}, {blk::window(0, blk::win::kHeight), c.ledH}})
                    s.setU16(f, v);
            }
        });
        scaler->runOnce();
    }
    std::array<uint32_t, 8> mode{};
    for (uint32_t n = 0; n < 8; ++n)
        mode[n] = c331Chip().value(kMode, 16 * n);
    EXPECT_EQ(mode, row.mode);
    PosixLock lock(scaler->c331_mutex);
    EXPECT_EQ(testBlock(store)[blk::kTestPattern], row.blockPattern);
    EXPECT_EQ(scaler->vyrApi_IsPatternGen(), row.blockPattern != 0);
}

INSTANTIATE_TEST_SUITE_P(Changes, PatternStep, ::testing::ValuesIn(kPatternSteps),
                         [](const ::testing::TestParamInfo<PatternStepRow>& info) { return std::string(info.param.name); });
