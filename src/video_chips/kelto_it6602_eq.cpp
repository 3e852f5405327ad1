#include "video_chips/kelto_it6602.h"
#include "video_chips/kelto_it6602_regs.h"

#include <cstdio>

using namespace it6602;

// Equaliser search of one port, one step per pass:
//   0-19   (selected port only) sync and symbol-error checks; a port whose three channels all
//          show symbol errors at step 19 gives up (step 155)
//   20-79  the error counters are read and cleared every pass
//   30     value 0 goes in; 60 value 1; 70 value 2; 80 the best value stays (jump to 156)
//   81, 156 end of the run
// Value 0 is measured over 30 passes, values 1 and 2 over 10; value 0's count is scaled to ten
// passes so that the three are compared alike.
namespace {
constexpr uint8_t EqIdle = 255;
constexpr uint8_t CheckSteps = 20;
constexpr uint8_t FirstUnselectedStep = 21;
constexpr uint8_t CountEnd = 80;
constexpr uint8_t GiveUpStep = 155;
constexpr uint8_t EndStep = 156;
constexpr uint8_t BadChecks = 3;
constexpr uint8_t PolarityToggles = 16;
constexpr uint8_t StartCount = 10;

uint8_t saturate(uint32_t v) { return v > 0xFF ? 0xFF : uint8_t(v); }
}

const uint8_t kelto_it6602::IT6602EQTable[3] = {0xFF, 0x9F, 0x83};

void kelto_it6602::HDMIStartEQDetect(int fd, int index, uint8_t port)
{
    (void)fd;
    port &= 1;
    IT6602_EQ_data& e = dev_[index].eq[port];
    if (e.step != EqIdle)
        return;
    e.port = port;
    e.step = port == dev_[index].selectedPort ? 0 : FirstUnselectedStep;
    e.inProgress = 1;
    e.errorCount = 0;
    e.errors = 0;
    for (uint8_t& c : e.counts)
        c = StartCount;
    if (tracing())
        std::printf("IT6602 %d: equaliser search on port %d\n", index, port);
}

bool kelto_it6602::HDMICheckSCDTon(int fd, int index, uint8_t port)
{
    (void)index;
    return hdmirxrd_it6602(fd, portStatus(port)) & SyncDetected;
}

void kelto_it6602::HDMISetEQValue(int fd, int index, uint8_t port, uint8_t tableIndex)
{
    (void)index;
    if (tableIndex >= 3)
        return; // 3 keeps what is in force
    port &= 1;
    hdmirxset_it6602(fd, RegEqManual[port], EqManual, EqManual);
    hdmirxwr_it6602(fd, RegEqValue[port], IT6602EQTable[tableIndex]);
}

void kelto_it6602::HDMIPollingErrorCount(int fd, int index, uint8_t port)
{
    IT6602_EQ_data& e = dev_[index].eq[port & 1];
    const uint8_t base = RegErrors[port & 1];
    uint8_t r[5];
    for (int i = 0; i < 5; ++i)
        r[i] = hdmirxrd_it6602(fd, uint8_t(base + i));
    for (int i = 0; i < 5; ++i)
        hdmirxwr_it6602(fd, uint8_t(base + i), r[i]); // ones clear the status, any write the counters
    const uint32_t seen = uint32_t(r[1]) + r[2] + r[3] + r[4];
    e.errors = e.errors > UINT32_MAX - seen ? UINT32_MAX : e.errors + seen;
}

bool kelto_it6602::OverWriteAmpValue2EQ(int fd, int index, uint8_t port)
{
    port &= 1;
    bool any = false;
    for (uint8_t ch = 0; ch < 3; ++ch) {
        const uint8_t a = amplitude_[index][port][ch];
        if (!(a & AmplitudeValid))
            continue;
        if (!any)
            hdmirxset_it6602(fd, RegEqManual[port], EqManual, EqManual);
        hdmirxwr_it6602(fd, uint8_t(RegEqValue[port] + ch), uint8_t(a & 0x7F));
        any = true;
    }
    return any;
}

uint8_t kelto_it6602::JudgeBestEQ(int fd, int index, uint8_t port)
{
    port &= 1;
    const IT6602_EQ_data& e = dev_[index].eq[port];
    if (!(hdmirxrd_it6602(fd, RegEqValue[port]) & 0x80)) {
        // No table value took: the measured amplitudes are the better guess.
        if (OverWriteAmpValue2EQ(fd, index, port))
            eqWritten_[index][port] = true;
        return 3;
    }
    uint8_t best = 2;
    const uint8_t smaller = e.counts[0] < e.counts[1] ? e.counts[0] : e.counts[1];
    if (e.counts[2] > smaller)
        best = e.counts[0] < e.counts[1] ? 0 : 1;
    HDMISetEQValue(fd, index, port, best);
    eqWritten_[index][port] = true;
    if (tracing())
        std::printf("IT6602 %d: port %d errors %d/%d/%d, equaliser 0x%02X\n", index, port, e.counts[0],
                    e.counts[1], e.counts[2], IT6602EQTable[best]);
    return best;
}

void kelto_it6602::HDMISwitchEQstate(int fd, int index, uint8_t port, uint8_t state)
{
    IT6602_dev_data& d = dev_[index];
    IT6602_EQ_data& e = d.eq[port & 1];
    switch (state) {
    case 30:
        HDMISetEQValue(fd, index, port, 0);
        break;
    case 60:
        e.counts[0] = saturate(e.errors / 3);
        HDMISetEQValue(fd, index, port, 1);
        break;
    case 70:
        e.counts[1] = saturate(e.errors);
        HDMISetEQValue(fd, index, port, 2);
        break;
    case 80:
        e.counts[2] = saturate(e.errors);
        JudgeBestEQ(fd, index, port);
        e.step = EndStep;
        break;
    default:
        d.hdcpOff = 1;
        return;
    }
    e.errors = 0;
}

void kelto_it6602::HDMIAdjustEQ(int fd, int index, uint8_t port)
{
    IT6602_dev_data& d = dev_[index];
    port &= 1;
    IT6602_EQ_data& e = d.eq[port];
    if (!e.inProgress)
        return;
    if (e.step == CountEnd + 1 || e.step >= EndStep) {
        e.step = EqIdle;
        e.inProgress = 0;
        if (port == d.selectedPort) {
            d.videoWait = 0;
            d.scdtWait = 0;
        }
        return;
    }
    if (e.step < CheckSteps) {
        const uint8_t symbols = hdmirxrd_it6602(fd, RegErrors[port]) & SymbolErrors;
        if ((!HDMICheckSCDTon(fd, index, port) || symbols) && ++e.errorCount >= BadChecks) {
            e.errorCount = 0;
            if (hdmirxrd_it6602(fd, RegEqControl[port]) == 0)
                hdmirxwr_it6602(fd, RegEqControl[port], EqForced);
        }
        if (e.step == CheckSteps - 1 && symbols == SymbolErrors) {
            e.step = GiveUpStep;
            return;
        }
        ++e.step;
        return;
    }
    if (e.step <= CountEnd) {
        if (e.step == 30 || e.step == 60 || e.step == 70 || e.step == CountEnd)
            HDMISwitchEQstate(fd, index, port, e.step);
        if (e.step < CountEnd)
            HDMIPollingErrorCount(fd, index, port);
        if (e.step == EndStep)
            return;
    }
    ++e.step;
}

void kelto_it6602::amplitudeCheck(int fd, int index, uint8_t port)
{
    port &= 1;
    for (uint8_t ch = 0; ch < 3; ++ch) {
        const uint8_t a = hdmirxrd_it6602(fd, uint8_t(RegAmplitude[port] + ch));
        amplitude_[index][port][ch] = (a & AmplitudeValid) ? a : 0;
    }
}

void kelto_it6602::eqFailure(int fd, int index, uint8_t port)
{
    IT6602_dev_data& d = dev_[index];
    port &= 1;
    if (d.eq[port].inProgress)
        return; // the running search decides
    if (port == 1 && d.polarityToggles < PolarityToggles) {
        // The failure may be the clock edge: try the other one first.
        ++d.polarityToggles;
        const uint8_t v = hdmirxrd_it6602(fd, RegPort1Clock);
        hdmirxwr_it6602(fd, RegPort1Clock, uint8_t(v ^ ClockInvert));
        return;
    }
    if (port == 1)
        d.polarityToggles = 0;
    eqWritten_[index][port] = false;
    HDMIStartEQDetect(fd, index, port);
}
