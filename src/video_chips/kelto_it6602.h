#pragma once
#include <cstdint>

#include "video_chips/hdmi_info.h"

class Drv_I2C0;

enum _Video_State_Type : uint8_t {
    VSTATE_Off = 0,
    VSTATE_TerminationOff,
    VSTATE_TerminationOn,
    VSTATE_5VOff,
    VSTATE_SyncWait,
    VSTATE_SWReset,
    VSTATE_SyncChecking,
    VSTATE_HDCPSet,
    VSTATE_HDCP_Reset,
    VSTATE_ModeDetecting,
    VSTATE_VideoOn,
    VSTATE_ColorDetectReset,
    VSTATE_HDMI_OFF,
    VSTATE_Reserved
};

enum _Audio_State_Type : uint8_t {
    ASTATE_AudioOff = 0,
    ASTATE_RequestAudio,
    ASTATE_ResetAudio,
    ASTATE_WaitForReady,
    ASTATE_AudioOn,
    ASTATE_Reserved
};

// Equaliser run of one port.
struct IT6602_EQ_data {
    uint8_t step = 255; // 255 = idle
    uint8_t errorCount = 0;
    uint8_t port = 0;
    uint8_t inProgress = 0;
    uint8_t counts[3] = {10, 10, 10}; // errors seen at the three equaliser values (saturating)
    uint32_t errors = 0;              // errors counted at the value in force
};

// Colour formats of the input (from the AVI information frame) and of the output.
enum IT6602_ColorFormat : uint8_t { F_RGB444 = 0, F_YUV422 = 1, F_YUV444 = 2 };
enum IT6602_Colorimetry : uint8_t { C_ITU601 = 0, C_ITU709 = 1 };

// The sixteen output configurations: bits 0-1 format (RGB 4:4:4, YUV 4:4:4, YUV 4:2:2, YUV 4:2:2
// with embedded sync), bit 2 double data rate, bit 3 limited (16-235) range.
enum _Video_Output_Configure : uint8_t {
    VOC_Format = 0x03,
    VOC_RGB444 = 0,
    VOC_YUV444 = 1,
    VOC_YUV422 = 2,
    VOC_YUV422EmbeddedSync = 3,
    VOC_DoubleRate = 0x04,
    VOC_Limited = 0x08,
    VOC_Count = 16
};

// Per-receiver driver state.
struct IT6602_dev_data {
    _Video_State_Type videoState = VSTATE_Off;
    _Audio_State_Type audioState = ASTATE_AudioOff;
    uint16_t videoWait = 0;
    uint16_t audioWait = 0;
    uint8_t selectedPort = 0;
    uint8_t outputConfig = 0;
    uint8_t audioFlags = 0, audioChannels = 0, audioFs = 0;
    uint8_t aviChecksum = 0, aviVersion = 0;
    uint8_t flags = 0; // bit 3 HDMI mode, bit 5 new AVI information frame to apply
    uint8_t scdtWait = 0;
    uint8_t dumped3D = 0;
    uint8_t hdcpOff = 0;
    uint8_t portEvent[2] = {}; // pending delayed TMDS check per port, in passes
    uint8_t eventCount[2] = {};
    uint8_t polarityToggles = 0;
    uint8_t eccErrors[2] = {};
    uint8_t avMute = 0; // the source asked for its picture to be muted
    IT6602_EQ_data eq[2];
    // derived from the AVI information frame and the output configuration
    IT6602_ColorFormat inputFormat = F_RGB444;
    IT6602_Colorimetry colorimetry = C_ITU601;
    uint8_t inputLimited = 0;
    uint8_t outputMode = 0; // register 0x65 bits 0-1 and 4-5 as last written
};

// Measured source timing of one receiver.
struct IT6602_VidInfo {
    uint16_t hactive = 0, vactive = 0, htotal = 0, vtotal = 0;
    uint32_t pclk = 0; // integer MHz estimate
    uint32_t khz = 0;  // the receiver's measured clock (bank 2 0xC0-0xC2); 0 when it gives none
    uint16_t h1 = 0, h2 = 0, h3 = 0, v1 = 0, v2 = 0, v3 = 0;
    uint8_t flags = 0; // bit 0 interlaced, bit 1 H positive, bit 2 V positive
};

// Driver of the four IT6602 HDMI receivers (inputs 0-3). Every call takes the bus descriptor and
// the receiver index; the caller has selected the receiver's channel on switch 0xEE.
class kelto_it6602 {
public:
    kelto_it6602();

    int fd = -1; // set by the input manager when it opens the bus
    // The bus the descriptor belongs to, and the six input records the driver fills (records 0-3).
    void attach(Drv_I2C0* bus, HDMI_INFO* records);

    // 1 when the receiver answered its identification (and was reset), else 0.
    int IT6602_fsm_init(int fd, int index);
    // Output clock on and port 0 selected.
    void IT6602_fsm_init_1(int fd, int index);
    // One pass: interrupts, video, audio, equaliser steps, delayed events.
    void IT6602_fsm(int fd, int index);
    // Fills record `index`; the caller holds Utils::_source_hdminfo_mutex.
    void it6602_Get_Hdmi(int fd, int index);
    // The receiver stopped answering: its input shows no signal (resolution and timing records
    // cleared) and its identified bit is cleared, without touching the chip.
    void lostChip(int index);
    // Transfers to the receivers' address that were refused since the last call.
    uint32_t takeFailures();

    IT6602_dev_data* get_IT6602_dev_data(int index);
    const IT6602_VidInfo& vid_info(int index) const { return vid_[index & 3]; }
    uint8_t identify_failures(int index) const { return idFail_[index & 3]; }
    uint32_t oscillator_count(int index) const { return oclk_[index & 3]; }

    // Register access at the current address.
    uint8_t hdmirxrd_it6602(int fd, uint8_t reg);
    int hdmirxwr_it6602(int fd, uint8_t reg, uint8_t value);
    int hdmirxset_it6602(int fd, uint8_t reg, uint8_t mask, uint8_t value);
    int hdmirxbwr_it6602(int fd, uint8_t reg, int count, const uint8_t* bytes);
    void chgbank_it6602(int fd, uint8_t bank);
    void hdimrx_write_init_it6602(int fd, const uint8_t* table);

    int IT6602_Identify_Chip(int fd, int index);
    void IT6602_Rst(int fd, int index);
    void IT6602PortSelect(int fd, int index, uint8_t port);
    void IT6602HPDCtrl(int fd, int index, uint8_t port, bool on);
    void get_vid_info(int fd, int index);
    void show_vid_info(int fd, int index);

    // equaliser (kelto_it6602_eq.cpp)
    void HDMIStartEQDetect(int fd, int index, uint8_t port);
    void HDMIAdjustEQ(int fd, int index, uint8_t port);
    void HDMISwitchEQstate(int fd, int index, uint8_t port, uint8_t state);
    void HDMISetEQValue(int fd, int index, uint8_t port, uint8_t tableIndex);
    void HDMIPollingErrorCount(int fd, int index, uint8_t port);
    bool HDMICheckSCDTon(int fd, int index, uint8_t port);
    uint8_t JudgeBestEQ(int fd, int index, uint8_t port);
    bool OverWriteAmpValue2EQ(int fd, int index, uint8_t port);
    void amplitudeCheck(int fd, int index, uint8_t port);
    void eqFailure(int fd, int index, uint8_t port);
    bool eq_written(int index, uint8_t port) const { return eqWritten_[index & 3][port & 1]; }

    // audio (kelto_it6602_audio.cpp)
    void IT6602SwitchAudioState(int fd, int index, _Audio_State_Type state);

    // output (kelto_it6602_output.cpp)
    void IT6602VideoOutputConfigure(int fd, int index);
    static const uint8_t* cscMatrix(IT6602_ColorFormat in, bool inLimited, IT6602_Colorimetry c, uint8_t config);

    static const uint8_t bCSCMtx_RGB_16_235_RGB_0_255[21];
    static const uint8_t bCSCMtx_RGB_0_255_RGB_16_235[21];
    static const uint8_t bCSCMtx_YUV2RGB_ITU709_0_255[21];
    static const uint8_t bCSCMtx_YUV2RGB_ITU709_16_235[21];
    static const uint8_t bCSCMtx_YUV2RGB_ITU601_0_255[21];
    static const uint8_t bCSCMtx_YUV2RGB_ITU601_16_235[21];
    static const uint8_t bCSCMtx_RGB2YUV_ITU709_0_255[21];
    static const uint8_t bCSCMtx_RGB2YUV_ITU709_16_235[21];
    static const uint8_t bCSCMtx_RGB2YUV_ITU601_0_255[21];
    static const uint8_t bCSCMtx_RGB2YUV_ITU601_16_235[21];

    static const uint8_t IT6602_HDMI_INIT_TABLE[];
    static const char* const VStateStr[];
    static const char* const AStateStr[];
    static const uint8_t IT6602EQTable[3];

    static constexpr uint32_t DefaultOscillator = 48696;
    uint8_t address() const { return addr_; }

private:
    void IT6602HDMIInterruptHandler(int fd, int index);
    void IT6602VideoHandler(int fd, int index);
    void IT6602AudioHandler(int fd, int index);
    void IT6602HDMIEventManager(int fd, int index);
    void IT6602SwitchVideoState(int fd, int index, _Video_State_Type state);
    void WaitingForSCDT(int fd, int index);
    void Cal_oclk(int fd, int index);
    void videoOutput(int fd, int index, bool on);
    void publishResolution(int index, uint16_t w, uint16_t h, uint16_t rate);
    void setIdentified(int index, bool on);
    void portFiveVolt(int fd, int index, uint8_t port, uint8_t status);
    void tmdsCheck(int fd, int index, uint8_t port);
    void eccTimeout(int fd, int index, uint8_t port);
    void resetRsOverride(int fd, int index, uint8_t port);
    void deskew(int fd, int index, uint8_t port);
    void audioCapabilities(int fd, uint8_t caps[3]);
    void audioOutput(int fd, bool on);
    void audioReset(int fd);

    Drv_I2C0* bus_ = nullptr;
    HDMI_INFO* records_ = nullptr;
    HDMI_INFO own_[6] = {};
    uint8_t idFail_[4] = {};
    IT6602_dev_data dev_[4];
    uint8_t fiveV_[4] = {};
    uint8_t amplitude_[4][2][3] = {}; // valid amplitude readings per channel (bit 7 set), else 0
    bool eqWritten_[4][2] = {};       // an equaliser value has been written for the port
    IT6602_VidInfo vid_[4];
    uint32_t oclk_[4] = {};
    uint8_t addr_ = 0x94;
    uint32_t failures_ = 0;
};
