#pragma once
#include <cstdint>

// The SDI path: an SDI receiver whose parallel output an IT66121 transmitter turns back into HDMI.
// The input manager's polling thread brings the path up one step a pass: release the resets, test
// the transmitter's identity (up to ten tries), load its register tables, pulse the SDI receiver's
// reset. The transmitter's device loop never finds its ready flag set, so nothing runs after that.

// I2C access to the transmitter (8-bit address 0x98, main bus: no switch channel). The bus and its
// descriptor are the input manager's.
class sdi_it66121 {
public:
    static constexpr uint8_t Address = 0x98;
    static constexpr int ReadLimit = 100;

    int I2C2_IT66121_Read(uint8_t address, uint8_t reg, int count, uint8_t* out);
    int I2C2_IT66121_Write(uint8_t address, uint8_t reg, int count, const uint8_t* bytes);

    // An unanswered read gives 0.
    uint8_t HDMITX_ReadI2C_Byte(uint8_t reg);
    int HDMITX_ReadI2C_ByteN(uint8_t reg, uint8_t* out, int count);
    int HDMITX_WriteI2C_Byte(uint8_t reg, uint8_t value);
    // A plain write for mask 0xFF, otherwise read, (old & ~mask) | (value & mask), write.
    int HDMITX_SetI2C_Byte(uint8_t reg, uint8_t mask, uint8_t value);
};

// Register layer: register tables of rows (register, mask, value).
class it66121_hdmitx_drv {
public:
    explicit it66121_hdmitx_drv(sdi_it66121& io) : io_(io) {}

    static const uint8_t HDMITX_Init_Table[];
    static const uint8_t HDMITX_DefaultVideo_Table[];
    static const uint8_t HDMITX_SetHDMI_Table[];
    static const uint8_t HDMITX_DefaultAVIInfo_Table[];
    static const uint8_t HDMITX_DeaultAudioInfo_Table[];
    static const uint8_t HDMITX_Aud_CHStatus_LPCM_20bit_48Khz[];
    static const uint8_t HDMITX_AUD_SPDIF_2ch_24bit[];

    void HDMITX_InitTxDev(const uint8_t* instance); // copies the 20-byte device description
    void InitHDMITX();                              // the tables, in order
    // Rows until 00/00/00: mask 0xFF write, mask 1-0xFE masked write, mask 0 and value 0 with a
    // register r pause r ms.
    void hdmitx_LoadRegSetting(const uint8_t* table);
    void Switch_HDMITX_Bank(uint8_t bank);

    uint8_t instance[20] = {};
    uint8_t option_flag = 0; // bit 7 of the description's third byte

private:
    sdi_it66121& io_;
};

// System layer: device description and the display option the device loop would apply.
class it66121_hdmitx_sys {
public:
    static const uint8_t InstanceData[20];

    void InitHDMITX_Variable(it66121_hdmitx_drv& drv);
    // Stores the pixel clock, aspect and colorimetry of a CEA-861 VIC (other VICs clear the
    // video-changed flag). The device loop would apply them; it never runs.
    void HDMITX_ChangeDisplayOption(uint8_t vic, uint8_t outputColorMode);
    void HDMITX_DevLoopProc(); // returns at once while the ready flag is clear

    uint8_t tx_ready = 0;    // nothing sets it
    uint8_t hpd_state[2] = {};
    uint8_t vic = 0;
    uint32_t pixel_clock_hz = 0;
    uint8_t pixel_repetition = 0;
    uint8_t aspect_16_9 = 0;
    uint8_t colorimetry_709 = 0;
    uint8_t output_color_mode = 0;
    uint8_t video_changed = 0;
};

// The SDI path as the input manager drives it.
class it66121_sys {
public:
    it66121_sys();
    ~it66121_sys();
    it66121_sys(const it66121_sys&) = delete;
    it66121_sys& operator=(const it66121_sys&) = delete;

    uint8_t test_result = 0; // 1 = the transmitter answered with its identity
    uint8_t fail_count = 0;  // failed identity tests (the input manager stops at 10)

    it66121_hdmitx_sys* hdmitx_sys = nullptr;
    it66121_hdmitx_drv* hdmitx_drv = nullptr;
    sdi_it66121* io = nullptr;

    void sdi_it66121_init(); // transmitter enabled, SDI receiver running
    int IT66121_Test();      // 1 when bank 0 registers 1, 0 read 0x49, 0x54
    void IT66121_init();     // variables, tables, display option VIC 16, SDI receiver reset pulse
    void CHANGE_INPUT(int n);
    void GS2971_Reset();     // SDI receiver reset: 0, 50 ms, 1
    void HDMITX_DevLoopProc();

    static constexpr uint32_t ResetPulseMs = 50;
};
