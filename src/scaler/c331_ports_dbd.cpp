// Dot-by-dot windows: frame memory blocks for pictures wider than one channel or stitched from
// several inputs, and the capture set-up of their channels.
#include "scaler/c331_manage.h"

#include "scaler/c331_drv.h"
#include "base/global.h"

#include <algorithm>
#include <cstdio>
#include <vector>

using namespace c331in;

namespace {

bool validPort(int p) { return p >= 0 && p < kPorts; }
bool validChannel(int c) { return c >= 0 && c < kChannels; }

// Modes whose blocks are taken from block 0 upwards; the others from block 5 downwards.
bool upwards(int mode)
{
    return mode == DBD_SINGLE_INPUT || mode == DBD_CMOS_IN12 || mode == DBD_CMOS_IN34 || mode == DBD_CMOS_IN123 ||
           mode == DBD_CMOS_IN1234 || mode == DBD_VBO_IN12;
}

struct Area {
    int hst, hw, vst, vw;
};

}

int c331_manage::check_dbd_input(int, int p)
{
    if (!validPort(p))
        return 0;
    const int limit = p < kCmosPorts ? 2560 : 5120;
    return PI_ACT_FULL[p][1] > limit || PI_ACT_FULL[p][3] > 2176 ? 1 : 0;
}

void c331_manage::reset_dbd_mem(int w)
{
    if (!vyrApi_IsWinValid(w))
        return;
    for (int& b : g_win_dbd_mem[w]) {
        if (b >= 0 && b < kDbdBlocks)
            g_dbd_mem_owner[b] = -1;
        b = -1;
    }
}

int c331_manage::set_dbd_mem(int fd, int w)
{
    if (!vyrApi_IsWinValid(w))
        return -1;
    reset_dbd_mem(w);
    const int mode = PM_WIN_DBD_MODE[w];
    const int c0 = g_win_ich[w][0];
    if (!validChannel(c0) || mode == DBD_DISABLE)
        return -1;
    const int p = PM_INPUT[w];
    if (mode == DBD_SINGLE_INPUT && validPort(p) && check_dbd_input(fd, p) == 0) {
        for (int k = 0; k < 5; ++k)
            g_win_mem_addr[w][k] = PS_MEM_SC[c0][k];
        g_win_mem_units[w] = kDefaultUnits;
        return 0;
    }
    const int count = mode == DBD_SINGLE_INPUT ? (p < kCmosPorts ? 1 : 2) : mode <= 29 ? 2 : mode <= 39 ? 3 : 4;
    int taken[4], n = 0;
    if (upwards(mode)) {
        for (int b = 0; b < kDbdBlocks && n < count; ++b)
            if (g_dbd_mem_owner[b] == -1)
                taken[n++] = b;
    } else {
        for (int b = kDbdBlocks - 1; b >= 0 && n < count; --b)
            if (g_dbd_mem_owner[b] == -1)
                taken[n++] = b;
    }
    if (n < count) {
        printf("Dot-By-Dot memory assignment error!!!   win=%d  mode=%d  mem_cnt=%d  blk_cnt=%d\n", w, mode, n, count);
        warnNoCapture(w, "no dot-by-dot frame memory");
        return -1;
    }
    for (int i = 0; i < n; ++i) {
        g_dbd_mem_owner[taken[i]] = 1;
        g_win_dbd_mem[w][i] = taken[i];
    }
    // The store starts at the lowest block of the run.
    const int first = upwards(mode) ? taken[0] : taken[n - 1];
    for (int k = 0; k < 5; ++k)
        g_win_mem_addr[w][k] = kDbdBase[k] + kDbdBlockSize * first;
    auto hw = [&](int q) { return validPort(q) ? PI_ACT_FULL[q][1] : 0; };
    int width;
    switch (mode) {
    case DBD_SINGLE_INPUT: width = hw(p); break;
    case DBD_CMOS_IN12: width = hw(0) + hw(1); break;
    case DBD_CMOS_IN12V: width = hw(0); break;
    case DBD_CMOS_IN34: width = hw(2) + hw(3); break;
    case DBD_CMOS_IN34V: width = hw(2); break;
    case DBD_CMOS_IN123: width = hw(0) + hw(1) + hw(2); break;
    case DBD_CMOS_IN1234: width = hw(0) + hw(1) + hw(2) + hw(3); break;
    case DBD_CMOS_IN1234Q: width = hw(0) + hw(1); break;
    case DBD_VBO_IN12: width = hw(4) + hw(5); break;
    case DBD_VBO_IN12V: width = hw(4); break;
    default: width = hw(p); break;
    }
    g_win_mem_units[w] = (std::max(width, 0) + 319) / 320;
    return 0;
}

void c331_manage::set_display_window_ich_dbd(int fd, int w, int m)
{
    if (!vyrApi_IsWinValid(w))
        return;
    std::vector<int> chans;
    for (int k = 0; k < kChannels && validChannel(g_win_ich[w][k]); ++k)
        chans.push_back(g_win_ich[w][k]);
    if (chans.empty())
        return;
    for (int c : chans)
        set_idual(fd, c, 0, 0);
    if (set_dbd_mem(fd, w) == -1) {
        g_chg_input[w] = 0;
        g_chg_dbd[w] = 0;
        printf("[set_display_window_ich_dbd] g_chg_dbd[%d]:%d\n", w, 0);
        set_mct(fd, w, 0);
        return;
    }
    set_ichsel(fd, w);

    const int p = PM_INPUT[w];
    auto area = [&](int q) {
        const int* a = PI_ACT_FULL[q];
        return Area{std::max(a[0] - 7, 0), a[1], a[2] + 1, a[3]};
    };
    // A V-by-One port over two channels: halves side by side, or the whole picture on the first.
    auto vboPair = [&](int q, std::vector<Area>& out) {
        const Area whole = area(q);
        if (PI_STATE[q] < STATE_PROGRESSIVE) {
            const Area half{std::max(PI_ACT_FULL[q][0] / 2 - 7, 0), PI_ACT_FULL[q][1] / 2, whole.vst, whole.vw};
            out.push_back(half);
            out.push_back(half);
        } else {
            out.push_back(whole);
            out.push_back(Area{0, 0, 0, 0});
        }
    };
    std::vector<Area> areas;
    auto cmos = [&](int first, int count) {
        for (int q = first; q < first + count; ++q)
            areas.push_back(area(q));
    };
    switch (m) {
    case DBD_SINGLE_INPUT:
        if (!validPort(p))
            return;
        if (p < kCmosPorts)
            areas.push_back(area(p));
        else
            vboPair(p, areas);
        break;
    case DBD_CMOS_IN12:
    case DBD_CMOS_IN12V: cmos(0, 2); break;
    case DBD_CMOS_IN34:
    case DBD_CMOS_IN34V: cmos(2, 2); break;
    case DBD_CMOS_IN123: cmos(0, 3); break;
    case DBD_CMOS_IN1234:
    case DBD_CMOS_IN1234Q: cmos(0, 4); break;
    case DBD_VBO_IN12:
    case DBD_VBO_IN12V:
        vboPair(5, areas);
        vboPair(4, areas);
        break;
    default: return;
    }
    if (chans.size() < areas.size())
        return;

    PM_MEM_WMODE[w] = m == DBD_SINGLE_INPUT && PI_SCAN_MODE[p] ? 2 : PS_MEM_WMODE[w];
    const int wm = PM_MEM_WMODE[w];
    const uint32_t code = wm == 1 ? 0x80 : wm == 2 ? 0x01 : wm == 3 ? 0x11 : 0;
    // Byte offset of a channel whose picture starts W pixels into the line.
    auto sideOffset = [&](size_t k) {
        long long W = 0;
        for (size_t i = 0; i < k; ++i)
            W += areas[i].hw;
        switch (wm) {
        case 1: return 16 * (W / 5) + 3 * (W % 5);
        case 2:
            if (k == 0)
                return 2LL * ((3 - areas[0].hw % 3) % 3);
            return (W + 2) / 3 * 3 * 8 / 3;
        case 3: return 2 * W;
        default: return 4 * W;
        }
    };
    const long long pitch = 1LL * g_win_mem_units[w] * areas[0].vw * 1024;
    std::vector<long long> offsets(areas.size());
    for (size_t k = 0; k < areas.size(); ++k)
        offsets[k] = sideOffset(k);
    if (m == DBD_CMOS_IN12V || m == DBD_CMOS_IN34V) {
        offsets[0] = 0;
        offsets[1] = pitch;
    } else if (m == DBD_CMOS_IN1234Q || m == DBD_VBO_IN12V) {
        offsets[2] = offsets[0] + pitch;
        offsets[3] = offsets[1] + pitch;
    }
    uint32_t selectors = 0;
    for (int i = 0; i < 5; ++i)
        selectors |= uint32_t(winState.sel[w][i] & 7) << (4 * i);
    const int c0 = chans[0];
    for (size_t k = 0; k < areas.size(); ++k) {
        const int c = chans[k];
        const uint32_t off = 16u * uint32_t(c);
        const Area& a = areas[k];
        drv->write_C331(fd, 0x100901, k == 0 ? 1 : uint32_t(8 + c0), off);
        drv->write_C331(fd, 0x101702, uint32_t(a.hst), off);
        drv->write_C331(fd, 0x101902, uint32_t(a.hw), off);
        drv->write_C331(fd, 0x101B02, uint32_t(a.vst), off);
        drv->write_C331(fd, 0x101D02, uint32_t(a.vw), off);
        for (uint32_t reg : {0x114201u, 0x114401u, 0x114702u, 0x114901u, 0x114C02u, 0x114301u, 0x114501u,
                             0x114601u, 0x114A01u, 0x114B01u})
            drv->write_C331(fd, reg, 0, off);
        for (uint32_t i = 0; i < 5; ++i)
            drv->write_C331(fd, 0x161C04 + (4 * i << 8), uint32_t(g_win_mem_addr[w][i] + offsets[k]), off);
        drv->write_C331(fd, 0x163101, uint32_t(g_win_mem_units[w]), off);
        drv->write_C331(fd, 0x166603, selectors, off);
        drv->write_C331(fd, 0x007101 + (uint32_t(c) << 8), code, 0);
    }
    set_mct(fd, w, 0);
    if (m == DBD_SINGLE_INPUT)
        set_ip(fd, c0);
}
