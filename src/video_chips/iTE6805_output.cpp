// Video output, colour and audio of the iTE6805 receivers: AVI InfoFrame decode, colour
// conversion, output lane mode and clocks, tristate and AV mute, and the audio state machine with
// its sampling-rate check.
#include "video_chips/iTE6805_SYS.h"

#include "base/delay.h"
#include "base/global.h"
#include "base/logMsg.h"

#include <cstdio>
#include <string>

namespace {
// Conversion rows (22 bytes, registers 1:70-1:85) from YCbCr to RGB.
constexpr uint8_t CscBt601[22] = {0x04, 0x00, 0xa7, 0x4f, 0x09, 0x81, 0x39, 0xdd, 0x3c, 0x4f, 0x09,
                                  0xc4, 0x0c, 0x01, 0x00, 0x4f, 0x09, 0xfd, 0x3f, 0x1f, 0x10, 0x00};
constexpr uint8_t CscBt709[22] = {0x04, 0x00, 0xa7, 0x4f, 0x09, 0xba, 0x3b, 0x4b, 0x3e, 0x4f, 0x09,
                                  0x57, 0x0e, 0x02, 0x00, 0x4f, 0x09, 0xfe, 0x3f, 0xe8, 0x10, 0x00};
constexpr uint8_t CscBt2020[22] = {0x04, 0x00, 0xa7, 0x4f, 0x09, 0xcc, 0x3a, 0x7e, 0x3e, 0x4f, 0x09,
                                   0x69, 0x0d, 0x0b, 0x00, 0x4f, 0x09, 0xfe, 0x3f, 0x1d, 0x11, 0x00};
constexpr int PllPolls = 500;

ite6805_sys& sys() { return *ite6805(); }
ite6805_i2c_rdwr& io() { return *ite6805()->rdwr; }

void pulse(uint8_t reg, uint8_t bit, int dev)
{
    io().hdmirxset(reg, bit, bit, dev);
    io().hdmirxset(reg, bit, 0, dev);
}

bool revisionClass(int dev)
{
    const uint8_t rev = sys().data[dev].ChipRevision;
    return rev == 0x10 || rev == 0xE0;
}

// Output block fixes of the 0x10/0xE0 revisions; the caller is in bank 5.
void revisionFix(int dev)
{
    ite6805_i2c_rdwr& r = io();
    r.hdmirxset(0xC9, 0xF7, 0x78, dev);
    r.hdmirxwr(0xD5, 0x80, dev);
    r.hdmirxwr(0xD7, 0x0C, dev);
    r.hdmirxwr(0xDF, 0x87, dev);
    r.hdmirxset(0xE1, 0x80, 0x80, dev);
    r.hdmirxset(0xC9, 0x02, (r.hdmirxrd(0xDB, dev) & 0x08) ? 0x02 : 0x00, dev);
}

}

uint8_t ite6805_drv::iTE6805_Fs_Code(uint32_t khz)
{
    struct Range {
        uint16_t low, high;
        uint8_t code;
    };
    static const Range table[] = {{26, 38, 0x03},   {39, 45, 0x00},   {46, 58, 0x02},   {59, 78, 0x0B},
                                  {79, 91, 0x08},   {92, 106, 0x0A},  {107, 166, 0x2B}, {167, 182, 0x0C},
                                  {183, 202, 0x0E}, {225, 320, 0x1B}, {321, 448, 0x05}, {449, 638, 0x3B},
                                  {639, 894, 0x09}, {895, 1324, 0x35}};
    for (const Range& r : table)
        if (khz >= r.low && khz <= r.high)
            return r.code;
    return 0xFF;
}

// ---- AVI InfoFrame and colour ------------------------------------------------------------------

void ite6805_drv::iTE6805_Get_AVIInfoFrame_Info(int dev)
{
    iTE6805_DATA& d = sys().data[dev];
    ite6805_i2c_rdwr& r = io();
    r.chgbank(2, dev);
    const uint8_t b15 = r.hdmirxrd(0x15, dev);
    const uint8_t b16 = r.hdmirxrd(0x16, dev);
    const uint8_t b17 = r.hdmirxrd(0x17, dev);
    const uint8_t b18 = r.hdmirxrd(0x18, dev);
    const uint8_t b19 = r.hdmirxrd(0x19, dev);
    r.chgbank(0, dev);
    d.ColorSpace = (b15 >> 5) & 0x03;
    d.ScanInfo = b15 & 0x03;
    d.Colorimetry = (b16 >> 6) & 0x03;
    d.ExtColorimetry = (b17 >> 4) & 0x07;
    d.RGBQuantization = (b17 >> 2) & 0x03;
    d.VIC = b18 & 0x7F;
    d.YCCQuantization = (b19 >> 6) & 0x03;
    if (d.RGBQuantization == 0)
        d.RGBQuantization = d.VIC <= 1 ? 2 : 1; // full range for VGA and no code, limited otherwise
    d.YUV420 = d.ColorSpace == 3 ? 1 : 0;
}

void ite6805_drv::iTE6805_Check_ColorChange_Update(int dev)
{
    iTE6805_DATA& d = sys().data[dev];
    uint8_t* prev = sys().cnt[dev].PrevColor;
    const uint8_t now[5] = {d.ColorSpace, d.Colorimetry, d.ExtColorimetry, d.RGBQuantization, d.YCCQuantization};
    uint8_t bits = 0;
    for (int i = 0; i < 5; ++i)
        if (now[i] != prev[i])
            bits = uint8_t(bits | (1u << i));
    d.ColorChange = bits;
    if (bits)
        for (int i = 0; i < 5; ++i)
            prev[i] = now[i];
}

// ---- input type --------------------------------------------------------------------------------

void ite6805_drv::iTE6805_INT_HDMI_DVI_Mode_Chg(uint8_t port, int dev)
{
    ite6805_sys& s = sys();
    io().chgbank(0, dev);
    const bool hdmi = io().hdmirxrd(port == 0 ? 0x13 : 0x16, dev) & 0x02;
    if (!hdmi) {
        iTE6805_aud_chg(STATEA_AudioOff, dev);
        if (s.data[dev].STATEV == STATEV_VidStable)
            iTE6805_Enable_Video_Output(dev);
    } else if (s.data[dev].STATEV == STATEV_VidStable) {
        iTE6805_Enable_Video_Output(dev);
        iTE6805_aud_chg(STATEA_RequestAudio, dev);
    }
}

// ---- output ------------------------------------------------------------------------------------

void ite6805_drv::iTE6807_Video_Output_Setting(int dev)
{
    ite6805_sys& s = sys();
    ite6805_i2c_rdwr& r = io();
    iTE6805_DATA& d = s.data[dev];
    const iTE6805_VidInfo& v = s.vid[dev];
    const uint32_t pclk = v.PCLK;

    r.chgbank(0, dev);
    r.hdmirxset(0x64, 0x04, 0x00, dev);
    pulse(0x64, 0x02, dev);
    r.chgbank(5, dev);
    r.hdmirxset(0x20, 0x40, 0x40, dev);
    r.hdmirxset(0xCB, 0x01, 0x00, dev);
    pulse(0xD3, 0x80, dev);
    r.hdmirxwr(0xC7, pclk < 30000 ? 0x49 : 0x00, dev);
    r.chgbank(1, dev);
    r.hdmirxset(0xC0, 0x01, 0x00, dev);

    d.TwoSection = (v.HActive <= 2176 && pclk < 160000) ? 0 : 1;
    if (traceOn())
        std::printf("\t iTE6807_Video_Output_Setting:dev_id:%d hact:%d,pclk=%d,_iTE6807_EnableTwoSectionMode_=%d\n", dev,
                    int(v.HActive), int(pclk), int(d.TwoSection));
    r.chgbank(5, dev);
    r.hdmirxset(0xCB, 0x01, d.TwoSection ? 0x01 : 0x00, dev);
    r.chgbank(0, dev);
    r.hdmirxset(0x64, 0x04, d.TwoSection ? 0x04 : 0x00, dev);
    if (d.TwoSection)
        pulse(0x33, 0x02, dev);

    // Lane mode: the 4K test measures the clock once more.
    const uint32_t again = iTE6805_Get_PCLK(dev);
    const bool fourK = again > 320000 || (again > 160000 && d.YUV420);
    uint8_t lane;
    if (fourK || pclk > 320000) {
        lane = 3;
    } else if (pclk <= 80000) {
        lane = 0;
    } else if (pclk <= 160000 && v.HActive <= 2176) {
        lane = 1;
    } else {
        const bool aligned = v.HTotal % 4 == 0 && v.HActive % 4 == 0 && v.HBackPorch % 4 == 0 &&
                             v.HFrontPorch % 4 == 0 && v.HSyncWidth % 4 == 0;
        lane = aligned ? 2 : 1;
    }
    d.LaneMode = lane;

    r.chgbank(1, dev);
    r.hdmirxset(0xBD, 0x30, lane ? 0x10 : 0x00, dev);
    colorDepthSet[dev] = 1;
    r.chgbank(5, dev);
    r.hdmirxset(0xC0, 0xF0, uint8_t(0x40 + 16 * lane), dev);
    auto kick = [&] {
        r.hdmirxset(0xD2, 0x10, 0x00, dev);
        r.hdmirxset(0xD2, 0x10, 0x10, dev);
        Delay::ms(10);
        return r.hdmirxrd(0xDB, dev);
    };
    uint8_t db = kick();
    for (int i = 0; i < PllPolls && !(db & 0x10); ++i)
        db = kick();
    if (!(db & 0x10))
        writeLogMsg(LOG_WARNING, "iTE6805 device " + std::to_string(dev) +
                                     ": output PLL not locked after " + std::to_string(PllPolls) + " tries, going on");
    for (uint8_t a = 0xD8; a <= 0xDA; ++a)
        r.hdmirxrd(a, dev);
    r.hdmirxset(0xC6, 0x07, (db & 0x0C) == 0x0C ? 4 : 3, dev);
    r.hdmirxset(0xC1, 0x04, 0x00, dev);
    r.hdmirxrd(0xC5, dev);
    r.hdmirxrd(0xC6, dev);
    r.hdmirxrd(0xCA, dev);
    if (revisionClass(dev))
        revisionFix(dev);
    r.chgbank(0, dev);

    if (d.PrevLaneMode == 7 || (d.PrevLaneMode == 0) != (lane == 0)) {
        d.PrevLaneMode = lane;
        r.hdmirxset(0x22, 0x01, 0x01, dev);
        Delay::ms(1);
        r.hdmirxset(0x22, 0x01, 0x00, dev);
        // write-one latches: a read-modify-write would clear every other pending bit as well
        r.hdmirxwr(0x10, 0x02, dev);
        r.hdmirxwr(0x12, 0x80, dev);
        Delay::ms(1);
    }
    r.chgbank(5, dev);
    r.hdmirxset(0xC9, 0x01, 0x00, dev);
    r.chgbank(0, dev);
}

void ite6805_drv::iTE6805_Set_1B0_By_PixelClock(int dev)
{
    ite6805_sys& s = sys();
    ite6805_i2c_rdwr& r = io();
    iTE6805_DATA& d = s.data[dev];
    r.chgbank(0, dev);
    static const uint8_t dividers[4] = {1, 2, 1, 4};
    d.PixelDivider = dividers[(r.hdmirxrd(0x1B, dev) >> 4) & 0x03];
    const uint8_t port = d.CurrentPort;
    const bool fast = r.hdmirxrd(port == 0 ? 0x14 : 0x17, dev) & 0x01;
    r.chgbank(1, dev);
    r.hdmirxset(0xB0, 0x01, s.vid[dev].PCLK / d.PixelDivider >= 25000 ? 0x01 : 0x00, dev);
    if (!(r.hdmirxrd(0xC0, dev) & 0x01))
        r.hdmirxset(0xB0, 0x01, 0x00, dev);
    r.hdmirxset(0xB0, 0x01, d.LaneMode ? 0x01 : 0x00, dev);
    r.chgbank(3, dev);
    r.hdmirxset(0xB0, 0x08, fast ? 0x00 : 0x08, dev);
    r.chgbank(0, dev);
}

void ite6805_drv::iTE6805_Enable_Video_Output(int dev)
{
    ite6805_sys& s = sys();
    ite6805_i2c_rdwr& r = io();
    iTE6805_DATA& d = s.data[dev];
    const uint8_t port = d.CurrentPort;
    r.chgbank(0, dev);
    const uint8_t status = r.hdmirxrd(port == 0 ? 0x13 : 0x16, dev);
    const bool dvi = !(port == 0 && (status & 0x40)) && !(status & 0x02);
    if (dvi) {
        d.InputType = 2;
        d.ColorSpace = 0; // DVI carries RGB
        r.hdmirxset(0x6B, 0x30, 0x10, dev);
        r.hdmirxset(0x6B, 0x01, 0x01, dev);
        r.chgbank(port == 1 ? 4 : 0, dev);
        d.Colorimetry = r.hdmirxrd(0x48, dev) < 52 ? 2 : 1;
        r.chgbank(0, dev);
    } else {
        iTE6805_Get_AVIInfoFrame_Info(dev);
        d.InputType = (port == 0 && (status & 0x40)) ? 1 : 0;
        r.hdmirxset(0x6B, 0x30, uint8_t(d.ColorSpace << 4), dev);
        r.hdmirxset(0x6B, 0x01, 0x00, dev);
    }
    r.hdmirxwr(0x6E, 0xE0, dev);
    r.chgbank(1, dev);
    r.hdmirxwr(0x86, 0x00, dev);
    r.chgbank(0, dev);
    if (d.ColorSpace == 0) {
        r.hdmirxset(0x6C, 0x03, 0x00, dev);
        r.chgbank(1, dev);
        r.hdmirxwr(0x85, 0x00, dev);
    } else {
        r.hdmirxset(0x6C, 0x03, 0x03, dev);
        const uint8_t* row = CscBt601;
        if (d.Colorimetry == 2)
            row = CscBt709;
        else if (d.Colorimetry == 3 && (d.ExtColorimetry == 5 || d.ExtColorimetry == 6))
            row = CscBt2020;
        r.chgbank(1, dev);
        r.hdmirxbwr(0x70, 22, row, dev);
    }
    // colour depth
    r.chgbank(5, dev);
    r.hdmirxwr(0xC7, s.vid[dev].PCLK < 30000 ? 0x49 : 0x00, dev);
    r.chgbank(0, dev);
    r.hdmirxset(0x6B, 0x03, 0x01, dev);
    colorDepthSet[dev] = 1;
    if (revisionClass(dev)) {
        r.chgbank(5, dev);
        revisionFix(dev);
    }
    r.chgbank(0, dev);
}

void ite6805_drv::iTE6805_Set_Video_Tristate(uint8_t on, int dev)
{
    ite6805_i2c_rdwr& r = io();
    r.chgbank(0, dev);
    const uint8_t format = r.hdmirxrd(0x98, dev) & 0xF0;
    sys().vid[dev].Format = format;
    r.chgbank(1, dev);
    if (on) {
        r.hdmirxwr(0xC5, 0xFF, dev);
        r.hdmirxwr(0xC6, 0xFF, dev);
    } else {
        r.hdmirxset(0xC5, 0x80, 0x00, dev);
        r.hdmirxset(0xC6, 0x80, 0x00, dev);
        const uint8_t mode = r.hdmirxrd(0xC0, dev);
        if (mode & 0x01) {
            r.hdmirxwr(0xC6, format == 0x10 ? 0x40 : 0x00, dev);
        } else {
            switch (mode & 0xC0) {
            case 0x00:
            case 0x40:
                r.hdmirxwr(0xC5, format == 0x10 ? 0x78 : format == 0x20 ? 0x38 : 0x18, dev);
                break;
            case 0x80:
                r.hdmirxwr(0xC5, format == 0x10 ? 0x63 : format == 0x20 ? 0x23 : 0x03, dev);
                break;
            default:
                break;
            }
        }
    }
    r.chgbank(0, dev);
}

void ite6805_drv::iTE6805_Check_AVMute(int dev)
{
    ite6805_sys& s = sys();
    ite6805_i2c_rdwr& r = io();
    r.chgbank(s.data[dev].CurrentPort == 1 ? 4 : 0, dev);
    s.data[dev].AVMute = (r.hdmirxrd(0xAA, dev) & 0x08) ? 1 : 0;
    r.chgbank(0, dev);
}

void ite6805_drv::iTE6805_Set_AVMute(uint8_t mute, int dev)
{
    ite6805_sys& s = sys();
    ite6805_i2c_rdwr& r = io();
    r.chgbank(0, dev);
    if (mute) {
        r.hdmirxset(0x4F, 0xA0, 0xA0, dev);
        r.chgbank(1, dev);
        r.hdmirxset(0xC5, 0x80, 0x80, dev);
        r.chgbank(0, dev);
        return;
    }
    if (s.data[dev].STATEV != STATEV_VidStable)
        return;
    iTE6805_Check_AVMute(dev);
    if (s.data[dev].AVMute) {
        r.hdmirxset(0x4F, 0x80, 0x80, dev);
        return;
    }
    r.chgbank(1, dev);
    pulse(0xC5, 0x01, dev);
    if (r.hdmirxrd(0xC0, dev) & 0x01)
        r.hdmirxset(0xC5, 0x01, 0x01, dev);
    r.chgbank(0, dev);
    r.hdmirxset(0x4F, 0xA0, 0xA0, dev);
    r.hdmirxset(0x4F, 0xA0, 0x80, dev);
}

// ---- audio -------------------------------------------------------------------------------------

void ite6805_drv::iTE6805_aud_chg(STATEA_Type state, int dev)
{
    ite6805_sys& s = sys();
    ite6805_i2c_rdwr& r = io();
    iTE6805_DATA& d = s.data[dev];
    if (d.STATEA == state)
        return;
    d.STATEA = state;
    switch (state) {
    case STATEA_AudioOff:
    case STATEA_RequestAudio:
        s.cnt[dev].FsMismatch = 0;
        r.chgbank(0, dev);
        r.hdmirxset(0x81, 0x40, 0x00, dev);
        r.chgbank(1, dev);
        r.hdmirxwr(0xC7, 0x7F, dev);
        break;
    case STATEA_WaitForReady:
        r.chgbank(0, dev);
        pulse(0x8C, 0x10, dev);
        s.cnt[dev].AudioWait = 4;
        break;
    case STATEA_AudioOn:
        iTE6805_Show_AUD_Info(dev);
        iTE6805_Enable_Audio_Output(dev);
        r.chgbank(1, dev);
        r.hdmirxwr(0xC7, 0x00, dev);
        break;
    }
    r.chgbank(0, dev);
}

void ite6805_drv::iTE6805_aud_fsm(int dev)
{
    ite6805_sys& s = sys();
    ite6805_i2c_rdwr& r = io();
    iTE6805_DATA& d = s.data[dev];
    iTE6805_Counters& c = s.cnt[dev];
    r.chgbank(0, dev);
    switch (d.STATEA) {
    case STATEA_RequestAudio:
        c.AudioFirstTime = 1;
        audioSeen_[dev][0] = audioSeen_[dev][1] = audioSeen_[dev][2] = 0;
        iTE6805_aud_chg(STATEA_WaitForReady, dev);
        break;
    case STATEA_WaitForReady: {
        if (c.AudioWait)
            --c.AudioWait;
        if (c.AudioWait)
            break;
        r.chgbank(d.CurrentPort == 1 ? 4 : 0, dev);
        const uint8_t b9 = r.hdmirxrd(0xB9, dev);
        r.chgbank(0, dev);
        if (b9 & 0xC0)
            iTE6805_Reset_Audio_Logic(dev);
        const bool sync = r.hdmirxrd(0x19, dev) & 0x80;
        const bool audio = (r.hdmirxrd(0xB1, dev) & 0x80) && !(r.hdmirxrd(0x10, dev) & 0x80);
        if (!sync || !audio)
            c.AudioWait = 4;
        else
            iTE6805_aud_chg(STATEA_AudioOn, dev);
        break;
    }
    case STATEA_AudioOn: {
        if (c.AudioCheck)
            --c.AudioCheck;
        if (c.AudioCheck)
            break;
        c.AudioCheck = 3;
        const uint8_t now[3] = {uint8_t(r.hdmirxrd(0xB0, dev) & 0xF0), r.hdmirxrd(0xB1, dev),
                                uint8_t(r.hdmirxrd(0xB2, dev) & 0x02)};
        if (c.AudioFirstTime) {
            for (int i = 0; i < 3; ++i)
                audioSeen_[dev][i] = now[i];
            c.AudioFirstTime = 0;
            r.hdmirxset(0x8C, 0x08, 0x08, dev);
        } else if (now[0] != audioSeen_[dev][0] || now[1] != audioSeen_[dev][1] || now[2] != audioSeen_[dev][2]) {
            iTE6805_aud_chg(STATEA_RequestAudio, dev);
        }
        break;
    }
    default:
        break;
    }
    r.chgbank(0, dev);
}

void ite6805_drv::iTE6805_Show_AUD_Info(int dev)
{
    ite6805_i2c_rdwr& r = io();
    iTE6805_DATA& d = sys().data[dev];
    r.chgbank(0, dev);
    if (r.hdmirxrd(0xB0, dev) & 0x40) {
        d.AudioChannels = 2;
        return;
    }
    switch (r.hdmirxrd(0xB1, dev) & 0x3F) {
    case 1: d.AudioChannels = 2; break;
    case 3: d.AudioChannels = 4; break;
    case 7: d.AudioChannels = 6; break;
    case 15: d.AudioChannels = 8; break;
    case 31: d.AudioChannels = 10; break;
    case 63: d.AudioChannels = 12; break;
    default: break;
    }
}

void ite6805_drv::iTE6805_Reset_Audio_Logic(int dev)
{
    ite6805_i2c_rdwr& r = io();
    r.chgbank(0, dev);
    pulse(0x22, 0x02, dev);
    for (int i = 0; i < 4; ++i)
        r.hdmirxwr(0x8A, r.hdmirxrd(0x8A, dev), dev);
}

uint32_t ite6805_drv::iTE6805_Audio_Fs_kHz(uint32_t tmdsKHz, uint32_t n, uint32_t cts)
{
    if (cts == 0)
        return 0;
    // TMDS x N passes 2^32 at HDMI 2.0 clocks: 64 bits, then the chip's 16-bit value.
    return uint16_t(uint64_t(tmdsKHz) * n / (128ull * cts));
}

void ite6805_drv::iTE6805_Enable_Audio_Output(int dev)
{
    ite6805_sys& s = sys();
    ite6805_i2c_rdwr& r = io();
    iTE6805_DATA& d = s.data[dev];
    iTE6805_Counters& c = s.cnt[dev];
    r.chgbank(0, dev);
    r.hdmirxset(0x86, 0x01, 0x01, dev);
    r.chgbank(2, dev);
    const uint32_t be = r.hdmirxrd(0xBE, dev), bf = r.hdmirxrd(0xBF, dev), c0 = r.hdmirxrd(0xC0, dev);
    const uint32_t c1 = r.hdmirxrd(0xC1, dev), c2 = r.hdmirxrd(0xC2, dev);
    r.chgbank(0, dev);
    audioN[dev] = (be << 12) + (bf << 4) + (c0 & 0x0F);
    audioCTS[dev] = (c1 << 12) + (c2 << 4) + (c0 >> 4);
    const uint32_t tmds = iTE6805_Get_TMDS(10, dev);
    if (audioCTS[dev] == 0)
        return;
    audioFsKHz[dev] = iTE6805_Audio_Fs_kHz(tmds, audioN[dev], audioCTS[dev]);
    const uint8_t code = iTE6805_Fs_Code(audioFsKHz[dev]);
    if (code != 0xFF)
        d.AudioFs = code;
    r.chgbank(0, dev);
    const uint8_t b5 = r.hdmirxrd(0xB5, dev);
    const uint8_t chip = uint8_t(((b5 >> 2) & 0x30) | (b5 & 0x0F));
    if (d.AudioFs == chip) {
        d.MeasuredFs = d.AudioFs;
        const bool forced = r.hdmirxrd(0x81, dev) & 0x40;
        r.hdmirxset(0x81, 0x40, 0x00, dev);
        if (forced)
            iTE6805_Reset_Audio_Logic(dev);
        c.FsMismatch = 0;
        return;
    }
    if (++c.FsMismatch > 15) {
        r.hdmirxset(0x81, 0x40, 0x40, dev);
        r.hdmirxset(0x8A, 0x3F, d.AudioFs, dev);
        d.MeasuredFs = d.AudioFs;
        c.FsMismatch = 0;
        iTE6805_Reset_Audio_Logic(dev);
    }
    r.chgbank(0, dev);
}
