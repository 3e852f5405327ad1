#include "base/bytes.h"
#include "scaler/c331_manage.h"
#include "base/global.h"
#include "test_root.h"
#include "params/vyrrampara.h"
#include "store_face.h"

#include <QSignalSpy>
#include <gtest/gtest.h>
#include <atomic>
#include <cstring>
#include <thread>
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

// The factory defaults, row by row as the block table gives them (block offset, u16 value); every
// byte not named here is 0. Offsets are written out, not taken from the layout header, so a wrong
// name there is caught too.
static std::vector<uint8_t> expectedDefaultFile()
{
    std::vector<uint8_t> f(4096, 0);
    auto u8 = [&f](uint32_t block, uint8_t v) { f[block - 0x300 + 2] = v; };
    auto u16 = [&f](uint32_t block, uint16_t v) {
        f[block - 0x300 + 2] = uint8_t(v);
        f[block - 0x300 + 3] = uint8_t(v >> 8);
    };
    f[0] = 0xAA;
    f[1] = 0xAA;
    u8(0x302, 100);
    const uint16_t edid[6][3] = {{1920, 1080, 60}, {1920, 1080, 60}, {1920, 1080, 60},
                                 {1920, 1080, 60}, {3840, 2160, 60}, {3840, 2160, 60}};
    for (uint32_t i = 0; i < 6; ++i)
        for (uint32_t k = 0; k < 3; ++k)
            u16(0x380 + 6 * i + 2 * k, edid[i][k]);
    const struct {
        uint32_t offset;
        uint16_t value;
    } words[] = {
        {0x562, 1920}, {0x564, 1080}, {0x566, 0},    {0x568, 0},    {0x56A, 1},   {0x56C, 1},
        {0x56E, 1920}, {0x570, 1080}, {0x584, 1920}, {0x586, 1080}, {0x58C, 1920}, {0x58E, 1080},
        {0x880, 100},  {0x882, 50},   {0x884, 10},   {0x886, 50},   {0x888, 2},
        {0x88A, 64},   {0x88C, 64},   {0x88E, 64},   {0x8DE, 1},
    };
    for (const auto& w : words)
        u16(w.offset, w.value);
    for (uint32_t k = 0; k < 64; ++k) { // 64 crop slots up to 0x83F: not in use, 0, 0, 1920, 1080
        u16(0x5C0 + 10 * k, 0x0002);
        u16(0x5C0 + 10 * k + 6, 1920);
        u16(0x5C0 + 10 * k + 8, 1080);
    }
    for (uint32_t w = 0; w < 16; ++w)
        u16(0x8A0 + 2 * w, uint16_t(w));
    const uint16_t windows[6][6] = {// state, source, x, y, width, height
                                    {1, 2, 0, 0, 1920, 1080}, {0, 5, 0, 0, 1920, 1080}, {0, 3, 0, 0, 1920, 1080},
                                    {0, 4, 0, 0, 1920, 1080}, {0, 1, 0, 0, 1920, 1080}, {0, 0, 0, 0, 1920, 1080}};
    const uint32_t fields[6] = {0, 8, 10, 12, 14, 16};
    for (uint32_t w = 0; w < 6; ++w)
        for (uint32_t k = 0; k < 6; ++k)
            u16(0x8E0 + 26 * w + fields[k], windows[w][k]);
    return f;
}

TEST(StoreStart, DefaultsAreExactlyTheBlockTable)
{
    const std::vector<uint8_t> expected = expectedDefaultFile();
    for (uint32_t i = 0; i < 4096; ++i)
        EXPECT_EQ(default_para_ramlist[i], expected[i]) << "file byte " << i << ", block offset 0x" << std::hex << i + 0x2FE;

    VyrRamPara* s = freshStore();
    const QByteArray file = TestRoot::readFile("/data/ram_device_info");
    ASSERT_EQ(file.size(), 4096);
    EXPECT_EQ(0, memcmp(file.constData(), expected.data(), 4096)) << "the file a first start creates";
    // After start: the defaults as the file holds them.
    std::vector<uint8_t> block(expected.begin() + 2, expected.begin() + 2 + 3328);
    for (uint32_t b = 0x300; b < 0x1000; ++b)
        EXPECT_EQ(testBlock(s)[b], block[b - 0x300]) << "block offset 0x" << std::hex << b;
}

TEST(StoreStart, StartClearsItsFieldsAndPublishesTheStatusBytes)
{
    // A saved file with every start-cleared field set: test pattern, current mode, the request's
    // high byte and the black screen; the splice and fade times it keeps, a fade no scaler runs.
    std::vector<uint8_t> file = expectedDefaultFile();
    auto at = [&file](uint32_t block) -> uint8_t& { return file[block - 0x300 + 2]; };
    at(0x360) = 3;
    at(0x361) = 4;
    at(0x362) = 5;
    at(0x363) = 6;
    at(0x364) = 7;
    at(0x365) = 8;
    at(0x844) = 1;
    at(0x845) = 1;
    at(0x560) = 2;
    at(0x561) = 2;
    at(0xB00) = 9;
    at(0xB01) = 9;   // 2313
    at(0xB04) = 255; // window 1's fade-in, the scaler's longest
    at(0xB07) = 1;   // its fade-out 256
    at(0xB3E) = 9;
    at(0x300) = 3;
    ASSERT_TRUE(TestRoot::writeFile("/data/ram_device_info", QByteArray(reinterpret_cast<const char*>(file.data()), 4096)));
    VyrRamPara* s = freshStore();
    for (uint32_t b : {0x360u, 0x361u, 0x362u, 0x363u, 0x365u, 0x844u, 0x845u})
        EXPECT_EQ(testBlock(s)[b], 0) << std::hex << b;
    EXPECT_EQ(testBlock(s)[0x364], 7) << "only the request's high byte is cleared";
    EXPECT_EQ(std::vector<uint16_t>({s->u16(0x560), s->u16(0xB00), s->u16(0xB04), s->u16(0xB06), s->u16(0xB3E)}),
              std::vector<uint16_t>({0x0202, 60, 255, 60, 9})) << "splice; fades of windows 0, 1 and 15";
    EXPECT_EQ(g_language.load(), 3);
    EXPECT_EQ(0, memcmp(testBlock(s), s->shadow, kBlockSize));
    EXPECT_EQ(s->image[0x25], 0x80);
    EXPECT_EQ(s->image[0x26], 0x1F);
    EXPECT_EQ(s->image[0x27], 0x07);
    for (uint32_t i = 0x28; i < 0x425; ++i)
        ASSERT_EQ(s->image[i], 0) << std::hex << i;
    for (uint32_t m = 0; m < kModeCount; ++m)
        EXPECT_FALSE(s->VyrUserModeSaved(m));
}

TEST(StoreProtocolWrites, BlockBounds)
{
    VyrRamPara* s = freshStore();
    const std::vector<uint8_t> data(16, 0x5A);
    const std::vector<uint8_t> before(testBlock(s), testBlock(s) + kBlockSize);
    EXPECT_EQ(s->VyrRamParaDeal(data.data(), 10, 4090), 1u);
    EXPECT_EQ(0, memcmp(before.data(), testBlock(s), kBlockSize));
    EXPECT_EQ(s->VyrRamParaDeal(data.data(), 6, 4090), 0u);
    EXPECT_EQ(testBlock(s)[4095], 0x5A);
    EXPECT_EQ(s->VyrRamParaDeal(data.data(), 0, 4096), 0u);
    // Offsets near 2^32 must not wrap the bound check.
    EXPECT_EQ(s->VyrRamParaDeal(data.data(), 16, 0xFFFFFFF8u), 1u);
    s->setU16(0xFFFFFFFEu, 0x1234);
    EXPECT_EQ(s->u16(0xFFFFFFFEu), 0);
    EXPECT_EQ(s->u16(kBlockSize - 1), 0);
    // The input drivers' writer reaches nothing past their records.
    const std::vector<uint8_t> head(testBlock(s), testBlock(s) + blk::kInputResolutionEnd + 4);
    s->setInputRecord(blk::kInputResolutionEnd - 2, data.data(), 4);
    s->setInputRecord(0xFFFFFFFEu, data.data(), 4);
    EXPECT_EQ(0, memcmp(head.data(), testBlock(s), head.size()));
    EXPECT_EQ(c331_manage::p_c331_manage->change_flag, 0) << "raw copies are not handed over";
}

TEST(StoreProtocolWrites, UserModeRecords)
{
    VyrRamPara* s = freshStore();
    const uint8_t markers[2] = {0xAA, 0xAA};
    EXPECT_EQ(s->VyrModeUserRamParaDeal(markers, 2, 0x1000), 0u);
    EXPECT_EQ(s->recordByte(0, 0), 0xAA) << "read back as written";
    EXPECT_FALSE(s->VyrUserModeSaved(0)) << "saved only at register 11 bit 2";
    EXPECT_EQ(s->VyrModeUserRamParaDeal(markers, 2, 0x11000), 1u); // mode 17
    EXPECT_EQ(s->VyrModeUserRamParaDeal(markers, 2, 0x0FFE), 1u);  // mode 0

    // A write may end at the record's 4096-byte window, never beyond it.
    std::vector<uint8_t> data(64, 0x33);
    EXPECT_EQ(s->VyrModeUserRamParaDeal(data.data(), 64, 0x3000 + 4096 - 32), 1u);
    EXPECT_NE(s->recordByte(3, 0), 0x33);
    EXPECT_EQ(s->VyrModeUserRamParaDeal(data.data(), 32, 0x3000 + 4096 - 32), 0u);
    EXPECT_EQ(s->recordByte(2, 4095), 0x33);
    EXPECT_EQ(s->recordByte(2, 4096), 0) << "the last two body bytes stay untouched";
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
    std::vector<uint8_t> before(testBlock(s) + kCropBase, testBlock(s) + kCropBase + 400);
    scaler->change_flag = 0;
    EXPECT_EQ(s->VyrAddNewCrop(1, &in), 0) << "source 1 owns all 40: c = 0";
    EXPECT_EQ(s->VyrAddNewCrop(2, &in), 1) << "table full: the free number comes back, nothing written";
    EXPECT_EQ(0, memcmp(before.data(), testBlock(s) + kCropBase, 400));
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
    EXPECT_EQ(s->VyrGetImageSource(testBlock(s), 1, &isCrop, &index, 0), 4);
    EXPECT_EQ(isCrop, 1);
    EXPECT_EQ(index, 7);
    EXPECT_EQ(c331_manage::p_c331_manage->change_flag, 1);

    // A missing crop falls back to the external input; a damaged crop index reads as no crop.
    s->VyrSetImageSource(3, 4, 2);
    EXPECT_EQ(s->u16(kWindowBase + 52 + 8), 0);
    s->setU16(kWindowBase + 8, 0x80FF);
    EXPECT_EQ(s->VyrGetImageSource(testBlock(s), 0, &isCrop, &index, 0), 0);
    EXPECT_EQ(isCrop, 0);

    // The same lookup on a user-mode record body.
    memcpy(s->mode[0] + 2, testBlock(s) + kModeBodyStart, kModeDataSize);
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
    const std::vector<uint8_t> before(testBlock(s), testBlock(s) + kBlockSize);
    s->VyrSetEDIDPara(6, 1, 1, 1);
    EXPECT_EQ(0, memcmp(before.data(), testBlock(s), kBlockSize));

    EXPECT_EQ(s->VyrLanguageChanged(), 0u);
    testBlock(s)[0x300] = 1;
    EXPECT_EQ(s->VyrLanguageChanged(), 1u);
    EXPECT_EQ(g_language.load(), 1);

    testBlock(s)[0x362] = 17;
    EXPECT_EQ(s->VyrGetCurrentModeIndex(), 0u);
    testBlock(s)[0x362] = 16;
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

TEST(StoreConcurrency, PanelCropAndLanguageReadsDoNotRaceProtocolWrites)
{
    // The panel works on crops and the language while protocol threads copy into the same bytes;
    // under the thread sanitizer any unguarded read or write here is reported.
    VyrRamPara* s = freshStore();
    clearCrops(s);
    std::atomic<bool> stop{false};
    std::thread protocol([&] {
        uint8_t bytes[10] = {0x02, 0x00, 0, 0, 0, 0, 0x80, 0x07, 0x38, 0x04};
        for (int i = 0; !stop.load(); ++i) {
            bytes[2] = uint8_t(i);
            s->VyrRamParaDeal(bytes, 10, 0x5C0 + 10 * uint32_t(i % 40));
            const uint8_t language[2] = {uint8_t(i % 5), 0};
            s->VyrRamParaDeal(language, 2, 0x300);
        }
    });
    const CROP_PARA rect{0, 10, 20, 300, 200};
    for (int i = 0; i < 200; ++i) {
        s->VyrAddNewCrop(uint8_t(i % 6), &rect);
        s->VyrGetSourceNum(uint8_t(i % 6), 40);
        CROP_PARA out{};
        int index = 0;
        s->VyrGetCropPara(uint8_t(i % 6), 1, &out, &index);
        s->VyrSetCropPara(uint8_t(i % 6), 1, &rect);
        s->VyrDeleteCrop(uint8_t(i % 6), 1);
        s->VyrLanguageChanged();
        s->VyrGetCurrentModeIndex();
    }
    stop = true;
    protocol.join();
    EXPECT_LE(s->VyrGetSourceNum(0, 40), 40u);
}
