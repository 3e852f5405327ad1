// Full-screen test patterns from the pattern generator of window 0's output channels.
#include "scaler/c331_manage.h"

#include "scaler/c331_drv.h"
#include "base/global.h"

#include <algorithm>
#include <cstdio>
#include <utility>
#include <vector>

namespace {

constexpr int kOutputChannels = 8;
constexpr int kPatterns = 20;
constexpr uint32_t kWideWindow = 2048; // a wider window needs the generator's wide phase
constexpr uint32_t kWidePhase = 0x8000;
constexpr uint32_t kPhase = 0x085B02;

// Generator registers cleared before every pattern, in this order.
const uint32_t kClear[] = {0x085701, 0x085801, 0x085901, 0x085A01, 0x085B02, 0x085D02, 0x085F02, 0x086102,
                           0x086301, 0x086401, 0x086501, 0x086601, 0x086701, 0x086801};

using Writes = std::vector<std::pair<uint32_t, uint32_t>>;

Writes colour(uint32_t r, uint32_t g, uint32_t b, uint32_t scale)
{
    return {{0x086301, r}, {0x086401, g}, {0x086501, b}, {0x086601, scale}, {0x086701, scale}, {0x086801, scale}};
}

Writes join(Writes a, const Writes& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// Writes of pattern n besides the phase register; the phase is given separately because the
// solid colours and line patterns take it per channel and per window width.
struct Pattern {
    Writes writes;
    int phase; // -1 none, kSolidPhase, kLinePhase, or the fixed value
};
constexpr int kSolidPhase = -2; // 0 on the first channel, 3 on the others, wide phase when wide
constexpr int kLinePhase = -3;  // the mode value, wide phase when wide

const std::vector<Pattern>& patterns()
{
    static const std::vector<Pattern> p = [] {
        const Writes white = colour(255, 255, 255, 3);
        auto solid = [](uint32_t r, uint32_t g, uint32_t b) {
            return Pattern{join({{0x085701, 4}}, colour(r, g, b, 3)), kSolidPhase};
        };
        std::vector<Pattern> t(kPatterns, Pattern{{}, -1});
        t[0] = solid(255, 0, 0);
        t[1] = solid(0, 255, 0);
        t[2] = solid(0, 0, 255);
        t[3] = solid(255, 255, 255);
        t[4] = solid(0, 0, 0);
        t[5] = {join({{0x085701, 1}, {0x085F02, 480}}, white), int(kWidePhase)};
        t[6] = {join({{0x085701, 14}, {0x085F02, 1}}, white), kLinePhase};
        t[7] = {join({{0x085701, 15}, {0x086102, 1}}, white), kLinePhase};
        t[10] = {join({{0x085701, 8}, {0x085801, 48}, {0x085F02, 32}, {0x086102, 32}}, white), int(kWidePhase)};
        t[11] = {join({{0x085701, 5}, {0x085F02, 240}, {0x086102, 270}}, white), int(kWidePhase)};
        t[12] = {join({{0x085701, 14}, {0x085F02, 1}, {0x086102, 0}}, white), int(kWidePhase)};
        t[13] = {join({{0x085701, 1}, {0x085F02, 480}, {0x086102, 0}}, white), int(kWidePhase)};
        t[14] = {{{0x085701, 3}, {0x085901, 1}, {0x085F02, 36863}, {0x086401, 120}}, int(kWidePhase)};
        t[15] = {{{0x085701, 3}, {0x085801, 2}, {0x085901, 1}, {0x085A01, 1}, {0x085F02, 36863}, {0x086102, 36863},
                  {0x086401, 120}},
                 int(kWidePhase)};
        t[16] = {join({{0x085701, 6}, {0x085F02, 960}}, white), int(kWidePhase)};
        t[17] = {join({{0x085701, 9}, {0x085F02, 4}, {0x086102, 3840}}, white), 32917};
        t[18] = {join({{0x085701, 2}, {0x086102, 270}}, white), int(kWidePhase)};
        t[19] = {join({{0x085701, 3}, {0x085801, 1}, {0x085901, 1}, {0x085A01, 1}, {0x086102, 20479}}, white),
                 int(kWidePhase)};
        return t;
    }();
    return p;
}

}

int c331_manage::c331_SetPattern(int pattern)
{
    call_log.record("c331_SetPattern", {pattern});
    // Off is always taken: a pattern switched on before a second window opened must not stay.
    if (pattern > 0 && wincnt > 1) {
        if (traceOn())
            printf("\t wincnt:%d OOR, return fail\r\n", wincnt);
        return -1;
    }
    const int fd = c331_fd;
    const ST_WIN_INFO& win0 = gWininfo[0];
    const int count = std::min(8, win0.ochHCnt * win0.ochVCnt);
    if (traceOn())
        printf("\r\n[c331_SetPattern] pattern:%d,chcnt=%d\r\n", pattern, count);
    std::vector<uint32_t> channels; // window 0's own channels; an empty slot (255) is none
    uint8_t own = 0;
    for (int m = 0; m < count; ++m) {
        if (win0.ochPosLst[m] < kOutputChannels) {
            channels.push_back(16u * win0.ochPosLst[m]);
            own |= uint8_t(1u << win0.ochPosLst[m]);
        }
    }
    // Channels a pattern was left on that window 0 no longer uses (the panel changed since) are
    // cleared too, or they would keep showing it after the pattern is switched off.
    std::vector<uint32_t> cleared = channels;
    for (uint32_t o = 0; o < kOutputChannels; ++o)
        if ((pattern_channels & ~own) & (1u << o))
            cleared.push_back(16u * o);
    for (uint32_t off : cleared)
        for (uint32_t desc : kClear)
            drv->write_C331(fd, desc, 0, off);
    pattern_channels = 0;

    if (pattern <= 0) {
        pattern_flag = 0;
        if (traceOn())
            printf("    turn off pattern\r");
        set_input_bkg2(fd, 0, 0);
        return 0;
    }
    const int n = (pattern - 1) % kPatterns;
    if (traceOn())
        printf("    vyr pattern Idx:%d \r\n", n);
    pattern_flag = 1;
    pattern_channels = own;
    set_input_bkg2(fd, 0, 0);
    const bool wide = win0.w > kWideWindow;
    const Pattern& p = patterns()[size_t(n)];
    for (size_t i = 0; i < channels.size(); ++i) {
        const uint32_t off = channels[i];
        for (const auto& w : p.writes)
            drv->write_C331(fd, w.first, w.second, off);
        if (p.phase == kSolidPhase)
            drv->write_C331(fd, kPhase, wide ? kWidePhase : i == 0 ? 0 : 3, off);
        else if (p.phase == kLinePhase)
            drv->write_C331(fd, kPhase, wide ? kWidePhase : p.writes.front().second, off);
        else if (p.phase >= 0)
            drv->write_C331(fd, kPhase, uint32_t(p.phase), off);
    }
    return 0;
}
