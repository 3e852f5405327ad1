// The FPGA worker: start-up, the pass, the request bytes other workers raise, the LED-parameter
// handshake with the scaler and the idle upkeep between card jobs.
#include "fpga_manage.h"

#include "delay.h"
#include "global.h"
#include "keltosource.h"
#include "logMsg.h"
#include "rcv_recovery_file.h"
#include "utils.h"
#include "vyrrampara.h"

#include <QMutexLocker>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>

namespace {

// A pass costs little; pacing it at about 1 ms keeps the box idle and still answers in time.
constexpr auto kPassPause = std::chrono::milliseconds(1);
constexpr uint32_t kStartPauseMs = 2000;
constexpr uint32_t kLedBlankTicks = 11;
constexpr uint32_t kLedRestoreTicks = 31;
constexpr uint32_t kClockReadTicks = 26;
constexpr uint32_t kPcCommandTicks = 80;

bool clockReady()
{
    const keltosource* source = keltosource::p_kelto_source;
    return source && source->clock_state[0].load() == 2;
}

uint8_t cached(fpga_manage& m, int fpga, int reg)
{
    pthread_mutex_lock(&m.reg_mutex);
    const uint8_t v = m.MCU_REG_func[fpga][reg];
    pthread_mutex_unlock(&m.reg_mutex);
    return v;
}

// The job block is the pages' too: a job that cannot run yet ends at once, so no page waits for it.
void endJob(const char* what)
{
    static std::atomic<bool> noted{false};
    if (!noted.exchange(true))
        writeLogMsg(LOG_WARNING, std::string("receiving-card job not available yet: ") + what);
    g_send_para[1] = 0;
    g_send_para[0] = 0;
}

void* fpgamanageThread(void* arg)
{
    fpga_manage* self = static_cast<fpga_manage*>(arg);
    for (;;) {
        self->runOnce();
        std::this_thread::sleep_for(kPassPause);
    }
    return nullptr;
}

}

// The reader comes with the manager; both card folders must exist before any job lists them.
static void prepareFolders(fpga_manage* m)
{
    m->rcvrecovery = new rcvRecovery();
    m->rcvrecovery->check_file_dir(QStringLiteral("/data/smartmapping"));
    m->rcvrecovery->check_file_dir(QStringLiteral("/data/rcvrecovery"));
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
    if (pthread_create(&worker_thread, nullptr, fpgamanageThread, this) != 0) {
        writeLogMsg(LOG_ERROR, "create check source thread failed");
        return 255;
    }
    pthread_setname_np(worker_thread, "fpga_manage");
    pthread_detach(worker_thread);
    worker_started = true;
    return 0;
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
    const bool clock = clockReady();
    if (clock)
        power_up_fpga_start(1, 0);
    pthread_mutex_lock(&pass_mutex);
    if (clock)
        reg_IRQ_Dealwith(0, 0);
    pthread_mutex_unlock(&pass_mutex);
    if (clock)
        power_up_check_fpga_status(0);

    if (lcd_request.load() && set_fpga_lcd() == 1) {
        QMutexLocker lock(&Utils::_system_mutex);
        lcd_request = 0;
    }
    // The apply reads the request to tell a block change from a level: clear it only afterwards.
    if (bri_request.load() && set_fpga_bri_val() == 1) {
        QMutexLocker lock(&Utils::_bri_set_mutex);
        bri_request = 0;
    }
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

    if (onoff_request.load() == 1 && set_output_status() == 1) {
        QMutexLocker lock(&Utils::_system_mutex);
        onoff_request = 0;
    }
}

int fpga_manage::get_fpga_status()
{
    return fpgaUp(0) && vbo_step[0].load() == 7 && status_step[0].load() == 18 && !(cached(*this, 0, 0) & 0x08) ? 1 : 0;
}

int fpga_manage::get_wlan_state()
{
    if (cached(*this, 0, 80) != 3)
        return 0;
    read_from_register(128, 0);
    read_from_register(144, 0);
    return cached(*this, 0, 144) << 8 | cached(*this, 0, 128);
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
    write_to_register(2, 0x01, 0x01, 0);
    return 1;
}

int fpga_manage::set_fpga_bri_val()
{
    if (!get_fpga_status())
        return 0;
    return Brightness_hand_dealwith(1);
}

int fpga_manage::set_output_status()
{
    if (!get_fpga_status())
        return 0;
    const VyrRamPara* store = VyrRamPara::p_vyrrampara_config;
    SCREEN_fpgactrl_status(store && store->u16(0x844) != 0 ? 0 : 1);
    return 1;
}

void fpga_manage::SCREEN_fpgactrl_status(int status)
{
    switch (status) {
    case 0: write_to_register(0, 0x04, 0x04, 0); break;
    case 1: write_to_register(0, 0x04, 0x00, 0); break;
    case 2: write_to_register(0, 0x02, 0x02, 0); break;
    case 3: write_to_register(0, 0x02, 0x00, 0); break;
    case 4: write_to_register(3, 0x20, 0x20, 0); break;
    case 5: write_to_register(3, 0x20, 0x00, 0); break;
    case 7: write_to_register(23, 0x01, 0x00, 0); break;
    case 8: write_to_register(23, 0x01, 0x01, 0); break;
    case 9: read_from_register(22, 0); break;
    default: break;
    }
}

void fpga_manage::SCREEN_fpgactrl_status2(int value, int fpga)
{
    switch (value) {
    case 0: write_to_register(0, 0x04, 0x04, fpga); break;
    case 4: write_to_register(3, 0x20, 0x20, fpga); break;
    case 10: write_to_register(23, 0x08, 0x08, fpga); break;
    case 11: write_to_register(23, 0x08, 0x00, fpga); break;
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

// ---- idle upkeep ----

void fpga_manage::Record_Time_Deal()
{
    if (Utils::getTimeSpace(readtime_ticks.load()) < kClockReadTicks || !get_fpga_status())
        return;
    TimeRealType now = {};
    IT8563WE_Get(&now);
    {
        std::lock_guard<std::mutex> lock(onoff_mutex);
        now.weekday = time_now.weekday;
        time_now = now;
    }
    readtime_ticks = G_timeTicks.load();
}

int fpga_manage::check_vbo_status(int fpga)
{
    if (fpga < 0 || fpga > 1)
        return 0;
    if (Utils::getTimeSpace(change_word(3 + fpga)) <= 9)
        return vbo_wd_flag[fpga];
    if (!vbo_wd_flag[fpga]) {
        int lacking = 0;
        for (int i = 0; i < 8; ++i) {
            read_from_register(40, fpga);
            lacking += (cached(*this, fpga, 40) & 0x1C) != 0x1C;
        }
        if (lacking > 3) {
            vbo_wd_flag[fpga] = 1;
            write_to_register(3, 0xC0, 0x00, fpga);
            vbo_wd_phase[fpga] = 0;
        }
    } else if (vbo_wd_phase[fpga] == 0) {
        write_to_register(3, 0x40, 0x40, fpga);
        vbo_wd_phase[fpga] = 1;
        vbo_wd_count[fpga] = 0;
    } else {
        read_from_register(22, fpga);
        ++vbo_wd_count[fpga];
        if (!(cached(*this, fpga, 22) & 0x08) || vbo_wd_count[fpga] >= 1000) {
            write_to_register(3, 0x80, 0x80, fpga);
            vbo_wd_flag[fpga] = 0;
        }
    }
    set_change_word(3 + fpga, G_timeTicks.load());
    return vbo_wd_flag[fpga];
}

void fpga_manage::check_wlanonline_state()
{
    uint16_t word = 0;
    if (clockReady() && cached(*this, 0, 80) == 3) {
        read_from_register(128, 0);
        read_from_register(144, 0);
        word = uint16_t(cached(*this, 0, 144) << 8 | cached(*this, 0, 128));
    }
    if (get_fpga_status() && word != wlan_state_word) {
        wlan_state_word = word;
        if (VyrRamPara* store = VyrRamPara::p_vyrrampara_config)
            store->test_signal(11);
    }
}

void fpga_manage::Extension_function()
{
    if (bri_reload.exchange(0))
        record_bright_change();
    if (bri_task_enable.load())
        Brightness_task();
    if (cached(*this, 0, 66) == 1)
        dealwith_onoff();
}

// ---- card jobs (the card search itself comes with the card link) ----

void fpga_manage::Check_search_card()
{
    if (pc_cmd_valid.load() == 0 && get_fpga_status()) {
        check_vbo_status(0);
        Extension_function();
        check_wlanonline_state();
    } else if (Utils::getTimeSpace(pc_cmd_time.load()) > kPcCommandTicks) {
        pc_cmd_valid = 0;
    }
}

void fpga_manage::SmartMapping_deal() { endJob("smart mapping"); }
void fpga_manage::save_para_deal() { endJob("save parameters"); }
void fpga_manage::mapping_enable_deal() { endJob("mapping on/off"); }
void fpga_manage::rcv_recovery_check_deal(int mode) { endJob("card recovery"); }

// Without the upgrade the flag would stop every normal pass for good.
void fpga_manage::usb_upgrade_manage_deal(void*)
{
    writeLogMsg(LOG_WARNING, "USB upgrade not available yet");
    g_usb_grade = 0;
}
