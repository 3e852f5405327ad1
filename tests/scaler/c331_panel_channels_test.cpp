// Output channels of the windows: the panel grid decides which channels each window covers, a
// window sharing a channel with an earlier one is drawn on an idle channel, and the channels in use
// are enabled. Seen through the channel enables, the background set-up of the shared channels and
// the picture controls that follow each window's channels.
#include "scaler_fixture.h"

using namespace scaler_test;

namespace {

class PanelChannels : public ScalerFixture {
protected:
    void SetUp() override
    {
        ScalerFixture::SetUp();
        bringUp();
    }

    // The panel, then the windows as the window environment leaves them, then the allocation.
    void place(int ledW, int ledH, std::initializer_list<ST_RECT> windows)
    {
        ASSERT_EQ(scaler->vyrApi_PnlInit2(ledW, ledH, ledW, ledH, 0), 0);
        scaler->wincnt = int(windows.size());
        int i = 0;
        for (const ST_RECT& r : windows) {
            ST_WIN_INFO& info = scaler->gWininfo[i++];
            info.x = uint16_t(r.x), info.y = uint16_t(r.y), info.w = uint16_t(r.w), info.h = uint16_t(r.h);
            info.input = 2;
        }
        for (uint32_t k = 0; k < 8; ++k)
            preset(0x000801 + (k << 8), 0x10 | (k & 1)); // stale enables, other bits kept
        scaler->vyrApi_MultiWinChAlloc(1);
        scaler->vyrApi_MultiWinChInit();
    }

    std::string enabled()
    {
        std::string r;
        for (uint32_t k = 0; k < 8; ++k) {
            const uint32_t v = c331Chip().value(0x000801 + (k << 8));
            EXPECT_EQ(v & 0xFE, 0x10u) << "channel " << k << ": only bit 0 is the enable";
            r += (v & 1) ? '1' : '0';
        }
        return r;
    }

    // Channels lent to a second window carry the layer mark 0x55 after the background set-up.
    std::string lent()
    {
        scaler->vyrApi_SetOutBkg(0);
        std::string r;
        for (uint32_t k = 0; k < 8; ++k)
            r += c331Chip().value(0x0E0D02, 16 * k) == 0x55 ? 'L' : '.';
        return r;
    }
};

}

TEST_F(PanelChannels, WindowsCoverTheChannelsOfTheirGrid)
{
    struct Row {
        const char* what;
        int ledW, ledH;
        std::vector<ST_RECT> windows;
        const char* enabled;
    };
    // 1920 x 1080: two 1920-wide channels, one of them enough; 4096 x 2560: four 2048-wide ones.
    const Row rows[] = {
        {"full panel, one channel", 1920, 1080, {{0, 0, 1920, 1080}}, "10000000"},
        {"full LED over two channels", 4096, 2560, {{0, 0, 4096, 2560}}, "11000000"},
        {"three channel columns", 4096, 2560, {{100, 0, 4100, 2560}}, "11100000"},
        {"inside the third channel only", 4096, 2560, {{4200, 10, 300, 300}}, "00100000"},
        {"two windows side by side", 4096, 2560, {{0, 0, 2048, 2560}, {2048, 0, 2048, 2560}}, "11000000"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        ASSERT_EQ(scaler->vyrApi_PnlInit2(row.ledW, row.ledH, row.ledW, row.ledH, 0), 0);
        scaler->wincnt = int(row.windows.size());
        for (size_t i = 0; i < row.windows.size(); ++i) {
            const ST_RECT& r = row.windows[i];
            ST_WIN_INFO& info = scaler->gWininfo[i];
            info.x = uint16_t(r.x), info.y = uint16_t(r.y), info.w = uint16_t(r.w), info.h = uint16_t(r.h);
        }
        for (uint32_t k = 0; k < 8; ++k)
            preset(0x000801 + (k << 8), 0x10 | (k & 1));
        scaler->vyrApi_MultiWinChAlloc(1);
        scaler->vyrApi_MultiWinChInit();
        EXPECT_EQ(enabled(), row.enabled);
    }
}

TEST_F(PanelChannels, AWindowSharingAChannelIsDrawnOnTheFirstIdleOne)
{
    // Two full-panel windows on a one-channel panel: the second is lent channel 1.
    g_force_bkcolor = 1;
    place(1920, 1080, {{0, 0, 1920, 1080}, {0, 0, 1920, 1080}});
    EXPECT_EQ(enabled(), "11000000");
    EXPECT_EQ(lent(), ".L......");
    // used channels keep the forced green, idle ones none; every channel's background is on
    for (uint32_t k = 0; k < 8; ++k) {
        EXPECT_EQ(c331Chip().value(0x084903, 16 * k), k < 2 ? 0x00FF00u : 0u) << k;
        EXPECT_EQ(c331Chip().value(0x084801, 16 * k), 1u) << k;
    }
}

TEST_F(PanelChannels, ThreeWindowsOnOneChannelTakeTheNextIdleChannels)
{
    place(1920, 1080, {{0, 0, 1920, 1080}, {0, 0, 960, 540}, {960, 540, 960, 540}});
    EXPECT_EQ(enabled(), "11100000");
    EXPECT_EQ(lent(), ".LL.....");
}

TEST_F(PanelChannels, AWindowThatCannotBePlacedLeavesTheNextOnesTheirChannels)
{
    // Window 0 starts right of the two-channel grid: it gets nothing, window 1 still gets channel 0.
    place(1920, 1080, {{5000, 0, 100, 100}, {0, 0, 1920, 1080}});
    EXPECT_EQ(enabled(), "10000000");
    EXPECT_EQ(lent(), "........");
}

TEST_F(PanelChannels, NoWindowDisablesEveryChannel)
{
    place(1920, 1080, {});
    EXPECT_EQ(enabled(), "00000000");
}

TEST_F(PanelChannels, WithoutIdleChannelsAWindowKeepsTheSharedOnes)
{
    // Six windows over the first two of four channels: three are lent channels 2-7, the last two
    // find none idle and stay on channels 0 and 1.
    const ST_RECT twoChannels = {0, 0, 4096, 2560};
    place(4096, 2560, {twoChannels, twoChannels, twoChannels, twoChannels, twoChannels, twoChannels});
    EXPECT_EQ(enabled(), "11111111");
    EXPECT_EQ(lent(), "..LLLLLL");
}
