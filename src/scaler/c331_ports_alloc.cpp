// Input channel allocation: which of the eight capture channels each window gets, the port each
// channel takes and the dual capture of a wide input.
#include "scaler/c331_manage.h"

#include "scaler/c331_drv.h"
#include "base/global.h"
#include "base/logMsg.h"

#include <cstdio>

using namespace c331in;

namespace {
bool validPort(int p) { return p >= 0 && p < kPorts; }
bool validChannel(int c) { return c >= 0 && c < kChannels; }
}

// The block says the window is shown while the chip has no capture for it: say so in the log.
void c331_manage::warnNoCapture(int w, const char* why)
{
    writeLogMsg(LOG_WARNING, "window " + std::to_string(w) + " left without capture: " + why);
}

bool c331_manage::winInUse(int w) const
{
    return vyrApi_IsWinValid(w) && PM_WIN_SHAPE[w][0] != 0 && PM_WIN_SHAPE[w][1] != 0;
}

void c331_manage::rebuildWinIch()
{
    for (int w = 0; w < kWindows; ++w) {
        int k = 0;
        for (int c = 0; c < kChannels; ++c)
            if (g_ich_owner[c] == w)
                g_win_ich[w][k++] = c;
        while (k < kChannels)
            g_win_ich[w][k++] = -1;
    }
}

int c331_manage::check_ich_all(int w)
{
    int need = 0;
    for (int v = 0; v < kWindows; ++v) {
        if (!winInUse(v))
            continue;
        const int m = PM_WIN_DBD_MODE[v];
        if (m < 2)
            need += PM_INPUT[v] >= 0 && PM_INPUT[v] < kCmosPorts ? 1 : validPort(PM_INPUT[v]) ? 2 : 0;
        else if (m <= 29)
            need += 2;
        else if (m <= 39)
            need += 3;
        else if (m <= 51)
            need += 4;
    }
    if (need > kChannels) {
        printf("check_ich_all ret=%d\n", -1);
        return -1;
    }
    for (int c = 0; c < kChannels; ++c) {
        const int o = g_ich_owner[c];
        if (!winInUse(o) || o == w)
            g_ich_owner[c] = -1;
    }
    rebuildWinIch();
    printf("check_ich_all ret=%d\n", need);
    return need;
}

int c331_manage::check_ich(int interlaced, int pair)
{
    auto freeCh = [&](int c) { return g_ich_owner[c] == -1; };
    if (pair) {
        for (int a : {4, 6, 2, 0})
            if (freeCh(a) && freeCh(a + 1))
                return a;
        return -1;
    }
    // Channels 0-3 first: they can take any input. Channel 0 is taken only while 2 is free, so
    // an interlaced input keeps a choice.
    if (freeCh(0))
        return freeCh(2) ? 0 : freeCh(3) ? 3 : 0;
    for (int c : {1, 2, 3})
        if (freeCh(c))
            return c;
    if (interlaced)
        return -1;
    // Among 4-7, keep a whole pair free for a V-by-One input where possible.
    const bool f4 = freeCh(4), f6 = freeCh(6);
    if (f4 && f6)
        return 4;
    if (f4)
        return freeCh(7) ? 7 : 4;
    if (f6)
        return freeCh(5) ? 5 : 6;
    if (freeCh(5))
        return 5;
    if (freeCh(7))
        return 7;
    return -1;
}

int c331_manage::adjust_ich(int interlaced, int pair, int w)
{
    auto freeCh = [&](int c) { return g_ich_owner[c] == -1; };
    auto firstFree = [&](std::initializer_list<int> list) {
        for (int c : list)
            if (freeCh(c))
                return c;
        return -1;
    };
    auto ng = [] {
        printf("adjust_ich NG!!!\n");
        return -1;
    };
    if (!pair && !interlaced) {
        const int c = firstFree({0, 1, 2, 3, 4, 5, 6, 7});
        if (c < 0)
            return ng();
        g_ich_owner[c] = w;
        return 0;
    }
    if (!pair) {
        int c = firstFree({0, 1, 2, 3});
        if (c >= 0) {
            g_ich_owner[c] = w;
            return 0;
        }
        for (c = 0; c < kIpChannels; ++c) {
            const int owner = g_ich_owner[c];
            const int port = vyrApi_IsWinValid(owner) ? PM_INPUT[owner] : -1;
            if (validPort(port) && PI_PORT_INFO[port][PINFO_INTERLACED] != 0)
                continue;
            const int to = firstFree({4, 5, 6, 7});
            if (to < 0)
                return ng();
            g_ich_owner[to] = owner;
            if (vyrApi_IsWinValid(owner))
                g_chg_input[owner] = 2;
            g_ich_owner[c] = w;
            return 0;
        }
        printf("ICH1-4 is not available!!!\n");
        c = firstFree({4, 5, 6, 7});
        if (c < 0)
            return ng();
        g_ich_owner[c] = w;
        return 0;
    }
    struct PairMove {
        int first;
        std::initializer_list<int> search;
    };
    const PairMove pairs[] = {{4, {6, 7, 0, 1, 2, 3}}, {6, {0, 1, 2, 3}}, {0, {2, 3}}};
    for (const PairMove& pm : pairs) {
        const int a = pm.first, b = a + 1;
        if (!freeCh(a) && !freeCh(b))
            continue;
        if (!freeCh(a) || !freeCh(b)) {
            const int held = freeCh(a) ? b : a;
            const int to = firstFree(pm.search);
            if (to < 0)
                continue;
            const int owner = g_ich_owner[held];
            g_ich_owner[to] = owner;
            if (vyrApi_IsWinValid(owner))
                g_chg_input[owner] = 2;
        }
        g_ich_owner[a] = g_ich_owner[b] = w;
        return 0;
    }
    return ng();
}

int c331_manage::set_input(int w, int p)
{
    if (!vyrApi_IsWinValid(w))
        return 2;
    const int mode = PM_WIN_DBD_MODE[w];
    if (mode >= 2 && g_chg_dbd[w] == 0)
        return 0;
    if (!winInUse(w)) {
        if (traceOn())
            printf("[set_input] win_%d, port_%d, window is unavailable\n", w, p);
        return 2;
    }
    if (check_ich_all(w) == -1) {
        if (traceOn())
            printf("[set_input] win_%d, check_ich_all(win) fail\n", w);
        warnNoCapture(w, "the windows need more than eight input channels");
        return 2;
    }
    int result = 0;
    if (mode < 2) {
        if (p >= 0 && p < kCmosPorts) {
            const int interlaced = PI_PORT_INFO[p][PINFO_INTERLACED];
            const int c = check_ich(interlaced, 0);
            if (c >= 0)
                g_ich_owner[c] = w;
            else
                result = adjust_ich(interlaced, 0, w) == 0 ? 1 : 2;
        } else if (validPort(p)) {
            const int c = check_ich(0, 1);
            if (c >= 0)
                g_ich_owner[c] = g_ich_owner[c + 1] = w;
            else
                result = adjust_ich(0, 1, w) == 0 ? 1 : 2;
        } else {
            result = 2;
        }
    } else {
        const int need = mode <= 29 ? 2 : mode <= 39 ? 3 : mode <= 51 ? 4 : 0;
        bool failed = need == 0;
        int missing = 0;
        for (int i = 0; i < need; ++i) {
            const int c = check_ich(0, 0);
            if (c >= 0)
                g_ich_owner[c] = w;
            else
                ++missing;
        }
        // One reshuffle for two or three channels, one per missing channel for four.
        const int reshuffles = mode <= 39 ? 1 : missing;
        for (int i = 0; i < missing && !failed; ++i) {
            if (i >= reshuffles || adjust_ich(0, 0, w) != 0)
                failed = true;
            else
                result = 1;
        }
        if (failed) {
            // A window that cannot have all its channels keeps none.
            for (int c = 0; c < kChannels; ++c)
                if (g_ich_owner[c] == w)
                    g_ich_owner[c] = -1;
            printf("set_input Dot-By-Dot Rare Case!!!   win=%d  port=%d\n", w, p);
            result = 2;
        }
    }
    rebuildWinIch();
    if (result == 2)
        warnNoCapture(w, "no input channel");
    return result;
}

void c331_manage::reset_ich(int w)
{
    if (!vyrApi_IsWinValid(w) || winInUse(w))
        return;
    for (int k = 0; k < kChannels && g_win_ich[w][k] >= 0; ++k) {
        const int c = g_win_ich[w][k];
        if (validChannel(c) && g_ich_owner[c] == w)
            g_ich_owner[c] = -1;
        g_win_ich[w][k] = -1;
    }
}

void c331_manage::set_ichsel(int fd, int w)
{
    if (!vyrApi_IsWinValid(w))
        return;
    const int mode = PM_WIN_DBD_MODE[w];
    if (traceOn())
        printf("[set_ichsel] PM_WIN_DBD_MODE[win_%d]:%d\n", w, mode);
    auto select = [&](int c, int value) {
        if (validChannel(c))
            drv->write_C331(fd, 0x001001 + (uint32_t(c) << 8), uint32_t(value), 0);
    };
    if (mode < 2) {
        const int c = g_win_ich[w][0];
        const int p = PM_INPUT[w];
        if (c < 0 || !validPort(p))
            return;
        if (p < kCmosPorts) {
            select(c, 2 * p);
        } else {
            const int base = 4 * (p - 2);
            select(c, base);
            if (c + 1 < kChannels)
                select(c + 1, base + (PI_HDMI_INFO[p].lane > 4 ? 2 : 1));
        }
        return;
    }
    int values[4];
    int count;
    switch (mode) {
    case DBD_CMOS_IN12:
    case DBD_CMOS_IN12V: values[0] = 0, values[1] = 2, count = 2; break;
    case DBD_CMOS_IN34:
    case DBD_CMOS_IN34V: values[0] = 4, values[1] = 6, count = 2; break;
    case DBD_CMOS_IN123: values[0] = 0, values[1] = 2, values[2] = 4, count = 3; break;
    case DBD_CMOS_IN1234:
    case DBD_CMOS_IN1234Q: values[0] = 0, values[1] = 2, values[2] = 4, values[3] = 6, count = 4; break;
    case DBD_VBO_IN12:
    case DBD_VBO_IN12V: {
        const bool wide4 = PI_HDMI_INFO[4].lane > 4, wide5 = PI_HDMI_INFO[5].lane > 4;
        if (traceOn()) {
            printf("\t port_%d %s lane\n", 4, wide4 ? "8" : "4");
            printf("\t port_%d %s lane\n", 5, wide5 ? "8" : "4");
        }
        values[0] = 8, values[1] = wide4 ? 10 : 9, values[2] = 12, values[3] = wide5 ? 14 : 13, count = 4;
        break;
    }
    default: return;
    }
    for (int k = 0; k < count && g_win_ich[w][k] >= 0; ++k)
        select(g_win_ich[w][k], values[k]);
}

void c331_manage::set_idual(int fd, int c, int enable, int p)
{
    if (!validChannel(c) || (enable && !validPort(p)))
        return;
    const uint32_t g = 0x900u * uint32_t(c / 2);
    if (!enable) {
        drv->write_C331(fd, 0x030801 + g, 0, 0);
        return;
    }
    drv->write_C331(fd, 0x030801 + g, 3, 0);
    drv->write_C331(fd, 0x030902 + g, uint32_t(PI_ACT[p][0]), 0);
    drv->write_C331(fd, 0x030B02 + g, uint32_t(2 * PI_ACT[p][1]), 0);
}
