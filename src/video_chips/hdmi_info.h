#pragma once
#include <cstdint>

// Timing record of one input as the receiver drivers publish it (17 32-bit words). Writers and
// readers hold Utils::_source_hdminfo_mutex around a whole record.
struct HDMI_INFO {
    int32_t hact;
    int32_t hsync;
    int32_t hback;
    int32_t hpol;
    int32_t htt;
    int32_t vact;
    int32_t vsync;
    int32_t vback;
    int32_t vpol;
    int32_t vtt;
    float pfreq; // pixel clock, MHz
    int32_t type;
    int32_t datamode;
    int32_t lane;
    int32_t ip;
    int32_t nosignal;
    int32_t stable;
};
static_assert(sizeof(HDMI_INFO) == 17 * 4, "HDMI_INFO is 17 words");

// Frame rate in hertz from a measured pixel clock and the frame's totals, to the nearest hertz:
// a measured clock a hair under the true one would otherwise show 50 Hz as 49. 0 without totals.
inline uint32_t frameRateHz(uint64_t pixelClockKHz, uint32_t htotal, uint32_t vtotal)
{
    const uint64_t frame = uint64_t(htotal) * vtotal;
    return frame ? uint32_t((pixelClockKHz * 1000 + frame / 2) / frame) : 0;
}
