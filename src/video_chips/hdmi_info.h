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
