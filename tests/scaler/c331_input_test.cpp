// Input capture setters on the simulated chip: routing group, shrink filters, the de-interlacer and
// noise stages, V-by-One receiver waits, the input frame wait, backgrounds and capture rectangles.
#include "scaler_fixture.h"

#include <algorithm>
#include <cstring>
#include <functional>

using namespace scaler_test;
using Transfer = platform::Sim::C331Chip::Transfer;

namespace {

size_t readsOf(uint8_t bank, uint8_t addr)
{
    size_t n = 0;
    for (const Transfer& t : c331Chip().log())
        n += t.kind == Transfer::Read && t.bank == bank && t.addr == addr;
    return n;
}

size_t writesInBank(uint8_t bank)
{
    size_t n = 0;
    for (const Transfer& t : c331Chip().log())
        n += t.kind == Transfer::Write && t.bank == bank;
    return n;
}

class InputPipeline : public ScalerFixture {
protected:
    // Window w in use on port p, shown by output channel o.
    void showWindow(int w, int p, int o)
    {
        scaler->PM_WIN_SHAPE[w][0] = scaler->PM_WIN_SHAPE[w][1] = 1;
        scaler->PM_INPUT[w] = p;
        scaler->PM_WIN_NUM[o] = w;
    }
    void clearOutputs()
    {
        for (int o = 0; o < 8; ++o)
            scaler->PM_WIN_NUM[o] = 6;
    }
};

}

TEST_F(InputPipeline, RoutingGroupByModeAndBracketedByTheUpdateBit)
{
    const struct {
        int mode;
        uint8_t group[7];
    } rows[] = {
        {0, {0, 0, 0, 0, 0, 0, 0}},
        {1, {0x99, 0x99, 0x21, 0x43, 0x55, 0x77, 0x99}},
        {2, {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}},
        {3, {0xFF, 0xFF, 0x21, 0x43, 0x55, 0x77, 0xFF}},
        {4, {0x99, 0x99, 0xFF, 0xFF, 0xFF, 0xFF, 0x99}},
        {-1, {0x99, 0x99, 0xFF, 0xFF, 0xFF, 0xFF, 0x99}},
    };
    for (const auto& r : rows) {
        preset(0x002901, 0x40);
        c331Chip().clearLog();
        scaler->set_rtct(scaler->c331_fd, r.mode);
        for (uint32_t i = 0; i < 7; ++i)
            EXPECT_EQ(c331Chip().value((0x22 + i) << 8 | 1), r.group[i]) << "mode " << r.mode << " reg " << i;
        EXPECT_EQ(c331Chip().value(0x002901), 0x40u) << "bit 0 cleared again, the other bits kept";
        const auto update = c331Chip().writesTo(0x002901);
        const auto first = c331Chip().writesTo(0x002201);
        ASSERT_EQ(update.size(), 2u);
        ASSERT_EQ(first.size(), 1u);
        EXPECT_EQ(update[0].value, 0x41);
        EXPECT_LT(update[0].seq, first[0].seq);
        EXPECT_GT(update[1].seq, c331Chip().writesTo(0x002801)[0].seq);
    }
}

TEST_F(InputPipeline, HorizontalShrinkFilterIndexByRatio)
{
    const struct {
        int ratio;
        uint32_t index;
    } rows[] = {{0, 44}, {1, 1}, {13107, 1}, {13108, 2}, {26215, 4}, {32768, 4}, {32769, 6}, {49152, 12},
                {62259, 32}, {62260, 38}, {65000, 38}, {65001, 44}, {65536, 44}};
    for (const auto& r : rows) {
        scaler->set_lut_hshrnk(scaler->c331_fd, r.ratio, 3, 0);
        EXPECT_EQ(c331Chip().value(0x007901), r.index) << "ratio " << r.ratio;
        EXPECT_EQ(c331Chip().value(0x007A01), 4u * 3 + 131);
    }
    c331Chip().clearLog();
    scaler->set_lut_hshrnk(scaler->c331_fd, 30000, 2, 1);
    const auto lut = c331Chip().writesTo(0x007A01);
    ASSERT_EQ(lut.size(), 2u);
    EXPECT_EQ(lut[0].value, 4 * 2 + 131);
    EXPECT_EQ(lut[1].value, 4 * 2 + 135) << "split: the second channel's table too";
}

TEST_F(InputPipeline, ShrinkSplitOnTheLastChannelIsRefused)
{
    // A split needs channel c + 1; for channel 7 that would be a ninth channel (bank 0x91).
    c331Chip().clearLog();
    scaler->set_lut_vshrnk_4sym(scaler->c331_fd, 0x8000, 7, 1);
    scaler->set_lut_hshrnk(scaler->c331_fd, 0x8000, 7, 1);
    EXPECT_EQ(writesInBank(0x91), 0u);
    EXPECT_TRUE(c331Chip().writesTo(0x007A01).empty());
    EXPECT_TRUE(c331Chip().writesTo(0x116801, 16 * 7).empty());

    scaler->set_lut_vshrnk_4sym(scaler->c331_fd, 0x8000, 7, 0);
    EXPECT_EQ(c331Chip().writesTo(0x117F01, 16 * 7).size(), 1u) << "without split channel 7 is fine";
}

TEST_F(InputPipeline, VerticalShrinkCoefficientSetByRatio)
{
    const uint8_t set9[16] = {252, 247, 243, 241, 241, 244, 249, 0, 9, 21, 35, 47, 57, 64, 66, 64};
    const uint8_t set1[16] = {13, 14, 14, 14, 15, 15, 16, 20, 16, 16, 16, 18, 19, 19, 19, 24};
    for (const auto& [ratio, set] : {std::pair<int, const uint8_t*>{0xF334, set9}, {0xFFFF, set9}, {0x3333, set1}, {0, set1}}) {
        for (uint32_t ch : {4u, 5u})
            for (uint32_t i = 0; i < 24; ++i)
                preset(0x116801 + (i << 8), 0xAA, 16 * ch);
        scaler->set_lut_vshrnk_4sym(scaler->c331_fd, ratio, 4, 1);
        for (uint32_t ch : {4u, 5u}) {
            for (uint32_t i = 0; i < 8; ++i)
                EXPECT_EQ(c331Chip().value(0x116801 + (i << 8), 16 * ch), 0u) << ratio << " " << i;
            for (uint32_t i = 0; i < 16; ++i)
                EXPECT_EQ(c331Chip().value(0x117001 + (i << 8), 16 * ch), set[i]) << std::hex << ratio << " " << i;
        }
    }
}

TEST_F(InputPipeline, StageSettersLeaveChannelsFourToSevenAlone)
{
    scaler->PM_INPUT[0] = 0;
    scaler->PI_STATE[0] = c331in::STATE_I1125_HIGH;
    scaler->PI_SCAN_MODE[0] = 1;
    scaler->PM_BNR[0] = scaler->PM_TNR[0] = scaler->PM_DIAG[0] = scaler->PM_COMB[0] = scaler->PM_MVFLT[0] = 2;
    for (int c = 4; c < 8; ++c)
        scaler->g_ich_owner[c] = 0;
    const auto before = c331Chip().snapshot();
    for (int c = 4; c < 8; ++c) {
        scaler->set_ip(scaler->c331_fd, c);
        scaler->set_nr(scaler->c331_fd, c, 0);
        scaler->set_diag(scaler->c331_fd, c, 0);
        scaler->set_mvflt(scaler->c331_fd, c, 0);
        scaler->set_ipregs(scaler->c331_fd, c, 0);
    }
    EXPECT_TRUE(c331Chip().diff(before).empty());
}

TEST_F(InputPipeline, DeinterlacerTakesTheChannelsLineCountsClamped)
{
    scaler->PM_INPUT[1] = 0;
    scaler->g_ich_owner[2] = 1;
    scaler->PI_STATE[0] = c331in::STATE_PROGRESSIVE;
    scaler->PM_HNR[0] = 1;
    const int act[4] = {192, 1920, 41, 1080};
    memcpy(scaler->PI_ACT[0], act, sizeof act);

    preset(0xA80802 + 0x600 * 2, 1124);
    preset(0xA80A02 + 0x600 * 2, 2199);
    scaler->set_ip(scaler->c331_fd, 2);
    EXPECT_EQ(c331Chip().value(0x140802, 32), 1125u + 32);
    EXPECT_EQ(c331Chip().value(0x140A02, 32), (2199u + 16) * 2);
    EXPECT_EQ(c331Chip().value(0x146D02, 32), ((1158u * 3 / 4) & 0x3FFF) | 0x8000);
    EXPECT_EQ(c331Chip().value(0x140F02, 32), 1920u);
    EXPECT_EQ(c331Chip().value(0x141102, 32), 41u | 0x8000);
    EXPECT_EQ(c331Chip().value(0x142A01, 32), 16u);
    EXPECT_EQ(c331Chip().value(0x165B01, 32), 0u);
    EXPECT_EQ(c331Chip().value(0x150801, 32), 1u) << "horizontal noise reduction only: mode 1";
    EXPECT_EQ(c331Chip().value(0x171804, 32), c331Chip().value(0x172004, 32)) << "progressive: first store twice";

    // A dead counter reads 0xFFFF: the register keeps its maximum instead of wrapping to 32.
    preset(0xA80802 + 0x600 * 2, 0xFFFF);
    preset(0xA80A02 + 0x600 * 2, 0xFFFF);
    scaler->set_ip(scaler->c331_fd, 2);
    EXPECT_EQ(c331Chip().value(0x140802, 32), 0xFFFFu);
    EXPECT_EQ(c331Chip().value(0x140A02, 32), 0xFFFFu);

    // Interlaced: fields halve the count, the active height and start double.
    scaler->PI_SCAN_MODE[0] = 1;
    scaler->PI_STATE[0] = c331in::STATE_I1125_HIGH;
    scaler->PM_IPEN[0] = 1;
    preset(0xA80802 + 0x600 * 2, 562);
    scaler->set_ip(scaler->c331_fd, 2);
    EXPECT_EQ(c331Chip().value(0x140802, 32), (563u + 1) / 2 + 32);
    EXPECT_EQ(c331Chip().value(0x141302, 32), 2160u);
    EXPECT_EQ(c331Chip().value(0x141102, 32), 82u | 0x8000);
    EXPECT_EQ(c331Chip().value(0x142A01, 32), 0u);
    EXPECT_EQ(c331Chip().value(0x146701, 32), 8u);
    EXPECT_EQ(c331Chip().value(0x165B01, 32), 1u);
    EXPECT_EQ(c331Chip().value(0x150801, 32), 0u) << "no noise-reduction mode on an interlaced port";
    EXPECT_EQ(c331Chip().value(0x171C04, 32), uint32_t(scaler->PS_MEM_IP_I[2][0]));
    EXPECT_EQ(c331Chip().value(0x171804, 32),
              uint32_t(scaler->PS_MEM_IP_I[2][0] + ((scaler->PS_MWI_IP[2] & 31) << 10)));
}

TEST_F(InputPipeline, BlockNoiseTableByActiveHeight)
{
    scaler->PI_STATE[1] = c331in::STATE_PROGRESSIVE;
    scaler->PM_BNR[1] = 2;
    const struct {
        int height;
        uint32_t strength; // 0x1539, 0x5A5A: untouched
        bool secondGroup;
    } rows[] = {{1080, 8855, true}, {540, 8855, false}, {720, 6641, true}, {1024, 0x5A5A, false}};
    for (const auto& r : rows) {
        scaler->PI_ACT[1][3] = r.height;
        preset(0x153902, 0x5A5A);
        preset(0x154D02, 0);
        scaler->set_nr_block(scaler->c331_fd, 0, 1);
        EXPECT_EQ(c331Chip().value(0x153902), r.strength) << r.height;
        EXPECT_EQ(c331Chip().value(0x154D02), r.secondGroup ? 384u : 0u) << r.height;
    }
    scaler->PI_ACT[1][3] = 1080;
    scaler->PM_BNR[1] = 3;
    scaler->set_nr_block(scaler->c331_fd, 0, 1);
    EXPECT_EQ(c331Chip().value(0x153902), 3223u);
    EXPECT_EQ(c331Chip().value(0x153B01), 176u);
    EXPECT_EQ(c331Chip().value(0x154401), 6u);
    EXPECT_EQ(c331Chip().value(0x156A01), 36u);
    scaler->PM_BNR[1] = 0;
    scaler->set_nr_block(scaler->c331_fd, 0, 1);
    EXPECT_EQ(c331Chip().value(0x153902), 0u) << "off";
}

TEST_F(InputPipeline, MotionFilterLevelsAndOff)
{
    scaler->PI_STATE[0] = c331in::STATE_PROGRESSIVE;
    const struct {
        int level;
        uint32_t enable, g1, g2, g3;
    } rows[] = {{1, 31, 4, 8, 8}, {2, 31, 8, 8, 16}, {3, 31, 8, 16, 24}, {4, 31, 16, 24, 31}, {0, 0, 0, 0, 0}};
    for (const auto& r : rows) {
        scaler->PM_MVFLT[0] = r.level;
        scaler->set_mvflt(scaler->c331_fd, 1, 0);
        EXPECT_EQ(c331Chip().value(0x141501, 16), r.enable);
        for (uint32_t a : {0x1Au, 0x1Bu, 0x1Eu, 0x1Fu})
            EXPECT_EQ(c331Chip().value(0x140001 | a << 8, 16), r.g1) << r.level;
        for (uint32_t a : {0x1Cu, 0x20u})
            EXPECT_EQ(c331Chip().value(0x140001 | a << 8, 16), r.g2) << r.level;
        for (uint32_t a : {0x1Du, 0x21u})
            EXPECT_EQ(c331Chip().value(0x140001 | a << 8, 16), r.g3) << r.level;
    }
}

TEST_F(InputPipeline, ReceiverFrequencyRangeAndBoundedLockWait)
{
    const int fd = scaler->c331_fd;
    // Receiver 1, no lock, frame count dead: the range bit follows the lane clock, the wait ends.
    preset(0xB26301, 0);
    preset(0xAE5C03 + 0xC00, 0xFFFFFE);
    c331Chip().clearLog();
    EXPECT_FALSE(scaler->set_VBORXfrange(fd, 1, 0, 50000000.0f));
    EXPECT_EQ(c331Chip().value(0x026801) & 8, 0u) << "exactly 50 MHz per lane clears bit 3";
    EXPECT_EQ(readsOf(0xAE, 0x68), 250u);

    EXPECT_FALSE(scaler->set_VBORXfrange(fd, 1, 0, 49999000.0f));
    EXPECT_EQ(c331Chip().value(0x026801) & 8, 8u);

    // Locked already: no frame-count reads.
    preset(0xB26301, 1 << 7);
    c331Chip().clearLog();
    EXPECT_TRUE(scaler->set_VBORXfrange(fd, 1, 0, 74250000.0f));
    EXPECT_EQ(readsOf(0xAE, 0x68), 0u);

    // Restart toggles bit 3.
    const uint32_t before = c331Chip().value(0x026801);
    scaler->set_VBORXfrange(fd, 1, 1);
    EXPECT_EQ(c331Chip().value(0x026801), before ^ 8);
    EXPECT_FALSE(scaler->set_VBORXfrange(fd, 2, 0, 1.0f)) << "no third receiver";
}

TEST_F(InputPipeline, InputFrameWaitIsBoundedAndReleasesTheFreeze)
{
    c331Chip().setInputFrameStalled(true);
    c331Chip().clearLog();
    EXPECT_FALSE(scaler->wait1_pivs(scaler->c331_fd, 6));
    EXPECT_EQ(readsOf(0x05, 0x22), 46u);
    EXPECT_EQ(c331Chip().value(0x050801), 0u);
    EXPECT_EQ(c331Chip().value(0x002901), 0u);
    c331Chip().setInputFrameStalled(false);
    EXPECT_TRUE(scaler->wait1_pivs(scaler->c331_fd, 6));
    c331Chip().clearLog();
    EXPECT_FALSE(scaler->wait1_pivs(scaler->c331_fd, 8));
    EXPECT_EQ(c331Chip().log().size(), 0u) << "no channel 8";
}

TEST_F(InputPipeline, BackgroundForcedOnDotByDotWindowsOnlyByThePortSetter)
{
    clearOutputs();
    showWindow(0, 2, 0);
    showWindow(1, 2, 3);
    scaler->PM_WIN_NUM[4] = 1;
    scaler->PM_WIN_DBD_MODE[1] = c331in::DBD_SINGLE_INPUT;
    showWindow(2, 3, 5);
    g_force_bkcolor = 1;
    scaler->set_input_bkg(scaler->c331_fd, 2, 0);
    for (uint32_t o : {0u, 3u, 4u}) {
        EXPECT_EQ(c331Chip().value(0x084903, 16 * o), 0xFF00u) << o;
        EXPECT_EQ(c331Chip().value(0x084801, 16 * o), 1u) << o;
    }
    EXPECT_TRUE(c331Chip().writesTo(0x084801, 16 * 5).empty()) << "window on another port";

    scaler->set_input_bkg2(scaler->c331_fd, 1, 0);
    EXPECT_EQ(c331Chip().value(0x084801, 16 * 3), 0u) << "a dot-by-dot window never gets it from the window setter";

    // Not forced: a port with signal shows its picture, one without shows the background.
    g_force_bkcolor = 2;
    scaler->PI_STATE[2] = c331in::STATE_PROGRESSIVE;
    scaler->set_input_bkg(scaler->c331_fd, 2, 0);
    EXPECT_EQ(c331Chip().value(0x084801, 0), 0u);
    EXPECT_EQ(c331Chip().value(0x084903, 0), 0u);
    scaler->PI_STATE[2] = 0;
    scaler->set_input_bkg2(scaler->c331_fd, 0, 0);
    EXPECT_EQ(c331Chip().value(0x084801, 0), 1u);

    // An unused slot names port 6: it indexes no port table and shows the background.
    scaler->PM_INPUT[0] = 6;
    scaler->set_input_bkg2(scaler->c331_fd, 0, 0);
    EXPECT_EQ(c331Chip().value(0x084801, 0), 1u);
    c331Chip().clearLog();
    scaler->set_input_bkg(scaler->c331_fd, 6, 1);
    scaler->set_input_bkg2(scaler->c331_fd, 6, 1);
    EXPECT_EQ(c331Chip().log().size(), 0u);
}

TEST_F(InputPipeline, CmosSampleRateAndSyncPolarity)
{
    preset(0x001802, 0x00F1);
    scaler->set_pict(scaler->c331_fd, 1, 2);
    EXPECT_EQ(c331Chip().value(0x001802), 0x01F1u);
    scaler->set_pict(scaler->c331_fd, 0, 0);
    EXPECT_EQ(c331Chip().value(0x001802), 0x01F0u);
    scaler->set_pict(scaler->c331_fd, 0, 1);
    EXPECT_EQ(c331Chip().value(0x001802), 0x01E0u);
    scaler->set_pict(scaler->c331_fd, 1, 4);
    EXPECT_EQ(c331Chip().value(0x001802), 0x01E0u) << "V-by-One ports have no sample-rate bit";

    preset(0x063804, 0x11223344);
    scaler->PI_HDMI_INFO[1].vpol = 1;
    scaler->PI_HDMI_INFO[1].hpol = 1;
    scaler->set_sypol(scaler->c331_fd, 0, 1);
    EXPECT_EQ(c331Chip().value(0x063804), 0x11220744u);

    scaler->PI_HDMI_INFO[5].hpol = 1;
    scaler->PI_HDMI_INFO[5].vpol = 0;
    scaler->PI_HDMI_INFO[5].lane = 4;
    preset(0x003902, 0xAB00);
    scaler->set_VBOInput(scaler->c331_fd, 1);
    EXPECT_EQ(c331Chip().value(0x063C04) >> 16, 0x2222u);
    EXPECT_EQ(c331Chip().value(0x002002), 0x11u);
    EXPECT_EQ(c331Chip().value(0x003902), 0x0400u) << "lane bits in byte 1";
}

TEST_F(InputPipeline, CaptureRectangleWithMarginsAndUnusedSlots)
{
    const int act[4] = {192, 1920, 41, 1080};
    scaler->PM_WIN_SHAPE[0][0] = scaler->PM_WIN_SHAPE[0][1] = 1;
    scaler->PM_INPUT[0] = 3;
    scaler->PM_WIN_DBD_MODE[0] = 0;
    memcpy(scaler->PI_ACT[3], act, sizeof act);
    scaler->PM_INPUT_OFFSET_EN[0] = 1;
    const int margins[4] = {100, 100, 200, 200};
    memcpy(scaler->PM_INPUT_OFFSET[0], margins, sizeof margins);
    scaler->calc_iwin2(0);
    EXPECT_EQ(scaler->IWIN[0].hst, 100);
    EXPECT_EQ(scaler->IWIN[0].hw, 1720);
    EXPECT_EQ(scaler->IWIN[0].vst, 200);
    EXPECT_EQ(scaler->IWIN[0].vw, 680);

    // Margins larger than the picture: the whole width and height.
    const int wide[4] = {2000, 100, 300, 900};
    memcpy(scaler->PM_INPUT_OFFSET[0], wide, sizeof wide);
    scaler->calc_iwin2(0);
    EXPECT_EQ(scaler->IWIN[0].hst, 0);
    EXPECT_EQ(scaler->IWIN[0].hw, 1920);
    EXPECT_EQ(scaler->IWIN[0].vw, 1080);

    // The unused slot value 6 as its port: nothing, and no table is read past its end.
    scaler->PM_INPUT[0] = 6;
    scaler->calc_iwin2(0);
    EXPECT_EQ(scaler->IWIN[0].hw, 0);
    EXPECT_EQ(scaler->IWIN[0].vw, 0);

    // Dot-by-dot, two ports side by side.
    scaler->PM_WIN_DBD_MODE[0] = c331in::DBD_CMOS_IN12;
    const int full[4] = {192, 1920, 41, 1080};
    memcpy(scaler->PI_ACT[0], full, sizeof full);
    memcpy(scaler->PI_ACT_FULL[0], full, sizeof full);
    memcpy(scaler->PI_ACT_FULL[1], full, sizeof full);
    scaler->PI_ACT_FULL[1][1] = 1280;
    scaler->calc_iwin2(0);
    EXPECT_EQ(scaler->IWIN[0].hw, 3200);
    EXPECT_EQ(scaler->IWIN[0].vw, 1080);
}

TEST_F(InputPipeline, ChannelModeAndInputCodes)
{
    scaler->PM_INPUT[2] = 1;
    scaler->PI_STATE[1] = c331in::STATE_I525;
    scaler->PI_SCAN_MODE[1] = 1;
    scaler->g_win_ich[2][0] = 1;
    scaler->g_win_ich[2][1] = -1;
    scaler->set_mct(scaler->c331_fd, 2, 0);
    EXPECT_EQ(c331Chip().value(0x000901), 0x11u | 14) << "interlaced: through the de-interlacer";
    EXPECT_EQ(c331Chip().value(0x100901, 16), 0u);
    scaler->set_mct(scaler->c331_fd, 2, 1);
    EXPECT_EQ(c331Chip().value(0x000901), 0x11u);
    EXPECT_EQ(c331Chip().value(0x100901, 16), 1u);

    // A V-by-One window over two channels: the second takes the first's picture.
    scaler->PM_INPUT[3] = 4;
    scaler->PI_STATE[4] = 0;
    scaler->g_win_ich[3][0] = 6;
    scaler->g_win_ich[3][1] = 7;
    scaler->g_win_ich[3][2] = -1;
    scaler->set_mct(scaler->c331_fd, 3, 0);
    EXPECT_EQ(c331Chip().value(0x000E01), 1u);
    EXPECT_EQ(c331Chip().value(0x000F01), 1u);
    EXPECT_EQ(c331Chip().value(0x100901, 16 * 6), 1u);
    EXPECT_EQ(c331Chip().value(0x100901, 16 * 7), 6u + 8);

    c331Chip().clearLog();
    scaler->PM_INPUT[3] = 6;
    scaler->set_mct(scaler->c331_fd, 3, 0);
    EXPECT_EQ(c331Chip().log().size(), 0u) << "no port, nothing";
}

TEST_F(InputPipeline, DeinterlacerCountsTheLinesOfTheSelectedPort)
{
    // 1080p60 on port 1 and 1080i (field rate 60) on port 2; window 0 takes port 1 on channel 0.
    platform::Sim::C331Chip::InputTiming p60;
    p60.present = true, p60.htotal = 2200, p60.vtotal = 1125, p60.hact = 1920, p60.fv = 60;
    platform::Sim::C331Chip::InputTiming i60 = p60;
    i60.interlaced = true;
    c331Chip().setInput(1, p60);
    c331Chip().setInput(2, i60);
    for (int c = 0; c < 8; ++c)
        scaler->g_ich_owner[c] = -1;
    showWindow(0, 1, 0);
    scaler->PI_STATE[1] = c331in::STATE_PROGRESSIVE;
    scaler->PM_TNR[1] = 1;
    ASSERT_EQ(scaler->set_input(0, 1), 0);
    const int c = scaler->g_win_ich[0][0];
    ASSERT_EQ(c, 0);
    scaler->set_ichsel(scaler->c331_fd, 0);
    scaler->set_ip(scaler->c331_fd, c);
    EXPECT_EQ(c331Chip().value(0x140802), 1125u + 32);
    EXPECT_EQ(c331Chip().value(0x140A02), (2199u + 16) * 2);
    EXPECT_EQ(c331Chip().value(0x120801), 3u) << "temporal filter level 1";

    // The same channel switched to the interlaced port: half the lines per field.
    scaler->PM_INPUT[0] = 2;
    scaler->PI_STATE[2] = c331in::STATE_I1125_HIGH;
    scaler->PI_SCAN_MODE[2] = 1;
    scaler->set_ichsel(scaler->c331_fd, 0);
    scaler->set_ip(scaler->c331_fd, c);
    EXPECT_EQ(c331Chip().value(0x140802), (562u + 1) / 2 + 32);
    EXPECT_EQ(c331Chip().value(0x165B01), 1u);
}

namespace {

// Noise-reduction, diagonal-filter and interlace settings of capture channel 1 (port 0): its data
// writes in banks 0x24 and 0x25, in order, against the stage tables (only: the registers looked at).
struct Stage {
    const char* name;
    std::function<void(c331_manage&)> run;
    std::vector<uint16_t> only; // bank << 8 | address of channel 0; empty: every write
    std::vector<std::pair<uint16_t, uint8_t>> writes;
};

std::vector<std::pair<uint16_t, uint8_t>> run16(uint16_t first, std::vector<uint8_t> values)
{
    std::vector<std::pair<uint16_t, uint8_t>> out;
    for (uint8_t v : values)
        out.push_back({first++, v});
    return out;
}

std::vector<std::pair<uint16_t, uint8_t>> operator+(std::vector<std::pair<uint16_t, uint8_t>> a,
                                                    const std::vector<std::pair<uint16_t, uint8_t>>& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

void hv(c331_manage& m, int h, int v)
{
    m.PM_HNR[0] = h, m.PM_VNR[0] = v;
    m.set_nr_hvpx(m.c331_fd, 1, 0);
}

void diag(c331_manage& m, int state, int level)
{
    m.PI_STATE[0] = state, m.PM_DIAG[0] = level;
    m.set_diag(m.c331_fd, 1, 0);
}

void ip(c331_manage& m, int state, int scan, int ipen)
{
    m.PM_INPUT[1] = 0, m.g_ich_owner[1] = 1;
    m.PI_STATE[0] = state, m.PI_SCAN_MODE[0] = scan, m.PM_IPEN[0] = ipen, m.PM_HNR[0] = 1;
    m.set_ip(m.c331_fd, 1);
}

const Stage kStages[] = {
    {"HvLevel2", [](c331_manage& m) { hv(m, 2, 2); }, {},
     {{0x156B, 0x11}, {0x156E, 117}, {0x156F, 201}, {0x156C, 117}, {0x156D, 201}}},
    {"HvHorizontal1Vertical3", [](c331_manage& m) { hv(m, 1, 3); }, {},
     {{0x156B, 0x11}, {0x156E, 66}, {0x156F, 150}, {0x156C, 168}, {0x156D, 252}}},
    {"HvVerticalOnly", [](c331_manage& m) { hv(m, 0, 2); }, {},
     {{0x156B, 0x10}, {0x156E, 0}, {0x156F, 0}, {0x156C, 117}, {0x156D, 201}}},
    {"DiagLevel1", [](c331_manage& m) { diag(m, 4, 1); }, {},
     run16(0x1450, {9, 255, 119, 0, 4, 16, 3, 8, 10, 20, 4, 4, 2, 2, 16, 50}) + run16(0x1460, {0, 0, 0, 0})},
    {"DiagLevel2", [](c331_manage& m) { diag(m, 5, 2); }, {},
     run16(0x1450, {11, 127, 119, 3, 4, 16, 1, 4, 10, 20, 4, 4, 2, 2, 16, 50}) + run16(0x1460, {0, 0, 0, 0})},
    {"DiagLevel3", [](c331_manage& m) { diag(m, 4, 3); }, {},
     run16(0x1450, {11, 127, 119, 19, 9, 16, 3, 8, 10, 20, 4, 4, 2, 2, 16, 49}) + run16(0x1460, {0, 0, 0, 0})},
    {"DiagOff", [](c331_manage& m) { diag(m, 4, 0); }, {}, run16(0x1450, std::vector<uint8_t>(16, 0))},
    {"DiagWithoutPicture", [](c331_manage& m) { diag(m, 3, 2); }, {}, run16(0x1450, std::vector<uint8_t>(16, 0))},
    {"InterlacedWithIpOn", [](c331_manage& m) { ip(m, 5, 1, 1); }, {0x142A}, {{0x142A, 0}}},
    {"InterlacedWithIpOff", [](c331_manage& m) { ip(m, 5, 1, 0); }, {0x142A}, {{0x142A, 32}}},
    {"Progressive", [](c331_manage& m) { ip(m, 4, 0, 1); }, {0x142A}, {{0x142A, 16}}},
};

void PrintTo(const Stage& s, std::ostream* os) { *os << s.name; }

class InputStage : public InputPipeline, public ::testing::WithParamInterface<Stage> {};

}

TEST_P(InputStage, WritesTheTablesValuesInOrder)
{
    const Stage& s = GetParam();
    c331Chip().clearLog();
    s.run(*scaler);
    std::vector<std::pair<uint16_t, uint8_t>> got;
    for (const Transfer& t : c331Chip().log()) {
        if (t.kind != Transfer::Write || t.addr == 0 || (t.bank != 0x24 && t.bank != 0x25))
            continue;
        const uint16_t reg = uint16_t((t.bank - 0x10) << 8 | t.addr);
        if (s.only.empty() || std::find(s.only.begin(), s.only.end(), reg) != s.only.end())
            got.push_back({reg, t.value});
    }
    EXPECT_EQ(got, s.writes);
}

INSTANTIATE_TEST_SUITE_P(Stages, InputStage, ::testing::ValuesIn(kStages),
                         [](const ::testing::TestParamInfo<Stage>& info) { return std::string(info.param.name); });
