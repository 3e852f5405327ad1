#pragma once
// The on-screen menu file ("/data/configs/omenu.json", and its copies with the user modes), read
// into OSD_LIST; the scaler turns its first item into its OSD settings (scaler/c331_osd_menu.h).
#include <cstdint>
#include <string>

struct OMENU_PARA {
    int32_t type = 0;
    std::string status;
    int32_t x = 0, y = 0, w = 0, h = 0;
    int32_t effect = 0, speed = 0, staytime = 0;
    std::string enable; // background
    std::string color;  // background
    std::string layer;  // empty when absent
    int32_t startx = 0, starty = 0, fontw = 0, fonth = 0, wordspace = 0, verticalspace = 0;
    std::string font_color;
    std::string texts;
    int32_t start = 0, end = 0;
};

struct OSD_LIST {
    int32_t osdcount = 0;
    int32_t oactcount = 0;
    OMENU_PARA menu[3];
};

extern OSD_LIST g_osd_list;

// Parses the document at path (absolute, under the root) into out; out.osdcount is 0 when nothing
// was read. A missing or mistyped key leaves its field empty; a file that is not JSON is deleted.
void get_json_omenu_para(const char* path, OSD_LIST* out);

// Colour helpers, for the scaler's OSD and the page that shows a mode's menu.
uint32_t omenuColour(const std::string& text); // "FF0000" or "0xFF0000" -> 0xFF0000; 0 when bad
uint32_t omenuSwapRedBlue(uint32_t rgb);       // 0xRRGGBB -> 0xBBGGRR
