// Input ports on the simulated chip and a filled-in input manager: port tables, channel allocation,
// dot-by-dot memory, the timing copy, the receiver drivers' check and the chip's measurement.
#include "scaler_fixture.h"

#include "base/utils.h"
#include "test_root.h"

#include <QMutexLocker>
#include <cstring>

using namespace scaler_test;
using platform::Sim::C331Chip;
using Transfer = platform::Sim::C331Chip::Transfer;

namespace {

struct Format {
    int hact, hsync, hback, htotal, vact, vsync, vback, vtotal;
    double fv; // frame (or field) rate
    bool interlaced;
    int lanes;
    int datamode;
};
// CEA-861 timings
const Format k1080p60{1920, 44, 148, 2200, 1080, 5, 36, 1125, 60, false, 2, 0};
const Format k2160p60{3840, 88, 296, 4400, 2160, 10, 72, 2250, 60, false, 8, 0};
const Format k480p60{640, 96, 48, 800, 480, 2, 33, 525, 60, false, 1, 0};

class InputPorts : public ScalerFixture {
protected:
    void SetUp() override
    {
        ScalerFixture::SetUp();
        for (int w = 0; w < 6; ++w)
            scaler->PM_WIN_SHAPE[w][0] = scaler->PM_WIN_SHAPE[w][1] = 0;
        for (int o = 0; o < 8; ++o)
            scaler->PM_WIN_NUM[o] = 6;
        for (int c = 0; c < 8; ++c)
            scaler->g_ich_owner[c] = -1; // as the bring-up leaves them
        scaler->rebuildWinIch();
    }

    void use(int w, int port, int dbd = 0)
    {
        scaler->PM_WIN_SHAPE[w][0] = scaler->PM_WIN_SHAPE[w][1] = 1;
        scaler->PM_INPUT[w] = port;
        scaler->PM_WIN_DBD_MODE[w] = dbd;
    }

    // A source on chip port p: the chip measures it, the input manager publishes its record.
    void connect(int p, const Format& f, int nosignal = 0)
    {
        C331Chip::InputTiming t;
        t.present = true;
        t.htotal = uint32_t(f.htotal);
        t.vtotal = uint32_t(f.interlaced ? 2 * f.vtotal + 1 : f.vtotal);
        t.hact = uint32_t(f.hact);
        t.fv = f.fv;
        t.interlaced = f.interlaced;
        t.lanes = uint32_t(f.lanes);
        c331Chip().setInput(p, t);
        HDMI_INFO rec{};
        rec.hact = f.hact, rec.hsync = f.hsync, rec.hback = f.hback, rec.htt = f.htotal;
        rec.vact = f.vact, rec.vsync = f.vsync, rec.vback = f.vback, rec.vtt = f.vtotal;
        rec.pfreq = float(f.htotal * double(f.vtotal) * f.fv / 1e6);
        rec.lane = f.lanes, rec.ip = f.interlaced, rec.datamode = f.datamode;
        rec.nosignal = nosignal, rec.stable = 1;
        QMutexLocker lock(&Utils::_source_hdminfo_mutex);
        keltosource::p_kelto_source->hdminfo[c331_manage::vyrApi_GetPortDevId(p)] = rec;
    }

    void pass()
    {
        scaler->load_hdmi();
        scaler->check_input_port(scaler->c331_fd);
    }

    std::vector<int> channelsOf(int w) const
    {
        std::vector<int> out;
        for (int k = 0; k < 8 && scaler->g_win_ich[w][k] >= 0; ++k)
            out.push_back(scaler->g_win_ich[w][k]);
        return out;
    }
};

}

// A glitch measured as a frame period of two clock ticks: the rates the memory dump shows are held
// to an int, not wrapped.
TEST_F(InputPorts, GlitchFramePeriodGivesRatesHeldToAnInt)
{
    use(0, 0);
    connect(0, k1080p60);
    preset(0xAE5003, 1); // port 0's frame period, ticks minus one
    pass();
    ASSERT_EQ(scaler->PI_PORT_INFO[0][c331in::PINFO_NOSIG], 0);
    testing::internal::CaptureStdout();
    scaler->vyrDbg_c331_param(2);
    const std::string dump = testing::internal::GetCapturedStdout();
    EXPECT_NE(dump.find("PI_IFH:2147483647 PI_IFV:13500000"), std::string::npos) << dump.substr(0, 2000);
}

TEST_F(InputPorts, SourceAndDeviceTablesAreInverse)
{
    const int ports[8] = {255, 3, 2, 1, 0, 5, 4, 255};
    for (int s = -1; s <= 6; ++s)
        EXPECT_EQ(c331_manage::vyrApi_inputCvtC331(s), ports[s + 1]) << s;
    for (int s = 0; s < 6; ++s)
        EXPECT_EQ(c331_manage::vyrApi_GetPortDevId(c331_manage::vyrApi_inputCvtC331(s)), s);
    EXPECT_EQ(c331_manage::vyrApi_GetPortDevId(6), 3);
    EXPECT_EQ(c331_manage::vyrApi_GetPortDevId(-1), 3);
}

TEST_F(InputPorts, SixProgressiveWindowsFillChannelsInOrderKeepingAPairWhole)
{
    for (int w = 0; w < 6; ++w)
        use(w, w % 4);
    for (int w = 0; w < 6; ++w) {
        EXPECT_EQ(scaler->set_input(w, w % 4), 0) << w;
        EXPECT_EQ(channelsOf(w), std::vector<int>{w}) << w;
    }
    EXPECT_EQ(scaler->g_ich_owner[6], -1);
    EXPECT_EQ(scaler->g_ich_owner[7], -1);
}

TEST_F(InputPorts, VboPairTakesAHalfFreePairAndMovesItsOwner)
{
    // Five CMOS windows on channels 0-4 and window 2 also on 6: no whole pair is left.
    for (int w = 0; w < 5; ++w)
        use(w, w % 4);
    for (int w = 0; w < 5; ++w)
        scaler->set_input(w, w % 4);
    scaler->g_ich_owner[6] = 2;
    scaler->rebuildWinIch();
    use(5, 4);
    ASSERT_EQ(scaler->check_ich(0, 1), -1);
    EXPECT_EQ(scaler->set_input(5, 4), 1) << "a reshuffle was needed";
    EXPECT_EQ(channelsOf(5), (std::vector<int>{4, 5}));
    EXPECT_EQ(scaler->g_chg_input[4], 2) << "the moved owner is re-programmed";
    EXPECT_EQ(channelsOf(4), std::vector<int>{7}) << "moved to the first free channel of its search list";
    EXPECT_EQ(channelsOf(2), (std::vector<int>{2, 6}));

    // Every channel owned: no pair has a free member, the V-by-One window gets nothing.
    for (int c = 0; c < 8; ++c)
        scaler->g_ich_owner[c] = c % 5;
    scaler->rebuildWinIch();
    EXPECT_EQ(scaler->adjust_ich(0, 1, 5), -1);
    for (int c = 0; c < 8; ++c)
        EXPECT_EQ(scaler->g_ich_owner[c], c % 5) << "nothing moved";
}

TEST_F(InputPorts, NeedsAboveEightChannelsRefuseEveryWindow)
{
    use(0, 0, c331in::DBD_CMOS_IN1234);
    use(1, 0, c331in::DBD_CMOS_IN1234);
    use(2, 5);
    scaler->g_chg_dbd[0] = scaler->g_chg_dbd[1] = 1;
    EXPECT_EQ(scaler->check_ich_all(0), -1);
    for (int w = 0; w < 3; ++w)
        EXPECT_EQ(scaler->set_input(w, scaler->PM_INPUT[w]), 2) << w;
    for (int c = 0; c < 8; ++c)
        EXPECT_EQ(scaler->g_ich_owner[c], -1);
    EXPECT_TRUE(TestRoot::readFile("/data/keltoqz/log/jtcEnglneLog").contains("window 2 left without capture"))
        << "the block shows the window, so the log says the chip does not";
}

TEST_F(InputPorts, InterlacedInputGetsAChannelWithADeinterlacer)
{
    for (int w = 0; w < 4; ++w) {
        use(w, w);
        scaler->set_input(w, w);
    }
    use(4, 0);
    scaler->PM_INPUT[4] = 0;
    scaler->PI_PORT_INFO[0][c331in::PINFO_INTERLACED] = 1;
    // Window 0 shows port 0 too and is interlaced now; window 1 (port 1) is moved away.
    EXPECT_EQ(scaler->set_input(4, 0), 1);
    const auto mine = channelsOf(4);
    ASSERT_EQ(mine.size(), 1u);
    EXPECT_LT(mine[0], 4);
    EXPECT_EQ(scaler->g_chg_input[1], 2);
    EXPECT_GE(channelsOf(1)[0], 4);

    // All four de-interlacing channels hold interlaced inputs: a channel from 4-7 after all.
    for (int p = 0; p < 4; ++p)
        scaler->PI_PORT_INFO[p][c331in::PINFO_INTERLACED] = 1;
    for (int c = 0; c < 8; ++c)
        scaler->g_ich_owner[c] = c < 4 ? c : -1;
    scaler->rebuildWinIch();
    use(5, 2);
    EXPECT_EQ(scaler->adjust_ich(1, 0, 5), 0);
    EXPECT_EQ(scaler->g_ich_owner[4], 5);
}

TEST_F(InputPorts, DotByDotMemoryBlocksAndUnits)
{
    const int full[4] = {192, 1920, 41, 1080};
    for (int p = 0; p < 6; ++p)
        memcpy(scaler->PI_ACT_FULL[p], full, sizeof full);
    use(0, 0, c331in::DBD_CMOS_IN12V);
    scaler->g_chg_dbd[0] = 1;
    ASSERT_EQ(scaler->set_input(0, 0), 0);
    ASSERT_EQ(scaler->set_dbd_mem(scaler->c331_fd, 0), 0);
    EXPECT_EQ(scaler->g_win_dbd_mem[0][0], 5);
    EXPECT_EQ(scaler->g_win_dbd_mem[0][1], 4);
    EXPECT_EQ(scaler->g_win_mem_addr[0][0], c331in::kDbdBase[0] + 4 * c331in::kDbdBlockSize) << "the lower block";
    EXPECT_EQ(scaler->g_win_mem_units[0], 6);

    // A 3840-wide picture on a CMOS port does not fit one channel: one block, twelve units.
    scaler->PI_ACT_FULL[2][1] = 3840;
    use(1, 2, c331in::DBD_SINGLE_INPUT);
    scaler->set_input(1, 2);
    EXPECT_EQ(scaler->check_dbd_input(scaler->c331_fd, 2), 1);
    ASSERT_EQ(scaler->set_dbd_mem(scaler->c331_fd, 1), 0);
    EXPECT_EQ(scaler->g_win_dbd_mem[1][0], 0);
    EXPECT_EQ(scaler->g_win_dbd_mem[1][1], -1);
    EXPECT_EQ(scaler->g_win_mem_units[1], 12);

    // Up to 5120 x 2176 fits one V-by-One channel.
    scaler->PI_ACT_FULL[4][1] = 5120;
    scaler->PI_ACT_FULL[4][3] = 2176;
    EXPECT_EQ(scaler->check_dbd_input(scaler->c331_fd, 4), 0);
    scaler->PI_ACT_FULL[4][3] = 2177;
    EXPECT_EQ(scaler->check_dbd_input(scaler->c331_fd, 4), 1);
    EXPECT_EQ(scaler->check_dbd_input(scaler->c331_fd, 6), 0) << "no port, no table read";

    // Not enough blocks left: nothing is kept.
    use(2, 0, c331in::DBD_CMOS_IN1234);
    scaler->g_chg_dbd[2] = 1;
    for (int c = 0; c < 8; ++c)
        scaler->g_ich_owner[c] = -1;
    scaler->rebuildWinIch();
    scaler->g_win_ich[2][0] = 0;
    EXPECT_EQ(scaler->set_dbd_mem(scaler->c331_fd, 2), -1);
    EXPECT_EQ(scaler->g_win_dbd_mem[2][0], -1);
    int used = 0;
    for (int b = 0; b < 6; ++b)
        used += scaler->g_dbd_mem_owner[b] == 1;
    EXPECT_EQ(used, 3) << "the blocks of windows 0 and 1 only";
}

TEST_F(InputPorts, MeasuredTimingGivesTheFormatClass)
{
    use(0, 0);
    connect(0, k1080p60);
    pass();
    EXPECT_EQ(scaler->PI_STATE[0], c331in::STATE_PROGRESSIVE);
    EXPECT_NEAR(scaler->PI_FV[0], 60.0, 0.01);
    EXPECT_NEAR(scaler->PI_FPICLK[0], 148.5e6, 0.1e6);
    EXPECT_EQ(scaler->PI_UPDATE[0], 1);
    EXPECT_EQ(scaler->PI_ACT[0][0], 192);
    EXPECT_EQ(scaler->PI_ACT[0][1], 1920);
    EXPECT_EQ(scaler->PI_ACT[0][2], 41);
    EXPECT_EQ(scaler->PI_ACT[0][3], 1080);
    EXPECT_EQ(scaler->PI_PORT_INFO[0][c331in::PINFO_NOSIG], 0);

    // A second pass with the same picture takes nothing over (once the window took the change).
    scaler->g_chg_input[0] = 0;
    pass();
    EXPECT_EQ(scaler->PI_UPDATE[0], 0);

    const struct {
        int vtotal;
        double fieldRate;
        int state;
    } interlaced[] = {{562, 50, 6}, {562, 60, 5}, {262, 60, 7}, {312, 50, 8}, {600, 50, 4}};
    for (const auto& r : interlaced) {
        Format f{1920, 44, 148, 2200, 540, 5, 15, r.vtotal, r.fieldRate, true, 0, 0};
        connect(1, f);
        use(1, 1);
        pass();
        EXPECT_EQ(scaler->PI_STATE[1], r.state) << r.vtotal << " at " << r.fieldRate;
        EXPECT_EQ(scaler->PI_SCAN_MODE[1], r.state != 4 ? 1 : 0);
        EXPECT_EQ(scaler->PI_PORT_INFO[1][c331in::PINFO_INTERLACED], r.state != 4 ? 1 : 0);
    }
}

TEST_F(InputPorts, VboClassesAndLaneMasks)
{
    use(0, 5);
    connect(5, k2160p60);
    pass();
    EXPECT_EQ(scaler->PI_STATE[5], c331in::STATE_VBO_WIDE);
    EXPECT_EQ(scaler->PI_ACT[5][1], 1920) << "halved";
    EXPECT_EQ(scaler->PI_ACT_FULL[5][1], 3840);
    EXPECT_EQ(c331Chip().value(0x024F01 + 0x1C00), 0xFFu);
    const auto arm = c331Chip().writesTo(0x027F01);
    ASSERT_GE(arm.size(), 2u);
    EXPECT_EQ(arm[0].value, 0x0D);
    EXPECT_EQ(arm[1].value, 0x0F);
    EXPECT_EQ(scaler->vbo_relock[1], 0) << "all four lane groups good";

    use(1, 4);
    connect(4, k1080p60);
    pass();
    EXPECT_EQ(scaler->PI_STATE[4], c331in::STATE_PROGRESSIVE);
    EXPECT_EQ(c331Chip().value(0x024F01), 0xC0u);
}

TEST_F(InputPorts, VboRecordWithoutLanesCountsAsOneLane)
{
    // 25.2 MHz over "0 lanes": as one lane it is below 50 MHz, so the low range bit is set; a
    // division by zero would have chosen the high range.
    use(0, 4);
    Format f = k480p60;
    f.lanes = 0;
    connect(4, f);
    preset(0x024C01, 0);
    pass();
    EXPECT_EQ(scaler->PI_STATE[4], c331in::STATE_PROGRESSIVE);
    EXPECT_EQ(c331Chip().value(0x024C01) & 8, 8u);
    EXPECT_EQ(c331Chip().value(0x024F01), 0x80u);
}

TEST_F(InputPorts, DeadLineLengthIsNoSignalWhateverTheReceiverSays)
{
    use(0, 1);
    scaler->PM_WIN_NUM[2] = 0;
    connect(1, k1080p60);
    pass();
    ASSERT_EQ(scaler->PI_STATE[1], c331in::STATE_PROGRESSIVE);
    for (uint32_t dead : {0u, 0xFFFFu}) {
        connect(1, k1080p60);
        pass();
        ASSERT_EQ(scaler->PI_STATE[1], c331in::STATE_PROGRESSIVE);
        preset(0xAE0802 + 0x200, dead);
        preset(0x084801, 0, 16 * 2);
        pass();
        EXPECT_EQ(scaler->PI_STATE[1], 0) << dead;
        EXPECT_EQ(scaler->PI_UPDATE[1], 1) << "signal lost is an update";
        EXPECT_EQ(scaler->PI_ACT[1][1], 0);
        EXPECT_EQ(scaler->PI_ACT[1][0], 16);
        EXPECT_EQ(scaler->PI_FV[1], 0.0);
        EXPECT_EQ(c331Chip().value(0x084801, 16 * 2), 1u) << "the window shows the background";
    }
    // The receiver's own no-signal flag counts as well.
    connect(1, k1080p60);
    pass();
    connect(1, k1080p60, 1);
    pass();
    EXPECT_EQ(scaler->PI_STATE[1], 0);
}

TEST_F(InputPorts, UnstableRecordsAndUnusedPortsAreNotMeasured)
{
    use(0, 3);
    connect(2, k1080p60); // no window shows port 2
    connect(3, k1080p60);
    {
        QMutexLocker lock(&Utils::_source_hdminfo_mutex);
        keltosource::p_kelto_source->hdminfo[c331_manage::vyrApi_GetPortDevId(3)].stable = 0;
    }
    c331Chip().clearLog();
    pass();
    EXPECT_EQ(c331Chip().log().size(), 0u);
    EXPECT_EQ(scaler->PI_STATE[2], 0);
    EXPECT_EQ(scaler->PI_HDMI_INFO[3].hact, 0) << "an unstable record is not copied";
}

TEST_F(InputPorts, TimingCopyRaisesTheWindowsOfThePort)
{
    use(2, 0);
    use(3, 0, c331in::DBD_CMOS_IN12);
    use(4, 1);
    scaler->g_win_ich[3][0] = 2;
    scaler->g_win_ich[3][1] = 3;
    scaler->g_win_ich[3][2] = -1;
    connect(1, k1080p60);
    scaler->load_hdmi();
    EXPECT_EQ(scaler->PI_HDMI_INFO[1].hact, 1920);
    EXPECT_EQ(scaler->PI_HDMI_INFO[1].vtt, 1125);
    EXPECT_EQ(scaler->g_chg_input[4], 1);
    EXPECT_EQ(scaler->g_chg_input[3], 1) << "port 1 is in the dot-by-dot window's list";
    EXPECT_EQ(scaler->g_chg_input[2], 0);
    EXPECT_EQ(c331Chip().value(0x001201), 0u);
    EXPECT_EQ(c331Chip().value(0x001301), 2u) << "the dot-by-dot window's port select again";

    scaler->g_chg_input[4] = 0;
    scaler->load_hdmi();
    EXPECT_EQ(scaler->g_chg_input[4], 0) << "nothing changed, nothing raised";
}

TEST_F(InputPorts, ReceiverCheckConfirmsOrRearms)
{
    use(0, 2);
    use(1, 5);
    connect(2, k1080p60);
    connect(5, k2160p60);
    {
        QMutexLocker lock(&Utils::_check_nosig_mutex);
        scaler->port_check[2] = 0x81;
        scaler->port_check[5] = 0x81;
        scaler->port_check[3] = 0x81; // a window that is not shown names port 3
    }
    for (int w = 2; w < 6; ++w)
        scaler->PM_INPUT[w] = w == 2 ? 3 : 6;
    connect(3, k1080p60);
    scaler->check_port_valid(scaler->c331_fd);
    EXPECT_EQ(scaler->port_check[2], 0x80);
    EXPECT_EQ(scaler->port_check[5], 0x80);
    EXPECT_EQ(scaler->port_check[3], 0x80) << "confirmed for the receiver even while not shown";
    {
        QMutexLocker lock(&Utils::_check_nosig_mutex);
        scaler->port_check[3] = 0x81;
    }
    scaler->PM_INPUT[2] = 6;
    scaler->check_port_valid(scaler->c331_fd);
    EXPECT_EQ(scaler->port_check[3], 0x81) << "no window names port 3";

    // A dead frame period: not confirmed, and the V-by-One receiver starts again.
    preset(0xAE5C03 + 0xC00, 0xFFFFFF);
    preset(0xAE5003 + 0x600, 0);
    c331Chip().clearLog();
    {
        QMutexLocker lock(&Utils::_check_nosig_mutex);
        scaler->port_check[2] = 0x80;
        scaler->port_check[5] = 0x80;
    }
    scaler->check_port_valid(scaler->c331_fd);
    EXPECT_EQ(scaler->port_check[2], 0x81);
    EXPECT_EQ(scaler->port_check[5], 0x81);
    const auto arm = c331Chip().writesTo(0x027F01);
    ASSERT_EQ(arm.size(), 2u);
    EXPECT_EQ(arm[0].value, 0x0D);
    EXPECT_EQ(c331Chip().value(0x024F01 + 0x1C00), 0x80u);
    EXPECT_EQ(c331Chip().value(0x024001 + 0x1C00), 5u);

    // Without bit 7 nothing is read.
    {
        QMutexLocker lock(&Utils::_check_nosig_mutex);
        scaler->port_check[2] = 0x01;
        scaler->port_check[5] = 0x00;
    }
    c331Chip().clearLog();
    scaler->check_port_valid(scaler->c331_fd);
    EXPECT_EQ(c331Chip().log().size(), 0u);
}

TEST_F(InputPorts, RelockCounterWrapsAfterTwentyNine)
{
    use(0, 4);
    connect(4, k2160p60);
    pass();
    scaler->g_chg_input[0] = 0; // the window took the new timing
    ASSERT_EQ(scaler->vbo_relock[0], 0);
    // Lane group 3 of eight lanes goes bad: every pass counts one failed lock check and re-arms.
    preset(0xAE4602, 0xFFFF);
    std::vector<int> seen;
    for (int i = 0; i < 31; ++i) {
        pass();
        seen.push_back(scaler->vbo_relock[0]);
    }
    EXPECT_EQ(seen[0], 1);
    EXPECT_EQ(seen[28], 29);
    EXPECT_EQ(seen[29], 0);
    EXPECT_EQ(seen[30], 1);
    EXPECT_EQ(scaler->PI_STATE[4], c331in::STATE_VBO_WIDE) << "the picture itself stays";
    c331Chip().clearLog();
    preset(0xAE4602, 100);
    pass();
    EXPECT_EQ(scaler->vbo_relock[0], 0);
    EXPECT_TRUE(c331Chip().writesTo(0x027F01).empty()) << "a good lock is not re-armed";
}

TEST_F(InputPorts, DirectSourceChangeRefusesFoldedIdsAndForeignWindows)
{
    use(0, 0);
    use(1, 0);
    scaler->wincnt = 2;
    scaler->c331_SetInputsource(1, 4);
    EXPECT_EQ(scaler->PM_INPUT[1], 5);
    EXPECT_EQ(scaler->gWininfo[1].input, 4);

    // 6-15 would fold onto inputs 0-5 modulo 6; they are refused and the window keeps its input.
    for (int s : {6, 7, 11, 15, 255, -1}) {
        scaler->c331_SetInputsource(1, s);
        EXPECT_EQ(scaler->PM_INPUT[1], 5) << s;
        EXPECT_EQ(scaler->gWininfo[1].input, 4) << s;
    }
    const int before = scaler->PM_INPUT[2];
    scaler->c331_SetInputsource(2, 1);
    EXPECT_EQ(scaler->PM_INPUT[2], before) << "window 2 is not shown";
    EXPECT_EQ(scaler->gWininfo[2].input, 0);
}

TEST_F(InputPorts, PortSelectOfVboAndMultiPortWindows)
{
    use(0, 5);
    scaler->g_win_ich[0][0] = 4;
    scaler->g_win_ich[0][1] = 5;
    scaler->g_win_ich[0][2] = -1;
    scaler->PI_HDMI_INFO[5].lane = 8;
    scaler->set_ichsel(scaler->c331_fd, 0);
    EXPECT_EQ(c331Chip().value(0x001401), 12u);
    EXPECT_EQ(c331Chip().value(0x001501), 14u);
    scaler->PI_HDMI_INFO[5].lane = 4;
    scaler->set_ichsel(scaler->c331_fd, 0);
    EXPECT_EQ(c331Chip().value(0x001501), 13u);

    use(1, 0, c331in::DBD_VBO_IN12);
    const int chans[4] = {0, 1, 2, 3};
    for (int k = 0; k < 4; ++k)
        scaler->g_win_ich[1][k] = chans[k];
    scaler->g_win_ich[1][4] = -1;
    scaler->PI_HDMI_INFO[4].lane = 8;
    scaler->set_ichsel(scaler->c331_fd, 1);
    const uint32_t values[4] = {8, 10, 12, 13};
    for (uint32_t k = 0; k < 4; ++k)
        EXPECT_EQ(c331Chip().value(0x001001 + (k << 8)), values[k]) << k;

    // Dual capture on channel pair 2-3.
    const int act[4] = {100, 1920, 20, 1080};
    memcpy(scaler->PI_ACT[1], act, sizeof act);
    scaler->set_idual(scaler->c331_fd, 3, 1, 1);
    EXPECT_EQ(c331Chip().value(0x031101), 3u);
    EXPECT_EQ(c331Chip().value(0x031202), 100u);
    EXPECT_EQ(c331Chip().value(0x031402), 3840u);
    scaler->set_idual(scaler->c331_fd, 3, 0, 0);
    EXPECT_EQ(c331Chip().value(0x031101), 0u);
}

TEST_F(InputPorts, StackedDotByDotCaptureSharesOneStore)
{
    // Two 1920 x 1080 inputs on ports 0 and 1, one above the other in window 0.
    connect(0, k1080p60);
    connect(1, k1080p60);
    use(0, 0, c331in::DBD_CMOS_IN12V);
    pass();
    scaler->g_chg_dbd[0] = 1;
    scaler->PS_MEM_WMODE[0] = 3;
    ASSERT_EQ(scaler->set_input(0, 0), 0);
    ASSERT_EQ(channelsOf(0), (std::vector<int>{0, 1}));
    scaler->set_display_window_ich_dbd(scaler->c331_fd, 0, c331in::DBD_CMOS_IN12V);

    EXPECT_EQ(c331Chip().value(0x001001), 0u);
    EXPECT_EQ(c331Chip().value(0x001101), 2u);
    const uint32_t store = uint32_t(c331in::kDbdBase[0] + 4 * c331in::kDbdBlockSize);
    const uint32_t pitch = 6 * 1080 * 1024; // six units of 320 pixels per line
    for (uint32_t c : {0u, 1u}) {
        EXPECT_EQ(c331Chip().value(0x100901, 16 * c), c == 0 ? 1u : 8u) << c;
        EXPECT_EQ(c331Chip().value(0x101702, 16 * c), 192u - 7) << c;
        EXPECT_EQ(c331Chip().value(0x101902, 16 * c), 1920u) << c;
        EXPECT_EQ(c331Chip().value(0x101B02, 16 * c), 42u) << c;
        EXPECT_EQ(c331Chip().value(0x101D02, 16 * c), 1080u) << c;
        EXPECT_EQ(c331Chip().value(0x161C04, 16 * c), store + (c == 1 ? pitch : 0)) << c;
        EXPECT_EQ(c331Chip().value(0x163101, 16 * c), 6u) << c;
        EXPECT_EQ(c331Chip().value(0x007101 + (c << 8)), 0x11u) << "write mode 3";
    }
    EXPECT_EQ(c331Chip().value(0x030801), 0u) << "no dual capture";

    // Side by side, write mode 1: the second channel starts 1920 pixels into the line.
    scaler->PM_WIN_DBD_MODE[0] = c331in::DBD_CMOS_IN12;
    scaler->PS_MEM_WMODE[0] = 1;
    scaler->set_display_window_ich_dbd(scaler->c331_fd, 0, c331in::DBD_CMOS_IN12);
    const uint32_t side = uint32_t(c331in::kDbdBase[0]);
    EXPECT_EQ(c331Chip().value(0x161C04), side);
    EXPECT_EQ(c331Chip().value(0x161C04, 16), side + 16 * (1920 / 5));
    EXPECT_EQ(c331Chip().value(0x163101), 12u);
    EXPECT_EQ(c331Chip().value(0x007101), 0x80u);
    EXPECT_EQ(scaler->g_win_dbd_mem[0][0], 0) << "the stacked blocks were given back first";
    EXPECT_EQ(scaler->g_dbd_mem_owner[5], -1);
}

TEST_F(InputPorts, DotByDotWithoutMemoryDropsItsChangeWords)
{
    const int full[4] = {192, 1920, 41, 1080};
    memcpy(scaler->PI_ACT_FULL[0], full, sizeof full);
    memcpy(scaler->PI_ACT_FULL[1], full, sizeof full);
    for (int b = 0; b < 6; ++b)
        scaler->g_dbd_mem_owner[b] = 1; // every block taken
    use(0, 0, c331in::DBD_CMOS_IN12);
    scaler->g_chg_dbd[0] = 1;
    ASSERT_EQ(scaler->set_input(0, 0), 0);
    scaler->g_chg_input[0] = 1;
    c331Chip().clearLog();
    scaler->set_display_window_ich_dbd(scaler->c331_fd, 0, c331in::DBD_CMOS_IN12);
    EXPECT_EQ(scaler->g_chg_dbd[0], 0u);
    EXPECT_EQ(scaler->g_chg_input[0], 0);
    EXPECT_TRUE(c331Chip().writesTo(0x101902).empty()) << "no capture area without memory";
    EXPECT_FALSE(c331Chip().writesTo(0x000801).empty()) << "the channel mode is still set";
}

TEST_F(InputPorts, DisplayRectangleOfADotByDotWindowMatchesItsCapture)
{
    scaler->PS_ACTHW = 1920;
    scaler->PS_ACTVW = 1080;
    const int full[4] = {192, 1920, 41, 1080};
    memcpy(scaler->PI_ACT[0], full, sizeof full);
    memcpy(scaler->PI_ACT_FULL[0], full, sizeof full);
    memcpy(scaler->PI_ACT_FULL[1], full, sizeof full);
    use(0, 0, c331in::DBD_CMOS_IN12);
    scaler->PM_WIN_SHAPE[0][0] = 1;
    const int margins[4] = {0, 0, 0, 0};
    memcpy(scaler->PM_WIN_OFFSET[0], margins, sizeof margins);
    scaler->PM_WIN_DBD_PARAM[0] = 0;
    scaler->calc_iwin2(0);
    scaler->calc_owin2(0);
    EXPECT_EQ(scaler->IWIN[0].hw, 1920) << "1:1: the smaller width";
    EXPECT_EQ(scaler->OWIN[0].hw, 1920);

    scaler->PM_WIN_DBD_PARAM[0] = 1;
    scaler->PM_WIN_SHAPE[0][0] = 2;
    scaler->calc_iwin2(0);
    scaler->calc_owin2(0);
    EXPECT_EQ(scaler->IWIN[0].hw, 3840);
    EXPECT_EQ(scaler->OWIN[0].hw, 3840);

    // A plain window with margins wider than the canvas gets no negative size.
    use(1, 0);
    const int wide[4] = {1000, 1000, 600, 600};
    memcpy(scaler->PM_WIN_OFFSET[1], wide, sizeof wide);
    scaler->calc_owin2(1);
    EXPECT_EQ(scaler->OWIN[1].hw, 0);
    EXPECT_EQ(scaler->OWIN[1].vw, 0);
    EXPECT_EQ(scaler->OWIN[1].hst, 1000);
}

TEST_F(InputPorts, SwitchWaitsOnTheSlowestChangingInput)
{
    connect(0, k1080p60);
    Format f50 = k1080p60;
    f50.fv = 50;
    connect(1, f50);
    use(0, 0);
    use(1, 1);
    pass();
    scaler->set_input(0, 0);
    scaler->set_input(1, 1);
    scaler->g_chg_input[0] = scaler->g_chg_input[1] = 1;
    c331Chip().clearLog();
    scaler->wait1_pivs2(scaler->c331_fd);
    const auto enable = c331Chip().writesTo(0x050801);
    ASSERT_EQ(enable.size(), 2u);
    EXPECT_EQ(enable[0].value, 1 << channelsOf(1)[0]) << "the 50 Hz input";

    // Nothing changing: a plain pause, no chip access.
    scaler->g_chg_input[0] = scaler->g_chg_input[1] = 0;
    for (int w = 0; w < 6; ++w)
        scaler->g_chg_geometry[w] = scaler->g_chg_dbd[w] = scaler->g_chg_memmode[w] = 0;
    c331Chip().clearLog();
    scaler->wait1_pivs2(scaler->c331_fd);
    EXPECT_EQ(c331Chip().log().size(), 0u);
}

TEST_F(InputPorts, SteadyPassCostsOnlyTheMeasurementReads)
{
    use(0, 1);
    use(1, 5);
    connect(1, k1080p60);
    connect(5, k2160p60);
    pass();
    scaler->g_chg_input[0] = scaler->g_chg_input[1] = 0;
    c331Chip().clearLog();
    pass();
    size_t writes = 0, reads = 0, selects = 0;
    for (const Transfer& t : c331Chip().log()) {
        writes += t.kind == Transfer::Write;
        reads += t.kind == Transfer::Read;
        selects += t.kind == Transfer::Select;
    }
    RecordProperty("transfers", int(c331Chip().transferCount()));
    RecordProperty("selects", int(selects));
    // CMOS: 2+2+2+3+2 bytes; V-by-One the same plus the lock check (4 x 2 + 4 x 3); freezes only.
    EXPECT_EQ(reads, 11u + 11u + 20u);
    EXPECT_EQ(writes, 6u) << "three freezes and releases, nothing else";
    EXPECT_EQ(scaler->PI_UPDATE[1] + scaler->PI_UPDATE[5], 0);
}

namespace {

// A V-by-One source on receiver 0 (port 4) by lane count: the receiver's lane mask (02:4F), its
// lane mode (00:1E) and lane bits (00:39 byte 0), and the select values of the channel pair.
struct VboLanes {
    int lanes;
    uint32_t mask, mode, bits, second;
};

const VboLanes kVboLanes[] = {
    {1, 0x80, 0, 0, 9}, {2, 0xC0, 1, 0x10, 9}, {4, 0xF0, 0x11, 0x04, 9}, {8, 0xFF, 0x404, 0x02, 10},
};

void PrintTo(const VboLanes& l, std::ostream* os) { *os << l.lanes << " lanes"; }

class InputVboLanes : public InputPorts, public ::testing::WithParamInterface<VboLanes> {};

// Channels already owned -> the pair a V-by-One window gets, in the order (4,5), (6,7), (2,3), (0,1).
struct PairOrder {
    const char* name;
    std::vector<int> owned;
    int first;
};

const PairOrder kPairOrders[] = {
    {"AllFree", {}, 4}, {"FourOwned", {4}, 6}, {"FiveAndSixOwned", {5, 6}, 2}, {"OnlyZeroOneFree", {2, 4, 7}, 0},
};

void PrintTo(const PairOrder& p, std::ostream* os) { *os << p.name; }

class InputVboPairs : public InputPorts, public ::testing::WithParamInterface<PairOrder> {};

}

TEST_P(InputVboLanes, MaskModeAndPortSelect)
{
    const VboLanes& l = GetParam();
    use(0, 4);
    Format f = k1080p60;
    f.lanes = l.lanes;
    connect(4, f);
    pass();
    EXPECT_EQ(c331Chip().value(0x024F01), l.mask);
    EXPECT_EQ(c331Chip().value(0x001E02), l.mode);
    EXPECT_EQ(c331Chip().value(0x003902) & 0xFF, l.bits);
    ASSERT_GE(scaler->set_input(0, 4), 0);
    scaler->set_ichsel(scaler->c331_fd, 0);
    EXPECT_EQ(c331Chip().value(0x001401), 8u);
    EXPECT_EQ(c331Chip().value(0x001501), l.second);
}

INSTANTIATE_TEST_SUITE_P(Lanes, InputVboLanes, ::testing::ValuesIn(kVboLanes),
                         [](const ::testing::TestParamInfo<VboLanes>& info) { return std::to_string(info.param.lanes); });

TEST_P(InputVboPairs, WindowGetsTheFirstWholePair)
{
    const PairOrder& p = GetParam();
    use(1, 0);
    for (int c : p.owned)
        scaler->g_ich_owner[c] = 1;
    scaler->rebuildWinIch();
    use(0, 4);
    scaler->PI_HDMI_INFO[4].lane = 8;
    EXPECT_EQ(scaler->set_input(0, 4), 0);
    scaler->set_ichsel(scaler->c331_fd, 0);
    EXPECT_EQ(c331Chip().value(0x001001 + (uint32_t(p.first) << 8)), 8u);
    EXPECT_EQ(c331Chip().value(0x001001 + (uint32_t(p.first + 1) << 8)), 10u);
}

INSTANTIATE_TEST_SUITE_P(Pairs, InputVboPairs, ::testing::ValuesIn(kPairOrders),
                         [](const ::testing::TestParamInfo<PairOrder>& info) { return std::string(info.param.name); });
