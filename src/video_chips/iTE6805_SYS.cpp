// System layer of the iTE6805 receivers: the per-device state machines, interrupt handlers and
// what the driver publishes to the input manager, the scaler and the parameter block.
#include "video_chips/iTE6805_SYS.h"

#include "base/delay.h"
#include "base/global.h"
#include "base/logMsg.h"
#include "base/posix_lock.h"
#include "base/utils.h"
#include "params/block_layout.h"
#include "params/scaler_ports.h"
#include "params/vyrrampara.h"
#include "video_chips/drv_i2c.h"
#include "video_chips/keltosource.h"

#include <QMutexLocker>
#include <cstdio>
#include <string>

namespace {
const char* const StateName[] = {"STATEV_VideoOff", "STATEV_Unplug",    "STATEV_WaitSync",
                                 "STATEV_CheckSync", "STATEV_VidStable", "STATEV_Unknown"};
const char* stateName(int s) { return s >= 0 && s <= 5 ? StateName[s] : "STATEV_Unknown"; }
}

ite6805_sys::ite6805_sys()
{
    rdwr = new ite6805_i2c_rdwr();
    drv = new ite6805_drv();
    eq = new ite6805_eq();
    cec_sys = new ite6805_cec_sys();
    cec_drv = new ite6805_cec_drv();
    cec_feture = new ite6805_cec_feture();
}

ite6805_sys::~ite6805_sys()
{
    delete cec_feture;
    delete cec_drv;
    delete cec_sys;
    delete eq;
    delete drv;
    delete rdwr;
}

void ite6805_sys::ite6805_sys_reset_init()
{
    for (int dev = 0; dev < 2; ++dev) {
        top_state[dev] = 0;
        cnt[dev] = iTE6805_Counters{};
        cnt[dev].AudioFirstTime = 1;
        deadPasses_[dev] = 0;
        wd_count[dev] = wd_stamp[dev] = wd_htt[dev] = wd_vtt[dev] = 0;
        timeTicks_stb[dev] = 0;
    }
}

// The input manager serves hot-plug requests outside its per-input steps, with whatever channel
// of switch 0xEE the last step left selected: select the device's own channel first, or the
// request would reach the other receiver.
void ite6805_sys::iTE6805_Set_HPD_Ctrl(int port, int level, int dev)
{
    if (!valid(dev) || (port != 0 && port != 1))
        return;
    if (keltosource* k = keltosource::p_kelto_source)
        if (k->i2c)
            k->i2c->i2c_write(fd, 0xEE, dev == 0 ? 0x20 : 0x10, nullptr, 0);
    drv->iTE6805_Set_HPD_Ctrl(uint8_t(port), level ? 1 : 0, dev);
}

// ---- top level ---------------------------------------------------------------------------------

void ite6805_sys::iTE6805_FSM(int dev)
{
    if (!valid(dev))
        return;
    rdwr->takeFailures(dev);
    if (top_state[dev] == 0) {
        if (!drv->iTE6805_Identify_Chip(dev)) {
            // Tried again on every pass; say so the first time and then now and again.
            if (idFail_[dev]++ % 1000 == 0)
                writeLogMsg(LOG_WARNING, "iTE6805 device " + std::to_string(dev) + " (input " +
                                             std::to_string(4 + dev) + ") does not answer its identification (" +
                                             std::to_string(idFail_[dev]) + " tries)");
            return;
        }
        if (idFail_[dev])
            writeLogMsg(LOG_INFO, "iTE6805 device " + std::to_string(dev) + " identified after " +
                                      std::to_string(idFail_[dev]) + " failed tries");
        idFail_[dev] = 0;
        drv->iTE6805_Init_fsm(dev);
        deadPasses_[dev] = 0;
        top_state[dev] = 1;
        return;
    }
    iTE6805_MainBody(dev);
    // Every read of a silent chip returns 0, which looks like a quiet input for ever: after a few
    // passes without answers the input counts as gone and the chip is identified afresh.
    if (rdwr->takeFailures(dev) == 0) {
        deadPasses_[dev] = 0;
    } else if (++deadPasses_[dev] >= DeadPassLimit) {
        lostChip(dev);
    }
}

void ite6805_sys::lostChip(int dev)
{
    writeLogMsg(LOG_ERROR, "iTE6805 device " + std::to_string(dev) + " (input " + std::to_string(4 + dev) +
                               ") stopped answering; input shown without signal, identifying again");
    deadPasses_[dev] = 0;
    top_state[dev] = 0;
    data[dev].VideoStable = 0;
    data[dev].STATEV = STATEV_Unplug;
    timeTicks_stb[dev] = 0;
    publishNoSignal(dev);
}

// Resolution record cleared, timing record "no signal" (zero timing, type, data mode and lane 1).
void ite6805_sys::publishNoSignal(int dev)
{
    keltosource::setInputResolution(4 + dev, 0, 0, 0);
    {
        QMutexLocker lock(&Utils::_source_hdminfo_mutex);
        iTE6805_Set_Stable(dev, 0);
        if (keltosource* k = keltosource::p_kelto_source)
            k->hdminfo[4 + dev].nosignal = 1;
        iTE6805_Get_Hdmi(dev);
        iTE6805_Set_Stable(dev, 1);
    }
    if (VyrRamPara* store = VyrRamPara::p_vyrrampara_config)
        store->test_signal(1);
}

void ite6805_sys::iTE6805_MainBody(int dev)
{
    iTE6805_DATA& d = data[dev];
    drv->iTE6805_Port_Reset_Body(d.PortReset, dev);
    drv->iTE6805_Port_Select_Body(d.PortSelect, dev);
    if (d.STATEV > STATEV_Unplug) {
        if (d.CurrentPort == 0) {
            iTE6805_hdmirx_port0_SYS_irq(dev);
            eq->iTE6805_hdmirx_port0_EQ_irq(dev);
        } else {
            iTE6805_hdmirx_port1_SYS_irq(dev);
            eq->iTE6805_hdmirx_port1_EQ_irq(dev);
        }
        iTE6805_hdmirx_common_irq(dev);
    }
    cec_sys->iTE6805_hdmirx_CEC_irq(dev);
    eq->iTE6805_EQ_fsm(dev);
    iTE6805_vid_fsm(dev);
    drv->iTE6805_aud_fsm(dev);

    const uint8_t rev = d.ChipRevision;
    const bool late = rev == 0x10 || rev > 0xDF;
    if (d.VideoStable) {
        drv->iTE6805_Check_AVMute(dev);
        if (late)
            return;
        rdwr->chgbank(5, dev);
        if (rdwr->hdmirxrd(0xC9, dev) & 0x01)
            rdwr->hdmirxwr(0xC9, 0x78, dev);
        rdwr->chgbank(0, dev);
        return;
    }
    if (late || d.STATEV == STATEV_VidStable)
        return;
    rdwr->chgbank(5, dev);
    if (!(rdwr->hdmirxrd(0xC9, dev) & 0x01))
        rdwr->hdmirxwr(0xC9, 0x79, dev);
    rdwr->chgbank(0, dev);
}

// ---- hot plug and interrupts -------------------------------------------------------------------

void ite6805_sys::iTE6805_INT_5VPWR_Chg(uint8_t port, int dev)
{
    if (!drv->iTE6805_Check_5V_State(port, dev)) {
        drv->iTE6805_Set_HPD_Ctrl(port, 0, dev);
        iTE6805_vid_chg(STATEV_Unplug, dev);
        data[dev].STATEEQ = STATEEQ_EQReset;
        eq->iTE6805_EQ_chg(STATEEQ_EQReset, dev);
    } else {
        iTE6805_vid_chg(STATEV_WaitSync, dev);
        drv->iTE6805_Set_HPD_Ctrl(port, 1, dev);
    }
}

void ite6805_sys::iTE6805_hdmirx_port0_SYS_irq(int dev) { portIrq(0, dev); }
void ite6805_sys::iTE6805_hdmirx_port1_SYS_irq(int dev) { portIrq(1, dev); }

void ite6805_sys::portIrq(uint8_t port, int dev)
{
    iTE6805_DATA& d = data[dev];
    iTE6805_Counters& c = cnt[dev];
    ite6805_i2c_rdwr& io = *rdwr;
    const uint8_t base = port == 0 ? 0x05 : 0x0A;   // mode/clock, events, port, ECC
    const uint8_t status = port == 0 ? 0x13 : 0x16;
    io.chgbank(0, dev);
    const uint8_t r05 = io.hdmirxrd(base, dev);
    io.hdmirxwr(base, r05, dev);
    const uint8_t r06 = io.hdmirxrd(uint8_t(base + 1), dev);
    io.hdmirxwr(uint8_t(base + 1), r06, dev);
    const uint8_t r08 = io.hdmirxrd(uint8_t(base + 3), dev);
    io.hdmirxwr(uint8_t(base + 3), r08, dev);
    const uint8_t r09 = io.hdmirxrd(uint8_t(base + 4), dev);
    io.hdmirxwr(uint8_t(base + 4), uint8_t(r09 & ~0x04), dev);
    const uint8_t s0 = io.hdmirxrd(status, dev);
    const uint8_t s1 = io.hdmirxrd(uint8_t(status + 1), dev);
    io.hdmirxrd(uint8_t(status + 2), dev);
    const bool mhl = port == 0 && (s0 & 0x40);
    const bool hdmi20 = s1 & 0x40;

    if ((r05 & 0x10) && (s0 & 0x08))
        drv->iTE6805_INT_HDMI_DVI_Mode_Chg(port, dev);
    if (r05 & 0x20)
        iTE6805_INT_ECC_ERROR(dev);
    if (r05 & 0x40) {
        if (++c.Deskew > 6 && !hdmi20) {
            c.Deskew = 0;
            eq->iTE6805_EQ_chg(STATEEQ_EQStart, dev);
            if (++c.ResetAll >= 3) {
                c.ResetAll = 0;
                drv->iTE6805_Reset_ALL_Logic(port, dev);
            }
        }
    }
    if (r05 & 0x04) {
        c.Event4 = c.Event5 = c.Event6 = 0;
        if (!(s0 & 0x10)) {
            eq->iTE6805_EQ_chg(STATEEQ_EQReset, dev);
            eq->iTE6805_EQ_chg(STATEEQ_EQStart, dev);
        }
    }
    if (r05 & 0x02)
        c.EccErrors = 0;
    if (r05 & 0x01)
        iTE6805_INT_5VPWR_Chg(port, dev);
    if ((r06 & 0x40) && !mhl)
        ++c.Event6;
    if ((r06 & 0x20) && !mhl)
        ++c.Event5;
    if (r06 & 0x10) {
        ++c.Event4;
        if (c.Event4 >= 21 && c.Event5 >= 21 && c.Event6 >= 21 && d.STATEEQ == STATEEQ_EQReset && !hdmi20) {
            io.chgbank(port == 0 ? 3 : 7, dev);
            io.hdmirxset(0xE5, 0x1C, 0x1C, dev);
            io.chgbank(0, dev);
        }
    }
    if (port == 0 && (r05 & 0x04) && (r06 & 0x70) == 0x70 && !mhl)
        iTE6805_vid_chg(STATEV_WaitSync, dev);
    if ((r06 & 0x01) && (s1 & 0x38) && d.STATEEQ == STATEEQ_EQReset) {
        eq->iTE6805_EQ_chg(STATEEQ_EQReset, dev);
        eq->iTE6805_EQ_chg(STATEEQ_EQStart, dev);
    }
    if (r08 & 0x01) {
        iTE6805_vid_chg(STATEV_WaitSync, dev);
        eq->iTE6805_EQ_chg(STATEEQ_EQReset, dev);
        eq->iTE6805_EQ_chg(STATEEQ_EQStart, dev);
    }
    if (r08 & 0x80) {
        io.chgbank(0, dev);
        io.hdmirxset(0x4C, 0x80, 0x80, dev);
    }
    if (r09 & 0x09)
        c.EccErrors = 0;
    io.chgbank(0, dev);
}

void ite6805_sys::iTE6805_hdmirx_common_irq(int dev)
{
    iTE6805_DATA& d = data[dev];
    iTE6805_Counters& c = cnt[dev];
    ite6805_i2c_rdwr& io = *rdwr;
    io.chgbank(0, dev);
    const uint8_t r09 = io.hdmirxrd(0x09, dev);
    io.hdmirxwr(0x09, uint8_t(r09 & 0x04), dev);
    const uint8_t r10 = io.hdmirxrd(0x10, dev);
    io.hdmirxwr(0x10, r10, dev);
    const uint8_t r11 = io.hdmirxrd(0x11, dev);
    io.hdmirxwr(0x11, uint8_t(r11 & 0xBF), dev);
    const uint8_t r12 = io.hdmirxrd(0x12, dev);
    io.hdmirxwr(0x12, uint8_t(r12 & 0x5F), dev);
    const uint8_t r1d = io.hdmirxrd(0x1D, dev);
    io.hdmirxwr(0x1D, r1d, dev);
    io.hdmirxwr(0xD4, io.hdmirxrd(0xD4, dev), dev);
    io.hdmirxwr(0xD5, io.hdmirxrd(0xD5, dev), dev);
    const uint8_t rev = d.ChipRevision;
    if (rev != 0x10 && rev < 0xE0 && (r10 & 0x02)) {
        io.hdmirxwr(0x0F, 5, dev);
        io.hdmirxwr(0xC9, 0x79, dev);
        io.hdmirxwr(0x0F, 0, dev);
    }
    if ((r10 & 0x80) && d.STATEV == STATEV_VidStable) {
        drv->iTE6805_Reset_Audio_Logic(dev);
        drv->iTE6805_Enable_Audio_Output(dev);
    }
    bool unmuted = false;
    if ((r10 & 0x20) && d.VideoStable) {
        drv->iTE6805_Set_AVMute(0, dev);
        unmuted = true;
    }
    if ((r10 & 0x10) && d.VideoStable && !unmuted)
        drv->iTE6805_Set_AVMute(1, dev);
    if (r10 & 0x02)
        iTE6805_INT_SCDT_Chg(dev);
    if (r11 & 0x02)
        io.hdmirxwr(0x11, 0x02, dev);
    if (r11 & 0x01)
        io.hdmirxwr(0x11, 0x01, dev);
    if (r12 & 0x80) {
        io.hdmirxrd(0x1A, dev);
        io.hdmirxrd(0x1B, dev);
        io.hdmirxwr(0x12, 0x80, dev);
    }
    if (r12 & 0x01) {
        io.chgbank(2, dev);
        const uint8_t avi = io.hdmirxrd(0x15, dev);
        io.chgbank(0, dev);
        if (!d.VideoStable) {
            c.LastAvi = avi;
        } else {
            drv->iTE6805_Check_ColorChange_Update(dev);
            if (avi != c.LastAvi) {
                c.LastAvi = avi;
                c.SetupPending = 1;
            }
        }
    }
    if (r1d & 0x08) {
        const bool hdmi20 = io.hdmirxrd(d.CurrentPort == 0 ? 0x14 : 0x17, dev) & 0x40;
        if (!hdmi20 && c.BitErrRecheck) {
            c.BitErrRecheck = 0;
            if (!eq->iTE6805_BitErr_Check_Again(dev))
                eq->iTE6805_EQ_chg(STATEEQ_EQStart, dev);
        }
    }
    io.chgbank(0, dev);
}

void ite6805_sys::iTE6805_INT_SCDT_Chg(int dev)
{
    iTE6805_DATA& d = data[dev];
    iTE6805_Counters& c = cnt[dev];
    ite6805_i2c_rdwr& io = *rdwr;
    io.chgbank(0, dev);
    const uint8_t scdt = (io.hdmirxrd(0x19, dev) & 0x80) ? 1 : 0;
    const uint8_t rev = d.ChipRevision;
    if (scdt != c.PrevScdt) {
        c.PrevScdt = scdt;
        if (!scdt) {
            iTE6805_vid_chg(STATEV_WaitSync, dev);
            drv->iTE6805_aud_chg(STATEA_AudioOff, dev);
            return;
        }
        if ((rev == 0x10 || rev == 0xE0) && (io.hdmirxrd(0x1C, dev) & 0x80))
            io.hdmirxset(0x1C, 0x80, 0x80, dev);
        iTE6805_vid_chg(STATEV_CheckSync, dev);
        return;
    }
    if ((rev == 0x10 || rev > 0xDF) && (io.hdmirxrd(0x1C, dev) & 0x80)) {
        io.hdmirxset(0x1C, 0x80, 0x80, dev);
    } else if (scdt) {
        io.chgbank(5, dev);
        if (io.hdmirxrd(0xC9, dev) == 0x79)
            io.hdmirxwr(0xC9, 0x78, dev);
        io.chgbank(0, dev);
    }
}

void ite6805_sys::iTE6805_INT_ECC_ERROR(int dev)
{
    iTE6805_DATA& d = data[dev];
    iTE6805_Counters& c = cnt[dev];
    ite6805_i2c_rdwr& io = *rdwr;
    const uint8_t before = c.EccErrors;
    if (before >= 6 && before % 3 == 0) {
        io.chgbank(0, dev);
        io.hdmirxset(0xD9, 0x04, 0x04, dev);
    }
    if (before < 11) {
        c.EccErrors = uint8_t(before + 1);
        return;
    }
    c.EccErrors = 0;
    const uint8_t port = d.CurrentPort;
    if (++c.EccReset < 3) {
        d.STATEEQ = STATEEQ_EQFrozen;
        drv->iTE6805_Set_HPD_Ctrl(port, 0, dev);
        const uint8_t reg = port == 0 ? 0x23 : 0x2B;
        io.chgbank(0, dev);
        if (io.hdmirxrd(reg, dev) & 0x02) {
            Delay::ms(300);
        } else {
            io.hdmirxset(reg, 0x02, 0x02, dev);
            Delay::ms(300);
            io.hdmirxset(reg, 0x02, 0x00, dev);
        }
        drv->iTE6805_Set_HPD_Ctrl(port, 1, dev);
        return;
    }
    c.EccReset = 0;
    d.STATEEQ = STATEEQ_EQReset;
    eq->iTE6805_EQ_chg(STATEEQ_EQReset, dev);
    drv->iTE6805_Reset_ALL_Logic(port, dev);
}

// ---- video state machine -----------------------------------------------------------------------

void ite6805_sys::iTE6805_vid_chg(STATEV_Type state, int dev)
{
    iTE6805_DATA& d = data[dev];
    iTE6805_Counters& c = cnt[dev];
    ite6805_i2c_rdwr& io = *rdwr;
    d.STATEV = state;
    if (state != old_statev[dev]) {
        if (traceOn())
            std::printf("[iTE6805_vid_chg] dev_id:%d old_statev: %s ==> %s\n", dev, stateName(old_statev[dev]),
                        stateName(state));
        // Leaving a stable picture marks the record as being rewritten, except a "no signal"
        // record the unplug has just completed: the scaler reads only stable records.
        if (old_statev[dev] == STATEV_VidStable) {
            QMutexLocker lock(&Utils::_source_hdminfo_mutex);
            keltosource* k = keltosource::p_kelto_source;
            if (!k || !k->hdminfo[4 + dev].nosignal)
                iTE6805_Set_Stable(dev, 0);
        }
        old_statev[dev] = state;
    }
    switch (state) {
    case STATEV_VideoOff:
        drv->iTE6805_Set_HPD_Ctrl(0, 0, dev);
        drv->iTE6805_Set_HPD_Ctrl(1, 0, dev);
        break;
    case STATEV_Unplug:
        io.chgbank(d.CurrentPort == 0 ? 3 : 7, dev);
        io.hdmirxset(0xE5, 0x1C, 0x00, dev);
        io.chgbank(0, dev);
        d.VideoStable = 0;
        d.InputType = 0;
        d.YUV420 = 0;
        c.LastAvi = 0;
        d.AudioFs = d.MeasuredFs = d.AudioChannels = 0;
        c.Deskew = 0;
        c.Event4 = c.Event5 = c.Event6 = 0;
        c.ClockStable = 0;
        c.BitErrRecheck = 1;
        io.hdmirxwr(0x08, 0x04, dev);
        io.hdmirxwr(0x0D, 0x04, dev);
        io.hdmirxwr(0x22, 0x12, dev);
        io.hdmirxwr(0x22, 0x10, dev);
        io.hdmirxset(0x23, 0xFD, 0xAD, dev);
        io.hdmirxset(0x23, 0xFD, 0xA0, dev);
        io.hdmirxset(0x2B, 0xFD, 0xAD, dev);
        io.hdmirxset(0x2B, 0xFD, 0xA0, dev);
        cec_sys->iTE6805_CEC_INIT(dev);
        drv->iTE6805_Set_Video_Tristate(1, dev);
        break;
    case STATEV_WaitSync:
        d.VideoStable = 0;
        c.Deskew = 0;
        c.ClockStable = 0;
        drv->iTE6805_Set_Video_Tristate(1, dev);
        break;
    case STATEV_CheckSync:
        c.CheckSyncCountdown = 6;
        break;
    case STATEV_VidStable:
        io.chgbank(0, dev);
        io.hdmirxwr(0x90, 0x8F, dev);
        drv->iTE6805_Get_AVIInfoFrame_Info(dev);
        drv->iTE6805_Get_VID_Info(dev);
        drv->iTE6805_Check_ColorChange_Update(dev);
        drv->iTE6807_Video_Output_Setting(dev);
        drv->iTE6805_Set_1B0_By_PixelClock(dev);
        drv->iTE6805_Enable_Video_Output(dev);
        drv->iTE6805_Set_AVMute(1, dev);
        drv->iTE6805_aud_chg(STATEA_RequestAudio, dev);
        drv->iTE6805_Set_Video_Tristate(0, dev);
        d.VideoStable = 1;
        if (d.STATEEQ == STATEEQ_EQFrozen) {
            d.STATEEQ = STATEEQ_EQDone;
            eq->iTE6805_EQ_chg(STATEEQ_EQDone, dev);
        }
        iTE6805_Show_VID_Info(dev);
        break;
    default:
        break;
    }
}

void ite6805_sys::iTE6805_vid_fsm(int dev)
{
    iTE6805_DATA& d = data[dev];
    iTE6805_Counters& c = cnt[dev];
    ite6805_i2c_rdwr& io = *rdwr;
    io.chgbank(0, dev);
    switch (d.STATEV) {
    case STATEV_Unplug:
        if (drv->iTE6805_Check_5V_State(d.CurrentPort, dev))
            iTE6805_INT_5VPWR_Chg(d.CurrentPort, dev);
        break;
    case STATEV_WaitSync:
        if (io.hdmirxrd(0x19, dev) & 0x80) {
            iTE6805_vid_chg(STATEV_CheckSync, dev);
        } else if (io.hdmirxrd(d.CurrentPort == 0 ? 0x13 : 0x16, dev) & 0x10) {
            if (++c.ClockStable > 6) {
                c.ClockStable = 0;
                drv->iTE6805_Set_47_By_TMDS(dev);
            }
        }
        break;
    case STATEV_CheckSync: {
        io.chgbank(2, dev);
        const uint8_t avi = io.hdmirxrd(0x15, dev);
        io.chgbank(0, dev);
        if (c.CheckSyncCountdown == 0) {
            iTE6805_vid_chg(STATEV_VidStable, dev);
        } else if (c.CheckSyncCountdown >= 6) {
            c.LastAvi = avi;
            c.CheckSyncCountdown = 5;
        } else if (avi == c.LastAvi) {
            --c.CheckSyncCountdown;
        } else {
            c.LastAvi = avi;
        }
        break;
    }
    case STATEV_VidStable: {
        if (c.SetupPending) {
            drv->iTE6805_Get_AVIInfoFrame_Info(dev);
            drv->iTE6805_Check_ColorChange_Update(dev);
            drv->iTE6805_Get_VID_Info(dev);
            drv->iTE6807_Video_Output_Setting(dev);
            drv->iTE6805_Set_1B0_By_PixelClock(dev);
            drv->iTE6805_Enable_Video_Output(dev);
            c.SetupPending = 0;
            drv->iTE6805_Set_Video_Tristate(0, dev);
        }
        io.chgbank(d.CurrentPort == 1 ? 4 : 0, dev);
        const uint8_t sourceMute = io.hdmirxrd(0xAA, dev) & 0x08;
        io.chgbank(0, dev);
        if ((io.hdmirxrd(0x4F, dev) & 0x20) && !sourceMute)
            drv->iTE6805_Set_AVMute(0, dev);
        if (++c.AVMuteTick >= 50) {
            c.AVMuteTick = 0;
            if (c.FsMismatch < 6)
                c.FsMismatch = 0;
        }
        if (!(io.hdmirxrd(0x81, dev) & 0x40)) {
            const uint8_t b5 = io.hdmirxrd(0xB5, dev);
            d.MeasuredFs = uint8_t(((b5 >> 2) & 0x30) | (b5 & 0x0F));
        }
        break;
    }
    default:
        break;
    }
    io.chgbank(0, dev);
    publish(dev);
}

// ---- publishing --------------------------------------------------------------------------------

void ite6805_sys::publish(int dev)
{
    ite6805_i2c_rdwr& io = *rdwr;
    const bool present = io.hdmirxrd(0x19, dev) & 0x02;
    if (!data[dev].VideoStable || !present) {
        timeTicks_stb[dev] = 0;
        wd_count[dev] = wd_htt[dev] = wd_vtt[dev] = 0;
        if (!present)
            wd_stamp[dev] = 0;
        return;
    }
    ScalerPorts* scaler = ScalerPorts::publishedPorts();
    const int port = scalerPort(dev);
    if (timeTicks_stb[dev] == 0) {
        timeTicks_stb[dev] = G_timeTicks ? G_timeTicks.load() : 1;
        if (scaler) {
            QMutexLocker lock(&Utils::_check_nosig_mutex);
            scaler->port_check[port] = 0x81;
        }
    } else if (Utils::getTimeSpace(timeTicks_stb[dev]) > HandshakeTicks) {
        bool taken = false;
        if (scaler) {
            QMutexLocker lock(&Utils::_check_nosig_mutex);
            taken = !(scaler->port_check[port] & 0x01);
        }
        if (taken) {
            iTE6805_update_hdmi(dev);
            timeTicks_stb[dev] = 0;
            QMutexLocker lock(&Utils::_check_nosig_mutex);
            scaler->port_check[port] &= 0x7F;
        }
    }
    watchdog(dev);
}

// The scaler's own measurement of the port: when it keeps changing for ten seconds the picture
// never settles, and the whole receiver path is restarted.
void ite6805_sys::watchdog(int dev)
{
    ScalerPorts* scaler = ScalerPorts::publishedPorts();
    if (!scaler)
        return;
    const int port = scalerPort(dev);
    const uint32_t htt = uint32_t(scaler->portInfoShared(port, c331in::PINFO_HTT));
    const uint32_t vtt = uint32_t(scaler->portInfoShared(port, c331in::PINFO_VTT));
    if (wd_stamp[dev] == 0) {
        wd_stamp[dev] = G_timeTicks ? G_timeTicks.load() : 1;
        wd_htt[dev] = htt;
        wd_vtt[dev] = vtt;
        return;
    }
    if (Utils::getTimeSpace(wd_stamp[dev]) <= WatchdogTicks)
        return;
    if (htt == wd_htt[dev] && vtt == wd_vtt[dev]) {
        wd_count[dev] = 0;
    } else {
        ++wd_count[dev];
        wd_htt[dev] = htt;
        wd_vtt[dev] = vtt;
    }
    wd_stamp[dev] = G_timeTicks ? G_timeTicks.load() : 1;
    if (wd_count[dev] > WatchdogLimit) {
        wd_count[dev] = 0;
        writeLogMsg(LOG_WARNING, "iTE6805 device " + std::to_string(dev) +
                                     ": scaler timing keeps changing, restarting the receiver path");
        if (keltosource* k = keltosource::p_kelto_source) {
            QMutexLocker lock(&Utils::_source_init_mutex);
            k->path_timer = G_timeTicks;
            k->path_state = keltosource::PathHold;
            k->path_flags[4] = 1;
        }
    }
}

void ite6805_sys::iTE6805_update_hdmi(int dev)
{
    rdwr->chgbank(0, dev);
    rdwr->hdmirxrd(0x19, dev);
    rdwr->hdmirxrd(0x36, dev);
    QMutexLocker lock(&Utils::_source_hdminfo_mutex);
    iTE6805_Set_Stable(dev, 0);
    if (keltosource* k = keltosource::p_kelto_source)
        k->hdminfo[4 + dev].nosignal = 0;
    iTE6805_Get_Hdmi(dev);
    iTE6805_Set_Stable(dev, 1);
}

// Caller holds Utils::_source_hdminfo_mutex.
void ite6805_sys::iTE6805_Get_Hdmi(int dev)
{
    keltosource* k = keltosource::p_kelto_source;
    if (!k || !valid(dev))
        return;
    HDMI_INFO& r = k->hdminfo[4 + dev];
    if (r.nosignal) {
        const int32_t nosignal = r.nosignal, stable = r.stable;
        r = HDMI_INFO{};
        r.type = r.datamode = r.lane = 1;
        r.nosignal = nosignal;
        r.stable = stable;
        return;
    }
    const iTE6805_VidInfo& v = vid[dev];
    const int32_t h = data[dev].YUV420 ? 2 : 1;
    r.hact = v.HActive * h;
    r.hsync = v.HSyncWidth * h;
    r.hback = v.HBackPorch * h;
    r.hpol = v.HPolarity;
    r.htt = v.HTotal * h;
    r.vact = v.VActive;
    r.vsync = v.VSyncWidth;
    r.vback = v.VBackPorch;
    r.vpol = v.VPolarity;
    r.vtt = v.VTotal;
    r.pfreq = float(v.PCLK / 1000.0);
    r.type = 1;
    r.datamode = 1;
    r.lane = 1 << (data[dev].LaneMode & 3);
    r.ip = v.Interlaced;
}

void ite6805_sys::iTE6805_Set_Stable(int dev, int value)
{
    if (keltosource* k = keltosource::p_kelto_source)
        if (valid(dev))
            k->hdminfo[4 + dev].stable = value ? 1 : 0;
}

void ite6805_sys::iTE6805_Show_VID_Info(int dev)
{
    ite6805_i2c_rdwr& io = *rdwr;
    const uint8_t port = data[dev].CurrentPort;
    io.chgbank(0, dev);
    for (uint8_t r = 0; r < 3; ++r)
        io.hdmirxrd(uint8_t((port == 0 ? 0x13 : 0x16) + r), dev);
    const iTE6805_VidInfo& v = vid[dev];
    const uint32_t width = data[dev].YUV420 ? 2u * v.HActive : v.HActive;
    const uint32_t rate = v.FrameRate < 55 ? v.FrameRate : 60;
    VyrRamPara* store = VyrRamPara::p_vyrrampara_config;
    if (!store)
        return;
    {
        // The short summary at the head of the block first, then the input's resolution record,
        // both under the store's mutex.
        const uint8_t summary[3] = {uint8_t(width), uint8_t(v.VActive), uint8_t(v.FrameRate)};
        uint8_t record[blk::kInputResolutionSize] = {};
        blk::put16(record, blk::kInputWidth, uint16_t(width));
        blk::put16(record, blk::kInputHeight, v.VActive);
        record[blk::kInputRate] = uint8_t(rate);
        PosixLock lock(store->mutex);
        store->setInputRecord(blk::iteSummary(uint32_t(dev)), summary, sizeof summary);
        store->setInputRecord(blk::inputResolution(uint32_t(4 + dev)), record, sizeof record);
    }
    store->test_signal(1);
}
