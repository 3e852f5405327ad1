// Crops: a window showing a rectangle of its input, kept as four margins inside the input's
// active area.
#include "scaler/c331_manage.h"

#include "base/global.h"
#include "base/logMsg.h"
#include "params/block_layout.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace {
constexpr int kWindows = 6;
constexpr int kPorts = 6;
}

void c331_manage::c331_SetInputsourceCrop(int win, int word)
{
    call_log.record("c331_SetInputsourceCrop", {win, word});
    ScalerCallLog::Nested quiet;
    if (traceOn())
        printf("[%s] win:%d , cropIdx:%04X\n", "c331_SetInputsourceCrop", win, word);
    if (win < 0 || win >= wincnt || win >= kWindows) {
        if (traceOn())
            printf("[%s] win:%d oor\n", "c331_SetInputsourceCrop", win);
        return;
    }
    const uint32_t index = uint32_t(word) & 0xFF;
    if (index >= kCropCount) {
        if (traceOn())
            printf("\t !!!!!!!!!cropIdx OOR,return !!!!!!!!!!!!!");
        return;
    }
    uint8_t b[kBlockSize];
    takeBlock(b);
    const uint16_t id = blk::get16(b, blk::cropField(index, blk::crop::kId));
    // The slot must hold a crop, and of an input the box has.
    const int source = cropSourcePort(id);
    if (!blk::crop::used(id) || source < 0) {
        writeLogMsg(LOG_WARNING, "crop slot " + std::to_string(index) + " names no input, window " +
                                     std::to_string(win) + " keeps its source");
        return;
    }
    gWininfo[win].cropIdx = uint8_t(index);
    gWininfo[win].input = uint8_t(source);
    if (traceOn())
        printf("\t win:%d Input:%d\n", win, source);
}

int c331_manage::vyrApi_CropGetOffset(int port, const ST_RECT* rect, int side) const
{
    if (port < 0 || port >= kPorts || !rect)
        return 0;
    int64_t hw = PI_ACT[port][1];
    const int64_t vh = PI_ACT[port][3];
    if (port >= 4 && PI_STATE[port] < 4)
        hw *= 2;
    if (traceOn())
        printf("\t PI_ACT[%d](%d, %d, %d, %d), hw:%d\n", port, PI_ACT[port][0], PI_ACT[port][1], PI_ACT[port][2],
               PI_ACT[port][3], int(hw));
    if (hw == 0 || vh == 0) {
        if (traceOn())
            printf("\t no signal, return 0\n");
        return 0;
    }
    int64_t margin;
    switch (side) {
    case 0: margin = rect->x; break;
    case 1: margin = hw - (int64_t(rect->x) + rect->w); break;
    case 2: margin = rect->y; break;
    case 3: margin = vh - (int64_t(rect->y) + rect->h); break;
    default: return 0;
    }
    if (margin < 0) {
        if (traceOn())
            printf("[vyrApi_CropGetOffset] offset:%d < 0, reset to zeruo\n", int(margin));
        return 0;
    }
    return int(std::min<int64_t>(margin, 0x7FFFFFFF));
}

void c331_manage::cropMargins(int port, ST_RECT r, int* margins) const
{
    int64_t hw = PI_ACT[port][1];
    if (port >= 4 && PI_STATE[port] < 4)
        hw *= 2;
    const int64_t vh = PI_ACT[port][3];
    if (int64_t(r.x) + r.w > hw) {
        if (traceOn())
            printf("    x:%d + w:%d OOR, reset it to C331input\r\n", r.x, r.w);
        r.x = 0, r.w = int(hw);
    }
    if (int64_t(r.y) + r.h > vh) {
        if (traceOn())
            printf("    y:%d + h:%d OOR, reset it to C331input\r\n", r.y, r.h);
        r.y = 0, r.h = int(vh);
    }
    for (int side = 0; side < 4; ++side)
        margins[side] = vyrApi_CropGetOffset(port, &r, side);
}

void c331_manage::c331_SetCrop(char win, char enable, ST_RECT* rect)
{
    if (rect)
        call_log.record("c331_SetCrop", {win, enable, rect->x, rect->y, rect->w, rect->h});
    else
        call_log.record("c331_SetCrop", {win, enable});
    ScalerCallLog::Nested quiet;
    if (traceOn() && rect)
        printf("[c331_SetCrop] win:%d, enable:%d, rect(%d,%d,%d,%d)\r\n", win, enable, rect->x, rect->y, rect->w,
               rect->h);
    if (const int w = win; w < 0 || w >= kWindows) { // a char: unsigned on the box
        if (traceOn())
            printf("  not found win:%d\r\n", win);
        return;
    }
    const int w = win;
    if (enable && rect) {
        const int port = vyrApi_inputCvtC331(gWininfo[w].input);
        if (port < 0 || port >= kPorts)
            return; // no such input: the crop is kept as it was
        PM_INPUT_OFFSET_EN[w] = 1;
        cropMargins(port, *rect, PM_INPUT_OFFSET[w]);
        if (traceOn())
            printf("\t PM_OFFSET(%d,%d,%d,%d)\r\n", PM_INPUT_OFFSET[w][0], PM_INPUT_OFFSET[w][1],
                   PM_INPUT_OFFSET[w][2], PM_INPUT_OFFSET[w][3]);
    } else {
        PM_INPUT_OFFSET_EN[w] = 0;
        for (int side = 0; side < 4; ++side)
            PM_INPUT_OFFSET[w][side] = 0;
    }
    set_output(c331_fd);
}

int c331_manage::vyrApi_updateCrop(int port)
{
    if (traceOn())
        printf("[vyrApi_updateCrop]  input_num:%d\n", port);
    if (port < 0 || port >= kPorts)
        return 0;
    uint8_t b[kBlockSize];
    bool taken = false;
    int last = 0;
    for (int w = 0; w < kWindows && w < wincnt; ++w) {
        if (PM_INPUT[w] != port || !PM_INPUT_OFFSET_EN[w])
            continue;
        const uint32_t k = gWininfo[w].cropIdx;
        if (k >= kCropCount)
            continue; // not a crop slot: the margins stay
        if (!taken) {
            // The crops the dispatch last applied: one a writer changed since reaches the chip with
            // the dispatch that records it, or a change back before then would be lost.
            if (!dispatching_ && applied_valid)
                memcpy(b, applied, kBlockSize);
            else
                takeBlock(b);
            taken = true;
        }
        namespace crop = blk::crop;
        ST_RECT r{blk::get16(b, blk::cropField(k, crop::kX)), blk::get16(b, blk::cropField(k, crop::kY)),
                  blk::get16(b, blk::cropField(k, crop::kWidth)), blk::get16(b, blk::cropField(k, crop::kHeight))};
        for (int side = 0; side < 4; ++side)
            last = PM_INPUT_OFFSET[w][side] = vyrApi_CropGetOffset(port, &r, side);
        if (traceOn())
            printf("[vyrApi_updateCrop] win:%d, port:%d, cropWin:(%d,%d,%d,%d), PM_INPUT_OFFSET(%d,%d,%d,%d)\n", w, port,
                   r.x, r.y, r.w, r.h, PM_INPUT_OFFSET[w][0], PM_INPUT_OFFSET[w][1], PM_INPUT_OFFSET[w][2],
                   PM_INPUT_OFFSET[w][3]);
    }
    return last;
}
