// Picture controls, background colour and test patterns on the eight output channels.
#include "scaler/c331_manage.h"

#include "scaler/c331_drv.h"
#include "base/global.h"

#include <cmath>
#include <cstdio>

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

void c331_manage::c331_SetBrightness(uint16_t v)
{
    call_log.record("c331_SetBrightness", {v});
    const int b = v % 101;
    const uint32_t data = uint32_t((b - 50) * 1024 / 50) & 0xFFF;
    if (traceOn())
        printf("\r\n[c331_SetBrightness] %d\n\t data:%04x\r\n", b, data);
    set_rtct(c331_fd, 2);
    for (uint32_t desc : {0x0C3A02u, 0x0C3C02u, 0x0C3E02u})
        writeAllChannels(desc, data);
    set_rtct(c331_fd, 1);
}

void c331_manage::c331_SetContrast(int v)
{
    call_log.record("c331_SetContrast", {v});
    const uint32_t data = uint32_t(((v % 101) + 101) % 101 * 1023 / 100);
    if (traceOn())
        printf("\r\n[c331_SetContrast] val:%d, data:%d\r\n", v, data);
    setGainTriple(0x0C2101, 0x0C2802, data);
}

void c331_manage::c331_SetSaturation(int v)
{
    call_log.record("c331_SetSaturation", {v});
    const uint32_t data = uint32_t(((v % 101) + 101) % 101 * 1023 / 100) & 0x7FF;
    if (traceOn())
        printf("[c331_SetSaturation] %d:%04x\r\n", v, data);
    setGainTriple(0x0C1401, 0x0C1B02, data);
}

void c331_manage::c331_SetColorTemp(int packed)
{
    call_log.record("c331_SetColorTemp", {packed});
    const uint32_t p = uint32_t(packed);
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
}

void c331_manage::c331_SetSharpness(int v)
{
    call_log.record("c331_SetSharpness", {v});
    const int s = v <= 9 ? 0 : v - 10;
    if (traceOn())
        printf("[c331_SetSharpness] :%04x\r\n", s);
    // The per-window peaking filters follow the window tables.
    set_rtct(c331_fd, 2);
    drv->write_c331_mask(c331_fd, 0x0C2101, 1, 1, 0);
    set_rtct(c331_fd, 1);
}

int c331_manage::c331_SetPattern(int pattern)
{
    call_log.record("c331_SetPattern", {pattern});
    if (wincnt > 1) {
        if (traceOn())
            printf("\t wincnt:%d OOR, return fail\r\n", wincnt);
        return -1;
    }
    pattern_flag = pattern > 0 ? 1 : 0;
    return 0;
}

void c331_manage::vyrApi_forceColorDisable(int fd)
{
    call_log.record("vyrApi_forceColorDisable", {});
    g_force_bkcolor = 2;
    if (traceOn())
        printf("[vyrApi_forceColorDisable]");
    for (int n = 0; n < kOutputChannels; ++n) {
        drv->write_C331(fd, 0x084903, 0, 16 * n);
        drv->write_C331(fd, 0x084801, 0, 16 * n);
    }
}
