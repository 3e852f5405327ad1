// Display windows: a window's capture channels (input area, shrink, frame stores) and its output
// channels (read addresses, zoom, output area, mirror), the buffer freeze and stitch groups.
#include "scaler/c331_manage.h"

#include "scaler/c331_drv.h"
#include "base/global.h"
#include "base/logMsg.h"

#include <algorithm>
#include <cstdio>
#include <string>

namespace {

constexpr int kWindows = 6;
constexpr int kChannels = 8;
constexpr int kTiles = 8;
constexpr int kUnitBytes = 1024;    // one unit of a frame-store line
constexpr int kMaxPhaseRounds = 251;

bool isChannel(int c) { return c >= 0 && c < kChannels; }
bool isWindow(int w) { return w >= 0 && w < kWindows; }
uint32_t chOff(int c) { return uint32_t(16 * c); }

// 16.16 ratio of size `to` over size `from`, as the chip counts pixels (first to last).
int ratio(int to, int from) { return int((int64_t(to - 1) * 65536) / (from - 1) + 1); }

// Bytes per group of pixels in the frame store, by memory write mode.
struct Packing {
    int bytes;
    int group;
};
Packing packing(int mode)
{
    switch (mode) {
    case 1: return {16, 5};
    case 2: return {8, 3};
    case 3: return {2, 1};
    default: return {4, 1};
    }
}

// First source pixel of an output position under zoom ratio z.
int64_t zoomStart(int64_t z, int64_t pos)
{
    const int64_t p = z * pos;
    return (p >> 16) + ((p & 0xFFFF) >= z ? 1 : 0);
}

int roundedPhase(int64_t v) { return int(((v & 0xFFFF) + 128) / 256); }

// A zoomed tile past the window's first starts from a guard of up to four source pixels before its
// own, drawn ahead of the tile: `shift` is where it starts relative to the tile (a row one line
// earlier still); past the source's first five pixels (`inner`) `start` is the output position of
// the guard's first pixel, and the read starts four pixels early.
struct ZoomGuard {
    int64_t pixels = 0, start = 0;
    int shift = 0;
    bool inner = false;
};
ZoomGuard zoomGuard(int64_t z, int before, bool first)
{
    if (first)
        return {};
    const int64_t p = zoomStart(z, before);
    if (p < 5)
        return {p, 0, -before, false};
    const int64_t s = (z + (p - 4) * 65536 - 1) / z;
    return {4, s, int(s - before), true};
}

int shrinkPhase(int64_t start, int64_t r)
{
    const int phase = 0x100 - int(((start * r) & 0xFFFF) >> 8);
    return phase == 0x100 ? 0 : phase;
}

int capturePacked(const int* s) { return s[0] | s[1] << 4 | s[2] << 8 | s[3] << 12 | s[4] << 16; }
int displayPacked(const int* s) { return s[3] | s[0] << 4 | s[1] << 8 | s[2] << 12; }

// Memory offset of the second half of a split line, after u pixels of the first.
int splitOffset(int mode, int u, int* firstOffset)
{
    *firstOffset = 0;
    switch (mode) {
    case 1: return 16 * (u / 5) + 3 * (u % 5);
    case 2: {
        const int pad = (3 - u % 3) % 3;
        *firstOffset = 2 * pad;
        return (u + pad) * 8 / 3;
    }
    case 3: return 2 * u;
    default: return 4 * u;
    }
}

}

void c331_manage::calc_scaling(const _ImageWindowDef_st& a, const _ImageWindowDef_st& b, _ScalingSt& s)
{
    s = {};
    if (a.hw > 0 && b.hw > 0) {
        if (a.hw > b.hw)
            s.hmode = 1, s.hshrink = ratio(b.hw, a.hw);
        else if (a.hw < b.hw)
            s.hmode = 2, s.hzoom = ratio(a.hw, b.hw);
    }
    if (a.vw > 0 && b.vw > 0) {
        if (a.vw > b.vw)
            s.vmode = 1, s.vshrink = ratio(b.vw, a.vw);
        else if (a.vw < b.vw)
            s.vmode = 2, s.vzoom = ratio(a.vw, b.vw);
    }
}

void c331_manage::calc_oact(const _ImageWindowDef_st& r, _ImageWindowDef2_St* t, int w)
{
    if (!isWindow(w)) {
        std::fill(t, t + kTiles, _ImageWindowDef2_St{});
        return;
    }
    cutTiles(r, PM_WIN_SHAPE[w][0], PM_WIN_SHAPE[w][1], PS_ACTHW, PS_ACTVW, t);
}

void c331_manage::cutTiles(const _ImageWindowDef_st& r, int cols, int rows, int tileW, int tileH,
                           _ImageWindowDef2_St* t)
{
    for (int i = 0; i < kTiles; ++i)
        t[i] = {};
    // One axis at a time: start and size of the share of each tile, tile size T.
    auto cut = [&](int count, int T, int start, int size, int _ImageWindowDef2_St::*st, int _ImageWindowDef2_St::*sz,
                   uint8_t _ImageWindowDef2_St::*first, uint8_t _ImageWindowDef2_St::*last) {
        count = std::clamp(count, 0, kTiles);
        int firstTile = -1, lastTile = -1;
        for (int i = 0; i < count; ++i) {
            const int64_t x = int64_t(start) - int64_t(i) * T;
            const bool past = int64_t(start) + size > int64_t(T) + int64_t(i) * T - 1;
            int64_t s = 0, n = 0;
            if (x >= T) {
                s = n = 0;
            } else if (x < 0) {
                n = past ? T : std::max<int64_t>(0, int64_t(start) + size - int64_t(i) * T);
            } else {
                s = x;
                n = past ? T - x : size;
            }
            t[i].*st = int(s);
            t[i].*sz = int(n);
            if (n != 0) {
                if (firstTile < 0)
                    firstTile = i;
                lastTile = i;
            }
        }
        if (firstTile >= 0) {
            t[firstTile].*first = 1;
            t[lastTile].*last = 1;
        }
    };
    using D = _ImageWindowDef2_St;
    cut(cols, tileW, r.hst, r.hw, &D::hst, &D::hw, &D::hFirst, &D::hLast);
    cut(rows, tileH, r.vst, r.vw, &D::vst, &D::vw, &D::vFirst, &D::vLast);
}

c331_manage::SeamBlank c331_manage::seamBlank(const _ImageWindowDef2_St* t, const _ScalingSt& s, int cols, int rows,
                                              int actHst, int actVst)
{
    // The chip draws no tile that starts inside its output's first 10 pixels or 3 lines (sync and
    // back porch come first): one such tile and the window's tiles all read nothing.
    SeamBlank b;
    cols = std::clamp(cols, 0, kTiles);
    rows = std::clamp(rows, 0, kTiles);
    for (int k = 0, W = 0; k < cols; W += t[k].hw, ++k) {
        const int shift = s.hmode == 2 && t[k].hw > 0 ? zoomGuard(s.hzoom, W, t[k].hFirst).shift : 0;
        if (t[k].hw > 0 && int64_t(t[k].hst) + shift + actHst < 10)
            b.h = true, b.pixels = std::max<int64_t>(b.pixels, -shift);
    }
    for (int j = 0, H = 0; j < rows; H += t[j].vw, ++j) {
        const int shift = s.vmode == 2 ? zoomGuard(s.vzoom, H, t[j].vFirst).shift - 1 : 0;
        if (t[j].vw > 0 && int64_t(t[j].vst) + shift + actVst < 3)
            b.v = true, b.lines = std::max<int64_t>(b.lines, -shift);
    }
    return b;
}

std::string c331_manage::seamText(const _ImageWindowDef_st& a, const _ImageWindowDef_st& b, const SeamBlank& blank)
{
    const std::string ahead = blank.h ? std::to_string(blank.pixels) + " pixels" : std::to_string(blank.lines) + " lines";
    return std::to_string(a.hw) + " x " + std::to_string(a.vw) + " of its input zoomed to " + std::to_string(b.hw) + " x " +
           std::to_string(b.vw) + ": a tile past a channel seam would start " + ahead +
           " ahead of it, more than its output's sync and back porch hold";
}

void c331_manage::calc_oact_stitching(const _ImageWindowDef_st& r, _ImageWindowDef2_St* t, int w, int half)
{
    calc_oact(r, t, w);
    // Only the pair's outer edges are edges of the picture.
    for (int i = 0; i < kTiles; ++i) {
        if (PS_VBOTX_LAYOUT == 0)
            (half == 0 ? t[i].hLast : t[i].hFirst) = 0;
        else
            (half == 0 ? t[i].vLast : t[i].vFirst) = 0;
    }
}

void c331_manage::get_och(int w, int* list)
{
    for (int k = 0; k < kTiles; ++k) {
        list[k] = -1;
        for (int o = 0; o < kChannels; ++o)
            if (PM_WIN_NUM[o] == w && PM_AREA_NUM[o] == k) {
                list[k] = o;
                break;
            }
    }
}

void c331_manage::set_oscwct(int fd, int o)
{
    if (!isChannel(o) || !isWindow(PM_WIN_NUM[o]))
        return;
    const int m = PM_WIN_STITCHING[PM_WIN_NUM[o]];
    if (!isWindow(m))
        return;
    static const uint8_t kCodes[4] = {0, 0x80, 0x01, 0x11};
    const int mode = PM_MEM_WMODE[m];
    drv->write_C331(fd, 0x006901 + (uint32_t(o) << 8), mode >= 1 && mode <= 3 ? kCodes[mode] : 0, 0);
}

void c331_manage::set_lut_vzoom_4sym(int fd, int z, int o)
{
    static const uint8_t kLut[24] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 255, 254, 253, 252, 252, 253, 0, 5, 13, 24, 35, 46, 56, 62, 64};
    if (!isChannel(o))
        return;
    for (uint32_t i = 0; i < 24; ++i)
        drv->write_C331(fd, (0x0A68 + i) << 8 | 1, z > 0 ? kLut[i] : (i == 0 ? 0x40 : 0), chOff(o));
}

void c331_manage::set_display_window_ich(int fd, const _ImageWindowDef_st& a, const _ImageWindowDef_st& b, int w)
{
    if (!isWindow(w))
        return;
    const int c = g_win_ich[w][0];
    const int port = PM_INPUT[w];
    if (!isChannel(c) || port < 0 || port > 5)
        return;
    // The second channel is the window's own second one, never simply c + 1.
    const int c2 = g_win_ich[w][1];
    const bool twoChannels = isChannel(c2);
    const bool split = twoChannels && PI_STATE[port] < 4;
    const int dual = split ? (PI_HDMI_INFO[port].lane <= 4 ? 2 : 1) : 0;

    PM_MEM_WMODE[w] = PI_SCAN_MODE[port] != 0 ? 2 : PS_MEM_WMODE[w];

    const bool hsh = b.hw >= 1 && a.hw > b.hw;
    const bool vsh = b.vw >= 1 && a.vw > b.vw;
    const int hr = hsh ? ratio(b.hw, a.hw) : 65536;
    const int vr = vsh ? ratio(b.vw, a.vw) : 65536;

    const int* act = PI_ACT[port];
    const int x = winState.iactHst[w];
    _ImageWindowDef_st area[2] = {};
    area[0].vst = area[1].vst = act[2] + winState.iactVst[w] + 1;
    area[0].vw = area[1].vw = act[3];
    const int hst = act[0], hw = act[1];
    if (!split) {
        area[0].hst = hst + x - 7, area[0].hw = hw;
    } else if (x >= hw) {
        area[0].hst = hst + hw - 7, area[0].hw = 0;
        area[1].hst = hst + (x - hw) - 7, area[1].hw = 2 * hw;
    } else if (x >= -hw) {
        area[0].hst = hst + x - 7, area[0].hw = hw - x;
        area[1].hst = hst - 7, area[1].hw = hw + x;
    } else {
        area[0].hst = hst - hw - 7, area[0].hw = 2 * hw;
        area[1].hst = hst - 7, area[1].hw = 0;
    }

    // Where the second half lands in the frame store, and the horizontal phase.
    int offset[2] = {0, 0};
    int hphase = 0;
    for (int attempt = 0; attempt < 2; ++attempt) {
        const int mode = PM_MEM_WMODE[w];
        const bool packed = mode == 1 || mode == 2;
        if (!hsh) {
            offset[1] = splitOffset(mode, area[0].hw, &offset[0]);
            break;
        }
        hphase = shrinkPhase(a.hst, hr);
        // Pixels the first half yields after the shrink, and the input width that yields exactly them.
        const int n = area[0].hw > 0 ? int(((int64_t(area[0].hw) - 1) * hr) >> 16) + 1 : 0;
        if (split && n > 0)
            area[0].hw = int((int64_t(n - 1) * 65536 + hr - 1) / hr);
        const Packing pk = packing(mode);
        const int overlap = (pk.group - n % pk.group) % pk.group;
        if (!(split && packed && overlap >= 3)) {
            offset[1] = splitOffset(mode, n, &offset[0]);
            break;
        }
        if (traceOn())
            printf("\n *** YUV CHG DET win=%d [%d] to ", w, mode);
        PM_MEM_WMODE[w] = mode == 0 ? PS_MEM_WMODE[w] : 0;
    }
    const int mode = PM_MEM_WMODE[w];
    const bool packed = mode == 1 || mode == 2;
    const int vphase = vsh ? shrinkPhase(a.vst, vr) : 0;

    set_idual(fd, c, dual, port);
    set_ichsel(fd, w);
    const int* s = winState.sel[w];
    const int channels = twoChannels ? 2 : 1;
    for (int half = 0; half < channels; ++half) {
        const int ch = half == 0 ? c : c2;
        const uint32_t off = chOff(ch);
        const _ImageWindowDef_st& r = area[half];
        drv->write_C331(fd, 0x100901, half == 0 ? 1 : uint32_t((c & ~1) + 8), off);
        drv->write_C331(fd, 0x101702, uint32_t(r.hst), off);
        drv->write_C331(fd, 0x101902, uint32_t(r.hw), off);
        drv->write_C331(fd, 0x101B02, uint32_t(r.vst), off);
        drv->write_C331(fd, 0x101D02, uint32_t(r.vw), off);
        drv->write_C331(fd, 0x114201, hphase != 0 ? (packed ? 8 * 16 : 8) : 0, off);
        drv->write_C331(fd, 0x114401, hsh ? 199 : 0x80, off);
        drv->write_C331(fd, 0x114702, hsh ? uint32_t(hr) : 0, off);
        drv->write_C331(fd, 0x114901, vsh ? 0x84 : 0x80, off);
        drv->write_C331(fd, 0x114C02, vsh ? uint32_t(vr) : 0, off);
        drv->write_C331(fd, 0x114301, 2, off);
        drv->write_C331(fd, 0x114501, uint32_t(hphase), off);
        drv->write_C331(fd, 0x114601, uint32_t(hphase), off);
        drv->write_C331(fd, 0x114A01, uint32_t(vphase), off);
        drv->write_C331(fd, 0x114B01, uint32_t(vphase), off);
        // Both halves go to the first channel's store at their own offsets: the display side
        // reads the whole line from there.
        for (uint32_t k = 0; k < 5; ++k)
            drv->write_C331(fd, (0x161C + 4 * k) << 8 | 4, uint32_t(PS_MEM_SC[c][k] + offset[half]), off);
        drv->write_C331(fd, 0x163101, c331in::kDefaultUnits, off);
        drv->write_C331(fd, 0x166603, uint32_t(capturePacked(s)), off);
    }
    // Unity (65536) without shrink: the filters for ratios near 1, not the strongest.
    set_lut_hshrnk(fd, hr, c, split);
    set_lut_vshrnk_4sym(fd, vr, c, split);
    set_iscwct(fd, w);
    set_mct(fd, w, 0);
    set_ip(fd, c);
}

void c331_manage::set_display_window_och(int fd, const _ImageWindowDef_st& a, const _ImageWindowDef_st& b, int w)
{
    if (!isWindow(w))
        return;
    winState.dark[w] = false;
    int m = w, partner = -1;
    check_stitching_win(m, partner);
    if (!isWindow(m))
        return;

    // The frame store the window reads: its dot-by-dot memory, or its first channel's.
    const int mode = PM_WIN_DBD_MODE[m];
    const bool dbd = mode > 0 && !(mode == c331in::DBD_SINGLE_INPUT && check_dbd_input(fd, PM_INPUT[m]) == 0);
    int64_t store[5];
    int units;
    if (dbd) {
        for (int k = 0; k < 5; ++k)
            store[k] = g_win_mem_addr[m][k];
        units = g_win_mem_units[m];
    } else {
        const int c = g_win_ich[m][0];
        if (!isChannel(c))
            return; // a window without channels is not shown
        for (int k = 0; k < 5; ++k)
            store[k] = PS_MEM_SC[c][k];
        units = c331in::kDefaultUnits;
    }
    const int64_t lineStep = int64_t(units) * kUnitBytes;
    const bool hmir = PM_MEMMODE_H[m] != 0;
    const bool vmir = PM_MEMMODE_V[m] != 0;
    const int pitch = vmir ? 0x100 - units : units;
    int64_t correction = winState.vmode[w] == 0 ? 0 : lineStep;
    if (vmir)
        correction = -correction;

    _ImageWindowDef2_St t[kTiles];
    _ScalingSt s;
    calc_oact(b, t, w);
    calc_scaling(a, b, s);

    const Packing pk = packing(PM_MEM_WMODE[m]);
    const int64_t hstart = (s.hmode == 1 ? ((int64_t(s.hshrink) * (a.hst - 1)) >> 16) * pk.bytes + pk.bytes
                                          : int64_t(a.hst) * pk.bytes) / pk.group;
    const int64_t vstart = s.vmode == 1 ? ((int64_t(s.vshrink) * (a.vst - 1)) >> 16) * lineStep + lineStep
                                        : int64_t(a.vst) * lineStep;

    const int cols = std::clamp(PM_WIN_SHAPE[w][0], 0, kTiles);
    const int rows = std::clamp(PM_WIN_SHAPE[w][1], 0, kTiles);

    struct Col {
        int shift = 0, pixels = 0, phase = 0, code = 0;
        int64_t read = 0;
    } col[kTiles];
    struct Row {
        int shift = 0, lines = 0, phase = 0, code = 0;
        int64_t offset = 0;
    } row[kTiles];

    int totalW = 0, totalH = 0;
    for (int k = 0; k < cols; ++k)
        totalW += t[k].hw;
    for (int j = 0; j < rows; ++j)
        totalH += t[j].vw;

    const int64_t z = s.hzoom;
    const int64_t nSrc = s.hmode == 2 ? zoomStart(z, totalW) : totalW;
    for (int k = 0, W = 0; k < cols; W += t[k].hw, ++k) {
        Col& cl = col[k];
        if (s.hmode != 2) {
            const int64_t read = hmir ? int64_t(pk.bytes) * (nSrc - (t[k].hw + W)) : int64_t(pk.bytes) * W;
            cl.read = read / pk.group;
            cl.pixels = std::max(16, t[k].hw);
            continue;
        }
        if (t[k].hw == 0) {
            cl.code = 0x47;
            continue;
        }
        cl.code = 199;
        const int64_t p = zoomStart(z, W);
        const int64_t pNext = zoomStart(z, W + t[k].hw);
        const ZoomGuard g = zoomGuard(z, W, t[k].hFirst);
        int64_t guard = g.pixels, read = g.inner ? int64_t(pk.bytes) * (p - 4) / pk.group : 0;
        const int64_t sPos = g.start;
        cl.shift = g.shift;
        const bool last = t[k].hLast != 0;
        const int64_t end = last ? pNext : pNext + 4;
        if (!last)
            guard += std::min<int64_t>(pNext, 4);
        if (hmir)
            read = int64_t(pk.bytes) * (nSrc - end) / pk.group;
        cl.read = read;
        cl.pixels = int(std::max<int64_t>(16, pNext - p + guard));
        cl.phase = roundedPhase(sPos * z);
        if (traceOn())
            printf("\t col %d: p=%lld p1=%lld\n", k, (long long)p, (long long)pNext);
    }

    const int64_t y = s.vzoom;
    const bool vzoom = s.vmode == 2;
    for (int j = 0, H = 0; j < rows; H += t[j].vw, ++j) {
        Row& r = row[j];
        if (!vzoom) {
            r.offset = vmir ? lineStep * (totalH - 1) - lineStep * H : lineStep * H;
            r.lines = t[j].vw > 0 ? t[j].vw + 1 : 1;
        } else {
            r.code = t[j].vw > 0 ? 0x84 : 4;
            const int64_t q = zoomStart(y, H);
            const int64_t qNext = zoomStart(y, H + t[j].vw);
            const ZoomGuard g = zoomGuard(y, H, t[j].vFirst);
            int64_t guard = g.pixels;
            r.shift = g.shift - 1;
            if (g.inner) {
                r.offset = lineStep * (q - 4);
                r.phase = roundedPhase(g.start * y);
            }
            if (!t[j].vLast)
                guard += std::min<int64_t>(qNext, 4);
            r.lines = int(qNext - q + guard + 2);
            if (vmir) {
                const int64_t all = y * totalH;
                const int64_t lines = (all >> 16) + 1 - ((all & 0xFFFF) < y ? 1 : 0);
                r.offset = lineStep * lines - r.offset;
            }
        }
        if (winState.vmode[w] != 0)
            r.code = 5;
    }

    // A tile starting inside the port's first pixels or lines blanks the whole window: the pass
    // closes it (closeDarkWindows).
    const SeamBlank seam = seamBlank(t, s, cols, rows, PS_ACTHST, PS_ACTVST);
    const bool blankH = seam.h, blankV = seam.v;
    winState.dark[w] = blankH || blankV;
    if (winState.dark[w])
        winState.darkWhy[w] = seamText(a, b, seam);

    int och[kTiles];
    get_och(w, och);
    int firstOch = -1;
    for (int k = 0; k < kTiles && firstOch < 0; ++k)
        firstOch = och[k];
    const int firstIch = std::max(g_win_ich[m][0], 0);
    for (int j = 0; j < rows; ++j) {
        for (int k = 0; k < cols; ++k) {
            const int idx = j * cols + k;
            if (idx >= kTiles || !isChannel(och[idx]))
                continue;
            const int o = och[idx];
            const uint32_t off = chOff(o);
            const uint32_t kind = o == 0 ? 1 : 0x11;
            drv->write_C331(fd, 0x080802, o == firstOch ? uint32_t(firstIch) << 8 | kind : uint32_t(firstOch) << 8 | 0x1000 | kind, off);
            for (uint32_t i = 0; i < 5; ++i)
                drv->write_C331(fd, (0x1608 + 4 * i) << 8 | 4,
                                uint32_t(store[i] + row[j].offset + col[k].read + hstart + vstart - correction), off);
            drv->write_C331(fd, 0x163001, uint32_t(pitch), off);
            drv->write_C331(fd, 0x084002, uint32_t(t[k].hst + col[k].shift + PS_ACTHST), off);
            drv->write_C331(fd, 0x084202, blankH ? 0 : uint32_t(col[k].pixels), off);
            drv->write_C331(fd, 0x084402, uint32_t(t[j].vst + row[j].shift + PS_ACTVST), off);
            drv->write_C331(fd, 0x084602, blankV ? 0 : uint32_t(row[j].lines), off);
            drv->write_C331(fd, 0x082201, hmir ? 1 : 0, off);
            drv->write_C331(fd, 0x083202, uint32_t(t[k].hst + t[k].hw + PS_OAOIHST), off);
            drv->write_C331(fd, 0x0A4601, uint32_t(col[k].code), off);
            drv->write_C331(fd, 0x0A4701, uint32_t(col[k].phase), off);
            drv->write_C331(fd, 0x0A4801, uint32_t(col[k].phase), off);
            drv->write_C331(fd, 0x0A4902, uint32_t(s.hzoom), off);
            drv->write_C331(fd, 0x0A4401, vzoom ? 3 : 0, off);
            drv->write_C331(fd, 0x0A4B01, uint32_t(row[j].code), off);
            drv->write_C331(fd, 0x0A4C01, uint32_t(row[j].phase), off);
            drv->write_C331(fd, 0x0A4D01, uint32_t(row[j].phase), off);
            drv->write_C331(fd, 0x0A4E02, uint32_t(s.vzoom), off);
            set_oscwct(fd, o);
            set_lut_vzoom_4sym(fd, s.vzoom, o);
        }
    }
}

void c331_manage::set_freeze(int fd, int on)
{
    if (on == 0) {
        for (int i = 0; i < kWindows; ++i) {
            const int m = isWindow(PM_WIN_STITCHING[i]) ? PM_WIN_STITCHING[i] : i;
            for (int o = 0; o < kChannels; ++o)
                if (PM_WIN_NUM[o] == i)
                    drv->write_C331(fd, 0x166C02, uint32_t(displayPacked(winState.sel[m])), chOff(o));
            winState.frozen[i] = 0;
        }
        return;
    }
    // The windows being re-programmed, each with the channel it captures on now.
    int win[kWindows], ch[kWindows], n = 0;
    for (int w = 0; w < kWindows; ++w) {
        if (!g_chg_geometry[w] && !g_chg_input[w] && !g_chg_dbd[w])
            continue;
        const int last = winState.saved ? winState.savedWinIch[w][0] : -1;
        win[n] = w;
        ch[n++] = last >= 0 ? last : g_win_ich[w][0];
    }
    set_rtct(fd, 0);
    if (n == 0 || !isChannel(ch[0]))
        return;
    bool frozen[kWindows] = {};
    auto phaseOf = [&](int c) { return int(drv->read_C331(fd, 0xAB4701 + (uint32_t(c) << 8), 0) >> 2) & 3; };
    drv->write_C331(fd, 0x100901, 2, chOff(ch[0]));
    frozen[0] = true;
    const int f0 = phaseOf(ch[0]);
    // The others are frozen on the same field as the first, so all switch together.
    for (int round = 0; n > 1 && round < kMaxPhaseRounds; ++round) {
        bool mismatch = false;
        for (int i = 1; i < n; ++i) {
            if (frozen[i] || !isChannel(ch[i]))
                continue;
            if (phaseOf(ch[i]) == f0) {
                drv->write_C331(fd, 0x100901, 2, chOff(ch[i]));
                frozen[i] = true;
            } else {
                mismatch = true;
            }
        }
        if (!mismatch)
            break;
    }
    for (int i = 0; i < n; ++i) {
        const int* list = winState.saved ? winState.savedWinIch[win[i]] : g_win_ich[win[i]];
        for (int k = 0; k < kChannels && list[k] >= 0; ++k)
            if (isChannel(list[k]))
                drv->write_C331(fd, 0x000801 + (uint32_t(list[k]) << 8), 1, 0);
    }
    wait1_povs(fd, 0);
    int* s0 = winState.sel[win[0]];
    std::swap(s0[(f0 + 3) % 4], s0[4]);
    for (int i = 0; i < n; ++i) {
        int* s = winState.sel[win[i]];
        if (i > 0)
            std::copy(s0, s0 + 5, s);
        for (int k = 0; k < kChannels && g_win_ich[win[i]][k] >= 0; ++k)
            if (isChannel(g_win_ich[win[i]][k]))
                drv->write_C331(fd, 0x166603, uint32_t(capturePacked(s)), chOff(g_win_ich[win[i]][k]));
        winState.frozen[win[i]] = 1;
    }
    const int s4 = s0[4];
    for (int o = 0; o < kChannels; ++o) {
        const int owner = winState.saved ? winState.savedWinNum[o] : PM_WIN_NUM[o];
        if (std::find(win, win + n, owner) != win + n)
            drv->write_C331(fd, 0x166C02, uint32_t(s4 | s4 << 4 | s4 << 8 | s4 << 12), chOff(o));
    }
}

int c331_manage::check_stitching_win(int& w, int& partner)
{
    if (!isWindow(w))
        return 0;
    const int group = PM_WIN_STITCHING[w];
    if (group == w) {
        for (int i = 0; i < kWindows; ++i)
            if (i != w && PM_WIN_STITCHING[i] == w) {
                partner = i;
                return 1;
            }
        return 0;
    }
    if (!isWindow(group))
        return 0;
    w = group;
    for (int i = 0; i < kWindows; ++i)
        if (i != w && PM_WIN_STITCHING[i] == group)
            partner = i;
    return 2;
}

int c331_manage::check_stitching_chg()
{
    int result = 0;
    for (int w = 0; w < kWindows; ++w) {
        if (winState.stitchWord[w][0] && winState.stitchWord[w][1]) {
            g_chg_geometry[w] = 1;
            winState.stitchWord[w][1] = 0;
        }
        int m = w, partner = -1;
        result = check_stitching_win(m, partner);
    }
    return result;
}
