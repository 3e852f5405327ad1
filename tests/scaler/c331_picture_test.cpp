// Picture controls on the chip's registers: the values each control writes on all eight output
// channels, inside the routing update that makes the chip take them together.
#include "scaler_fixture.h"
#include "test_root.h"
#include "store_face.h"

#include <array>

#include <functional>

using namespace scaler_test;
using Transfer = platform::Sim::C331Chip::Transfer;

namespace {

struct ControlRow {
    const char* what;
    std::function<void(c331_manage*)> set;
    std::vector<std::pair<uint32_t, uint32_t>> registers; // descriptor, value on every channel; none: refused
    uint32_t enable;                                      // per-channel enable bit 0 register, or 0
};

int colour(int mode, int red, int green, int blue) { return mode | blue << 8 | green << 16 | red << 24; }

const std::vector<std::pair<uint32_t, uint32_t>> matrix(uint32_t c1, uint32_t c2, uint32_t c3)
{
    return {{0x0C5B02, c1}, {0x0C6302, c2}, {0x0C6B02, c3}, {0x0C5D02, 0}, {0x0C5F02, 0},
            {0x0C6102, 0},  {0x0C6502, 0},  {0x0C6702, 0},  {0x0C6902, 0}};
}

std::vector<std::pair<uint32_t, uint32_t>> triple(uint32_t first, uint32_t value)
{
    return {{first, value}, {first + 0x200, value}, {first + 0x400, value}};
}

const std::vector<ControlRow>& controlRows()
{
    static const std::vector<ControlRow> r = {
        {"brightness 50", [](c331_manage* m) { m->c331_SetBrightness(50); }, triple(0x0C3A02, 0), 0},
        {"brightness 0", [](c331_manage* m) { m->c331_SetBrightness(0); }, triple(0x0C3A02, 0xC00), 0},
        {"brightness 100", [](c331_manage* m) { m->c331_SetBrightness(100); }, triple(0x0C3A02, 0x400), 0},
        {"brightness 25", [](c331_manage* m) { m->c331_SetBrightness(25); }, triple(0x0C3A02, 0xE00), 0},
        {"contrast 100", [](c331_manage* m) { m->c331_SetContrast(100); }, triple(0x0C2802, 1023), 0x0C2101},
        {"contrast 50", [](c331_manage* m) { m->c331_SetContrast(50); }, triple(0x0C2802, 511), 0x0C2101},
        {"saturation 100", [](c331_manage* m) { m->c331_SetSaturation(100); }, triple(0x0C1B02, 1023), 0x0C1401},
        {"saturation 30", [](c331_manage* m) { m->c331_SetSaturation(30); }, triple(0x0C1B02, 306), 0x0C1401},
        {"warm", [](c331_manage* m) { m->c331_SetColorTemp(colour(1, 9, 9, 9)); }, matrix(8845, 8113, 7056), 0},
        {"nature", [](c331_manage* m) { m->c331_SetColorTemp(colour(2, 9, 9, 9)); }, matrix(8192, 8192, 8192), 0},
        {"cool", [](c331_manage* m) { m->c331_SetColorTemp(colour(3, 9, 9, 9)); }, matrix(6944, 8282, 10978), 0},
        {"user gains", [](c331_manage* m) { m->c331_SetColorTemp(colour(0, 128, 64, 32)); }, matrix(8192, 4096, 2048), 0},
        {"user gains 1.0", [](c331_manage* m) { m->c331_SetColorTemp(colour(0, 128, 128, 128)); },
         matrix(8192, 8192, 8192), 0},
        // Values the chip would wrap (101 shown as 0, mode 4 as the user gains) are refused: no write.
        {"brightness 101", [](c331_manage* m) { m->c331_SetBrightness(101); }, {}, 0},
        {"contrast 101", [](c331_manage* m) { m->c331_SetContrast(101); }, {}, 0},
        {"saturation 101", [](c331_manage* m) { m->c331_SetSaturation(101); }, {}, 0},
        {"saturation -1", [](c331_manage* m) { m->c331_SetSaturation(-1); }, {}, 0},
        {"sharpness 101", [](c331_manage* m) { m->c331_SetSharpness(101); }, {}, 0},
        {"colour mode 4", [](c331_manage* m) { m->c331_SetColorTemp(colour(4, 9, 9, 9)); }, {}, 0},
    };
    return r;
}

class PictureControl : public ScalerFixture {};

}

TEST_F(PictureControl, WritesItsValuesOnEveryChannelInsideTheRoutingUpdate)
{
    for (const ControlRow& row : controlRows()) {
        for (uint32_t n = 0; n < 8; ++n) {
            for (const auto& r : row.registers)
                preset(r.first, 0x5A5A, 16 * n); // stale values must be overwritten
            if (row.enable)
                preset(row.enable, 0xF6, 16 * n);
        }
        preset(0x005901, 0x41);
        c331Chip().clearLog();
        row.set(scaler);
        if (row.registers.empty()) {
            EXPECT_TRUE(c331Chip().log().empty()) << row.what;
            continue;
        }

        for (uint32_t n = 0; n < 8; ++n) {
            for (const auto& r : row.registers)
                EXPECT_EQ(c331Chip().value(r.first, 16 * n), r.second) << row.what << " " << std::hex << r.first << "/" << n;
            if (row.enable) {
                EXPECT_EQ(c331Chip().value(row.enable, 16 * n), 0xF7u) << row.what << " enable bit only, channel " << n;
            }
        }
        if (row.registers.size() == 9) {
            for (uint32_t a = 0x59; a <= 0x60; ++a)
                EXPECT_EQ(c331Chip().value(a << 8 | 1) & 0x20, 0x20u) << row.what << " " << std::hex << a;
            EXPECT_EQ(c331Chip().value(0x005901), 0x61u) << "masked: other bits kept";
        }

        // Opened by routing group 2 (00:22 := 0xFF) before the first value, closed by group 1
        // (00:22 := 0x99) after the last.
        uint64_t open = UINT64_MAX, close = 0, first = UINT64_MAX, last = 0;
        for (const Transfer& t : c331Chip().log()) {
            if (t.kind != Transfer::Write)
                continue;
            if (t.bank == 0x00 && t.addr == 0x22) {
                if (t.value == 0xFF && open == UINT64_MAX)
                    open = t.seq;
                if (t.value == 0x99)
                    close = t.seq;
            } else if ((t.bank & 0x0F) == 0x0C) {
                first = std::min(first, t.seq);
                last = std::max(last, t.seq);
            }
        }
        EXPECT_LT(open, first) << row.what;
        EXPECT_GT(close, last) << row.what;
        EXPECT_EQ(c331Chip().value(0x002901) & 1, 0u) << row.what << ": routing update closed again";
    }
}

// Values an older program stored out of range would be shown wrapped at every start (a red gain
// of 256 as red off): the start shows the factory value and the block takes it; values at the
// edge of their range stay.
TEST_F(PictureControl, StoredValuesOutOfRangeStartAsTheFactoryValues)
{
    const struct {
        uint32_t field;
        uint16_t stored, after;
    } rows[] = {
        {blk::kContrast, 101, 50},   {blk::kSaturation, 300, 50},  {blk::kSharpness, 100, 100},
        {blk::kBrightness, 150, 100}, {blk::kColourTemp, 0, 0},     {blk::kColourRed, 256, 64},
        {blk::kColourGreen, 255, 255}, {blk::kColourBlue, 128, 128},
    };
    for (uint8_t* b : {testBlock(store), store->shadow})
        for (const auto& r : rows)
            blk::put16(b, r.field, r.stored);
    bringUp();
    for (const auto& r : rows)
        EXPECT_EQ(blk::get16(testBlock(store), r.field), r.after) << std::hex << r.field;
    for (uint32_t n = 0; n < 8; ++n) {
        EXPECT_EQ(c331Chip().value(0x0C2802, 16 * n), 511u) << "contrast 50, channel " << n;
        EXPECT_EQ(c331Chip().value(0x0C1B02, 16 * n), 511u) << "saturation 50, channel " << n;
        EXPECT_EQ(c331Chip().value(0x0C5B02, 16 * n), 4096u) << "red gain 64, channel " << n;
        EXPECT_EQ(c331Chip().value(0x0C6302, 16 * n), 16320u) << "green gain 255, channel " << n;
    }
    EXPECT_TRUE(TestRoot::logHas("stored picture values out of range (block offset=value) 0x880=150 0x882=101 "
                                 "0x886=300 0x88A=256, the factory values are shown"));
}

namespace {

// Two windows as the channel allocation leaves them: window 0 on channels 0 and 1, window 1 on
// channel 2 only (its other list entries empty), both showing HDMI 1 (chip port 1).
class WindowControls : public ScalerFixture {
protected:
    void SetUp() override
    {
        ScalerFixture::SetUp();
        bringUp();
        scaler->wincnt = 2;
        setWindow(0, {0, 1}, 2);
        setWindow(1, {2}, 2);
        scaler->PI_STATE[kPort] = 4;
        scaler->PI_ACT[kPort][1] = 1000;
        scaler->PI_ACT[kPort][3] = 500;
        scaler->PI_SCAN_MODE[kPort] = 1; // interlaced: 1000 lines a frame
        scaler->OWIN[0] = {0, 3000, 0, 2100};
        scaler->OWIN[1] = {0, 1000, 0, 1000};
        for (uint32_t n = 0; n < 8; ++n)
            for (uint32_t a = 0x08; a <= 0x19; ++a)
                preset(0x0B0001 | a << 8, 0x77, 16 * n);
        c331Chip().clearLog();
    }

    void setWindow(int w, std::initializer_list<uint8_t> channels, uint8_t source)
    {
        ST_WIN_INFO& info = scaler->gWininfo[w];
        std::fill(std::begin(info.ochPosLst), std::end(info.ochPosLst), 255);
        int m = 0;
        for (uint8_t c : channels)
            info.ochPosLst[m++] = c;
        info.ochHCnt = uint8_t(channels.size());
        info.ochVCnt = 1;
        info.input = source;
    }

    std::vector<uint32_t> peaking(uint32_t channel)
    {
        std::vector<uint32_t> v;
        for (uint32_t a : {0x08u, 0x0Cu, 0x0Du, 0x0Eu, 0x0Fu, 0x10u, 0x09u, 0x11u, 0x5Eu, 0x15u, 0x16u, 0x17u, 0x18u,
                           0x19u, 0x12u})
            v.push_back(c331Chip().value(0x0B0001 | a << 8, 16 * channel));
        return v;
    }

    static constexpr int kPort = 1;
};

}

TEST_F(WindowControls, SharpnessFollowsEachWindowsScaleOnItsOwnChannels)
{
    // horizontal 3000 / 1000 and vertical 2100 / (500 x 2) for window 0; 1:1 for window 1
    scaler->c331_SetSharpness(20); // level 10: gain 128
    const std::vector<uint32_t> window0 = {6, 36, 43, 58, 4, 5, 128, 6, 1, 34, 47, 0, 0, 0, 128};
    const std::vector<uint32_t> window1 = {6, 44, 49, 56, 63, 2, 128, 6, 1, 44, 50, 56, 0, 0, 128};
    EXPECT_EQ(peaking(0), window0);
    EXPECT_EQ(peaking(1), window0);
    EXPECT_EQ(peaking(2), window1);
    for (uint32_t n = 3; n < 8; ++n)
        EXPECT_EQ(c331Chip().value(0x0B0901, 16 * n), 0x77u) << "channel " << n << " belongs to no window";
    // window 1's empty list entries are no channel: nothing beyond the eight output channels
    for (const Transfer& t : c331Chip().log())
        EXPECT_FALSE(t.kind == Transfer::Write && t.bank >= 0x80) << std::hex << int(t.bank) << ":" << int(t.addr);
}

namespace {

// Window 1 (channel 2, input 1000 x 500 interlaced, so 1000 lines) scaled to w x h: the peaking
// class of each direction at the edges of the ratio classes (above 2.5, above 2.0, above 1.25).
struct SharpnessClass {
    const char* name;
    int width, height;
    std::array<uint32_t, 5> h;
    std::array<uint32_t, 3> v;
};

const SharpnessClass kSharpnessClasses[] = {
    {"Above2_5", 2501, 2501, {36, 43, 58, 4, 5}, {42, 48, 59}},
    {"At2_5", 2500, 2500, {30, 42, 0, 7, 0}, {34, 47, 0}},
    {"Above2_0", 2001, 2001, {30, 42, 0, 7, 0}, {34, 47, 0}},
    {"At2_0", 2000, 2000, {28, 46, 5, 3, 60}, {28, 45, 5}},
    {"Above1_25", 1251, 1251, {28, 46, 5, 3, 60}, {28, 45, 5}},
    {"At1_25", 1250, 1250, {44, 49, 56, 63, 2}, {44, 50, 56}},
    {"WideButFlat", 3000, 1000, {36, 43, 58, 4, 5}, {44, 50, 56}},
};

void PrintTo(const SharpnessClass& c, std::ostream* os) { *os << c.name; }

class SharpnessClasses : public WindowControls, public ::testing::WithParamInterface<SharpnessClass> {};

}

TEST_P(SharpnessClasses, CoefficientsFollowTheScaleRatio)
{
    const SharpnessClass& c = GetParam();
    scaler->OWIN[1] = {0, c.width, 0, c.height};
    scaler->c331_SetSharpness(20); // level 10: gain 128
    const std::vector<uint32_t> expected = {6, c.h[0], c.h[1], c.h[2], c.h[3], c.h[4], 128, 6,
                                            1, c.v[0], c.v[1], c.v[2], 0,      0,      128};
    EXPECT_EQ(peaking(2), expected);
}

INSTANTIATE_TEST_SUITE_P(Ratios, SharpnessClasses, ::testing::ValuesIn(kSharpnessClasses),
                         [](const ::testing::TestParamInfo<SharpnessClass>& info) { return std::string(info.param.name); });

TEST_F(WindowControls, SharpnessGainRisesWithTheLevelAndSaturates)
{
    const std::pair<int, uint32_t> rows[] = {{13, 38}, {20, 128}, {29, 243}, {30, 255}, {40, 255}, {100, 255}, {1000, 255}};
    for (const auto& r : rows) {
        scaler->c331_SetSharpness(r.first);
        EXPECT_EQ(c331Chip().value(0x0B0901), r.second) << "page value " << r.first;
        EXPECT_EQ(c331Chip().value(0x0B1201, 16 * 2), r.second) << "page value " << r.first;
    }
    uint32_t last = 0;
    for (int v = 0; v <= 100; ++v) {
        scaler->c331_SetSharpness(v);
        const uint32_t gain = c331Chip().value(0x0B0901);
        EXPECT_GE(gain, last) << "page value " << v;
        last = gain;
    }
}

TEST_F(WindowControls, SharpnessOffClearsTheFirstWindowAndStops)
{
    scaler->c331_SetSharpness(9);
    EXPECT_EQ(peaking(0), std::vector<uint32_t>({0, 0, 0, 0, 0, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0}));
    EXPECT_EQ(c331Chip().value(0x0B0801, 16 * 2), 0x77u) << "no further window is processed";
    EXPECT_EQ(c331Chip().value(0x0C2101) & 1, 1u);
}

TEST_F(WindowControls, SharpnessSkipsWindowsWithoutSignalOrPort)
{
    scaler->gWininfo[0].input = 9; // no such source
    scaler->PI_STATE[kPort] = 0;
    scaler->c331_SetSharpness(50);
    for (uint32_t n = 0; n < 8; ++n)
        EXPECT_EQ(c331Chip().value(0x0B0901, 16 * n), 0x77u) << n;
    scaler->PI_STATE[kPort] = 4;
    scaler->c331_SetSharpness(50);
    EXPECT_EQ(c331Chip().value(0x0B0901, 16 * 0), 0x77u) << "window 0 has no port";
    EXPECT_EQ(c331Chip().value(0x0B0901, 16 * 2), 255u);
}

TEST_F(WindowControls, ForcedColourGivesWayToEachWindowsSignalState)
{
    setWindow(1, {2}, 3); // HDMI 2 on chip port 0, without signal
    scaler->PI_STATE[0] = 0;
    g_force_bkcolor = 0;
    for (uint32_t n = 0; n < 8; ++n) {
        preset(0x084903, 0x00FF00, 16 * n);
        preset(0x084801, 0x77, 16 * n);
    }
    scaler->vyrApi_forceColorDisable(scaler->c331_fd);
    EXPECT_EQ(g_force_bkcolor.load(), 2);
    for (uint32_t n = 0; n < 8; ++n) {
        EXPECT_EQ(c331Chip().value(0x084903, 16 * n), 0u) << n;
        EXPECT_EQ(c331Chip().value(0x084801, 16 * n), n < 2 ? 0u : n == 2 ? 1u : 0x77u) << n;
    }
}
