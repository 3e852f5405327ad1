// On-screen display: settings, text lines, fonts, drawing the plane with the chip's OSD engine,
// its placement on the output channels and scrolling.
//
// OSD engine of bank 0x04 (start 0x08, done 0x17 bit 0 = 1):
//   0x08 := 1 fill:  0x11 (4) destination, 0x0D (2) width, 0x0F (2) lines, 0x15 (2) stride in
//                    128-byte units, 0x18 palette index
//   0x08 := 2 copy:  0x09 (4) source, 0x11 destination, 0x0D width, 0x0F lines, 0x15 stride (both)
//   0x08 := 3 text:  records from the FIFO 0x29, 0x19 (2) count - 1, 0x1B (4) font address,
//                    0x1F glyph size (32 or 64), 0x11 destination, 0x15 stride
// Glyphs are 1 bit per pixel, rows top down, most significant bit leftmost.
// Palette: 09:1F entry index, 09:20 data (red, green, blue per entry, the index advancing).
#include "scaler/c331_manage.h"

#include "base/delay.h"
#include "base/global.h"
#include "base/logMsg.h"
#include "params/block_layout.h"
#include "params/vyrrampara.h"
#include "scaler/c331_drv.h"

#include <algorithm>
#include <cstdio>
#include <mutex>

namespace {

constexpr uint32_t kEngineStart = 0x040801;
constexpr uint32_t kEngineDone = 0x041701;
constexpr int kEnginePolls = 1000;
constexpr uint8_t kTransparent = 255, kBackground = 1, kForeground = 2;
// The plane and its 2 x 2 tiled copy must stay inside their chip-memory areas.
constexpr uint32_t kPlaneArea = c331_manage::PS_MEM_OSD1 - c331_manage::PS_MEM_OSD;
constexpr uint32_t kShownArea = c331_manage::PS_FONT_ADDR - c331_manage::PS_MEM_OSD1;
constexpr int kMaxPlane = 8192;

const char* onOff(int v, const char* on, const char* off) { return v ? on : off; }

}

bool c331_manage::osdTrace() const { return prnEn[8] & 0x80; }

void c331_manage::load_char()
{
    call_log.record("load_char", {});
    PS_BG_COLOR = 0xFF0000;
    PS_BG_TRANS = 0;
    PS_CHAR_HST = 0;
    PS_CHAR_VST = 0;
    PS_CHAR_COLOR = 0xC0C0FF;
    const uint32_t bases[4] = {PS_CHAR_ADDR_32ASCII, PS_CHAR_ADDR_32CHN, PS_CHAR_ADDR_64ASCII, PS_CHAR_ADDR_64CHN};
    const uint32_t sizes[4] = {0x3000, 0x290000, 0xC000, 0xA40000};
    for (int i = 0; i < 4; ++i) {
        osd_font_flash[i] = bases[i] + kFontHeader;
        osd_font_size[i] = sizes[i];
    }
    // The text plane covers the LED screen.
    PS_BG_HACT = pnl.w ? pnl.w : PS_PANEL_HW;
    PS_BG_VACT = pnl.h ? pnl.h : PS_PANEL_VW;
}

void c331_manage::read_c331_font(int fd)
{
    call_log.record("read_c331_font", {});
    struct Font {
        uint32_t address;
        uint32_t presence;
        uint8_t imageBits;
        const char* name;
    };
    static const Font fonts[4] = {{PS_CHAR_ADDR_32CHN, 1u << 0, 0x02, "32CN"},
                                  {PS_CHAR_ADDR_32ASCII, 1u << 1, 0x01, "32EN"},
                                  {PS_CHAR_ADDR_64CHN, 1u << 2, 0x28, "64CN"},
                                  {PS_CHAR_ADDR_64ASCII, 1u << 3, 0x14, "64EN"}};
    uint8_t set = 0, cleared = 0;
    for (const Font& f : fonts) {
        uint8_t header[kFontHeader] = {};
        const bool read = read_flash(fd, f.address, kFontHeader, header) == 0;
        const bool present = read && header[0] == 'P';
        if (present) {
            font_presence |= f.presence;
            set |= f.imageBits;
        } else {
            font_presence &= ~f.presence;
            cleared |= f.imageBits;
        }
        if (osdTrace())
            printf("\t font %s type:%c width:%d height:%d\n", f.name, present ? 'P' : '-', header[17], header[18]);
        if (!present)
            writeLogMsg(LOG_WARNING, std::string("scaler font ") + f.name + " missing from the flash");
    }
    if (VyrRamPara* store = VyrRamPara::p_vyrrampara_config) {
        uint8_t* byte = &store->image[regimage::kFontPresence];
        const uint8_t old = __atomic_load_n(byte, __ATOMIC_RELAXED);
        __atomic_store_n(byte, uint8_t((old & ~cleared) | set), __ATOMIC_RELAXED);
    }
}

void c331_manage::update_font(int fd)
{
    call_log.record("update_font", {});
    std::lock_guard<std::recursive_mutex> lock(flash_mutex);
    if (osd_font_size[0] == 0)
        load_char();
    // 32EN, 32CN, 64EN, 64CN one after the other: each CJK font directly follows its ASCII font.
    uint32_t* addr[4] = {&g_font_addr_32ASCII, &g_font_addr_32CHN, &g_font_addr_64ASCII, &g_font_addr_64CHN};
    uint32_t at = PS_FONT_ADDR;
    for (int i = 0; i < 4; ++i) {
        *addr[i] = at;
        if (osd_write_dma_sfl(fd, osd_font_flash[i], at, 0, osd_font_size[i]) != 0)
            writeLogMsg(LOG_ERROR, "font transfer from the scaler flash failed");
        at += osd_font_size[i];
    }
}

int c331_manage::vyrApi_OsdSet(int type, int value)
{
    call_log.record("vyrApi_OsdSet", {type, value});
    const bool trace = osdTrace();
    if (trace)
        printf("[vyrApi_OsdSet] type:%d, val:%x\n", type, value);
    switch (type) {
    case 0:
        PM_OSD_EN = value != 0;
        osd_attribute_word = 1;
        if (PM_OSD_EN && osd_plane_stale)
            osd_content_word = 1;
        if (trace)
            printf("\t OSD display %s\n", onOff(PM_OSD_EN, "enable", "disable"));
        break;
    case 1:
        PM_OSD_HZOOM_EN = value != 0;
        osd_attribute_word = 1;
        if (trace)
            printf("\t OSD horizontal zoom  %s\n", onOff(PM_OSD_HZOOM_EN, "enable", "disable"));
        break;
    case 2:
        PM_OSD_VZOOM_EN = value != 0;
        osd_attribute_word = 1;
        if (trace)
            printf("\t OSD vertical zoom %s\n", onOff(PM_OSD_VZOOM_EN, "enable", "disable"));
        break;
    case 3:
        PM_OSD_DATA_MODE = value != 0;
        osd_content_word = 1;
        if (trace)
            printf("\t OSD display data mode %s\n", onOff(PM_OSD_DATA_MODE, "char", "bmp"));
        break;
    case 4:
        PM_OSD_SCROLL_MODE = value % 9;
        osd_attribute_word = 1;
        if (trace)
            printf("\t OSD scroll mode %d\n", PM_OSD_SCROLL_MODE);
        break;
    case 5: PM_OSD_OUTPUT_OFFSET[0] = value; break;
    case 7: PM_OSD_OUTPUT_OFFSET[2] = value; break;
    case 6: PM_OSD_OUTPUT_OFFSET[1] = PS_BG_HACT - value - PM_OSD_OUTPUT_OFFSET[0]; break;
    case 8: PM_OSD_OUTPUT_OFFSET[3] = PS_BG_VACT - value - PM_OSD_OUTPUT_OFFSET[2]; break;
    case 9: case 10: case 11: case 12: PM_OSD_INPUT_OFFSET[type - 9] = value; break;
    case 13:
        PM_OSD_SCROLL_SPEED = value % 256;
        osd_attribute_word = 1;
        if (trace)
            printf("\t OSD scroll speed %d\n", PM_OSD_SCROLL_SPEED);
        break;
    case 14:
        PM_OSD_CHAR_64DOT = value != 0;
        osd_content_word = 1;
        if (trace)
            printf("\t Charater size %s\n", onOff(PM_OSD_CHAR_64DOT, "64x64", "32x32"));
        break;
    case 15:
        PM_OSD_UPDATE_BUTTON = value != 0;
        osd_content_word = 1;
        break;
    case 16:
        PS_BG_COLOR = value & 0xFFFFFF;
        if (trace)
            printf("\t background color BBGGRR %08x\n", PS_BG_COLOR);
        break;
    case 17:
        PS_CHAR_COLOR = value & 0xFFFFFF;
        if (trace)
            printf("\t character color BBGGRR %08x\n", PS_CHAR_COLOR);
        break;
    case 18:
        PS_BG_TRANS = value != 0;
        if (trace)
            printf("\t transparent background color %s\n", onOff(PS_BG_TRANS, "Enable", "Disable"));
        break;
    case 19: PS_BG_HACT = value; break;
    case 20: PS_BG_VACT = value; break;
    case 21: PS_CHAR_HST = value; break;
    case 22: PS_CHAR_VST = value; break;
    case 32:
        osd_attribute_word = (value >> 7) & 1;
        osd_content_word = (value >> 6) & 1;
        break;
    case 33: osd_control_flag = value != 0; break;
    case 34: osd_char_space = value; break;
    case 35: osd_line_space = value; break;
    default:
        return 0;
    }
    return 1;
}

int c331_manage::vyrApi_OsdSetUnicode(int count, const uint32_t (*lines)[kOsdLineChars], const int* lengths)
{
    // Clamped, not taken modulo 64: the 64 lines a menu may have must not clear the text.
    g_unicode_line = std::clamp(count, 0, kOsdLines);
    for (auto& line : osd_text)
        std::fill(std::begin(line), std::end(line), 0);
    if (!lines || !lengths)
        g_unicode_line = 0;
    for (int n = 0; n < g_unicode_line; ++n) {
        const int length = std::min(lengths[n], kOsdLineChars - 1);
        for (int i = 0; i < length; ++i) {
            // A code beyond 16 bits has no glyph: it is kept as one that draws blank.
            const uint32_t code = std::min<uint32_t>(lines[n][i], 0xFFFF);
            osd_text[n][2 * i] = uint8_t(code >> 8);
            osd_text[n][2 * i + 1] = uint8_t(code);
        }
    }
    return 0;
}

uint32_t c331_manage::osdStrideBytes() const
{
    return uint32_t(g_osd_mwi) * 128u * (g_osd_mwi_shift ? 4u : 1u);
}

bool c331_manage::osdEngineRun(int fd, uint8_t operation)
{
    drv->write_C331(fd, kEngineStart, operation, 0);
    for (int i = 0; i < kEnginePolls; ++i) {
        if (drv->read_C331(fd, kEngineDone, 0) & 1) {
            drv->write_C331(fd, kEngineStart, 0, 0);
            return true;
        }
        if (i > 16)
            Delay::us(100);
    }
    drv->write_C331(fd, kEngineStart, 0, 0);
    writeLogMsg(LOG_ERROR, "OSD engine of the scaler did not finish");
    return false;
}

bool c331_manage::osd_paint(int fd, uint32_t address, int width, int height, int index)
{
    if (width <= 0 || height <= 0)
        return true;
    drv->write_C331(fd, 0x041104, address, 0);
    drv->write_C331(fd, 0x040D02, uint32_t(width), 0);
    drv->write_C331(fd, 0x040F02, uint32_t(height), 0);
    drv->write_C331(fd, 0x041502, osdStrideBytes() / 128, 0);
    drv->write_C331(fd, 0x041801, uint32_t(index), 0);
    return osdEngineRun(fd, 1);
}

bool c331_manage::osd_copy(int fd, uint32_t from, uint32_t to, int width, int height)
{
    if (width <= 0 || height <= 0)
        return true;
    drv->write_C331(fd, 0x040904, from, 0);
    drv->write_C331(fd, 0x041104, to, 0);
    drv->write_C331(fd, 0x040D02, uint32_t(width), 0);
    drv->write_C331(fd, 0x040F02, uint32_t(height), 0);
    drv->write_C331(fd, 0x041502, osdStrideBytes() / 128, 0);
    return osdEngineRun(fd, 2);
}

void c331_manage::gen_char(int fd)
{
    const int size = PM_OSD_CHAR_64DOT ? 64 : 32;
    const uint32_t font = PM_OSD_CHAR_64DOT ? g_font_addr_64ASCII : g_font_addr_32ASCII;
    const bool asciiFont = font_presence & (PM_OSD_CHAR_64DOT ? 8u : 2u);
    const bool cjkFont = font_presence & (PM_OSD_CHAR_64DOT ? 4u : 1u);
    const uint8_t background = PS_BG_TRANS ? kTransparent : kBackground;
    const int pitch = size + osd_line_space;
    const uint32_t stride = osdStrideBytes();
    for (int n = 0; n < g_unicode_line; ++n) {
        const int64_t y = int64_t(PS_CHAR_VST) + int64_t(n) * pitch;
        // Every glyph stays inside the plane: lines that do not fit whole are not drawn.
        if (y < 0 || y + size > PS_BG_VACT || PS_CHAR_HST < 0)
            continue;
        int x = PS_CHAR_HST;
        int count = 0;
        for (int i = 0; i < kOsdLineChars; ++i) {
            const uint8_t high = osd_text[n][2 * i], low = osd_text[n][2 * i + 1];
            if (high == 0 && low == 0)
                break;
            const uint32_t code = uint32_t(high) << 8 | low;
            const bool ascii = high == 0;
            const int advance = (ascii ? size / 2 : size) + osd_char_space;
            if (advance <= 0 || advance > 255 || int64_t(x) + advance > PS_BG_HACT)
                break;
            uint32_t glyph = 0;
            bool blank = true;
            if (ascii && code >= 0x20 && code <= 0x7F && asciiFont) {
                glyph = code - 0x20;
                blank = false;
            } else if (!ascii && code >= 0x4E00 && code <= 0x9FFF && cjkFont && asciiFont) {
                glyph = 96 + (code - 0x4E00);
                blank = false;
            }
            // A character without a glyph draws as background only: same index for both.
            const uint8_t record[5] = {uint8_t(glyph), uint8_t(glyph >> 8), blank ? background : kForeground,
                                       background, uint8_t(advance)};
            for (uint8_t b : record)
                drv->write_C331(fd, 0x042901, b, 0);
            x += advance;
            ++count;
        }
        if (count == 0)
            continue;
        drv->write_C331(fd, 0x041902, uint32_t(count - 1), 0);
        drv->write_C331(fd, 0x041B04, font, 0);
        drv->write_C331(fd, 0x041F01, uint32_t(size), 0);
        drv->write_C331(fd, 0x041104, PS_MEM_OSD + uint32_t(PS_CHAR_HST) + stride * uint32_t(y), 0);
        drv->write_C331(fd, 0x041502, stride / 128, 0);
        if (!osdEngineRun(fd, 3))
            return;
    }
}

void c331_manage::set_char_color(int fd)
{
    drv->write_C331(fd, 0xFF0101, 1, 0);
    drv->write_C331(fd, 0x091F01, kBackground, 0);
    for (int colour : {PS_BG_COLOR, PS_CHAR_COLOR})
        for (int k = 0; k < 3; ++k)
            drv->write_C331(fd, 0x092001, uint32_t(colour >> (8 * k)) & 0xFF, 0);
    drv->write_C331(fd, 0xFF0101, 0, 0);
}

void c331_manage::load_bmp(int fd)
{
    std::lock_guard<std::recursive_mutex> lock(flash_mutex);
    if (osd_write_dma_sfl(fd, PS_BMP_ADDR, PS_SFL_ADDR, 0, kBmpWidth * kBmpHeight) != 0)
        writeLogMsg(LOG_ERROR, "OSD bitmap transfer from the scaler flash failed");
    // The staged bitmap is packed; the plane has the OSD stride.
    for (uint32_t y = 0; y < kBmpHeight; ++y)
        if (!osd_copy(fd, PS_SFL_ADDR + y * kBmpWidth, PS_MEM_OSD + y * osdStrideBytes(), kBmpWidth, 1))
            break;
}

void c331_manage::update_osd(int fd)
{
    ScalerCallLog::Nested inner; // upkeep work: its routing brackets are not setters the dispatch called
    std::lock_guard<std::recursive_mutex> lock(flash_mutex);
    // The redraw ends with placement and scrolling: pending attribute changes are served with it.
    osd_attribute_word = 0;
    // A plane nobody sees is drawn when the OSD is switched on.
    const bool shown = !osd_plane_stale;
    osd_plane_stale = PM_OSD_EN == 0;
    if (osd_plane_stale) {
        // Not drawn; a banner on the wall is placed once more, which clears its enable bits.
        if (shown) {
            set_rtct(fd, 2);
            set_osd(fd, 1);
            set_rtct(fd, 1);
        }
        return;
    }
    const bool text = PM_OSD_DATA_MODE != 0;
    int width = text ? std::clamp(PS_BG_HACT, 0, kMaxPlane) : int(kBmpWidth);
    int height = text ? std::clamp(PS_BG_VACT, 0, kMaxPlane) : int(kBmpHeight);
    g_osd_mwi = 2 * ((width + 127) / 128);
    g_osd_mwi = (g_osd_mwi + 3) / 4 * 4;
    g_osd_mwi_shift = 0;
    if (g_osd_mwi > 64) {
        g_osd_mwi /= 4;
        g_osd_mwi_shift = 1;
    }
    const uint32_t stride = std::max<uint32_t>(osdStrideBytes(), 1);
    // The plane and its tiled copy (twice as many lines) keep to their areas of chip memory.
    height = std::min<int>(height, int(std::min(kPlaneArea / stride, kShownArea / stride / 2)));
    if (text) {
        PS_BG_HACT = width;
        PS_BG_VACT = height;
        osd_paint(fd, PS_MEM_OSD, width, height, PS_BG_TRANS ? kTransparent : kBackground);
        gen_char(fd);
        wait1_povs(fd, 0);
        set_char_color(fd);
    } else {
        load_bmp(fd);
        wait1_povs(fd, 0);
        drv->write_C331(fd, 0xFF0101, 1, 0);
        if (osd_write_dma_sfl(fd, PS_BMPCP_ADDR, 0, 4, kPaletteBytes) != 0)
            writeLogMsg(LOG_ERROR, "OSD palette transfer from the scaler flash failed");
        drv->write_C331(fd, 0xFF0101, 0, 0);
    }
    set_rtct(fd, 2);
    set_osd(fd, 0);
    set_rtct(fd, 1);
    wait1_povs(fd, 0);
    const int in[4] = {PM_OSD_INPUT_OFFSET[0], PM_OSD_INPUT_OFFSET[1], PM_OSD_INPUT_OFFSET[2], PM_OSD_INPUT_OFFSET[3]};
    const int64_t vw = int64_t(width) - in[0] - in[1], vh = int64_t(height) - in[2] - in[3];
    if (vw < 0 || vh < 0 || in[0] < 0 || in[2] < 0 || 2 * vw > int64_t(stride) || vh > height)
        return;
    const uint32_t from = PS_MEM_OSD + uint32_t(in[0]) + stride * uint32_t(in[2]);
    const uint32_t tiles[4] = {0, uint32_t(vw), stride * uint32_t(vh), stride * uint32_t(vh) + uint32_t(vw)};
    for (uint32_t t : tiles)
        osd_copy(fd, from, PS_MEM_OSD1 + t, int(vw), int(vh));
    set_rtct(fd, 2);
    set_osd(fd, 1);
    set_scroll(fd);
    set_rtct(fd, 1);
}

void c331_manage::calc_osd()
{
    const bool text = PM_OSD_DATA_MODE != 0;
    const int pw = text ? PS_BG_HACT : int(kBmpWidth), ph = text ? PS_BG_VACT : int(kBmpHeight);
    int vw = std::max(0, pw - PM_OSD_INPUT_OFFSET[0] - PM_OSD_INPUT_OFFSET[1]);
    int vh = std::max(0, ph - PM_OSD_INPUT_OFFSET[2] - PM_OSD_INPUT_OFFSET[3]);
    if (PM_OSD_HZOOM_EN)
        vw *= 2;
    if (PM_OSD_VZOOM_EN)
        vh *= 2;
    OSD_WIN[0] = PM_OSD_OUTPUT_OFFSET[0];
    OSD_WIN[1] = std::max(0, std::min(PS_PANEL_HW - PM_OSD_OUTPUT_OFFSET[0] - PM_OSD_OUTPUT_OFFSET[1], vw));
    OSD_WIN[2] = PM_OSD_OUTPUT_OFFSET[2];
    OSD_WIN[3] = std::max(0, std::min(PS_PANEL_VW - PM_OSD_OUTPUT_OFFSET[2] - PM_OSD_OUTPUT_OFFSET[3], vh));
}

namespace {

// Part of the OSD window [start, start + length) inside the cell [cell, cell + size): x and width.
void span(int start, int length, int cell, int size, int* x, int* w)
{
    const int rel = start - cell;
    const bool past = start + length > cell + size;
    if (rel >= size) {
        *x = 0;
        *w = 0;
    } else if (rel >= 0) {
        *x = rel;
        *w = past ? size - rel : length;
    } else {
        *x = 0;
        *w = past ? size : std::max(0, start + length - cell);
    }
}

}

void c331_manage::set_osd(int fd, int plane)
{
    calc_osd();
    const int cols = PS_PANEL_HSHAPE, rows = PS_PANEL_VSHAPE;
    if (rows < 1 || cols < 1 || cols * rows > 8 || PS_ACTHW <= 0 || PS_ACTVW <= 0)
        return;
    int x[8] = {}, w[8] = {}, y[8] = {}, h[8] = {};
    for (int c = 0; c < cols; ++c)
        span(OSD_WIN[0], OSD_WIN[1], c * PS_ACTHW, PS_ACTHW, &x[c], &w[c]);
    for (int r = 0; r < rows; ++r)
        span(OSD_WIN[2], OSD_WIN[3], r * PS_ACTVW, PS_ACTVW, &y[r], &h[r]);
    const uint32_t base = plane ? PS_MEM_OSD1 : PS_MEM_OSD;
    const int in0 = plane ? 0 : PM_OSD_INPUT_OFFSET[0], in2 = plane ? 0 : PM_OSD_INPUT_OFFSET[2];
    const uint32_t stride = uint32_t(g_osd_mwi) * (g_osd_mwi_shift ? 4u : 1u);
    uint32_t control = g_osd_mwi_shift ? 0x6000 : 0x4000;
    if (PM_OSD_VZOOM_EN)
        control |= 0x800;
    if (PM_OSD_HZOOM_EN)
        control |= 0x1000;
    if (PM_OSD_EN)
        control |= PM_OSD_DATA_MODE ? 3 : 2;
    if (osd_control_flag)
        control |= 0x8000;
    int above = 0;
    for (int r = 0; r < rows; ++r) {
        int left = 0;
        for (int c = 0; c < cols; ++c) {
            const uint32_t off = 16u * uint32_t(c + r * cols);
            const uint32_t address = base + uint32_t(in0) + stride * uint32_t(in2 + above) * 128u + uint32_t(left);
            drv->write_C331(fd, 0x091202, uint32_t(PS_ACTHST + x[c] - 4), off);
            drv->write_C331(fd, 0x091402, uint32_t(w[c]), off);
            drv->write_C331(fd, 0x091602, uint32_t(PS_ACTVST + y[r] + 1), off);
            drv->write_C331(fd, 0x091802, uint32_t(h[r]), off);
            drv->write_C331(fd, 0x091A04, address, off);
            drv->write_C331(fd, 0x091E01, uint32_t(g_osd_mwi), off);
            drv->write_C331(fd, 0x090802, control, off);
            left += PM_OSD_HZOOM_EN ? w[c] / 2 : w[c];
        }
        above += PM_OSD_VZOOM_EN ? h[r] / 2 : h[r];
    }
    // Channels outside this tiling may still hold a banner placed for a larger panel: their
    // enable bits are cleared, or it would show again once the panel grows.
    for (int o = cols * rows; o < 8; ++o)
        drv->write_C331(fd, 0x090802, control & ~3u, 16u * uint32_t(o));
}

void c331_manage::set_scroll(int fd)
{
    int hr, vr;
    if (PM_OSD_DATA_MODE) {
        hr = OSD_WIN[1];
        vr = OSD_WIN[3];
    } else {
        hr = std::max(0, int(kBmpWidth) - PM_OSD_INPUT_OFFSET[0] - PM_OSD_INPUT_OFFSET[1]);
        vr = std::max(0, int(kBmpHeight) - PM_OSD_INPUT_OFFSET[2] - PM_OSD_INPUT_OFFSET[3]);
    }
    for (int n = 0; n < 8; ++n) {
        const uint32_t off = 16u * uint32_t(n);
        drv->write_C331(fd, 0x093D01, uint32_t(PM_OSD_SCROLL_SPEED) & 0xFF, off);
        drv->write_C331(fd, 0x094002, uint32_t(hr), off);
        drv->write_C331(fd, 0x094202, uint32_t(vr), off);
        drv->write_C331(fd, 0x093C01, 0, off);
    }
    const uint32_t control = PM_OSD_SCROLL_MODE == 0 ? 0x80 : uint32_t((PM_OSD_SCROLL_MODE - 1) * 16) | 0x81;
    for (int n = 0; n < 8; ++n)
        drv->write_C331(fd, 0x093C01, control, 16u * uint32_t(n));
}
