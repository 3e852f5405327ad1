// Panel timing and splice: the LED size becomes a canvas cut into output channels, their timing,
// the chip's output registers and the layout published for the FPGA.
#include "scaler/c331_manage.h"

#include "scaler/c331_drv.h"
#include "base/global.h"
#include "base/logMsg.h"
#include "base/posix_lock.h"
#include "params/block_layout.h"
#include "params/vyrrampara.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <string>

namespace {

constexpr int kOutputChannels = 8;
constexpr int64_t kOneChannelPixels = 9800000; // canvas that one channel pair still carries
constexpr int64_t kPixelBudget = 9900000;      // 4400 x 2250: 594 MHz at 60 Hz
constexpr uint32_t kDefaultMaxPixels = 0xA00000; // INI default when no limit was read
constexpr int kRegisterMax = 0xFFFF;           // timing registers are 16 bits wide
constexpr int kSeamPorch = 32; // back porch of two pairs: room for a zoomed tile's guard at a seam
constexpr int64_t kFrameAt50Hz = 11880000; // 594 MHz at 50 Hz: FPGA 0 takes only shorter frames

const char* const kSpliceNames[6] = {"NONE", "HV", "V", "H", "CP12", "CP21"};

// Candidate totals: line lengths 660-8280 in steps of 4, each with the fewest lines that reach the
// budget, searched in this order.
struct TimingPair {
    int htt;
    int vtt;
};
constexpr int kTimingPairs = (8280 - 660) / 4 + 1;

const std::array<TimingPair, kTimingPairs>& timingList()
{
    static const std::array<TimingPair, kTimingPairs> list = [] {
        std::array<TimingPair, kTimingPairs> l{};
        for (int i = 0; i < kTimingPairs; ++i) {
            const int htt = 660 + 4 * i;
            l[size_t(i)] = {htt, int((kPixelBudget + htt - 1) / htt)};
        }
        return l;
    }();
    return list;
}

bool sideBySide(int mode) { return mode == SPLICE_HV || mode == SPLICE_V; }

int64_t ceilDiv(int64_t a, int64_t b) { return b > 0 ? (a + b - 1) / b : 0; }

// Canvas of the two parts: side by side for HV and V, stacked otherwise.
void canvas(const ST_PANEL& p, int64_t& width, int64_t& height)
{
    if (sideBySide(p.splice)) {
        width = int64_t(p.w1) + p.w2;
        height = std::max(p.h1, p.h2);
    } else {
        width = std::max(p.w1, p.w2);
        height = int64_t(p.h1) + p.h2;
    }
}

void channelCounts(ST_PANEL& p)
{
    switch (p.arrang) {
    case ARRANG2K4_2x1: p.och_HCnt = 2, p.och_VCnt = 1; break;
    case ARRANG2K4_4x1_8K: p.och_HCnt = 4, p.och_VCnt = 1; break;
    case ARRANG2K4_2x2_8K: p.och_HCnt = 2, p.och_VCnt = 2; break;
    case ARRANG2K4_1x2: p.och_HCnt = 1, p.och_VCnt = 2; break;
    default: p.och_HCnt = p.och_VCnt = 0; break;
    }
}

// Grid, porches and blanking of the canvas for one channel pair (`use1och`) or two.
void arrange(ST_PANEL& p, int& hblank, int& vblank, bool trace)
{
    const char* tag = "c331_out:";
    p.HSW = 12;
    p.VSW = 3;
    if (!p.use1och) {
        p.VSW = 12;
        p.HFP = p.VFP = 32;
        hblank = vblank = 76;
    } else {
        p.HFP = p.VFP = 4;
        hblank = 20;
        vblank = 12;
    }
    if (sideBySide(p.splice)) {
        p.arrang = p.use1och ? ARRANG2K4_1x2 : ARRANG2K4_2x2_8K;
        if (trace)
            printf(p.use1och ? "\t%s ARRANG2K4_1x2\n" : "\t%s ARRANG2K4_2x2_8K\n", tag);
    } else if (p.splice == SPLICE_H) {
        p.arrang = p.use1och ? ARRANG2K4_2x1 : ARRANG2K4_4x1_8K;
        if (trace)
            printf(p.use1och ? "\t%s ARRANG2K4_2x1\n" : "\t%s ARRANG2K4_4x1_8K\n", tag);
    } else if (p.splice == SPLICE_CP2TO1) {
        p.arrang = ARRANG2K4_2x1;
        if (trace)
            printf("\t%s OCHBW_2K4K30 ARRANG2K4_2x1\n", tag);
    } else {
        p.arrang = p.use1och ? ARRANG2K4_2x1 : ARRANG2K4_4x1_8K;
        if (trace) {
            if (p.splice == SPLICE_NONE)
                printf("\t%s OCHBW_2K4K30 ARRANG2K4_2x1 for NONE\n", tag);
            else
                printf("\t%s OCHBW_2K4K30 ARRANG2K4_2x1 for CP1TO2 ,%s\n", tag, p.use1och ? "1OCH" : "2OCH");
        }
    }
    p.ochBW = 0;
    channelCounts(p);
}

}

uint32_t c331_manage::panelPixelLimit()
{
    const uint32_t limit = g_vyr_max_pixel.load();
    return limit ? limit : kDefaultMaxPixels;
}

int c331_manage::vyrApi_PnlInit2(int ledW, int ledH, int out1w, int out1h, int splice)
{
    call_log.record("vyrApi_PnlInit2", {ledW, ledH, out1w, out1h, splice});
    ScalerCallLog::Nested quiet; // what follows is this setter's own work
    if (traceOn())
        printf("[vyrApi_PnlInit2] ledW:%d ledH:%d, out1w:%d, out1h:%d, splice:%s\n", ledW, ledH, out1w, out1h,
               kSpliceNames[((splice % 6) + 6) % 6]);
    ST_PANEL plan;
    std::string refused = planPanel(ledW, ledH, out1w, out1h, splice, plan, true);
    if (refused.empty())
        refused = panelSeamFault(plan);
    if (!refused.empty()) {
        writeLogMsg(LOG_WARNING, "panel refused: " + refused); // the panel stays as it was
        return 1;
    }
    pnl = plan;
    vyrApi_PnlInitOch3();
    vyrApi_initEnvC331();
    for (int p = 0; p < c331in::kPorts; ++p) {
        clearPortInfo(p);
        setPortInfo(p, c331in::PINFO_NOSIG, 1);
    }
    vyrApi_MultiWinChAlloc(1);
    vyrApi_MultiWinChInit();
    // The new panel's whole parameter model on the console, for the bench.
    vyrDbg_c331_param(0);
    return 0;
}

std::string c331_manage::panelSeamFault(const ST_PANEL& p)
{
    // The block's windows, or the last accepted ones, are taken only where they are drawn; the
    // single full-panel window the set falls back to must be drawn itself.
    uint8_t b[kBlockSize];
    takeBlock(b);
    int shown = 0;
    for (uint32_t r = 0; r < blk::kScalerWindows; ++r)
        shown += blk::get16(b, blk::window(r, blk::win::kState)) != 0;
    std::string fault;
    if (shown > 0 && chooseLayout(p, b, fault) != Layout::Default)
        return {};
    _ImageWindowDef_st a;
    if (!recordSourceArea(b, blk::windowRecord(0), a))
        return {};
    const std::string dark = seamFault(p, a, p.xoffs, p.yoffs, p.w, p.h);
    return dark.empty() ? dark : "its full-panel window shows " + dark;
}

std::string c331_manage::panelRefusal(const uint8_t* block)
{
    ST_PANEL plan;
    return planPanel(blk::get16(block, blk::kLedWidth), blk::get16(block, blk::kLedHeight),
                     blk::get16(block, blk::kOutput1Width), blk::get16(block, blk::kOutput1Height),
                     blk::get16(block, blk::kSpliceMode), plan, false);
}

bool c331_manage::takesNewScreen(const uint8_t* block, const uint8_t* shadow, const uint8_t* before)
{
    auto differs = [block](const uint8_t* other) {
        for (uint32_t f : {blk::kSpliceMode, blk::kLedWidth, blk::kLedHeight})
            if (blk::get16(block, f) != blk::get16(other, f))
                return true;
        return false;
    };
    return differs(shadow) && differs(before) && panelRefusal(block).empty();
}

std::string c331_manage::planPanel(int ledW, int ledH, int out1w, int out1h, int splice, ST_PANEL& p, bool own)
{
    const int mode = ((splice % 6) + 6) % 6;
    // Checked before any arithmetic: a size from a page or the protocol must not wrap the parts,
    // the porches or the published offsets.
    if (ledW <= 0 || ledH <= 0 || ledW > 0xFFFF || ledH > 0xFFFF)
        return "LED size " + std::to_string(ledW) + " x " + std::to_string(ledH);
    if (int64_t(ledW) * ledH > int64_t(panelPixelLimit()))
        return "LED size " + std::to_string(ledW) + " x " + std::to_string(ledH) + " above " +
               std::to_string(panelPixelLimit()) + " pixels";
    if (mode == SPLICE_H && (out1w <= 0 || out1w > ledW))
        return "split width " + std::to_string(out1w) + " of " + std::to_string(ledW);
    if (sideBySide(mode) && (out1h <= 0 || out1h > ledH))
        return "split height " + std::to_string(out1h) + " of " + std::to_string(ledH);

    p = ST_PANEL{};
    p.splice = mode;
    p.w = uint16_t(ledW);
    p.h = uint16_t(ledH);
    switch (mode) {
    case SPLICE_HV:
    case SPLICE_V:
        p.w1 = p.w2 = p.w;
        p.h1 = uint16_t(out1h);
        p.h2 = uint16_t(ledH - out1h);
        break;
    case SPLICE_H:
        p.w1 = uint16_t(out1w);
        p.w2 = uint16_t(ledW - out1w);
        p.h1 = p.h;
        break;
    case SPLICE_CP2TO1:
        break;
    default: // NONE, CP12
        p.w1 = p.w2 = p.w;
        p.h1 = p.h;
        break;
    }
    return planChannels(p, own);
}

std::string c331_manage::planChannels(ST_PANEL& p, bool own)
{
    const bool trace = own && traceOn();
    if (trace)
        printf("[vyrApi_PnlInitOch3]\n");
    int64_t width, height;
    canvas(p, width, height);
    p.use1och = width * height <= kOneChannelPixels;
    int hblank, vblank;
    arrange(p, hblank, vblank, trace);
    p.xoffs = 0;
    // The two parts of HV and V meet at a channel seam, each as tall as the taller part: the lower
    // tile of a window zoomed across it starts a few lines early, into the back porch.
    auto seamPorch = [&] { return !sideBySide(p.splice) || p.VTT - height - p.VSW - p.VFP >= kSeamPorch; };
    bool found = vyrApi_PnlInitOch_diff(p, &p.HTT, &p.VTT, hblank, vblank, trace);
    if (found && p.use1och && !seamPorch())
        found = false;
    if (!found && p.use1och) {
        // Drawn as a larger canvas is, with the grid and blanking of two pairs: with one pair's
        // the window's tiles past a seam found no room for their zoom, and the wall stayed dark.
        if (trace)
            printf("\t not found in list for Use one OCH, continue find for Use TWO OCH\n");
        p.use1och = 0;
        arrange(p, hblank, vblank, trace);
        found = vyrApi_PnlInitOch_diff(p, &p.HTT, &p.VTT, hblank, vblank, trace);
    }
    // Beyond the list the output runs lines longer than the chip's timings go.
    if (!found)
        return "no output timing for a " + std::to_string(width) + " x " + std::to_string(height) + " canvas";
    // Two pairs search half the parts' height: a total without the seam's porch would have to run
    // over the line budget, and the lower part stayed dark.
    if (!seamPorch())
        return "no output timing for parts of " + std::to_string(height) + " lines: " + std::to_string(p.VTT) +
               " lines in all leave less than " + std::to_string(kSeamPorch) + " of porch at their seam";

    if (p.splice == SPLICE_H) {
        int w4 = (p.och.width + 3) / 4 * 4;
        if (w4 > p.HTT - hblank) {
            if (trace)
                printf("\t SPLICE H: OCH WIDTH:%d OOR, htt:%d, hblank:%d\n", w4, p.HTT, hblank);
            w4 = p.HTT - hblank;
        }
        p.och.width = w4;
        const int64_t x = int64_t(p.och.width) * p.och_HCnt / 2 - p.w1;
        if (own && (x < 0 || x > kRegisterMax))
            writeLogMsg(LOG_WARNING, "panel: canvas x offset " + std::to_string(x) + " clamped");
        p.xoffs = uint16_t(std::clamp<int64_t>(x, 0, kRegisterMax));
    }
    // Mode H is stacked like NONE: its channels are as tall as the LED, not the whole frame.
    if (sideBySide(p.splice)) {
        const int half = std::max(1, p.och_VCnt / 2);
        p.och.height = int(ceilDiv(std::max(p.h1, p.h2), half));
        const int64_t y = int64_t(half) * p.och.height - p.h1;
        p.yoffs = uint16_t(std::clamp<int64_t>(y, 0, kRegisterMax));
        if (trace)
            printf("\t SPLICE_V,htt:%d, vtt:%d hblank:%d\n", p.HTT, p.VTT, hblank);
    } else {
        p.och.height = int(ceilDiv(p.h, std::max<int>(1, p.och_VCnt)));
    }

    // Porches of at least one pixel or line: a total the search could not raise far enough grows.
    if (p.HTT - p.och.width - p.HSW - p.HFP < 1)
        p.HTT = p.och.width + p.HSW + p.HFP + 1;
    if (p.VTT - p.och.height - p.VSW - p.VFP < 1)
        p.VTT = p.och.height + p.VSW + p.VFP + 1;
    // Grown to 50 Hz or less (a CP21 LED taller than about 17,990 lines: its empty canvas always
    // takes 660 x 15000), the frame is one FPGA 0 never lets through, and the wall stayed dark.
    if (int64_t(p.HTT) * p.VTT >= kFrameAt50Hz)
        return "timing " + std::to_string(p.HTT) + " x " + std::to_string(p.VTT) + " runs at 50 Hz or less";
    // Nothing may wrap into a 16-bit timing register or the published block fields.
    const int64_t hEnd = int64_t(p.HTT) - p.HFP; // active end: sync + back porch + width
    const int64_t vEnd = int64_t(p.VTT) - p.VFP;
    if (p.HTT - 2 > kRegisterMax || p.VTT - 2 > kRegisterMax || hEnd > kRegisterMax || vEnd > kRegisterMax ||
        p.och.height + 1 > kRegisterMax || p.och.width <= 0 || p.och.height <= 0)
        return "timing " + std::to_string(p.HTT) + " x " + std::to_string(p.VTT) + " does not fit the output registers";
    // The full-panel window must fit the channel grid (an empty CP21 canvas leaves two narrow channels).
    if (int64_t(p.xoffs) + p.w > int64_t(p.och.width) * p.och_HCnt ||
        int64_t(p.yoffs) + p.h > int64_t(p.och.height) * p.och_VCnt)
        return "LED size " + std::to_string(p.w) + " x " + std::to_string(p.h) + " beyond the " +
               std::to_string(int64_t(p.och.width) * p.och_HCnt) + " x " +
               std::to_string(int64_t(p.och.height) * p.och_VCnt) + " channel grid";
    return {};
}

void c331_manage::vyrApi_PnlInitOch3()
{
    const ST_PANEL& p = pnl;
    const char* tag = "c331_out:";
    vyrApi_WriteRam(1376);
    if (traceOn()) {
        printf("\n\t%s ========PANEL=======\n\t width:  %d\n\t height: %d\n\t xoffs:  %d\n\t yoffs:  %d\n", tag, p.w,
               p.h, p.xoffs, p.yoffs);
        printf("\n\t%s ========OCH SPEC=======\n\t HTT:    %d\n\t HBLANK: %d\n\t HFP:    %d\n\t HSW:    %d\n"
               "\t HBP:    %d\n",
               tag, p.HTT, p.HTT - p.och.width, p.HFP, p.HSW, p.HTT - p.och.width - p.HSW - p.HFP);
        printf("\n\t height: %d\n\t VTT:    %d\n\t VBLANK: %d\n\t VFP:    %d\n\t VSW:    %d\n\t VBP:    %d\n",
               p.och.height, p.VTT, p.VTT - p.och.height, p.VFP, p.VSW, p.VTT - p.och.height - p.VSW - p.VFP);
    }
    vyrApi_c331InitRegPanel();
}

int c331_manage::vyrApi_PnlInitOch_diff(ST_PANEL& p, int* outHtt, int* outVtt, int hblank, int vblank, bool trace)
{
    if (trace)
        printf("[vyrApi_PnlInitOch_diff] hblank:%d, vblank:%d\n", hblank, vblank);
    int64_t width, height;
    canvas(p, width, height);
    if (trace)
        printf("\t %lld x %lld = %lld, use1och:%d\n", (long long)width, (long long)height,
               (long long)(width * height), p.use1och);
    int64_t w = width, h = height;
    if (!p.use1och) {
        if (sideBySide(p.splice)) {
            h /= 2;
            if (p.arrang == ARRANG2K4_2x2_8K)
                w /= 2;
        } else {
            w /= 2;
        }
    }
    int64_t htt = w + hblank;
    int64_t vtt = h + vblank;
    if (htt * vtt > kPixelBudget) {
        if (sideBySide(p.splice)) {
            htt = kPixelBudget / vtt;
            if (trace)
                printf("\t SPLICE_V, oPixels OOR, reduce htt to:%lld\n", (long long)htt);
        } else {
            vtt = kPixelBudget / htt;
            if (trace)
                printf("\t SPLICE_H, oPixels OOR, reduce vtt to:%lld\n", (long long)vtt);
        }
    }
    if (trace)
        printf("\t %s:  htt:%lld, vtt:%lld\n", kSpliceNames[p.splice], (long long)htt, (long long)vtt);
    const auto& list = timingList();
    const auto found =
        std::find_if(list.begin(), list.end(), [&](const TimingPair& t) { return t.htt >= htt && t.vtt >= vtt; });
    if (found != list.end()) {
        htt = found->htt;
        vtt = found->vtt;
        if (trace)
            printf("\t found htt: %lld, vtt:%lld\n", (long long)htt, (long long)vtt);
    } else if (trace && !p.use1och) {
        printf("\t not found in list, calc htt: %lld -- %04llx\n", (long long)htt, (long long)htt);
    }
    // Held in int: a pair not from the list is refused by the caller.
    *outHtt = int(std::min<int64_t>(htt, INT32_MAX / 2));
    *outVtt = int(std::min<int64_t>(vtt, INT32_MAX / 2));
    p.och.width = *outHtt - hblank;
    p.och.height = *outVtt - vblank;
    return found != list.end() ? 1 : 0;
}

void c331_manage::vyrApi_c331InitRegPanel()
{
    const ST_PANEL& p = pnl;
    const int fd = c331_fd;
    const int width = p.och.width, height = p.och.height;
    PS_ACTHW = width;
    PS_ACTVW = height;
    PS_HTOTAL = p.HTT;
    PS_VTOTAL = p.VTT;
    PS_HSW = p.HSW;
    PS_VSW = p.VSW;
    PS_HFP = p.HFP;
    PS_VFP = p.VFP;
    PS_HBP = p.HTT - width - p.HSW - p.HFP;
    PS_VBP = p.VTT - height - p.VSW - p.VFP;
    if (traceOn())
        printf("width:%4d, hsw:%4d, hfp:%4d, htt:%4d,   height:%4d, vsw:%4d, vfp:%4d, vtt:%4d,\n", width, p.HSW,
               p.HFP, p.HTT, height, p.VSW, p.VFP, p.VTT);

    auto wr = [&](uint32_t desc, uint32_t value, uint32_t offset = 0) { drv->write_C331(fd, desc, value, offset); };
    wr(0x034401, uint32_t(p.HSW / 2 - 1));
    wr(0x034501, uint32_t(p.VSW - 1));
    wr(0x034C01, uint32_t(p.HSW / 2 - 1));
    wr(0x034D01, uint32_t(p.VSW - 1));

    PS_ACTHST = PS_OAOIHST = p.HSW + PS_HBP;
    PS_OAOIHED = PS_OAOIHST + width;
    PS_ACTVST = PS_OAOIVST = p.VSW + PS_VBP;
    PS_OAOIVED = PS_OAOIVST + height;

    if (p.arrang >= ARRANG2K4_2x1 && p.arrang <= ARRANG2K4_1x2) {
        PS_VBOTX_MODE = 2;
        PS_VBOTX_LAYOUT = (p.arrang == ARRANG2K4_2x2_8K || p.arrang == ARRANG2K4_1x2) ? 1 : 0;
        if (traceOn())
            printf("PS_VBOTX_MODE = 2\n\t PS_VBOTX_LAYOUT:%d\n", PS_VBOTX_LAYOUT);
        if (PS_VBOTX_LAYOUT == 1) {
            PS_PANEL_VW = 2 * height;
            PS_PANEL_VSHAPE = 2;
            PS_PANEL_HW = p.use1och ? width : 2 * width;
            PS_PANEL_HSHAPE = p.use1och ? 1 : 2;
        } else {
            PS_PANEL_VW = height;
            PS_PANEL_VSHAPE = 1;
            PS_PANEL_HW = p.use1och ? 2 * width : 4 * width;
            PS_PANEL_HSHAPE = p.use1och ? 2 : 4;
        }
    } else if (traceOn()) {
        printf("\t not found arrang mode");
    }

    for (uint32_t n = 0; n < kOutputChannels; ++n) {
        const uint32_t off = 16 * n;
        wr(0x080A02, uint32_t(p.HTT - 2), off);
        wr(0x080C02, uint32_t(p.VTT - 2), off);
        wr(0x081D02, 0x40, off);
        wr(0x082802, uint32_t(PS_OAOIHST), off);
        wr(0x083002, uint32_t(PS_OAOIHST), off);
        wr(0x082A02, uint32_t(PS_OAOIHED), off);
        wr(0x083202, uint32_t(PS_OAOIHED), off);
        wr(0x082C02, uint32_t(PS_OAOIVST), off);
        wr(0x083402, uint32_t(PS_OAOIVST), off);
        wr(0x082E02, uint32_t(PS_OAOIVED), off);
        wr(0x083602, uint32_t(PS_OAOIVED), off);
        wr(0x084002, uint32_t(PS_ACTHST), off);
        wr(0x084202, uint32_t(width), off);
        wr(0x084402, uint32_t(PS_ACTVST), off);
        wr(0x084602, uint32_t(height + 1), off);
    }

    if (traceOn())
        printf("[vyrApi_c331InitRegPanel] ochBW:%s\r\n", p.ochBW == 0 ? "OCHBW_2K4K30" : "OCHBW_2K2K30");
    wr(0x035E04, 0x76543210);
    wr(0x036204, 0x76543210);

    // Output data routing by splice mode: with one channel pair, and with two.
    static const uint32_t kRouting[6][2] = {
        {0x03020100, 0x03020100}, {0x00010000, 0x00010000}, {0x00010000, 0x03020100},
        {0x00010000, 0x03020100}, {0x00000000, 0x01000100}, {0x00010000, 0x00010000},
    };
    wr(0x035504, kRouting[p.splice][p.use1och ? 0 : 1]);

    wr(0x032C02, 0);
    wr(0x032E01, 0);
    wr(0x032F02, 0);
    wr(0x020801, 9);
    wr(0x035E04, 0x76543210);
    wr(0x033602, 0);
    wr(0x033801, 0);
    wr(0x033902, 0);
    wr(0x027801, 9);
    wr(0x036204, 0x76543210);
    PS_PLL_SET1[4] = 11;
    PS_PLL_SET1[1] = 137;
    wr(0x004701, 0x21);
    wr(0x004C01, 0x21);
    wr(0x004B01, 11);
    wr(0x005001, 11);
    wr(0x004801, 137);
    wr(0x004D01, 137);
}

void c331_manage::vyrApi_WriteRam(int what)
{
    if (what != 1376)
        return;
    VyrRamPara* store = VyrRamPara::p_vyrrampara_config;
    if (!store)
        return;
    const ST_PANEL& p = pnl;
    uint8_t across, down;
    switch (p.splice) {
    case SPLICE_NONE:
    case SPLICE_CP1TO2: across = p.use1och ? 1 : 2, down = 1; break;
    case SPLICE_H: across = p.use1och ? 2 : 4, down = 1; break;
    default: across = p.use1och ? 1 : 2, down = 2; break; // HV, V, CP21
    }
    // The FPGA worker reads these rows; writers of the block hold the hand-over mutex. They are
    // the box's, whatever a tool wrote there and did not apply.
    PosixLock lock(c331_mutex);
    store->setBoxWord(blk::kCanvasX, p.xoffs);
    store->setBoxWord(blk::kCanvasY, p.yoffs);
    store->setBoxWord(blk::kChannelsH, across);
    store->setBoxWord(blk::kChannelsV, down);
    store->setBoxWord(blk::kChannelWidth, uint16_t(p.och.width));
    store->setBoxWord(blk::kChannelHeight, uint16_t(p.och.height));
    store->setBoxWord(blk::kChannelBandwidth, uint16_t(p.ochBW));
}

void c331_manage::vyrApi_MultiWinInit()
{
    // Layout k holds mwin_layouts[k].wincnt windows: one or two rows of equal tiles. Only the
    // first (the full panel) is used by the fall-back layout.
    const int w = pnl.w, h = pnl.h;
    for (MultiWinLayout& layout : mwin_layouts) {
        const int n = std::clamp(layout.wincnt, 1, 6);
        const int rows = n > 2 ? 2 : 1;
        const int cols = (n + rows - 1) / rows;
        for (int i = 0; i < 6; ++i) {
            if (i >= n) {
                layout.win[i] = ST_RECT{0, 0, 0, 0};
                continue;
            }
            const int r = i / cols, c = i % cols;
            layout.win[i] = ST_RECT{w * c / cols, h * r / rows, w / cols, h / rows};
        }
    }
}

void c331_manage::vyrApi_MultiWinGet(ST_MWIN* out)
{
    if (!out)
        return;
    out->wincnt = mwin_layouts[0].wincnt;
    if (!out->win)
        return;
    for (int i = 0; i < out->wincnt && i < 6; ++i)
        out->win[i] = mwin_layouts[0].win[i];
}
