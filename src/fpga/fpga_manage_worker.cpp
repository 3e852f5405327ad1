// The FPGA worker: start-up, the pass, the request bytes other workers raise and the
// LED-parameter handshake with the scaler.
#include "fpga/fpga_manage.h"
#include "base/named_thread.h"

#include "base/delay.h"
#include "base/global.h"
#include "base/logMsg.h"
#include "base/posix_lock.h"
#include "base/race_pause.h"
#include "fpga/rcv_recovery_file.h"
#include "base/utils.h"
#include "params/block_layout.h"
#include "params/vyrrampara.h"

#include <QMutexLocker>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>

namespace {

// Every limit of the worker is counted in 10 ms ticks: while anything is in progress one pass a
// tick is enough; events wake it at once. Idle and up, it sleeps until its next periodic duty
// (the link watchdog every 10 ticks bounds that sleep, and with it the interrupt poll).
constexpr uint32_t kTickMs = 10;
constexpr uint32_t kIdleTicksMax = 10;
constexpr uint32_t kStartPauseMs = 2000;
constexpr uint32_t kLedBlankTicks = 11;
constexpr uint32_t kLedRestoreTicks = 31;

void* fpgamanageThread(void* arg)
{
    static_cast<fpga_manage*>(arg)->worker_loop();
    return nullptr;
}

// A request changes hands under the mutex its writers set it under: the system mutex for the LCD
// and output requests, Utils::_bri_set_mutex for the brightness.
bool takeRequest(std::atomic<uint8_t>& request, QMutex& mutex = Utils::_system_mutex)
{
    if (!request.load())
        return false;
    QMutexLocker lock(&mutex);
    return request.exchange(0) != 0;
}

void raiseAgain(std::atomic<uint8_t>& request, QMutex& mutex = Utils::_system_mutex)
{
    QMutexLocker lock(&mutex);
    request = 1;
}

// The reader comes with the manager; both card folders must exist before any job lists them.
void prepareFolders(fpga_manage* m)
{
    m->rcvrecovery = new rcvRecovery();
    m->rcvrecovery->check_file_dir(QStringLiteral("/data/smartmapping"));
    m->rcvrecovery->check_file_dir(QStringLiteral("/data/rcvrecovery"));
}

}

fpga_manage* fpga_manage::pInstance()
{
    if (!p_fpga_manage) {
        p_fpga_manage = new fpga_manage();
        prepareFolders(p_fpga_manage);
        if (p_fpga_manage->initialize() != 0)
            writeLogMsg(LOG_ERROR, "FPGA manager without its worker: the FPGA link is unavailable");
    }
    return p_fpga_manage;
}

fpga_manage* fpga_manage::instanceWithoutWorker()
{
    if (!p_fpga_manage) {
        p_fpga_manage = new fpga_manage();
        prepareFolders(p_fpga_manage);
        p_fpga_manage->prepare();
    }
    return p_fpga_manage;
}

int fpga_manage::prepare()
{
    const int result = setupWindow();
    softinit();
    Delay::ms(kStartPauseMs);
    g_fpga_c331_start = 0;
    return result;
}

// Without the window or FPGA 0's device there is nothing to drive: no thread then.
int fpga_manage::initialize()
{
    if (prepare() != 0 || !window || !spi_fpga[0]) {
        writeLogMsg(LOG_ERROR, "FPGA access set-up failed, FPGA worker not started");
        return 255;
    }
    if (worker_started)
        return 0;
    if (!startNamedThread(&worker_thread, fpgamanageThread, this, "fpga_manage")) {
        writeLogMsg(LOG_ERROR, "create check source thread failed");
        return 255;
    }
    worker_started = true;
    return 0;
}

void fpga_manage::worker_loop()
{
    std::unique_lock<std::mutex> lock(wake_mutex);
    while (!stop_flag) {
        wake_flag = false;
        lock.unlock();
        const uint32_t passTick = G_timeTicks.load();
        runOnce();
        uint32_t due = 0;
        const bool idle = next_due(passTick, &due);
        lock.lock();
        const auto woken = [this] { return wake_flag || stop_flag; };
        if (!idle) {
            wake_cv.wait_for(lock, std::chrono::milliseconds(kTickMs), woken);
            continue;
        }
        // The tick the duty waits for comes in the panel's next burst of ticks: its alarm wakes
        // the worker then. The time limit only serves a panel that does not tick.
        RacePause::at(RacePause::BeforeTickAlarm);
        if (tick_alarm.arm(due))
            wake_cv.wait_for(lock, TickAlarm::limit(due), woken);
        tick_alarm.disarm();
    }
}

void fpga_manage::wake()
{
    fpga_manage* m = p_fpga_manage;
    if (!m)
        return;
    {
        std::lock_guard<std::mutex> lock(m->wake_mutex);
        m->wake_flag = true;
    }
    m->wake_cv.notify_one();
}

bool fpga_manage::requestLedParameterStep()
{
    fpga_manage* fpga = p_fpga_manage;
    if (!fpga || fpga->get_fpga_status() != 1)
        return false;
    {
        QMutexLocker lock(&Utils::_led_para_init_mutex);
        g_set_led_para = 1;
        g_set_led_setup = 0;
    }
    wake();
    return true;
}

void fpga_manage::stop_worker()
{
    if (!worker_started)
        return;
    {
        std::lock_guard<std::mutex> lock(wake_mutex);
        stop_flag = true;
    }
    wake_cv.notify_one();
    pthread_join(worker_thread, nullptr);
    worker_started = false;
}

bool fpga_manage::busy()
{
    if (rst_pending[0].load() || !get_fpga_status())
        return true;
    if (lcd_request.load() || bri_request.load() || onoff_request.load() || g_set_led_para.load() != 0)
        return true;
    const uint8_t job = g_send_para[0].load();
    if (job >= 1 && job <= 6)
        return true;
    // A PC frame or a card reply in flight, the brightness record to reload, an upgrade.
    if (pass_pending.load() || pc_cmd_valid.load() || bri_reload.load() || g_usb_grade.load())
        return true;
    PosixLock lock(pass_mutex); // the transports' interrupt service writes the wait states
    return change_word(36) != 0 || change_word(42) != 0;
}

bool fpga_manage::next_due(uint32_t passTick, uint32_t* due)
{
    if (g_fpga_c331_start.load() == 0 || !clock_ready() || busy())
        return false;
    uint32_t next = passTick + kIdleTicksMax;
    next = TickAlarm::earlier(next, change_word(3) + kWatchdogTicks);
    next = TickAlarm::earlier(next, readtime_ticks.load() + kClockReadTicks);
    if (bri_task_enable.load())
        next = TickAlarm::earlier(next, bri_stamp + kBrightnessTaskTicks);
    // A duty the pass left undone (FPGA 0 down) is looked at again on the next tick, not at once.
    *due = TickAlarm::later(next, passTick + 1);
    return true;
}

void fpga_manage::softinit()
{
    const uint32_t now = G_timeTicks.load();
    for (int f = 0; f < 2; ++f) {
        set_change_word(3 + f, now);  // link watchdog
        set_change_word(32 + f, now); // bring-up
        set_change_word(40 + f, now); // pass-through wait
        set_change_word(47 + f, now); // status watch
        set_change_word(36 + f, 0);
        set_change_word(42 + f, 0);
    }
    bri_stamp = now;
    Power_ctrl_init();
    // Controller version 1.17.0.0 and the PHY status as the PC tools read them.
    const uint8_t version[4] = {1, 17, 0, 0};
    memcpy(MCU_RAM_CMD + 24, version, sizeof version);
    memset(MCU_RAM_CMD + 30, 0, 4);
    MCU_RAM_CMD[28] = 0xFF;
    MCU_RAM_CMD[29] = 1;
    MCU_RAM_EXTEND[49] = 0x9F;
    MCU_RAM_EXTEND[50] = 0x1F;
    g_send_para[0] = 0;
    g_send_para[1] = 255;
    g_send_para[6] = 0;
}

void fpga_manage::runOnce()
{
    if (g_fpga_c331_start.load() == 0)
        return;
    if (g_usb_grade.load() != 0)
        usb_upgrade_manage_deal(nullptr);
    else
        fpga_manage_deal();
}

void fpga_manage::fpga_manage_deal()
{
    check_fpga_rst();
    const bool clock = clock_ready();
    if (clock)
        power_up_fpga_start(1, 0);
    if (clock) {
        PosixLock lock(pass_mutex);
        reg_IRQ_Dealwith(0, 0);
        pass_merge_timeout();
    }
    if (clock)
        power_up_check_fpga_status(0);

    // Taken before the apply: a request raised while it runs is served by the next pass.
    if (takeRequest(lcd_request) && set_fpga_lcd() != 1)
        raiseAgain(lcd_request);
    if (takeRequest(bri_request, Utils::_bri_set_mutex) && set_fpga_bri_val() != 1)
        raiseAgain(bri_request, Utils::_bri_set_mutex);
    if (g_set_led_para.load() != 0)
        set_led_para_deal();
    Record_Time_Deal();

    switch (g_send_para[0].load()) {
    case 1: SmartMapping_deal(); break;
    case 3: save_para_deal(); break;
    case 4: mapping_enable_deal(); break;
    case 2: rcv_recovery_check_deal(2); break;
    case 5: rcv_recovery_check_deal(0); break;
    case 6: rcv_recovery_check_deal(1); break;
    default: Check_search_card(); break;
    }

    if (onoff_request.load() == 1 && takeRequest(onoff_request) && set_output_status() != 1)
        raiseAgain(onoff_request);
}

// Not while a reset is pending: requests and jobs served then would reach a held FPGA and be lost.
int fpga_manage::get_fpga_status()
{
    return fpgaUp(0) && vbo_step[0].load() == VboStep::Up && status_step[0].load() == StatusStep::Up &&
                   !rst_pending[0].load() && !(reg_cached(0, FpgaReg::ScreenControl) & 0x08)
               ? 1
               : 0;
}

int fpga_manage::get_wlan_state()
{
    if (reg_cached(0, FpgaReg::State) != FpgaReg::StateUp)
        return 0;
    read_from_register(FpgaReg::PortLinksLow, 0);
    read_from_register(FpgaReg::PortLinksHigh, 0);
    return reg_cached(0, FpgaReg::PortLinksHigh) << 8 | reg_cached(0, FpgaReg::PortLinksLow);
}

namespace {
std::atomic<bool (*)()> clockReady{nullptr};
}

void fpga_manage::set_clock_ready(bool (*ready)())
{
    clockReady = ready;
}

bool fpga_manage::clock_ready()
{
    bool (*ready)() = clockReady.load();
    return ready && ready();
}

uint8_t fpga_manage::reg_cached(int fpga, int reg)
{
    PosixLock lock(reg_mutex);
    return MCU_REG_func[fpga][reg];
}

// ---- request hand-overs ----

int fpga_manage::set_fpga_lcd()
{
    if (!get_fpga_status())
        return 0;
    R58_mcu_set_net_para(0);
    uint8_t image[kRamSize];
    {
        std::lock_guard<std::mutex> lock(image_mutex);
        memcpy(image, MCU_RAM_PARA_func[0], sizeof image);
    }
    write_fpga_ram(image, 0, sizeof image, 1, 0);
    write_to_register(FpgaReg::Apply, 0x01, 0x01, 0);
    return 1;
}

int fpga_manage::set_fpga_bri_val()
{
    if (!get_fpga_status())
        return 0;
    return serve_brightness(true); // its request is already taken
}

int fpga_manage::set_output_status()
{
    if (!get_fpga_status())
        return 0;
    // What the box applied, read under the hand-over (a tool's recall copies it with the mode).
    // The write-back into the block is made only if no recall replaced the word in between.
    VyrRamPara* store = VyrRamPara::p_vyrrampara_config;
    const uint16_t read = store ? store->appliedWord(blk::kBlackScreen) : 0;
    RacePause::at(RacePause::BlackScreenWriteBack);
    write_to_register(FpgaReg::ScreenControl, 0x04, read != 0 ? 0x04 : 0x00, 0, &read);
    return 1;
}

void fpga_manage::SCREEN_fpgactrl_status(int status)
{
    switch (status) {
    case 0: write_to_register(FpgaReg::ScreenControl, 0x04, 0x04, 0); break;
    case 1: write_to_register(FpgaReg::ScreenControl, 0x04, 0x00, 0); break;
    case 2: write_to_register(FpgaReg::ScreenControl, 0x02, 0x02, 0); break;
    case 3: write_to_register(FpgaReg::ScreenControl, 0x02, 0x00, 0); break;
    case 4: write_to_register(FpgaReg::Control, 0x20, 0x20, 0); break;
    case 5: write_to_register(FpgaReg::Control, 0x20, 0x00, 0); break;
    case 7: write_to_register(FpgaReg::Control23, 0x01, 0x00, 0); break;
    case 8: write_to_register(FpgaReg::Control23, 0x01, 0x01, 0); break;
    case 9: read_from_register(FpgaReg::Status, 0); break;
    default: break;
    }
}

void fpga_manage::SCREEN_fpgactrl_status2(int value, int fpga)
{
    switch (value) {
    case 0: write_to_register(FpgaReg::ScreenControl, 0x04, 0x04, fpga); break;
    case 4: write_to_register(FpgaReg::Control, 0x20, 0x20, fpga); break;
    case 10: write_to_register(FpgaReg::Control23, 0x08, 0x08, fpga); break;
    case 11: write_to_register(FpgaReg::Control23, 0x08, 0x00, fpga); break;
    default: break;
    }
}

// ---- LED-parameter handshake ----

// Register writes happen outside the handshake mutex (they may take the scaler's mutex, which
// comes first in the lock order); a step only advances when no writer restarted it meanwhile.
void fpga_manage::set_led_para_deal()
{
    if (!get_fpga_status())
        return;
    uint8_t para, setup;
    {
        QMutexLocker lock(&Utils::_led_para_init_mutex);
        para = g_set_led_para.load();
        setup = g_set_led_setup.load();
    }
    auto advance = [&](uint8_t nextSetup, uint8_t nextPara) {
        QMutexLocker lock(&Utils::_led_para_init_mutex);
        if (g_set_led_para.load() != para || g_set_led_setup.load() != setup)
            return;
        g_set_led_setup = nextSetup;
        g_set_led_para = nextPara;
        led_para_stamp = G_timeTicks.load();
    };
    if (para == 1) {
        if (setup == 0) {
            SCREEN_fpgactrl_status(0);
            advance(1, 1);
        } else if (setup == 1 && Utils::getTimeSpace(led_para_stamp) >= kLedBlankTicks) {
            SCREEN_fpgactrl_status(5);
            advance(2, 1);
        } else if (setup == 2 && Utils::getTimeSpace(led_para_stamp) >= kLedRestoreTicks) {
            advance(0, 0);
        }
    } else if (para == 2) {
        // The scaler re-initialised the panel: bring FPGA 0 up again on the new canvas.
        advance(0, 0);
        hold_in_reset(0);
    }
}
