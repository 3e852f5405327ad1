// What the wall shows, seen on the chip's output channels alone, for the LED sizes of the LED size
// page (and its edges) in every splice mode, sizes only a PC tool writes, and dense layouts across
// channel seams, each window showing a 1080p60 source: every shown window reads source pixels and
// lines on output channels of its own; a size or layout the scaler does not take leaves the block.
// A window zoomed across a channel seam starts its tiles past the seam a few source pixels early,
// into the line's sync and back porch: one that would start before the chip draws is not taken.
#include "scaler_fixture.h"
#include "test_root.h"
#include "store_face.h"

using namespace scaler_test;
namespace win = blk::win;

namespace {

struct Window {
    uint16_t x, y, w, h;
    uint16_t source = 2; // 0x8000: crop entry 0
};

struct Layout {
    const char* what; // "size": a new screen with its full-wall window; else windows on the screen shown
    uint16_t splice, ledW, ledH;
    std::vector<Window> windows;
    bool taken;
    uint16_t split = 0; // HV and V: the first part's height, 0 the middle
    Window crop{};      // crop entry 0, of its source, when it has a width
};

// The page's Apply (with the splice a tool sets, split in the middle) and the window records.
void write(uint8_t* b, const Layout& l)
{
    const bool sideBySide = l.splice % 6 == 1 || l.splice % 6 == 2;
    const uint16_t fields[][2] = {{blk::kSpliceMode, l.splice}, {blk::kLedWidth, l.ledW}, {blk::kLedHeight, l.ledH},
                                  {blk::kOutput1Width, uint16_t(l.splice == SPLICE_H ? l.ledW / 2 : l.ledW)},
                                  {blk::kOutput1Height, uint16_t(sideBySide ? (l.split ? l.split : l.ledH / 2) : l.ledH)}};
    for (const auto& f : fields)
        blk::put16(b, f[0], f[1]);
    for (uint32_t w = 0; w < blk::kScalerWindows; ++w) {
        const Window r = w < l.windows.size() ? l.windows[w] : Window{};
        const uint16_t record[][2] = {{win::kState, w < l.windows.size()}, {win::kSource, r.source}, {win::kX, r.x},
                                      {win::kY, r.y}, {win::kWidth, r.w}, {win::kHeight, r.h}};
        for (const auto& f : record)
            blk::put16(b, blk::window(w, f[0]), f[1]);
    }
    if (l.crop.w == 0)
        return;
    namespace crop = blk::crop;
    const uint16_t entry[][2] = {{crop::kId, uint16_t(0x8000 | l.crop.source)}, {crop::kX, l.crop.x},
                                 {crop::kY, l.crop.y}, {crop::kWidth, l.crop.w}, {crop::kHeight, l.crop.h}};
    for (const auto& f : entry)
        blk::put16(b, blk::cropField(0, f[0]), f[1]);
}

// Windows on the wall: a channel in use (enabled, reading pixels) reads lines too and, unless it
// is a window's first channel, names that first channel (0x080802 bit 12 and bits 8-11). -1 when
// a channel in use reads no lines or names a channel that is no window's first.
int windowsOnTheWall()
{
    bool used[8];
    uint32_t route[8];
    for (uint32_t o = 0; o < 8; ++o) {
        route[o] = c331Chip().value(0x080802, 16 * o);
        used[o] = (c331Chip().value(0x000801 + (o << 8)) & 1) && c331Chip().value(0x084202, 16 * o) != 0;
    }
    int first = 0;
    for (uint32_t o = 0; o < 8; ++o) {
        const uint32_t head = route[o] >> 8 & 0xF;
        if (used[o] && (c331Chip().value(0x084602, 16 * o) == 0 ||
                        ((route[o] & 0x1000) && (head > 7 || !used[head] || (route[head] & 0x1000)))))
            return -1;
        first += used[o] && (route[o] & 0x1000) == 0;
    }
    return first;
}

class WallShown : public ScalerFixture {};

}

TEST_F(WallShown, EveryShownWindowReadsPixelsOnChannelsOfItsOwnOrTheBlockTakesItBack)
{
    std::vector<Layout> rows;
    // Edges of the page (64-8188, at most 10,485,760 pixels), of one channel pair (9,800,000
    // pixels, totals up to 8280) and of the stacked parts' seam; CP21's empty canvas leaves two
    // channels of 640 pixels.
    const std::pair<uint16_t, uint16_t> sizes[] = {
        {64, 64},     {64, 8188},   {8188, 64},   {8188, 1280}, {1280, 8188}, {4096, 2560}, {2560, 4096},
        {4120, 1280}, {4156, 1280}, {4900, 2000}, {4900, 2001}, {2450, 4000}, {1920, 1080}};
    for (const auto& [w, h] : sizes)
        for (uint16_t splice = 0; splice < 6; ++splice)
            rows.push_back({"size", splice, w, h, {{0, 0, w, h}}, splice != SPLICE_CP2TO1 || w <= 1280});
    // An uneven V split on two pairs: parts of 4084 lines leave 32 lines of porch at the seam in
    // 2380 x 4160, of 4085 lines 31, of 4215 lines none without running over the line budget.
    for (const auto& [split, taken] : {std::pair{434, true}, {433, false}, {303, false}})
        rows.push_back({"size", SPLICE_V, 2302, 4518, {{0, 0, 2302, 4518}}, taken, uint16_t(split)});
    // Down across that seam (32 lines of back porch): 119 lines of the input zoomed to 1500 start
    // the lower tile 3 lines into the frame, 127 lines 2 lines.
    for (const auto& [lines, taken] : {std::pair{119, true}, {127, false}})
        rows.push_back({"a crop zoomed down across the seam", SPLICE_V, 2302, 4518, {{0, 0, 500, 1500, 0x8000}}, taken, 434,
                        {0, 0, 1920, uint16_t(lines), 2}});
    // Widths only a PC tool writes: two pairs take half a line, up to a total of 8280.
    for (const auto& [w, h, taken] : {std::tuple{20000, 500, false}, {32000, 320, false}, {65535, 160, false},
                                      {9000, 1000, true}, {12000, 800, true}, {16000, 600, true}})
        rows.push_back({"size", 0, uint16_t(w), uint16_t(h), {{0, 0, uint16_t(w), uint16_t(h)}}, taken});
    // Ribbon walls (H, four channels of a quarter of the width): the 1080p picture over all of it
    // is zoomed 10.4-15.6 times, more than the 34 pixels of sync and back porch before a seam hold.
    for (const auto& [w, h] : {std::pair{20000, 96}, {24000, 128}, {30000, 96}, {20000, 160}})
        rows.push_back({"size", SPLICE_H, uint16_t(w), uint16_t(h), {{0, 0, uint16_t(w), uint16_t(h)}}, false});
    // Across two seams of H 24000 x 300: 16014 wide the tiles past them start 10 pixels into their
    // line, 16424 wide one starts at 9.
    rows.push_back({"size", SPLICE_H, 24000, 300, {{0, 0, 64, 64}}, true});
    rows.push_back({"zoomed across the seams", SPLICE_H, 24000, 300, {{0, 0, 16014, 300}}, true});
    rows.push_back({"zoomed across the seams", SPLICE_H, 24000, 300, {{0, 0, 16424, 300}}, false});
    // CP21's fixed total of 660 x 15000 grows with a taller LED, up to 17,999 lines (above 50 Hz).
    rows.push_back({"size", SPLICE_CP2TO1, 500, 17991, {{0, 0, 500, 17991}}, true});
    // 8188 x 1200: four channels of 4096 side by side; HV 4156 x 1280: the parts on channels 0 and 2.
    auto steps = [](int n, Window first, int dx, int dy) {
        std::vector<Window> v;
        for (int i = 0; i < n; ++i)
            v.push_back({uint16_t(first.x + dx * i), uint16_t(first.y + dy * i), first.w, first.h});
        return v;
    };
    rows.push_back({"size", 0, 8188, 1200, {{0, 0, 8188, 1200}}, true});
    rows.push_back({"six across a seam: 12 channels", 0, 8188, 1200, steps(6, {4000, 100, 300, 300}, 10, 10), false});
    rows.push_back({"four across a seam", 0, 8188, 1200, steps(4, {4000, 100, 300, 300}, 10, 10), true});
    rows.push_back({"two over the wall", 0, 8188, 1200, steps(2, {0, 0, 8188, 1200}, 0, 0), true});
    rows.push_back({"size", 1, 4156, 1280, {{0, 0, 4156, 1280}}, true});
    rows.push_back({"four across the parts' seam", 1, 4156, 1280, steps(4, {100, 600, 300, 100}, 400, 0), true});
    rows.push_back({"five across it: 10 channels", 1, 4156, 1280, steps(5, {100, 600, 300, 100}, 400, 0), false});
    rows.push_back({"size", 0, 3840, 2160, {{0, 0, 3840, 2160}}, true});
    rows.push_back({"six in a grid", 0, 3840, 2160, {{0, 0, 1280, 1080}, {1280, 0, 1280, 1080}, {2560, 0, 1280, 1080},
                    {0, 1080, 1280, 1080}, {1280, 1080, 1280, 1080}, {2560, 1080, 1280, 1080}}, true});

    connect1080p(1); // source 2
    bringUp();
    settle();
    for (const Layout& row : rows) {
        SCOPED_TRACE(std::string(row.what) + ": splice " + std::to_string(row.splice) + ", " + std::to_string(row.ledW) +
                     " x " + std::to_string(row.ledH) + " split " + std::to_string(row.split) + ", " +
                     std::to_string(row.windows.size()) + " windows");
        uint8_t before[kBlockSize], sent[kBlockSize];
        memcpy(before, testBlock(store), sizeof before);
        memcpy(sent, before, sizeof sent);
        write(sent, row);
        handOver([&](VyrRamPara& s) { write(testBlock(&s), row); });
        scaler->runOnce();
        scaler->runOnce(); // the port measured again on the new channels
        // taken: as sent; refused: as shown before (a refused screen's windows are checked apart)
        const uint8_t* expected = row.taken ? sent : before;
        const uint8_t* b = testBlock(store);
        EXPECT_EQ(memcmp(b + blk::kSpliceMode, expected + blk::kSpliceMode, 6), 0) << "screen";
        const size_t records = blk::kScalerWindows * kWindowSize;
        if (row.taken || std::string(row.what) != "size") {
            EXPECT_EQ(memcmp(b + blk::windowRecord(0), expected + blk::windowRecord(0), records), 0) << "windows";
        }
        int shown = 0;
        for (uint32_t w = 0; w < blk::kScalerWindows; ++w)
            shown += blk::get16(b, blk::window(w, win::kState)) != 0;
        EXPECT_EQ(windowsOnTheWall(), std::max(shown, 1));
    }
}

// The zoom follows what a window shows: an input or crop its tiles cannot draw past a seam is
// refused as a layout is; an input that changes under a layout the wall took closes the window
// (the block and the log say which), and the others stay, until it changes back.
TEST_F(WallShown, WhatAWindowShowsZoomedPastTheSeamIsRefusedOrItsWindowClosed)
{
    connect1080p(1);   // source 2
    connect(0, k720p); // source 3
    bringUp();
    settle();
    // H 24000 x 300: window 0 on the last channel, window 1 across two seams.
    const Layout wall{"", SPLICE_H, 24000, 300, {{20000, 0, 1000, 300}, {0, 0, 16014, 300}}, true};
    auto pass = [&] {
        for (int i = 0; i < 3; ++i)
            scaler->runOnce();
    };
    handOver([&](VyrRamPara& s) { write(testBlock(&s), wall); });
    pass();
    ASSERT_EQ(blk::get16(testBlock(store), blk::kLedWidth), 24000);
    ASSERT_EQ(windowsOnTheWall(), 2);
    const uint32_t source1 = blk::window(1, win::kSource);

    // 720p: zoomed 12.5 times.
    handOver([&](VyrRamPara& s) { blk::put16(testBlock(&s), source1, 3); });
    pass();
    EXPECT_EQ(blk::get16(testBlock(store), source1), 2);
    EXPECT_TRUE(TestRoot::logHas("window 1: source word 3 refused, 1280 x 720 of its input zoomed to 16014 x 300"));
    // A crop 1000 pixels wide of the 1080p input: 16 times.
    handOver([&](VyrRamPara& s) {
        Layout cropped = wall;
        cropped.windows[1].source = 0x8000;
        cropped.crop = {0, 0, 1000, 1080, 2};
        write(testBlock(&s), cropped);
    });
    pass();
    EXPECT_EQ(blk::get16(testBlock(store), source1), 2);
    EXPECT_EQ(windowsOnTheWall(), 2);

    // The 1080p input becomes 720p.
    connect(1, k720p);
    pass();
    EXPECT_EQ(blk::get16(testBlock(store), blk::window(0, win::kState)), 1);
    EXPECT_EQ(blk::get16(testBlock(store), blk::window(1, win::kState)), 0);
    EXPECT_TRUE(TestRoot::logHas("window 1 not shown, closed: 1280 x 720 of its input zoomed to 16014 x 300"));
    EXPECT_EQ(windowsOnTheWall(), 1);
    // Back to 1080p the box shows it again; not once a writer changed it (its mirror) meanwhile.
    const uint32_t state1 = blk::window(1, win::kState);
    for (const bool written : {false, true}) {
        if (written)
            handOver([&](VyrRamPara& s) { blk::put16(testBlock(&s), blk::window(1, win::kMirror), 1); });
        connect1080p(1);
        pass();
        EXPECT_EQ(blk::get16(testBlock(store), state1), written ? 0 : 1) << written;
        EXPECT_EQ(windowsOnTheWall(), written ? 1 : 2) << written;
        connect(1, k720p);
        pass();
        EXPECT_EQ(blk::get16(testBlock(store), state1), 0);
    }
    EXPECT_TRUE(TestRoot::logHas("window 1 shown again: 1920 x 1080 of its input is drawn"));
}
