// The on-screen menu file's first item as the scaler's OSD settings and text lines.
#include "scaler/c331_osd_menu.h"

#include "scaler/c331_manage.h"

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

namespace {

// UTF-8 to UCS-4; a malformed sequence, an overlong form or a surrogate gives U+FFFD.
std::vector<uint32_t> ucs4(const std::string& text)
{
    static const uint32_t kMin[4] = {0, 0x80, 0x800, 0x10000};
    std::vector<uint32_t> out;
    const auto* p = reinterpret_cast<const unsigned char*>(text.data());
    const size_t n = text.size();
    size_t i = 0;
    while (i < n) {
        const unsigned char c = p[i];
        const int extra = c < 0x80 ? 0 : (c & 0xE0) == 0xC0 ? 1 : (c & 0xF0) == 0xE0 ? 2 : (c & 0xF8) == 0xF0 ? 3 : -1;
        if (extra < 0) {
            out.push_back(0xFFFD);
            ++i;
            continue;
        }
        uint32_t code = extra == 0 ? c : c & (0x3Fu >> extra);
        int k = 1;
        for (; k <= extra; ++k) {
            if (i + size_t(k) >= n || (p[i + size_t(k)] & 0xC0) != 0x80)
                break;
            code = code << 6 | (p[i + size_t(k)] & 0x3F);
        }
        if (k <= extra) { // cut short: the bytes taken so far are one bad character
            out.push_back(0xFFFD);
            i += size_t(k);
            continue;
        }
        const bool bad = code < kMin[extra] || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF);
        out.push_back(bad ? 0xFFFD : code);
        i += size_t(extra) + 1;
    }
    return out;
}

}

void set_OSD_para(OSD_LIST& list, c331_manage& scaler, uint16_t ledW, uint16_t ledH)
{
    if (list.osdcount == 0)
        return;
    OMENU_PARA& m = list.menu[0];
    m.w = std::min<int32_t>(m.w, ledW);
    m.y = std::min<int32_t>(m.y, ledH);
    scaler.load_char();
    scaler.vyrApi_OsdSet(5, m.x);
    scaler.vyrApi_OsdSet(6, m.w);
    scaler.vyrApi_OsdSet(7, m.y);
    scaler.vyrApi_OsdSet(8, m.h);
    scaler.vyrApi_OsdSet(3, m.type == 0 ? 1 : 0);
    if (m.fontw == 32 && m.fonth == 32) {
        scaler.vyrApi_OsdSet(1, 0);
        scaler.vyrApi_OsdSet(2, 0);
        scaler.vyrApi_OsdSet(14, 0);
    } else if (m.fontw == 64 && m.fonth == 64) {
        scaler.vyrApi_OsdSet(1, 0);
        scaler.vyrApi_OsdSet(2, 0);
        scaler.vyrApi_OsdSet(14, 1);
    } else if (m.fontw == 128 && m.fonth == 128) {
        scaler.vyrApi_OsdSet(1, 1);
        scaler.vyrApi_OsdSet(2, 1);
        scaler.vyrApi_OsdSet(14, 1);
    } else {
        scaler.vyrApi_OsdSet(14, 0);
    }
    scaler.vyrApi_OsdSet(21, m.startx);
    scaler.vyrApi_OsdSet(22, m.starty);

    // Lines at "\n", empty ones kept, at most 64, each cut to the 128-character line buffer.
    constexpr int kLines = c331_manage::kOsdLines, kChars = c331_manage::kOsdLineChars;
    auto lines = std::make_unique<uint32_t[][kChars]>(kLines);
    int lengths[kLines] = {};
    int count = 0;
    size_t from = 0;
    while (count < kLines) {
        const size_t at = m.texts.find('\n', from);
        const std::vector<uint32_t> chars = ucs4(m.texts.substr(from, at == std::string::npos ? std::string::npos : at - from));
        lengths[count] = int(std::min<size_t>(chars.size(), kChars));
        std::copy(chars.begin(), chars.begin() + lengths[count], lines[count]);
        ++count;
        if (at == std::string::npos)
            break;
        from = at + 1;
    }
    scaler.vyrApi_OsdSetUnicode(count, lines.get(), lengths);

    scaler.vyrApi_OsdSet(17, int(omenuSwapRedBlue(omenuColour(m.font_color))));
    scaler.vyrApi_OsdSet(13, m.speed * 10);
    if (m.enable != "off") {
        scaler.vyrApi_OsdSet(16, int(omenuSwapRedBlue(omenuColour(m.color))));
        scaler.vyrApi_OsdSet(18, 0);
    } else {
        scaler.vyrApi_OsdSet(18, 1);
    }
    static const int kEffect[5] = {0, 3, 4, 1, 2};
    if (m.effect >= 0 && m.effect <= 4)
        scaler.vyrApi_OsdSet(4, kEffect[m.effect]);
    scaler.vyrApi_OsdSet(0, m.status == "on" ? 1 : 0);
    scaler.vyrApi_OsdSet(33, m.layer == "buttom" ? 1 : 0);
    scaler.vyrApi_OsdSet(34, m.wordspace);
    scaler.vyrApi_OsdSet(35, m.verticalspace);
}
