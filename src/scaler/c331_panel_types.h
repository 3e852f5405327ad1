#pragma once
// The LED panel as the scaler chip drives it: canvas, splice parts, output-channel grid and timing.
#include <cstdint>

// Splice modes of the LED screen (block value modulo 6).
enum SpliceMode { SPLICE_NONE = 0, SPLICE_HV, SPLICE_V, SPLICE_H, SPLICE_CP1TO2, SPLICE_CP2TO1 };

// Output-channel grids of the panel.
enum PanelArrangement {
    ARRANG2K4_2x1 = 5,
    ARRANG2K4_4x1_8K = 6,
    ARRANG2K4_2x2_8K = 7,
    ARRANG2K4_1x2 = 8,
};

struct ST_OCH_SIZE {
    int width;
    int height;
};

struct ST_PANEL {
    uint16_t w, h;           // LED screen size
    uint16_t w1, w2, h1, h2; // the two splice parts
    uint16_t xoffs, yoffs;   // canvas offsets, published for the FPGA
    uint8_t och_HCnt, och_VCnt;
    int splice;
    int ochBW;               // 0 OCHBW_2K4K30, else OCHBW_2K2K30
    int arrang;
    ST_OCH_SIZE och;
    int HTT, HSW, HFP, VTT, VSW, VFP;
    uint8_t use1och;         // the canvas fits one channel pair
};

// Output channels as the windows use them.
struct C331OutputChannels {
    static constexpr uint8_t kNone = 255;
    uint8_t owner[8];   // the channel's own number once a window uses it, kNone idle
    uint8_t overlay[8]; // 1: lent to a window that shares a channel with another, kNone not
    bool error;         // a window's channel list named a channel above 7
};
