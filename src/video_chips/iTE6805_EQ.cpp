// Equaliser training of the iTE6805 receivers: hardware training for HDMI 1.x links, automatic
// training with decision-feedback taps for HDMI 2.0 links, a manual series of table values when
// training does not give a clean link, and monitoring of the bit-error counters once trained.
// The equaliser registers of the current port are in bank 3 (port 0) or 7 (port 1).
#include "video_chips/iTE6805_SYS.h"

#include "base/delay.h"

#include <cstdlib>
#include <initializer_list>

const uint8_t ite6805_eq::RS_Value[14] = {0x7F, 0x7E, 0x3F, 0x3E, 0x1F, 0x1E, 0x0F,
                                          0x0E, 0x07, 0x06, 0x03, 0x02, 0x01, 0x00};
const uint8_t ite6805_eq::iTE6805_EQ_Table_Hdmi20[4] = {0x01, 0x07, 0x0F, 0x3F};
const uint8_t ite6805_eq::iTE6805_EQ_Table_Hdmi10[4] = {0x01, 0x3F, 0x07, 0x0F};

namespace {
constexpr int Tries = 4;
constexpr uint8_t TrainingPasses = 31;
constexpr uint8_t MonitorGapMax = 32;

ite6805_sys& sys() { return *ite6805(); }
ite6805_i2c_rdwr& io() { return *ite6805()->rdwr; }
uint8_t port(int dev) { return sys().data[dev].CurrentPort; }

bool goodSample(uint8_t low, uint8_t high, uint8_t limit) { return high == 0x80 && low < limit; }
}

uint8_t ite6805_eq::bank(int dev) const { return port(dev) == 1 ? 7 : 3; }

// ---- interrupts --------------------------------------------------------------------------------

void ite6805_eq::iTE6805_hdmirx_port0_EQ_irq(int dev)
{
    Device& e = dev_[dev & 1];
    ite6805_i2c_rdwr& r = io();
    r.chgbank(0, dev);
    const uint8_t v = r.hdmirxrd(0x07, dev);
    r.hdmirxwr(0x07, uint8_t(v & 0xF7), dev);
    if (v & 0x10)
        e.done = 1;
    if (v & 0x20) {
        e.result = 1;
        iTE6805_Set_EQResult_Flag(dev);
    }
    if (v & 0x40)
        e.event6 = 1;
    if (v & 0x80)
        e.fail = 1;
    if (v & 0xF0) { // any of them stops the training engine
        r.chgbank(bank(dev), dev);
        r.hdmirxset(0x22, 0x04, 0x00, dev);
    }
    r.chgbank(0, dev);
}

void ite6805_eq::iTE6805_hdmirx_port1_EQ_irq(int dev)
{
    Device& e = dev_[dev & 1];
    ite6805_i2c_rdwr& r = io();
    r.chgbank(0, dev);
    const uint8_t v = r.hdmirxrd(0x0C, dev);
    r.hdmirxwr(0x0C, v, dev);
    e.done |= (v >> 4) & 1;
    e.result |= (v >> 5) & 1;
    e.event6 |= (v >> 6) & 1;
    e.fail |= (v >> 7) & 1;
}

// ---- states ------------------------------------------------------------------------------------

void ite6805_eq::iTE6805_Reset_EQ(int dev)
{
    Device& e = dev_[dev & 1];
    ite6805_i2c_rdwr& r = io();
    e.done = e.result = e.event6 = e.fail = 0;
    e.skew = e.autoTrain = e.outOfRange = 0;
    e.good[0] = e.good[1] = e.good[2] = 0;
    e.marked01 = 0;
    e.waitCount = 0;
    e.monCount = 0;
    e.tryIndex = 0;
    e.monGap = MonitorGapMax;
    r.chgbank(bank(dev), dev);
    r.hdmirxwr(0x2C, 0x00, dev);
    r.hdmirxwr(0x2D, 0x07, dev);
    r.chgbank(0, dev);
    const uint8_t portReg = port(dev) == 1 ? 0x2B : 0x23;
    r.hdmirxwr(port(dev) == 1 ? 0x0C : 0x07, 0xFF, dev);
    r.hdmirxwr(portReg, 0xB0, dev);
    Delay::ms(1);
    r.hdmirxwr(portReg, 0xA0, dev);
    r.chgbank(bank(dev), dev);
    for (uint8_t a = 0x27; a <= 0x29; ++a)
        r.hdmirxwr(a, 0x9F, dev);
    r.hdmirxwr(0x22, 0x00, dev);
    r.hdmirxset(0x4B, 0x80, 0x00, dev);
    r.chgbank(0, dev);
}

void ite6805_eq::iTE6805_EQ_chg(STATEEQ_Type state, int dev)
{
    ite6805_sys& s = sys();
    Device& e = dev_[dev & 1];
    ite6805_i2c_rdwr& r = io();
    iTE6805_DATA& d = s.data[dev & 1];
    for (int ch = 0; ch < 3; ++ch) {
        e.best[ch] = 0;
        e.bestErrors[ch] = 0;
    }
    if (d.STATEEQ == STATEEQ_EQFrozen)
        return; // left only by the receiver core's own assignments
    d.STATEEQ = state;
    switch (state) {
    case STATEEQ_EQReset:
        iTE6805_Reset_EQ(dev);
        break;
    case STATEEQ_EQStart: {
        r.chgbank(0, dev);
        const uint8_t st = r.hdmirxrd(port(dev) == 1 ? 0x17 : 0x14, dev);
        e.fast = (st & 0x41) ? 1 : 0;
        r.chgbank(bank(dev), dev);
        r.hdmirxset(0xA7, 0x40, e.fast ? 0x40 : 0x00, dev);
        r.chgbank(0, dev);
        break;
    }
    case STATEEQ_EQTraining:
        e.waitCount = 0;
        break;
    case STATEEQ_EQTrainDone:
        if (e.event6) {
            iTE6805_Report_EQ(dev);
        } else if (e.done) {
            if (e.skew) {
                e.skew = 0;
                iTE6805_Report_Skew(dev);
            } else {
                iTE6805_Report_EQ(dev);
                iTE6805_Report_Skew(dev);
                if (e.autoTrain) {
                    iTE6805_Set_EQResult_Flag(dev);
                    r.chgbank(bank(dev), dev);
                    if (e.outOfRange) {
                        r.hdmirxset(0x22, 0x40, 0x00, dev);
                        r.chgbank(0, dev);
                        e.autoTrain = 0;
                        iTE6805_EQ_chg(STATEEQ_EQManual, dev);
                        return;
                    }
                    r.chgbank(0, dev);
                    for (uint8_t ch = 0; ch < 3; ++ch)
                        iTE6805_Get_DFE(ch, dev);
                    r.chgbank(bank(dev), dev);
                    r.hdmirxset(0x22, 0x40, 0x40, dev);
                    r.chgbank(0, dev);
                }
                e.autoTrain = 0;
            }
        }
        iTE6805_EQ_chg(STATEEQ_EQCheck, dev);
        break;
    case STATEEQ_EQCheck: {
        if (iTE6805_BitErr_Check(dev)) {
            e.skew = 0;
            iTE6805_EQ_chg(STATEEQ_EQDone, dev);
            break;
        }
        const int t = e.tryIndex ? e.tryIndex - 1 : 0;
        if (e.samples[t][0][1] == 0 && e.samples[t][1][1] == 0 && e.samples[t][2][1] == 0) {
            // no counter at all: the 0xE5 override, then start over
            r.chgbank(bank(dev), dev);
            const uint8_t e5 = r.hdmirxrd(0xE5, dev);
            r.hdmirxset(0xE5, 0x1C, (e5 & 0x10) ? 0x00 : (e.hdmi20 ? 0x10 : 0x1C), dev);
            r.chgbank(0, dev);
            iTE6805_EQ_chg(STATEEQ_EQReset, dev);
        } else if (e.skew) {
            iTE6805_Trigger_RSSKEW_EQ(dev);
            iTE6805_EQ_chg(STATEEQ_EQTraining, dev);
        } else {
            iTE6805_EQ_chg(STATEEQ_EQManual, dev);
        }
        break;
    }
    case STATEEQ_EQManual: {
        const uint8_t index = e.tryIndex;
        if (index < Tries) {
            e.tryIndex = uint8_t(index + 1);
            const uint8_t value = e.table ? e.table[index] : iTE6805_EQ_Table_Hdmi10[index];
            r.chgbank(bank(dev), dev);
            r.hdmirxwr(0x2C, 0x00, dev);
            r.hdmirxwr(0x2D, 0x07, dev);
            for (uint8_t ch = 0; ch < 3; ++ch) {
                if (e.good[ch])
                    continue;
                r.hdmirxwr(uint8_t(0x27 + ch), uint8_t(value | 0x80), dev);
                if (e.hdmi20 && !e.outOfRange)
                    iTE6805_Set_DFE(value, ch, dev);
            }
            r.chgbank(0, dev);
            iTE6805_EQ_chg(STATEEQ_EQCheck, dev);
            break;
        }
        e.tryIndex = 0;
        for (int ch = 0; ch < 3; ++ch) {
            if (e.good[ch])
                continue;
            int chosen = -1;
            uint16_t least = 0;
            for (int t = 0; t < Tries; ++t) {
                const uint8_t high = e.samples[t][ch][1];
                if (!(high & 0x80))
                    continue;
                const uint16_t count = uint16_t(((high & 0x7F) << 8) | e.samples[t][ch][0]);
                if (chosen < 0 || count < least) {
                    chosen = t;
                    least = count;
                }
            }
            const uint8_t* table = e.table ? e.table : iTE6805_EQ_Table_Hdmi10;
            e.best[ch] = table[chosen < 0 ? 0 : chosen];
            e.bestErrors[ch] = least;
            e.value[ch] = e.best[ch];
        }
        if (e.hdmi20) {
            e.skew = 1;
            iTE6805_Trigger_RSSKEW_EQ(dev);
            iTE6805_EQ_chg(STATEEQ_EQTraining, dev);
            break;
        }
        r.chgbank(bank(dev), dev);
        for (uint8_t ch = 0; ch < 3; ++ch)
            r.hdmirxwr(uint8_t(0x27 + ch), uint8_t(e.value[ch] ^ 0x80), dev);
        r.chgbank(0, dev);
        iTE6805_EQ_chg(iTE6805_BitErr_Check_Again(dev) ? STATEEQ_EQDone : STATEEQ_EQRetry, dev);
        break;
    }
    case STATEEQ_EQDone:
        e.accumulated[0] = e.accumulated[1] = e.accumulated[2] = 0;
        iTE6805_Report_EQ(dev);
        if (e.hdmi20)
            iTE6805_Report_Skew(dev);
        break;
    default:
        break;
    }
}

void ite6805_eq::iTE6805_EQ_fsm(int dev)
{
    ite6805_sys& s = sys();
    Device& e = dev_[dev & 1];
    ite6805_i2c_rdwr& r = io();
    switch (s.data[dev & 1].STATEEQ) {
    case STATEEQ_EQStart: {
        r.chgbank(0, dev);
        const uint8_t status = r.hdmirxrd(port(dev) == 1 ? 0x16 : 0x13, dev);
        if (!(status & 0x08))
            break;
        const bool hdmi20 = r.hdmirxrd(port(dev) == 1 ? 0x17 : 0x14, dev) & 0x40;
        // Both flags from this link: the previous source on the input may have been the other kind.
        e.hdmi20 = hdmi20 ? 1 : 0;
        e.hdmi1x = hdmi20 ? 0 : 1;
        if (hdmi20) {
            e.table = iTE6805_EQ_Table_Hdmi20;
            e.autoTrain = 1;
            if (iTE6805_BitErr_Check(dev)) {
                iTE6805_EQ_chg(STATEEQ_EQDone, dev);
            } else {
                iTE6805_Trigger_SAREQ(dev);
                iTE6805_EQ_chg(STATEEQ_EQTraining, dev);
            }
        } else {
            e.table = iTE6805_EQ_Table_Hdmi10;
            iTE6805_Trigger_EQ(dev);
            iTE6805_EQ_chg(STATEEQ_EQTraining, dev);
        }
        break;
    }
    case STATEEQ_EQTraining:
        if (e.event6 || e.done) {
            iTE6805_EQ_chg(STATEEQ_EQTrainDone, dev);
            break;
        }
        ++e.waitCount;
        if (e.waitCount >= TrainingPasses || (e.fail && e.hdmi1x && !e.hdmi20) || (e.result && e.hdmi20)) {
            e.waitCount = 0;
            e.fail = 0;
            e.result = 0;
            e.outOfRange = 1;
            iTE6805_EQ_chg(STATEEQ_EQManual, dev);
        }
        break;
    case STATEEQ_EQRetry:
        iTE6805_EQ_chg(STATEEQ_EQManual, dev);
        break;
    case STATEEQ_EQDone:
        if (++e.monCount <= e.monGap)
            break;
        e.monCount = 0;
        if (e.monGap < MonitorGapMax)
            ++e.monGap;
        if (e.hdmi20) {
            if (s.data[dev & 1].VideoStable)
                iTE6805_BitErr_Get(dev);
        } else if (!iTE6805_BitErr_Check_Again(dev)) {
            iTE6805_EQ_chg(STATEEQ_EQStart, dev);
        }
        break;
    default:
        break;
    }
}

// ---- training starts ---------------------------------------------------------------------------

namespace {
void clearAndPulse(int dev, uint32_t pauseMs)
{
    ite6805_i2c_rdwr& r = io();
    const bool one = port(dev) == 1;
    r.chgbank(0, dev);
    r.hdmirxwr(one ? 0x0C : 0x07, 0xFF, dev);
    r.hdmirxwr(one ? 0x2B : 0x23, 0xB0, dev);
    Delay::ms(pauseMs);
    r.hdmirxwr(one ? 0x2B : 0x23, 0xA0, dev);
}
}

void ite6805_eq::iTE6805_Trigger_EQ(int dev)
{
    Device& e = dev_[dev & 1];
    ite6805_i2c_rdwr& r = io();
    e.done = e.result = e.event6 = e.fail = 0;
    clearAndPulse(dev, 10);
    const bool fast = r.hdmirxrd(port(dev) == 1 ? 0x17 : 0x14, dev) & 0x01;
    r.chgbank(bank(dev), dev);
    r.hdmirxwr(0x20, fast ? 0x36 : 0x1B, dev);
    r.hdmirxwr(0x21, fast ? 0x0E : 0x03, dev);
    for (uint8_t a = 0x26; a <= 0x29; ++a)
        r.hdmirxwr(a, 0x00, dev);
    r.hdmirxwr(0x22, 0x38, dev);
    r.hdmirxset(0x22, 0x04, 0x04, dev);
    Delay::ms(1);
    r.hdmirxset(0x22, 0x04, 0x00, dev);
    r.chgbank(0, dev);
}

void ite6805_eq::iTE6805_Trigger_SAREQ(int dev)
{
    Device& e = dev_[dev & 1];
    ite6805_i2c_rdwr& r = io();
    e.done = e.result = e.event6 = e.fail = 0;
    r.chgbank(bank(dev), dev);
    r.hdmirxwr(0x20, 0x1B, dev);
    r.hdmirxwr(0x21, 0x03, dev);
    r.hdmirxset(0x20, 0x80, 0x00, dev);
    r.hdmirxwr(0x22, 0x00, dev);
    clearAndPulse(dev, 10);
    r.chgbank(port(dev) == 1 ? 4 : 0, dev);
    r.hdmirxwr(0x3B, 0x23, dev);
    r.chgbank(bank(dev), dev);
    r.hdmirxwr(0x26, 0x00, dev);
    for (uint8_t a = 0x27; a <= 0x29; ++a)
        r.hdmirxwr(a, 0x1F, dev);
    r.hdmirxset(0x2C, 0xC0, 0xC0, dev);
    r.hdmirxset(0x2D, 0xF0, 0x20, dev);
    r.hdmirxset(0x2D, 0x07, 0x00, dev);
    const uint8_t rows[][2] = {{0x30, 0x8C}, {0x31, 0xB0}, {0x32, 0x43}, {0x33, 0x47}, {0x34, 0x4B}, {0x35, 0x53}};
    for (const auto& row : rows)
        r.hdmirxwr(row[0], row[1], dev);
    r.hdmirxset(0x36, 0xC0, 0x00, dev);
    r.hdmirxwr(0x37, 0x0B, dev);
    r.hdmirxwr(0x38, 0xF2, dev);
    r.hdmirxwr(0x39, 0x0D, dev);
    r.hdmirxset(0x4A, 0x80, 0x00, dev);
    r.hdmirxset(0x4B, 0x80, 0x00, dev);
    r.hdmirxset(0x54, 0x80, 0x80, dev);
    r.hdmirxwr(0x55, 0x40, dev);
    r.hdmirxset(0x22, 0x04, 0x04, dev);
    r.chgbank(0, dev);
}

void ite6805_eq::iTE6805_Trigger_RSSKEW_EQ(int dev)
{
    Device& e = dev_[dev & 1];
    ite6805_i2c_rdwr& r = io();
    e.done = e.result = e.event6 = e.fail = 0;
    r.chgbank(bank(dev), dev);
    r.hdmirxset(0x22, 0x04, 0x00, dev);
    for (uint8_t ch = 0; ch < 3; ++ch)
        r.hdmirxwr(uint8_t(0x27 + ch), uint8_t(e.value[ch] ^ 0x80), dev);
    if (!e.outOfRange) {
        for (uint8_t ch = 0; ch < 3; ++ch)
            iTE6805_Set_DFE(e.value[ch], ch, dev);
        r.hdmirxset(0x4B, 0x80, 0x80, dev);
    }
    r.hdmirxwr(0x2D, 0x00, dev);
    r.hdmirxwr(0x30, 0x94, dev);
    r.hdmirxwr(0x31, 0xB0, dev);
    r.hdmirxset(0x37, 0x10, 0x10, dev);
    r.hdmirxset(0x54, 0x80, 0x00, dev);
    r.hdmirxset(0x22, 0x04, 0x04, dev);
    r.chgbank(0, dev);
}

// ---- bit errors --------------------------------------------------------------------------------

void ite6805_eq::iTE6805_BitErr_Get(int dev)
{
    ite6805_sys& s = sys();
    Device& e = dev_[dev & 1];
    ite6805_i2c_rdwr& r = io();
    r.chgbank(port(dev) == 1 ? 4 : 0, dev);
    r.hdmirxset(0x3B, 0x08, 0x08, dev);
    r.chgbank(bank(dev), dev);
    r.hdmirxset(0x55, 0x80, 0x00, dev);
    r.hdmirxwr(0xE9, 0x80, dev);
    Delay::ms(100);
    const int t = e.tryIndex ? e.tryIndex - 1 : 0;
    const uint8_t select[3] = {0x00, 0x20, 0x40};
    for (int ch = 0; ch < 3; ++ch) {
        r.hdmirxwr(0xE9, select[ch], dev);
        e.samples[t][ch][0] = r.hdmirxrd(0xEA, dev);
        e.samples[t][ch][1] = r.hdmirxrd(0xEB, dev);
        if (s.data[dev & 1].STATEEQ == STATEEQ_EQDone)
            e.accumulated[ch] += uint32_t((e.samples[t][ch][1] & 0x7F) << 8) + e.samples[t][ch][0];
    }
    r.chgbank(0, dev);
}

uint8_t ite6805_eq::iTE6805_BitErr_Check(int dev)
{
    Device& e = dev_[dev & 1];
    iTE6805_BitErr_Get(dev);
    const int t = e.tryIndex ? e.tryIndex - 1 : 0;
    for (int ch = 0; ch < 3; ++ch)
        if (goodSample(e.samples[t][ch][0], e.samples[t][ch][1], 240))
            e.good[ch] = 1;
    const bool before01 = e.marked01;
    if (e.good[0] && e.good[1])
        e.marked01 = 1;
    if (e.good[0] && e.good[1] && e.good[2]) {
        ite6805_i2c_rdwr& r = io();
        r.chgbank(bank(dev), dev);
        r.hdmirxset(0x22, 0x08, 0x00, dev);
        r.chgbank(0, dev);
        r.hdmirxwr(0x07, 0xF0, dev);
        r.hdmirxwr(0x0C, 0xF0, dev);
        return 1;
    }
    if (!e.good[1] && !e.good[2] && !before01)
        return iTE6805_BitErr_Check_For_Parity_Error(dev);
    return 0;
}

uint8_t ite6805_eq::iTE6805_BitErr_Check_Again(int dev)
{
    Device& e = dev_[dev & 1];
    iTE6805_BitErr_Get(dev);
    const int t = e.tryIndex ? e.tryIndex - 1 : 0;
    bool ok[3];
    for (int ch = 0; ch < 3; ++ch)
        ok[ch] = goodSample(e.samples[t][ch][0], e.samples[t][ch][1], 241);
    for (int ch = 0; ch < 2; ++ch)
        if (!ok[ch])
            e.good[ch] = 0;
    if (ok[2]) {
        if (e.good[0] || e.good[1] || e.good[2])
            return ok[0] && ok[1];
        return iTE6805_BitErr_Check_For_Parity_Error(dev);
    }
    e.good[2] = 0;
    if (!e.good[0] && !e.good[1])
        return iTE6805_BitErr_Check_For_Parity_Error(dev);
    return 0;
}

uint8_t ite6805_eq::iTE6805_BitErr_Check_For_Parity_Error(int dev)
{
    ite6805_i2c_rdwr& r = io();
    const bool one = port(dev) == 1;
    r.chgbank(0, dev);
    const uint8_t status = r.hdmirxrd(one ? 0x16 : 0x13, dev);
    const uint8_t lock = r.hdmirxrd(one ? 0x17 : 0x14, dev);
    const uint8_t scdt = r.hdmirxrd(0x19, dev);
    r.chgbank(one ? 4 : 0, dev);
    r.hdmirxwr(0xB9, 0xFF, dev);
    r.hdmirxwr(0xBE, 0xFF, dev);
    const uint8_t b9 = r.hdmirxrd(0xB9, dev), be = r.hdmirxrd(0xBE, dev);
    r.chgbank(0, dev);
    return (status == 0xBF && (lock & 0x38) == 0x38 && b9 == 0 && be == 0 && (scdt & 0x80)) ? 1 : 0;
}

// ---- values, results, taps ---------------------------------------------------------------------

void ite6805_eq::iTE6805_Report_EQ(int dev)
{
    Device& e = dev_[dev & 1];
    ite6805_i2c_rdwr& r = io();
    r.chgbank(bank(dev), dev);
    for (uint8_t ch = 0; ch < 3; ++ch)
        e.value[ch] = r.hdmirxrd(uint8_t(0xD5 + ch), dev) & 0x7F;
    r.chgbank(0, dev);
}

void ite6805_eq::iTE6805_Report_Skew(int dev)
{
    ite6805_i2c_rdwr& r = io();
    r.chgbank(bank(dev), dev);
    r.hdmirxrd(0x74, dev);
    for (uint8_t sel : {0x00, 0x40, 0x80}) {
        r.hdmirxset(0x37, 0xC0, sel, dev);
        for (uint8_t a = 0x75; a <= 0x7A; ++a)
            r.hdmirxrd(a, dev);
    }
    r.chgbank(0, dev);
}

void ite6805_eq::iTE6805_Set_EQResult_Flag(int dev)
{
    Device& e = dev_[dev & 1];
    ite6805_i2c_rdwr& r = io();
    e.outOfRange = 0;
    r.chgbank(bank(dev), dev);
    for (uint8_t ch = 0; ch < 3; ++ch) {
        r.hdmirxset(0x37, 0xC0, uint8_t(ch << 6), dev);
        e.resultA[ch] = uint16_t(r.hdmirxrd(0x63, dev) + 256 * r.hdmirxrd(0x64, dev));
        e.resultB[ch] = uint16_t(r.hdmirxrd(0x6D, dev) + 256 * r.hdmirxrd(0x6E, dev));
        if (e.resultA[ch] == 0x3FFF)
            e.outOfRange = 1;
    }
    r.chgbank(0, dev);
}

void ite6805_eq::iTE6805_Get_DFE(uint8_t ch, int dev)
{
    Device& e = dev_[dev & 1];
    if (e.outOfRange || ch > 2)
        return;
    ite6805_i2c_rdwr& r = io();
    r.chgbank(bank(dev), dev);
    r.hdmirxset(0x37, 0xC0, uint8_t(ch << 6), dev);
    r.hdmirxrd(uint8_t(0xD5 + ch), dev);
    for (uint8_t i = 0; i < 14; ++i) {
        r.hdmirxset(0x36, 0x0F, i, dev);
        const int a = r.hdmirxrd(0x5D, dev), b = r.hdmirxrd(0x5E, dev);
        const int c = r.hdmirxrd(0x5F, dev), d = r.hdmirxrd(0x60, dev);
        const int ab = std::abs(a - b) / 2, ac = std::abs(a - c) / 2, ad = std::abs(a - d) / 2;
        e.dfe[i][ch][0] = uint8_t(ab > 31 ? (a > b ? 0x7F : 0x5F) : (a > b ? 0x60 : 0x40) + ab);
        e.dfe[i][ch][1] = uint8_t(ac > 15 ? (a > c ? 0x3F : 0x2F) : (a > c ? 0x30 : 0x20) + ac);
        e.dfe[i][ch][2] = uint8_t(ad > 7 ? (a > d ? 0x1F : 0x17) : (a > d ? 0x18 : 0x10) + ad);
    }
    r.chgbank(0, dev);
}

// The caller has selected the port's equaliser bank.
void ite6805_eq::iTE6805_Set_DFE(uint8_t value, uint8_t ch, int dev)
{
    Device& e = dev_[dev & 1];
    if (ch > 2)
        return;
    int index = 4;
    for (int i = 0; i < 14; ++i)
        if (RS_Value[i] == value) {
            index = i;
            break;
        }
    ite6805_i2c_rdwr& r = io();
    const uint8_t base = uint8_t(0x4B + 3 * ch);
    for (uint8_t k = 0; k < 3; ++k)
        r.hdmirxwr(uint8_t(base + k), e.dfe[index][ch][k], dev);
}
