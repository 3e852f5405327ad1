// The worker's change dispatch: takes the handed-over block under the hand-over mutex, compares it
// with what was last applied and calls a setter only for what differs; then the per-pass upkeep.
#include "scaler/c331_manage.h"

#include "base/global.h"
#include "base/logMsg.h"
#include "base/posix_lock.h"
#include "base/race_pause.h"
#include "base/utils.h"
#include "fpga/fpga_manage.h"
#include "params/omenu_file.h"
#include "params/vyrrampara.h"
#include "scaler/c331_osd_menu.h"
#include "video_chips/edid_tables.h"
#include "video_chips/keltosource.h"

#include <QMutexLocker>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <thread>
#include <utility>

std::atomic<uint8_t> g_osd_update{0};

namespace {

using blk::get16;
namespace win = blk::win;

constexpr int kWindows = int(blk::kScalerWindows);
constexpr int kInputs = 6;
constexpr uint32_t kTraceBase = blk::kBrightness; // window-field traces count from the picture area

// Any of these changed: the panel is set up again, once.
constexpr uint32_t kPanelFields[] = {blk::kSpliceMode, blk::kLedWidth, blk::kLedHeight, blk::kOutput1Width,
                                     blk::kOutput1Height};

// The colour temperature is set once for any of its four fields.
constexpr uint32_t kColourFields[] = {blk::kColourTemp, blk::kColourRed, blk::kColourGreen, blk::kColourBlue};

bool differs(const uint8_t* a, const uint8_t* b, uint32_t offset) { return get16(a, offset) != get16(b, offset); }

bool panelDiffers(const uint8_t* a, const uint8_t* b)
{
    return std::any_of(std::begin(kPanelFields), std::end(kPanelFields), [&](uint32_t f) { return differs(a, b, f); });
}

fpga_manage* fpga() { return fpga_manage::p_fpga_manage; }

// The FPGA worker serves the LED-parameter hand-over only while FPGA 0 is up and running.
bool fpgaServesLedStep() { return fpga() && fpga()->get_fpga_status() == 1; }

void raiseFpgaRequest(std::atomic<uint8_t> fpga_manage::*request)
{
    if (fpga())
        (fpga()->*request) = 1;
    fpga_manage::wake();
}

keltosource* inputs() { return keltosource::p_kelto_source; }

// The enabled window records are packed into slots without gaps; a per-field setter addresses the
// slot, so when a disabled record lies between enabled ones a record number is not its slot.
bool recordsAreSlots(const uint8_t* block)
{
    bool gap = false;
    for (int w = 0; w < kWindows; ++w) {
        const bool shown = get16(block, blk::window(w, win::kState)) != 0;
        if (shown && gap)
            return false;
        gap |= !shown;
    }
    return true;
}

// A record with any non-zero state is shown, as the window set counts them.
int shownWindows(const uint8_t* block)
{
    int shown = 0;
    for (int w = 0; w < kWindows; ++w)
        shown += get16(block, blk::window(w, win::kState)) != 0;
    return shown;
}

}

// ---- tables ---------------------------------------------------------------------------------------

// Friend of the manager, so the tables can name its private steps and setters.
struct DispatchTables {
    using Change = c331_manage::Change;
    using Step = void (c331_manage::*)(const Change&, uint8_t*);

    // The dispatch, step by step in the order the chip has to take them.
    static constexpr Step kSteps[] = {
        &c331_manage::stepForcedColour, &c331_manage::stepPanel,  &c331_manage::stepPictureControls,
        &c331_manage::stepPriorities,   &c331_manage::stepWindows, &c331_manage::stepFades,
        &c331_manage::stepPattern,      &c331_manage::stepEdids,   &c331_manage::stepAudio,
        &c331_manage::stepFpgaRequests, &c331_manage::stepOsd,
    };

    // Picture controls: one setter per field, called with the new value; false: refused.
    struct PictureStep {
        uint32_t field;
        bool (c331_manage::*set)(int);
    };
    static constexpr PictureStep kPictureSteps[] = {
        {blk::kBrightness, &c331_manage::applyBrightness},
        {blk::kContrast, &c331_manage::c331_SetContrast},
        {blk::kSharpness, &c331_manage::c331_SetSharpness},
        {blk::kSaturation, &c331_manage::c331_SetSaturation},
    };

    // Window record fields in ascending offset; no setter: the whole window environment is rebuilt.
    struct WindowStep {
        uint32_t field;
        bool (c331_manage::*set)(int w, uint16_t value, const uint8_t* block); // false: value refused
    };
    static constexpr WindowStep kWindowSteps[] = {
        {win::kState, nullptr},
        {win::kMirror, &c331_manage::applyWinAttr},
        {win::kSource, &c331_manage::applyWinSource},
        {win::kX, nullptr},
        {win::kY, nullptr},
        {win::kWidth, nullptr},
        {win::kHeight, nullptr},
        {win::kOutput, &c331_manage::applyWinOutput},
        {win::kDotByDot, &c331_manage::applyWinDbd},
    };

    // Fields whose change is the FPGA worker's to apply.
    struct FpgaRequest {
        uint32_t field;
        std::atomic<uint8_t> fpga_manage::*request;
    };
    static constexpr FpgaRequest kFpgaRequests[] = {
        {blk::kBlackScreen, &fpga_manage::onoff_request},
        {blk::kCanvasX, &fpga_manage::lcd_request},
        {blk::kCanvasY, &fpga_manage::lcd_request},
    };
};

// ---- the pass -------------------------------------------------------------------------------------

void c331_manage::c331managerdeal()
{
    VyrRamPara* store = VyrRamPara::p_vyrrampara_config;
    if (change_flag.load() != 0 && store) {
        if (takeChange(*store, change_))
            dispatchChange(*store, change_);
    }
    perPassUpkeep();
    closeDarkWindows();
    reopenWindows();
}

bool c331_manage::takeChange(VyrRamPara& store, Change& c)
{
    // Writers wait on this mutex, so it is held only to copy; the chip is programmed from the copy.
    PosixLock lock(c331_mutex);
    c.flag = change_flag.exchange(0);
    if (c.flag == 0)
        return false;
    c.verdicts = ScalerHandOver::takeVerdicts();
    // What the box applied: a tool's bytes act at its own apply, never at another writer's change.
    store.appliedCopy(c.block);
    if (!applied_valid) {
        memcpy(applied, store.shadow, sizeof applied);
        applied_valid = true;
    }
    uint8_t* image = store.image;
    c.diag = std::exchange(image[regimage::kScalerDiag], 0);
    c.dump_param = std::exchange(image[regimage::kDumpParam], 0);
    c.dump_group = std::exchange(image[regimage::kDumpGroup], 0);
    // Sync-test values other than bits 0 and 1 are left standing.
    c.sync_test = image[regimage::kSyncTest] & 3 ? std::exchange(image[regimage::kSyncTest], 0) : 0;
    return true;
}

void c331_manage::dispatchChange(VyrRamPara& store, const Change& c)
{
    // What this pass applies; entries the chip did not take keep their old value here.
    uint8_t next[kBlockSize];
    memcpy(next, c.block, sizeof next);
    wincnt = shownWindows(c.block);

    // A rebuild reads the records itself: from what this pass applies, not from a block a writer
    // may have changed meanwhile, or the chip would show values this pass does not record as
    // applied and a later change back to them would never reach it.
    dispatching_ = next;
    for (DispatchTables::Step step : DispatchTables::kSteps)
        (this->*step)(c, next);
    dispatching_ = nullptr;
    recordLayers(next);

    // A refused test pattern, picture value, LED size or window is taken back out of the block, so
    // page, protocol and wall agree; a value a writer changed meanwhile is theirs and stays.
    taken_back_.reset();
    takeBack(store, c, next, blk::kTestPattern, 1);
    for (const auto& s : DispatchTables::kPictureSteps)
        takeBack(store, c, next, s.field, 2);
    for (uint32_t f : kColourFields)
        takeBack(store, c, next, f, 2);
    for (uint32_t f : kScreenFields)
        takeBack(store, c, next, f, 2);
    for (int w = 0; w < kWindows; ++w)
        takeBack(store, c, next, blk::layerPriority(w), 2);
    for (uint32_t f = blk::windowRecord(0); f < blk::windowRecord(kWindows); f += 2)
        takeBack(store, c, next, f, 2);
    for (uint32_t k = 0; k < kCropCount; ++k)
        takeBack(store, c, next, blk::cropEntry(k), blk::kCropEntrySize);
    for (int p = 0; p < kInputs; ++p)
        if (edid_refused_ & (1u << p))
            takeBack(store, c, next, blk::edidWidth(p), blk::kEdidTimingSize);
    memcpy(applied, next, sizeof applied);
    // A writer waiting for its answer hears whether its bytes were taken back; EDIDs left for the
    // next pass are judged there.
    std::bitset<kBlockSize> pending;
    for (int p = 0; p < kInputs; ++p)
        for (uint32_t i = blk::edidWidth(p); i < blk::edidWidth(p) + blk::kEdidTimingSize; ++i)
            pending[i] = next[i] != c.block[i];
    ScalerHandOver::judge(c.verdicts, taken_back_, pending & ~taken_back_);

    store.test_signal(c.flag);
    // Inputs whose EDID could not be flagged in this pass stay pending for the next.
    if (edid_pending_) {
        PosixLock lock(c331_mutex);
        if (change_flag.load() == 0)
            change_flag = 1;
    }

    serveOsdUpdate();
    serveRequestBytes(c);
}

// ---- steps ----------------------------------------------------------------------------------------

void c331_manage::stepForcedColour(const Change&, uint8_t*)
{
    if (g_force_bkcolor.load() == 0)
        vyrApi_forceColorDisable(c331_fd);
}

void c331_manage::takeBack(VyrRamPara& store, const Change& c, const uint8_t* next, uint32_t field, size_t size)
{
    if (memcmp(next + field, c.block + field, size) == 0)
        return;
    for (size_t i = 0; i < size; ++i)
        taken_back_[field + i] = true;
    PosixLock lock(c331_mutex);
    if (memcmp(store.view() + field, c.block + field, size) == 0)
        store.scalerBytes(field, next + field, uint32_t(size));
}

void c331_manage::stepPanel(const Change& c, uint8_t* next)
{
    const uint8_t* b = c.block;
    if (!panelDiffers(b, applied))
        return;
    const bool stepped = g_set_led_para.load() == 1;
    if (stepped)
        waitLedParameterStep();
    // The block's own panel taken ends a factory screen's stand-in; its windows are judged on it.
    const bool standIn = std::exchange(keep_stored_screen_, false);
    if (vyrApi_PnlInit2(get16(b, blk::kLedWidth), get16(b, blk::kLedHeight), get16(b, blk::kOutput1Width),
                        get16(b, blk::kOutput1Height), get16(b, blk::kSpliceMode)) != 0) {
        keep_stored_screen_ = standIn;
        // The chip keeps the panel it had: the FPGA is not reset for a size nobody shows, and its
        // status watch keeps comparing with the size the chip took. A writer that started the
        // FPGA's step anyway left the wall blank: the FPGA is brought up again on the old panel.
        for (uint32_t f : kScreenFields)
            memcpy(next + f, applied + f, 2);
        if (stepped)
            handPanelToFpga();
        return;
    }
    handPanelToFpga();
    // The OSD is placed again on the new tiling (with the OSD off this clears every channel).
    osd_attribute_word = 1;
    if (get16(b, blk::kOsdMenu) != 0)
        g_osd_update = 1;
}

void c331_manage::handPanelToFpga()
{
    // Handed to the FPGA worker only when it can take it: raised while FPGA 0 is down it would
    // reset FPGA 0 once more after its bring-up, which takes the new panel anyway.
    if (!fpgaServesLedStep())
        return;
    {
        QMutexLocker led(&Utils::_led_para_init_mutex);
        g_set_led_para = 2;
    }
    fpga_manage::wake();
}

void c331_manage::stepPictureControls(const Change& c, uint8_t* next)
{
    // A value the chip cannot show as written is refused: the chip keeps the one it shows. The
    // wall's brightness is the FPGA's: after a level from elsewhere, which the block only shows,
    // the block's percentage is due again though it equals the one applied here.
    for (const auto& s : DispatchTables::kPictureSteps) {
        const bool due = differs(c.block, applied, s.field) ||
                         (s.field == blk::kBrightness && fpga() && fpga()->levelFromElsewhere(get16(c.block, s.field)));
        if (due && !(this->*s.set)(get16(c.block, s.field)))
            memcpy(next + s.field, applied + s.field, 2);
    }
    if (std::any_of(std::begin(kColourFields), std::end(kColourFields),
                    [&](uint32_t f) { return differs(c.block, applied, f); }) &&
        !applyColourTemp(c.block))
        for (uint32_t f : kColourFields)
            memcpy(next + f, applied + f, 2);
}

void c331_manage::stepPriorities(const Change& c, uint8_t* next)
{
    for (int w = 0; w < kWindows; ++w) {
        const uint32_t off = blk::layerPriority(w);
        if (!differs(c.block, applied, off))
            continue;
        if (traceOn())
            printf("DIFF REG CUSTOM_INFO_IMAGE%d_PRIORITY %04x==>%04x\r\n", w + 1, get16(applied, off), get16(c.block, off));
        c331_SetWinPriority(w, get16(c.block, off));
        c331_SetWinPriority1(c331_fd);
        // A rebuild later in this pass reads the layers as resolved here.
        recordLayers(next);
    }
}

void c331_manage::recordLayers(uint8_t* next) const
{
    for (int i = 0; i < std::min(wincnt, kWindows); ++i) {
        const int r = winState.slotRecord[i];
        if (r >= 0 && r < kWindows && get16(next, blk::window(r, win::kState)) != 0)
            blk::put16(next, blk::layerPriority(r), gWininfo[i].pri);
    }
}

void c331_manage::stepWindows(const Change& c, uint8_t* next)
{
    const uint8_t* b = c.block;
    const bool slotsMatch = recordsAreSlots(b) && recordsAreSlots(applied);
    for (int w = 0; w < kWindows; ++w) {
        for (const auto& s : DispatchTables::kWindowSteps) {
            const uint32_t off = blk::window(w, s.field);
            if (!differs(b, applied, off))
                continue;
            const uint16_t value = get16(b, off);
            if (traceOn())
                printf("DIFF REG win[%#x] reg:%x %04x==>%04x\r\n", w, off - kTraceBase, get16(applied, off), value);
            if (!s.set || !slotsMatch) {
                // The rebuild reads every window record, so nothing else of this step is needed.
                rebuildWindows();
                return;
            }
            if (!(this->*s.set)(w, value, b))
                blk::put16(next, off, get16(applied, off)); // keep the previous value
        }
        // The crop the window shows was edited in place: same source word, another rectangle.
        const uint32_t src = blk::window(w, win::kSource);
        const uint16_t word = get16(b, src);
        if ((word & win::kSourceCrop) && (word & 0xFF) < kCropCount && word == get16(applied, src)
            && memcmp(b + blk::cropEntry(word & 0xFF), applied + blk::cropEntry(word & 0xFF), blk::kCropEntrySize) != 0) {
            if (!slotsMatch) {
                rebuildWindows();
                return;
            }
            if (!applyWinSource(w, word, b)) // the crop's new rectangle is not drawn: it goes back
                memcpy(next + blk::cropEntry(word & 0xFF), applied + blk::cropEntry(word & 0xFF), blk::kCropEntrySize);
        }
    }
}

void c331_manage::stepFades(const Change& c, uint8_t*)
{
    // Read by the window effects; long fades would hold the output for minutes.
    for (int w = 0; w < kWindows; ++w) {
        for (uint32_t off : {blk::fadeIn(w), blk::fadeOut(w)}) {
            if (!differs(c.block, applied, off))
                continue;
            if (traceOn())
                printf("DIFF REG win[%#x] reg:%x(%04x) %04x==>%04x\r\n", w, off - blk::kFade, blk::kFade,
                       get16(applied, off), get16(c.block, off));
            const int steps = std::min<int>(get16(c.block, off), kMaxFadeSteps);
            (off == blk::fadeIn(w) ? PM_WIN_FADE_IN : PM_WIN_FADE_OUT)[w] = steps;
        }
    }
}

void c331_manage::stepPattern(const Change& c, uint8_t* next)
{
    const uint8_t pattern = c.block[blk::kTestPattern];
    const bool changed = pattern != applied[blk::kTestPattern];
    // A panel taken in this pass gives window 0 other output channels: a pattern that is on is
    // drawn again on every channel the window now uses.
    const bool newPanel = panelDiffers(next, applied);
    if (!changed && !(newPanel && pattern != 0))
        return;
    if (c331_SetPattern(pattern) == 0)
        return;
    writeLogMsg(LOG_WARNING, "test pattern refused with more than one window on");
    if (changed)
        next[blk::kTestPattern] = applied[blk::kTestPattern];
}

void c331_manage::stepEdids(const Change& c, uint8_t* next)
{
    // One input per pass (the lowest changed); the others stay pending in `next`. A timing the
    // input's receiver does not take is refused here: nothing is written, the record taken back.
    edid_refused_ = 0;
    edid_pending_ = false;
    bool flagged = false;
    for (int p = 0; p < kInputs; ++p) {
        const uint32_t off = blk::edidWidth(p);
        if (memcmp(c.block + off, applied + off, blk::kEdidTimingSize) == 0)
            continue;
        if (flagged) {
            memcpy(next + off, applied + off, blk::kEdidTimingSize);
            edid_pending_ = true;
            continue;
        }
        const uint16_t w = get16(c.block, off), h = get16(c.block, blk::edidHeight(p)), rate = get16(c.block, blk::edidRate(p));
        const std::string refused = edid::timingRefusal(w, h, rate, p);
        if (!refused.empty()) {
            writeLogMsg(LOG_WARNING, "custom EDID " + std::to_string(w) + "x" + std::to_string(h) + "@" +
                                         std::to_string(rate) + " of input " + std::to_string(p) + " refused: " + refused);
            memcpy(next + off, applied + off, blk::kEdidTimingSize);
            edid_refused_ |= uint8_t(1u << p);
            continue;
        }
        if (inputs())
            inputs()->requestCustomEdid(p);
        flagged = true;
    }
}

void c331_manage::stepAudio(const Change& c, uint8_t*)
{
    for (int w = 0; w < kWindows; ++w) {
        if (differs(c.block, applied, blk::window(w, win::kAudio))) {
            if (inputs())
                inputs()->audio_sel_req = 1;
            return;
        }
    }
}

void c331_manage::stepFpgaRequests(const Change& c, uint8_t*)
{
    for (const auto& r : DispatchTables::kFpgaRequests)
        if (differs(c.block, applied, r.field))
            raiseFpgaRequest(r.request);
}

void c331_manage::stepOsd(const Change& c, uint8_t*)
{
    if (!differs(c.block, applied, blk::kOsdMenu))
        return;
    const uint16_t on = get16(c.block, blk::kOsdMenu);
    vyrApi_OsdSet(0, on);
    if (on != 0)
        g_osd_update = 1;
}

// ---- irregular setters ----------------------------------------------------------------------------

bool c331_manage::applyBrightness(int value)
{
    if (value > 100) // the FPGA would show 100 while the block says more
        return false;
    c331_SetBrightness(50); // the wall's brightness is the FPGA's; the chip stays at 50
    QMutexLocker bri(&Utils::_bri_set_mutex);
    raiseFpgaRequest(&fpga_manage::bri_request);
    return true;
}

bool c331_manage::applyColourTemp(const uint8_t* b)
{
    // The chip takes a byte of each: a gain of 256 would switch its colour off.
    if (get16(b, blk::kColourTemp) > kColourModeMax || get16(b, blk::kColourRed) > kColourGainMax ||
        get16(b, blk::kColourGreen) > kColourGainMax || get16(b, blk::kColourBlue) > kColourGainMax)
        return false;
    return c331_SetColorTemp(int(uint32_t(b[blk::kColourTemp]) | uint32_t(b[blk::kColourBlue]) << 8 |
                                 uint32_t(b[blk::kColourGreen]) << 16 | uint32_t(b[blk::kColourRed]) << 24));
}

bool c331_manage::applyWinAttr(int w, uint16_t value, const uint8_t*)
{
    // The chip takes two mirror bits; a larger word kept in the block would make the next
    // layout check refuse the whole window set, and with it another writer's change.
    if (value > 3) {
        writeLogMsg(LOG_WARNING, "window " + std::to_string(w) + ": mirror " + std::to_string(value) + " refused");
        return false;
    }
    c331_SetWinAttr(char(w), value);
    return true;
}

bool c331_manage::applyWinOutput(int w, uint16_t value, const uint8_t*)
{
    c331_SetWinOutput(c331_fd, char(w), value);
    return true;
}

bool c331_manage::applyWinDbd(int w, uint16_t value, const uint8_t*)
{
    c331_SetWinDbdMode(c331_fd, char(w), value);
    return true;
}

int c331_manage::cropSourcePort(uint16_t idWord)
{
    const int port = idWord & 15;
    return port <= 5 ? port : -1;
}

bool c331_manage::applyWinSource(int w, uint16_t word, const uint8_t* b)
{
    int port;
    if (word & win::kSourceCrop) {
        const uint32_t index = word & 0xFF;
        const uint16_t id = index < kCropCount ? get16(b, blk::cropField(index, blk::crop::kId)) : 0;
        port = cropSourcePort(id);
        if (index >= kCropCount || !blk::crop::used(id) || port < 0) {
            writeLogMsg(LOG_WARNING, "window " + std::to_string(w) + ": crop entry " + std::to_string(index) +
                                         " is not usable, source kept");
            return false;
        }
    } else {
        // A plain source is an input id 0-5; anything else (a stray high byte) is refused whole.
        if (word > 5) {
            writeLogMsg(LOG_WARNING, "window " + std::to_string(w) + ": source word " + std::to_string(word) + " refused");
            return false;
        }
        port = word;
    }
    // The window's zoom changes with what it shows: one its tiles cannot draw past a channel seam
    // is refused as a layout is.
    const uint32_t rec = blk::windowRecord(uint32_t(w));
    _ImageWindowDef_st a;
    if (get16(b, rec + win::kState) != 0 && recordSourceArea(b, rec, a)) {
        const std::string dark = seamFault(pnl, a, get16(b, rec + win::kX) + pnl.xoffs, get16(b, rec + win::kY) + pnl.yoffs,
                                           get16(b, rec + win::kWidth), get16(b, rec + win::kHeight));
        if (!dark.empty()) {
            writeLogMsg(LOG_WARNING, "window " + std::to_string(w) + ": source word " + std::to_string(word) +
                                         " refused, " + dark);
            return false;
        }
    }
    if (word & win::kSourceCrop) {
        namespace crop = blk::crop;
        const uint32_t index = word & 0xFF;
        ST_RECT rect{get16(b, blk::cropField(index, crop::kX)), get16(b, blk::cropField(index, crop::kY)),
                     get16(b, blk::cropField(index, crop::kWidth)), get16(b, blk::cropField(index, crop::kHeight))};
        c331_SetInputsourceCrop(w, word);
        c331_SetCrop(char(w), 1, &rect);
    } else if (get16(applied, blk::window(w, win::kSource)) & win::kSourceCrop) {
        c331_SetCrop(char(w), 0, nullptr); // the crop was switched off
    }
    c331_SetInputsource(w, port);
    if (w == b[blk::kAudioWindow] && inputs())
        inputs()->audio_sel_req = 1;
    return true;
}

void c331_manage::rebuildWindows()
{
    vyrApi_initEnvC331();
    vyrApi_MultiWinChAlloc(1);
    vyrApi_MultiWinChInit();
    set_output(c331_fd);
}

void c331_manage::requestBringUp()
{
    // Identification and bring-up run again; what was applied stays known, so fields the page
    // thread has not saved yet are not applied (and the FPGA not reset) a second time.
    thread_state = 0;
}

bool c331_manage::waitLedParameterStep()
{
    // Waited for without the hand-over mutex, and only while the FPGA worker can end the step; a
    // bound covers an FPGA that stops answering in between.
    RacePause::at(RacePause::LedStepWait);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(led_wait_limit_ms);
    while (g_set_led_para.load() == 1) {
        if (!fpgaServesLedStep())
            return false;
        if (std::chrono::steady_clock::now() >= deadline) {
            writeLogMsg(LOG_WARNING, "LED parameter step of the FPGA did not end, panel set up anyway");
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

void c331_manage::serveOsdUpdate()
{
    if (g_osd_update.exchange(0) == 0)
        return;
    uint16_t ledW = 0, ledH = 0;
    if (VyrRamPara* store = VyrRamPara::p_vyrrampara_config) {
        PosixLock lock(c331_mutex);
        ledW = get16(store->view(), blk::kLedWidth);
        ledH = get16(store->view(), blk::kLedHeight);
    }
    get_json_omenu_para(VyrRamPara::kMenuFilePath, &g_osd_list);
    set_OSD_para(g_osd_list, *this, ledW, ledH);
}

void c331_manage::serveRequestBytes(const Change& c)
{
    // Diagnostic request byte: the lowest set bit names the one that runs.
    using Diagnostic = void (c331_manage::*)();
    static constexpr Diagnostic kDiagRequests[8] = {
        &c331_manage::input_slidebar,    &c331_manage::output_slidebar,   &c331_manage::disable_slidebar,
        &c331_manage::vbyone_rx_ch1_seq, &c331_manage::vbyone_rx_ch2_seq, &c331_manage::read_c331_b174bug,
        &c331_manage::requestBringUp,    &c331_manage::write_read_c331_b80_iacthstch5,
    };
    int bit = 0;
    for (Diagnostic run : kDiagRequests) {
        if (c.diag & (1u << bit++)) {
            (this->*run)();
            break;
        }
    }
    if (c.dump_param != 0)
        vyrDbg_c331_param(c.dump_param - 1);
    if (c.dump_group & 1)
        vyrDbg_c331_print_regGrp(0);
    if (c.sync_test & 1)
        sync_c331_device_test_input();
    else if (c.sync_test & 2)
        sync_c331_device_test_frame_lock();
}

void c331_manage::perPassUpkeep()
{
    if (control_word < 0 || pattern_flag != 0)
        return;
    load_hdmi();
    check_port_valid(c331_fd);
    if (osd_content_word) {
        update_osd(c331_fd);
        osd_content_word = 0;
    } else if (osd_attribute_word) {
        set_osd(c331_fd, 1);
        set_scroll(c331_fd);
        osd_attribute_word = 0;
    }
    // A menu reload asked for at bring-up must not wait for the next hand-over.
    serveOsdUpdate();
    check_input_port(c331_fd);
    for (int p = 0; p < kInputs; ++p) {
        if (PI_UPDATE[p] == 0 && port_refresh[p] == 0)
            continue;
        for (int w = 0; w < kWindows; ++w) {
            if (PM_INPUT[w] != p)
                continue;
            if (traceOn())
                printf("\n [c331_main]PI_UPDATE[%d]=%d   PI_ACT  HST=%4d  HW=%4d  VST=%4d  VW=%4d\n", p, PI_UPDATE[p],
                       PI_ACT[p][0], PI_ACT[p][1], PI_ACT[p][2], PI_ACT[p][3]);
            g_chg_input[w] = 3;
            set_output(c331_fd);
        }
        PI_UPDATE[p] = 0;
        port_refresh[p] = 0;
    }
}
