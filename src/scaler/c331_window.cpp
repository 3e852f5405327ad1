// Windows: the window records of the block turned into window slots, their re-programming, and the
// per-window attributes the change dispatch hands over one field at a time.
#include "scaler/c331_manage.h"

#include "scaler/c331_drv.h"
#include "base/global.h"
#include "base/logMsg.h"
#include "base/posix_lock.h"
#include "params/block_layout.h"
#include "params/vyrrampara.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr int kWindows = 6;
constexpr int kChannels = 8;
constexpr int kPorts = 6;
using blk::get16;
namespace win = blk::win;

bool isWindow(int w) { return w >= 0 && w < kWindows; }

struct DbdEntry {
    int mode;
    const char* name;
};
constexpr DbdEntry kDbdModes[] = {
    {1, "DBD_SINGLE_INPUT"}, {20, "DBD_CMOS_IN12"},   {21, "DBD_CMOS_IN12V"},    {22, "DBD_CMOS_IN34"},
    {23, "DBD_CMOS_IN34V"},  {30, "DBD_CMOS_IN123"},  {40, "DBD_CMOS_IN1234"},  {41, "DBD_CMOS_IN1234Q"},
    {50, "DBD_VBO_IN12"},    {51, "DBD_VBO_IN12V"},
};

const char* kInputNames[6] = {"EXT", "DVI", "HDMI1", "HDMI2", "HDMI3", "HDMI4"};

// Source id of a window record's source word with the crop table of `b`: -1 when the word names a
// crop slot that does not exist or is not in use.
int recordSource(const uint8_t* b, uint16_t word, int* cropIdx)
{
    *cropIdx = 0;
    if (!(word & win::kSourceCrop))
        return word & 7;
    const uint32_t index = word & 0xFF;
    if (index >= kCropCount)
        return -1;
    const uint16_t id = get16(b, blk::cropField(index, blk::crop::kId));
    if (!blk::crop::used(id))
        return -1;
    *cropIdx = int(index);
    return blk::crop::source(id) & 7;
}

}

int c331_manage::dbdModeOf(int value)
{
    if (value >= 0 && value < int(std::size(kDbdModes)))
        return kDbdModes[value].mode;
    if (traceOn())
        printf("\t !!!!!!!!DBD_MODE OOR!!!!!!!, set it to DBD_SINGLE_INPUT");
    return 1;
}

void c331_manage::takeBlock(uint8_t* out)
{
    if (dispatching_) {
        memcpy(out, dispatching_, kBlockSize);
        return;
    }
    memset(out, 0, kBlockSize);
    // What the box applied: a tool's bytes reach the chip at its apply, not at a rebuild before it.
    if (VyrRamPara* store = VyrRamPara::p_vyrrampara_config) {
        PosixLock lock(c331_mutex);
        store->appliedCopy(out);
    }
}

// Why the records of `b` cannot be shown on panel p; empty when they can.
std::string c331_manage::layoutFault(const ST_PANEL& p, const uint8_t* b) const
{
    const int W = p.och.width * p.och_HCnt, H = p.och.height * p.och_VCnt;
    const int xo = p.xoffs, yo = p.yoffs;
    int slot = 0, channels = 0;
    for (int r = 0; r < kWindows; ++r) {
        const uint32_t rec = blk::windowRecord(r);
        const uint16_t state = get16(b, rec + win::kState);
        if (state == 0)
            continue;
        const int x = get16(b, rec + win::kX) + xo, y = get16(b, rec + win::kY) + yo;
        const int w = get16(b, rec + win::kWidth), h = get16(b, rec + win::kHeight);
        int crop = 0;
        const int input = recordSource(b, get16(b, rec + win::kSource), &crop);
        const int rotate = b[rec + win::kMirror];
        if (x + w > W)
            return "win:" + std::to_string(slot) + " x:" + std::to_string(x) + " w:" + std::to_string(w);
        if (y + h > H)
            return "win:" + std::to_string(slot) + " y:" + std::to_string(y) + " h:" + std::to_string(h);
        if (input < 0 || input > 5)
            return "win:" + std::to_string(slot) + ", input";
        if (slot == 0 && (state & 0xFF) == 0)
            return "win0 disable";
        if (rotate > 3)
            return "win" + std::to_string(slot) + " rotate:" + std::to_string(rotate);
        // Every window is drawn on output channels of its own: one sharing a channel with an
        // earlier window is lent an idle one, so the tiles of all windows must fit the chip's.
        const ChannelSpan span = channelSpan(p, x, y, w, h);
        if (span.failure.empty() && span.totalh > 0 && span.totalv > 0)
            channels += span.totalh * span.totalv;
        if (channels > kChannels)
            return "win" + std::to_string(slot) + ": " + std::to_string(channels) + " output channels needed";
        _ImageWindowDef_st a;
        if (recordSourceArea(b, rec, a)) {
            const std::string dark = seamFault(p, a, x, y, w, h);
            if (!dark.empty())
                return "win" + std::to_string(slot) + ": " + dark;
        }
        ++slot;
    }
    return {};
}

bool c331_manage::recordSourceArea(const uint8_t* b, uint32_t rec, _ImageWindowDef_st& a) const
{
    // Dot-by-dot shows its input as it comes; without a signal the zoom is not known yet.
    if (get16(b, rec + win::kOutput) & win::kOutDotByDot)
        return false;
    const uint16_t word = get16(b, rec + win::kSource);
    int crop = 0;
    const int input = recordSource(b, word, &crop);
    const int port = input >= 0 && input < kPorts ? vyrApi_inputCvtC331(input) : -1;
    if (port < 0 || port >= kPorts)
        return false;
    const bool cropped = (word & win::kSourceCrop) != 0;
    if (PI_ACT[port][1] == 0 || PI_ACT[port][3] == 0) {
        // A port no window shows is not measured: the timing its input last settled on, without a
        // crop.
        const HDMI_INFO& in = PI_HDMI_INFO[port];
        if (cropped || in.nosignal != 0 || in.hact <= 0 || in.vact <= 0)
            return false;
        a = {0, in.hact, 0, in.vact * (in.ip ? 2 : 1)};
        return true;
    }
    int margins[4] = {};
    if (cropped) {
        namespace c = blk::crop;
        ST_RECT r{get16(b, blk::cropField(uint32_t(crop), c::kX)), get16(b, blk::cropField(uint32_t(crop), c::kY)),
                  get16(b, blk::cropField(uint32_t(crop), c::kWidth)), get16(b, blk::cropField(uint32_t(crop), c::kHeight))};
        cropMargins(port, r, margins);
    }
    a = sourceArea(port, cropped, margins);
    return a.hw > 0 && a.vw > 0;
}

std::string c331_manage::seamFault(const ST_PANEL& p, const _ImageWindowDef_st& a, int64_t x, int64_t y, int64_t w,
                                   int64_t h) const
{
    const ChannelSpan span = channelSpan(p, x, y, w, h);
    if (!span.failure.empty() || span.totalh <= 0 || span.totalv <= 0 || p.och.width <= 0 || p.och.height <= 0)
        return {};
    // The window's area on its tiles, as the output programming takes it (calc_owin2).
    _ImageWindowDef_st b{int(x % p.och.width), int(w), int(y % p.och.height), int(h)};
    limitVboZoom(a, b);
    _ImageWindowDef2_St t[8];
    cutTiles(b, span.totalh, span.totalv, p.och.width, p.och.height, t);
    _ScalingSt s;
    calc_scaling(a, b, s);
    // Sync and back porch: where the channel's active area starts.
    const SeamBlank blank = seamBlank(t, s, span.totalh, span.totalv, p.HTT - p.och.width - p.HFP,
                                      p.VTT - p.och.height - p.VFP);
    return blank.h || blank.v ? seamText(a, b, blank) : std::string();
}

c331_manage::Layout c331_manage::chooseLayout(const ST_PANEL& p, uint8_t* b, std::string& fault) const
{
    fault = layoutFault(p, b);
    if (fault.empty())
        return Layout::Block;
    // First only the places and sizes go back (a mirror or source set since stays), then the
    // whole records.
    for (int attempt = 0; attempt < 2 && winState.acceptedValid; ++attempt) {
        uint8_t candidate[kBlockSize];
        memcpy(candidate, b, sizeof candidate);
        for (int r = 0; r < kWindows; ++r) {
            const uint32_t rec = blk::windowRecord(r);
            const uint8_t* old = winState.acceptedRecords + r * kWindowSize;
            if (attempt == 1) {
                memcpy(candidate + rec, old, kWindowSize);
                continue;
            }
            for (uint32_t f : {win::kState, win::kX, win::kY, win::kWidth, win::kHeight})
                memcpy(candidate + rec + f, old + f, 2);
        }
        if (attempt == 1)
            memcpy(candidate + blk::kLayerPriority, winState.acceptedPriorities, sizeof winState.acceptedPriorities);
        if (layoutFault(p, candidate).empty()) {
            memcpy(b, candidate, sizeof candidate);
            return Layout::Accepted;
        }
    }
    return Layout::Default;
}

void c331_manage::vyrApi_initEnvC331()
{
    call_log.record("vyrApi_initEnvC331", {});
    ScalerCallLog::Nested quiet;
    // Dark tiles are told again when the new set is programmed.
    std::fill(std::begin(winState.dark), std::end(winState.dark), false);
    uint8_t b[kBlockSize];
    takeBlock(b);
    if (traceOn()) {
        printf("[vyrApi_initEnvC331]\r");
        for (int r = 0; r < kWindows; ++r) {
            const uint32_t rec = blk::windowRecord(r);
            const uint32_t at[] = {blk::layerPriority(r), rec + 0, rec + 2, rec + 4, rec + 6, rec + 8, rec + 10,
                                   rec + 12, rec + 14, rec + 16, blk::cropField(r, 0), blk::cropField(r, 2),
                                   blk::cropField(r, 4), blk::cropField(r, 6), blk::cropField(r, 8),
                                   rec + 18, rec + 22, blk::fadeIn(r), blk::fadeOut(r)};
            printf("\t win:%d addr:%4x\t", r, rec);
            for (uint32_t off : at)
                printf("%04x ", get16(b, off));
            printf("\n");
        }
    }

    int shown = 0;
    for (int r = 0; r < kWindows; ++r)
        shown += get16(b, blk::window(r, win::kState)) != 0;
    if (traceOn())
        printf("\t wincnt:%d\r\n", shown);
    if (shown == 0) {
        vyrApi_initEnvC331Default();
        return;
    }

    std::string fault;
    const Layout layout = chooseLayout(pnl, b, fault);
    if (layout != Layout::Block) {
        // Refused as a whole: the last layout the chip took stays, or the single full-panel window
        // when that no longer fits either; the block is told what is shown.
        writeLogMsg(LOG_WARNING, "window layout refused (" + fault + "), the block gets what is shown");
        if (traceOn())
            printf("\t OOR for %s\t OOR for win RECT\t\n", fault.c_str());
        if (layout == Layout::Default) {
            vyrApi_initEnvC331Default();
            writeShownLayout(nullptr);
            return;
        }
        writeShownLayout(b);
    }

    memcpy(winState.acceptedRecords, b + blk::windowRecord(0), sizeof winState.acceptedRecords);
    memcpy(winState.acceptedPriorities, b + blk::kLayerPriority, sizeof winState.acceptedPriorities);
    winState.acceptedValid = true;
    winState.fellBack = false;

    const int xo = pnl.xoffs, yo = pnl.yoffs;
    wincnt = 0;
    for (int i = 0; i < kWindows; ++i)
        winState.recordSlot[i] = winState.slotRecord[i] = -1;
    for (int r = 0; r < kWindows; ++r) {
        const uint32_t rec = blk::windowRecord(r);
        const uint16_t state = get16(b, rec + win::kState);
        if (state == 0)
            continue;
        const int i = wincnt++;
        winState.recordSlot[r] = i;
        winState.slotRecord[i] = r;
        ST_WIN_INFO& wi = gWininfo[i];
        int pri = get16(b, blk::layerPriority(r));
        if (pri > 5) {
            if (traceOn())
                printf(" WIN%d PRIORITY:%x OOR,reset to %d\n", i, pri, pri % 6);
            pri %= 6;
        }
        wi.pri = uint8_t(pri);
        ST_RECT rect{get16(b, rec + win::kX) + xo, get16(b, rec + win::kY) + yo, get16(b, rec + win::kWidth),
                     get16(b, rec + win::kHeight)};
        winState.rects[i] = rect;
        wi.x = uint16_t(rect.x), wi.y = uint16_t(rect.y), wi.w = uint16_t(rect.w), wi.h = uint16_t(rect.h);
        const uint16_t source = get16(b, rec + win::kSource);
        int cropIdx = 0;
        wi.input = uint8_t(recordSource(b, source, &cropIdx));
        PM_INPUT_OFFSET_EN[i] = (source & win::kSourceCrop) ? 1 : 0;
        if (source & win::kSourceCrop)
            wi.cropIdx = uint8_t(cropIdx);
        wi.winEn = uint8_t(state & 0xFF);
        wi.rotate = uint8_t(b[rec + win::kMirror]);
        const uint16_t output = get16(b, rec + win::kOutput);
        wi.output = uint8_t(output & 3);
        PM_WIN_FADE_EN[i] = (output & win::kOutEffect) ? 1 : 0;
        PM_WIN_DBD_MODE[i] = (output & win::kOutDotByDot) ? dbdModeOf(get16(b, rec + win::kDotByDot)) : 0;
        g_chg_dbd[i] = 1;
        PM_WIN_FADE_IN[i] = std::min<int>(get16(b, blk::fadeIn(r)), kMaxFadeSteps);
        PM_WIN_FADE_OUT[i] = std::min<int>(get16(b, blk::fadeOut(r)), kMaxFadeSteps);
        if (traceOn())
            printf("\t win%d:(%d,%d,%d,%d) input:%s, winEn:%d,rotate:%d\r\n", i, rect.x, rect.y, rect.w, rect.h,
                   wi.input <= 5 ? kInputNames[wi.input] : "Para Error", wi.winEn, wi.rotate);
    }
    gMwin = {wincnt, winState.rects};

    resolveLayers(-1);
    for (int i = 0; i < kWindows; ++i) {
        const int r = winState.slotRecord[i];
        const int mirror = r >= 0 ? b[blk::window(r, win::kMirror)] & 3 : 0;
        gWininfo[i].rotate = uint8_t(mirror);
        g_chg_memmode[i] = 1;
        PM_MEMMODE_H[i] = mirror & 1;
        PM_MEMMODE_V[i] = (mirror >> 1) & 1;
    }
}

void c331_manage::closeDarkWindows()
{
    VyrRamPara* store = VyrRamPara::p_vyrrampara_config;
    if (!store)
        return;
    std::vector<std::string> closed;
    {
        PosixLock lock(c331_mutex);
        for (int i = 0; i < std::min(wincnt, kWindows); ++i) {
            const int r = winState.fellBack ? 0 : winState.slotRecord[i];
            if (!winState.dark[i] || r < 0 || r >= kWindows)
                continue;
            // A state a writer changed since is theirs: the next dispatch places (or refuses) it.
            const uint32_t f = blk::window(r, win::kState);
            const uint16_t state = get16(store->view(), f);
            if (state == 0 || (applied_valid && state != get16(applied, f)))
                continue;
            const uint32_t rec = blk::windowRecord(r);
            memcpy(winState.closedRecord[r], store->view() + rec, kWindowSize);
            winState.closed[r] = recordSourceArea(store->view(), rec, winState.closedArea[r]);
            store->scalerU16(f, 0);
            if (applied_valid)
                blk::put16(applied, f, 0);
            closed.push_back("window " + std::to_string(r) + " not shown, closed: " + winState.darkWhy[i]);
        }
    }
    if (closed.empty())
        return;
    for (const std::string& line : closed)
        writeLogMsg(LOG_WARNING, line);
    rebuildWindows();
    store->test_signal(1); // the pages show the window closed; the block is saved
}

void c331_manage::reopenWindows()
{
    VyrRamPara* store = VyrRamPara::p_vyrrampara_config;
    if (!store || std::none_of(std::begin(winState.closed), std::end(winState.closed), [](bool c) { return c; }))
        return;
    std::vector<std::string> reopened;
    {
        PosixLock lock(c331_mutex);
        uint8_t b[kBlockSize];
        bool copied = false;
        for (int r = 0; r < kWindows; ++r) {
            if (!winState.closed[r])
                continue;
            const uint32_t rec = blk::windowRecord(r), f = rec + win::kState;
            const uint8_t* held = winState.closedRecord[r];
            // A record a writer changed since is theirs, opened or closed as they set it.
            if (get16(store->view(), f) != 0 || memcmp(store->view() + rec + 2, held + 2, kWindowSize - 2) != 0) {
                winState.closed[r] = false;
                continue;
            }
            // Judged once for each timing its input settles on.
            _ImageWindowDef_st a;
            _ImageWindowDef_st& last = winState.closedArea[r];
            if (!recordSourceArea(store->view(), rec, a) ||
                (a.hst == last.hst && a.hw == last.hw && a.vst == last.vst && a.vw == last.vw))
                continue;
            last = a;
            if (!copied) {
                PosixLock records(store->mutex); // the input drivers' records are written under it
                memcpy(b, store->view(), sizeof b);
                copied = true;
            }
            memcpy(b + f, held + win::kState, 2);
            if (!layoutFault(pnl, b).empty()) {
                blk::put16(b, f, 0);
                continue;
            }
            store->scalerBytes(f, held + win::kState, 2);
            if (applied_valid)
                memcpy(applied + f, held + win::kState, 2);
            winState.closed[r] = false;
            reopened.push_back("window " + std::to_string(r) + " shown again: " + std::to_string(a.hw) + " x " +
                               std::to_string(a.vw) + " of its input is drawn");
        }
    }
    if (reopened.empty())
        return;
    for (const std::string& line : reopened)
        writeLogMsg(LOG_WARNING, line);
    rebuildWindows();
    store->test_signal(1);
}

void c331_manage::vyrApi_initEnvC331Default()
{
    call_log.record("vyrApi_initEnvC331Default", {});
    ScalerCallLog::Nested quiet;
    if (traceOn())
        printf("vyrApi_initEnvC331Default\r");
    // One window over the whole panel; it keeps the input its slot had.
    vyrApi_MultiWinInit();
    gMwin = {0, winState.defaultRects};
    vyrApi_MultiWinGet(&gMwin);
    gMwin.wincnt = std::clamp(gMwin.wincnt, 1, kWindows);
    for (int i = 0; i < gMwin.wincnt; ++i) {
        ST_RECT& r = winState.defaultRects[i];
        r.x += pnl.xoffs;
        r.y += pnl.yoffs;
        ST_WIN_INFO& wi = gWininfo[i];
        wi.x = uint16_t(r.x), wi.y = uint16_t(r.y), wi.w = uint16_t(r.w), wi.h = uint16_t(r.h);
        wi.rotate = 0;
        wi.winEn = 1;
        PM_MEMMODE_H[i] = PM_MEMMODE_V[i] = 0;
    }
    wincnt = gMwin.wincnt;
    winState.fellBack = true;
    for (int i = 0; i < kWindows; ++i)
        winState.recordSlot[i] = winState.slotRecord[i] = -1;
}

// The block's window records as the chip shows them: `shown` (a whole block image) or, with null,
// the single full-panel window.
void c331_manage::writeShownLayout(const uint8_t* shown)
{
    // The factory screen standing in for a stored wall shows no window of the wall's: one it
    // refuses goes back to what the block held, not to the factory screen's, so the wall's windows
    // are still there when its splice is set again.
    if (keep_stored_screen_ && !shown) {
        if (dispatching_)
            shown = applied;
        else
            return;
    }
    auto put = [&](uint8_t* b) {
        if (shown) {
            memcpy(b + blk::windowRecord(0), shown + blk::windowRecord(0), kWindows * kWindowSize);
            memcpy(b + blk::kLayerPriority, shown + blk::kLayerPriority, 2 * kWindows);
            return;
        }
        for (int r = 0; r < kWindows; ++r)
            blk::put16(b, blk::window(r, win::kState), r == 0 ? 1 : 0);
        blk::put16(b, blk::window(0, win::kX), 0);
        blk::put16(b, blk::window(0, win::kY), 0);
        blk::put16(b, blk::window(0, win::kWidth), uint16_t(winState.defaultRects[0].w));
        blk::put16(b, blk::window(0, win::kHeight), uint16_t(winState.defaultRects[0].h));
        blk::put16(b, blk::window(0, win::kMirror), 0);
    };
    // A dispatch records what is shown as applied and takes the refused fields back out of the
    // block itself, every time they are sent.
    if (dispatching_) {
        put(dispatching_);
        return;
    }
    if (keep_stored_screen_)
        return;
    if (VyrRamPara* store = VyrRamPara::p_vyrrampara_config) {
        PosixLock lock(c331_mutex);
        // The box's records become what is shown; a tool's write there waits for its apply.
        uint8_t b[kBlockSize];
        const uint32_t from = blk::kLayerPriority, to = blk::windowRecord(kWindows);
        store->appliedCopy(b);
        put(b);
        store->setBoxBytes(from, b + from, to - from);
    }
}

void c331_manage::limitVboZoom(const _ImageWindowDef_st& a, _ImageWindowDef_st& b)
{
    // One output half of the V-by-One transmitter cannot zoom a wider picture vertically.
    constexpr int kMaxVboWidth = 2176;
    if (a.hw > kMaxVboWidth && b.hw > kMaxVboWidth && b.vw > a.vw)
        b.hw = kMaxVboWidth;
}

void c331_manage::set_output(int fd)
{
    call_log.record("set_output", {});
    ScalerCallLog::Nested quiet;
    bool anyChange = false;
    for (int w = 0; w < kWindows; ++w)
        anyChange |= g_chg_geometry[w] || g_chg_input[w] || g_chg_dbd[w] || g_chg_memmode[w];
    if (!anyChange && !g_chg_overlay && !g_chg_priority)
        return; // nothing to re-program

    for (int w = 0; w < kWindows; ++w)
        reset_ich(w);
    for (int w = 0; w < kWindows; ++w) {
        const bool wants = g_chg_input[w] == 1 || g_chg_input[w] == 3 || g_chg_dbd[w] ||
                           (g_chg_geometry[w] && g_win_ich[w][0] < 0);
        if (!wants || PM_INPUT[w] < 0 || PM_INPUT[w] >= kPorts)
            continue;
        if (set_input(w, PM_INPUT[w]) == 2)
            g_chg_input[w] = 0, g_chg_dbd[w] = 0;
    }

    // A fade only when exactly one window switches its source and nothing else moves.
    int fadeWin = -1, fades = 0;
    for (int w = 0; w < kWindows; ++w)
        if (g_chg_input[w] == 1 && PM_WIN_FADE_EN[w])
            fadeWin = w, ++fades;
    check_stitching_chg();
    for (int w = 0; w < kWindows; ++w)
        if (g_chg_input[w] == 2 || g_chg_input[w] == 3 || g_chg_dbd[w] == 1 || g_chg_geometry[w] == 1 ||
            (g_chg_input[w] == 1 && !PM_WIN_FADE_EN[w]))
            fades = 0;
    const bool fade = fades == 1 && !g_chg_overlay;
    winState.fadeWin = fade ? fadeWin : -1;

    if (fade)
        set_layer_coef(fd, fadeWin, PM_WIN_FADE_OUT[fadeWin], 0);
    else
        set_freeze(fd, 1);

    _ImageWindowDef_st out[kWindows];
    for (int w = 0; w < kWindows; ++w) {
        out[w] = OWIN[w];
        if (!g_chg_geometry[w] && !g_chg_input[w] && !g_chg_dbd[w])
            continue;
        calc_iwin2(w);
        calc_owin2(w);
        out[w] = OWIN[w];
        if (PS_VBOTX_MODE == 2)
            limitVboZoom(IWIN[w], out[w]);
        if (PM_WIN_DBD_MODE[w] != 0)
            set_display_window_ich_dbd(fd, w, PM_WIN_DBD_MODE[w]);
        else
            set_display_window_ich(fd, IWIN[w], out[w], w);
    }

    reset_act(fd, 0);
    wait1_pivs2(fd);
    wait1_pivs2(fd);
    set_rtct(fd, 2);
    for (int w = 0; w < kWindows; ++w) {
        if (!g_chg_geometry[w] && !g_chg_input[w] && !g_chg_dbd[w] && !g_chg_memmode[w])
            continue;
        set_display_window_och(fd, IWIN[w], out[w], w);
        set_input_bkg2(fd, w, 0);
    }
    if (g_chg_overlay || g_chg_priority) {
        update_overlay_info();
        set_overlay(fd);
        reset_layer_coef(fd, 0);
        g_chg_overlay = g_chg_priority = 0;
    }
    reset_act(fd, 1);
    if (fade)
        set_layer_coef(fd, fadeWin, PM_WIN_FADE_IN[fadeWin], 1);
    else
        set_freeze(fd, 0);
    set_rtct(fd, 1);
    memcpy(winState.savedWinNum, PM_WIN_NUM, sizeof winState.savedWinNum);
    memcpy(winState.savedWinIch, g_win_ich, sizeof winState.savedWinIch);
    winState.saved = true;

    for (int w = 0; w < kWindows; ++w) {
        const int mode = PM_WIN_DBD_MODE[w];
        const int port = PM_INPUT[w];
        const bool oneChannel = port < 0 || port >= kPorts || check_dbd_input(fd, port) == 0;
        if (mode <= 0 || (mode == 1 && oneChannel))
            reset_dbd_mem(w);
    }
    for (int w = 0; w < kWindows; ++w) {
        g_chg_geometry[w] = g_chg_memmode[w] = g_chg_dbd[w] = g_chg_fade[w] = 0;
        g_chg_input[w] = 0;
    }
}

void c331_manage::reset_act(int fd, int mode)
{
    if (mode == 0 || mode == 2) {
        for (int k = 0; k < kChannels; ++k)
            if (g_ich_owner[k] < 0)
                drv->write_C331(fd, 0x101902, 0, uint32_t(16 * k));
    }
    if (mode == 1 || mode == 2) {
        for (int k = 0; k < kChannels; ++k) {
            bool used = false;
            for (int o = 0; o < kChannels && !used; ++o) {
                const int w = PM_WIN_NUM[o];
                used = o == k && isWindow(w) && PM_AREA_NUM[o] < PM_WIN_SHAPE[w][0] * PM_WIN_SHAPE[w][1];
            }
            if (!used)
                drv->write_C331(fd, 0x084202, 0, uint32_t(16 * k));
        }
    }
}

void c331_manage::c331_SetWinOutput(int fd, char win, int word)
{
    call_log.record("c331_SetWinOutput", {win, word});
    ScalerCallLog::Nested quiet;
    if (traceOn())
        printf("[c331_SetWinOutput] win:%d, data:%x\r\n", win, word);
    // A slot without a window has no port or channels to touch.
    if (!isWindow(win) || win >= wincnt) {
        if (traceOn())
            printf("[c331_SetWinOutput], win OOR");
        return;
    }
    ST_WIN_INFO& wi = gWininfo[int(win)];
    const int d = word & 3;
    if (traceOn())
        printf("\t pwinfo[win_%d].output:%02x -- data:%02x\n", win, wi.output, d);
    if ((d ^ wi.output) & 1) {
        wi.output = uint8_t((wi.output & ~1) | (d & 1));
        set_input_bkg2(fd, win, d & 1);
        if (traceOn())
            printf("\t change win_%d output:%s\n", win, (d & 1) ? "Black" : "Normal");
    }
    bool froze = false;
    if ((d ^ wi.output) & 2) {
        wi.output &= uint8_t(~2);
        const int port = PM_INPUT[int(win)];
        if (port >= 0 && port < kPorts && PI_STATE[port] != 0) {
            wi.output = uint8_t(wi.output | (d & 2));
            win_freeze_sel(fd, win, d & 2);
            if (traceOn())
                printf("\t change win_%d freeze:%s\n", win, (d & 2) ? "Freeze" : "Normal");
            froze = true;
        } else if (traceOn()) {
            printf("\t change win_%d no signal, disable freeze\n", win);
        }
    }
    // The rest of the word applies with a freeze too: the block records the whole word as shown.
    PM_WIN_FADE_EN[int(win)] = (word & win::kOutEffect) ? 1 : 0;
    const int dbd = PM_WIN_DBD_MODE[int(win)];
    if (word & win::kOutDotByDot) {
        uint8_t b[kBlockSize];
        takeBlock(b);
        const int r = winState.slotRecord[int(win)] >= 0 ? winState.slotRecord[int(win)] : win;
        PM_WIN_DBD_MODE[int(win)] = dbdModeOf(get16(b, blk::window(r, win::kDotByDot)));
    } else {
        PM_WIN_DBD_MODE[int(win)] = 0;
        if (traceOn())
            printf("\t change win_%d DBD_MODE: DBD_DISABLE\n", win);
    }
    // A freeze alone programs nothing more; a new dot-by-dot mode re-programs the capture, which
    // lets it run again, so the freeze is set once more after it.
    if (froze && dbd == PM_WIN_DBD_MODE[int(win)])
        return;
    g_chg_dbd[int(win)] = 1;
    set_output(fd);
    if (froze)
        win_freeze_sel(fd, win, d & 2);
}

void c331_manage::c331_SetWinDbdMode(int fd, char win, int value)
{
    call_log.record("c331_SetWinDbdMode", {win, value});
    ScalerCallLog::Nested quiet;
    if (!isWindow(win) || win >= wincnt)
        return;
    uint8_t b[kBlockSize];
    takeBlock(b);
    const int r = winState.slotRecord[int(win)] >= 0 ? winState.slotRecord[int(win)] : win;
    // The mode only counts while dot-by-dot is on; off, the window stays at 0.
    if (!(b[blk::window(r, win::kPointToPoint)] & 1))
        return;
    PM_WIN_DBD_MODE[int(win)] = dbdModeOf(value);
    g_chg_dbd[int(win)] = 1;
    set_output(fd);
}

void c331_manage::c331_SetWinAttr(char win, int word)
{
    call_log.record("c331_SetWinAttr", {win, word});
    ScalerCallLog::Nested quiet;
    if (traceOn())
        printf("[c331_SetWinAttr] win:%d, data:%x\r\n", win, word);
    if (!isWindow(win) || win >= wincnt)
        return;
    gWininfo[int(win)].rotate = uint8_t(word & 3);
    g_chg_memmode[int(win)] = 1;
    PM_MEMMODE_H[int(win)] = word & 1;
    PM_MEMMODE_V[int(win)] = (word >> 1) & 1;
    set_output(c331_fd);
}

void c331_manage::c331_SetWinPriority(int win, int pri)
{
    call_log.record("c331_SetWinPriority", {win, pri});
    ScalerCallLog::Nested quiet;
    if (traceOn())
        printf("[c331_SetWinPriority] win_%d, pri_%d\n", win, pri);
    // The dispatch names the record; its window is the slot the record was packed into.
    if (!isWindow(win))
        return;
    const int slot = winState.recordSlot[win];
    if (slot < 0 || slot >= wincnt)
        return;
    if (pri < 0)
        pri = 0;
    gWininfo[slot].pri = uint8_t(pri % 6);
    resolveLayers(slot);
}

void c331_manage::resolveLayers(int keep)
{
    // Two windows on one layer: the one asked for (keep) holds it, otherwise the earlier slot; the
    // other takes the lowest free layer. The dispatch writes the result back into the block, so a
    // later rebuild finds no tie to resolve differently.
    const int count = std::clamp(wincnt, 0, kWindows);
    bool used[6] = {};
    if (keep >= 0 && keep < count)
        used[gWininfo[keep].pri % 6] = true;
    for (int i = 0; i < count; ++i) {
        if (i == keep)
            continue;
        ST_WIN_INFO& wi = gWininfo[i];
        wi.pri = uint8_t(wi.pri % 6);
        if (used[wi.pri]) {
            const int free = int(std::find(used, used + 6, false) - used);
            if (free < 6) {
                if (traceOn())
                    printf("\t\t win%d layer:%d already assigned, reset it to :%d\n", i, wi.pri, free);
                wi.pri = uint8_t(free);
            }
        }
        used[wi.pri] = true;
    }
}

void c331_manage::c331_SetWinPriority1(int fd)
{
    call_log.record("c331_SetWinPriority1", {});
    ScalerCallLog::Nested quiet;
    if (traceOn())
        printf("[c331_SetWinPriority1] wincnt:%d\n", wincnt);
    for (int w = 0; w < kWindows; ++w) {
        PM_OVERLAY_PRI[w] = w < wincnt ? 5 - gWininfo[w].pri : 0;
        if (traceOn())
            printf("\t win_%d, vyr_layer_%d ==> layer_%d\n", w, gWininfo[w].pri, PM_OVERLAY_PRI[w]);
    }
    update_overlay_info();
    set_overlay(fd);
    reset_layer_coef(fd, 0);
}

void c331_manage::win_freeze_sel(int fd, int win, int value)
{
    if (!isWindow(win))
        return;
    const int c = g_win_ich[win][0];
    if (c < 0 || c >= kChannels)
        return; // no channel: nothing to freeze
    drv->write_C331(fd, 0x100901, (value & 2) ? 2 : 1, uint32_t(16 * c));
}
