// Crops: a window showing a rectangle of its input, seen on the chip as the zoom and the read start
// of its output channel; margins inside the input's area; crop slots that are refused or deleted.
#include "scaler_fixture.h"

#include "base/utils.h"
#include "store_face.h"

#include <QMutexLocker>
#include <utility>

using namespace scaler_test;
namespace win = blk::win;
namespace crop = blk::crop;

namespace {

class Crops : public ScalerFixture {
protected:
    void SetUp() override
    {
        ScalerFixture::SetUp();
        connect1080p(1); // source 2, window 0's
        bringUp();
        settle();
        o_ = -1;
        for (int o = 0; o < 8 && o_ < 0; ++o)
            if (scaler->PM_WIN_NUM[o] == 0 && scaler->PM_AREA_NUM[o] == 0)
                o_ = o;
        ASSERT_GE(o_, 0);
    }

    void hand(std::initializer_list<std::pair<uint32_t, uint16_t>> writes)
    {
        handOver([&](VyrRamPara& s) {
            for (auto [off, v] : writes)
                blk::put16(testBlock(&s), off, v);
        });
        scaler->runOnce();
    }

    // Crop slot k: crop 1 of source 2 at (10, 20), 640 x 360.
    void defineCrop(uint32_t k, uint16_t id = crop::idWord(2, 1))
    {
        hand({{blk::cropField(k, crop::kId), id}, {blk::cropField(k, crop::kX), 10}, {blk::cropField(k, crop::kY), 20},
              {blk::cropField(k, crop::kWidth), 640}, {blk::cropField(k, crop::kHeight), 360}});
    }

    uint32_t reg(uint32_t desc) { return c331Chip().value(desc, uint32_t(16 * o_)); }
    static uint32_t ratio(int64_t in, int64_t out) { return uint32_t((in - 1) * 65536 / (out - 1) + 1); }

    int o_ = -1;
};

}

// 640 x 360 of the input shown in the 1920 x 1080 window: zoomed three times, read from (10, 20).
TEST_F(Crops, CropIsZoomedIntoTheWindowAndSwitchedOffAgain)
{
    const uint32_t start = reg(0x160804);
    EXPECT_EQ(reg(0x0A4902), 0u) << "whole input, no zoom";
    defineCrop(7);
    hand({{blk::window(0, win::kSource), win::kSourceCrop | 7}});
    EXPECT_EQ(reg(0x0A4902), ratio(640, 1920));
    EXPECT_EQ(reg(0x0A4E02), ratio(360, 1080));
    const uint32_t line = c331in::kDefaultUnits * 1024;
    EXPECT_EQ(reg(0x160804), start + 10 * 4 + 20 * line);
    // back to the plain source
    hand({{blk::window(0, win::kSource), 2}});
    EXPECT_EQ(reg(0x0A4902), 0u);
    EXPECT_EQ(reg(0x160804), start);
}

// Deleting the crop a window shows switches the window back to the crop's input in the same
// hand-over: the block's source word and the chip agree.
TEST_F(Crops, DeletedCropSwitchesItsWindowsBackToTheInput)
{
    const uint32_t start = reg(0x160804);
    defineCrop(7);
    hand({{blk::window(0, win::kSource), win::kSourceCrop | 7}});
    ASSERT_EQ(reg(0x0A4902), ratio(640, 1920));
    store->VyrCropSourceInit(); // the crop list knows the slot written above
    store->VyrDeleteCrop(2, 1);
    ASSERT_EQ(blk::get16(testBlock(store), blk::cropField(7, crop::kId)), 0);
    scaler->runOnce();
    EXPECT_EQ(blk::get16(testBlock(store), blk::window(0, win::kSource)), 2);
    EXPECT_EQ(reg(0x0A4902), 0u);
    EXPECT_EQ(reg(0x160804), start);
    // a later change of the window rectangle is still taken
    hand({{blk::window(0, win::kWidth), 1280}});
    EXPECT_EQ(blk::get16(testBlock(store), blk::window(0, win::kWidth)), 1280);
}

// Crop slots the window cannot use: beyond the 40 slots, not in use, or of an input the box does
// not have. The window keeps what it showed.
TEST_F(Crops, UnusableCropSlotsAreRefused)
{
    defineCrop(7);
    hand({{blk::window(0, win::kSource), win::kSourceCrop | 7}});
    const uint32_t zoom = reg(0x0A4902);
    ASSERT_EQ(zoom, ratio(640, 1920));
    defineCrop(8, uint16_t(crop::kInUse | 0xFF)); // source 255
    defineCrop(9, 0x0002);                         // slot not in use
    for (uint16_t word : {uint16_t(win::kSourceCrop | 40), uint16_t(win::kSourceCrop | 8), uint16_t(win::kSourceCrop | 9),
                          uint16_t(win::kSourceCrop | 255)}) {
        SCOPED_TRACE(word);
        hand({{blk::window(0, win::kSource), word}});
        EXPECT_EQ(reg(0x0A4902), zoom);
        // the setters refuse them on their own as well
        scaler->c331_SetInputsourceCrop(0, word);
        ST_RECT r{0, 0, 1920, 1080};
        scaler->c331_SetCrop(0, 1, &r);
    }
    EXPECT_EQ(scaler->PM_INPUT[0], 1) << "still the crop's input";
}

// Margins of a crop inside the input's active area: negative ones become 0, as do a missing
// signal, an unknown side and a port the chip does not have.
TEST_F(Crops, MarginsStayInsideTheInput)
{
    scaler->PI_ACT[1][1] = 1920, scaler->PI_ACT[1][3] = 1080;
    ST_RECT r{10, 20, 640, 360};
    const int expect[4] = {10, 1920 - 650, 20, 1080 - 380};
    for (int side = 0; side < 4; ++side)
        EXPECT_EQ(scaler->vyrApi_CropGetOffset(1, &r, side), expect[side]) << side;
    EXPECT_EQ(scaler->vyrApi_CropGetOffset(1, &r, 4), 0);
    ST_RECT wide{100, 0, 1900, 1080};
    EXPECT_EQ(scaler->vyrApi_CropGetOffset(1, &wide, 1), 0) << "beyond the right edge";
    ST_RECT huge{0x7FFFFFFF, 0x7FFFFFFF, 0x7FFFFFFF, 0x7FFFFFFF};
    EXPECT_EQ(scaler->vyrApi_CropGetOffset(1, &huge, 1), 0);
    EXPECT_EQ(scaler->vyrApi_CropGetOffset(1, &huge, 3), 0);
    for (int port : {-1, 6, 255})
        EXPECT_EQ(scaler->vyrApi_CropGetOffset(port, &r, 0), 0) << port;
    EXPECT_EQ(scaler->vyrApi_CropGetOffset(1, nullptr, 0), 0);
    scaler->PI_ACT[1][1] = 0;
    EXPECT_EQ(scaler->vyrApi_CropGetOffset(1, &r, 0), 0) << "no signal";
    // V-by-One ports below full rate count their width twice
    scaler->PI_ACT[4][1] = 960, scaler->PI_ACT[4][3] = 1080, scaler->PI_STATE[4] = 1;
    EXPECT_EQ(scaler->vyrApi_CropGetOffset(4, &r, 1), 1920 - 650);
    // a port that is not one of the box's is no crop update
    EXPECT_EQ(scaler->vyrApi_updateCrop(6), 0);
    EXPECT_EQ(scaler->vyrApi_updateCrop(-1), 0);
}

// A writer edits the crop while a rebuild is programming the chip: the chip keeps the crop the pass
// records as applied, so the writer's change back is not lost.
TEST_F(Crops, RebuildTakesTheCropFromTheBlockItApplies)
{
    defineCrop(7);
    hand({{blk::window(0, win::kSource), win::kSourceCrop | 7}});
    const uint32_t zoom = reg(0x0A4902);
    ASSERT_EQ(zoom, ratio(640, 1920));
    bool edited = false;
    c331Chip().setTransferHook([&] {
        if (std::exchange(edited, true))
            return;
        ScalerHandOver h;
        blk::put16(testBlock(store), blk::cropField(7, crop::kWidth), 320);
        h.commit(1);
    });
    // The contrast's writes come first; then a hidden record's move rebuilds the windows.
    c331Chip().clearLog();
    hand({{blk::kContrast, 70}, {blk::window(3, win::kX), 100}});
    c331Chip().setTransferHook(nullptr);
    ASSERT_TRUE(edited);
    EXPECT_EQ(reg(0x0A4902), zoom);
    for (const auto& t : c331Chip().writesTo(0x0A4902, uint32_t(16 * o_)))
        EXPECT_FALSE(t.addr == 0x49 && t.value == (ratio(320, 1920) & 0xFF)) << "the writer's crop never shown";
    hand({{blk::cropField(7, crop::kWidth), 640}}); // changed back before the next pass
    EXPECT_EQ(reg(0x0A4902), zoom);
}
