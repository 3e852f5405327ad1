// Panel timing and splice: LED sizes handed over like the pages and the protocol do, checked on
// the chip's output registers and on the layout published for the FPGA, against totals worked out
// by hand from the timing rules (line budget 9,900,000 pixels, totals searched from 660 in steps of
// 4, each with the fewest lines reaching the budget).
#include "scaler_fixture.h"
#include "platform/sim/devices/fpga_chip.h"
#include "second_writer.h"
#include "test_root.h"
#include "store_face.h"

using namespace scaler_test;
using platform::Sim::C331Chip;

namespace {

constexpr uint32_t kIniDefault = 0xA00000;

struct Led {
    uint16_t w, h, out1w, out1h, splice;
};

struct ExpectedTiming {
    uint32_t htt, vtt, hsw, hfp, hbp, vsw, vfp, vbp, width, height;
};

struct Published {
    uint16_t xoffs, yoffs;
    uint8_t across, down;
    uint16_t width, height;
};

struct LedSizeRow {
    const char* what;
    uint32_t maxPixels; // the INI limit the row runs with
    Led led;
    ExpectedTiming t;
    uint32_t routing;
    Published pub;
};

// clang-format off
const LedSizeRow kRows[] = {
    {"none 1920x1080", kIniDefault, {1920, 1080, 1920, 1080, 0},
     {1940, 5104, 12, 4, 4, 3, 4, 4017, 1920, 1080}, 0x03020100, {0, 0, 1, 1, 1920, 1080}},
    {"none 7680x1440, two channel pairs", 7680 * 1440, {7680, 1440, 7680, 1440, 0},
     {3916, 2529, 12, 32, 32, 12, 32, 1045, 3840, 1440}, 0x03020100, {0, 0, 2, 1, 3840, 1440}},
    {"none 4096x2560, the INI pixel limit", kIniDefault, {4096, 2560, 4096, 2560, 0},
     {2124, 4662, 12, 32, 32, 12, 32, 2058, 2048, 2560}, 0x03020100, {0, 0, 2, 1, 2048, 2560}},
    // mode H: the channel is as tall as the LED
    {"H 3840x2160 split 1920", kIniDefault, {3840, 2160, 1920, 2160, 3},
     {1940, 5104, 12, 4, 4, 3, 4, 2937, 1920, 2160}, 0x00010000, {0, 0, 2, 1, 1920, 2160}},
    {"H 3000x1000 split 1000: the split on the grid's middle", kIniDefault, {3000, 1000, 1000, 1000, 3},
     {2020, 4901, 12, 4, 4, 3, 4, 3894, 2000, 1000}, 0x00010000, {1000, 0, 2, 1, 2000, 1000}},
    {"V 1920x2160 split 1080", kIniDefault, {1920, 2160, 1920, 1080, 2},
     {3860, 2565, 12, 4, 4, 3, 4, 1478, 3840, 1080}, 0x00010000, {0, 0, 1, 2, 3840, 1080}},
    {"HV 1920x1080 split 300: y offset", kIniDefault, {1920, 1080, 1920, 300, 1},
     {3860, 2565, 12, 4, 4, 3, 4, 1778, 3840, 780}, 0x00010000, {0, 480, 1, 2, 3840, 780}},
    {"HV 2500x4000 split 2000, two pairs", kIniDefault, {2500, 4000, 2500, 2000, 1},
     {2576, 3844, 12, 32, 32, 12, 32, 1800, 2500, 2000}, 0x00010000, {0, 0, 2, 2, 2500, 2000}},
    {"V 2500x4000 split 2000, two pairs", kIniDefault, {2500, 4000, 2500, 2000, 2},
     {2576, 3844, 12, 32, 32, 12, 32, 1800, 2500, 2000}, 0x03020100, {0, 0, 2, 2, 2500, 2000}},
    {"CP12 1920x1080", kIniDefault, {1920, 1080, 1920, 1080, 4},
     {1940, 5104, 12, 4, 4, 3, 4, 4017, 1920, 1080}, 0x00000000, {0, 0, 1, 1, 1920, 1080}},
    {"CP21 1280x1080: empty canvas, first pair of the list", kIniDefault, {1280, 1080, 1280, 1080, 5},
     {660, 15000, 12, 4, 4, 3, 4, 13913, 640, 1080}, 0x00010000, {0, 0, 1, 2, 640, 1080}},
    // no one-pair total holds 8312 + 20 pixels a line: the grid and blanking of two pairs
    {"HV 4156x1280 split 640: two pairs", kIniDefault, {4156, 1280, 4156, 640, 1},
     {4232, 2340, 12, 32, 32, 12, 32, 1656, 4156, 640}, 0x00010000, {0, 0, 2, 2, 4156, 640}},
    {"none 9000x1000: two pairs", kIniDefault, {9000, 1000, 9000, 1000, 0},
     {4576, 2164, 12, 32, 32, 12, 32, 1120, 4500, 1000}, 0x03020100, {0, 0, 2, 1, 4500, 1000}},
    {"splice 7 acts as HV", kIniDefault, {1920, 1080, 1920, 540, 7},
     {3860, 2565, 12, 4, 4, 3, 4, 2018, 3840, 540}, 0x00010000, {0, 0, 1, 2, 3840, 540}},
    // x offset 6400 x 4 / 2 - 12801 = -1 would wrap to 65535 for the FPGA
    {"H 12801x800 split 12801: offset kept at 0", kIniDefault, {12801, 800, 12801, 800, 3},
     {6476, 1529, 12, 32, 32, 12, 32, 685, 6400, 800}, 0x03020100, {0, 0, 4, 1, 6400, 800}},
};
// clang-format on

class Panel : public ScalerFixture {
protected:
    void SetUp() override
    {
        ScalerFixture::SetUp();
        // brought up with a size no row uses, so every row is a change
        for (uint8_t* b : {testBlock(store), store->shadow}) {
            for (auto f : {blk::kLedWidth, blk::kOutput1Width})
                blk::put16(b, f, 640);
            for (auto f : {blk::kLedHeight, blk::kOutput1Height})
                blk::put16(b, f, 480);
            blk::put16(b, blk::kSpliceMode, 0);
        }
        bringUp();
    }

    void handOverLed(const Led& led)
    {
        handOver([&](VyrRamPara& s) {
            blk::put16(testBlock(&s), blk::kLedWidth, led.w);
            blk::put16(testBlock(&s), blk::kLedHeight, led.h);
            blk::put16(testBlock(&s), blk::kOutput1Width, led.out1w);
            blk::put16(testBlock(&s), blk::kOutput1Height, led.out1h);
            blk::put16(testBlock(&s), blk::kSpliceMode, led.splice);
        });
        scaler->runOnce();
    }

    Published published()
    {
        PosixLock lock(scaler->c331_mutex);
        const uint8_t* b = testBlock(store);
        EXPECT_EQ(b[blk::kChannelsH + 1], 0);
        EXPECT_EQ(b[blk::kChannelsV + 1], 0);
        EXPECT_EQ(blk::get16(b, blk::kChannelBandwidth), 0);
        return {blk::get16(b, blk::kCanvasX), blk::get16(b, blk::kCanvasY), b[blk::kChannelsH], b[blk::kChannelsV],
                blk::get16(b, blk::kChannelWidth), blk::get16(b, blk::kChannelHeight)};
    }
};

}

TEST_F(Panel, HandedOverSizesProgramTheHandWorkedTimingOnEveryChannel)
{
    for (const LedSizeRow& row : kRows) {
        SCOPED_TRACE(row.what);
        g_vyr_max_pixel = row.maxPixels;
        c331Chip().clearLog();
        // Every register written again, so the panel's own first writes show in the log even
        // where the row before left the same value.
        scaler->drv->init_reg_acc_param();
        handOverLed(row.led);
        for (int n = 0; n < 8; ++n) {
            const C331Chip::OutputTiming t = c331Chip().outputTiming(n);
            EXPECT_EQ(t.htotal, row.t.htt) << "channel " << n;
            EXPECT_EQ(t.vtotal, row.t.vtt) << "channel " << n;
            EXPECT_EQ(t.hsync, row.t.hsw);
            EXPECT_EQ(t.vsync, row.t.vsw);
            EXPECT_EQ(t.hfront, row.t.hfp);
            EXPECT_EQ(t.vfront, row.t.vfp);
            EXPECT_EQ(t.hbackSigned, int64_t(row.t.hbp));
            EXPECT_EQ(t.vbackSigned, int64_t(row.t.vbp));
            EXPECT_EQ(t.hactive, row.t.width);
            EXPECT_EQ(t.vactive, row.t.height);
            const uint32_t off = 16 * n;
            // the second output area copy, and the active area as the panel set it (the display
            // windows rewrite it afterwards)
            const uint32_t hst = row.t.hsw + row.t.hbp, vst = row.t.vsw + row.t.vbp;
            EXPECT_EQ(c331Chip().value(0x081D02, off), 0x40u);
            const std::pair<uint32_t, uint32_t> active[] = {
                {0x083002, hst}, {0x083202, hst + row.t.width}, {0x083402, vst}, {0x083602, vst + row.t.height},
                {0x084002, hst}, {0x084202, row.t.width},       {0x084402, vst}, {0x084602, row.t.height + 1}};
            for (const auto& a : active) {
                const auto writes = c331Chip().writesTo(a.first, off);
                ASSERT_GE(writes.size(), 2u) << std::hex << a.first;
                EXPECT_EQ(writes[0].value | writes[1].value << 8, a.second) << std::hex << a.first << " channel " << n;
            }
        }
        EXPECT_EQ(c331Chip().value(0x034C01), row.t.hsw / 2 - 1);
        EXPECT_EQ(c331Chip().value(0x034D01), row.t.vsw - 1);
        EXPECT_EQ(c331Chip().value(0x035504), row.routing);
        EXPECT_EQ(c331Chip().writesTo(0x035504).size(), 4u) << "routing written once";
        const Published p = published();
        EXPECT_EQ(p.xoffs, row.pub.xoffs);
        EXPECT_EQ(p.yoffs, row.pub.yoffs);
        EXPECT_EQ(p.across, row.pub.across);
        EXPECT_EQ(p.down, row.pub.down);
        EXPECT_EQ(p.width, row.pub.width);
        EXPECT_EQ(p.height, row.pub.height);
    }
}

TEST_F(Panel, OutputRoutingAndLaneSetUpFollowTheTiming)
{
    handOverLed({1920, 1080, 1920, 1080, 0});
    EXPECT_EQ(c331Chip().value(0x035E04), 0x76543210u);
    EXPECT_EQ(c331Chip().value(0x036204), 0x76543210u);
    for (uint32_t d : {0x032C02u, 0x032E01u, 0x032F02u, 0x033602u, 0x033801u, 0x033902u})
        EXPECT_EQ(c331Chip().value(d), 0u) << std::hex << d;
    EXPECT_EQ(c331Chip().value(0x020801), 9u);
    EXPECT_EQ(c331Chip().value(0x027801), 9u);
    const std::pair<uint32_t, uint32_t> lanes[] = {{0x004701, 0x21}, {0x004C01, 0x21}, {0x004B01, 11},
                                                   {0x005001, 11},   {0x004801, 137},  {0x004D01, 137}};
    for (const auto& l : lanes)
        EXPECT_EQ(c331Chip().value(l.first), l.second) << std::hex << l.first;
    // the data order words are written after the timing, the lane set-up last
    const auto order = c331Chip().writesTo(0x035E04);
    const auto lane = c331Chip().writesTo(0x004D01);
    const auto total = c331Chip().writesTo(0x080A02, 16 * 7);
    ASSERT_FALSE(order.empty());
    ASSERT_FALSE(lane.empty());
    ASSERT_FALSE(total.empty());
    EXPECT_LT(total.back().seq, order.back().seq);
    EXPECT_LT(order.back().seq, lane.back().seq);
}

TEST_F(Panel, UncheckedSizesAreRefusedBeforeAnyArithmetic)
{
    struct Bad {
        const char* what;
        Led led;
    };
    const Bad bad[] = {
        {"no width", {0, 1080, 1920, 1080, 0}},
        {"no height", {1920, 0, 1920, 1080, 0}},
        {"one pixel above the INI limit", {4097, 2560, 4097, 2560, 0}},
        {"H split 0", {1920, 1080, 0, 1080, 3}},
        {"H split beyond the width", {1920, 1080, 1921, 1080, 3}},
        {"V split 0", {1920, 1080, 1920, 0, 2}},
        {"HV split beyond the height", {1920, 1080, 1920, 1081, 1}},
        {"160x65535: within the limit, but no 16-bit total holds it", {160, 65535, 160, 65535, 0}},
        {"20000x500: no listed total holds half its line", {20000, 500, 20000, 500, 0}},
        {"CP21 1920x1080: wider than its two 640-pixel channels", {1920, 1080, 1920, 1080, 5}},
        {"HV 1000x10000 split 1: 1076 x 9201 holds no 9999-line part and the seam's porch", {1000, 10000, 1000, 1, 1}},
        {"CP21 500x17992: grown to 660 x 18000, a frame of 50 Hz", {500, 17992, 500, 17992, 5}},
    };
    g_vyr_max_pixel = kIniDefault;
    handOverLed({1920, 1080, 1920, 1080, 0});
    for (const Bad& b : bad) {
        SCOPED_TRACE(b.what);
        const C331Chip::Snapshot before = c331Chip().snapshot();
        uint8_t block[kBlockSize];
        {
            PosixLock lock(scaler->c331_mutex);
            memcpy(block, testBlock(store), sizeof block);
        }
        EXPECT_EQ(scaler->vyrApi_PnlInit2(b.led.w, b.led.h, b.led.out1w, b.led.out1h, b.led.splice), 1);
        EXPECT_EQ(c331Chip().diff(before), std::vector<std::string>{}) << "nothing reached the chip";
        PosixLock lock(scaler->c331_mutex);
        EXPECT_EQ(memcmp(block + blk::kCanvasX, testBlock(store) + blk::kCanvasX, blk::kLayoutEnd - blk::kCanvasX), 0)
            << "published layout kept";
    }
    // the panel set up before stays usable: the next valid size is taken
    handOverLed({3840, 2160, 1920, 2160, 3});
    EXPECT_EQ(c331Chip().outputTiming(0).vactive, 2160u);
}

// The bench sees every new panel's parameter model, tracing or not; a refused size prints nothing.
TEST_F(Panel, NewPanelPrintsTheParameterDump)
{
    g_debugSwitch = 0;
    testing::internal::CaptureStdout();
    ASSERT_EQ(scaler->vyrApi_PnlInit2(3840, 1080, 3840, 1080, 0), 0);
    std::string out = testing::internal::GetCapturedStdout();
    EXPECT_NE(out.find("[vyrDbg_c331_param] c331_param\n"), std::string::npos);
    EXPECT_NE(out.find("<<===PI HDMI INFO\n"), std::string::npos);
    testing::internal::CaptureStdout();
    ASSERT_EQ(scaler->vyrApi_PnlInit2(0, 1080, 3840, 1080, 0), 1);
    out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(out.find("[vyrDbg_c331_param]"), std::string::npos);
}

TEST_F(Panel, TheIniPixelLimitBoundsTheLedSize)
{
    g_vyr_max_pixel = 1920 * 1080;
    EXPECT_EQ(scaler->vyrApi_PnlInit2(1920, 1080, 1920, 1080, 0), 0);
    EXPECT_EQ(scaler->vyrApi_PnlInit2(1920, 1081, 1920, 1081, 0), 1);
    EXPECT_EQ(c331Chip().outputTiming(3).vactive, 1080u);
}

// Older programs saved a wall with its splice cleared. A stored screen only a splice mode takes (CP12 draws what no
// splice draws) stays in the block, sizes and a window in its far corner, while the chip shows the
// factory screen; a tool's change to that window meanwhile, which this screen cannot show, goes
// back to it; its splice set again shows it. One no splice takes (no timing holds a 20000-pixel
// line) gives way to the factory screen, and the first change after sets up no panel again.
struct StoredScreen {
    Led led;
    uint32_t htt, vtt, width, routing; // channel 0 after the splice is set again
};
void PrintTo(const StoredScreen& s, std::ostream* os) { *os << s.led.w << 'x' << s.led.h << " splice " << s.led.splice; }
class StartWith : public ScalerFixture, public ::testing::WithParamInterface<StoredScreen> {};

TEST_P(StartWith, AStoredScreenOnlyASpliceTakesIsKeptAndShownWhenTheSpliceIsSetAgain)
{
    const Led& led = GetParam().led;
    const bool kept = led.splice != 0;
    connect1080p(1); // source 2
    for (uint8_t* b : {testBlock(store), store->shadow})
        for (const auto& f : {std::pair{blk::kSpliceMode, 0}, {blk::kLedWidth, led.w}, {blk::kLedHeight, led.h},
                              {blk::kOutput1Width, led.out1w}, {blk::kOutput1Height, led.out1h},
                              {blk::window(0, blk::win::kX), led.w - 64}, {blk::window(0, blk::win::kY), led.h - 64},
                              {blk::window(0, blk::win::kWidth), 64}, {blk::window(0, blk::win::kHeight), 64}})
            blk::put16(b, f.first, uint16_t(f.second));
    // What a tool reads back: the LED and output sizes, the window records.
    auto toolReads = [&] {
        std::vector<uint16_t> v;
        for (uint32_t f : {blk::kLedWidth, blk::kLedHeight, blk::kOutput1Width, blk::kOutput1Height,
                           blk::kOutput2Width, blk::kOutput2Height})
            v.push_back(blk::get16(testBlock(store), f));
        for (uint32_t f = blk::windowRecord(0); f < blk::windowRecord(blk::kScalerWindows); f += 2)
            v.push_back(kept ? blk::get16(testBlock(store), f) : 0);
        return v;
    };
    std::vector<uint16_t> stored = toolReads();
    for (size_t i = 0; i < 6 && !kept; ++i)
        stored[i] = i % 2 ? 1080 : 1920; // the factory screen
    bringUp();
    EXPECT_EQ(c331Chip().outputTiming(0).htotal, 1940u) << "the factory screen";
    EXPECT_TRUE(TestRoot::logHas(kept ? "kept for its splice mode" : "refused at start"));
    EXPECT_EQ(toolReads(), stored);
    if (kept) {
        // A tool widens the window before the splice is set: the factory screen cannot show it, and
        // the stored window stays.
        SecondWriter tool = SecondWriter::inProcess();
        ASSERT_EQ(tool.writeBlock(blk::window(0, blk::win::kWidth), {80, 0}), 0);
        tool.apply();
        scaler->runOnce();
        EXPECT_EQ(toolReads(), stored);
    }
    c331Chip().clearLog();
    handOver([&](VyrRamPara& s) { blk::put16(testBlock(&s), blk::kSpliceMode, led.splice); });
    scaler->runOnce();
    EXPECT_EQ(c331Chip().writesTo(0x080A02, 16 * 5).empty(), !kept) << "a panel set up";
    EXPECT_EQ(toolReads(), stored);
    const C331Chip::OutputTiming t = c331Chip().outputTiming(0);
    EXPECT_EQ(std::vector<uint32_t>({t.htotal, t.vtotal, t.hactive, c331Chip().value(0x035504)}),
              std::vector<uint32_t>({GetParam().htt, GetParam().vtt, GetParam().width, GetParam().routing}));
    int drawing64 = 0; // output channels whose window is 64 pixels wide
    for (uint32_t o = 0; o < 8; ++o)
        drawing64 += c331Chip().value(0x084202, 16 * o) == 64;
    EXPECT_EQ(drawing64, kept ? 1 : 0) << "the stored window on the wall";
}

// V: one pair of 1000 x 9000 side by side; HV: two pairs of 600 x 8500; H: two pairs, 6000 pixels a
// channel; CP21: its empty canvas's 660 x 15000 grown to the LED's height.
INSTANTIATE_TEST_SUITE_P(Splices, StartWith,
                         ::testing::Values(StoredScreen{{500, 17991, 500, 9000, 2}, 1020, 9706, 1000, 0x00010000},
                                           StoredScreen{{600, 17000, 600, 8500, 1}, 676, 14645, 600, 0x00010000},
                                           StoredScreen{{24000, 300, 12000, 300, 3}, 6076, 1630, 6000, 0x03020100},
                                           StoredScreen{{500, 17991, 500, 17991, 5}, 660, 17999, 640, 0x00010000},
                                           StoredScreen{{20000, 500, 20000, 500, 0}, 1940, 5104, 1920, 0x03020100}));

// A two-output wall set through a tool's applies (the screen, then a crop window on it and fade
// times), its splice sent again, saved, the program killed and started on the same files: the chip's
// output channels, the picture FPGA 0 gets and the tool's read-back are as before and as the tool
// set them, and stay so when the splice is sent once more.
class StartTwice : public ScalerFixture, public ::testing::WithParamInterface<Led> {
protected:
    void SetUp() override {} // each start makes its own managers
    void start() { ManagersTest::SetUp(); connect1080p(1); bringUp(); settle(); }
    std::vector<uint32_t> wall(SecondWriter& tool, const std::vector<std::pair<uint32_t, uint16_t>>& fields)
    {
        std::vector<uint32_t> v;
        for (int o = 0; o < 8; ++o) {
            const C331Chip::OutputTiming t = c331Chip().outputTiming(o);
            v.insert(v.end(), {t.htotal, t.vtotal, t.hactive, t.vactive, c331Chip().value(0x0A4902, 16 * o),
                               c331Chip().value(0x084202, 16 * o)});
        }
        const platform::Sim::FpgaChip::Picture out = platform::Sim::scalerOutput();
        v.insert(v.end(), {c331Chip().value(0x035504), out.width, out.height, out.framePeriod});
        for (const auto& f : fields) {
            Bytes r;
            tool.request(Wire::readRam(f.first, 2), &r);
            v.push_back(r.size() > 12 ? uint32_t(r[11] | r[12] << 8) : ~0u);
        }
        return v;
    }
};

TEST_P(StartTwice, TheWallComesBackAsTheToolSetIt)
{
    const Led& l = GetParam();
    const uint16_t x1 = l.splice == 3 ? l.out1w : 0, y1 = l.splice == 1 || l.splice == 2 ? l.out1h : 0;
    const std::vector<std::pair<uint32_t, uint16_t>> set = {
        {blk::kSpliceMode, l.splice}, {blk::kLedWidth, l.w}, {blk::kLedHeight, l.h},
        {blk::kOutput1Width, l.out1w}, {blk::kOutput1Height, l.out1h}, {blk::kOutput2X, x1}, {blk::kOutput2Y, y1},
        {blk::kOutput2Width, uint16_t(l.w - x1)}, {blk::kOutput2Height, uint16_t(l.h - y1)},
        {blk::window(0, blk::win::kX), uint16_t(l.w - 64)}, {blk::window(0, blk::win::kY), uint16_t(l.h - 48)},
        {blk::window(0, blk::win::kWidth), 64}, {blk::window(0, blk::win::kHeight), 48},
        {blk::cropField(0, blk::crop::kId), blk::crop::idWord(2, 1)}, {blk::cropField(0, blk::crop::kX), 100},
        {blk::cropField(0, blk::crop::kY), 50}, {blk::cropField(0, blk::crop::kWidth), 64}, {blk::cropField(0, blk::crop::kHeight), 48},
        {blk::window(0, blk::win::kSource), blk::win::kSourceCrop}, {blk::window(1, blk::win::kState), 1},
        {blk::window(1, blk::win::kSource), 2}, {blk::window(1, blk::win::kWidth), 64}, {blk::window(1, blk::win::kHeight), 64},
        {blk::kAudioWindow, 1}, {blk::fadeIn(0), 200}, {blk::fadeOut(0), 150}};
    const pid_t child = ::fork();
    if (child == 0) {
        start();
        SecondWriter tool = SecondWriter::inProcess();
        for (bool screen : {true, false}) {
            for (size_t i = 0; i < set.size(); ++i)
                if ((i < 13) == screen)
                    tool.writeBlock(set[i].first, {uint8_t(set[i].second), uint8_t(set[i].second >> 8)});
            tool.apply();
            scaler->runOnce();
        }
        tool.set16(blk::kSpliceMode, l.splice); // the splice the wall already has
        scaler->runOnce();
        store->para_file_save(testBlock(store));
        const std::vector<uint32_t> v = wall(tool, set);
        TestRoot::writeFile("/before", QByteArray(reinterpret_cast<const char*>(v.data()), int(v.size() * 4)));
        ::_exit(0); // killed
    }
    ASSERT_EQ(::waitpid(child, nullptr, 0), child);
    const QByteArray before = TestRoot::readFile("/before");
    start();
    SecondWriter tool = SecondWriter::inProcess();
    std::vector<uint32_t> after = wall(tool, set);
    EXPECT_EQ(QByteArray(reinterpret_cast<const char*>(after.data()), int(after.size() * 4)), before);
    for (size_t i = 0; i < set.size(); ++i)
        EXPECT_EQ(after[after.size() - set.size() + i], set[i].second) << "read back at 0x" << std::hex << set[i].first;
    tool.set16(blk::kSpliceMode, l.splice);
    scaler->runOnce();
    EXPECT_EQ(wall(tool, set), after) << "the splice sent again";
}

// HV and V with the split at half the height, H at half the width; a ribbon and a tall wall only
// their splice takes; CP12 copies its one output, CP21 joins its two.
INSTANTIATE_TEST_SUITE_P(Splices, StartTwice,
                         ::testing::Values(Led{1920, 1080, 1920, 1080, 0}, Led{1920, 2160, 1920, 1080, 1},
                                           Led{1920, 2160, 1920, 1080, 2}, Led{3840, 1080, 1920, 1080, 3},
                                           Led{24000, 300, 12000, 300, 3}, Led{500, 17991, 500, 9000, 2},
                                           Led{1920, 1080, 1920, 1080, 4}, Led{1280, 1080, 1280, 1080, 5}));

namespace {

// The canvas one channel pair carries: up to 9,800,000 pixels; one more row and the panel takes two
// pairs (published counts and output routing by splice mode).
struct PairLimit {
    const char* name;
    Led led;
    uint8_t across, down;
    uint32_t routing;
};

const PairLimit kPairLimits[] = {
    {"NoneAtTheLimit", {4900, 2000, 4900, 2000, 0}, 1, 1, 0x03020100},
    {"NoneOnePixelRowAbove", {4900, 2001, 4900, 2001, 0}, 2, 1, 0x03020100},
    {"HAtTheLimit", {9800, 2000, 4900, 2000, 3}, 2, 1, 0x00010000},
    {"HAbove", {9800, 2001, 4900, 2001, 3}, 4, 1, 0x03020100},
    // V and HV stack the parts on one pair while 32 lines of back porch stay for the seam
    {"VSeamPorchAtTheLimit", {2450, 3948, 2450, 1974, 2}, 1, 2, 0x00010000},
    {"VSeamPorchOneLineShort", {2450, 3950, 2450, 1975, 2}, 2, 2, 0x03020100},
    {"VAbove", {2450, 4002, 2450, 2001, 2}, 2, 2, 0x03020100},
};

void PrintTo(const PairLimit& p, std::ostream* os) { *os << p.name; }

class PanelPairLimit : public Panel, public ::testing::WithParamInterface<PairLimit> {};

}

TEST_P(PanelPairLimit, CountsAndRoutingFollowTheLimit)
{
    const PairLimit& p = GetParam();
    g_vyr_max_pixel = 9800 * 2001; // an INI limit that lets the two-part LED sizes through
    handOverLed(p.led);
    const Published pub = published();
    EXPECT_EQ(pub.across, p.across);
    EXPECT_EQ(pub.down, p.down);
    EXPECT_EQ(c331Chip().value(0x035504), p.routing);
}

INSTANTIATE_TEST_SUITE_P(Canvases, PanelPairLimit, ::testing::ValuesIn(kPairLimits),
                         [](const ::testing::TestParamInfo<PairLimit>& info) { return std::string(info.param.name); });
