#pragma once
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <initializer_list>
#include <mutex>
#include <pthread.h>
#include <string>
#include <vector>

#include "base/posix_lock.h"
#include "base/tick_alarm.h"
#include "params/block_layout.h"
#include "params/scaler_hand_over.h"
#include "scaler/c331_window_types.h"
#include "scaler/c331_input_state.h"
#include "scaler/c331_panel_types.h"

class c331_drv;
class VyrRamPara;


extern std::atomic<uint8_t> g_osd_update; // ask the worker to reload the on-screen menu

// The setters the bring-up and the change dispatch called, newest last: name and arguments, so a
// test sees what the dispatch asked for even where a setter does not reach the chip yet. Bounded,
// and free of allocation while recording.
class ScalerCallLog {
public:
    static constexpr size_t kCapacity = 512;
    static constexpr int kMaxArgs = 7;
    void record(const char* name, std::initializer_list<int> args);
    // While one lives in a thread, that thread records nothing: a setter's own inner calls are
    // not what the dispatch called.
    struct Nested {
        Nested() { ++nesting; }
        ~Nested() { --nesting; }
        Nested(const Nested&) = delete;
        Nested& operator=(const Nested&) = delete;
    };
    static inline thread_local int nesting = 0;
    std::vector<std::string> calls() const; // "name(a,b,...)", oldest first
    void clear();

private:
    struct Entry {
        const char* name;
        int argc;
        int args[kMaxArgs];
    };
    mutable std::mutex mutex_;
    Entry ring_[kCapacity] = {};
    size_t next_ = 0;  // slot of the next entry
    size_t count_ = 0; // entries held
};

// The scaler chip's manager: hand-over point for parameter changes, the chip model, the worker.
class c331_manage : public InputPortState {
public:
    static c331_manage* p_c331_manage;
    static c331_manage* pInstance();            // creates the manager and starts its worker
    static c331_manage* instanceWithoutWorker(); // tests: the same object, no thread; drive runOnce()

    // ---- hand-over (every writer: lock, write the block, set the flag, unlock), published to
    // ScalerHandOver (params/scaler_hand_over.h) when the manager is created ----
    pthread_mutex_t c331_mutex;
    // 0 nothing pending, 1 block changed, 2 user-mode records replaced. Written under c331_mutex;
    // the worker tests it without the lock once a pass.
    std::atomic<uint8_t> change_flag{0};
    void wakeWorker();       // a change was handed over: end the worker's idle wait now
    const ScalerHandOver::Point& handOverPoint() const { return hand_over_; }

    // ---- worker ----
    int initialize();        // opens the chip, reads its id, starts the worker; 0 or 255
    void runOnce();          // one pass of the worker
    std::atomic<uint8_t> thread_state{0}; // 0-4 identification, 5 bring-up, 6 running (writers wait for 6)
    int32_t control_word = 0;  // negative: skip the per-pass upkeep
    int32_t pattern_flag = 0;  // a test pattern is shown: skip the per-pass upkeep
    uint8_t pattern_channels = 0; // bit o: output channel o's generator was left on by a pattern
    int c331_fd = -1;
    c331_drv* drv = nullptr;
    static void Sleep(uint32_t milliseconds);

    // ---- change dispatch ----
    void c331managerdeal();
    // What the dispatch last applied to the chip: compared instead of the shadow, so a second
    // hand-over before the page thread has saved, or after a re-bring-up, does not apply the same
    // fields again. Only the worker touches it.
    uint8_t applied[4096];
    uint8_t* dispatching_ = nullptr; // the dispatch's copy of the block while it runs
    bool applied_valid = false;
    uint32_t led_wait_limit_ms = 2000; // bound on the FPGA's LED-parameter step
    std::atomic<uint32_t> idle_wait_ms{100}; // idle wait without a ticking panel (tests stretch it)
    ScalerCallLog call_log;
    static constexpr int kMaxFadeSteps = blk::kFadeMaxSteps;
    static int cropSourcePort(uint16_t idWord); // input port 0-5 of a crop id word, -1 if none

    // ---- setters called by bring-up and dispatch (bodies grow with each feature) ----
    // picture controls: false, and nothing written, for a value outside the field's range (0-100;
    // colour-temperature mode 0-3 in the packed word's low byte, gains 0-255)
    static constexpr uint32_t kColourModeMax = 3, kColourGainMax = 255;
    bool c331_SetBrightness(uint16_t v);
    bool c331_SetContrast(int v);
    bool c331_SetSaturation(int v);
    bool c331_SetColorTemp(int packed);
    bool c331_SetSharpness(int v);
    int c331_SetPattern(int pattern); // 0, or -1 when more than one window is on
    int wincnt = 0;                   // windows shown, as the dispatch last took them
    void vyrApi_forceColorDisable(int fd);
    void vyrApi_SetOutBkg(int colour);
    // panel and output channels
    int vyrApi_PnlInit2(int ledW, int ledH, int out1w, int out1h, int splice); // 0, or 1 refused
    static uint32_t panelPixelLimit();    // LED pixels the panel set-up takes (the INI's, or the default)
    // Why the panel of the block's LED size and split would be refused, or "": writers of a new
    // size ask before they start the FPGA's LED step, with the rules of the set-up itself.
    static std::string panelRefusal(const uint8_t* block);
    // The block's splice or LED size differs from both the box's before this writer (`before`,
    // its applied copy) and the stored one (`shadow`), and the scaler will take it: only then does
    // a writer start the LED step and reset crops and audio. A screen set back to either keeps
    // them; a refused screen changes nothing: the scaler takes its fields back out of the block.
    static bool takesNewScreen(const uint8_t* block, const uint8_t* shadow, const uint8_t* before);
    // The whole panel for these fields, from any thread; why it is refused, or "". `own`: the
    // set-up's own run, with its warnings (and its traces while tracing is on).
    static std::string planPanel(int ledW, int ledH, int out1w, int out1h, int splice, ST_PANEL& out, bool own);
    static std::string planChannels(ST_PANEL& p, bool own); // arrangement, porches, timing
    // Why the window set panel p would take is not drawn (the single full-panel window zoomed
    // across a channel seam at its input's timing), or "".
    std::string panelSeamFault(const ST_PANEL& p);
    // The screen as its writers set it: the panel's fields and the two outputs' rectangles, which
    // the page and the protocol write with it. A panel the chip refuses takes all of them back.
    static constexpr uint32_t kScreenFields[] = {blk::kSpliceMode,    blk::kLedWidth,      blk::kLedHeight,
                                                 blk::kOutput1X,      blk::kOutput1Y,      blk::kOutput1Width,
                                                 blk::kOutput1Height, blk::kOutput2X,      blk::kOutput2Y,
                                                 blk::kOutput2Width,  blk::kOutput2Height};
    void vyrApi_PnlInitOch3();            // programs the planned panel
    // One search of the timing list for the planned grid: 1 found, 0 none (the pair as computed).
    static int vyrApi_PnlInitOch_diff(ST_PANEL& p, int* htt, int* vtt, int hblank, int vblank, bool trace);
    void vyrApi_c331InitRegPanel();
    void vyrApi_WriteRam(int what);       // 1376: publish the layout for the FPGA
    void vyrApi_MultiWinInit();
    void vyrApi_MultiWinGet(ST_MWIN* out);
    void vyrApi_PreviewCh() {}
    // The output channels a window at (x, y) of w x h covers on the panel's grid: the first, the
    // last, how many across and down, and why it gets none ("" when it gets them).
    struct ChannelSpan {
        int start = -1, end = -1, totalh = 0, totalv = 0, rowLength = 1;
        std::string failure;
    };
    static ChannelSpan channelSpan(const ST_PANEL& p, int64_t x, int64_t y, int64_t w, int64_t h);
    void vyrApi_MultiWinChAlloc(char init);
    void vyrApi_MultiWinChOverlay();
    void vyrApi_MultiWinChInit();
    int vyrApi_OchGetWinOffset1(const ST_WIN_INFO* info, int side);
    ST_PANEL pnl{};
    C331OutputChannels och_tab{};
    int PS_HFP = 0, PS_VFP = 0;
    // windows, layers, fades, crops
    void vyrApi_initEnvC331();
    void set_output(int fd);
    void c331_SetWinOutput(int fd, char win, int word);
    void c331_SetWinDbdMode(int fd, char win, int value);
    void c331_SetWinAttr(char win, int word);
    void c331_SetWinPriority(int win, int pri);
    void resolveLayers(int keep); // no two windows on one layer; slot keep (or none: -1) holds its own
    void c331_SetWinPriority1(int fd);
    void c331_SetInputsourceCrop(int win, int word);
    void c331_SetCrop(char win, char enable, ST_RECT* rect);
    void vyrApi_initEnvC331Default();
    int vyrApi_CropGetOffset(int port, const ST_RECT* rect, int side) const; // margin of rect in the port's area
    // A crop rectangle as four margins in the port's area, widened as c331_SetCrop does.
    void cropMargins(int port, ST_RECT rect, int* margins) const;
    // What the capture takes of port p: its whole active area, or inside the crop margins.
    _ImageWindowDef_st sourceArea(int port, bool cropped, const int* margins) const;
    int vyrApi_updateCrop(int port);  // crop margins again after the port's timing changed
    void update_overlay_info();
    void set_overlay(int fd);
    void reset_layer_coef(int fd, int mode);
    void set_layer_coef(int fd, int win, int steps, int dir);
    void reset_act(int fd, int mode);
    void win_freeze_sel(int fd, int win, int value);
    ST_WIN_INFO gWininfo[6] = {};
    static int dbdModeOf(int value);   // dot-by-dot mode of a record's +22 value
    // A copy of the block, taken under the hand-over mutex; during a change dispatch the copy the
    // dispatch works from, so what it records as applied is what the chip was given.
    void takeBlock(uint8_t* out);
    std::string layoutFault(const ST_PANEL& p, const uint8_t* block) const; // why the records cannot be shown, or ""
    // Window record `rec` of the block: what it shows of its input; false while that is not
    // known (no signal, dot-by-dot, no input).
    bool recordSourceArea(const uint8_t* block, uint32_t rec, _ImageWindowDef_st& a) const;
    // Why a window at x, y (canvas offsets included) of w x h showing `a` of its input leaves its
    // tiles dark on panel p, zoomed across a channel seam; "" when it is drawn.
    std::string seamFault(const ST_PANEL& p, const _ImageWindowDef_st& a, int64_t x, int64_t y, int64_t w,
                          int64_t h) const;
    // The records the window set takes on panel p: the block's, the last accepted ones put back
    // into it, or none (the single full-panel window); `fault` says why the block's are not.
    enum class Layout { Block, Accepted, Default };
    Layout chooseLayout(const ST_PANEL& p, uint8_t* block, std::string& fault) const;
    // Windows whose tiles the chip left dark since they were placed (their input changed) are
    // closed in the block, logged, and the window set rebuilt without them.
    void closeDarkWindows();
    // Those it closed are shown again once their input changes to a zoom that is drawn, unless a
    // writer changed them meanwhile.
    void reopenWindows();
    static void limitVboZoom(const _ImageWindowDef_st& source, _ImageWindowDef_st& out);
    void writeShownLayout(const uint8_t* shown); // into the dispatch's copy while one runs
    ST_MWIN gMwin{0, nullptr};
    C331WindowState winState;
    // display windows
    static void calc_scaling(const _ImageWindowDef_st& a, const _ImageWindowDef_st& b, _ScalingSt& s);
    void calc_oact(const _ImageWindowDef_st& r, _ImageWindowDef2_St* t, int w);
    // r cut into cols x rows tiles of tileW x tileH (calc_oact for any panel).
    static void cutTiles(const _ImageWindowDef_st& r, int cols, int rows, int tileW, int tileH, _ImageWindowDef2_St* t);
    // Whether a tile of the cut starts too early for the chip across or down, and how far before
    // its tile the furthest guard starts; actHst, actVst: where the channel's active area starts.
    struct SeamBlank {
        bool h = false, v = false;
        int64_t pixels = 0, lines = 0;
    };
    static SeamBlank seamBlank(const _ImageWindowDef2_St* t, const _ScalingSt& s, int cols, int rows, int actHst,
                               int actVst);
    static std::string seamText(const _ImageWindowDef_st& a, const _ImageWindowDef_st& b, const SeamBlank& blank);
    void calc_oact_stitching(const _ImageWindowDef_st& r, _ImageWindowDef2_St* t, int w, int half);
    void get_och(int w, int* list);
    void set_oscwct(int fd, int o);
    void set_lut_vzoom_4sym(int fd, int z, int o);
    void set_display_window_ich(int fd, const _ImageWindowDef_st& a, const _ImageWindowDef_st& b, int w);
    void set_display_window_och(int fd, const _ImageWindowDef_st& a, const _ImageWindowDef_st& b, int w);
    void set_freeze(int fd, int on);
    int check_stitching_win(int& w, int& partner);
    int check_stitching_chg();
    int PM_MEM_WMODE[6] = {};            // memory write mode of window w as programmed
    int PS_MEM_WMODE[6] = {};            // the system's default write mode
    // inputs
    void set_rtct(int fd, int mode);
    void c331_SetInputsource(int win, int source);
    void load_hdmi();
    void check_port_valid(int fd);
    void check_input_port(int fd);
    // input capture pipeline (c is an input channel 0-7, p a chip port 0-5)
    void set_input_bkg(int fd, int port, int on);
    void set_input_bkg2(int fd, int win, int on);
    void set_pict(int fd, int dataMode, int port);
    void set_sypol(int fd, int vbo, int index);
    void set_VBOInput(int fd, int v);
    bool set_VBORXfrange(int fd, int v, int restart, float perLaneHz = 0); // false: no lock seen
    bool wait1_pivs(int fd, int c);      // false: no input frame within the poll bound
    void wait1_pivs2(int fd);
    void calc_iwin2(int win);            // IWIN[win]
    void calc_owin2(int win);            // OWIN[win]
    void set_ip(int fd, int c);
    void set_nr(int fd, int c, int p);
    void set_nr_block(int fd, int c, int p);
    void set_nr_hvpx(int fd, int c, int p);
    void set_nr_mosq(int fd, int c, int p);
    void set_nr_tpx(int fd, int c, int p);
    void writeNrMode(int fd, int c, uint32_t mode); // 15:08 of channel c, kept for the memory dump
    void set_diag(int fd, int c, int p);
    void set_comb(int fd, int c, int p);
    void set_mvflt(int fd, int c, int p);
    void set_ipregs(int fd, int c, int p);
    void set_mct(int fd, int win, int force);
    void set_iscwct(int fd, int win);
    void set_lut_hshrnk(int fd, int ratio, int c, int split);
    void set_lut_vshrnk_4sym(int fd, int ratio, int c, int split);
    static const int8_t lut[10][24];     // vertical shrink coefficient sets
    // input ports and channel allocation
    static int vyrApi_inputCvtC331(int source); // chip port, or 255
    static int vyrApi_GetPortDevId(int port);   // the input manager's device of a chip port
    int vyrApi_GetWinDbdMultiPort(int win, int* list6) const; // 1: a multi-port mode filled list6
    static bool vyrApi_IsWinValid(int win);
    bool vyrApi_IsPatternGen() const;
    int check_ich_all(int win);
    int check_ich(int interlaced, int pair);
    int adjust_ich(int interlaced, int pair, int win);
    int set_input(int win, int port);    // 0 or 1 assigned, 2 not
    void reset_ich(int win);
    void set_ichsel(int fd, int win);
    void set_idual(int fd, int c, int enable, int port);
    int set_dbd_mem(int fd, int win);    // 0, or -1 nothing allocated
    void reset_dbd_mem(int win);
    int check_dbd_input(int fd, int port); // 1: too big for one channel
    void set_display_window_ich_dbd(int fd, int win, int mode);
    // steps of the port upkeep
    bool winInUse(int win) const;        // both shape words non-zero
    void rebuildWinIch();                // g_win_ich from g_ich_owner
    uint32_t usedPorts(bool shownOnly) const; // bit p: a window (a shown one) names port p
    void measurePort(int fd, int p, bool receiverSaysNoSignal);
    void takeTiming(int fd, int p);
    void checkVboLock(int fd, int v);
    void rearmVbo(int fd, int v, uint32_t laneMask);
    void warnNoCapture(int win, const char* why);
    // Waits for output channel o's next frame start; false after kFrameWaitPolls 1 ms polls.
    bool wait1_povs(int fd, int o);
    static constexpr int kFrameWaitPolls = 200; // about twelve frames at 60 Hz
    // on-screen display and fonts
    void load_char();
    void read_c331_font(int fd);
    void update_font(int fd);
    int vyrApi_OsdSet(int type, int value);
    void update_osd(int fd);
    void set_osd(int fd, int plane);
    void set_scroll(int fd);
    uint32_t osd_content_word = 0;    // re-run update_osd
    uint32_t osd_attribute_word = 0;  // re-run set_osd and set_scroll

    // ---- serial flash (bank 0x04 controller); 0 done, non-zero failed ----
    // Every flash sequence (set-up, address, FIFO, start, waits) holds flash_mutex from its first
    // register write to its last, and so do update_osd, update_font and load_bmp, which use the
    // same controller for their memory transfers: sequences of the protocol, the font upgrade and
    // the worker never interleave.
    std::recursive_mutex flash_mutex;
    int erase_flash(int fd, uint32_t firstSector, uint32_t count, int kind);
    int write_flash(int fd, uint32_t address, uint32_t length, const uint8_t* bytes);
    int read_flash(int fd, uint32_t address, uint32_t length, uint8_t* buffer);
    int osd_write_dma_sfl(int fd, uint32_t flashAddr, uint32_t dest, int target, uint32_t size);
    static constexpr uint32_t kFlashSize = 0x2000000;
    static constexpr uint32_t kWritePolls = 9999;  // reads per wait of a page program
    static constexpr uint32_t kErasePolls = 5000;  // erase-busy reads per unit (1 ms apart)
    static constexpr uint32_t kWipPolls = 1000;    // WIP and write-disable reads of an erase

    // ---- fonts ----
    static constexpr uint32_t PS_CHAR_ADDR_32ASCII = 0x000000, PS_CHAR_ADDR_32CHN = 0x010000;
    static constexpr uint32_t PS_CHAR_ADDR_64ASCII = 0x410000, PS_CHAR_ADDR_64CHN = 0x450000;
    static constexpr uint32_t kFontHeader = 0x23;
    static constexpr uint32_t PS_BMP_ADDR = 0xED9800, PS_BMPCP_ADDR = 0x10D3C00;
    static constexpr uint32_t kBmpWidth = 1920, kBmpHeight = 1080, kPaletteBytes = 816;
    static constexpr uint32_t PS_SFL_ADDR = 0x70000000, PS_MEM_OSD = 0x725C0000, PS_MEM_OSD1 = 0x74B80000;
    static constexpr uint32_t PS_FONT_ADDR = 0x7F000000;
    uint32_t g_font_addr_32ASCII = 0, g_font_addr_32CHN = 0, g_font_addr_64ASCII = 0, g_font_addr_64CHN = 0;
    uint32_t osd_font_flash[4] = {};  // data of 32EN, 32CN, 64EN, 64CN in the flash
    uint32_t osd_font_size[4] = {};

    // ---- on-screen display state ----
    int PS_BG_HACT = 0, PS_BG_VACT = 0, PS_BG_COLOR = 0, PS_BG_TRANS = 0;
    int PS_CHAR_HST = 0, PS_CHAR_VST = 0, PS_CHAR_COLOR = 0;
    int g_osd_mwi = 0, g_osd_mwi_shift = 0;
    int OSD_WIN[4] = {};              // HST, HW, VST, VW on the output
    int osd_char_space = 0, osd_line_space = 0, osd_control_flag = 0;
    static constexpr int kOsdLines = 64, kOsdLineChars = 128;
    uint8_t osd_text[kOsdLines][kOsdLineChars * 2] = {}; // high byte first, zero-ended lines
    int g_unicode_line = 0;
    bool osd_plane_stale = true;      // the plane was not drawn since its content changed
    // Lines of UCS-4 characters; the count is clamped to 0-64, a line to 127 characters.
    int vyrApi_OsdSetUnicode(int count, const uint32_t (*lines)[kOsdLineChars], const int* lengths);
    void calc_osd();
    void set_char_color(int fd);
    void gen_char(int fd);
    void load_bmp(int fd);
    bool osd_paint(int fd, uint32_t address, int width, int height, int index);
    bool osd_copy(int fd, uint32_t from, uint32_t to, int width, int height);
    bool osdEngineRun(int fd, uint8_t operation); // start 04:08 and wait for done; false: timed out
    uint32_t osdStrideBytes() const;
    bool osdTrace() const;
    bool flashTrace() const;
    // Flash controller steps, called with flash_mutex held.
    void flashPins(int fd);
    void flashAddressReg(int fd, uint32_t address);
    // With the flash trace on, a wait that ends in time prints finishText and a busyText wait
    // prints the register read every kBusyTraceReads busy reads.
    bool flashWait(int fd, uint32_t desc, uint8_t mask, uint8_t want, uint32_t polls, uint32_t pauseUs,
                   const char* timeoutText, const char* finishText = nullptr, const char* busyText = nullptr);
    bool flashClearWel(int fd, uint32_t polls, const char* finishText = nullptr);
    static constexpr uint32_t kBusyTraceReads = 40;
    bool flashProgramWait(int fd);

    // diagnostics
    void input_slidebar();
    void output_slidebar();
    void disable_slidebar();
    void vbyone_rx_ch1_seq();
    void vbyone_rx_ch2_seq();
    void read_c331_b174bug();
    void write_read_c331_b80_iacthstch5();
    void vyrDbg_c331_param(int group);
    void vyrDbg_c331_print_regGrp(int group);
    void sync_c331_device_test_input();
    void sync_c331_device_test_frame_lock();
    void c331_print();           // console dump of the chip's registers (protocol register 161)
    uint8_t half_flag = 0;       // not 0: FPGA parameter-RAM word 0x74 is reported halved

    // ---- per-input state used by the per-pass upkeep ----
    int PI_UPDATE[6] = {};
    int PI_ACT[6][4] = {};
    int port_refresh[6] = {};  // per-port refresh words
    int g_chg_input[6] = {};
    int PM_INPUT[6] = {4, 5, 1, 2, 3, 0};
    int PM_WIN_FADE_IN[6] = {60, 60, 60, 60, 60, 60};
    int PM_WIN_FADE_OUT[6] = {60, 60, 60, 60, 60, 60};

    // ---- bring-up and the chip model: system (PS_) and user (PM_) parameters ----
    void load_system_param();            // the chip's fixed set-up
    void define_param();                 // values derived from it, channel tables reset
    void load_param();                   // parameters_txt into PM_, raising the change words
    void write_initial_setting(int full); // the chip's register programme; full adds clocks and PLLs
    static const int parameters_txt[160];
    int PS_CLOCK[4] = {};                // Hz
    int PS_PLL_SET1[5] = {};             // [3] divider, [4] multiplier of the divider class
    int PS_PLL_SET2[4] = {};
    int PS_ACTHW = 0, PS_ACTVW = 0, PS_HTOTAL = 0, PS_VTOTAL = 0;
    int PS_HSW = 0, PS_HBP = 0, PS_VSW = 0, PS_VBP = 0;
    int PS_VBOTX_MODE = 0, PS_VBOTX_LAYOUT = 0;
    int PS_MEM_SC[8][5] = {};            // frame-store addresses of input channel c
    int PS_ACTHST = 0, PS_ACTVST = 0;
    int PS_OAOIHST = 0, PS_OAOIHED = 0, PS_OAOIVST = 0, PS_OAOIVED = 0;
    int PS_PANEL_HW = 0, PS_PANEL_VW = 0, PS_PANEL_HSHAPE = 0, PS_PANEL_VSHAPE = 0;
    int PM_WIN_SHAPE[6][2] = {};         // tile columns, rows; both non-zero = window in use
    int PM_WIN_OFFSET[6][4] = {};
    int PM_INPUT_OFFSET[6][4] = {};      // crop margins: left, right, top, bottom
    int PM_INPUT_OFFSET_EN[6] = {};
    int PM_WIN_NUM[8] = {};              // per output channel: the window it serves
    int PM_AREA_NUM[8] = {};             // per output channel: the tile's index in its window
    int PM_OVERLAY[8] = {};              // per output channel: its layer group
    int PM_OVERLAY_PRI[6] = {};
    int PM_MEMMODE_H[6] = {};            // window attribute bit 0: horizontal mirror
    int PM_MEMMODE_V[6] = {};            // window attribute bit 1: vertical mirror
    int PM_WIN_FADE_EN[6] = {};
    int PM_WIN_DBD_MODE[6] = {};
    int PM_WIN_DBD_PARAM[6] = {};
    int PM_WIN_STITCHING[6] = {};
    int PM_OSD_EN = 0, PM_OSD_HZOOM_EN = 0, PM_OSD_VZOOM_EN = 0, PM_OSD_DATA_MODE = 0;
    int PM_OSD_SCROLL_MODE = 0, PM_OSD_SCROLL_SPEED = 0, PM_OSD_CHAR_64DOT = 0;
    int PM_OSD_OUTPUT_OFFSET[4] = {};
    int PM_OSD_INPUT_OFFSET[4] = {};
    int PM_OSD_MODE[2] = {};
    int PM_OSD_UPDATE_BUTTON = 0;
    // change words raised by load_param, consumed by set_output and the OSD upkeep
    uint32_t g_chg_geometry[6] = {};
    uint32_t g_chg_memmode[6] = {};
    uint32_t g_chg_fade[6] = {};
    uint32_t g_chg_dbd[6] = {};
    uint32_t g_chg_overlay = 0;
    uint32_t g_chg_priority = 0;
    uint32_t osd_mode_word[2] = {};
    // input-channel tables: owner window of channel c (-1 free), channels of window w (-1 ends)
    int g_ich_owner[8] = {};
    int g_win_ich[6][8] = {};
    int g_ich_order[5] = {};
    struct MultiWinLayout {
        int wincnt;
        ST_RECT win[6];
    };
    MultiWinLayout mwin_layouts[10] = {};
    std::atomic<uint32_t> font_presence{0}; // bit 0 32CN, 1 32EN, 2 64CN, 3 64EN; the factory page reads it

private:
    c331_manage();
    void startWorker();
    static void* c331manageThread(void* arg);
    void bringUp();
    void showFactoryScreen(const uint16_t* stored); // the stored screen was refused at start
    // Some splice mode takes the screen {width, height, output 1 width, height} with the block's windows.
    bool spliceTakes(const uint16_t* stored);
    // The factory screen stands in for a stored one that waits for its splice: the block keeps its
    // windows, and a layout refused meanwhile is taken back to what the block held.
    bool keep_stored_screen_ = false;
    void takeBackStoredPicture(); // picture values stored out of range become the factory ones
    void openChip();
    void identify();
    pthread_t worker_{};
    bool worker_started_ = false;
    uint32_t bad_id_reads_ = 0;
    void perPassUpkeep();
    // One hand-over as the dispatch sees it: the block and the request bytes taken under the
    // hand-over mutex; the chip is programmed from it without the mutex.
    struct Change {
        uint8_t flag = 0;
        uint8_t block[4096] = {};
        uint8_t sync_test = 0;   // request bytes taken (and cleared) with the change
        uint8_t diag = 0;
        uint8_t dump_param = 0;
        uint8_t dump_group = 0;
        ScalerHandOver::Verdicts verdicts; // the watched changes it carries
    };
    bool takeChange(VyrRamPara& store, Change& change); // false: nothing pending
    void dispatchChange(VyrRamPara& store, const Change& change);
    // A field the chip refused goes back into the block unless a writer changed it meanwhile.
    void takeBack(VyrRamPara& store, const Change& c, const uint8_t* next, uint32_t field, size_t size);
    void recordLayers(uint8_t* next) const; // the resolved layer of every shown window, by record
    // steps of the dispatch, in order; `next` is what the pass leaves applied
    void stepForcedColour(const Change& c, uint8_t* next);
    void stepPanel(const Change& c, uint8_t* next);
    void stepPictureControls(const Change& c, uint8_t* next);
    void stepPriorities(const Change& c, uint8_t* next);
    void stepWindows(const Change& c, uint8_t* next);
    void stepFades(const Change& c, uint8_t* next);
    void stepPattern(const Change& c, uint8_t* next);
    void stepEdids(const Change& c, uint8_t* next);
    void stepAudio(const Change& c, uint8_t* next);
    void stepFpgaRequests(const Change& c, uint8_t* next);
    void stepOsd(const Change& c, uint8_t* next);
    // irregular setters of the tables
    bool applyBrightness(int value);
    bool applyColourTemp(const uint8_t* block);
    // window record fields: false when the value is refused and the previous one kept
    bool applyWinAttr(int w, uint16_t value, const uint8_t* block);
    bool applyWinSource(int w, uint16_t value, const uint8_t* block);
    bool applyWinOutput(int w, uint16_t value, const uint8_t* block);
    bool applyWinDbd(int w, uint16_t value, const uint8_t* block);
    void rebuildWindows();
    bool waitLedParameterStep(); // false: gave up or the FPGA stopped serving it
    void handPanelToFpga();      // the FPGA worker resets FPGA 0, which then takes the panel
    std::bitset<kBlockSize> taken_back_; // this pass: the bytes of the fields it refused
    uint8_t edid_refused_ = 0;   // this pass: inputs whose EDID timing was refused
    bool edid_pending_ = false;  // this pass: changed EDIDs left for the next
    void serveOsdUpdate();
    void serveRequestBytes(const Change& c);
    void writeAllChannels(uint32_t desc, uint32_t value); // the same register on the 8 output channels
    void setGainTriple(uint32_t enable, uint32_t first, uint32_t data);
    void requestBringUp();       // diagnostic request bit 6: identification and bring-up again
    Change change_;              // the hand-over being dispatched
    friend struct DispatchTables;
    std::mutex wake_mutex_;
    std::condition_variable wake_;
    bool wake_pending_ = false;
    TickAlarm idle_alarm_{[this] { wakeWorker(); }}; // the panel's tick burst ends the idle wait
    ScalerHandOver::Point hand_over_{};
};
