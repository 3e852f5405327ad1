#pragma once
#include <cstdint>

// Driver of the two iTE6805 HDMI 2.0 receivers (device 0 = input 4, device 1 = input 5). Every
// operation runs in the input manager's polling thread, after it selected the device's channel on
// switch 0xEE, and takes the device index last. The classes hold no back pointers: they reach the
// bus, its descriptor and one another through keltosource::p_kelto_source.

enum STATEV_Type : int32_t {
    STATEV_VideoOff = 0,
    STATEV_Unplug = 1,
    STATEV_WaitSync = 2,
    STATEV_CheckSync = 3,
    STATEV_VidStable = 4,
    STATEV_Unknown = 5,
};

enum STATEA_Type : int32_t { STATEA_AudioOff = 0, STATEA_RequestAudio, STATEA_WaitForReady, STATEA_AudioOn };

enum STATEEQ_Type : int32_t {
    STATEEQ_EQReset = 0,
    STATEEQ_EQStart = 1,
    STATEEQ_EQTraining = 2,
    STATEEQ_EQTrainDone = 3,
    STATEEQ_EQCheck = 4,
    STATEEQ_EQManual = 5,
    STATEEQ_EQRetry = 6,
    STATEEQ_EQFrozen = 7,
    STATEEQ_EQWaitSARDone = 8,
    STATEEQ_EQDone = 9,
};

struct iTE6805_DATA {
    uint8_t ChipRevision = 0;
    uint8_t TwoSection = 0;
    STATEV_Type STATEV = STATEV_Unplug;
    STATEA_Type STATEA = STATEA_AudioOff;
    STATEEQ_Type STATEEQ = STATEEQ_EQReset;
    uint8_t CurrentPort = 0;
    uint8_t PortSelect = 0, PortSelectPending = 0;
    uint8_t PortReset = 0, PortResetPending = 0;
    // audio
    uint8_t AudioFs = 0, MeasuredFs = 0, AudioChannels = 0;
    uint8_t AVMute = 0;
    // AVI InfoFrame
    uint8_t ColorSpace = 0, Colorimetry = 0, ExtColorimetry = 0, RGBQuantization = 0, YCCQuantization = 0;
    uint8_t VIC = 0, ScanInfo = 0;
    uint8_t ColorChange = 0;
    uint8_t InputType = 0; // 0 HDMI, 1 MHL, 2 DVI
    uint8_t YUV420 = 0;
    uint8_t PixelDivider = 1;
    uint8_t LaneMode = 0, PrevLaneMode = 7;
    uint8_t OutputColorMode = 0, VideoPath = 0;
    uint8_t VideoStable = 0;
};

// Timing as the chip measured it.
struct iTE6805_VidInfo {
    uint16_t HActive = 0, VActive = 0, HTotal = 0, VTotal = 0;
    uint32_t PCLK = 0; // kHz
    uint32_t TMDS = 0; // kHz
    uint32_t FrameRate = 0; // Hz, to the nearest
    uint16_t HFrontPorch = 0, HSyncWidth = 0, HBackPorch = 0;
    uint16_t VFrontPorch = 0, VSyncWidth = 0, VBackPorch = 0;
    uint16_t Interlaced = 0, VPolarity = 0, HPolarity = 0;
    uint16_t Format = 0; // bits 4-7 of 0:98
};

// Per-device counters of the system layer.
struct iTE6805_Counters {
    uint8_t LastAvi = 0;
    uint8_t Deskew = 0;
    uint8_t ResetAll = 0;
    uint8_t SetupPending = 0;
    uint8_t AudioFirstTime = 1;
    uint8_t BitErrRecheck = 0;
    uint8_t Event4 = 0, Event5 = 0, Event6 = 0;
    uint8_t AVMuteTick = 0;
    uint8_t ClockStable = 0;
    uint8_t EccReset = 0;
    uint8_t EccErrors = 0;
    uint8_t CheckSyncCountdown = 0;
    uint8_t AudioWait = 0, AudioCheck = 0;
    uint8_t FsMismatch = 0;
    uint8_t PrevColor[5] = {};
    uint8_t PrevScdt = 0;
};

// Register access, one I2C transfer a call on the input manager's bus.
class ite6805_i2c_rdwr {
public:
    static constexpr uint8_t RxAddress = 0x90;
    static constexpr uint8_t CecAddress = 0xC8;

    uint8_t hdmirxrd(uint8_t reg, int dev);                               // 0 when unanswered
    int hdmirxwr(uint8_t reg, uint8_t value, int dev);                    // 0 ok, 1 failed
    int hdmirxset(uint8_t reg, uint8_t mask, uint8_t value, int dev);     // no write after a failed read
    int hdmirxbwr(uint8_t reg, int n, const uint8_t* buf, int dev);
    void hdimrx_write_init(const uint8_t* table, int dev);                // triples until register 0xFF
    uint8_t cecrd_6805(uint8_t reg, int dev);
    int cecwr_6805(uint8_t reg, uint8_t value, int dev);
    int cecset_6805(uint8_t reg, uint8_t mask, uint8_t value, int dev);
    int cecbrd_it6805(uint8_t reg, int n, uint8_t* buf, int dev);
    int cecbwr_it6805(uint8_t reg, int n, const uint8_t* buf, int dev);
    void chgbank(uint8_t bank, int dev);

    // Receiver-block transfers that failed on this device since the count was last taken.
    uint32_t takeFailures(int dev);

private:
    int read(uint8_t addr, uint8_t reg, uint8_t* out, int n, int dev);
    int write(uint8_t addr, uint8_t reg, const uint8_t* buf, int n, int dev);
    void countFailure(int ok, uint8_t addr, int dev); // refusals of the receiver block only
    uint32_t failures_[2] = {};
};

// Driver routines: identification, initialisation, clocks, hot plug, measurement; and the video
// output, colour and audio routines (iTE6805_output.cpp).
class ite6805_drv {
public:
    static const uint8_t iTE6805_INIT_HDMI_TABLE[];
    static constexpr uint32_t DefaultRclk = 19000;

    int iTE6805_Identify_Chip(int dev);
    void iTE6805_Init_fsm(int dev);
    void iTE6805_Init_CAOF(int dev);
    uint32_t iTE6805_OCLK_Load(int dev);
    void iTE6805_OCLK_Cal(int dev);
    uint8_t iTE6805_Check_5V_State(uint8_t port, int dev);
    void iTE6805_Set_HPD_Ctrl(uint8_t port, uint8_t on, int dev);
    void iTE6805_Port_Select_Body(uint8_t port, int dev);
    void iTE6805_Port_Reset_Body(uint8_t port, int dev);
    void iTE6805_Reset_ALL_Logic(uint8_t port, int dev);
    void iTE6805_Set_47_By_TMDS(int dev);
    void iTE6805_Get_VID_Info(int dev);
    uint32_t iTE6805_Get_PCLK(int dev);
    uint32_t iTE6805_Get_TMDS(int n, int dev);

    // video output, colour, audio
    void iTE6805_Get_AVIInfoFrame_Info(int dev);
    void iTE6805_Check_ColorChange_Update(int dev);
    void iTE6805_INT_HDMI_DVI_Mode_Chg(uint8_t port, int dev);
    void iTE6807_Video_Output_Setting(int dev);
    void iTE6805_Set_1B0_By_PixelClock(int dev);
    void iTE6805_Enable_Video_Output(int dev);
    void iTE6805_Set_Video_Tristate(uint8_t on, int dev);
    void iTE6805_Set_AVMute(uint8_t mute, int dev);
    void iTE6805_Check_AVMute(int dev);
    void iTE6805_aud_chg(STATEA_Type state, int dev);
    void iTE6805_aud_fsm(int dev);
    void iTE6805_Reset_Audio_Logic(int dev);
    void iTE6805_Enable_Audio_Output(int dev);
    void iTE6805_Show_AUD_Info(int dev);
    // TMDS x N / (128 x CTS) in kHz, as the chip's 16-bit value; 0 without CTS.
    static uint32_t iTE6805_Audio_Fs_kHz(uint32_t tmdsKHz, uint32_t n, uint32_t cts);
    static uint8_t iTE6805_Fs_Code(uint32_t khz); // the chip's code of a sampling rate; 0xFF: none

    uint32_t RCLK[2] = {DefaultRclk, DefaultRclk}; // kHz
    uint8_t RCLK160[2] = {};
    uint8_t DSTimingCount = 6;
    uint8_t colorDepthSet[2] = {};
    uint32_t audioN[2] = {}, audioCTS[2] = {}, audioFsKHz[2] = {};

private:
    uint8_t audioSeen_[2][3] = {}; // 0:B0 & 0xF0, 0:B1, 0:B2 & 0x02 when the audio came on
};

// Equaliser training of the current port's three TMDS channels (iTE6805_EQ.cpp).
class ite6805_eq {
public:
    static const uint8_t RS_Value[14];
    static const uint8_t iTE6805_EQ_Table_Hdmi20[4];
    static const uint8_t iTE6805_EQ_Table_Hdmi10[4];

    void iTE6805_hdmirx_port0_EQ_irq(int dev);
    void iTE6805_hdmirx_port1_EQ_irq(int dev);
    void iTE6805_EQ_chg(STATEEQ_Type state, int dev);
    void iTE6805_EQ_fsm(int dev);
    void iTE6805_Reset_EQ(int dev);
    void iTE6805_Trigger_EQ(int dev);
    void iTE6805_Trigger_SAREQ(int dev);
    void iTE6805_Trigger_RSSKEW_EQ(int dev);
    void iTE6805_BitErr_Get(int dev);
    uint8_t iTE6805_BitErr_Check(int dev);       // 1 = all three channels good
    uint8_t iTE6805_BitErr_Check_Again(int dev); // 1 = the link is good
    uint8_t iTE6805_BitErr_Check_For_Parity_Error(int dev);
    void iTE6805_Report_EQ(int dev);
    void iTE6805_Report_Skew(int dev);
    void iTE6805_Set_EQResult_Flag(int dev);
    void iTE6805_Get_DFE(uint8_t channel, int dev);
    void iTE6805_Set_DFE(uint8_t value, uint8_t channel, int dev);

    // Per device (each input trains on its own, so nothing here is shared between them).
    struct Device {
        uint8_t done = 0, result = 0, event6 = 0, fail = 0;
        uint8_t skew = 0, autoTrain = 0, outOfRange = 0;
        uint8_t hdmi1x = 0, hdmi20 = 0, fast = 0;
        uint8_t value[3] = {};
        uint8_t good[3] = {};
        uint8_t marked01 = 0;   // channels 0 and 1 were good together in this training
        uint8_t waitCount = 0;
        uint8_t monCount = 0, monGap = 1;
        uint8_t samples[5][3][2] = {}; // per try, per channel: counter low, high
        uint32_t accumulated[3] = {};
        uint16_t resultA[3] = {}, resultB[3] = {};
        uint8_t dfe[14][3][3] = {};
        uint8_t best[3] = {};
        uint16_t bestErrors[3] = {};
        const uint8_t* table = nullptr;
        uint8_t tryIndex = 0;
    };
    Device dev_[2];

private:
    uint8_t bank(int dev) const; // 3 for port 0, 7 for port 1
};

// CEC engine at 0xC8 (iTE6805_CEC.cpp): receive queue and the answers to a fixed set of queries.
struct CEC_FRAME {
    uint8_t size = 0; // header + opcode + operands
    uint8_t header = 0;
    uint8_t opcode = 0;
    uint8_t operand[18] = {};
};

class ite6805_cec_sys {
public:
    static const uint8_t cec_msg_size[256];
    static constexpr int QueueSize = 64;

    void iTE6805_CEC_INIT(int dev);
    void iTE6805_hdmirx_CEC_irq(int dev);
    void iTE6805_CEC_Receive(int dev);
    void iTE6805_CEC_RX_Reset(int dev);
    bool iTE6805_CEC_Pull(CEC_FRAME* frame, int dev); // next whole frame from the queue
    bool iTE6805_CEC_Accept(const CEC_FRAME& frame, int dev) const;
    void iTE6805_CEC_CMD_Feature_decode(const CEC_FRAME& frame, int dev);
    void iTE6805_CEC_Send(const CEC_FRAME& frame, int dev);

    struct Device {
        uint8_t logical = 0;
        uint8_t physical[2] = {};
        uint8_t queue[QueueSize] = {};
        uint8_t rd = 0, wr = 0; // 6-bit indexes
        CEC_FRAME inHand;
        uint8_t haveInHand = 0;
        uint32_t dropped = 0;   // frames too long for the frame record
    };
    Device dev_[2];

private:
    int queued(int dev) const;
    bool push(const CEC_FRAME& f, int dev);
};
class ite6805_cec_drv {};
class ite6805_cec_feture {};

class ite6805_sys {
public:
    ite6805_sys();
    ~ite6805_sys();
    ite6805_sys(const ite6805_sys&) = delete;
    ite6805_sys& operator=(const ite6805_sys&) = delete;

    int fd = -1;                   // copy of the input manager's bus descriptor
    uint8_t top_state[2] = {0, 0}; // per device: 0 = identify, 1 = running

    ite6805_i2c_rdwr* rdwr = nullptr;
    ite6805_drv* drv = nullptr;
    ite6805_eq* eq = nullptr;
    ite6805_cec_sys* cec_sys = nullptr;
    ite6805_cec_drv* cec_drv = nullptr;
    ite6805_cec_feture* cec_feture = nullptr;

    iTE6805_DATA data[2];
    iTE6805_VidInfo vid[2];
    iTE6805_Counters cnt[2];
    STATEV_Type old_statev[2] = {STATEV_Unknown, STATEV_Unknown};
    uint32_t timeTicks_stb[2] = {};
    // signal watchdog: change count, stamp, last scaler totals
    uint32_t wd_count[2] = {}, wd_stamp[2] = {}, wd_htt[2] = {}, wd_vtt[2] = {};

    // Called by the input manager.
    void iTE6805_FSM(int dev);
    void ite6805_sys_reset_init();
    // Hot plug of a device's port (level 1 high, 0 low), as the input manager asks for it.
    void iTE6805_Set_HPD_Ctrl(int port, int level, int dev);

    void iTE6805_MainBody(int dev);
    void iTE6805_vid_chg(STATEV_Type state, int dev);
    void iTE6805_vid_fsm(int dev);
    void iTE6805_INT_5VPWR_Chg(uint8_t port, int dev);
    void iTE6805_INT_SCDT_Chg(int dev);
    void iTE6805_INT_ECC_ERROR(int dev);
    void iTE6805_hdmirx_port0_SYS_irq(int dev);
    void iTE6805_hdmirx_port1_SYS_irq(int dev);
    void iTE6805_hdmirx_common_irq(int dev);
    void iTE6805_Show_VID_Info(int dev);
    void iTE6805_update_hdmi(int dev);
    void iTE6805_Get_Hdmi(int dev);
    void iTE6805_Set_Stable(int dev, int value);
    void publishNoSignal(int dev);

    // Passes in a row in which the running chip did not answer before the input counts as gone.
    static constexpr int DeadPassLimit = 3;
    static constexpr uint32_t HandshakeTicks = 500;
    static constexpr uint32_t WatchdogTicks = 100;
    static constexpr uint32_t WatchdogLimit = 10;
    static int scalerPort(int dev) { return dev == 0 ? 5 : 4; }
    uint32_t identifyFailures(int dev) const { return valid(dev) ? idFail_[dev] : 0; }

private:
    static bool valid(int dev) { return dev == 0 || dev == 1; }
    void portIrq(uint8_t port, int dev);
    void publish(int dev);
    void watchdog(int dev);
    void lostChip(int dev);
    uint32_t idFail_[2] = {};
    uint8_t deadPasses_[2] = {};
};

// The driver object the routines reach through the input manager (nullptr before it exists).
ite6805_sys* ite6805();
