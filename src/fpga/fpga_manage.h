#pragma once
#include <QDateTime>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <pthread.h>
#include <QString>
#include "base/tick_alarm.h"
#include "fpga/card_link.h"
#include <vector>

namespace platform {
class SpiBus;
class MemWindow;
}
class fpga_drv;

struct TimeRealType {
    uint8_t second, minute, hour, day, weekday, month;
    uint16_t year;
};

// FPGA registers the worker and the images name (register cache bytes of the same number).
namespace FpgaReg {
constexpr int ScreenControl = 0;  // bit 1, bit 2 blank, bit 3 fault (FPGA side)
constexpr int Apply = 2;          // bit 0 apply, bit 2 mailbox doorbell, bit 3 image loaded
constexpr int Control = 3;        // bit 2 brightness, bit 5 output, bit 6 link, bit 7 V-by-One
constexpr int Brightness = 6;
constexpr int Identity7 = 7;      // read with the identity bytes
constexpr int Status21 = 21;
constexpr int Status = 22;        // bit 3 V-by-One error, 4 V-by-One up, 5 reply, 6 identity lost, 7 link
constexpr int Control23 = 23;     // bit 0 V-by-One, bit 1 loop test, bit 3 mute, bit 6 pulse at start
constexpr int IdentityFirst = 28; // 28-31; 31 is the FPGA identity
constexpr int FpgaIdentity = 31;  // 25-48 when configured
constexpr int ControlId = 32;     // 32-39: the flash's unique id
constexpr int Links = 40;         // bits 2-4: V-by-One lanes
constexpr int LinkLoop = 41;      // bit 0: loop test
constexpr int ManualBrightness = 64; // program only
constexpr int ScheduleEnabled = 66;  // program only: 1 runs the on/off schedule
constexpr int State = 80;            // program only: 0 unknown, 2 or 3 usable, 3 brought up
constexpr int PortLinksLow = 128;    // link bits of ports 0-7
constexpr int RxReadyLow = 129;
constexpr int PortLinksHigh = 144;   // ports 8-15
constexpr int RxReadyHigh = 145;
constexpr uint8_t StateUp = 3;
}

// Steps S of the V-by-One bring-up.
namespace VboStep {
enum : uint8_t { Start = 0, LinkOn = 1, LinkCheck = 2, VboOn = 3, VboCheck = 5, Enable = 6, Up = 7, WatchReset = 17 };
}
// Steps T of the status watch after the bring-up.
namespace StatusStep {
enum : uint8_t {
    LinkWait = 0,      // register 22 bit 7
    MeasureWait = 7,   // the measured input in bank 1
    LoopStart = 1,     // register 41 and 23 bit 1 on
    LoopCheck = 8,
    LoopRead = 2,
    LoopStop = 9,      // 23 bit 1 off
    LoopStopCheck = 10,
    HandOver = 3,      // apply; the scaler lifts its forced colour
    Unmute = 14,
    OutputOn = 15,
    Up = 18,
};
}

// On/off schedule of the wall: up to four pairs of times (binary, not BCD).
struct OnOffEntry {
    uint8_t on_hour, on_minute, off_hour, off_minute; // first time shows, second blanks
    uint8_t on_armed, off_armed;
};
struct OnOffSchedule {
    uint8_t count = 0; // 0-4
    uint8_t state = 0; // 0 after a show time, 1 after a blank time
    uint8_t day = 0;   // day of the last re-arm
    OnOffEntry entry[4] = {};
};

// The FPGA link: SPI and GPIO access to the FPGAs and their configuration flashes, the
// controller register and RAM images the PC tools read and write, and the worker thread.
class fpga_manage {
public:
    static fpga_manage* p_fpga_manage;
    static fpga_manage* pInstance();

    // ---- worker (thread, bring-up, status watch) ----
    // Defined by the worker's own file (pInstance too); members here are initialised in-class.
    // The constructor and p_fpga_manage live in fpga_manage.cpp.
    int initialize();                           // prepare, then the worker thread; 0 or 255
    int get_fpga_status();                      // 1 when FPGA 0 is up and its picture enabled
    void reg_IRQ_Dealwith(int fpga, int force); // interrupt service (the card link: under pass_mutex)
    void SCREEN_fpgactrl_status(int status);    // screen-control value 0-9 on FPGA 0
    std::atomic<uint8_t> onoff_request{0};      // LED output on/off (blk::kBlackScreen) changed
    std::atomic<uint8_t> lcd_request{0};        // canvas offset (blk::kCanvasX/Y) changed
    std::atomic<uint8_t> bri_request{0};        // block brightness changed (under Utils::_bri_set_mutex)
    std::atomic<uint8_t> fpga_status{0};        // status byte (group 0x82 byte 22); bit 1 in device info
    std::atomic<uint16_t> wlan_state_word{0};   // port links of the last link report (read by the protocol)
    TimeRealType time_now = {};                 // refreshed by the worker, read by the schedule
    static fpga_manage* instanceWithoutWorker(); // tests: the same set-up without the thread; drive runOnce()
    // An event for the worker (a request byte, the LED-parameter hand-over, a job, a pass-through
    // frame): its next pass runs at once. Every raiser calls it after setting its byte.
    static void wake();
    // Asks the worker to step a new LED size to the cards (g_set_led_para := 1) and wakes it; only
    // while FPGA 0 is fully up, else nobody would take the step and the scaler would wait in vain.
    // Callers holding the scaler mutex take it first. False: not asked.
    static bool requestLedParameterStep();
    // Tests: ends the worker thread and waits for it, so a test can tear the board down.
    void stop_worker();
    // How long the worker may sleep after a pass that began at passTick: false while anything is
    // in progress (poll again in 10 ms), else true with the tick of its next periodic duty.
    bool next_due(uint32_t passTick, uint32_t* due);
    bool busy();                                // bring-up, a request, a job or a reply in progress
    int prepare();                              // window, soft start, start pause; 0 or 255
    void softinit();
    void runOnce();                             // one pass of the worker thread
    void fpga_manage_deal();                    // the normal pass (outside a USB upgrade)
    int get_wlan_state();                       // link word of FPGA 0's ports, 0 unless it is up
    void SCREEN_fpgactrl_status2(int value, int fpga);
    void hold_in_reset(int fpga);               // asserts the reset line; released 200 ticks later (FPGA 0)
    void check_fpga_rst();
    void power_up_fpga_start(int check, int fpga); // V-by-One bring-up, steps S
    void fpgainit(int fpga);
    void power_up_check_fpga_status(int fpga);  // status watch, steps T
    void set_led_para_deal();                   // LED-parameter handshake with the scaler
    int set_fpga_lcd();                         // request hand-overs: 1 served, 0 not yet (FPGA down)
    int set_fpga_bri_val();
    int set_output_status();
    void Record_Time_Deal();
    int check_vbo_status(int fpga);             // link watchdog; the flag
    void check_wlanonline_state();
    void Extension_function();
    // Card traffic (fpga_cards.cpp), card jobs (fpga_jobs.cpp, fpga_replay.cpp) and the USB upgrade pass.
    void Rcv_data_from_eth(int fpga);
    void check_fpga_net_data_status(int fpga);
    void Check_search_card();
    void SmartMapping_deal();
    void save_para_deal();
    void mapping_enable_deal();
    void rcv_recovery_check_deal(int mode);     // 0 query, 1 recovery, 2 scan file
    void usb_upgrade_manage_deal(void* arg);  // the upgrade's step, once a pass while g_usb_grade is set
    // The USB upgrade registers its step when it is created (the upgrade lives with the tools).
    static void set_upgrade_step(void (*step)(fpga_manage* fpga));
    static uint32_t change_word(int word);      // 32-bit words of g_change
    static void set_change_word(int word, uint32_t value);
    static bool clock_ready();                  // the input manager's clock synthesiser runs
    // The input manager, which programs that synthesiser, registers how to ask when it is created;
    // false until then. Atomic: the worker asks from its own thread.
    static void set_clock_ready(bool (*ready)());
    uint8_t reg_cached(int fpga, int reg);      // a register-cache byte, under reg_mutex
    static const uint8_t RAM1[256];             // parameter image head without a saved image
    static constexpr int kRamCheckResets = 3;   // resets for RAM-check mismatches in a row
    // Periodic duties of an idle pass, in ticks: link watchdog, clock read, brightness task.
    static constexpr uint32_t kWatchdogTicks = 10, kClockReadTicks = 26, kBrightnessTaskTicks = 1000;
    class rcvRecovery* rcvrecovery = nullptr;   // receiving-card file reader, owned
    std::atomic<uint8_t> pass_pending{0};       // a PC frame sent to several ports awaits answers
    uint8_t ram_check[2] = {};                  // RAM-check result of the last initialisation
    uint8_t ram_check_fails[2] = {};            // mismatches in a row
    std::atomic<uint8_t> rst_pending[2] = {};   // held in reset until the release
    std::atomic<uint32_t> rst_stamp[2] = {};    // stored before rst_pending: who sees the flag sees its stamp
    std::mutex rst_mutex;                       // a request and the release never interleave (a leaf lock)
    std::atomic<uint8_t> vbo_step[2] = {};      // S: 0-7; 17 after a status-watch reset
    std::atomic<uint8_t> status_step[2] = {};   // T: 0-18
    uint32_t status_retry[2] = {};              // unlocked link checks of the status watch
    uint32_t status_retry2[2] = {};             // resets they caused
    uint16_t vbo_err[2] = {};                   // bring-up error count of the current step
    uint8_t vbo_retry[2] = {};                  // bring-up retries (resets at step 2)
    uint8_t link_loop[2] = {};                  // the link loop test ran
    uint32_t measure_since[2] = {};             // tick the status watch began to wait for an input
    uint8_t measure_logged[2] = {};             // that long wait was logged
    uint8_t vbo_wd_flag[2] = {}, vbo_wd_phase[2] = {};
    uint16_t vbo_wd_count[2] = {};
    uint32_t led_para_stamp = 0;
    pthread_t worker_thread{};
    bool worker_started = false;
    std::mutex wake_mutex;
    std::condition_variable wake_cv;
    bool wake_flag = false;                     // under wake_mutex
    bool stop_flag = false;                     // under wake_mutex
    TickAlarm tick_alarm{[] { fpga_manage::wake(); }}; // the panel's tick wakes the idle worker
    void worker_loop();
    // ---- end of worker section ----

    // ---- access: SPI devices, GPIO window, registers, RAM ----
    static constexpr uint32_t kRegCount = 171; // registers 0-170
    static constexpr uint32_t kRamSize = 1024;
    static constexpr uint32_t kEthParaSize = 136;
    fpga_drv* fpgadrv;
    std::unique_ptr<platform::SpiBus> spi_fpga[2];  // FPGA 0 ("/dev/spidev32766.1"), FPGA 1 (never opened)
    std::unique_ptr<platform::SpiBus> spi_flash[2]; // their configuration flashes (".3"; ".4" never opened)
    std::unique_ptr<platform::MemWindow> window;
    // GPIO words of the window, by their offset in it. The scaler's and the FPGA worker's threads
    // both write the selects, so every access goes through the window's atomic accessors.
    static constexpr uint32_t cs_fpga0 = 0x207810;     // select of FPGA 0 and its flash: 0 on, 16 off
    static constexpr uint32_t cmd_fpga0 = 0x207838;    // command phase: 16 command, 0 data
    static constexpr uint32_t cs_fpga1 = 0x207900;
    static constexpr uint32_t cmd_fpga1 = 0x20794C;    // 1 command, 0 data
    static constexpr uint32_t rst_fpga0 = 0x207858;    // 0 in reset, 16 running
    static constexpr uint32_t rst_fpga1 = 0x207864;
    static constexpr uint32_t irq_fpga0 = 0x207908;    // bit 0: interrupt pending
    static constexpr uint32_t irq_fpga1 = 0x207910;
    static constexpr uint32_t cs_flash0 = 0x207860;    // flash select of FPGA 0
    static constexpr uint32_t cs_flash1 = 0x20790C;
    static constexpr uint32_t it6602_path = 0x207940;
    static constexpr uint32_t ite6805_path = 0x207944;
    static constexpr uint32_t edid_wp = 0x207948;      // EEPROM write-protect
    static constexpr uint32_t board_1f1c = 0x001F1C;
    static constexpr uint32_t sdi_rst = 0x002848;      // SDI receiver reset
    static constexpr uint32_t sdi_tx_en = 0x207800;
    // Words of the manager's window. Before it is mapped a write is dropped and a read gives 0;
    // the first such access is logged.
    static void gpio_write(uint32_t word, uint16_t value);
    static uint16_t gpio_read(uint32_t word);

    int setupWindow(); // SPI devices, "/dev/msys" window, GPIO start values; 0, or 255 (logged)
    static uint32_t fpga_cmd_to_spi_data(uint8_t op, uint8_t bank, uint16_t address, uint8_t read);
    static uint32_t fpga_reg_cmd_to_spi_data(uint8_t op, uint8_t bank, uint8_t reg, uint8_t read, uint8_t mask);
    // One transfer each, no cache; 0 done, 1 failed (the result is untouched then).
    int read_fpga_register(uint8_t reg, uint8_t* result, int fpga);
    int write_fpga_register(uint8_t reg, uint8_t value, int fpga, uint8_t mask);
    // RAM bank transfers at a 12-bit address; 0, or 1 when refused or failed.
    int write_fpga_ram(const uint8_t* buffer, uint32_t address, uint32_t length, int bank, int fpga);
    int read_fpga_ram(uint8_t* buffer, uint32_t address, uint32_t length, int bank, int fpga);
    // Registers 0-63 and 128-170 into the cache; 0, or 1 when nothing was read.
    int read_from_register(int reg, int fpga);
    // Cached read-modify-write: 64-96 cache only; register 2 bit 2 runs the mailbox, register 0
    // bit 2 blanks the wall. 0 done; 1, the cache as it was, for 97-127, above 170, an FPGA not
    // fitted or an access that failed; 1 also for a mailbox command that was not carried out.
    // blackRead: the block's black-screen word this register 0 write was made from; the block is
    // set only while it still holds that word.
    int write_to_register(int reg, uint8_t mask, uint8_t value, int fpga, const uint16_t* blackRead = nullptr);
    bool fitted(int fpga) const; // its SPI device is open: FPGA 0 on this box, never FPGA 1
    bool heldInReset(int fpga) const; // its reset line is held: it drops every write it is sent
    bool fpgaUp(int fpga);       // register cache byte 80 is 3

    // ---- controller images ----
    uint8_t* MCU_REG_func[2];               // register caches (171 bytes); byte 80 = FPGA state
    uint8_t* MCU_RAM_PARA_func[2];          // parameter RAM (bank 1)
    uint8_t* MCU_RAM_RX_func[2];
    uint8_t* MCU_RAM_TX_func[2];            // also the staging area of bank 50
    uint8_t* MCU_RAM_ETH_PARA_func[2];      // output-port parameters
    uint8_t* MCU_RAM_ETH_BACK_PARA_func[2]; // port positions before the LED offset
    static uint8_t MCU_RAM_CMD[kRamSize];   // command area and mailbox
    static uint8_t MCU_RAM_EXTEND[kRamSize];
    static uint8_t MCU_RAM_ZOOM[kRamSize];
    static uint8_t MCU_RAM_DEFAULT[2 * kRamSize];
    pthread_mutex_t reg_mutex;  // register caches and MCU_RAM_EXTEND byte 29; no SPI while held
    std::mutex image_mutex;     // writes of the parameter images and their backups; no SPI while held
    uint8_t control_uid[16] = {}; // unique id of FPGA 0's flash, then 8 zeros
    uint32_t control_id = 0;      // CRC-32 of control_uid

    // Image offsets of a port's x, y, width, height (u16 each); ports above 15 give port 0's.
    static void get_eth_param_addr(int port, uint32_t* x, uint32_t* y, uint32_t* width, uint32_t* height);
    void get_eth_min_x_y(int fpga, uint16_t* x, uint16_t* y);
    void get_eth_max_border(int fpga, uint32_t* right, uint32_t* bottom); // largest x + w, y + h
    void get_eth_lcd_x_y(int fpga, uint16_t* x, uint16_t* y);            // u16 at 56, 58
    void get_eth_lcd_w_h(int fpga, uint16_t* width, uint16_t* height);   // u16 at 60, 62
    uint16_t get_port_card_num(int port);                                // FPGA 0; 0 above 15
    void eth_param_init(int clear, int fpga); // clear = 1: every port at 0, 0, 1280 x 512
    void R58_back_mcu_set_net_para(int fpga); // backup := port positions of the image
    void R58_mcu_set_net_para(int fpga);      // positions := backup + LED offset of the block
    void R58_mcu_set_lcd_x_y_para(int fpga) {}
    void fpga_flash_access() {}
    void update_eth_state(int fpga);          // link bits of registers 128/144 into the image
    int check_fpga_ram_param(int fpga);       // 1 when bank 1 holds the image's port entries
    void FPGA_to_RAM(int fpga);               // identity registers 28-31 to MCU_RAM_CMD 12-15
    int get_control_uid(int fpga);            // 0, or 1 when the flash id could not be read

    // ---- mailbox and on/off schedule ----
    static std::function<QDateTime()> clock; // local time; tests replace it
    OnOffSchedule onoff;                     // under onoff_mutex
    std::mutex onoff_mutex;
    bool Dealwith_mcu_ram();                // serves MCU_RAM_CMD when byte 0 is 0xAA; false: not done
    int Checktime(const uint8_t* cmd);      // command 1; 0 set, 1 refused
    void OnOff_time(const uint8_t* cmd);    // parses an on/off record (mailbox layout)
    void dealwith_onoff();                  // one pass of the schedule against time_now
    int IT8563WE_Get(TimeRealType* time);   // from clock(); 0
    TimeRealType refresh_time();            // time_now := the clock (its weekday kept); what it holds now
    // The clock was set or a schedule loaded: the schedule's next pass puts the wall in the state
    // of its last event before now, on a clock read then.
    static void schedule_recheck();
    std::atomic<uint8_t> onoff_recheck{0};
    int onoff_catch_up(const TimeRealType& now); // the caller holds onoff_mutex; 1 blank, 0 show, -1 none
    // Erases the record's sector and programs n bytes unless the flash already holds them, then
    // reads them back. true when the flash holds the record.
    bool store_flash_record(uint32_t address, const uint8_t* data, uint32_t n);
    bool erase_flash_record(uint32_t address);

    // ---- brightness and relays (multifunction card) ----
    uint32_t bri_mode = 0;                   // byte 8 of the loaded brightness record
    std::atomic<uint32_t> bri_level{16};     // 1-16 in modes 0-2, raw in 16 and 17
    std::atomic<uint32_t> bri_reload{0};     // reload the brightness record at the next extension step
    std::atomic<uint32_t> bri_fail_count{0}; // sensor reads without a good reply
    std::atomic<uint32_t> bri_task_enable{0};
    uint32_t bri_resend = 0;
    uint32_t bri_stamp = 0;
    uint32_t bri_last_slot = 255;
    std::atomic<int> bri_block_level{-1};  // level the block's percentage was applied as or written from
    std::atomic<int> bri_echo_percent{-1}; // percentage the block was last given from a level
    std::atomic<uint8_t> bri_level_raw{0}; // register 64 holds a raw value, not a level 1-16
    std::mutex bri_mutex;                  // one apply at a time, the worker's or the mailbox's (before the hand-over)
    uint8_t HalfHourValue[48];
    uint8_t relay_counter = 1, relay_stop_armed = 0, relay_stop_enable = 0, relay_power = 0;
    void Power_ctrl_init();
    void Power_ctrl_reset();
    int Brightness_hand_dealwith(uint8_t unused); // applies the current level; 1
    void Brightness_manual_level(uint8_t level, bool raw); // the mailbox's level, on its own scale
    void Brightness_init(const uint8_t* record);  // 57-byte brightness record
    void record_bright_change(); // its level, or without a record the block's, goes out at the next pass
    // The wall shows a level from elsewhere (a schedule, the sensor, a PC), which the block was
    // given and has not applied since, and it is not this percentage: the block's is due again.
    bool levelFromElsewhere(uint16_t percent) const;
    void record_onoff_time(int selector);
    void Brightness_task();

    // ---- pass-through of frames for receiving cards ----
    // Taken by the card link around the pass-through call and the interrupt service it runs for
    // the askers' threads; the worker takes it around its own interrupt service.
    pthread_mutex_t pass_mutex = PTHREAD_MUTEX_INITIALIZER;
    CardLink card_link{*this}; // the askers' frames and the answers they wait for
    uint8_t multicast_flag = 0;          // under Utils::_fpga_multicast_mutex
    uint32_t multicast_port_mask = 0;
    static constexpr int kAllPorts = 16; // a frame sent to every port with cards, and its merged answer
    // The port a pass-through frame goes to (0-15, kAllPorts), or -1 when it would go nowhere
    // (bad length or check byte, a port byte beyond the ports of FPGA 0, another selector).
    static int pass_port(const uint8_t* packet, uint32_t length);
    int Dealwith1_PC_to_eth(uint32_t length, const uint8_t* packet); // decoded frame with check byte
    // Hands a card's answer (decoded, check byte included) and the port it came in on (kAllPorts
    // for a merged one) to the card link, which gives it to the frame it answers. The caller
    // holds pass_mutex.
    void forward_card_reply(const uint8_t* reply, uint32_t length, int port);
    void pass_merge_end(); // the frame sent to every port is off the link: its merge is over (pass_mutex)

    // ---- receiving-card link: TX/RX buffers, card search, pass-through merge ----
    static constexpr int kPorts = 16;
    static constexpr uint32_t kPacketMax = 1024;     // one TX or RX buffer
    static constexpr uint32_t kPacketDataMax = kPacketMax - 11; // data of a card command: 10-byte head, check byte
    static constexpr uint32_t kMergeTicks = 200;     // a multi-port answer goes out after this at the latest
    static constexpr uint32_t kSearchTicks = 80;
    // The caller holds pass_mutex (TX buffers are shared with the transports). 1 sent, 0 nothing
    // sent (port above 15, FPGA 1, bad length, TX still busy).
    int Send_to_port(const uint8_t* packet, uint32_t length, int port, int fpga);
    int send_packet(const uint8_t* packet, uint32_t length, int port); // the worker's: takes pass_mutex
    int multi_port_send(uint8_t* packet, uint32_t length); // ports sent to; caller holds pass_mutex
    int wait_fpga_send_ready(int port, int fpga);          // 1 TX idle, 0 still busy or bad port
    uint16_t check_netport_card(int fpga);                 // sum of the card counts
    void Search_Card_Cmd();
    void CHECK_search_cmd_status();
    // Search of one port (30 bytes, to the port's cards); flag bit 0 asks each card to compare its
    // config id with a. 1 sent. The caller holds pass_mutex.
    int check_error_rcv_search_card_cmd(int port, int fpga, uint32_t a, uint32_t b, uint8_t flag);
    static void card_fields(int port, uint32_t* count, uint32_t* status); // image offsets of a port
    void set_port_card_num(int port, uint16_t count, uint8_t status);     // image and bank 1
    uint16_t port_link_word();                                             // registers 144 << 8 | 128, fresh
    void deal_with_reply(uint8_t* reply, uint32_t n, int pair); // one valid reply; under pass_mutex
    void refused_reply(int pair, uint32_t n);
    void pass_merge_timeout();   // the worker, under pass_mutex: a merge that waits too long ends
    uint32_t search_cycle = 0, search_stamp = 0;
    uint8_t search_go = 0;
    uint16_t search_ports = 0;   // ports searched in the current cycle
    uint32_t search_answers = 0; // bit 8 x fpga + pair answered; 31 cycle sent, 30 odd cycle
    std::atomic<uint16_t> total_cards{0};
    // Multi-port pass-through (under pass_mutex).
    uint8_t multi_flag = 0, multi_serial = 0, multi_to_search = 0;
    uint16_t multi_answers = 0, multi_expected = 0;
    uint32_t pass_stamp = 0;
    std::vector<uint8_t> multi_reply;     // the last answer of the merge, forwarded when complete
    // Replies for this side (under pass_mutex): the multifunction card's and the error-search's.
    uint8_t mf_reply_flag = 0, mf_reply_cmd = 0;
    uint8_t mf_reply[129] = {};           // reply bytes 10-138: status, then data
    std::vector<uint8_t> mf_raw_reply;    // the whole last multifunction reply (RAM0 keeps 256 bytes)
    std::atomic<uint8_t> recovery_search_on{0}; // an error-search of the replay waits for its answer
    std::atomic<uint32_t> recovery_config_id{0};

    // ---- card jobs (1 smart mapping, 3 save, 4 mapping; 2, 5, 6 replay) ----
    static int get_rcvcard_x_y(uint32_t index, uint8_t type, uint8_t rows, uint8_t columns, uint16_t width,
                               uint16_t height, uint16_t* x, uint16_t* y); // 0, or 1 for an unknown walk
    // Packet builders: the packet's length, 0 when it does not fit one buffer.
    static uint32_t load_write_ram_cmd_create(int port, int card, uint32_t address, const uint8_t* data, uint32_t n, uint8_t* out, bool all);
    static uint32_t load_write_reg_cmd_create(int port, int card, const uint8_t* data, uint32_t n, uint8_t* out, bool all);
    static uint32_t load_write_user_defined_cmd_create(int port, int card, const uint8_t* data, uint32_t n, uint8_t* out, bool all);
    static uint32_t rcv_active_firmware_cmd_create(int port, int card, const uint8_t* data, uint32_t n, uint8_t* out, bool all);
    static uint32_t rcv_reconfig_cmd_create(int port, int card, const uint8_t* data, uint32_t n, uint8_t* out, bool all);
    static uint32_t load_search_rxc_cmd_create(int port, const uint8_t* data, uint32_t n, uint8_t* out);
    static uint32_t save_para2flash_cmd_create(int port, int card, uint8_t* out, bool all);
    static uint32_t save_para_cmd_create(uint8_t* out, int port);
    static uint32_t mapping_enable_cmd_create(int port, uint8_t value, uint8_t* out);
    static uint32_t ram_reset_cmd_create(uint8_t* out, int port);
    static uint32_t rcv_card_cmd_create(uint8_t* out, int port, int card, uint16_t x, uint16_t y);
    uint32_t job_errors = 0;       // unanswered or refused packets of the running job
    uint32_t job_wait_cards = 0;   // card count of the port the last job packet went to
    uint32_t job_progress = 0;     // progress counter while a job waits (1-99)
    uint32_t job_stamp = 0;        // progress pacing of the running job
    uint32_t job_detail = 0;       // what the pages are told besides ok (JobBlock::kNoCardFound, ports that failed)
    void job_end(int job, bool ok); // job block cleared, the pages told
    bool job_paused();             // PC traffic: pauses the job and renews its stamps
    // Replay (jobs 2, 5, 6).
    int load_rcv_xy_operate(const QString& path, uint32_t position, bool all);
    uint8_t replay_retry = 0;      // tries of the current packet (not in the job block: fields overlap)
    uint16_t replay_cards = 0;     // card count of the port of the current operation
    uint8_t replay_failed = 0;     // an operation of the running replay was not answered
    uint32_t replay_stamp = 0;     // wait of the current packet
    uint32_t replay_run = 0;       // ticks the running replay has run, its pauses for the PC left out
    uint32_t replay_clock = 0;     // tick of its last pass
    // Net, card and operation of the replay: a file counts them in 16 bits, so a byte of the job
    // block would wrap and walk the same entries (or another card) for ever.
    uint16_t replay_net = 0, replay_card = 0, replay_operation = 0;
    struct QueryResult {
        uint8_t valid = 0, screen = 0, port = 0;
        uint16_t net = 0, card = 0, cards = 0;
    } query_result;                // what the last query found; the recovery works on it alone
    uint8_t result_shown = 0;      // a result line was sent to the recovery page
    void replay_progress(int mode, int percent);
    void replay_counter_progress(int mode);

    // ---- multifunction card: sensor and relays ----
    void Brightness_hand_change();
    void Brightness_time_change();
    void Brightness_auto_change();
    void Brightness_check_VMF();
    int Brightness_read_VMF_value();   // 1 good reply
    void Brightness_auto_filter();
    int wait_VMF_reply(uint8_t expected, uint32_t keep); // 1 good, 0 none; caller does not hold pass_mutex
    int read_VMF(uint32_t address, uint16_t n);        // a read kept as its n bytes; 1 good reply
    void Power_ctrl_deal(); // relays after window 0's signal; nothing calls it
    void Power_ctrl_task();
    void Power_check_VMF();
    int Power_read_VMF_value();
    void Power_ctrl_filter();
    int Send_write_VMF_reg_cmd(int stop, int relay); // 1 sent and acknowledged
    void eth_data_send_start();
    void eth_data_send_stop();
    uint32_t mf_address = 0;           // 0, 0x4000-0x7000
    uint32_t mf_group = 0;             // 1-4, 0 none
    uint8_t mf_data_valid = 0;
    uint8_t mf_card_data[128] = {};    // bytes 11-138 of the last good sensor reply
    uint8_t mf_ram0[256] = {};         // bytes 11-266 of the last good RAM0 reply
    uint8_t relay_port = 252, relay_fpga = 0;
    uint8_t relay_signal = 0;          // window 0's source has a timing
    uint32_t relay_stamp = 0, relay_task_stamp = 0, relay_step_stamp = 0, relay_off_stamp = 0;

private:
    fpga_manage();
    int transfer(int fpga, uint32_t command, const uint8_t* tx, uint8_t* rx, uint32_t length);
    int serve_brightness(bool fromBlock);  // Brightness_hand_dealwith with the block's request decided
    void apply_brightness(bool fromBlock); // the caller holds bri_mutex
    uint8_t reg_cache_[2][kRegCount] = {};
    uint8_t para_[2][kRamSize] = {};
    uint8_t rx_[2][kRamSize] = {};
    uint8_t tx_[2][kRamSize] = {};
    uint8_t eth_para_[2][kEthParaSize] = {};
    uint8_t eth_back_[2][kEthParaSize] = {};
};
