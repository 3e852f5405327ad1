#include "ite6805_fixture.h"

#include <vector>

// Output lane mode, colour conversion and audio of the iTE6805 driver.
namespace {

using namespace ite6805_test;
using Ite6805Output = Ite6805Fixture;

// The 22 bytes the last block write put into 1:70-1:85, or nothing.
std::vector<uint8_t> lastCscRow(const Ite6805Chip& chip)
{
    const auto w = chip.writes();
    for (size_t i = w.size(); i-- > 0;) {
        if (w[i].bank == 1 && w[i].address == 0x70 && i + 22 <= w.size()) {
            std::vector<uint8_t> row;
            for (size_t k = 0; k < 22; ++k)
                row.push_back(w[i + k].value);
            return row;
        }
    }
    return {};
}

TEST_F(Ite6805Output, LaneModeFollowsClockWidthAndAlignment)
{
    struct Row {
        const char* name;
        HdmiTiming t;
        int lane;
    };
    const Row rows[] = {
        {"1920 wide, 148.5 MHz", P1080p60, 2},
        {"2560 wide, 241.5 MHz, multiples of 4", make(2560, 48, 32, 80, 1440, 3, 5, 33, 241500), 4},
        {"the same with a front porch of 50", make(2560, 50, 32, 80, 1440, 3, 5, 33, 241500), 2},
        {"above 320 MHz", P2160p60, 8},
        {"80 MHz or less", make(1280, 110, 40, 220, 720, 5, 5, 20, 74250), 1},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        chip(0).disconnect();
        run(0, 2);
        chip(0).connect(row.t);
        run(0, 12);
        ASSERT_EQ(s->data[0].STATEV, STATEV_VidStable);
        scalerTakes(5);
        run(0, 1, 501);
        EXPECT_EQ(record(4).lane, row.lane);
        EXPECT_EQ(chip(0).reg(5, 0xC0) & 0xF0, 0x40 + 16 * (row.lane == 8 ? 3 : row.lane / 2));
    }
}

TEST_F(Ite6805Output, YcbcrInputIsConvertedWithTheRowOfItsColorimetry)
{
    const std::vector<uint8_t> bt601 = {0x04, 0x00, 0xa7, 0x4f, 0x09, 0x81, 0x39, 0xdd, 0x3c, 0x4f, 0x09,
                                        0xc4, 0x0c, 0x01, 0x00, 0x4f, 0x09, 0xfd, 0x3f, 0x1f, 0x10, 0x00};
    const std::vector<uint8_t> bt709 = {0x04, 0x00, 0xa7, 0x4f, 0x09, 0xba, 0x3b, 0x4b, 0x3e, 0x4f, 0x09,
                                        0x57, 0x0e, 0x02, 0x00, 0x4f, 0x09, 0xfe, 0x3f, 0xe8, 0x10, 0x00};
    const std::vector<uint8_t> bt2020 = {0x04, 0x00, 0xa7, 0x4f, 0x09, 0xcc, 0x3a, 0x7e, 0x3e, 0x4f, 0x09,
                                         0x69, 0x0d, 0x0b, 0x00, 0x4f, 0x09, 0xfe, 0x3f, 0x1d, 0x11, 0x00};
    struct Row {
        const char* name;
        uint8_t b15, b16, b17;
        const std::vector<uint8_t>* csc; // nullptr: RGB, no conversion
    };
    const Row rows[] = {
        {"4:2:2, extended colorimetry 6", 0x20, 0xC0, 0x60, &bt2020},
        {"4:4:4, extended colorimetry 5", 0x40, 0xC0, 0x50, &bt2020},
        {"4:4:4, extended colorimetry 4", 0x40, 0xC0, 0x40, &bt601},
        {"4:2:2, BT.709", 0x20, 0x80, 0x00, &bt709},
        {"4:2:2, BT.601", 0x20, 0x40, 0x00, &bt601},
        {"4:4:4, no colorimetry", 0x40, 0x00, 0x00, &bt601},
        {"RGB", 0x00, 0x80, 0x00, nullptr},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        chip(0).disconnect();
        run(0, 2);
        chip(0).clearLog();
        chip(0).setAvi(row.b15, row.b16, row.b17, 16);
        chip(0).connect(P1080p60);
        run(0, 12);
        ASSERT_EQ(s->data[0].STATEV, STATEV_VidStable);
        if (row.csc) {
            EXPECT_EQ(lastCscRow(chip(0)), *row.csc);
            EXPECT_EQ(chip(0).reg(0, 0x6C) & 0x03, 0x03);
        } else {
            EXPECT_TRUE(lastCscRow(chip(0)).empty());
            EXPECT_EQ(chip(0).reg(0, 0x6C) & 0x03, 0x00);
            EXPECT_EQ(chip(0).reg(1, 0x85), 0x00);
        }
        EXPECT_EQ(chip(0).reg(0, 0x6B) & 0x30, row.b15 & 0x60 ? (row.b15 >> 1) & 0x30 : 0);
    }
}

TEST_F(Ite6805Output, RgbQuantisationDefaultsByVideoCode)
{
    struct Row {
        uint8_t vic, b17;
        uint8_t range;
    };
    const Row rows[] = {{16, 0x00, 1}, {0, 0x00, 2}, {1, 0x00, 2}, {16, 0x08, 2}, {0, 0x04, 1}};
    run(0, 1);
    for (const Row& row : rows) {
        SCOPED_TRACE(int(row.vic));
        chip(0).setAvi(0x00, 0x00, row.b17, row.vic);
        s->drv->iTE6805_Get_AVIInfoFrame_Info(0);
        EXPECT_EQ(s->data[0].RGBQuantization, row.range);
        EXPECT_EQ(s->data[0].VIC, row.vic);
    }
}

TEST_F(Ite6805Output, SampleRateNeedsSixtyFourBitsAtHdmi2Clocks)
{
    // 594 MHz x 6144 is above 2^32
    EXPECT_EQ(ite6805_drv::iTE6805_Audio_Fs_kHz(594000, 6144, 594000), 48u);
    EXPECT_EQ(ite6805_drv::iTE6805_Audio_Fs_kHz(594000, 5880, 562500), 48u); // 44.1 kHz's N, odd CTS
    EXPECT_EQ(ite6805_drv::iTE6805_Audio_Fs_kHz(148500, 24576, 148500), 192u);
    EXPECT_EQ(ite6805_drv::iTE6805_Audio_Fs_kHz(594000, 6144, 0), 0u);
}

// Each range of the sampling-rate table at both of its edges; 0xFF: no code (the previous stays).
TEST(Ite6805FsCode, EveryRangeAtItsEdges)
{
    const std::pair<uint32_t, uint8_t> rows[] = {
        {25, 0xFF},   {26, 0x03},   {38, 0x03},   {39, 0x00},   {45, 0x00},   {46, 0x02},   {58, 0x02},
        {59, 0x0B},   {78, 0x0B},   {79, 0x08},   {91, 0x08},   {92, 0x0A},   {106, 0x0A},  {107, 0x2B},
        {166, 0x2B},  {167, 0x0C},  {182, 0x0C},  {183, 0x0E},  {202, 0x0E},  {203, 0xFF},  {224, 0xFF},
        {225, 0x1B},  {320, 0x1B},  {321, 0x05},  {448, 0x05},  {449, 0x3B},  {638, 0x3B},  {639, 0x09},
        {894, 0x09},  {895, 0x35},  {1324, 0x35}, {1325, 0xFF}, {0, 0xFF},
    };
    for (const auto& [khz, code] : rows)
        EXPECT_EQ(ite6805_drv::iTE6805_Fs_Code(khz), code) << khz << " kHz";
}

TEST_F(Ite6805Output, AudioStreamComesOnWithTheCodeOfItsRate)
{
    chip(0).setAudio(6144, 594000, 0x02); // 48 kHz; the chip agrees
    chip(0).connect(P2160p60);
    run(0, 20);
    ASSERT_EQ(s->data[0].STATEV, STATEV_VidStable);
    EXPECT_EQ(s->data[0].STATEA, STATEA_AudioOn);
    EXPECT_EQ(s->drv->audioN[0], 6144u);
    EXPECT_EQ(s->drv->audioCTS[0], 594000u);
    EXPECT_EQ(s->data[0].MeasuredFs, 0x02);
    EXPECT_EQ(s->data[0].AudioChannels, 2);
    EXPECT_EQ(chip(0).reg(1, 0xC7), 0x00) << "audio outputs on";
    EXPECT_EQ(chip(0).reg(0, 0x86) & 0x01, 0x01);
    EXPECT_EQ(chip(0).reg(0, 0x81) & 0x40, 0x00) << "no forced rate";
}

TEST_F(Ite6805Output, PersistentRateDisagreementForcesTheComputedCode)
{
    chip(0).setAudio(6144, 594000, 0x00); // 48 kHz sent, the chip says 44.1 kHz
    chip(0).connect(P2160p60);
    run(0, 20);
    ASSERT_EQ(s->data[0].STATEA, STATEA_AudioOn);
    ASSERT_EQ(s->cnt[0].FsMismatch, 1) << "checked once when the audio came on";
    for (int i = 0; i < 14; ++i) { // every audio interrupt checks again
        chip(0).poke(0, 0x10, 0x80);
        run(0, 1);
    }
    EXPECT_EQ(chip(0).reg(0, 0x81) & 0x40, 0x00) << "fifteen disagreements are tolerated";
    chip(0).poke(0, 0x10, 0x80);
    run(0, 1);
    EXPECT_EQ(chip(0).reg(0, 0x81) & 0x40, 0x40);
    EXPECT_EQ(chip(0).reg(0, 0x8A) & 0x3F, 0x02);
}

TEST_F(Ite6805Output, RateWithoutACodeKeepsThePreviousOne)
{
    chip(0).setAudio(6144, 594000, 0x02);
    chip(0).connect(P2160p60);
    run(0, 20);
    ASSERT_EQ(s->data[0].AudioFs, 0x02);
    chip(0).setAudio(6144 * 210 / 48, 594000, 0x02); // 210 kHz: between the 0x0E and 0x1B ranges
    chip(0).poke(0, 0x10, 0x80);
    run(0, 1);
    EXPECT_GE(s->drv->audioFsKHz[0], 203u); // the measured TMDS clock is a little below 594 MHz
    EXPECT_LE(s->drv->audioFsKHz[0], 224u);
    EXPECT_EQ(s->data[0].AudioFs, 0x02);
    chip(0).setAudio(6144 * 200 / 48, 594000, 0x0E); // 200 kHz has its code
    chip(0).poke(0, 0x10, 0x80);
    run(0, 1);
    EXPECT_EQ(s->data[0].AudioFs, 0x0E);
}

TEST_F(Ite6805Output, UnlockedOutputPllIsLoggedAndTheSetUpGoesOn)
{
    chip(0).setPllLock(false);
    chip(0).connect(P1080p60);
    run(0, 12);
    EXPECT_EQ(s->data[0].STATEV, STATEV_VidStable);
    EXPECT_TRUE(logHas("iTE6805 device 0: output PLL not locked after 500 tries, going on"));
    EXPECT_EQ(blockOf(4), le(1920, 1080, 60));
}

} // namespace
