#include "video_chips/kelto_it6602.h"
#include "video_chips/keltosource_status.h"

#include "base/posix_lock.h"
#include "base/utils.h"
#include "params/block_layout.h"
#include "params/vyrrampara.h"
#include "base/delay.h"
#include "video_chips/drv_i2c.h"
#include "video_chips/kelto_it6602_regs.h"

#include <QMutexLocker>
#include <cstdio>
#include <cstring>

using namespace it6602;

namespace {
constexpr uint8_t Identity[4] = {0x54, 0x49, 0x02, 0x68};
constexpr uint8_t FirstAddress = 0x90, SecondAddress = 0x94;
constexpr uint8_t IdentifiedBit[4] = {0x01, 0x04, 0x08, 0x10};

constexpr uint8_t RegPixelSample = 0x9A;

constexpr uint16_t WaitRunsOut = 101;
constexpr uint8_t PortEventPasses = 3;
constexpr uint8_t EccLimit = 22;
constexpr uint8_t NoSyncLimit = 21; // passes with power and clock but no sync before a link reset
constexpr uint32_t EccPauseMs = 300;
constexpr uint32_t OscillatorTolerance = 24348;
}

const uint8_t kelto_it6602::IT6602_HDMI_INIT_TABLE[] = {
    0x0F, 0x03, 0x00, 0x10, 0xFF, 0x08, 0x0F, 0x03, 0x00, 0x10, 0xFF, 0x17, 0x11, 0xFF, 0x1F, 0x18, 0xFF, 0x1F,
    0x12, 0xFF, 0xF8, 0x10, 0xFF, 0x10, 0x11, 0xFF, 0xA0, 0x18, 0xFF, 0xA0, 0x12, 0xFF, 0x00, 0x0F, 0x03, 0x01,
    0xB0, 0x03, 0x00, 0x0F, 0x03, 0x00, 0x17, 0xC0, 0x80, 0x1E, 0xC0, 0x00, 0x16, 0x08, 0x08, 0x1D, 0x08, 0x08,
    0x2B, 0xFF, 0x07, 0x31, 0xFF, 0x09, 0x49, 0xFF, 0x09, 0x35, 0x1E, 0x14, 0x4B, 0x1E, 0x14, 0x54, 0xFF, 0x11,
    0x6A, 0xFF, 0x81, 0x74, 0xFF, 0xA0, 0x50, 0x1F, 0x12, 0x65, 0x0C, 0x00, 0x7A, 0x80, 0x80, 0x85, 0x02, 0x02,
    0xC0, 0x03, 0x03, 0x87, 0xFF, 0x00, 0x71, 0x08, 0x00, 0x37, 0xFF, 0xA6, 0x4D, 0xFF, 0xA6, 0x67, 0x80, 0x00,
    0x7A, 0x50, 0x50, 0x77, 0x80, 0x80, 0x0F, 0x03, 0x01, 0xC0, 0x8C, 0x88, 0x0F, 0x03, 0x00, 0x7E, 0x40, 0x40,
    0x52, 0x20, 0x20, 0x53, 0xCF, 0x4F, 0x58, 0xFF, 0x33, 0x59, 0xFF, 0xAA, 0x25, 0xFF, 0x1F, 0x3D, 0xFF, 0x1F,
    0x27, 0xFF, 0x1F, 0x28, 0xFF, 0x1F, 0x29, 0xFF, 0x1F, 0x3F, 0xFF, 0x1F, 0x40, 0xFF, 0x1F, 0x41, 0xFF, 0x1F,
    0x0F, 0x03, 0x01, 0xBC, 0xFF, 0x06, 0xCC, 0xFF, 0x00, 0xC6, 0x07, 0x03, 0xB5, 0x03, 0x03, 0xB8, 0x80, 0x00,
    0xB6, 0x07, 0x03, 0x10, 0xFF, 0x00, 0x11, 0xFF, 0x00, 0x12, 0xFF, 0x00, 0x13, 0xFF, 0x00, 0x28, 0xFF, 0x00,
    0x29, 0xFF, 0x00, 0x2A, 0xFF, 0x00, 0x2B, 0xFF, 0x00, 0x2C, 0xFF, 0x00, 0x0F, 0x03, 0x00, 0x22, 0xFF, 0x00,
    0x3A, 0xFF, 0x00, 0x26, 0xFF, 0x00, 0x3E, 0xFF, 0x00, 0x63, 0xFF, 0x3F, 0x73, 0x08, 0x00, 0x60, 0x40, 0x00,
    0x2A, 0x01, 0x00, 0x42, 0x01, 0x00, 0x77, 0x0C, 0x08, 0xFF, 0xFF, 0xFF,
};
static_assert(sizeof(kelto_it6602::IT6602_HDMI_INIT_TABLE) == 246, "81 rows and the terminator");

const char* const kelto_it6602::VStateStr[] = {
    "VSTATE_Off",          "VSTATE_TerminationOff", "VSTATE_TerminationOn", "VSTATE_5VOff",
    "VSTATE_SyncWait",     "VSTATE_SWReset",        "VSTATE_SyncChecking",  "VSTATE_HDCPSet",
    "VSTATE_HDCP_Reset",   "VSTATE_ModeDetecting",  "VSTATE_VideoOn",       "VSTATE_ColorDetectReset",
    "VSTATE_HDMI_OFF",     "VSTATE_Reserved",
};
const char* const kelto_it6602::AStateStr[] = {
    "ASTATE_AudioOff", "ASTATE_RequestAudio", "ASTATE_ResetAudio", "ASTATE_WaitForReady", "ASTATE_AudioOn",
    "ASTATE_Reserved",
};

kelto_it6602::kelto_it6602() = default;

void kelto_it6602::attach(Drv_I2C0* bus, HDMI_INFO* records)
{
    bus_ = bus;
    records_ = records;
}

IT6602_dev_data* kelto_it6602::get_IT6602_dev_data(int index)
{
    return (index >= 0 && index < 4) ? &dev_[index] : nullptr;
}

// ---- register access -------------------------------------------------------------------------

uint8_t kelto_it6602::hdmirxrd_it6602(int fd, uint8_t reg)
{
    uint8_t value = 0; // an unanswered read reads as nothing set
    if (!bus_ || bus_->i2c_read(fd, addr_, reg, &value, 1) != 1)
        ++failures_;
    return value;
}

int kelto_it6602::hdmirxwr_it6602(int fd, uint8_t reg, uint8_t value)
{
    if (bus_ && bus_->i2c_write(fd, addr_, reg, &value, 1) == 1)
        return 0;
    ++failures_;
    return 1;
}

int kelto_it6602::hdmirxset_it6602(int fd, uint8_t reg, uint8_t mask, uint8_t value)
{
    const uint8_t old = hdmirxrd_it6602(fd, reg);
    return hdmirxwr_it6602(fd, reg, uint8_t((old & ~mask) | (value & mask)));
}

int kelto_it6602::hdmirxbwr_it6602(int fd, uint8_t reg, int count, const uint8_t* bytes)
{
    if (count <= 0 || !bytes)
        return 0;
    if (bus_ && bus_->i2c_write(fd, addr_, reg, bytes, count) == 1)
        return 0;
    ++failures_;
    return 1;
}

uint32_t kelto_it6602::takeFailures()
{
    const uint32_t n = failures_;
    failures_ = 0;
    return n;
}

void kelto_it6602::chgbank_it6602(int fd, uint8_t bank)
{
    hdmirxset_it6602(fd, RegBank, 0x03, bank & 3);
}

void kelto_it6602::hdimrx_write_init_it6602(int fd, const uint8_t* table)
{
    for (const uint8_t* row = table; row[0] != 0xFF; row += 3)
        hdmirxset_it6602(fd, row[0], row[1], row[2]);
}

// ---- status bits and publications ------------------------------------------------------------

void kelto_it6602::setIdentified(int index, bool on)
{
    VyrRamPara::pInstance(); // the status bytes live in the store's register image
    keltosource_status::set(keltosource_status::ChipPresence, IdentifiedBit[index], on);
}

void kelto_it6602::publishResolution(int index, uint16_t w, uint16_t h, uint16_t rate)
{
    VyrRamPara* store = VyrRamPara::pInstance();
    bool changed = false;
    {
        const uint32_t at = blk::inputResolution(uint32_t(index));
        uint8_t record[blk::kInputResolutionSize];
        blk::put16(record, blk::kInputWidth, w);
        blk::put16(record, blk::kInputHeight, h);
        blk::put16(record, blk::kInputRate, rate);
        PosixLock lock(store->mutex);
        changed = memcmp(store->view() + at, record, sizeof record) != 0;
        store->setInputRecord(at, record, sizeof record);
    }
    // A receiver that never identifies is reset, and so shows "no signal", on every pass: tell the
    // pages only when that changes what they show.
    if (changed || w || h || rate)
        store->test_signal(1);
}

void kelto_it6602::lostChip(int index)
{
    if (index < 0 || index > 3)
        return;
    setIdentified(index, false);
    publishResolution(index, 0, 0, 0);
    QMutexLocker lock(&Utils::_source_hdminfo_mutex);
    HDMI_INFO& rec = (records_ ? records_ : own_)[index];
    rec.nosignal = 1;
    it6602_Get_Hdmi(fd, index); // clears the timing words; reads nothing with nosignal set
}

// ---- identification and reset ----------------------------------------------------------------

int kelto_it6602::IT6602_Identify_Chip(int fd, int index)
{
    for (uint8_t candidate : {FirstAddress, SecondAddress}) {
        addr_ = candidate;
        bool match = true;
        for (uint8_t r = 0; r < 4 && match; ++r) {
            if (hdmirxrd_it6602(fd, r) == Identity[r]) {
                if (tracing())
                    std::printf("I2C Addr %X ok: Can  find IT6602 Chip !!!\n", addr_);
                setIdentified(index, true);
            } else {
                match = false;
            }
        }
        if (match) {
            if (tracing())
                std::printf("OK , Find IT6602 Chip I2C Addr %X !!!\n", addr_);
            return 1;
        }
        if (tracing())
            std::printf("I2C Addr %X Error: Can not find IT6602 Chip !!!\n", addr_);
        setIdentified(index, false);
        ++idFail_[index];
    }
    return 0;
}

void kelto_it6602::Cal_oclk(int fd, int index)
{
    chgbank_it6602(fd, 0);
    hdmirxwr_it6602(fd, 0x73, 0x05);
    chgbank_it6602(fd, 1);
    hdmirxwr_it6602(fd, 0x57, 0x12);
    hdmirxwr_it6602(fd, 0x57, 0x02);
    hdmirxwr_it6602(fd, 0x56, 0x01);
    hdmirxwr_it6602(fd, 0x50, 0x00);
    hdmirxwr_it6602(fd, 0x51, 0x00);
    hdmirxwr_it6602(fd, 0x53, 0x04);
    // A coarse reading picks the count range: a large one counts over the shortest window.
    uint8_t coarse = 0;
    for (int i = 0; i < 3; ++i) {
        const uint8_t v = hdmirxrd_it6602(fd, 0x61);
        coarse = v > coarse ? v : coarse;
    }
    hdmirxwr_it6602(fd, 0x50, coarse >= 0x80 ? 1 : coarse >= 0x20 ? 3 : 4);
    hdmirxwr_it6602(fd, 0x51, 0x60);
    hdmirxwr_it6602(fd, 0x53, 0x04);
    uint32_t count = 0;
    for (int i = 0; i < 3; ++i)
        count |= uint32_t(hdmirxrd_it6602(fd, 0x61)) << (8 * i);
    chgbank_it6602(fd, 0);
    hdmirxwr_it6602(fd, 0x73, 0x00);
    count /= 100;
    const uint32_t diff = count > DefaultOscillator ? count - DefaultOscillator : DefaultOscillator - count;
    oclk_[index] = (count != 0 && diff <= OscillatorTolerance) ? count : 0;
}

void kelto_it6602::IT6602_Rst(int fd, int index)
{
    dev_[index] = IT6602_dev_data{};
    fiveV_[index] = 0;
    memset(amplitude_[index], 0, sizeof amplitude_[index]);
    eqWritten_[index][0] = eqWritten_[index][1] = false;
    hdimrx_write_init_it6602(fd, IT6602_HDMI_INIT_TABLE);
    Cal_oclk(fd, index);
    IT6602SwitchVideoState(fd, index, VSTATE_SWReset);
    IT6602SwitchAudioState(fd, index, ASTATE_AudioOff);
}

int kelto_it6602::IT6602_fsm_init(int fd, int index)
{
    if (index < 0 || index > 3)
        return 0;
    if (tracing())
        std::printf("IT6602_fsm_init(%d )\n", index);
    // A receiver that did not identify gets no init table (some 200 refused transfers); its input
    // shows no signal.
    const int found = IT6602_Identify_Chip(fd, index);
    if (found)
        IT6602_Rst(fd, index);
    else
        lostChip(index);
    return found;
}

void kelto_it6602::IT6602PortSelect(int fd, int index, uint8_t port)
{
    hdmirxset_it6602(fd, 0x51, 0x01, port & 1);
    dev_[index].selectedPort = port & 1;
}

void kelto_it6602::IT6602_fsm_init_1(int fd, int index)
{
    if (index < 0 || index > 3)
        return;
    hdmirxset_it6602(fd, 0xC0, 0x03, 0x03);
    IT6602PortSelect(fd, index, 0);
}

// ---- hot-plug, output, state changes -----------------------------------------------------------

void kelto_it6602::IT6602HPDCtrl(int fd, int index, uint8_t port, bool on)
{
    (void)index;
    if (port != 0)
        return; // only port 0's hot-plug line is wired
    const bool power = hdmirxrd_it6602(fd, RegPort0Status) & FiveVolt;
    chgbank_it6602(fd, 1);
    hdmirxset_it6602(fd, 0xB0, 0x03, !power ? 0 : on ? 3 : 1);
    chgbank_it6602(fd, 0);
}

void kelto_it6602::videoOutput(int fd, int index, bool on)
{
    if (on) {
        hdmirxset_it6602(fd, 0x64, 0x80, 0x80);
        hdmirxset_it6602(fd, 0x64, 0x80, 0x00);
        hdmirxset_it6602(fd, 0x53, 0x0F, 0x00);
        QMutexLocker lock(&Utils::_source_hdminfo_mutex);
        HDMI_INFO& rec = (records_ ? records_ : own_)[index];
        rec.nosignal = 0;
        return;
    }
    hdmirxset_it6602(fd, 0x53, 0x0F, 0x0F);
    publishResolution(index, 0, 0, 0);
    QMutexLocker lock(&Utils::_source_hdminfo_mutex);
    HDMI_INFO& rec = (records_ ? records_ : own_)[index];
    rec.nosignal = 1;
    it6602_Get_Hdmi(fd, index); // clears the stale timing words
}

void kelto_it6602::IT6602SwitchVideoState(int fd, int index, _Video_State_Type state)
{
    IT6602_dev_data& d = dev_[index];
    if (d.videoState == state)
        return;
    d.videoState = state;
    switch (state) {
    case VSTATE_Off:
        IT6602HPDCtrl(fd, index, 0, false);
        IT6602HPDCtrl(fd, index, 1, false);
        break;
    case VSTATE_SyncWait:
        videoOutput(fd, index, false);
        d.flags &= uint8_t(~0x20);
        d.eventCount[0] = d.eventCount[1] = 0;
        d.dumped3D = 0;
        hdmirxwr_it6602(fd, 0x6A, 0x82);
        break;
    case VSTATE_SWReset:
        videoOutput(fd, index, false);
        hdmirxset_it6602(fd, portReset(d.selectedPort), AfeReset, AfeReset);
        hdmirxset_it6602(fd, portReset(d.selectedPort), AfeReset, 0);
        IT6602HPDCtrl(fd, index, 0, hdmirxrd_it6602(fd, RegPort0Status) & FiveVolt);
        IT6602HPDCtrl(fd, index, 1, hdmirxrd_it6602(fd, RegPort1Status) & FiveVolt);
        break;
    case VSTATE_SyncChecking:
        d.videoWait = WaitRunsOut;
        hdmirxwr_it6602(fd, 0x6A, 0x82);
        break;
    case VSTATE_VideoOn: {
        get_vid_info(fd, index);
        const IT6602_VidInfo& v = vid_[index];
        if (hdmirxrd_it6602(fd, RegPixelSample) == 0 || v.htotal == 0 || v.vtotal == 0) {
            // Still settling: nothing measurable yet, so show no signal and measure again.
            d.videoState = VSTATE_SyncWait;
            IT6602SwitchVideoState(fd, index, VSTATE_SyncChecking);
            videoOutput(fd, index, false);
            break;
        }
        // The mode bit, not only its change interrupt: a source already in HDMI mode when the
        // receiver was reset raises none.
        if (hdmirxrd_it6602(fd, portStatus(d.selectedPort)) & HdmiMode)
            d.flags |= 0x08;
        else
            d.flags &= uint8_t(~0x08);
        IT6602VideoOutputConfigure(fd, index);
        videoOutput(fd, index, true);
        IT6602SwitchAudioState(fd, index, ASTATE_RequestAudio);
        show_vid_info(fd, index);
        {
            QMutexLocker lock(&Utils::_source_hdminfo_mutex);
            HDMI_INFO& rec = (records_ ? records_ : own_)[index];
            rec.nosignal = 0;
            it6602_Get_Hdmi(fd, index);
            rec.stable = 1;
        }
        if (tracing())
            std::printf("\t VSTATE_VideoOn %d stable=1\n", index);
        hdmirxwr_it6602(fd, 0x84, 0x8F);
        hdmirxwr_it6602(fd, 0x6A, 0x81);
        d.scdtWait = 0;
        break;
    }
    default:
        break;
    }
}

// ---- timing --------------------------------------------------------------------------------------

void kelto_it6602::get_vid_info(int fd, int index)
{
    IT6602_VidInfo& v = vid_[index];
    auto rd = [&](uint8_t r) { return unsigned(hdmirxrd_it6602(fd, r)); };
    v.hactive = uint16_t(((rd(0x9F) & 0x3F) << 8) + rd(0x9E));
    v.htotal = uint16_t(((rd(0x9D) & 0x3F) << 8) + rd(0x9C));
    const unsigned a4 = rd(0xA4);
    v.vactive = uint16_t(((a4 & 0xF0) << 4) + rd(0xA5));
    v.vtotal = uint16_t(((a4 & 0x0F) << 8) + rd(0xA3));
    const unsigned a1 = rd(0xA1);
    v.h1 = uint16_t(((a1 & 0xF0) << 4) + rd(0xA2));
    v.h2 = uint16_t(((a1 & 0x01) << 8) + rd(0xA0));
    const int h3 = int(v.htotal) - (int(v.hactive) + v.h1) - v.h2;
    v.h3 = uint16_t(h3 > 0 ? h3 : 0); // a half-measured line gives no negative porch
    v.v1 = uint16_t(rd(0xA7) & 0x3F);
    v.v2 = uint16_t(rd(0xA6) & 0x1F);
    const int v3 = int(v.vtotal) - (int(v.v1) + v.v2) - int(v.vactive);
    v.v3 = uint16_t(v3 > 0 ? v3 : 0);
    const unsigned mode = rd(0x99);
    const unsigned pol = rd(0xA8);
    v.flags = uint8_t(((mode >> 1) & 1) | (((pol >> 3) & 1) << 1) | ((pol & 1) << 2));
    const unsigned sample = rd(RegPixelSample);
    v.pclk = sample ? 31620u / sample / 10u : 0; // 0 while the clock is not measured
    // The receiver's own measure of the clock in kHz, read after 0x77 bit 0 is set.
    hdmirxset_it6602(fd, 0x77, 0x01, 0x01);
    chgbank_it6602(fd, 2);
    uint8_t c0 = hdmirxrd_it6602(fd, 0xC0);
    hdmirxrd_it6602(fd, 0xBF);
    hdmirxrd_it6602(fd, 0xBE);
    c0 = hdmirxrd_it6602(fd, 0xC0);
    const uint8_t c2 = hdmirxrd_it6602(fd, 0xC2);
    const uint8_t c1 = hdmirxrd_it6602(fd, 0xC1);
    chgbank_it6602(fd, 0);
    v.khz = (uint32_t(c1) << 12) + uint32_t(c2) * 16 + (c0 >> 4);
    const unsigned repetition = (mode >> 4) & 0x0F;
    hdmirxset_it6602(fd, 0x65, 0x0C, uint8_t((repetition == 5 ? 1 : repetition == 6 ? 2 : 0) << 2));
}

void kelto_it6602::show_vid_info(int fd, int index)
{
    (void)fd;
    const IT6602_VidInfo& v = vid_[index];
    const uint64_t frame = uint64_t(v.htotal) * v.vtotal;
    // From the receiver's exact clock, to the nearest hertz: the whole-MHz estimate shows 50 Hz as
    // 49 and 30 Hz as 28, so it only stands in when the receiver gives no clock.
    uint64_t refresh = 0;
    if (frame && v.khz)
        refresh = frameRateHz(v.khz, v.htotal, v.vtotal);
    else if (frame) // 64 bits: a short sample period (0x9A = 1) puts the product far above 2^31
        refresh = uint64_t(1000000) * v.pclk / frame;
    if (refresh >= 55)
        refresh = 60;
    publishResolution(index, v.hactive, v.vactive, uint16_t(refresh));
}

void kelto_it6602::it6602_Get_Hdmi(int fd, int index)
{
    if (index < 0 || index > 3)
        return;
    HDMI_INFO& rec = (records_ ? records_ : own_)[index];
    if (rec.nosignal == 1) {
        const float keep = rec.pfreq;
        const int32_t nosignal = rec.nosignal, stable = rec.stable;
        rec = HDMI_INFO{};
        rec.pfreq = keep;
        rec.nosignal = nosignal;
        rec.stable = stable;
        return;
    }
    const IT6602_VidInfo& v = vid_[index];
    rec.hact = v.hactive;
    rec.hsync = v.h2;
    rec.hback = v.h3;
    rec.htt = v.htotal;
    rec.vact = v.vactive;
    rec.vsync = v.v2;
    rec.vback = v.v3;
    rec.vtt = v.vtotal;
    rec.hpol = rec.vpol = 1;
    rec.ip = v.flags & 1;
    rec.type = rec.datamode = rec.lane = 0;
    const unsigned sample = hdmirxrd_it6602(fd, RegPixelSample);
    const double osc = oclk_[index] ? oclk_[index] : DefaultOscillator;
    rec.pfreq = sample ? float(osc / 400.0 * 255.0 / sample / 10.0) : 0.0f;
    if (v.khz)
        rec.pfreq = float(v.khz / 1000.0);
    if (tracing())
        std::printf(" hdminfo[%d].pfreq:%f\n", index, double(rec.pfreq));
}

// ---- per-pass work -------------------------------------------------------------------------------

void kelto_it6602::tmdsCheck(int fd, int index, uint8_t port)
{
    // A stable clock on a port whose equaliser has not been set yet: measure it.
    port &= 1;
    dev_[index].portEvent[port] = 0;
    if (eqWritten_[index][port] || dev_[index].eq[port].inProgress)
        return;
    if (hdmirxrd_it6602(fd, portStatus(port)) & ClockStable)
        HDMIStartEQDetect(fd, index, port);
}

void kelto_it6602::eccTimeout(int fd, int index, uint8_t port)
{
    // The source sees the hot-plug drop while the port's link logic is held in reset.
    IT6602HPDCtrl(fd, index, port, false);
    hdmirxset_it6602(fd, portReset(port), LinkReset, LinkReset);
    Delay::ms(EccPauseMs);
    hdmirxset_it6602(fd, portReset(port), LinkReset, 0x00);
    IT6602HPDCtrl(fd, index, port, true);
}

void kelto_it6602::resetRsOverride(int fd, int index, uint8_t port)
{
    (void)index;
    hdmirxset_it6602(fd, RegRsOverride[port & 1], 0x01, 0x00);
}

void kelto_it6602::deskew(int fd, int index, uint8_t port)
{
    (void)index;
    hdmirxset_it6602(fd, portReset(port), DeskewReset, DeskewReset);
    hdmirxset_it6602(fd, portReset(port), DeskewReset, 0x00);
}

void kelto_it6602::portFiveVolt(int fd, int index, uint8_t port, uint8_t status)
{
    IT6602_dev_data& d = dev_[index];
    chgbank_it6602(fd, 1);
    hdmirxset_it6602(fd, 0xB1, 0x60, 0x00);
    hdmirxset_it6602(fd, 0xC1, 0x60, 0x00);
    chgbank_it6602(fd, 0);
    fiveV_[index] = 0;
    const bool power = status & FiveVolt;
    if (!power) {
        // the next source is measured afresh
        eqWritten_[index][port] = false;
        memset(amplitude_[index][port], 0, sizeof amplitude_[index][port]);
    }
    if (port == d.selectedPort) {
        if (power) {
            IT6602HPDCtrl(fd, index, port, true);
            IT6602SwitchVideoState(fd, index, VSTATE_SyncWait);
        } else {
            IT6602HPDCtrl(fd, index, port, false);
            IT6602SwitchVideoState(fd, index, VSTATE_SWReset);
        }
    } else if (power) {
        IT6602HPDCtrl(fd, index, port, true);
    } else {
        resetRsOverride(fd, index, port);
        IT6602HPDCtrl(fd, index, port, false);
    }
}

void kelto_it6602::IT6602HDMIInterruptHandler(int fd, int index)
{
    IT6602_dev_data& d = dev_[index];
    if (d.videoState == VSTATE_Off)
        return;
    uint8_t irq[5];
    for (int i = 0; i < 5; ++i)
        irq[i] = hdmirxrd_it6602(fd, uint8_t(0x05 + i));
    const uint8_t d0 = hdmirxrd_it6602(fd, 0xD0);
    for (int i = 0; i < 5; ++i)
        if (irq[i])
            hdmirxwr_it6602(fd, uint8_t(0x05 + i), irq[i]);
    if (d0 & 0x0F)
        hdmirxwr_it6602(fd, 0xD0, uint8_t(d0 & 0x0F));

    for (uint8_t port = 0; port < 2; ++port) {
        const uint8_t r = irq[port];
        if (!r)
            continue;
        if (r & 0x80)
            d.eccErrors[port] = 0;
        if (r & 0x40) {
            if (d.eccErrors[port] < 0xFF)
                ++d.eccErrors[port];
            if (d.eccErrors[port] >= EccLimit && !d.eq[port].inProgress) {
                d.eccErrors[port] = 0;
                eccTimeout(fd, index, port);
            }
        }
        if ((r & 0x20) && port == d.selectedPort) {
            const bool hdmi = hdmirxrd_it6602(fd, portStatus(port)) & HdmiMode;
            d.flags = hdmi ? uint8_t(d.flags | 0x08) : uint8_t(d.flags & ~0x08);
            if (d.videoState == VSTATE_VideoOn) {
                if (hdmi) {
                    IT6602SwitchAudioState(fd, index, ASTATE_RequestAudio);
                } else {
                    IT6602SwitchAudioState(fd, index, ASTATE_AudioOff);
                    IT6602VideoOutputConfigure(fd, index);
                }
            }
        }
        if ((r & 0x18) && !eqWritten_[index][port]) {
            hdmirxwr_it6602(fd, RegEqControl[port], 0x00);
            d.portEvent[port] = PortEventPasses;
        }
        if ((r & 0x04) && !(hdmirxrd_it6602(fd, RegPortPower) & (port ? 0x80 : 0x40))) {
            chgbank_it6602(fd, 1);
            hdmirxset_it6602(fd, port ? 0xC1 : 0xB1, 0x60, 0x00);
            chgbank_it6602(fd, 0);
            fiveV_[index] = 0;
        }
        if (r & 0x02)
            tmdsCheck(fd, index, port);
        if (r & 0x01)
            portFiveVolt(fd, index, port, hdmirxrd_it6602(fd, portStatus(port)));
    }

    const uint8_t r7 = irq[2];
    if (r7 & 0x80)
        audioReset(fd);
    // Mute off (bit 5) before mute on (bit 4): with both latched in one pass the source's last
    // word may be either, and a picture left muted is the safe side.
    if (r7 & 0x20) {
        d.avMute = 0;
        hdmirxset_it6602(fd, RegVideoOutput, VideoMute, 0x00);
    }
    if (r7 & 0x10) {
        d.avMute = 1;
        hdmirxset_it6602(fd, RegVideoOutput, VideoMute, VideoMute);
    }
    if (r7 & 0x02) {
        if (hdmirxrd_it6602(fd, RegPort0Status) & SyncDetected) {
            IT6602SwitchVideoState(fd, index, VSTATE_SyncChecking);
        } else {
            IT6602SwitchVideoState(fd, index, VSTATE_SyncWait);
            IT6602SwitchAudioState(fd, index, ASTATE_AudioOff);
        }
    }
    if ((r7 & 0x01) && !(hdmirxrd_it6602(fd, RegPort0Status) & 0x40) && addr_ == SecondAddress) {
        chgbank_it6602(fd, 1);
        hdmirxset_it6602(fd, 0xB6, 0x07, 0x03);
        hdmirxset_it6602(fd, 0xB1, 0x20, 0x00);
        hdmirxset_it6602(fd, 0xB2, 0x07, 0x04);
        chgbank_it6602(fd, 0);
    }
    if ((irq[3] & 0x04) && !d.dumped3D) {
        d.dumped3D = 1;
        if (tracing())
            std::printf("IT6602 %d: 3D frame information received\n", index);
    }
    const uint8_t r9 = irq[4];
    if (r9 & 0x40) {
        hdmirxwr_it6602(fd, 0x09, addr_ == SecondAddress ? 0x20 : 0x40);
        deskew(fd, index, 1);
    }
    if (r9 & 0x20) {
        hdmirxwr_it6602(fd, 0x09, 0x20);
        deskew(fd, index, 0);
    }
    if (r9 & 0x01) {
        chgbank_it6602(fd, 2);
        const uint8_t sum = hdmirxrd_it6602(fd, RegAviChecksum), version = hdmirxrd_it6602(fd, RegAviVersion);
        chgbank_it6602(fd, 0);
        if (sum != d.aviChecksum || version != d.aviVersion) {
            d.aviChecksum = sum;
            d.aviVersion = version;
            d.flags |= 0x20;
        }
    }
    if (d0 & 0x10) {
        hdmirxwr_it6602(fd, 0xD0, 0x30);
        amplitudeCheck(fd, index, 0);
        HDMIStartEQDetect(fd, index, 0);
        if (d0 & 0x20) {
            hdmirxwr_it6602(fd, 0xD0, 0x20);
            eqFailure(fd, index, 0);
        }
    } else if (d0 & 0x40) {
        hdmirxwr_it6602(fd, 0xD0, 0xC0);
        amplitudeCheck(fd, index, 1);
    } else if (d0 & 0x20) {
        hdmirxwr_it6602(fd, 0xD0, 0x20);
        eqFailure(fd, index, 0);
    }
    if (d0 & 0x80) {
        hdmirxwr_it6602(fd, 0xD0, 0x80);
        eqFailure(fd, index, 1);
    }
}

void kelto_it6602::WaitingForSCDT(int fd, int index)
{
    IT6602_dev_data& d = dev_[index];
    if (hdmirxrd_it6602(fd, RegPort0Status) & SyncDetected) {
        IT6602SwitchVideoState(fd, index, VSTATE_SyncChecking);
        return;
    }
    const uint8_t port = d.selectedPort;
    if (d.eq[port].inProgress)
        return;
    // Power and a clock but no sync for a while: the link is stuck, start it over.
    const uint8_t status = hdmirxrd_it6602(fd, portStatus(port));
    if ((status & (FiveVolt | ClockStable)) == (FiveVolt | ClockStable) && ++d.scdtWait > NoSyncLimit) {
        d.scdtWait = 0;
        eccTimeout(fd, index, port);
        resetRsOverride(fd, index, port);
        eqWritten_[index][port] = false; // the value in force did not give a picture
        tmdsCheck(fd, index, port);
    }
}

void kelto_it6602::IT6602VideoHandler(int fd, int index)
{
    IT6602_dev_data& d = dev_[index];
    bool ranOut = false;
    if (d.videoWait >= WaitRunsOut) {
        d.videoWait = uint16_t(d.videoWait - 100);
    } else {
        d.videoWait = 0;
        ranOut = true;
    }
    switch (d.videoState) {
    case VSTATE_SWReset:
        // Power on the selected port starts the wait for sync.
        if (hdmirxrd_it6602(fd, portStatus(d.selectedPort)) & FiveVolt)
            IT6602SwitchVideoState(fd, index, VSTATE_SyncWait);
        break;
    case VSTATE_SyncWait:
        WaitingForSCDT(fd, index);
        break;
    case VSTATE_SyncChecking:
        if (ranOut)
            IT6602SwitchVideoState(fd, index, VSTATE_VideoOn);
        break;
    case VSTATE_VideoOn:
        if (d.flags & 0x20) {
            d.flags &= uint8_t(~0x20);
            IT6602VideoOutputConfigure(fd, index);
        }
        if ((hdmirxrd_it6602(fd, RegVideoOutput) & VideoMute) && !d.avMute)
            hdmirxset_it6602(fd, RegVideoOutput, VideoMute, 0x00);
        break;
    default:
        break;
    }
}

void kelto_it6602::IT6602HDMIEventManager(int fd, int index)
{
    IT6602_dev_data& d = dev_[index];
    for (uint8_t port = 0; port < 2; ++port) {
        if (d.portEvent[port] && --d.portEvent[port] == 0)
            tmdsCheck(fd, index, port);
    }
}

void kelto_it6602::IT6602_fsm(int fd, int index)
{
    if (index < 0 || index > 3)
        return;
    IT6602HDMIInterruptHandler(fd, index);
    IT6602VideoHandler(fd, index);
    IT6602AudioHandler(fd, index);
    for (uint8_t port = 0; port < 2; ++port)
        if (dev_[index].eq[port].inProgress)
            HDMIAdjustEQ(fd, index, port);
    IT6602HDMIEventManager(fd, index);
}
