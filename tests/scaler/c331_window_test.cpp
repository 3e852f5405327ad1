// Display windows and the window set: port tiles and ratios, the output-channel registers of a
// window, the window records taken from the block (refused layouts, fall-back, priorities) and the
// per-window output word.
#include "scaler_fixture.h"
#include "store_face.h"

#include <array>
#include <cstring>

using namespace scaler_test;
namespace win = blk::win;

namespace {

_ImageWindowDef_st rect(int hst, int hw, int vst, int vw) { return {hst, hw, vst, vw}; }

struct TileCase {
    const char* name;
    _ImageWindowDef_st r;
    int cols, rows;
    // per column: hst, hw, first, last
    std::vector<std::array<int, 4>> expectCols;
};

class WindowTest : public ScalerFixture {
protected:
    void SetUp() override
    {
        ScalerFixture::SetUp();
        bringUp();
        settle();
    }

    // Output channels 0 and 1 show window 0 as its two tiles; input channel 0 captures it.
    void twoTileWindow0()
    {
        for (int o = 0; o < 8; ++o)
            scaler->PM_WIN_NUM[o] = 6, scaler->PM_AREA_NUM[o] = 0;
        scaler->PM_WIN_NUM[0] = 0, scaler->PM_AREA_NUM[0] = 0;
        scaler->PM_WIN_NUM[1] = 0, scaler->PM_AREA_NUM[1] = 1;
        scaler->PM_WIN_SHAPE[0][0] = 2, scaler->PM_WIN_SHAPE[0][1] = 1;
        scaler->PM_WIN_STITCHING[0] = 0;
        scaler->g_win_ich[0][0] = 0;
        for (int k = 1; k < 8; ++k)
            scaler->g_win_ich[0][k] = -1;
        scaler->PM_WIN_DBD_MODE[0] = 0;
        scaler->PM_MEM_WMODE[0] = 0;
        scaler->PM_MEMMODE_H[0] = scaler->PM_MEMMODE_V[0] = 0;
        scaler->PS_ACTHW = 1920;
        scaler->PS_ACTVW = 1080;
    }

    void put(uint32_t offset, uint16_t value) { blk::put16(testBlock(store), offset, value); }
    uint16_t get(uint32_t offset) const { return blk::get16(testBlock(store), offset); }
};

}

// Cut into port tiles of 1920 x 2160: share of each column and the first and last flags.
TEST_F(WindowTest, WindowsAreCutIntoPortTilesWithEdgeFlags)
{
    scaler->PS_ACTHW = 1920;
    scaler->PS_ACTVW = 2160;
    const TileCase cases[] = {
        {"one whole tile", rect(0, 1920, 0, 2160), 1, 1, {{0, 1920, 1, 1}}},
        {"straddling two columns", rect(1900, 40, 0, 100), 2, 1, {{1900, 20, 1, 0}, {0, 20, 0, 1}}},
        {"only in the second column", rect(2000, 100, 0, 100), 2, 1, {{0, 0, 0, 0}, {80, 100, 1, 1}}},
        {"three columns", rect(100, 4000, 0, 100), 3, 1, {{100, 1820, 1, 0}, {0, 1920, 0, 0}, {0, 260, 0, 1}}},
    };
    for (const TileCase& c : cases) {
        SCOPED_TRACE(c.name);
        scaler->PM_WIN_SHAPE[2][0] = c.cols;
        scaler->PM_WIN_SHAPE[2][1] = c.rows;
        _ImageWindowDef2_St t[8];
        scaler->calc_oact(c.r, t, 2);
        for (size_t i = 0; i < c.expectCols.size(); ++i) {
            EXPECT_EQ(t[i].hst, c.expectCols[i][0]) << "column " << i;
            EXPECT_EQ(t[i].hw, c.expectCols[i][1]) << "column " << i;
            EXPECT_EQ(t[i].hFirst, c.expectCols[i][2]) << "column " << i;
            EXPECT_EQ(t[i].hLast, c.expectCols[i][3]) << "column " << i;
        }
        EXPECT_EQ(t[0].vFirst, 1);
        EXPECT_EQ(t[0].vLast, 1);
    }
    // A window index outside the table cuts nothing.
    _ImageWindowDef2_St t[8];
    scaler->calc_oact(rect(0, 1920, 0, 2160), t, 6);
    EXPECT_EQ(t[0].hw, 0);
}

// Stitched halves keep only the pair's outer edges.
TEST_F(WindowTest, StitchedHalvesKeepOnlyTheOuterEdges)
{
    scaler->PS_ACTHW = 1920;
    scaler->PS_ACTVW = 2160;
    scaler->PM_WIN_SHAPE[1][0] = 1, scaler->PM_WIN_SHAPE[1][1] = 1;
    _ImageWindowDef2_St t[8];
    scaler->PS_VBOTX_LAYOUT = 0;
    scaler->calc_oact_stitching(rect(0, 1920, 0, 2160), t, 1, 0);
    EXPECT_EQ(std::vector<int>({t[0].hFirst, t[0].hLast, t[0].vFirst, t[0].vLast}), std::vector<int>({1, 0, 1, 1}));
    scaler->calc_oact_stitching(rect(0, 1920, 0, 2160), t, 1, 1);
    EXPECT_EQ(std::vector<int>({t[0].hFirst, t[0].hLast, t[0].vFirst, t[0].vLast}), std::vector<int>({0, 1, 1, 1}));
    scaler->PS_VBOTX_LAYOUT = 1;
    scaler->calc_oact_stitching(rect(0, 1920, 0, 2160), t, 1, 0);
    EXPECT_EQ(std::vector<int>({t[0].hFirst, t[0].hLast, t[0].vFirst, t[0].vLast}), std::vector<int>({1, 1, 1, 0}));
}

// Ratios in 16.16: shrink (out - 1) / (in - 1), zoom (in - 1) / (out - 1), both + 1; sizes beyond
// 32,768 pixels must not overflow.
TEST_F(WindowTest, ScalingRatiosFollowTheSizesWithoutOverflow)
{
    struct Case {
        int in, out, mode, shrink, zoom;
    };
    auto ratio = [](int64_t to, int64_t from) { return int((to - 1) * 65536 / (from - 1) + 1); };
    const Case cases[] = {
        {1920, 1920, 0, 0, 0},
        {3840, 1920, 1, 32760, 0},
        {1920, 3840, 2, 0, ratio(1920, 3840)},
        {40000, 20000, 1, ratio(20000, 40000), 0},
        {20000, 60000, 2, 0, ratio(20000, 60000)},
        {0, 1920, 0, 0, 0},
        {1920, 0, 0, 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.in) + " -> " + std::to_string(c.out));
        _ScalingSt s;
        scaler->calc_scaling(rect(0, c.in, 0, c.in), rect(0, c.out, 0, c.out), s);
        EXPECT_EQ(s.hmode, c.mode);
        EXPECT_EQ(s.vmode, c.mode);
        EXPECT_EQ(s.hshrink, c.shrink);
        EXPECT_EQ(s.vshrink, c.shrink);
        EXPECT_EQ(s.hzoom, c.zoom);
        EXPECT_EQ(s.vzoom, c.zoom);
        EXPECT_GE(s.hshrink, 0);
        EXPECT_GE(s.hzoom, 0);
    }
}

// The vertical zoom filter: a pass-through without zoom, the coefficient table with it, nothing
// for a channel the chip does not have.
TEST_F(WindowTest, VerticalZoomFilterIsWrittenPerChannel)
{
    c331Chip().clearLog();
    scaler->set_lut_vzoom_4sym(scaler->c331_fd, 0, 3);
    EXPECT_EQ(c331Chip().value(0x0A6801, 48), 0x40u);
    for (uint32_t a = 0x69; a <= 0x7F; ++a)
        EXPECT_EQ(c331Chip().value(a << 8 | 0x0A0001, 48), 0u) << std::hex << a;
    scaler->set_lut_vzoom_4sym(scaler->c331_fd, 40000, 3);
    const uint8_t table[24] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 255, 254, 253, 252, 252, 253, 0, 5, 13, 24, 35, 46, 56, 62, 64};
    for (uint32_t i = 0; i < 24; ++i)
        EXPECT_EQ(c331Chip().value((0x0A68 + i) << 8 | 1, 48), table[i]) << i;
    c331Chip().clearLog();
    scaler->set_lut_vzoom_4sym(scaler->c331_fd, 0, 8);
    scaler->set_lut_vzoom_4sym(scaler->c331_fd, 0, -1);
    EXPECT_EQ(c331Chip().transferCount(), 0u);
}

// A window over two output tiles without scaling: each output channel reads its own part of the
// frame store, starts at the output's active start, and the second names the first as its source.
TEST_F(WindowTest, DisplaySideProgramsEveryTileOfTheWindow)
{
    twoTileWindow0();
    const _ImageWindowDef_st src = rect(0, 3840, 0, 1080), dst = rect(0, 3840, 0, 1080);
    scaler->set_display_window_och(scaler->c331_fd, src, dst, 0);
    const uint32_t base = uint32_t(scaler->PS_MEM_SC[0][0]);
    const uint32_t acthst = uint32_t(scaler->PS_ACTHST), actvst = uint32_t(scaler->PS_ACTVST);
    // channel 0: first tile
    EXPECT_EQ(c331Chip().value(0x080802, 0), 0u << 8 | 1);
    EXPECT_EQ(c331Chip().value(0x160804, 0), base);
    EXPECT_EQ(c331Chip().value(0x084002, 0), acthst);
    EXPECT_EQ(c331Chip().value(0x084202, 0), 1920u);
    EXPECT_EQ(c331Chip().value(0x084402, 0), actvst);
    EXPECT_EQ(c331Chip().value(0x084602, 0), 1081u);
    EXPECT_EQ(c331Chip().value(0x082201, 0), 0u);
    EXPECT_EQ(c331Chip().value(0x163001, 0), uint32_t(c331in::kDefaultUnits));
    // channel 1: second tile, 1920 pixels (4 bytes each) further on
    EXPECT_EQ(c331Chip().value(0x080802, 16), 0u << 8 | 0x1000 | 0x11);
    EXPECT_EQ(c331Chip().value(0x160804, 16), base + 1920 * 4);
    EXPECT_EQ(c331Chip().value(0x084202, 16), 1920u);
    EXPECT_EQ(c331Chip().value(0x083202, 16), 1920u + uint32_t(scaler->PS_OAOIHST));
}

// Mirrors: the horizontal flag reaches the output, the vertical one reads the store backwards.
TEST_F(WindowTest, MirroredWindowReadsBackwards)
{
    twoTileWindow0();
    scaler->PM_MEMMODE_H[0] = 1;
    scaler->PM_MEMMODE_V[0] = 1;
    scaler->set_display_window_och(scaler->c331_fd, rect(0, 3840, 0, 1080), rect(0, 3840, 0, 1080), 0);
    const uint32_t units = c331in::kDefaultUnits;
    const uint32_t base = uint32_t(scaler->PS_MEM_SC[0][0]);
    EXPECT_EQ(c331Chip().value(0x082201, 0), 1u);
    EXPECT_EQ(c331Chip().value(0x082201, 16), 1u);
    EXPECT_EQ(c331Chip().value(0x163001, 0), 0x100u - units);
    // mirrored: the first tile reads the right half, starting on the last line
    EXPECT_EQ(c331Chip().value(0x160804, 0), base + 1920 * 4 + 1079 * units * 1024);
    EXPECT_EQ(c331Chip().value(0x160804, 16), base + 1079 * units * 1024);
}

// A window without an input channel is not shown: nothing is written for it.
TEST_F(WindowTest, WindowWithoutChannelsIsSkipped)
{
    twoTileWindow0();
    scaler->g_win_ich[0][0] = -1;
    c331Chip().clearLog();
    scaler->set_display_window_och(scaler->c331_fd, rect(0, 3840, 0, 1080), rect(0, 3840, 0, 1080), 0);
    scaler->set_display_window_och(scaler->c331_fd, rect(0, 3840, 0, 1080), rect(0, 3840, 0, 1080), 6);
    scaler->set_display_window_och(scaler->c331_fd, rect(0, 3840, 0, 1080), rect(0, 3840, 0, 1080), -1);
    EXPECT_EQ(c331Chip().transferCount(), 0u);
}

// Capture of a window: a halved input split over the window's own two channels (not simply the
// next one), the second half's store offset after the first half; a shrink on one channel; the
// last channel never reaches a ninth.
TEST_F(WindowTest, CaptureUsesTheWindowsOwnChannels)
{
    const int actFull[4] = {192, 960, 41, 1080};
    std::copy(actFull, actFull + 4, scaler->PI_ACT[1]);
    scaler->PI_STATE[1] = 3; // double rate: each channel takes half a line
    scaler->PI_SCAN_MODE[1] = 0;
    scaler->PM_INPUT[0] = 1;
    scaler->PS_MEM_WMODE[0] = 0;
    scaler->g_win_ich[0][0] = 0, scaler->g_win_ich[0][1] = 2, scaler->g_win_ich[0][2] = -1;
    c331Chip().clearLog();
    scaler->set_display_window_ich(scaler->c331_fd, rect(0, 1920, 0, 1080), rect(0, 1920, 0, 1080), 0);
    EXPECT_EQ(c331Chip().value(0x100901, 0), 1u);
    EXPECT_EQ(c331Chip().value(0x100901, 32), 8u) << "second half names the pair's first channel";
    EXPECT_EQ(c331Chip().value(0x101702, 0), 185u);
    EXPECT_EQ(c331Chip().value(0x101902, 0), 960u);
    EXPECT_EQ(c331Chip().value(0x101702, 32), 185u);
    EXPECT_EQ(c331Chip().value(0x101902, 32), 960u);
    EXPECT_EQ(c331Chip().value(0x101B02, 32), 42u);
    EXPECT_EQ(c331Chip().value(0x101D02, 32), 1080u);
    EXPECT_EQ(c331Chip().value(0x161C04, 32), uint32_t(scaler->PS_MEM_SC[0][0] + 960 * 4)) << "in the first channel's store";
    EXPECT_EQ(c331Chip().value(0x161C04, 0), uint32_t(scaler->PS_MEM_SC[0][0]));
    EXPECT_TRUE(c331Chip().writesTo(0x101702, 16).empty()) << "channel 1 is not the window's";
    EXPECT_EQ(c331Chip().value(0x117001, 0), 252u) << "unscaled: the vertical filter for ratios near 1";

    // one channel, full-rate input twice as wide as the window: shrink 32760
    const int act4k[4] = {384, 3840, 82, 2160};
    std::copy(act4k, act4k + 4, scaler->PI_ACT[1]);
    scaler->PI_STATE[1] = 4;
    scaler->g_win_ich[0][0] = 3, scaler->g_win_ich[0][1] = -1;
    scaler->set_display_window_ich(scaler->c331_fd, rect(0, 3840, 0, 2160), rect(0, 1920, 0, 1080), 0);
    EXPECT_EQ(c331Chip().value(0x101902, 48), 3840u);
    EXPECT_EQ(c331Chip().value(0x114401, 48), 199u);
    EXPECT_EQ(c331Chip().value(0x114702, 48), 32760u);
    EXPECT_EQ(c331Chip().value(0x114901, 48), 0x84u);
    EXPECT_EQ(c331Chip().value(0x114C02, 48), uint32_t(1079LL * 65536 / 2159 + 1));
    EXPECT_EQ(c331Chip().value(0x114301, 48), 2u);
    EXPECT_EQ(c331Chip().value(0x163101, 48), uint32_t(c331in::kDefaultUnits));

    // the last channel alone: nothing lands on a channel 8 (bank offset 128)
    scaler->g_win_ich[0][0] = 7;
    std::copy(actFull, actFull + 4, scaler->PI_ACT[1]);
    scaler->PI_STATE[1] = 3;
    c331Chip().clearLog();
    scaler->set_display_window_ich(scaler->c331_fd, rect(0, 1920, 0, 1080), rect(0, 1920, 0, 1080), 0);
    EXPECT_EQ(c331Chip().value(0x101902, 112), 960u);
    for (uint32_t desc : {0x100901u, 0x101702u, 0x101902u, 0x114401u, 0x161C04u, 0x166603u})
        EXPECT_TRUE(c331Chip().writesTo(desc, 128).empty()) << std::hex << desc;
    // a window whose port is not one of the box's captures nothing
    scaler->PM_INPUT[0] = 6;
    c331Chip().clearLog();
    scaler->set_display_window_ich(scaler->c331_fd, rect(0, 1920, 0, 1080), rect(0, 1920, 0, 1080), 0);
    EXPECT_EQ(c331Chip().transferCount(), 0u);
}
