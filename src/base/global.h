#pragma once
#include <QString>
#include <QStringList>
#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>

// Process-wide globals shared by the subsystems. Flags and counters that threads read and write
// without a lock are atomics of their given width; text settings are SharedText.

// A text setting that one thread rewrites (configuration reload, protocol commands) while others
// read it (panel, protocol replies): every read builds its own copy under the lock. The value is
// kept as UTF-8 bytes, not as a QString, so no two threads ever share one implicitly shared buffer
// (whose count Qt changes inside its library, out of the thread checker's sight).
class SharedText {
public:
    explicit SharedText(const char* initial) : value_(initial) {}
    SharedText(const SharedText&) = delete;
    QString get() const
    {
        std::lock_guard<std::mutex> lock(mutex_);
        return QString::fromStdString(value_);
    }
    void set(const QString& value)
    {
        std::string bytes = value.toStdString();
        std::lock_guard<std::mutex> lock(mutex_);
        value_.swap(bytes);
    }
    operator QString() const { return get(); }
    SharedText& operator=(const QString& value)
    {
        set(value);
        return *this;
    }
    SharedText& operator=(const char* value) { return *this = QString::fromUtf8(value); }
    bool operator==(const QString& other) const { return get() == other; }
    bool operator==(const char* other) const { return get() == QString::fromUtf8(other); }
    bool operator!=(const QString& other) const { return !(*this == other); }

private:
    mutable std::mutex mutex_;
    std::string value_;
};

// trace switch: traces run only when it equals 254; the log echo compares it with 0, 2 and 3
extern std::atomic<uint8_t> g_debugSwitch;
inline bool traceOn() { return g_debugSwitch.load(std::memory_order_relaxed) == 254; }

extern std::atomic<int32_t> g_port;          // TCP port of the control protocol
extern std::atomic<int32_t> g_int_tcp_port;  // copy of g_port made when the configuration loads
extern std::atomic<uint8_t> g_networkMode;   // TCP transport enabled
extern std::atomic<uint8_t> g_udpnetmode;    // UDP transport enabled
extern std::atomic<int32_t> g_BPS;           // serial baud rate
extern std::atomic<int32_t> g_dataLen;
extern std::atomic<uint8_t> ScreenState;         // LED output shown (1) or black (0)
extern std::atomic<uint8_t> g_force_bkcolor;     // 1 forced colour, 0 FPGA up, 2 colour removed
extern std::atomic<uint32_t> g_auto_lock_time;
extern std::atomic<uint32_t> g_back_to_mainwindow_time;

extern SharedText g_str_ip;
extern SharedText g_srt_mask;
extern SharedText g_str_gateway;
extern SharedText g_str_mac;
extern SharedText g_str_barcode;
extern SharedText g_str_wifi_ip;

extern uint8_t prnEn[400]; // scaler trace enables, bit 7 = on

extern std::atomic<uint32_t> G_timeTicks;        // 10 ms ticks since start, wraps
extern std::atomic<uint32_t> G_reboot_tickTicks; // tick of a requested reboot
extern std::atomic<uint8_t> g_app_reset_flag;    // 1 = reboot 300 ticks after G_reboot_tickTicks
extern std::atomic<uint8_t> g_update_flag;       // an application update is in progress
extern std::atomic<uint8_t> g_tip_flag;
extern std::atomic<uint8_t> g_page_focus;        // code of the page on top
extern std::atomic<uint8_t> g_language;          // 0 zh, 1 en, 2 ru, 3 vn, 4 tn
extern std::atomic<uint8_t> g_mode_shortcut_key;
extern std::atomic<uint8_t> g_mode_select;
extern std::atomic<uint8_t> pc_cmd_valid;        // a control frame arrived ...
extern std::atomic<uint32_t> pc_cmd_time;        // ... at this tick
extern std::atomic<uint8_t> g_usb_grade;         // USB upgrade running
extern std::atomic<int32_t> g_fpga_c331_start;   // scaler bring-up finished
extern std::atomic<uint8_t> g_set_led_para;      // LED-parameter handshake (Utils::_led_para_init_mutex)
extern std::atomic<uint8_t> g_set_led_setup;
extern std::atomic<uint8_t> g_freeze_out;
extern uint8_t g_change[196];                    // FPGA-side change flags
extern std::atomic<uint8_t> g_send_para[36];    // card job block: byte 0 job, 1 step (pages and FPGA worker)
extern std::atomic<uint32_t> readtime_ticks;
extern std::atomic<uint32_t> G_factoryage_ticks;
extern QStringList factoryage_log;               // the ageing log
extern std::atomic<uint32_t> factoryage_count;
extern QString g_rcv_sync_led;

constexpr size_t kFileBufSize = 5242880;
extern uint8_t fileBuf_kelto[kFileBufSize];      // transfer buffer, under Utils::_file_deal_mutex
// Times the uploads or the USB upgrade overwrote fileBuf_kelto: a cloud certificate staged there
// compares it at its end (file_transfer::stagingChanges).
extern std::atomic<uint32_t> fileBuf_kelto_changes;

// Configuration copies loaded by Utils::getIPAddress
extern char g_pid[32];                           // device id, 32 hex characters, no terminator
extern std::atomic<uint8_t> g_update_status;     // the launcher names this program
extern SharedText g_check_edid;
extern std::atomic<uint32_t> g_check_source;
extern SharedText g_imagelayoutpassword;
extern std::atomic<uint8_t> g_skyhub_cloud;
extern SharedText g_skyhub_cloudserverip;
extern std::atomic<int32_t> g_skyhub_cloudserverport;
extern SharedText g_skyhub_clouduserid;
extern SharedText g_skyhub_controllername;
extern std::atomic<uint32_t> g_vyr_max_pixel;
extern SharedText g_usb_grade_path;
