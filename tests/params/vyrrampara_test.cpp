#include "base/bytes.h"
#include "scaler/c331_manage.h"
#include "base/global.h"
#include "test_root.h"
#include "params/vyrrampara.h"

#include <QSignalSpy>
#include <gtest/gtest.h>
#include <cstring>
#include <vector>

namespace {

VyrRamPara* freshStore()
{
    c331_manage::instanceWithoutWorker(); // the hand-over point, without its worker
    return VyrRamPara::pInstance();
}

void putCrop(VyrRamPara* s, int k, uint8_t source, int number, uint16_t x = 0)
{
    const uint32_t e = kCropBase + 10 * k;
    s->setU16(e, uint16_t(0x8000 | (number - 1) << 8 | source));
    s->setU16(e + 2, x);
}

void clearCrops(VyrRamPara* s)
{
    for (uint32_t k = 0; k < kCropCount; ++k)
        s->setU16(kCropBase + 10 * k, 0x0002);
}

}

TEST(StoreStart, DefaultsAndStartClearing)
{
    VyrRamPara* s = freshStore();
    EXPECT_EQ(s->u16(0x880), 100);
    EXPECT_EQ(s->u16(0x562), 1920);
    EXPECT_EQ(s->u16(0x564), 1080);
    EXPECT_EQ(s->u16(0x386), 1920); // EDID of input 1
    EXPECT_EQ(s->u16(0x388), 1080);
    EXPECT_EQ(s->u16(0x398), 3840); // EDID of input 4
    EXPECT_EQ(s->u16(0x8E0), 1);    // window 0 shown
    EXPECT_EQ(s->u16(0x8E0 + 8), 2);
    EXPECT_EQ(s->u16(0x8E0 + 26 + 8), 5);
    for (uint32_t w = 0; w < 16; ++w) {
        EXPECT_EQ(s->block[0xB00 + 4 * w], 60) << w;
        EXPECT_EQ(s->block[0xB02 + 4 * w], 60) << w;
    }
    EXPECT_EQ(s->block[0x360], 0);
    EXPECT_EQ(s->u16(0x362), 0);
    EXPECT_EQ(0, memcmp(s->block, s->shadow, kBlockSize));
    EXPECT_EQ(s->image[0x25], 0x80);
    EXPECT_EQ(s->image[0x26], 0x1F);
    EXPECT_EQ(s->image[0x27], 0x07);
    for (uint32_t m = 0; m < kModeCount; ++m)
        EXPECT_FALSE(s->VyrUserModeSaved(m));
}

TEST(StoreProtocolWrites, BlockBounds)
{
    VyrRamPara* s = freshStore();
    const std::vector<uint8_t> data(16, 0x5A);
    const std::vector<uint8_t> before(s->block, s->block + kBlockSize);
    EXPECT_EQ(s->VyrRamParaDeal(data.data(), 10, 4090), 1u);
    EXPECT_EQ(0, memcmp(before.data(), s->block, kBlockSize));
    EXPECT_EQ(s->VyrRamParaDeal(data.data(), 6, 4090), 0u);
    EXPECT_EQ(s->block[4095], 0x5A);
    EXPECT_EQ(s->VyrRamParaDeal(data.data(), 0, 4096), 0u);
    // Offsets near 2^32 must not wrap the bound check.
    EXPECT_EQ(s->VyrRamParaDeal(data.data(), 16, 0xFFFFFFF8u), 1u);
    EXPECT_EQ(c331_manage::p_c331_manage->change_flag, 0) << "raw copies are not handed over";
}

TEST(StoreProtocolWrites, UserModeRecords)
{
    VyrRamPara* s = freshStore();
    const uint8_t markers[2] = {0xAA, 0xAA};
    EXPECT_EQ(s->VyrModeUserRamParaDeal(markers, 2, 0x1000), 0u);
    EXPECT_TRUE(s->VyrUserModeSaved(0));
    EXPECT_EQ(s->VyrModeUserRamParaDeal(markers, 2, 0x11000), 1u); // mode 17
    EXPECT_EQ(s->VyrModeUserRamParaDeal(markers, 2, 0x0FFE), 1u);  // mode 0

    // A write may end at the record's 4096-byte window, never beyond it.
    std::vector<uint8_t> data(64, 0x33);
    uint8_t nextBefore[4];
    memcpy(nextBefore, s->mode[3], 4);
    EXPECT_EQ(s->VyrModeUserRamParaDeal(data.data(), 64, 0x3000 + 4096 - 32), 1u);
    EXPECT_EQ(0, memcmp(nextBefore, s->mode[3], 4));
    EXPECT_EQ(s->VyrModeUserRamParaDeal(data.data(), 32, 0x3000 + 4096 - 32), 0u);
    EXPECT_EQ(s->mode[2][4095], 0x33);
    EXPECT_EQ(s->mode[2][4096], 0) << "the last two body bytes stay untouched";
    EXPECT_EQ(s->VyrModeUserRamParaDeal(data.data(), 0xFFFF, 0x5000), 1u);
}

TEST(StoreCrops, BitmapSkipsDamagedEntries)
{
    VyrRamPara* s = freshStore();
    clearCrops(s);
    uint8_t guard[64];
    memset(guard, 0, sizeof guard);
    putCrop(s, 0, 4, 1);
    putCrop(s, 1, 200, 100);  // source far out of range: once wrote past the bitmap
    putCrop(s, 2, 1, 41);     // crop number above 40 would spill into source 2
    putCrop(s, 3, 4, 3);
    s->VyrCropSourceInit();
    EXPECT_EQ(s->VyrGetCropID(4, 1), 1u);
    EXPECT_EQ(s->VyrGetCropID(4, 2), 3u);
    EXPECT_EQ(s->VyrGetCropID(4, 3), 0u);
    EXPECT_EQ(s->VyrGetCropID(2, 1), 0u);
    EXPECT_EQ(s->VyrGetCropID(1, 1), 0u);
    uint8_t expected[30] = {};
    expected[(4 * 40 + 0) / 8] |= 1 << ((4 * 40 + 0) % 8);
    expected[(4 * 40 + 2) / 8] |= 1 << ((4 * 40 + 2) % 8);
    EXPECT_EQ(0, memcmp(expected, g_cut_source_state, sizeof expected));
    EXPECT_EQ(s->u16(kCropBase + 10), uint16_t(0x8000 | 99 << 8 | 200)) << "stored bytes are kept";
}

TEST(StoreCrops, AddFillsTheGapAndStopsWhenFull)
{
    VyrRamPara* s = freshStore();
    c331_manage* scaler = c331_manage::p_c331_manage;
    clearCrops(s);
    putCrop(s, 0, 4, 1);
    putCrop(s, 1, 4, 3);
    // The bitmap is stale on purpose: the table was rewritten without a rebuild.
    memset(g_cut_source_state, 0, sizeof g_cut_source_state);
    CROP_PARA in{0, 10, 20, 300, 400};
    EXPECT_EQ(s->VyrAddNewCrop(4, &in), 0);
    EXPECT_EQ(s->u16(kCropBase + 20), 0x8104) << "crop 2 of source 4 in the first free entry";
    EXPECT_EQ(s->u16(kCropBase + 26), 300);
    EXPECT_EQ(scaler->change_flag, 1);

    for (uint32_t k = 0; k < kCropCount; ++k)
        putCrop(s, int(k), 1, int(k) + 1);
    std::vector<uint8_t> before(s->block + kCropBase, s->block + kCropBase + 400);
    scaler->change_flag = 0;
    EXPECT_EQ(s->VyrAddNewCrop(1, &in), 0) << "source 1 owns all 40: c = 0";
    EXPECT_EQ(s->VyrAddNewCrop(2, &in), 1) << "table full: the free number comes back, nothing written";
    EXPECT_EQ(0, memcmp(before.data(), s->block + kCropBase, 400));
    EXPECT_EQ(scaler->change_flag, 0);
}

TEST(StoreCrops, ImageSourceOfNthCrop)
{
    VyrRamPara* s = freshStore();
    clearCrops(s);
    putCrop(s, 5, 4, 1);
    putCrop(s, 7, 4, 3);
    s->VyrCropSourceInit();
    s->VyrSetImageSource(2, 4, 1);
    EXPECT_EQ(s->u16(kWindowBase + 26 + 8), 0x8007);
    int16_t isCrop = 0;
    int8_t index = -1;
    EXPECT_EQ(s->VyrGetImageSource(s->block, 1, &isCrop, &index, 0), 4);
    EXPECT_EQ(isCrop, 1);
    EXPECT_EQ(index, 7);
    EXPECT_EQ(c331_manage::p_c331_manage->change_flag, 1);

    // A missing crop falls back to the external input; a damaged crop index reads as no crop.
    s->VyrSetImageSource(3, 4, 2);
    EXPECT_EQ(s->u16(kWindowBase + 52 + 8), 0);
    s->setU16(kWindowBase + 8, 0x80FF);
    EXPECT_EQ(s->VyrGetImageSource(s->block, 0, &isCrop, &index, 0), 0);
    EXPECT_EQ(isCrop, 0);

    // The same lookup on a user-mode record body.
    memcpy(s->mode[0] + 2, s->block + kModeBodyStart, kModeDataSize);
    EXPECT_EQ(s->VyrGetImageSource(s->mode[0] + 2, 1, &isCrop, &index, 1), 4);
}

TEST(StoreCrops, GetSetDelete)
{
    VyrRamPara* s = freshStore();
    clearCrops(s);
    putCrop(s, 2, 3, 2, 77);
    s->VyrCropSourceInit();
    CROP_PARA out{-1, -1, -1, -1, -1};
    int index = -1;
    s->VyrGetCropPara(3, 2, &out, &index);
    EXPECT_EQ(index, 40) << "n counts set bits: there is no second crop";
    EXPECT_EQ(out.x, -1);
    s->VyrGetCropPara(3, 1, &out, &index);
    EXPECT_EQ(index, 2);
    EXPECT_EQ(out.x, 77);
    EXPECT_EQ(s->VyrGetSourceNum(3, 40), 1u);
    EXPECT_EQ(s->VyrGetSourceNum(3, 0), 0u);
    EXPECT_EQ(s->VyrGetSourceNum(3, 255), 1u);

    CROP_PARA in{0, 5, 6, 7, 8};
    s->VyrSetCropPara(3, 1, &in);
    EXPECT_EQ(s->u16(kCropBase + 20 + 2), 5);
    EXPECT_EQ(s->u16(kCropBase + 20), 0x8103) << "id word unchanged";
    s->VyrDeleteCrop(3, 1);
    EXPECT_EQ(s->u16(kCropBase + 20), 0);
    EXPECT_EQ(s->u16(kCropBase + 22), 5) << "rectangle stays";
    EXPECT_EQ(s->VyrGetCropID(3, 1), 0u);
}

TEST(StoreSetters, EdidAndLanguageAndModeIndex)
{
    VyrRamPara* s = freshStore();
    s->VyrSetEDIDPara(2, 1280, 720, 50);
    EXPECT_EQ(s->u16(0x38C), 1280);
    EXPECT_EQ(s->u16(0x390), 50);
    const std::vector<uint8_t> before(s->block, s->block + kBlockSize);
    s->VyrSetEDIDPara(6, 1, 1, 1);
    EXPECT_EQ(0, memcmp(before.data(), s->block, kBlockSize));

    EXPECT_EQ(s->VyrLanguageChanged(), 0u);
    s->block[0x300] = 1;
    EXPECT_EQ(s->VyrLanguageChanged(), 1u);
    EXPECT_EQ(g_language.load(), 1);

    s->block[0x362] = 17;
    EXPECT_EQ(s->VyrGetCurrentModeIndex(), 0u);
    s->block[0x362] = 16;
    EXPECT_EQ(s->VyrGetCurrentModeIndex(), 16u);
}

TEST(StoreModeIndex, Directions)
{
    VyrRamPara* s = freshStore();
    EXPECT_EQ(s->VyrUserModeIndex(5, 1), 256);
    s->mode[5][0] = s->mode[5][1] = 0xAA;
    EXPECT_EQ(s->VyrUserModeIndex(5, 1), 5);
    EXPECT_EQ(s->VyrUserModeIndex(5, 2), 5);
    EXPECT_EQ(s->VyrUserModeIndex(0, 0), 5);
    EXPECT_EQ(s->VyrUserModeIndex(16, 2), 5);
    EXPECT_EQ(s->VyrUserModeIndex(17, 2), 256);
    EXPECT_EQ(s->VyrUserModeIndex(16, 1), 256);
    EXPECT_EQ(s->VyrUserModeIndex(5, 7), 256);
    s->mode[9][0] = s->mode[9][1] = 0xAA;
    EXPECT_EQ(s->VyrUserModeIndex(5, 1), 9);
    EXPECT_EQ(s->VyrUserModeIndex(9, 1), 5);
    EXPECT_EQ(s->VyrUserModeIndex(9, 0), 5);
    EXPECT_EQ(s->VyrUserModeIndex(5, 0), 9);
    EXPECT_EQ(s->VyrUserModeIndex(7, 2), 9);
}

TEST(StoreSignal, EmitsFromAnyThreadWithoutHoldingTheLock)
{
    VyrRamPara* s = freshStore();
    QSignalSpy spy(s, &VyrRamPara::sig_update_para);
    // A directly connected slot that signals again must not deadlock on the emission mutex.
    int nested = 0;
    QObject::connect(s, &VyrRamPara::sig_update_para, s, [&](int code) {
        if (code == 1 && nested++ == 0)
            s->test_signal(103);
    });
    EXPECT_EQ(s->test_signal(1), 1);
    ASSERT_EQ(spy.count(), 2);
    EXPECT_EQ(spy.at(0).at(0).toInt(), 1);
    EXPECT_EQ(spy.at(1).at(0).toInt(), 103);
}

TEST(ScalerHandOverFlag, PendingRecordReplacementIsNotLowered)
{
    c331_manage* scaler = c331_manage::instanceWithoutWorker();
    {
        ScalerHandOver h;
        h.commit(2);
    }
    {
        ScalerHandOver h;
        h.commit(1);
    }
    EXPECT_EQ(scaler->change_flag, 2);
}
