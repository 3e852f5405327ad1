#include "base/global.h"

std::atomic<uint8_t> g_debugSwitch{254};
std::atomic<int32_t> g_port{5005};
std::atomic<int32_t> g_int_tcp_port{5005};
std::atomic<uint8_t> g_networkMode{1};
std::atomic<uint8_t> g_udpnetmode{1};
std::atomic<int32_t> g_BPS{115200};
std::atomic<int32_t> g_dataLen{32};
std::atomic<uint8_t> ScreenState{1};
std::atomic<uint8_t> g_force_bkcolor{1};
std::atomic<uint32_t> g_auto_lock_time{30000};
std::atomic<uint32_t> g_back_to_mainwindow_time{3000};

SharedText g_str_ip{"192.168.1.199"};
SharedText g_srt_mask{"255.255.255.0"};
SharedText g_str_gateway{"192.168.1.1"};
SharedText g_str_mac{"FF:FF:FF:FF:FF:FF"};
SharedText g_str_barcode{" "};
SharedText g_str_wifi_ip{"192.168.22.101"};

// Byte 6 (the scaler flash traces) stays off.
uint8_t prnEn[400] = {0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x00, 0x80, 0x80, 0x80, 0x80, 0x80};

std::atomic<uint32_t> G_timeTicks{0};
std::atomic<uint32_t> G_reboot_tickTicks{0};
std::atomic<uint8_t> g_app_reset_flag{0};
std::atomic<uint8_t> g_update_flag{0};
std::atomic<uint8_t> g_tip_flag{0};
std::atomic<uint8_t> g_page_focus{0};
std::atomic<uint8_t> g_language{0};
std::atomic<uint8_t> g_mode_shortcut_key{0};
std::atomic<uint8_t> g_mode_select{0};
std::atomic<uint8_t> pc_cmd_valid{0};
std::atomic<uint32_t> pc_cmd_time{0};
std::atomic<uint8_t> g_usb_grade{0};
std::atomic<int32_t> g_fpga_c331_start{0};
std::atomic<uint8_t> g_set_led_para{0};
std::atomic<uint8_t> g_set_led_setup{0};
std::atomic<uint8_t> g_freeze_out{0};
uint8_t g_change[196] = {};
std::atomic<uint8_t> g_send_para[36] = {};
std::atomic<uint32_t> readtime_ticks{0};
std::atomic<uint32_t> G_factoryage_ticks{0};
QStringList factoryage_log;
std::atomic<uint32_t> factoryage_count{0};
QString g_rcv_sync_led;

uint8_t fileBuf_kelto[kFileBufSize];
std::atomic<uint32_t> fileBuf_kelto_changes{0};

// Configuration copies start empty; the INI store fills them at start.
char g_pid[32] = {};
std::atomic<uint8_t> g_update_status{0};
SharedText g_check_edid{""};
std::atomic<uint32_t> g_check_source{0};
SharedText g_imagelayoutpassword{""};
std::atomic<uint8_t> g_skyhub_cloud{0};
SharedText g_skyhub_cloudserverip{""};
std::atomic<int32_t> g_skyhub_cloudserverport{0};
SharedText g_skyhub_clouduserid{""};
SharedText g_skyhub_controllername{""};
std::atomic<uint32_t> g_vyr_max_pixel{0};
SharedText g_usb_grade_path{""};
