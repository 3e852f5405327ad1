// Input capture: the routing update group, backgrounds for inputs without signal, port reception
// (sample rate, sync polarity, V-by-One receivers), the input frame waits, the capture and display
// rectangles, the channel mode and the shrink filters.
#include "scaler/c331_manage.h"

#include "scaler/c331_drv.h"
#include "base/delay.h"
#include "base/global.h"
#include "base/logMsg.h"

#include <algorithm>
#include <cstdio>

using namespace c331in;

namespace {
// Routing-update group 0x2201-0x2801 by mode: the chip takes new values over together.
const uint8_t kRoutingGroups[5][7] = {
    {0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00},
    {0x99, 0x99, 0x21, 0x43, 0x55, 0x77, 0x99},
    {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF},
    {0xFF, 0xFF, 0x21, 0x43, 0x55, 0x77, 0xFF},
    {0x99, 0x99, 0xFF, 0xFF, 0xFF, 0xFF, 0x99},
};

constexpr uint32_t kFreeze = 0x002901;       // 0x80 holds the measurement and status registers
constexpr int kInputFrameReads = 45;          // input frame flag: re-reads before giving up
constexpr int kLockReads = 250;               // V-by-One receiver: reads before giving up
constexpr uint32_t kNoWindowWaitMs = 45;

bool validPort(int p) { return p >= 0 && p < kPorts; }
bool validChannel(int c) { return c >= 0 && c < kChannels; }

// Horizontal shrink filter index by ratio (16.16): the first bound above the ratio selects.
struct Step {
    int below;
    int value;
};
constexpr Step kHShrink[] = {{1, 44},     {13108, 1},  {26215, 2},  {32769, 4},  {39322, 6},
                             {45876, 8},  {49153, 12}, {52429, 17}, {55706, 22}, {58983, 27},
                             {62260, 32}, {65001, 38}};
constexpr Step kVShrink[] = {{0x3334, 1}, {0x6667, 2}, {0x8001, 3}, {0x999A, 4},
                             {0xB334, 5}, {0xCCCD, 6}, {0xE667, 7}, {0xF334, 8}};

template <size_t N>
int stepOf(const Step (&table)[N], int ratio, int otherwise)
{
    for (const Step& s : table)
        if (ratio < s.below)
            return s.value;
    return otherwise;
}
}

// Vertical shrink coefficients; set 1 is the strongest shrink, set 9 near 1:1. Set 0 is unused.
const int8_t c331_manage::lut[10][24] = {
    {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0},
    {0, 0, 0, 0, 0, 0, 0, 0, 13, 14, 14, 14, 15, 15, 16, 20, 16, 16, 16, 18, 19, 19, 19, 24},
    {0, 0, 0, 0, 0, 0, 0, 0, 11, 11, 11, 10, 11, 12, 13, 18, 15, 17, 18, 22, 24, 25, 25, 29},
    {0, 0, 0, 0, 0, 0, 0, 0, 9, 8, 7, 7, 8, 8, 10, 15, 14, 17, 21, 25, 28, 30, 31, 34},
    {0, 0, 0, 0, 0, 0, 0, 0, 7, 5, 4, 3, 4, 5, 7, 12, 13, 18, 23, 29, 33, 36, 37, 39},
    {0, 0, 0, 0, 0, 0, 0, 0, 4, 2, 0, 0, 0, 2, 4, 10, 12, 18, 26, 32, 38, 42, 42, 44},
    {0, 0, 0, 0, 0, 0, 0, 0, 2, 0, -3, -4, -4, -2, 2, 8, 12, 19, 28, 36, 43, 47, 48, 49},
    {0, 0, 0, 0, 0, 0, 0, 0, 0, -3, -6, -8, -8, -5, -1, 5, 11, 20, 30, 40, 48, 53, 54, 54},
    {0, 0, 0, 0, 0, 0, 0, 0, -2, -6, -10, -11, -11, -9, -4, 2, 10, 20, 33, 43, 52, 58, 60, 59},
    {0, 0, 0, 0, 0, 0, 0, 0, -4, -9, -13, -15, -15, -12, -7, 0, 9, 21, 35, 47, 57, 64, 66, 64},
};

void c331_manage::set_rtct(int fd, int mode)
{
    call_log.record("set_rtct", {mode});
    const uint8_t* group = kRoutingGroups[mode >= 0 && mode <= 3 ? mode : 4];
    drv->write_c331_mask(fd, 0x002901, 1, 1, 0);
    for (uint32_t i = 0; i < 7; ++i)
        drv->write_C331(fd, (0x22 + i) << 8 | 1, group[i], 0);
    drv->write_c331_mask(fd, 0x002901, 0, 1, 0);
}

void c331_manage::set_input_bkg(int fd, int p, int on)
{
    if (traceOn())
        printf("[set_input_bkg] port_%d, onoff:%d\n", p, on);
    if (!validPort(p))
        return;
    const bool forced = g_force_bkcolor.load() == 1;
    set_rtct(fd, 2);
    for (int w = 0; w < kWindows; ++w) {
        if (PM_INPUT[w] != p)
            continue;
        int enable = on || PI_STATE[p] == STATE_NOSIGNAL ? 1 : 0;
        if (PM_WIN_DBD_MODE[w] != 0)
            enable = 0;
        for (int o = 0; o < kChannels; ++o) {
            if (PM_WIN_NUM[o] != w)
                continue;
            drv->write_C331(fd, 0x084903, forced ? 0xFF00 : 0, 16 * o);
            drv->write_C331(fd, 0x084801, forced ? 1 : enable, 16 * o);
        }
    }
    set_rtct(fd, 1);
}

void c331_manage::set_input_bkg2(int fd, int w, int on)
{
    if (traceOn())
        printf("[set_input_bkg2] win_%d, onoff:%d\n", w, on);
    if (!vyrApi_IsWinValid(w))
        return;
    const int p = PM_INPUT[w];
    // A slot without a port has nothing to show: it gets the background.
    const bool noSignal = !validPort(p) || PI_STATE[p] == STATE_NOSIGNAL;
    const bool forced = g_force_bkcolor.load() == 1;
    int enable = on || (!vyrApi_IsPatternGen() && noSignal) ? 1 : 0;
    if (forced)
        enable = 1;
    if (PM_WIN_DBD_MODE[w] != 0)
        enable = 0;
    if (gWininfo[w].output & 1)
        enable = 1; // black: the window shows its background
    for (int o = 0; o < kChannels; ++o) {
        if (PM_WIN_NUM[o] != w)
            continue;
        drv->write_C331(fd, 0x084903, forced ? 0xFF00 : 0, 16 * o);
        drv->write_C331(fd, 0x084801, enable, 16 * o);
    }
}

void c331_manage::set_pict(int fd, int d, int p)
{
    if (p < 0 || p >= kCmosPorts)
        return;
    const uint32_t bit = 1u << (4 * p);
    drv->write_c331_mask(fd, 0x001802, d ? bit : 0, bit, 0);
}

void c331_manage::set_sypol(int fd, int vbo, int i)
{
    if (i < 0 || i >= (vbo ? 2 : kCmosPorts))
        return;
    const uint32_t reg = vbo ? 0x063C04 : 0x063804;
    drv->write_C331(fd, kFreeze, 0x80, 0);
    uint32_t value = drv->read_C331(fd, reg, 0);
    drv->write_C331(fd, kFreeze, 0, 0);
    if (!vbo) {
        const HDMI_INFO& h = PI_HDMI_INFO[i];
        const uint32_t pol = uint32_t(h.vpol & 1) | uint32_t(h.hpol & 1) << 1 | 4;
        value = (value & ~(0xFFu << (8 * i))) | pol << (8 * i);
        PI_SYNC_POL[i] = int(pol);
    } else {
        const HDMI_INFO& h = PI_HDMI_INFO[4 + i];
        const uint32_t n = uint32_t(h.vpol & 1) | uint32_t(h.hpol & 1) << 1;
        const uint32_t half = n | n << 4 | n << 8 | n << 12;
        value = (value & ~(0xFFFFu << (16 * i))) | half << (16 * i);
        PI_SYNC_POL[4 + i] = int(n);
    }
    drv->write_C331(fd, reg, value, 0);
}

void c331_manage::set_VBOInput(int fd, int v)
{
    if (v < 0 || v > 1)
        return;
    set_sypol(fd, 1, v);
    uint32_t mode, laneBits;
    switch (PI_HDMI_INFO[4 + v].lane) {
    case 1: mode = 0, laneBits = 0; break;
    case 2: mode = 1, laneBits = 0x10; break;
    case 4: mode = 0x11, laneBits = 0x04; break;
    default: mode = 0x404, laneBits = 0x02; break;
    }
    drv->write_C331(fd, 0x001E02 + (uint32_t(v) << 9), mode, 0);
    drv->write_c331_mask(fd, 0x003902, laneBits << (8 * v), 0xFFu << (8 * v), 0);
    PI_VBO_LANE_MODE[v] = int(mode);
    PI_VBO_LANE_BITS[v] = int(laneBits);
}

bool c331_manage::set_VBORXfrange(int fd, int v, int restart, float perLaneHz)
{
    if (v < 0 || v > 1)
        return false;
    const uint32_t range = 0x024C01 + 0x1C00u * uint32_t(v);
    if (restart == 1) {
        const uint32_t now = drv->read_C331(fd, range, 0);
        drv->write_C331(fd, range, now ^ 0x08, 0);
        return true;
    }
    drv->write_c331_mask(fd, range, perLaneHz < 50000000.0f ? 0x08 : 0, 0x08, 0);
    const uint32_t lockBit = 1u << (5 + 2 * v);
    if (drv->read_C331(fd, 0xB26301, 0) & lockBit)
        return true;
    for (int i = 0; i < kLockReads; ++i) {
        const uint32_t frames = drv->read_C331(fd, 0xAE5C03 + 0xC00u * uint32_t(v), 0) + 1;
        if (frames < 0xFFFFFF || (drv->read_C331(fd, 0xB26301, 0) & lockBit))
            return true;
    }
    return false;
}

bool c331_manage::wait1_pivs(int fd, int c)
{
    if (!validChannel(c))
        return false;
    const uint32_t counter = 0xA80001 | uint32_t(0x3F + 5 * c) << 8;
    drv->write_C331(fd, 0x050801, 1u << c, 0);
    drv->write_C331(fd, kFreeze, 0x80, 0);
    bool seen = false;
    for (int i = 0; i <= kInputFrameReads && !seen; ++i)
        seen = (drv->read_C331(fd, 0x052201, 0) & (1u << c)) || drv->read_C331(fd, counter, 0) == 0xFF;
    drv->write_C331(fd, 0x050801, 0, 0);
    drv->write_C331(fd, kFreeze, 0, 0);
    return seen;
}

void c331_manage::wait1_pivs2(int fd)
{
    // The slowest input among the windows about to change sets the pace of the switch.
    int channel = -1;
    double slowest = 120.0;
    for (int w = 0; w < kWindows; ++w) {
        const bool pending = g_chg_input[w] || g_chg_dbd[w] || g_chg_geometry[w] || g_chg_memmode[w];
        const int p = PM_INPUT[w];
        if (!pending || !validPort(p) || g_win_ich[w][0] < 0)
            continue;
        if (PI_FV[p] > 0 && PI_FV[p] < slowest) {
            slowest = PI_FV[p];
            channel = g_win_ich[w][0];
        }
    }
    if (channel >= 0)
        wait1_pivs(fd, channel);
    else
        Sleep(kNoWindowWaitMs);
}

void c331_manage::calc_iwin2(int w)
{
    if (!vyrApi_IsWinValid(w))
        return;
    _ImageWindowDef_st r{0, 0, 0, 0};
    const int mode = PM_WIN_DBD_MODE[w];
    int ports[6];
    const bool multi = vyrApi_GetWinDbdMultiPort(w, ports) == 1;
    const int p = multi ? ports[0] : PM_INPUT[w];
    const bool inUse = PM_WIN_SHAPE[w][0] != 0 && PM_WIN_SHAPE[w][1] != 0;
    if (inUse && validPort(p) && PI_ACT[p][1] != 0 && PI_ACT[p][3] != 0) {
        auto hw = [&](int q) { return PI_ACT_FULL[q][1]; };
        auto vw = [&](int q) { return PI_ACT_FULL[q][3]; };
        switch (mode) {
        case 0: r = sourceArea(p, PM_INPUT_OFFSET_EN[w] != 0, PM_INPUT_OFFSET[w]); break;
        case DBD_SINGLE_INPUT: {
            const int c0 = g_win_ich[w][0];
            const bool doubled = PI_SCAN_MODE[p] && c0 >= 0 && c0 < kIpChannels;
            r = {0, hw(p), 0, vw(p) * (doubled ? 2 : 1)};
            break;
        }
        case DBD_CMOS_IN12: r = {0, hw(0) + hw(1), 0, vw(0)}; break;
        case DBD_CMOS_IN34: r = {0, hw(2) + hw(3), 0, vw(2)}; break;
        case DBD_CMOS_IN123: r = {0, hw(0) + hw(1) + hw(2), 0, vw(0)}; break;
        case DBD_CMOS_IN1234: r = {0, hw(0) + hw(1) + hw(2) + hw(3), 0, vw(0)}; break;
        case DBD_VBO_IN12: r = {0, hw(4) + hw(5), 0, vw(4)}; break;
        case DBD_CMOS_IN12V: r = {0, hw(0), 0, vw(0) + vw(1)}; break;
        case DBD_CMOS_IN34V: r = {0, hw(2), 0, vw(2) + vw(3)}; break;
        case DBD_CMOS_IN1234Q: r = {0, hw(0) + hw(1), 0, vw(0) + vw(2)}; break;
        case DBD_VBO_IN12V: r = {0, hw(4), 0, vw(4) + vw(5)}; break;
        default: break;
        }
    }
    IWIN[w] = r;
    printf("IWIN[%d]  HST=%4d  HW=%4d  VST=%4d  VW=%4d\n", w, r.hst, r.hw, r.vst, r.vw);
}

_ImageWindowDef_st c331_manage::sourceArea(int p, bool cropped, const int* m) const
{
    if (!validPort(p) || PI_ACT[p][1] == 0 || PI_ACT[p][3] == 0)
        return {0, 0, 0, 0};
    const int width = PI_ACT[p][1] * (PI_STATE[p] == STATE_VBO_WIDE ? 2 : 1);
    const int height = PI_ACT[p][3] * (PI_SCAN_MODE[p] ? 2 : 1);
    _ImageWindowDef_st r{0, width, 0, height};
    if (cropped) { // margins left, right, top, bottom
        r.hst = m[0] >= 0 && m[0] < width ? m[0] : 0;
        r.hw = width - m[0] - m[1] < 1 ? width : width - m[0] - m[1];
        r.vst = m[2] >= 0 && m[2] < height ? m[2] : 0;
        r.vw = height - m[2] - m[3] < 1 ? height : height - m[2] - m[3];
    }
    return r;
}

void c331_manage::calc_owin2(int w)
{
    if (!vyrApi_IsWinValid(w))
        return;
    const int* m = PM_WIN_OFFSET[w]; // left, right, top, bottom
    // 64-bit: canvas sizes times tile counts come from the block and must not wrap.
    auto clampInt = [](long long v) { return int(std::max<long long>(std::min<long long>(v, 0x7FFFFFFF), -0x7FFFFFFF)); };
    _ImageWindowDef_st r{m[0], clampInt(1LL * PS_ACTHW * PM_WIN_SHAPE[w][0] - m[0] - m[1]), m[2],
                         clampInt(1LL * PS_ACTVW * PM_WIN_SHAPE[w][1] - m[2] - m[3])};
    if (PM_WIN_DBD_MODE[w] == 0) {
        r.hw = std::max(r.hw, 0);
        r.vw = std::max(r.vw, 0);
    } else {
        _ImageWindowDef_st& in = IWIN[w];
        if (PM_WIN_DBD_PARAM[w] == 0) {
            // shown 1:1: both take the smaller size
            in.hw = r.hw = std::min(in.hw, r.hw);
            in.vw = r.vw = std::min(in.vw, r.vw);
        } else {
            in.hw = std::min(in.hw, r.hw);
            in.vw = std::min(in.vw, r.vw);
            if (r.hw < 1)
                r.hw = in.hw;
            if (r.vw < 1)
                r.vw = in.vw;
        }
    }
    OWIN[w] = r;
    if (traceOn())
        printf("OWIN[%d]  HST=%4d  HW=%4d  VST=%4d  VW=%4d\n", w, r.hst, r.hw, r.vst, r.vw);
}

void c331_manage::set_mct(int fd, int w, int force)
{
    if (!vyrApi_IsWinValid(w))
        return;
    int ports[6];
    const bool multi = vyrApi_GetWinDbdMultiPort(w, ports) == 1;
    const int mode = PM_WIN_DBD_MODE[w];
    int q;
    if (!multi)
        q = PM_INPUT[w];
    else if (mode == DBD_CMOS_IN34 || mode == DBD_CMOS_IN34V)
        q = 2;
    else if (mode == DBD_VBO_IN12 || mode == DBD_VBO_IN12V)
        q = 4;
    else
        q = 0;
    const int c0 = g_win_ich[w][0];
    if (!validPort(q) || !validChannel(c0))
        return;
    const uint32_t m = PI_STATE[q] != STATE_NOSIGNAL ? 0x11 : 1;
    if (q < kCmosPorts) {
        const int r = PM_BNR[q] ? 2 : (PM_HNR[q] || PM_VNR[q] || PM_TNR[q] || PM_MNR[q]) ? 1 : 0;
        const bool interlaced = PI_SCAN_MODE[q] != 0;
        const uint32_t extra = (r != 0 || interlaced) && force == 0 ? 14 : 0;
        const uint32_t code = interlaced && force == 0 ? 0 : 1;
        drv->write_C331(fd, 0x000801 + (uint32_t(c0) << 8), m | (c0 < kIpChannels && !multi ? extra : 0), 0);
        drv->write_C331(fd, 0x100901, code, 16 * c0);
        if (r != nren_old[q]) {
            nren_old[q] = r;
            if (!(interlaced && force == 0) && c0 < kIpChannels)
                writeNrMode(fd, c0, r == 1 ? 1 : r == 2 ? 3 : 0);
        }
    } else {
        drv->write_C331(fd, 0x000801 + (uint32_t(c0) << 8), m, 0);
        drv->write_C331(fd, 0x100901, 1, 16 * c0);
    }
    for (int k = 1; k < kChannels && g_win_ich[w][k] >= 0; ++k) {
        const int c = g_win_ich[w][k];
        if (!validChannel(c))
            break;
        drv->write_C331(fd, 0x000801 + (uint32_t(c) << 8), m, 0);
        drv->write_C331(fd, 0x100901, uint32_t(c0 + 8), 16 * c);
    }
}

void c331_manage::set_iscwct(int fd, int w)
{
    if (!vyrApi_IsWinValid(w))
        return;
    const int wm = PM_MEM_WMODE[w];
    const uint32_t code = wm == 1 ? 0x80 : wm == 2 ? 0x01 : wm == 3 ? 0x11 : 0;
    for (int k = 0; k < kChannels && validChannel(g_win_ich[w][k]); ++k)
        drv->write_C331(fd, 0x007101 + (uint32_t(g_win_ich[w][k]) << 8), code, 0);
}

void c331_manage::set_lut_hshrnk(int fd, int ratio, int c, int split)
{
    // The second half of a split lives on channel c + 1, which must exist.
    if (!validChannel(c) || (split && c + 1 >= kChannels))
        return;
    drv->write_C331(fd, 0x007901, uint32_t(stepOf(kHShrink, ratio, 44)), 0);
    drv->write_C331(fd, 0x007A01, uint32_t(4 * c + 131), 0);
    if (split)
        drv->write_C331(fd, 0x007A01, uint32_t(4 * c + 135), 0);
}

void c331_manage::set_lut_vshrnk_4sym(int fd, int ratio, int c, int split)
{
    if (!validChannel(c) || (split && c + 1 >= kChannels))
        return;
    const int8_t* set = lut[stepOf(kVShrink, ratio, 9)];
    for (int half = 0; half <= (split ? 1 : 0); ++half)
        for (uint32_t i = 0; i < 24; ++i)
            drv->write_C331(fd, (0x116801 + (i << 8)), uint8_t(set[i]), 16u * uint32_t(c + half));
}
