#pragma once
// What the scaler manager knows about its six input ports and eight input channels: the copy of
// the input manager's timing records, the chip's own measurement, the format class of each port,
// and the channel and frame-memory tables of dot-by-dot windows. The manager derives from it, so
// the names read as the manager's own.
#include "params/scaler_ports.h"
#include "scaler/c331_window_types.h"
#include "video_chips/hdmi_info.h"

#include <cstdint>

namespace c331in {

constexpr int kCmosPorts = 4;
constexpr int kWindows = 6;
constexpr int kChannels = 8;     // input channels; de-interlacer and noise stages on 0-3 only
constexpr int kIpChannels = 4;
constexpr int kNoPort = 6;       // a port-list entry that names no port

// The measurement clock of the chip's frame-period counters: PI_FV = clock / period.
constexpr uint32_t kReferenceClockHz = 27000000;
// Line pitch of a capture channel in units of 320 pixels (a 2560-pixel line).
constexpr int kDefaultUnits = 8;
// Dot-by-dot frame memory: six blocks behind five store bases.
constexpr int kDbdBlocks = 6;
constexpr int kDbdBase[5] = {0x30000000, 0x36000000, 0x3C000000, 0x42000000, 0x48000000};
constexpr int kDbdBlockSize = 0x01000000;
// De-interlacer field stores of channels 0-3 (interlaced and progressive input).
constexpr int kIpStoreBase = 0x50000000;
constexpr int kIpStoreStep = 0x01000000;

// Dot-by-dot modes of a window.
enum DbdMode {
    DBD_DISABLE = 0,
    DBD_SINGLE_INPUT = 1,
    DBD_CMOS_IN12 = 20,
    DBD_CMOS_IN12V = 21,
    DBD_CMOS_IN34 = 22,
    DBD_CMOS_IN34V = 23,
    DBD_CMOS_IN123 = 30,
    DBD_CMOS_IN1234 = 40,
    DBD_CMOS_IN1234Q = 41,
    DBD_VBO_IN12 = 50,
    DBD_VBO_IN12V = 51,
};

// Format classes of PI_STATE.
enum PortState {
    STATE_NOSIGNAL = 0,
    STATE_VBO_WIDE = 1,   // V-by-One beyond single rate: horizontal values halved
    STATE_CMOS_DOUBLE = 3, // CMOS double rate: horizontal values halved
    STATE_PROGRESSIVE = 4,
    STATE_I1125_HIGH = 5,
    STATE_I1125_LOW = 6,
    STATE_I525 = 7,
    STATE_I625 = 8,
};

}

// The measurement words and the receivers' handshake are ScalerPorts' (published for the receivers).
struct InputPortState : ScalerPorts {
    // ---- per port ----
    HDMI_INFO PI_HDMI_INFO[c331in::kPorts] = {};    // words 0-15 of the input manager's record
    int PI_STATE[c331in::kPorts] = {};
    int PI_SCAN_MODE[c331in::kPorts] = {};
    int PI_ACT_FULL[c331in::kPorts][4] = {};        // hst, hw, vst, vw before halving
    int PI_HTOTAL[c331in::kPorts] = {};
    int PI_VTOTAL[c331in::kPorts] = {};
    double PI_FPICLK[c331in::kPorts] = {};
    double PI_FH[c331in::kPorts] = {};
    double PI_FV[c331in::kPorts] = {};
    int PI_IFH[c331in::kPorts] = {};
    int PI_IFV[c331in::kPorts] = {};
    uint8_t vbo_relock[2] = {};                    // failed lock checks per receiver, 0-29
    int output_applied = 0;                        // a direct source change reached the chip
    // What the receivers were last given: the sync polarity code of each port (vpol | hpol << 1,
    // CMOS ports | 4), and the lane mode (00:1E) and lane bits (00:39) of V-by-One receivers 0-1.
    int PI_SYNC_POL[c331in::kPorts] = {};
    int PI_VBO_LANE_MODE[2] = {};
    int PI_VBO_LANE_BITS[2] = {};

    // user parameters per port, levels 0 (off) to 3
    int PM_HNR[c331in::kPorts] = {};
    int PM_VNR[c331in::kPorts] = {};
    int PM_TNR[c331in::kPorts] = {};
    int PM_BNR[c331in::kPorts] = {};
    int PM_MNR[c331in::kPorts] = {};
    int PM_COMB[c331in::kPorts] = {};
    int PM_DIAG[c331in::kPorts] = {};
    int PM_MVFLT[c331in::kPorts] = {};
    int PM_IPEN[c331in::kPorts] = {};
    int PM_22PD[c331in::kPorts] = {};
    int PM_23PD[c331in::kPorts] = {};
    int nren_old[c331in::kCmosPorts] = {-1, -1, -1, -1}; // last noise-reduction mode written

    // de-interlacer stores of channels 0-3
    int PS_MEM_IP_I[c331in::kIpChannels][2] = {};
    int PS_MEM_IP_P[c331in::kIpChannels][2] = {};
    int PS_MEM_IPYOFF[c331in::kIpChannels] = {};
    int PS_MWI_IP[c331in::kIpChannels] = {};
    // Channels 0-3 as last programmed: the de-interlacer's field stores (17:18-24), the motion
    // detector's (17:08-14), the noise-reduction mode (15:08, 0 off), the de-interlacer enable (16:5B).
    uint32_t ICH_DI_ADDR[c331in::kIpChannels][4] = {};
    uint32_t ICH_MV_ADDR[c331in::kIpChannels][4] = {};
    int ICH_NR_EN[c331in::kIpChannels] = {};
    int ICH_DI_EN[c331in::kIpChannels] = {};

    // ---- per window ----
    _ImageWindowDef_st IWIN[c331in::kWindows] = {}; // the window's rectangle in its input
    _ImageWindowDef_st OWIN[c331in::kWindows] = {}; // and on the canvas
    // dot-by-dot frame memory
    int g_dbd_mem_owner[c331in::kDbdBlocks] = {-1, -1, -1, -1, -1, -1};
    int g_win_dbd_mem[c331in::kWindows][4] = {{-1, -1, -1, -1}, {-1, -1, -1, -1}, {-1, -1, -1, -1},
                                               {-1, -1, -1, -1}, {-1, -1, -1, -1}, {-1, -1, -1, -1}};
    int g_win_mem_addr[c331in::kWindows][5] = {};
    int g_win_mem_units[c331in::kWindows] = {};

    InputPortState();
};
