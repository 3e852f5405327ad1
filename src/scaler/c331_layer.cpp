// Layers: output channels that show the same part of the canvas are stacked in layer groups; the
// chip mixes a group's members by coefficients, which a fade ramps.
#include "scaler/c331_manage.h"

#include "scaler/c331_drv.h"
#include "base/global.h"
#include "base/logMsg.h"

#include <algorithm>
#include <cstdio>
#include <string>

namespace {

constexpr int kWindows = 6;
constexpr int kChannels = 8;
constexpr int kGroups = 8;
constexpr int kMixGroups = 4; // groups whose members the chip can mix
constexpr int kFull = 128;    // weight of a layer shown alone

uint32_t groupOff(int g) { return uint32_t(16 * g); }

// Coefficient j (0 background, 1-4 layers) of layer mask k.
uint32_t coef(int k, int j) { return 0x0E1101 + (uint32_t(5 * k + j) << 8); }

int highestBit(int k)
{
    int b = -1;
    for (; k; k >>= 1)
        ++b;
    return b;
}

}

void c331_manage::update_overlay_info()
{
    for (int w = 0; w < kWindows; ++w) {
        int n = 0;
        for (int k = 0; k < kChannels; ++k)
            if (PM_WIN_NUM[k] == w)
                winState.winOch[w][n++] = k;
        while (n < kChannels)
            winState.winOch[w][n++] = -1;
    }
    auto layerOf = [&](int ch) {
        const int w = PM_WIN_NUM[ch];
        return w >= 0 && w < kWindows ? PM_OVERLAY_PRI[w] : 0;
    };
    for (int g = 0; g < kGroups; ++g) {
        int n = 0;
        for (int k = 0; k < kChannels; ++k)
            if (PM_OVERLAY[k] == g + 1)
                winState.groupMember[g][n++] = k;
        winState.groupCount[g] = n;
        for (int i = n; i < kChannels; ++i)
            winState.groupMember[g][i] = -1;
        // lowest layer first; equal layers keep channel order
        std::stable_sort(winState.groupMember[g], winState.groupMember[g] + n,
                         [&](int a, int b) { return layerOf(a) < layerOf(b); });
    }
}

void c331_manage::set_overlay(int fd)
{
    for (int g = 0; g < kGroups; ++g) {
        uint32_t members = 0;
        for (int i = 0; i < winState.groupCount[g]; ++i)
            members |= uint32_t(winState.groupMember[g][i] + 8) << (4 * i);
        drv->write_C331(fd, 0x0E0904, members, groupOff(g));
    }
}

void c331_manage::reset_layer_coef(int fd, int mode)
{
    const uint32_t sel = mode == 0 ? 0 : mode == 1 ? 0x100 : 0x200;
    for (int g = 0; g < kMixGroups; ++g) {
        const uint32_t c = winState.groupCount[g] > 0 ? kFull : 0;
        for (int k = 0; k < 16; ++k) {
            // Only the top layer present in the mask is seen.
            const int top = k == 0 ? 0 : 1 + highestBit(k);
            for (int j = 0; j < 5; ++j)
                drv->write_C331(fd, coef(k, j), j == top ? c : 0, groupOff(g));
            drv->write_C331(fd, 0x0E0F02, sel, groupOff(g));
        }
    }
}

void c331_manage::set_layer_coef(int fd, int win, int steps, int dir)
{
    if (traceOn())
        printf("set_layer_coef  win=%d  cnt=%d  dir=%d\n", win, steps, dir);
    if (steps < 0 || win < 0 || win >= kWindows)
        return;
    // Each step waits an output frame, with the hand-over held.
    steps = std::min(steps, kMaxFadeSteps);
    for (int i = 0; i <= steps; ++i) {
        const int a = steps == 0 ? kFull : i * kFull / steps;
        const int weight = dir == 1 ? a : kFull - a;
        const int other = kFull - weight;
        drv->write_C331(fd, 0x002201, 255, 0);
        drv->write_C331(fd, 0x002301, 255, 0);
        for (int g = 0; g < kMixGroups; ++g) {
            const int* m = winState.groupMember[g];
            int p = -1;
            for (int i2 = 0; i2 < winState.groupCount[g] && p < 0; ++i2)
                if (m[i2] >= 0 && m[i2] < kChannels && PM_WIN_NUM[m[i2]] == win)
                    p = i2;
            if (p < 0)
                continue;
            if (p > 3) {
                drv->write_C331(fd, 0x0E0F02, p == 4 ? 0x100 : 0x200, groupOff(g));
                p = 3;
            } else {
                drv->write_C331(fd, 0x0E0F02, 0, groupOff(g));
            }
            for (int k = 1; k < 16; ++k) {
                if (!(k & (1 << p)) || k >= (1 << (p + 1)))
                    continue;
                drv->write_C331(fd, coef(k, p + 1), uint32_t(weight), groupOff(g));
                int below = p - 1;
                while (below >= 0 && !(k & (1 << below)))
                    --below;
                drv->write_C331(fd, coef(k, below + 1), uint32_t(other), groupOff(g));
            }
        }
        drv->write_C331(fd, 0x002201, 0xA9, 0);
        drv->write_C331(fd, 0x002301, 0xCB, 0);
        // Without output frames the ramp cannot be seen: go to its end at once.
        if (!wait1_povs(fd, 0) && i < steps - 1) {
            writeLogMsg(LOG_WARNING, "fade of window " + std::to_string(win) + " cut short: no output frames");
            i = steps - 1;
        }
    }
}
