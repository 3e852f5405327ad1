// The FPGA worker: start-up, the pass, the request bytes other workers raise and the
// LED-parameter handshake with the scaler.
#include "fpga/fpga_manage.h"

#include "base/delay.h"
#include "base/global.h"
#include "video_chips/keltosource.h"
#include "base/logMsg.h"
#include "tools/rcv_recovery_file.h"
#include "base/utils.h"
#include "params/vyrrampara.h"

#include <QMutexLocker>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>

namespace {

// A pass costs little; pacing it at about 1 ms keeps the box idle and still answers in time.
// Until the scaler and the clock are up a pass has nothing to do: look less often then.
constexpr auto kPassPause = std::chrono::milliseconds(1);
constexpr auto kWaitPause = std::chrono::milliseconds(10);
constexpr uint32_t kStartPauseMs = 2000;
constexpr uint32_t kLedBlankTicks = 11;
constexpr uint32_t kLedRestoreTicks = 31;

void* fpgamanageThread(void* arg)
{
    fpga_manage* self = static_cast<fpga_manage*>(arg);
    for (;;) {
        self->runOnce();
        std::this_thread::sleep_for(g_fpga_c331_start.load() != 0 && fpga_manage::clock_ready() ? kPassPause : kWaitPause);
    }
    return nullptr;
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
    const bool clock = clock_ready();
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

// Not while a reset is pending: requests and jobs served then would reach a held FPGA and be lost.
int fpga_manage::get_fpga_status()
{
    return fpgaUp(0) && vbo_step[0].load() == 7 && status_step[0].load() == 18 && !rst_pending[0].load() &&
                   !(reg_cached(0, 0) & 0x08)
               ? 1
               : 0;
}

int fpga_manage::get_wlan_state()
{
    if (reg_cached(0, 80) != 3)
        return 0;
    read_from_register(128, 0);
    read_from_register(144, 0);
    return reg_cached(0, 144) << 8 | reg_cached(0, 128);
}

bool fpga_manage::clock_ready()
{
    const keltosource* source = keltosource::p_kelto_source;
    return source && source->clock_state[0].load() == 2;
}

uint8_t fpga_manage::reg_cached(int fpga, int reg)
{
    pthread_mutex_lock(&reg_mutex);
    const uint8_t v = MCU_REG_func[fpga][reg];
    pthread_mutex_unlock(&reg_mutex);
    return v;
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
