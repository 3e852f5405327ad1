#pragma once
#include "video_chips/edid_tables.h"
#include "video_chips/kelto_it6602.h"

#include <atomic>
#include <cstdint>
#include <pthread.h>

class Drv_I2C0;
class ite6805_sys;
class it66121_sys;

// The input-source manager: owns the I2C bus and the receiver drivers and runs the one polling
// thread that does all I2C traffic of the input side. The thread holds the input paths low, then
// checks the EDID EEPROMs, programs the clock synthesiser the FPGAs run from (FPGA 0 leaves reset
// only after that), writes requested custom EDIDs and steps every enabled receiver on each pass.
class keltosource {
public:
    static constexpr int Inputs = 6;
    static constexpr int It6602Inputs = 4;
    static constexpr long StartPeriodNs = 1000000L;    // path and EDID states
    static constexpr long RunningPeriodNs = 50000000L; // running passes

    static keltosource* p_kelto_source;
    static keltosource* pInstance();

    // Opens the bus, hands it to the drivers, takes the input mask from g_check_source and starts
    // the polling thread. 0, or 255 when the thread cannot be created (logged). A bus that cannot be
    // opened is logged; the thread runs anyway (every transfer then fails and is retried later).
    int initialize();
    void stopThread(); // ends the polling thread after its current pass (tests, orderly exit)
    // The same without the thread: tests then step it with runOnce().
    int initializeWithoutThread();
    // One step of the polling thread's path state machine (a whole running pass in state 5).
    void runOnce();

    // Custom timing (width x height at rate) into the input's own table; false when refused (its
    // fields do not fit, or its pixel clock is not the receiver's), the table then unchanged.
    bool Set_Custom_HDMI_EDID(uint32_t width, uint32_t height, uint32_t rate, int input);
    // Asks the thread to write the input's custom EDID (again) and restart its receiver; waits
    // while the thread is writing an EDID.
    void requestCustomEdid(int input);
    // Publishes one input's resolution record (block 0x100 + 6 input) under the store's mutex.
    static void setInputResolution(int input, uint16_t width, uint16_t height, uint8_t rate);
    // Expander audio bit of the window whose audio is on (block byte 0x840, 6 or more = window 0);
    // 0 when its audio is off or its source is not an input.
    static uint8_t audioBitsFromBlock(const uint8_t* block);
    static uint8_t audioBitOf(int input); // 0 for a number outside 0-5

    // Path states of the polling thread.
    enum PathState : uint8_t { PathHold = 0, PathHeld, PathRelease, PathSettle, PathEdidCheck, PathRunning };

    ite6805_sys* ite6805 = nullptr;
    kelto_it6602* it6602 = nullptr;
    it66121_sys* it66121 = nullptr;

    // Requests other workers raise (custom EDIDs through requestCustomEdid); the thread serves them.
    std::atomic<uint8_t> custom_edid_req[6] = {};     // 1 = rewrite this input's EEPROM with its custom EDID
    std::atomic<uint8_t> custom_edid_written[6] = {}; // 1 = that rewrite succeeded (cleared with the request)
    std::atomic<uint8_t> audio_sel_req{1};            // 1 = rewrite the expander's audio bits
    std::atomic<uint8_t> sdi_reset_req{0};            // 1 = pulse the SDI receiver's reset
    uint8_t sdi_reset_step = 0;
    uint32_t sdi_reset_stamp = 0;

    uint8_t input_mask = 0;      // inputs the thread steps (bit = channel bit)
    uint8_t audio_bits = 0;      // expander bits 2-7 as last computed
    uint8_t write_protect = 1;   // expander bit 0 as last written

    HDMI_INFO hdminfo[6] = {};   // under Utils::_source_hdminfo_mutex
    Drv_I2C0* i2c = nullptr;
    uint8_t it6602_step[4] = {}; // 0 identify, 1 second set-up, 2 running
    static constexpr int DeadPassLimit = 3; // running passes in a row with refusals: receiver gone
    uint8_t sdi_step = 0;

    // Per clock synthesiser (only 0 is fitted): 0 not written, 1 written, 2 FPGA reset released.
    // The FPGA worker brings the FPGAs up only once synthesiser 0 reads 2.
    std::atomic<uint8_t> clock_state[2] = {};
    uint8_t clock_done[2] = {};

    // Path state machine, under Utils::_source_init_mutex (the iTE6805 driver restarts it).
    uint32_t path_timer = 0;
    uint8_t path_state = PathHold;
    uint8_t path_flags[6] = {1, 1, 1, 1, 1, 1}; // 0-3 IT6602 path, 4-5 iTE6805 path

    int s5p210_setup(int n); // one step of synthesiser n's set-up; its state afterwards

private:
    keltosource();
    static void* checksourceThread(void* self);
    int openBus();
    void pathStep();
    void edidCheck();
    void runningPass();
    void writeCustomEdids();
    void serveInputReinit();
    void applyPathBits(uint8_t bits);    // request bits 0-3
    void applyHotPlugBits(uint8_t bits); // request bits 4-7
    void serveAudio();
    void serveSdiReset();
    void sourcecheck();
    void identifyIt6602(int input); // step 0: identified, set up; else asked again a second later
    void stepIt6602(int input); // a running receiver's pass; a silent one is set up afresh
    void restartWithHotPlugLow(int input); // after its custom EDID was written
    bool hotPlugHeldLow(int input);        // true while the input's receiver waits with the line low
    void it66121_sdi_enable();
    bool readEeprom(uint8_t* out);
    // An input's EDID record (block 0x380 + 6 input).
    struct EdidRecord {
        uint16_t width = 0, height = 0, rate = 0;
        bool operator==(const EdidRecord& o) const { return width == o.width && height == o.height && rate == o.rate; }
    };
    static EdidRecord recordOf(int input);             // read under the block's locks
    static EdidRecord recordAt(const uint8_t* record); // the six bytes of a record
    const edid::Table& tableFor(int input, const EdidRecord& record);
    bool putHeldEdidBack(int input);
    void putRecordBack(int input, const EdidRecord& failed);
    void setExpander(uint8_t value);
    bool selectEdidChannel(uint8_t channel);
    void setEdidGood(int input, bool good);
    bool edidGood(int input) const;
    void logClockFailure(const char* what);

    int fd_ = -1;
    uint8_t it6602_dead_[4] = {}; // running passes in a row with refused transfers
    bool it6602_unidentified_[4] = {}; // the last identification failed, at it6602_id_stamp_
    uint32_t it6602_id_stamp_[4] = {};
    bool hpd_low_[6] = {};
    uint32_t hpd_low_stamp_[6] = {};
    edid::Table tables_[6];  // default tables, patched by custom timings
    // What each EEPROM was last read or written to hold (a valid table), and the record it stands
    // for: a custom write that fails part-way puts both back. The records are taken at each check.
    edid::Table held_[6];
    EdidRecord heldRecord_[6];
    bool heldRecordsTaken_ = false;
    uint32_t clockFailures_ = 0;
    bool unknownCheckLogged_ = false;
    pthread_t thread_{};
    bool threadStarted_ = false;
    std::atomic<bool> stopping_{false};
};
