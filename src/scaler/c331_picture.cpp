// Picture controls, background colour and test patterns on the eight output channels.
#include "scaler/c331_manage.h"

#include "scaler/c331_drv.h"
#include "base/global.h"
#include "base/logMsg.h"
#include "base/posix_lock.h"
#include "params/vyrrampara.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {
constexpr int kOutputChannels = 8;
}

void c331_manage::writeAllChannels(uint32_t desc, uint32_t value)
{
    for (int n = 0; n < kOutputChannels; ++n)
        drv->write_C331(c331_fd, desc, value, 16 * n);
}

// Contrast and saturation: enable bit 0 of `enable`, then the same value into three 2-byte
// registers from `first`, on every output channel.
void c331_manage::setGainTriple(uint32_t enable, uint32_t first, uint32_t data)
{
    set_rtct(c331_fd, 2);
    for (int n = 0; n < kOutputChannels; ++n) {
        drv->write_c331_mask(c331_fd, enable, 1, 1, 16 * n);
        for (uint32_t i = 0; i < 3; ++i)
            drv->write_C331(c331_fd, first + (i * 2 << 8), data, 16 * n);
    }
    set_rtct(c331_fd, 1);
}

namespace {
// Brightness, contrast, saturation and sharpness are percentages: the chip would take 101 as 0.
constexpr int kPercentMax = 100;
bool percent(int v) { return v >= 0 && v <= kPercentMax; }
}

void c331_manage::takeBackStoredPicture()
{
    // A value an older program stored out of range (contrast 101, a gain of 256) would be shown
    // wrapped or not at all at every start: the factory value is shown instead and the block
    // gets it, as after a refused change, so pages, tools and the saved file say what is shown.
    struct Range {
        uint32_t field;
        uint16_t max;
    };
    static constexpr Range kRanges[] = {
        {blk::kBrightness, kPercentMax},  {blk::kContrast, kPercentMax},      {blk::kSharpness, kPercentMax},
        {blk::kSaturation, kPercentMax},  {blk::kColourTemp, kColourModeMax}, {blk::kColourRed, kColourGainMax},
        {blk::kColourGreen, kColourGainMax}, {blk::kColourBlue, kColourGainMax},
    };
    VyrRamPara* store = VyrRamPara::p_vyrrampara_config;
    if (!store)
        return;
    std::string taken;
    {
        PosixLock lock(c331_mutex);
        for (const Range& r : kRanges) {
            const uint16_t stored = store->boxWord(r.field); // not a tool's write before its apply
            if (stored <= r.max)
                continue;
            // Image byte 2 + i holds block byte 0x300 + i.
            const uint16_t factory = blk::get16(default_para_ramlist + 2, r.field - kPersistStart);
            if (!applied_valid) {
                memcpy(applied, store->shadow, sizeof applied);
                applied_valid = true;
            }
            store->setBoxWord(r.field, factory);
            blk::put16(applied, r.field, factory);
            char text[24];
            snprintf(text, sizeof text, " 0x%X=%u", r.field, unsigned(stored));
            taken += text;
        }
    }
    if (taken.empty())
        return;
    writeLogMsg(LOG_WARNING, "stored picture values out of range (block offset=value)" + taken +
                                 ", the factory values are shown");
    store->test_signal(1);
}

bool c331_manage::c331_SetBrightness(uint16_t v)
{
    call_log.record("c331_SetBrightness", {v});
    if (!percent(v))
        return false;
    const int b = v;
    const uint32_t data = uint32_t((b - 50) * 1024 / 50) & 0xFFF;
    if (traceOn())
        printf("\r\n[c331_SetBrightness] %d\n\t data:%04x\r\n", b, data);
    set_rtct(c331_fd, 2);
    for (uint32_t desc : {0x0C3A02u, 0x0C3C02u, 0x0C3E02u})
        writeAllChannels(desc, data);
    set_rtct(c331_fd, 1);
    return true;
}

bool c331_manage::c331_SetContrast(int v)
{
    call_log.record("c331_SetContrast", {v});
    if (!percent(v))
        return false;
    const uint32_t data = uint32_t(v * 1023 / 100);
    if (traceOn())
        printf("\r\n[c331_SetContrast] val:%d, data:%d\r\n", v, data);
    setGainTriple(0x0C2101, 0x0C2802, data);
    return true;
}

bool c331_manage::c331_SetSaturation(int v)
{
    call_log.record("c331_SetSaturation", {v});
    if (!percent(v))
        return false;
    const uint32_t data = uint32_t(v * 1023 / 100) & 0x7FF;
    if (traceOn())
        printf("[c331_SetSaturation] %d:%04x\r\n", v, data);
    setGainTriple(0x0C1401, 0x0C1B02, data);
    return true;
}

bool c331_manage::c331_SetColorTemp(int packed)
{
    call_log.record("c331_SetColorTemp", {packed});
    const uint32_t p = uint32_t(packed);
    if ((p & 0xFF) > kColourModeMax) // a mode of 5 would be taken as warm
        return false;
    auto gain = [](uint32_t g) { return uint32_t(std::lround(g / 128.0 * 8192)) & 0xFFFF; };
    uint32_t c1, c2, c3;
    switch (p & 3) {
    case 1: c1 = 8845; c2 = 8113; c3 = 7056; break;
    case 2: c1 = 8192; c2 = 8192; c3 = 8192; break;
    case 3: c1 = 6944; c2 = 8282; c3 = 10978; break;
    default: // user gains: red, green, blue
        c1 = gain(p >> 24 & 0xFF);
        c2 = gain(p >> 16 & 0xFF);
        c3 = gain(p >> 8 & 0xFF);
        break;
    }
    if (traceOn())
        printf("[c331_SetColorTemp] %8x\r\n", p);
    set_rtct(c331_fd, 2);
    for (uint32_t addr = 0x59; addr <= 0x60; ++addr)
        drv->write_c331_mask(c331_fd, addr << 8 | 1, 0x20, 0x20, 0);
    writeAllChannels(0x0C5B02, c1);
    writeAllChannels(0x0C6302, c2);
    writeAllChannels(0x0C6B02, c3);
    for (uint32_t desc : {0x0C5D02u, 0x0C5F02u, 0x0C6102u, 0x0C6502u, 0x0C6702u, 0x0C6902u})
        writeAllChannels(desc, 0);
    set_rtct(c331_fd, 1);
    return true;
}

namespace {

// Peaking filter coefficients k1-k5 by scale ratio (above 2.5, 2.0, 1.25, else).
const uint32_t kHorizontalPeaking[4][5] = {
    {36, 43, 58, 4, 5}, {30, 42, 0, 7, 0}, {28, 46, 5, 3, 60}, {44, 49, 56, 63, 2}};
const uint32_t kVerticalPeaking[4][5] = {
    {42, 48, 59, 0, 0}, {34, 47, 0, 0, 0}, {28, 45, 5, 0, 0}, {44, 50, 56, 0, 0}};

int ratioClass(double r) { return r > 2.5 ? 0 : r > 2.0 ? 1 : r > 1.25 ? 2 : 3; }

double ratio(int out, double in) { return in > 0 ? out / in : 0.0; }

}

bool c331_manage::c331_SetSharpness(int v)
{
    call_log.record("c331_SetSharpness", {v});
    if (!percent(v))
        return false;
    const int s = v <= 9 ? 0 : v - 10;
    // One byte on the chip: a level above 19 saturates instead of wrapping round to soft.
    const uint32_t gain = s > 0 ? uint32_t(std::min<int64_t>(int64_t(s) * 128 / 10, 255)) : 0;
    if (traceOn())
        printf("[c331_SetSharpness] :%04x\r\n", s);
    const int fd = c331_fd;
    set_rtct(fd, 2);
    drv->write_c331_mask(fd, 0x0C2101, 1, 1, 0);
    const int windows = std::clamp(wincnt, 0, 6);
    for (int i = 0; i < windows; ++i) {
        const ST_WIN_INFO& info = gWininfo[i];
        const int port = vyrApi_inputCvtC331(info.input);
        if (port > 5 || PI_STATE[port] == 0)
            continue;
        // The window's own channels only; an empty slot (255) is no channel.
        std::vector<uint32_t> channels;
        for (int m = 0; m < std::min(8, info.ochHCnt * info.ochVCnt); ++m)
            if (info.ochPosLst[m] < kOutputChannels)
                channels.push_back(16u * info.ochPosLst[m]);

        const uint32_t on = s > 0 ? 6 : 0;
        for (uint32_t off : channels)
            drv->write_C331(fd, 0x0B0801, on, off);
        const uint32_t* h = kHorizontalPeaking[ratioClass(ratio(OWIN[i].hw, PI_ACT[port][1]))];
        for (uint32_t off : channels) {
            for (uint32_t k = 0; k < 5; ++k)
                drv->write_C331(fd, (0x0C + k) << 8 | 0x0B0001, s > 0 ? h[k] : 0, off);
            drv->write_C331(fd, 0x0B0901, gain, off);
            drv->write_C331(fd, 0x0B1101, on, off);
        }
        const double inHeight = double(PI_ACT[port][3]) * (1 + (PI_SCAN_MODE[port] != 0 ? 1 : 0));
        const uint32_t* vc = kVerticalPeaking[ratioClass(ratio(OWIN[i].vw, inHeight))];
        for (uint32_t off : channels) {
            drv->write_C331(fd, 0x0B5E01, 1, off);
            for (uint32_t k = 0; k < 5; ++k)
                drv->write_C331(fd, (0x15 + k) << 8 | 0x0B0001, s > 0 ? vc[k] : 0, off);
            drv->write_C331(fd, 0x0B1201, gain, off);
        }
        if (s == 0)
            break; // level 0: the filters are off after the first window
    }
    set_rtct(fd, 1);
    return true;
}

void c331_manage::vyrApi_forceColorDisable(int fd)
{
    call_log.record("vyrApi_forceColorDisable", {});
    g_force_bkcolor = 2;
    if (traceOn())
        printf("[vyrApi_forceColorDisable]");
    for (int n = 0; n < kOutputChannels; ++n)
        drv->write_C331(fd, 0x084903, 0, 16 * n);
    const int windows = std::clamp(wincnt, 0, 6);
    for (int i = 0; i < windows; ++i) {
        const ST_WIN_INFO& info = gWininfo[i];
        const int port = vyrApi_inputCvtC331(info.input);
        const uint32_t enable = port > 5 || PI_STATE[port] == 0 ? 1 : 0; // no signal: background
        const int count = std::min(8, info.ochHCnt * info.ochVCnt);
        if (traceOn())
            printf("\t win_%d, oimgct:%d,och:\t", i, count);
        for (int m = 0; m < count; ++m) {
            const uint8_t o = info.ochPosLst[m];
            if (o >= kOutputChannels)
                continue;
            if (traceOn())
                printf("%d ", o);
            drv->write_C331(fd, 0x084801, enable, 16u * o);
        }
        if (traceOn())
            printf("\n");
    }
}

void c331_manage::vyrApi_SetOutBkg(int colour)
{
    if (traceOn())
        printf("[vyrApi_SetOutBkg] color:%08X\r\n", uint32_t(colour));
    const int fd = c331_fd;
    for (int k = 0; k < kOutputChannels; ++k) {
        const uint32_t off = 16u * k;
        const bool used = och_tab.owner[k] != C331OutputChannels::kNone;
        const uint32_t c = used && g_force_bkcolor.load() == 1 ? 0x00FF00 : 0;
        if (traceOn())
            printf(used ? "\t Used CH:%d color ==> %8X\n" : "\t unUsed CH:%d color ==> %8X\n", k, c);
        drv->write_C331(fd, 0x084903, c, off);
        drv->write_C331(fd, 0x084801, 1, off);
        drv->write_C331(fd, 0x0E0D02, och_tab.overlay[k] == 1 ? 0x55 : 0, off);
    }
}
