// Output channels of the windows: which channels of the panel grid each window covers, spare
// channels lent to windows that share one, and the channel tables the output programming reads.
#include "scaler/c331_manage.h"

#include "scaler/c331_drv.h"
#include "base/global.h"
#include "base/logMsg.h"
#include "base/posix_lock.h"
#include "params/block_layout.h"
#include "params/vyrrampara.h"

#include <algorithm>
#include <cstdio>
#include <string>

namespace {

constexpr int kOutputChannels = 8;
constexpr uint8_t kNone = C331OutputChannels::kNone;
constexpr int kNoWindow = 6; // PM_WIN_NUM of a channel no window uses

// Channel rectangles of each arrangement, row by row, coded: bit 7 = (low 4 bits) x W, bit 5 or 6
// = (low 4 bits) x H, else the plain value.
struct Arrangement {
    int code;
    int count;
    uint8_t rect[4][4];
};
const Arrangement kArrangements[] = {
    {ARRANG2K4_2x1, 2, {{0, 0, 0x81, 0x61}, {0x81, 0, 0x81, 0x61}}},
    {ARRANG2K4_4x1_8K, 4, {{0, 0, 0x81, 0x61}, {0x81, 0, 0x81, 0x61}, {0x82, 0, 0x81, 0x61}, {0x83, 0, 0x81, 0x61}}},
    {ARRANG2K4_2x2_8K, 4, {{0, 0, 0x81, 0x61}, {0x81, 0, 0x81, 0x61}, {0, 0x61, 0x81, 0x61}, {0x81, 0x61, 0x81, 0x61}}},
    {ARRANG2K4_1x2, 2, {{0, 0, 0x81, 0x61}, {0, 0x61, 0x81, 0x61}}},
};

int64_t decode(uint8_t v, int64_t W, int64_t H)
{
    if (v & 0x80)
        return (v & 0x0F) * W;
    if (v & 0x60)
        return (v & 0x0F) * H;
    return v;
}

struct Rect {
    int64_t x, y, w, h;
};

// Number of channels a window lists: its own counts, never more than the list holds.
int listed(const ST_WIN_INFO& info) { return std::min(8, info.ochHCnt * info.ochVCnt); }


const Arrangement* arrangementOf(int code)
{
    for (const Arrangement& a : kArrangements)
        if (a.code == code)
            return &a;
    return nullptr;
}

}

c331_manage::ChannelSpan c331_manage::channelSpan(const ST_PANEL& pnl, int64_t x, int64_t y, int64_t w, int64_t h)
{
    ChannelSpan span;
    const Arrangement* arr = arrangementOf(pnl.arrang);
    if (!arr) {
        span.failure = "no channel grid";
        return span;
    }
    const int64_t W = pnl.och.width, H = pnl.och.height;
    // Arrangement 2x1 compares across only, 1x2 down only.
    const bool useX = pnl.arrang != ARRANG2K4_1x2, useY = pnl.arrang != ARRANG2K4_2x1;
    int rowLength = pnl.och_HCnt;
    if (pnl.arrang == ARRANG2K4_2x1 && pnl.use1och)
        rowLength /= 2;
    span.rowLength = rowLength = std::max(1, rowLength);
    const int64_t x2 = x + w, y2 = y + h;
    int end = -1;
    for (int k = 0; k < arr->count; ++k) {
        const uint8_t* c = arr->rect[k];
        const Rect r{decode(c[0], W, H), decode(c[1], W, H), decode(c[2], W, H), decode(c[3], W, H)};
        if (span.start < 0 && (!useX || (x >= r.x && x < r.x + r.w)) && (!useY || (y >= r.y && y < r.y + r.h)))
            span.start = k;
        if (end < 0 && (!useX || (x2 >= r.x && x2 <= r.x + r.w)) && (!useY || (y2 >= r.y && y2 <= r.y + r.h)))
            end = k;
    }
    if (span.start < 0 || end < 0) {
        span.failure = "outside the channel grid";
        return span;
    }
    span.end = end;
    span.totalh = std::min(end % rowLength - span.start % rowLength + 1, rowLength);
    for (int k = span.start; k <= end; k += rowLength)
        ++span.totalv;
    if (span.totalh > 8)
        span.failure = "totalh:" + std::to_string(span.totalh) + " > 8";
    else if (span.totalv > 8)
        span.failure = "totalv:" + std::to_string(span.totalv) + " > 8";
    else if (span.totalh * span.totalv > 8)
        span.failure = "totalh*totalv > 8";
    return span;
}

void c331_manage::vyrApi_MultiWinChAlloc(char init)
{
    call_log.record("vyrApi_MultiWinChAlloc", {init});
    const bool trace = traceOn();
    if (trace)
        printf("[vyrApi_MultiWinChAlloc] init:%d\r\n\t wincnt:%d\r\n", init, wincnt);
    for (ST_WIN_INFO& info : gWininfo) {
        std::fill(std::begin(info.ochPosLst), std::end(info.ochPosLst), kNone);
        std::fill(std::begin(info.ochLst), std::end(info.ochLst), kNone);
        info.ochHCnt = info.ochVCnt = 0;
    }

    const Arrangement* arr = arrangementOf(pnl.arrang);
    if (!arr) {
        if (trace)
            printf("\t not found arrang mode\n");
        return;
    }
    if (trace) {
        const int64_t W = pnl.och.width, H = pnl.och.height;
        for (int k = 0; k < arr->count; ++k) {
            const uint8_t* r = arr->rect[k];
            printf("\t CH%d rect(%2x,%2x,%2x,%2x)\t rect(%4lld,%4lld,%4lld,%4lld)\r\n", k, r[0], r[1], r[2], r[3],
                   (long long)decode(r[0], W, H), (long long)decode(r[1], W, H), (long long)decode(r[2], W, H),
                   (long long)decode(r[3], W, H));
        }
    }

    const int windows = std::clamp(wincnt, 0, 6);
    for (int i = 0; i < windows; ++i) {
        ST_WIN_INFO& info = gWininfo[i];
        if (trace)
            printf("\t win%d(%4d,%4d,%4d,%4d) \t x1:%4d,y1:%4d, \t x2:%4d,y2:%4d\r\n", i, info.x, info.y, info.w,
                   info.h, info.x, info.y, info.x + info.w, info.y + info.h);
        const ChannelSpan span = channelSpan(pnl, info.x, info.y, info.w, info.h);
        if (trace && span.start >= 0 && span.end >= 0)
            printf("\t OCH Start: ch%d\r\n\t OCH End  : ch%d\r\n\t totalh:%d, \r\n\t totalv:%d\r\n", span.start,
                   span.end, span.totalh, span.totalv);
        if (!span.failure.empty()) {
            // One window that cannot be placed must not leave the windows after it without output.
            if (trace)
                printf("%s\nwin%d alloc och FAIL\n", span.failure.c_str(), i);
            writeLogMsg(LOG_WARNING, "window " + std::to_string(i) + " gets no output channel: " + span.failure);
            continue;
        }
        if (span.totalh <= 0 || span.totalv <= 0)
            continue; // the end lies before the start: no channels
        int m = 0;
        if (trace)
            printf("\t ochLst:\t");
        for (int r = 0; r < span.totalv; ++r) {
            for (int c = 0; c < span.totalh; ++c) {
                const int ch = span.start + r * span.rowLength + c;
                info.ochLst[m] = info.ochPosLst[m] = uint8_t(ch);
                ++m;
                if (trace)
                    printf("%d ", ch);
            }
        }
        if (trace)
            printf("\n");
        info.ochHCnt = uint8_t(span.totalh);
        info.ochVCnt = uint8_t(span.totalv);
    }
}

void c331_manage::vyrApi_MultiWinChOverlay()
{
    const bool trace = traceOn();
    if (trace)
        printf("[vyrApi_MultiWinChOverlay]\n");
    for (int k = 0; k < kOutputChannels; ++k) {
        PM_OVERLAY[k] = k + 1;
        och_tab.owner[k] = kNone;
        och_tab.overlay[k] = kNone;
    }
    const int windows = std::clamp(wincnt, 0, 6);
    if (windows == 0)
        return;
    for (int i = 0; i < windows; ++i)
        for (int m = 0; m < listed(gWininfo[i]); ++m)
            if (gWininfo[i].ochPosLst[m] < kOutputChannels)
                och_tab.owner[gWininfo[i].ochPosLst[m]] = gWininfo[i].ochPosLst[m];
    if (windows > 1) {
        // A channel already shown by an earlier window: this window is drawn on an idle one and
        // mixed back into the shared channel as a layer.
        for (int j = 1; j < windows; ++j) {
            ST_WIN_INFO& info = gWininfo[j];
            for (int m = 0; m < listed(info); ++m) {
                const uint8_t c = info.ochPosLst[m];
                if (c >= kOutputChannels)
                    continue;
                bool shared = false;
                for (int e = 0; e < j && !shared; ++e)
                    for (int n = 0; n < listed(gWininfo[e]); ++n)
                        shared |= gWininfo[e].ochPosLst[n] == c;
                if (!shared)
                    continue;
                int q = 0;
                while (q < kOutputChannels && och_tab.owner[q] != kNone)
                    ++q;
                if (q == kOutputChannels) {
                    if (trace)
                        printf("\t not found idle CH, !!!!!why!!!!!\r");
                    writeLogMsg(LOG_WARNING, "no idle output channel for window " + std::to_string(j) +
                                                 ", it shares channel " + std::to_string(c));
                    continue;
                }
                info.ochPosLst[m] = uint8_t(q);
                och_tab.owner[q] = uint8_t(q);
                och_tab.overlay[q] = 1;
            }
        }
        // Layer groups: the channels standing in for a shared channel join its group.
        for (int c = 0; c < kOutputChannels; ++c) {
            int users = 0;
            for (int i = 0; i < windows; ++i)
                users += std::count(gWininfo[i].ochLst, gWininfo[i].ochLst + listed(gWininfo[i]), c) > 0;
            if (users < 2)
                continue;
            for (int i = 0; i < windows; ++i) {
                const ST_WIN_INFO& info = gWininfo[i];
                for (int m = 0; m < listed(info); ++m) {
                    if (info.ochLst[m] != c || info.ochPosLst[m] >= kOutputChannels)
                        continue;
                    PM_OVERLAY[info.ochPosLst[m]] = c + 1;
                    if (trace)
                        printf("\t PM_OVERLAY[%d]: %d\n", info.ochPosLst[m], c + 1);
                }
            }
        }
    }
    g_chg_overlay = 1;
}

void c331_manage::vyrApi_MultiWinChInit()
{
    call_log.record("vyrApi_MultiWinChInit", {});
    ScalerCallLog::Nested quiet;
    const bool trace = traceOn();
    if (trace)
        printf("[vyrApi_MultiWinChInit] wincnt:%d\n", wincnt);
    vyrApi_MultiWinChOverlay();
    c331_SetWinPriority1(c331_fd);

    // Records of all ones match no measurement, so the port check takes every port with a signal
    // over again in the next pass; ports without signal cost no second re-programming.
    for (int p = 0; p < c331in::kPorts; ++p)
        clearPortInfo(p);
    for (int w = 0; w < 6; ++w) {
        PM_INPUT[w] = c331in::kNoPort;
        PM_WIN_SHAPE[w][0] = PM_WIN_SHAPE[w][1] = 0;
        std::fill(std::begin(PM_WIN_OFFSET[w]), std::end(PM_WIN_OFFSET[w]), 0);
        g_chg_geometry[w] = 0;
        g_chg_input[w] = 0;
        g_chg_dbd[w] = 0;
    }

    // The crops as the dispatch applies them, like the window records (a writer may be changing
    // the live block meanwhile).
    uint8_t b[kBlockSize];
    takeBlock(b);
    const int windows = std::clamp(wincnt, 0, 6);
    for (int i = 0; i < windows; ++i) {
        const ST_WIN_INFO& info = gWininfo[i];
        g_chg_geometry[i] = 1;
        g_chg_input[i] = 1;
        g_chg_dbd[i] = 1;
        PM_WIN_SHAPE[i][0] = info.ochHCnt;
        PM_WIN_SHAPE[i][1] = info.ochVCnt;
        const int port = vyrApi_inputCvtC331(info.input);
        PM_INPUT[i] = port <= 5 ? port : c331in::kNoPort;
        for (int side = 0; side < 4; ++side)
            PM_WIN_OFFSET[i][side] = vyrApi_OchGetWinOffset1(&info, side);
        std::fill(std::begin(PM_INPUT_OFFSET[i]), std::end(PM_INPUT_OFFSET[i]), 0);
        if (PM_INPUT_OFFSET_EN[i] && port <= 5 && info.cropIdx < kCropCount) {
            namespace cf = blk::crop;
            ST_RECT crop{blk::get16(b, blk::cropField(info.cropIdx, cf::kX)),
                         blk::get16(b, blk::cropField(info.cropIdx, cf::kY)),
                         blk::get16(b, blk::cropField(info.cropIdx, cf::kWidth)),
                         blk::get16(b, blk::cropField(info.cropIdx, cf::kHeight))};
            for (int side = 0; side < 4; ++side)
                PM_INPUT_OFFSET[i][side] = vyrApi_CropGetOffset(port, &crop, side);
            if (trace)
                printf("\t win_%d, crop(%d,%d,%d,%d)\n", i, PM_INPUT_OFFSET[i][0], PM_INPUT_OFFSET[i][1],
                       PM_INPUT_OFFSET[i][2], PM_INPUT_OFFSET[i][3]);
        }
    }

    for (int k = 0; k < kOutputChannels; ++k) {
        PM_WIN_NUM[k] = kNoWindow;
        PM_AREA_NUM[k] = 8;
    }
    och_tab.error = false;
    for (int i = 0; i < windows; ++i) {
        const ST_WIN_INFO& info = gWininfo[i];
        for (int m = 0; m < listed(info); ++m) {
            const uint8_t c = info.ochPosLst[m];
            if (c >= kOutputChannels) {
                if (trace)
                    printf("\t !!!!och:%d OOR\r\n", c);
                och_tab.error = true;
                break;
            }
            PM_WIN_NUM[c] = i;
            PM_AREA_NUM[c] = m;
            if (trace)
                printf("ochLst[%d]:%d PM_AREA_NUM[%d]:%d\n", m, c, c, m);
        }
    }
    for (uint32_t k = 0; k < kOutputChannels; ++k)
        drv->write_c331_mask(c331_fd, 0x000801 + (k << 8), PM_WIN_NUM[k] != kNoWindow ? 1 : 0, 1, 0);
}

int c331_manage::vyrApi_OchGetWinOffset1(const ST_WIN_INFO* info, int side)
{
    if (!info)
        return 0;
    const int64_t W = pnl.och.width, H = pnl.och.height;
    const char* error = nullptr;
    int64_t offset = 0;
    switch (side) {
    case 0:
        if (W == 0)
            error = "\t !!!!!!!! po->width left Error";
        else
            offset = info->x % W;
        break;
    case 1:
        if (W == 0)
            error = "\t !!!!!!!! po->width right Error";
        else
            offset = W * info->ochHCnt - (info->x % W + info->w);
        break;
    case 2:
        if (H == 0)
            error = "\t !!!!!!!! po->height up Error";
        else
            offset = info->y % H;
        break;
    case 3:
        if (H == 0)
            error = "\t !!!!!!!! po->height down Error";
        else
            offset = H * info->ochVCnt - (info->y % H + info->h);
        break;
    default:
        if (traceOn())
            printf("\t not found type:%d\r\n", side);
        return 0;
    }
    if (error) {
        if (traceOn())
            printf("%s\n", error);
        return 0;
    }
    return int(offset);
}
