#include "scaler/c331_manage.h"
#include "base/named_thread.h"

#include "scaler/c331_drv.h"
#include "base/delay.h"
#include "base/global.h"
#include "base/logMsg.h"
#include "base/posix_lock.h"
#include "params/vyrrampara.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <cstdio>
#include <string>

c331_manage* c331_manage::p_c331_manage = nullptr;

namespace {

// Published once the object is complete, so threads started earlier never see a half-built manager.
std::atomic<c331_manage*> published{nullptr};

constexpr uint32_t kIdRegister = 0xB20801;
constexpr uint32_t kChipId = 0x24;
constexpr uint32_t kBadIdPauseMs = 50;   // a missing chip must not keep the CPU and the bus busy
constexpr uint32_t kBadIdTraceEvery = 20; // about once a second
// Hand-overs wake the worker at once; between them the upkeep only looks for input changes, which
// take far longer than 100 ms (idle_wait_ms) to settle (a receiver locks in a second or more), so
// an idle box wakes 10 times a second, not 100. The panel counts its 10 ms ticks in bursts every
// 100 ms, 9 to 11 at a time as its timer fires a little early or late against the clock: the burst
// that takes the count 9 past the end of a pass ends the wait, so the worker wakes with the panel
// rather than on a timer of its own. The 100 ms stay the bound (a panel that does not tick yet,
// during start-up).
constexpr uint32_t kIdleTicks = 9;
constexpr int kOutputChannels = 8;

c331_manage* publish(c331_manage* manager)
{
    static const int kLayoutWindows[10] = {1, 2, 3, 3, 4, 4, 5, 5, 6, 6};
    c331_manage::p_c331_manage = manager;
    for (int k = 0; k < 10; ++k)
        manager->mwin_layouts[k].wincnt = kLayoutWindows[k];
    manager->change_flag = 0;
    manager->pattern_flag = 0;
    manager->control_word = 0;
    ScalerHandOver::publish(&manager->handOverPoint());
    ScalerPorts::publishPorts(manager);
    published.store(manager, std::memory_order_release);
    return manager;
}

}

c331_manage::c331_manage()
{
    writeLogMsg(LOG_INFO, "====c331_manage::c331_manage()=====");
    pthread_mutex_init(&c331_mutex, nullptr);
    hand_over_ = {&c331_mutex, &change_flag, [](void* owner) { static_cast<c331_manage*>(owner)->wakeWorker(); },
                  [](void* owner) { return static_cast<c331_manage*>(owner)->thread_state.load() == 6; }, this};
    drv = new c331_drv();
    font_presence = 0;
}

c331_manage* c331_manage::pInstance()
{
    c331_manage* manager = published.load(std::memory_order_acquire);
    if (!manager) {
        manager = publish(new c331_manage());
        manager->initialize();
    }
    return manager;
}

c331_manage* c331_manage::instanceWithoutWorker()
{
    c331_manage* manager = published.load(std::memory_order_acquire);
    if (!manager) {
        manager = publish(new c331_manage());
        manager->openChip();
    }
    return manager;
}

void c331_manage::openChip()
{
    c331_fd = drv->initialize();
    if (traceOn())
        printf("\n c331_fd = %02x \n", c331_fd);
    const uint32_t id = drv->read_C331(c331_fd, kIdRegister, 0);
    if (traceOn())
        printf("\n c331_id = %02x \n", id);
}

int c331_manage::initialize()
{
    openChip();
    startWorker();
    if (!worker_started_) {
        if (traceOn())
            printf("create manage thread failed");
        writeLogMsg(LOG_ERROR, "create check source thread failed");
        return 255;
    }
    // Without the device the worker still runs, paced by its identification pause.
    return c331_fd < 0 ? 255 : 0;
}

void c331_manage::startWorker()
{
    if (worker_started_)
        return;
    if (!startNamedThread(&worker_, c331manageThread, this, "c331_manage"))
        return;
    pthread_detach(worker_);
    worker_started_ = true;
}

void c331_manage::Sleep(uint32_t milliseconds)
{
    Delay::ms(milliseconds);
}

void c331_manage::wakeWorker()
{
    {
        std::lock_guard<std::mutex> lock(wake_mutex_);
        wake_pending_ = true;
    }
    wake_.notify_one();
}

void* c331_manage::c331manageThread(void* arg)
{
    c331_manage* self = static_cast<c331_manage*>(arg);
    if (!self)
        return nullptr;
    for (;;) {
        self->runOnce();
        // Idle until a hand-over or the panel's tick wakes us, at most one pacing period.
        std::unique_lock<std::mutex> lock(self->wake_mutex_);
        // A refused arming means a burst came since the reckoning: the next pass is due now.
        if (self->idle_alarm_.arm(G_timeTicks.load() + kIdleTicks))
            self->wake_.wait_for(lock, std::chrono::milliseconds(self->idle_wait_ms.load()),
                                 [self] { return self->wake_pending_; });
        self->idle_alarm_.disarm();
        self->wake_pending_ = false;
    }
    return nullptr;
}

void c331_manage::runOnce()
{
    if (thread_state < 5)
        identify();
    else if (thread_state == 5)
        bringUp();
    else
        c331managerdeal();
}

void c331_manage::identify()
{
    const uint32_t id = drv->read_C331(c331_fd, kIdRegister, 0);
    if (id == kChipId) {
        ++thread_state;
        bad_id_reads_ = 0;
        if (traceOn())
            printf("\n ok c331_id = 0x24x ");
        return;
    }
    // Good reads count on across a bad one; only the pace and the noise are limited.
    if (bad_id_reads_++ == 0)
        writeLogMsg(LOG_ERROR, "scaler chip not identified, id " + std::to_string(id));
    if (traceOn() && bad_id_reads_ % kBadIdTraceEvery == 1)
        printf("\n error c331_id = %02x \n", id);
    Sleep(kBadIdPauseMs);
}

void c331_manage::bringUp()
{
    const int fd = c331_fd;
    takeBackStoredPicture();
    // The block values are taken under the hand-over mutex, so a writer's half-done change is not read.
    uint16_t led[5] = {};
    uint16_t osd = 0, contrast = 0, sharpness = 0, saturation = 0;
    uint32_t colourTemp = 0;
    if (VyrRamPara* store = VyrRamPara::p_vyrrampara_config) {
        PosixLock lock(c331_mutex);
        uint8_t b[kBlockSize]; // what the box applied, not a tool's write before its apply
        store->appliedCopy(b);
        const uint32_t ledFields[5] = {blk::kLedWidth, blk::kLedHeight, blk::kOutput1Width, blk::kOutput1Height,
                                       blk::kSpliceMode};
        for (int i = 0; i < 5; ++i)
            led[i] = blk::get16(b, ledFields[i]);
        osd = blk::get16(b, blk::kOsdMenu);
        contrast = blk::get16(b, blk::kContrast);
        sharpness = blk::get16(b, blk::kSharpness);
        saturation = blk::get16(b, blk::kSaturation);
        colourTemp = uint32_t(b[blk::kColourTemp]) | uint32_t(b[blk::kColourBlue]) << 8 |
                     uint32_t(b[blk::kColourGreen]) << 16 | uint32_t(b[blk::kColourRed]) << 24;
        wincnt = 0;
        for (uint32_t w = 0; w < blk::kScalerWindows; ++w)
            wincnt += blk::get16(b, blk::window(w, blk::win::kState)) != 0;
    }

    load_system_param();
    define_param();
    drv->init_reg_acc_param();
    write_initial_setting(1);
    set_rtct(fd, 1);
    load_param();
    if (osd == 1)
        g_osd_update = 1;
    check_input_port(fd);
    load_char();
    read_c331_font(fd);
    update_font(fd);
    if (g_force_bkcolor.load() == 1) {
        for (int n = 0; n < kOutputChannels; ++n) {
            drv->write_C331(fd, 0x084903, 0x00FF00, 16 * n);
            drv->write_C331(fd, 0x084801, 1, 16 * n);
        }
    }
    if (vyrApi_PnlInit2(led[0], led[1], led[2], led[3], led[4]) != 0)
        showFactoryScreen(led);
    c331_SetBrightness(50);
    c331_SetContrast(contrast);
    c331_SetSharpness(sharpness);
    c331_SetColorTemp(int(colourTemp));
    c331_SetSaturation(saturation);
    set_output(fd);
    thread_state = 6;
    g_fpga_c331_start = 1;
    ScalerHandOver::broughtUp();
}


void c331_manage::showFactoryScreen(const uint16_t* stored)
{
    VyrRamPara* store = VyrRamPara::p_vyrrampara_config;
    // Image byte 2 + i holds block byte 0x300 + i.
    auto factory = [](uint32_t f) { return blk::get16(default_para_ramlist + 2, f - kPersistStart); };
    // Older programs saved a ribbon or tall wall with its splice cleared: a screen another splice
    // takes is kept in the block, sizes and windows, and comes back when its splice is set again;
    // the factory screen only stands in on the chip. A screen no splice takes (a damaged file)
    // gives way to the factory screen, which the block then holds.
    const bool kept = spliceTakes(stored);
    const std::string size = std::to_string(stored[0]) + " x " + std::to_string(stored[1]);
    writeLogMsg(LOG_WARNING, kept ? "stored LED screen " + size + " kept for its splice mode, the factory screen is "
                                                                      "shown until one is set"
                                  : "stored LED screen " + size + " refused at start, the factory screen is shown");
    keep_stored_screen_ = kept; // until a panel is set up from the block
    vyrApi_PnlInit2(factory(blk::kLedWidth), factory(blk::kLedHeight), factory(blk::kOutput1Width),
                    factory(blk::kOutput1Height), factory(blk::kSpliceMode));
    if (!store || kept)
        return;
    {
        PosixLock lock(c331_mutex);
        // The first dispatch compares with these: the panel is not set up (nor the FPGA reset) again.
        if (!applied_valid) {
            memcpy(applied, store->shadow, sizeof applied);
            applied_valid = true;
        }
        for (uint32_t f : kScreenFields) {
            store->setBoxWord(f, factory(f));
            blk::put16(applied, f, factory(f));
        }
    }
    store->test_signal(1);
}

bool c331_manage::spliceTakes(const uint16_t* stored)
{
    for (int splice = SPLICE_HV; splice <= SPLICE_CP2TO1; ++splice) {
        ST_PANEL plan;
        if (planPanel(stored[0], stored[1], stored[2], stored[3], splice, plan, false).empty() &&
            panelSeamFault(plan).empty())
            return true;
    }
    return false;
}

void ScalerCallLog::record(const char* name, std::initializer_list<int> args)
{
    if (nesting > 0)
        return;
    std::lock_guard<std::mutex> lock(mutex_);
    Entry& e = ring_[next_];
    e.name = name;
    e.argc = 0;
    for (int a : args)
        if (e.argc < kMaxArgs)
            e.args[e.argc++] = a;
    next_ = (next_ + 1) % kCapacity;
    count_ = std::min(count_ + 1, kCapacity);
}

std::vector<std::string> ScalerCallLog::calls() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<std::string> out;
    out.reserve(count_);
    for (size_t i = 0; i < count_; ++i) {
        const Entry& e = ring_[(next_ + kCapacity - count_ + i) % kCapacity];
        std::string text = std::string(e.name) + "(";
        for (int k = 0; k < e.argc; ++k)
            text += (k ? "," : "") + std::to_string(e.args[k]);
        out.push_back(text + ")");
    }
    return out;
}

void ScalerCallLog::clear()
{
    std::lock_guard<std::mutex> lock(mutex_);
    count_ = 0;
    next_ = 0;
}
