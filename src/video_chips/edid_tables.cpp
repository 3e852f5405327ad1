#include "video_chips/edid_tables.h"

#include "base/logMsg.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <initializer_list>
#include <string>
#include <vector>

namespace edid {
namespace {

struct Timing {
    uint32_t clockKHz;
    uint16_t hact, hfp, hsync, hback;
    uint16_t vact, vfp, vsync, vback;
    uint16_t widthMm, heightMm;
    uint8_t flags = 0x1E; // digital separate sync; bit 2 vsync +, bit 1 hsync +
};

// 18-byte detailed timing descriptor, digital separate sync with both polarities positive.
void putTiming(uint8_t* d, const Timing& t)
{
    const uint32_t clock = t.clockKHz / 10;
    const uint32_t hblank = t.hfp + t.hsync + t.hback, vblank = t.vfp + t.vsync + t.vback;
    d[0] = uint8_t(clock);
    d[1] = uint8_t(clock >> 8);
    d[2] = uint8_t(t.hact);
    d[3] = uint8_t(hblank);
    d[4] = uint8_t(((t.hact >> 8) << 4) | (hblank >> 8));
    d[5] = uint8_t(t.vact);
    d[6] = uint8_t(vblank);
    d[7] = uint8_t(((t.vact >> 8) << 4) | (vblank >> 8));
    d[8] = uint8_t(t.hfp);
    d[9] = uint8_t(t.hsync);
    d[10] = uint8_t(((t.vfp & 0x0F) << 4) | (t.vsync & 0x0F));
    d[11] = uint8_t(((t.hfp >> 8) << 6) | ((t.hsync >> 8) << 4) | ((t.vfp >> 4) << 2) | (t.vsync >> 4));
    d[12] = uint8_t(t.widthMm);
    d[13] = uint8_t(t.heightMm);
    d[14] = uint8_t(((t.widthMm >> 8) << 4) | (t.heightMm >> 8));
    d[15] = 0;
    d[16] = 0;
    d[17] = t.flags;
}

// Display descriptor with text (monitor name 0xFC, serial 0xFF): up to 13 characters, a line feed
// after a shorter text, then spaces.
void putText(uint8_t* d, uint8_t tag, const char* text)
{
    std::memset(d, 0, 5);
    d[3] = tag;
    const size_t n = std::strlen(text);
    for (size_t i = 0; i < 13; ++i)
        d[5 + i] = i < n ? uint8_t(text[i]) : i == n ? 0x0A : 0x20;
}

// EDID 1.4 says "range limits only" (1); 1.3 knows only the GTF codes, default GTF is 0.
void putRange(uint8_t* d, uint8_t vmin, uint8_t vmax, uint8_t hmin, uint8_t hmax, uint16_t maxMHz, uint8_t support)
{
    std::memset(d, 0, 18);
    d[3] = 0xFD;
    d[5] = vmin;
    d[6] = vmax;
    d[7] = hmin;
    d[8] = hmax;
    d[9] = uint8_t((maxMHz + 9) / 10);
    d[10] = support;
    d[11] = 0x0A;
    for (int i = 12; i < 18; ++i)
        d[i] = 0x20;
}

// Standard timing: aspect 0 16:10, 1 4:3, 2 5:4, 3 16:9.
void putStandard(uint8_t* d, uint16_t width, int aspect, int rate)
{
    d[0] = uint8_t(width / 8 - 31);
    d[1] = uint8_t((aspect << 6) | (rate - 60));
}

// sRGB primaries and D65 white as 10-bit binary fractions.
void putChromaticity(uint8_t* d)
{
    const double xy[8] = {0.640, 0.330, 0.300, 0.600, 0.150, 0.060, 0.3127, 0.3290};
    uint16_t v[8];
    for (int i = 0; i < 8; ++i)
        v[i] = uint16_t(std::lround(xy[i] * 1024));
    d[0] = uint8_t(((v[0] & 3) << 6) | ((v[1] & 3) << 4) | ((v[2] & 3) << 2) | (v[3] & 3));
    d[1] = uint8_t(((v[4] & 3) << 6) | ((v[5] & 3) << 4) | ((v[6] & 3) << 2) | (v[7] & 3));
    for (int i = 0; i < 8; ++i)
        d[2 + i] = uint8_t(v[i] >> 2);
}

struct BaseInfo {
    const char* maker;
    uint16_t product;
    uint32_t serial;
    uint8_t week, yearSince1990, revision;
    uint8_t widthCm, heightCm;
    uint8_t features;
    uint8_t established[3];
    std::vector<std::pair<uint16_t, std::pair<int, int>>> standard; // width, (aspect, rate)
};

void putBase(uint8_t* b, const BaseInfo& info)
{
    const uint8_t header[8] = {0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x00};
    std::memcpy(b, header, 8);
    const uint16_t id = uint16_t(((info.maker[0] - '@') << 10) | ((info.maker[1] - '@') << 5) | (info.maker[2] - '@'));
    b[8] = uint8_t(id >> 8);
    b[9] = uint8_t(id);
    b[10] = uint8_t(info.product);
    b[11] = uint8_t(info.product >> 8);
    for (int i = 0; i < 4; ++i)
        b[12 + i] = uint8_t(info.serial >> (8 * i));
    b[16] = info.week;
    b[17] = info.yearSince1990;
    b[18] = 1;
    b[19] = info.revision;
    b[20] = 0x80; // digital input
    b[21] = info.widthCm;
    b[22] = info.heightCm;
    b[23] = 120; // gamma 2.2
    b[24] = info.features;
    putChromaticity(b + 25);
    std::memcpy(b + 35, info.established, 3);
    for (int i = 0; i < 8; ++i) {
        b[38 + 2 * i] = 0x01;
        b[39 + 2 * i] = 0x01;
    }
    for (size_t i = 0; i < info.standard.size() && i < 8; ++i)
        putStandard(b + 38 + 2 * i, info.standard[i].first, info.standard[i].second.first, info.standard[i].second.second);
    b[126] = 1;
}

// CEA-861 extension: data blocks, then the detailed timings.
void putCea(uint8_t* e, const std::vector<uint8_t>& blocks, std::initializer_list<Timing> timings)
{
    e[0] = 0x02;
    e[1] = 3;
    e[2] = uint8_t(4 + blocks.size());
    e[3] = 0x80 | 0x40 | 0x20 | 0x10 | 0x01; // underscan, basic audio, YCbCr 4:4:4 and 4:2:2, one native
    std::memcpy(e + 4, blocks.data(), blocks.size());
    uint8_t* d = e + e[2];
    for (const Timing& t : timings) {
        putTiming(d, t);
        d += 18;
    }
}

void add(std::vector<uint8_t>& to, std::initializer_list<uint8_t> bytes)
{
    for (uint8_t b : bytes)
        to.push_back(b);
}

// Video capability: RGB and YCbCr quantization selectable, over- and underscan for IT and CE
// formats, so sources need not guess.
const std::initializer_list<uint8_t> kVideoCapability = {uint8_t((7 << 5) | 2), 0x00, 0xCF};

std::vector<uint8_t> commonBlocks(const std::vector<uint8_t>& vics)
{
    std::vector<uint8_t> b;
    b.push_back(uint8_t((2 << 5) | vics.size()));
    for (uint8_t v : vics)
        b.push_back(v);
    // L-PCM, 2 channels, 32/44.1/48 kHz, 16/20/24 bit
    add(b, {uint8_t((1 << 5) | 3), 0x09, 0x07, 0x07});
    // speakers: front left/right
    add(b, {uint8_t((4 << 5) | 3), 0x01, 0x00, 0x00});
    // HDMI: physical address 1.0.0.0, maximum TMDS clock 300 MHz
    add(b, {uint8_t((3 << 5) | 7), 0x03, 0x0C, 0x00, 0x10, 0x00, 0x00, 300 / 5});
    return b;
}

// Image sizes are the screen's, as sources check them against the base block.
const Timing k1080p60 = {148500, 1920, 88, 44, 148, 1080, 4, 5, 36, 610, 350};
const Timing k1080p50 = {148500, 1920, 528, 44, 148, 1080, 4, 5, 36, 610, 350};
const Timing k2160p60 = {594000, 3840, 176, 88, 296, 2160, 8, 10, 72, 621, 341};
const Timing k2160p30 = {297000, 3840, 176, 88, 296, 2160, 8, 10, 72, 621, 341};
const Timing k720p60 = {74250, 1280, 110, 40, 220, 720, 5, 5, 20, 621, 341};
const Timing k1600p = {268500, 2560, 48, 32, 80, 1600, 3, 6, 37, 610, 350, 0x1A}; // reduced blanking: vsync -
const Timing k1080p60Wide = {148500, 1920, 88, 44, 148, 1080, 4, 5, 36, 621, 341};

}

uint8_t CalcSum4LCD(uint8_t seed, const uint8_t* bytes, size_t count)
{
    uint32_t sum = seed;
    for (size_t i = 0; i < count; ++i)
        sum += bytes[i];
    return uint8_t(sum);
}

void fixChecksums(Table& table)
{
    for (size_t b = 0; b < TableSize; b += BlockSize)
        table[b + BlockSize - 1] = uint8_t(0x100 - CalcSum4LCD(0, table.data() + b, BlockSize - 1));
}

Table default6602(int entry)
{
    static const char* const names[4] = {"VYR-EXT", "VYR-DVI", "VYR-HD1", "VYR-HD2"};
    Table t{};
    if (entry < 0 || entry > 3)
        return t;
    // Revision 3 (EDID 1.3), not 1.4: the HDMI vendor block asks for 1.3, and 1.4 would no longer
    // accept the range-limits descriptor's GTF byte; edid-decode fails the table as 1.4.
    putBase(t.data(), {"KLT", 0x0001, 0x01010101, 4, 2018 - 1990, 3, 61, 35, 0x0E, {0x21, 0x08, 0x00},
                       {{1280, {3, 60}}, {1280, {0, 60}}, {1280, {1, 60}}, {1280, {2, 60}}, {1440, {0, 60}}, {1600, {1, 60}}}});
    // Image size 610 x 350 mm (k1080p60), not 544 x 320: it must agree with the 61 x 35 cm screen.
    putTiming(t.data() + 54, k1080p60);
    // Detailed timings ahead of the display descriptors, as EDID readers expect them: 2560x1600 in
    // slot 2 and the range limits in slot 3, the other way round from range limits first.
    putTiming(t.data() + 72, k1600p);
    putRange(t.data() + 90, 23, 120, 15, 133, It6602MaxClockMHz, 0x00);
    putText(t.data() + 108, 0xFC, names[entry]);
    std::vector<uint8_t> blocks = commonBlocks({1});
    add(blocks, kVideoCapability);
    putCea(t.data() + BlockSize, blocks, {k1080p60, k1080p50});
    fixChecksums(t);
    return t;
}

Table default6805(int entry)
{
    static const char* const names[2] = {"VYR_R58HD3", "VYR_R58HD4"};
    Table t{};
    if (entry < 0 || entry > 1)
        return t;
    // Serial number 0, not 0x87654321: the serial-number descriptor below carries it, and with one
    // present the base block's number should be 0 (edid-decode warns otherwise).
    putBase(t.data(), {"VYR", 0x6805, 0, 46, 2015 - 1990, 3, 62, 34, 0x0E, {0xA5, 0x4B, 0x00},
                       {{1920, {3, 60}}, {1600, {1, 60}}, {1280, {2, 60}}, {1280, {0, 60}}, {1152, {1, 75}}, {2048, {0, 60}}}});
    putTiming(t.data() + 54, k2160p60);
    putText(t.data() + 72, 0xFF, "VYR_R58HDMI20"); // so the base block's serial number is 0
    putText(t.data() + 90, 0xFC, names[entry]);
    // 24-76 Hz and 27-140 kHz, not 29-75 Hz and 31-140 kHz: the range takes in every listed format,
    // 24 Hz (27 kHz) cinema formats and 1024x768 at 75.03 Hz, which edid-decode checks.
    putRange(t.data() + 108, 24, 76, 27, 140, Ite6805MaxClockMHz, 0x00);
    // 97 and 96 (3840x2160) ahead of 101 and 102 (4096x2160): 3840x2160 is the native format, and
    // the first VIC counts as preferred
    std::vector<uint8_t> blocks = commonBlocks({97, 96, 101, 102, 95, 94, 93, 98, 99, 100, 16, 31, 32, 5, 20, 4, 19, 18, 17, 3, 2, 1});
    // HDMI Forum (right after the HDMI block): 600 Mcsc, SCDC present, 4:2:0 deep colour 10 and 12 bit
    add(blocks, {uint8_t((3 << 5) | 7), 0xD8, 0x5D, 0xC4, 0x01, 600 / 5, 0x80, 0x03});
    add(blocks, kVideoCapability);
    // YCbCr 4:2:0 capability map: the first four VICs
    add(blocks, {uint8_t((7 << 5) | 2), 0x0F, 0x0F});
    putCea(t.data() + BlockSize, blocks, {k2160p30, k1080p60Wide, k720p60});
    fixChecksums(t);
    return t;
}

Table defaultFor(int input)
{
    if (input >= 0 && input < 4)
        return default6602(input);
    if (input >= 4 && input < Inputs)
        return default6805(input - 4);
    return Table{};
}

uint32_t maxClockMHz(int input)
{
    if (input >= 0 && input < 4)
        return It6602MaxClockMHz;
    return input >= 4 && input < Inputs ? Ite6805MaxClockMHz : 0;
}

namespace {
// The range-limits descriptor in base-block slot 3 or 4 (slots 1 and 2 take a custom timing), or null.
uint8_t* rangeDescriptor(Table& t)
{
    for (size_t d = 90; d <= 108; d += 18)
        if (t[d] == 0 && t[d + 1] == 0 && t[d + 3] == 0xFD)
            return t.data() + d;
    return nullptr;
}
}

namespace {
// The chip's fixed blanking around a custom timing: 160 x 62 (IT6602), 560 x 90 (iTE6805).
struct Blanking {
    uint32_t h, v;
    uint8_t hfp, hsync, vfpSync;
};
Blanking blankingOf(int input)
{
    return input >= 4 ? Blanking{560, 90, 176, 88, 0x8A} : Blanking{160, 62, 48, 32, 0x3A};
}
// The pixel clock in the descriptor's units of 10 kHz, truncated as a source reads it.
uint64_t clockField(uint32_t width, uint32_t height, uint32_t rate, const Blanking& b)
{
    return uint64_t(rate) * (uint64_t(height) + b.v) * (uint64_t(width) + b.h) / 10000;
}
// Its rates as a source computes them from the descriptor (the clock in whole 10 kHz), rounded
// outwards: vertical in Hz, horizontal in kHz.
struct Rates {
    uint64_t vMin, vMax, hMin, hMax;
};
Rates ratesOf(uint64_t clock, uint32_t width, uint32_t height, const Blanking& b)
{
    const uint64_t hz = clock * 10000, htotal = width + b.h, frame = htotal * (height + b.v);
    return {hz / frame, (hz + frame - 1) / frame, hz / (htotal * 1000), (hz + htotal * 1000 - 1) / (htotal * 1000)};
}
std::string megahertz(uint64_t clock)
{
    char mhz[24];
    std::snprintf(mhz, sizeof mhz, "%.2f", double(clock) / 100.0);
    return mhz;
}
}

std::string timingRefusal(uint32_t width, uint32_t height, uint32_t rate, int input)
{
    if (input < 0 || input >= Inputs)
        return "names no input";
    const Blanking b = blankingOf(input);
    const uint64_t clock = clockField(width, height, rate, b);
    if (width == 0 || height == 0 || width > MaxActive || height > MaxActive || clock == 0 || clock > MaxClockField)
        return "does not fit";
    // A source keeps to the receiver's announced clock and drops a timing above it: the custom EDID
    // would silently do nothing (and the receiver could not take the signal anyway).
    const uint32_t maxMHz = maxClockMHz(input);
    if (clock * 10 > uint64_t(maxMHz) * 1000)
        return "needs a " + megahertz(clock) + " MHz pixel clock, above the receiver's " + std::to_string(maxMHz) + " MHz";
    // Below this no source sends it, and the descriptor fails the EDID checks.
    if (clock < MinClockField)
        return "needs a " + megahertz(clock) + " MHz pixel clock, below " + std::to_string(MinClockField / 100) + " MHz";
    // The range fields hold 1-255 Hz and kHz.
    const Rates r = ratesOf(clock, width, height, b);
    if (r.vMin < 1 || r.vMax > 255 || r.hMin < 1 || r.hMax > 255)
        return "does not fit";
    return {};
}

bool Set_Custom_HDMI_EDID(Table& table, uint32_t width, uint32_t height, uint32_t rate, int input)
{
    if (input < 0 || input >= Inputs)
        return false;
    const std::string refused = timingRefusal(width, height, rate, input);
    if (!refused.empty()) {
        writeLogMsg(LOG_WARNING, "custom EDID " + std::to_string(width) + "x" + std::to_string(height) + "@" +
                                     std::to_string(rate) + " of input " + std::to_string(input) + " " + refused +
                                     "; previous timing kept");
        return false;
    }
    const Blanking b = blankingOf(input);
    const uint32_t hblank = b.h, vblank = b.v;
    const uint8_t hfp = b.hfp, hsync = b.hsync, vfpSync = b.vfpSync;
    const uint64_t clock = clockField(width, height, rate, b);
    const Rates r = ratesOf(clock, width, height, b);

    uint8_t d[12];
    d[0] = uint8_t(clock);
    d[1] = uint8_t(clock >> 8);
    d[2] = uint8_t(width);
    d[3] = uint8_t(hblank);
    d[4] = uint8_t(((width >> 8) << 4) | (hblank >> 8));
    d[5] = uint8_t(height);
    d[6] = uint8_t(vblank);
    d[7] = uint8_t(((height >> 8) << 4) | (vblank >> 8));
    d[8] = hfp;
    d[9] = hsync;
    d[10] = vfpSync;
    d[11] = 0;
    // Slot 2 becomes a whole copy of slot 1: the tail of whatever it held before (text, range
    // limits) would be read as image size and sync flags.
    std::memcpy(table.data() + 54, d, sizeof d);
    std::memcpy(table.data() + 72, table.data() + 54, 18);
    // A source also drops a timing outside the range limits: the input's own limits, widened to
    // take this timing in (they need not take in an earlier custom timing, which is gone).
    Table defaults = defaultFor(input);
    const uint8_t* base = rangeDescriptor(defaults);
    if (uint8_t* range = rangeDescriptor(table); range && base) {
        range[5] = uint8_t(std::min<uint64_t>(base[5], r.vMin));
        range[6] = uint8_t(std::max<uint64_t>(base[6], r.vMax));
        range[7] = uint8_t(std::min<uint64_t>(base[7], r.hMin));
        range[8] = uint8_t(std::max<uint64_t>(base[8], r.hMax));
    }
    table[127] = uint8_t(0x100 - CalcSum4LCD(0, table.data(), 127));
    return true;
}

}
