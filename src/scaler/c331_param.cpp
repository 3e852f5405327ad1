// The chip model's fixed set-up (PS_), its derived values and the default user parameters (PM_).
#include "scaler/c331_manage.h"

#include "base/global.h"

#include <cstdio>

namespace {

constexpr int kWindows = 6;
constexpr int kOutputChannels = 8;
constexpr int kInputChannels = 8;

// Frame stores: four bases given by the board's memory map, a fifth continuing their step;
// channel c uses each base plus c x 0x2000.
constexpr int kMemBase[5] = {0x08800000, 0x11000000, 0x19800000, 0x22000000, 0x2A800000};
constexpr int kMemChannelStep = 0x2000;

// Raises a change word when a loaded value differs from the one held.
void take(int& held, int value, uint32_t& word)
{
    if (held != value)
        word = 1;
    held = value;
}

}

// clang-format off
const int c331_manage::parameters_txt[160] = {
    // 0-11 window shape (columns, rows)
    2, 1,  2, 1,  1, 1,  1, 1,  1, 1,  1, 1,
    // 12-17 input port of each window
    4, 5, 1, 2, 3, 0,
    // 18-41 window offsets
    100, 100, 100, 100,  0, 0, 0, 0,  0, 0, 540, 0,  0, 0, 1080, 0,  0, 0, 1080, 0,  0, 0, 540, 0,
    // 42-65 input offsets
    100, 100, 200, 200,  0, 0, 0, 0,  400, 0, 200, 0,  0, 0, 0, 0,  0, 0, 0, 0,  0, 0, 0, 0,
    // 66-71 input offset enable
    1, 0, 0, 0, 0, 0,
    // 72-79 window of each output channel, 80-87 tile index, 88-95 layer group
    0, 0, 1, 1, 2, 3, 4, 5,
    0, 1, 0, 1, 0, 0, 0, 0,
    0, 0, 0, 0, 1, 2, 3, 4,
    // 96-101 layer of each window
    1, 0, 2, 3, 4, 5,
    // 102-107 attribute bit 0, 108-113 attribute bit 1
    0, 0, 0, 1, 1, 1,
    0, 0, 1, 0, 1, 0,
    // 114-119 fade enable, 120-125 fade in, 126-131 fade out
    0, 1, 1, 1, 0, 1,
    60, 60, 60, 60, 60, 60,
    60, 60, 60, 60, 60, 60,
    // 132-137, 138-143 dot-by-dot
    0, 0, 1, 0, 1, 1,
    0, 0, 0, 0, 0, 0,
    // 144-148 OSD enable, zooms, data mode, scroll mode
    0, 0, 0, 1, 2,
    // 149-152 OSD output offsets, 153-156 OSD input offsets
    0, 0, 0, 0,
    0, 0, 0, 0,
    // 157-158 OSD modes, 159 OSD update button
    1, 0, 0,
};
// clang-format on

void c331_manage::load_system_param()
{
    PS_CLOCK[0] = 32000000;
    PS_CLOCK[1] = 800000000;
    PS_CLOCK[2] = 27000000;
    PS_CLOCK[3] = 27000000;
    const int pll1[5] = {0, 137, 0, 1, 22};
    const int pll2[4] = {137, 0, 2, 24};
    for (int i = 0; i < 5; ++i)
        PS_PLL_SET1[i] = pll1[i];
    for (int i = 0; i < 4; ++i)
        PS_PLL_SET2[i] = pll2[i];
    PS_ACTHW = 1920;
    PS_ACTVW = 2160;
    PS_HTOTAL = 2200;
    PS_VTOTAL = 2250;
    PS_HSW = 88;
    PS_HBP = 88;
    PS_VSW = 10;
    PS_VBP = 72;
    PS_VBOTX_MODE = 0;
    PS_VBOTX_LAYOUT = 0;
    for (int c = 0; c < kInputChannels; ++c)
        for (int k = 0; k < 5; ++k)
            PS_MEM_SC[c][k] = kMemBase[k] + c * kMemChannelStep;
}

void c331_manage::define_param()
{
    PS_ACTHST = PS_HSW + PS_HBP;
    PS_OAOIHST = PS_ACTHST;
    PS_OAOIHED = PS_OAOIHST + PS_ACTHW;
    PS_ACTVST = PS_VSW + PS_VBP;
    PS_OAOIVST = PS_ACTVST;
    PS_OAOIVED = PS_OAOIVST + PS_ACTVW;

    const bool layout = PS_VBOTX_LAYOUT != 0;
    int across, down; // output ports making up the panel
    if (PS_VBOTX_MODE == 0)
        across = layout ? 2 : 4, down = layout ? 2 : 1;
    else if (PS_VBOTX_MODE == 2)
        across = layout ? 1 : 2, down = layout ? 2 : 1;
    else
        across = layout ? 4 : 8, down = layout ? 2 : 1;
    PS_PANEL_HW = across * PS_ACTHW;
    PS_PANEL_VW = down * PS_ACTVW;
    PS_PANEL_HSHAPE = across;
    PS_PANEL_VSHAPE = down;

    for (int c = 0; c < kInputChannels; ++c)
        g_ich_owner[c] = -1;
    for (int w = 0; w < kWindows; ++w)
        for (int k = 0; k < kInputChannels; ++k)
            g_win_ich[w][k] = -1;
    for (int i = 0; i < 5; ++i)
        g_ich_order[i] = i;
    PM_OSD_SCROLL_SPEED = 32;
    PM_OSD_CHAR_64DOT = 1;
}

void c331_manage::load_param()
{
    call_log.record("load_param", {});
    const int* p = parameters_txt;
    for (int w = 0; w < kWindows; ++w) {
        take(PM_WIN_SHAPE[w][0], p[2 * w], g_chg_geometry[w]);
        take(PM_WIN_SHAPE[w][1], p[2 * w + 1], g_chg_geometry[w]);
        uint32_t inputWord = g_chg_input[w];
        take(PM_INPUT[w], p[12 + w], inputWord);
        g_chg_input[w] = int(inputWord);
        for (int i = 0; i < 4; ++i) {
            take(PM_WIN_OFFSET[w][i], p[18 + 4 * w + i], g_chg_geometry[w]);
            take(PM_INPUT_OFFSET[w][i], p[42 + 4 * w + i], g_chg_geometry[w]);
        }
        take(PM_INPUT_OFFSET_EN[w], p[66 + w], g_chg_geometry[w]);
        take(PM_OVERLAY_PRI[w], p[96 + w], g_chg_priority);
        take(PM_MEMMODE_H[w], p[102 + w], g_chg_memmode[w]);
        take(PM_MEMMODE_V[w], p[108 + w], g_chg_memmode[w]);
        take(PM_WIN_FADE_EN[w], p[114 + w], g_chg_fade[w]);
        take(PM_WIN_FADE_IN[w], p[120 + w], g_chg_fade[w]);
        take(PM_WIN_FADE_OUT[w], p[126 + w], g_chg_fade[w]);
        take(PM_WIN_DBD_MODE[w], p[132 + w], g_chg_dbd[w]);
        take(PM_WIN_DBD_PARAM[w], p[138 + w], g_chg_dbd[w]);
    }
    for (int o = 0; o < kOutputChannels; ++o) {
        PM_WIN_NUM[o] = p[72 + o];
        PM_AREA_NUM[o] = p[80 + o];
        take(PM_OVERLAY[o], p[88 + o], g_chg_overlay);
    }

    take(PM_OSD_EN, p[144], osd_attribute_word);
    take(PM_OSD_HZOOM_EN, p[145], osd_attribute_word);
    take(PM_OSD_VZOOM_EN, p[146], osd_attribute_word);
    take(PM_OSD_DATA_MODE, p[147], osd_content_word);
    take(PM_OSD_SCROLL_MODE, p[148], osd_attribute_word);
    for (int i = 0; i < 4; ++i) {
        take(PM_OSD_OUTPUT_OFFSET[i], p[149 + i], osd_attribute_word);
        take(PM_OSD_INPUT_OFFSET[i], p[153 + i], osd_content_word);
    }
    take(PM_OSD_MODE[0], p[157], osd_mode_word[0]);
    // A cleared mode or button is no request by itself.
    if (PM_OSD_MODE[1] != p[158] && p[158] != 0)
        osd_mode_word[1] = 1;
    PM_OSD_MODE[1] = p[158];
    if (PM_OSD_UPDATE_BUTTON != p[159] && p[159] != 0)
        osd_content_word = 1;
    PM_OSD_UPDATE_BUTTON = p[159];

    for (int w = 0; w < kWindows; ++w) {
        PM_WIN_STITCHING[w] = w;
        if (traceOn())
            printf("load_param  WIN[%d]  win=%d  dbd=%d  input=%d  pri=%d\n", w, int(g_chg_geometry[w]),
                   int(g_chg_dbd[w]), g_chg_input[w], int(g_chg_priority));
    }
}
