// The worker's change dispatch: compares the parameter block with what was last applied and calls
// a setter only for what differs; then the per-pass upkeep.
#include "scaler/c331_manage.h"

#include "base/bytes.h"
#include "base/delay.h"
#include "fpga/fpga_manage.h"
#include "base/global.h"
#include "video_chips/keltosource.h"
#include "base/logMsg.h"
#include "base/utils.h"
#include "params/vyrrampara.h"

#include <QMutexLocker>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <thread>

std::atomic<uint8_t> g_osd_update{0};

namespace {

constexpr uint32_t kPanelFields[] = {0x560, 0x562, 0x564, 0x584, 0x586};
constexpr int kWindows = 6;

uint32_t windowField(int w, uint32_t field) { return kWindowBase + kWindowSize * uint32_t(w) + field; }

bool fieldDiffers(const uint8_t* a, const uint8_t* b, uint32_t offset) { return getU16(a + offset) != getU16(b + offset); }

void raiseFpgaRequest(std::atomic<uint8_t> fpga_manage::*request)
{
    if (fpga_manage::p_fpga_manage)
        (fpga_manage::p_fpga_manage->*request) = 1;
}

// The enabled window records are packed into slots without gaps; a per-field setter addresses the
// slot, so when a disabled record lies between enabled ones a record number is not its slot.
bool recordsAreSlots(const uint8_t* block)
{
    bool gap = false;
    for (int w = 0; w < kWindows; ++w) {
        const bool shown = getU16(block + windowField(w, 0)) == 1;
        if (shown && gap)
            return false;
        gap |= !shown;
    }
    return true;
}

}

void c331_manage::c331managerdeal()
{
    VyrRamPara* store = VyrRamPara::p_vyrrampara_config;
    if (change_flag != 0 && store) {
        pthread_mutex_lock(&c331_mutex);
        if (change_flag != 0)
            dispatchChange(*store);
        pthread_mutex_unlock(&c331_mutex);
    }
    perPassUpkeep();
}

bool c331_manage::waitLedParameterStep()
{
    // The FPGA worker ends its LED-parameter step only while FPGA 0 answers; a bound keeps a down
    // FPGA from freezing this worker and every writer waiting on the hand-over mutex.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(led_wait_limit_ms);
    while (g_set_led_para.load() == 1) {
        if (std::chrono::steady_clock::now() >= deadline) {
            writeLogMsg(LOG_WARNING, "LED parameter step of the FPGA did not end, panel set up anyway");
            return false;
        }
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    return true;
}

void c331_manage::dispatchChange(VyrRamPara& store)
{
    const uint8_t* block = store.block;
    if (!applied_valid) {
        memcpy(applied, store.shadow, sizeof applied);
        applied_valid = true;
    }
    uint8_t* old = applied;
    // What this pass applies; entries the chip did not take keep their old value here.
    uint8_t next[kBlockSize];
    memcpy(next, block, sizeof next);
    const int fd = c331_fd;

    // 1. forced colour
    if (g_force_bkcolor.load() == 0)
        vyrApi_forceColorDisable(fd);

    // 2. panel
    bool panel = false;
    for (uint32_t off : kPanelFields)
        panel |= fieldDiffers(block, old, off);
    if (panel) {
        waitLedParameterStep();
        vyrApi_PnlInit2(store.u16(0x562), store.u16(0x564), store.u16(0x584), store.u16(0x586), store.u16(0x560));
        {
            QMutexLocker led(&Utils::_led_para_init_mutex);
            g_set_led_para = 2;
        }
        if (store.u16(0x84C) != 0)
            g_osd_update = 1;
    }

    // 3. picture controls
    if (fieldDiffers(block, old, 0x880)) {
        c331_SetBrightness(50); // the wall's brightness is the FPGA's; the chip stays at 50
        QMutexLocker bri(&Utils::_bri_set_mutex);
        raiseFpgaRequest(&fpga_manage::bri_request);
    }
    if (fieldDiffers(block, old, 0x882))
        c331_SetContrast(store.u16(0x882));
    if (fieldDiffers(block, old, 0x884))
        c331_SetSharpness(store.u16(0x884));
    if (fieldDiffers(block, old, 0x886))
        c331_SetSaturation(store.u16(0x886));
    if (memcmp(block + 0x888, old + 0x888, 8) != 0)
        c331_SetColorTemp(block[0x888] | block[0x88E] << 8 | block[0x88C] << 16 | block[0x88A] << 24);

    // 4. priorities
    for (int w = 0; w < kWindows; ++w) {
        const uint32_t off = 0x8A0 + 2 * w;
        if (!fieldDiffers(block, old, off))
            continue;
        if (traceOn())
            printf("DIFF REG CUSTOM_INFO_IMAGE%d_PRIORITY %04x==>%04x\r\n", w + 1, getU16(old + off), getU16(block + off));
        c331_SetWinPriority(w, getU16(block + off));
        c331_SetWinPriority1(fd);
    }

    // 5. window records
    dispatchWindows(store, next);

    // 6. fades: read by the window effects; long fades would hold the hand-over for minutes
    for (int w = 0; w < kWindows; ++w) {
        for (int dir = 0; dir < 2; ++dir) {
            const uint32_t off = 0xB00 + 4 * w + 2 * dir;
            if (!fieldDiffers(block, old, off))
                continue;
            if (traceOn())
                printf("DIFF REG win[%#x] reg:%x(%04x) %04x==>%04x\r\n", w, off - 0xB00, 0xB00, getU16(old + off), getU16(block + off));
            const int steps = std::min<int>(getU16(block + off), kMaxFadeSteps);
            (dir == 0 ? PM_WIN_FADE_IN : PM_WIN_FADE_OUT)[w] = steps;
        }
    }

    // 7. test pattern; a refused pattern is taken back out of the block so page and wall agree
    if (block[0x360] != old[0x360] && c331_SetPattern(block[0x360]) < 0) {
        writeLogMsg(LOG_WARNING, "test pattern refused with more than one window on");
        store.block[0x360] = old[0x360];
        next[0x360] = old[0x360];
    }

    // 8. input EDIDs: one input per pass, the others stay pending for the next passes
    bool edidPending = false;
    for (int p = 0; p < 6; ++p) {
        const uint32_t off = 0x380 + 6 * p;
        if (memcmp(block + off, old + off, 6) == 0)
            continue;
        if (edidPending) {
            memcpy(next + off, old + off, 6);
            continue;
        }
        if (keltosource::p_kelto_source) {
            keltosource::p_kelto_source->custom_edid_req[p] = 1;
            keltosource::p_kelto_source->custom_edid_written[p] = 0;
        }
        edidPending = true; // from here on: later inputs wait
    }
    const bool moreEdids = memcmp(next + 0x380, block + 0x380, 36) != 0;

    // 9. audio
    bool audio = false;
    for (int w = 0; w < kWindows; ++w)
        audio |= fieldDiffers(block, old, windowField(w, 20));
    if (audio && keltosource::p_kelto_source)
        keltosource::p_kelto_source->audio_sel_req = 1;

    // 10. FPGA output and LCD requests
    if (fieldDiffers(block, old, 0x844))
        raiseFpgaRequest(&fpga_manage::onoff_request);
    if (fieldDiffers(block, old, 0x566) || fieldDiffers(block, old, 0x568))
        raiseFpgaRequest(&fpga_manage::lcd_request);

    // 11. on-screen menu
    if (fieldDiffers(block, old, 0x84C)) {
        vyrApi_OsdSet(0, store.u16(0x84C));
        if (store.u16(0x84C) != 0)
            g_osd_update = 1;
    }

    memcpy(applied, next, sizeof applied);

    // 12. refresh and save
    store.test_signal(change_flag);
    change_flag = moreEdids ? 1 : 0;

    // 13. menu reload
    serveOsdUpdate();

    // 14-17. diagnostic request bytes
    serveRequestBytes(store);
}

void c331_manage::dispatchWindows(VyrRamPara& store, uint8_t* next)
{
    const uint8_t* block = store.block;
    const uint8_t* old = applied;
    const int fd = c331_fd;
    const bool slotsMatch = recordsAreSlots(block) && recordsAreSlots(old);
    for (int w = 0; w < kWindows; ++w) {
        for (uint32_t field = 0; field < kWindowSize; field += 2) {
            const uint32_t off = windowField(w, field);
            if (!fieldDiffers(block, old, off))
                continue;
            const uint16_t value = getU16(block + off);
            if (traceOn())
                printf("DIFF REG win[%#x] reg:%x %04x==>%04x\r\n", w, off - 0x880, getU16(old + off), value);
            const bool geometry = field == 0 || field == 10 || field == 12 || field == 14 || field == 16;
            const bool perWindow = field == 4 || field == 8 || field == 18 || field == 22;
            if (geometry || (perWindow && !slotsMatch)) {
                // The rebuild reads every window record, so nothing else of this step is needed.
                vyrApi_initEnvC331();
                vyrApi_MultiWinChAlloc(1);
                vyrApi_MultiWinChInit();
                set_output(fd);
                return;
            }
            switch (field) {
            case 4:
                c331_SetWinAttr(char(w), value);
                break;
            case 8:
                if (!dispatchSource(store, w, value))
                    putU16(next + off, getU16(old + off)); // keep the previous source
                break;
            case 18:
                c331_SetWinOutput(fd, char(w), value);
                break;
            case 22:
                c331_SetWinDbdMode(fd, char(w), value);
                break;
            default:
                break;
            }
        }
    }
}

int c331_manage::cropSourcePort(uint16_t idWord)
{
    const int port = idWord & 15;
    return port <= 5 ? port : -1;
}

bool c331_manage::dispatchSource(VyrRamPara& store, int w, uint16_t word)
{
    const uint8_t* block = store.block;
    const uint16_t before = getU16(applied + windowField(w, 8));
    int port;
    if (word & 0x8000) {
        const uint32_t index = word & 0xFF;
        const uint32_t entry = kCropBase + 10 * index;
        const uint16_t id = index < kCropCount ? getU16(block + entry) : 0;
        port = cropSourcePort(id);
        if (index >= kCropCount || !(id & 0x8000) || port < 0) {
            writeLogMsg(LOG_WARNING, "window " + std::to_string(w) + ": crop entry " + std::to_string(index) +
                                         " is not usable, source kept");
            return false;
        }
        ST_RECT rect{getU16(block + entry + 2), getU16(block + entry + 4), getU16(block + entry + 6), getU16(block + entry + 8)};
        c331_SetInputsourceCrop(w, word);
        c331_SetCrop(char(w), 1, &rect);
    } else {
        port = word & 0xFF;
        if (port > 5) {
            writeLogMsg(LOG_WARNING, "window " + std::to_string(w) + ": source " + std::to_string(port) + " refused");
            return false;
        }
        if (before & 0x8000) {
            const uint32_t r0 = windowField(0, 0);
            ST_RECT rect{getU16(block + r0 + 10), getU16(block + r0 + 12), getU16(block + r0 + 14), getU16(block + r0 + 16)};
            c331_SetCrop(char(w), 0, &rect);
        }
    }
    c331_SetInputsource(w, port);
    if (w == block[0x840] && keltosource::p_kelto_source)
        keltosource::p_kelto_source->audio_sel_req = 1;
    return true;
}

void c331_manage::serveOsdUpdate()
{
    if (g_osd_update.exchange(0) == 0)
        return;
    // The menu file reader comes with the on-screen menu; until then the request is only taken.
}

void c331_manage::serveRequestBytes(VyrRamPara& store)
{
    uint8_t* image = store.image;
    if (const uint8_t bits = image[0x022]) {
        // Only the lowest requested diagnostic runs; the byte is cleared whole.
        if (bits & 0x01)
            input_slidebar();
        else if (bits & 0x02)
            output_slidebar();
        else if (bits & 0x04)
            disable_slidebar();
        else if (bits & 0x08)
            vbyone_rx_ch1_seq();
        else if (bits & 0x10)
            vbyone_rx_ch2_seq();
        else if (bits & 0x20)
            read_c331_b174bug();
        else if (bits & 0x40) {
            thread_state = 0;
            applied_valid = false; // the bring-up programs everything again
        } else if (bits & 0x80)
            write_read_c331_b80_iacthstch5();
        image[0x022] = 0;
    }
    if (const uint8_t n = image[0x023]) {
        vyrDbg_c331_param(n - 1);
        image[0x023] = 0;
    }
    if (const uint8_t bits = image[0x024]) {
        if (bits & 1)
            vyrDbg_c331_print_regGrp(0);
        image[0x024] = 0;
    }
    if (image[0x021] & 1) {
        sync_c331_device_test_input();
        image[0x021] = 0;
    } else if (image[0x021] & 2) {
        sync_c331_device_test_frame_lock();
        image[0x021] = 0;
    }
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
    for (int p = 0; p < 6; ++p) {
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
