#include "platform/sim/devices/it6602_chip.h"

#include <algorithm>
#include <cstdio>

namespace platform::Sim {

namespace {
constexpr uint8_t Identity[4] = {0x54, 0x49, 0x02, 0x68};

// bank 0
constexpr uint8_t PortStatus0 = 0x0A;
constexpr uint8_t PortPower = 0x0C;
constexpr uint8_t FiveVolt = 0x01, ClockStable = 0x08, HdmiMode = 0x40, SyncDetected = 0x80, Port0Powered = 0x40;
constexpr uint8_t IntPort0 = 0x05, IntSync = 0x07, IntAvi = 0x09, IntEq = 0xD0;
constexpr uint8_t IntPower = 0x01, IntSyncChange = 0x02, IntModeChange = 0x20, IntAviChange = 0x01;
constexpr uint8_t TimingFirst = 0x99, TimingLast = 0xA8;
constexpr uint8_t AudioFirst = 0xAA, AudioLast = 0xAC;
constexpr uint8_t ErrorStatus[2] = {0xB2, 0xB7};
constexpr uint8_t EqManual[2] = {0x26, 0x3E}, EqValue[2] = {0x27, 0x3F};
constexpr uint8_t AmplitudeFirst = 0xD1, AmplitudeLast = 0xD6;
// bank 1
constexpr uint8_t Oscillator = 0x61;
// bank 2
constexpr uint8_t ClockFirst = 0xC0, ClockLast = 0xC2;
constexpr uint8_t AviFirst = 0x14, AviLast = 0x19;

bool interruptRegister(uint8_t a) { return (a >= IntPort0 && a <= 0x09) || a == IntEq; }
// port of an error register (status or counter), or -1
int errorPort(uint8_t a) { return a >= 0xB2 && a <= 0xB6 ? 0 : a >= 0xB7 && a <= 0xBB ? 1 : -1; }
}

It6602Chip::It6602Chip(int receiver) : receiver_(receiver) {}

bool It6602Chip::bankZeroStatus(uint8_t a)
{
    return interruptRegister(a) || (a >= PortStatus0 && a <= PortPower) || (a >= TimingFirst && a <= TimingLast) ||
           (a >= AudioFirst && a <= AudioLast) || (a >= AmplitudeFirst && a <= AmplitudeLast);
}

bool It6602Chip::readOnly(int bank, uint8_t a)
{
    if (a <= 0x03)
        return true;
    switch (bank) {
    case 0:
        return (a >= PortStatus0 && a <= PortPower) || (a >= TimingFirst && a <= TimingLast) ||
               (a >= AudioFirst && a <= AudioLast) || (a >= AmplitudeFirst && a <= AmplitudeLast);
    case 1:
        return a == Oscillator;
    case 2:
        return (a >= ClockFirst && a <= ClockLast) || (a >= AviFirst && a <= AviLast);
    default:
        return false;
    }
}

void It6602Chip::violation(const char* what, int bank, uint8_t address)
{
    char text[120];
    std::snprintf(text, sizeof text, "IT6602 %d: %s bank %d register 0x%02X", receiver_, what, bank, unsigned(address));
    violations_.push_back(text);
}

uint8_t It6602Chip::readByte(uint8_t a)
{
    if (a <= 0x03)
        return Identity[a];
    if (a == BankRegister)
        return bankReg_;
    const int bank = bankReg_ & 3;
    if (bank != 0 && bankZeroStatus(a))
        violation("read of a bank-0 status register in", bank, a);
    const int port = bank == 0 ? errorPort(a) : -1;
    if (port >= 0 && a == ErrorStatus[port])
        return uint8_t(regs_[0][a] | symbolErrors_[size_t(port)]);
    if (port >= 0 && a == ErrorStatus[port] + 1 && linkErrorsSet_[size_t(port)]) {
        const int16_t n = linkErrors_[size_t(port)][eqValueInForce(port)];
        return n < 0 ? 0 : uint8_t(n);
    }
    return regs_[bank][a];
}

uint8_t It6602Chip::eqValueInForce(int port) const
{
    return (regs_[0][EqManual[port]] & 0x20) ? regs_[0][EqValue[port]] : 0x00;
}

void It6602Chip::writeByte(uint8_t a, uint8_t value)
{
    const int bank = bankReg_ & 3;
    logWrite(a == BankRegister ? -1 : bank, a, value);
    if (a == BankRegister) {
        bankReg_ = value;
        return;
    }
    if (bank != 0 && bankZeroStatus(a)) {
        violation("write of a bank-0 status register in", bank, a);
        return;
    }
    if (readOnly(bank, a)) {
        violation("write to read-only", bank, a);
        return;
    }
    if (bank == 0 && (a == 0x11 || a == 0x18) && (value & 0x40) && !(regs_[0][a] & 0x40))
        ++afeResets_[a == 0x18 ? 1 : 0];
    const int port = bank == 0 ? errorPort(a) : -1;
    if (bank == 0 && interruptRegister(a))
        regs_[0][a] &= uint8_t(~value); // a written one clears the latch
    else if (port >= 0 && a == ErrorStatus[port])
        regs_[0][a] &= uint8_t(~value);
    else if (port >= 0)
        regs_[0][a] = 0; // counting starts over
    else
        regs_[bank][a] = value;
}

// Measured timing, laid out as the driver reads it back:
//   0x99 bit 1 interlaced; 0x9A = 3162000 / pixel clock in kHz, rounded (0 without a clock)
//   0x9C/0x9D total width (high bits 0-5), 0x9E/0x9F active width (high bits 0-5)
//   0xA0 sync width low, 0xA1 bits 4-7 front porch bits 8-11 and bit 0 sync width bit 8,
//   0xA2 front porch low
//   0xA3 total height low, 0xA4 bits 4-7 active height bits 8-11 and bits 0-3 total height
//   bits 8-11, 0xA5 active height low
//   0xA6 bits 0-4 vertical sync width, 0xA7 bits 0-5 vertical front porch
//   0xA8 bit 3 horizontal sync positive, bit 0 vertical sync positive
// Bank 2 0xC0-0xC2 hold the clock in kHz: C1 = kHz >> 12, C2 = (kHz >> 4) & 0xFF, C0 = (kHz & 0xF) << 4.
void It6602Chip::loadTiming(const HdmiTiming& t)
{
    auto& b0 = regs_[0];
    auto& b2 = regs_[2];
    const unsigned hfront = t.htotal >= t.hactive + t.hsync + t.hback ? t.htotal - t.hactive - t.hsync - t.hback : 0;
    const unsigned vfront = t.vtotal >= t.vactive + t.vsync + t.vback ? t.vtotal - t.vactive - t.vsync - t.vback : 0;
    b0[0x99] = t.interlaced ? 0x02 : 0x00;
    const uint32_t khz = t.pixelClockKHz;
    b0[0x9A] = khz ? uint8_t(std::clamp<uint32_t>((3162000u + khz / 2) / khz, 1, 255)) : 0;
    b0[0x9B] = 0;
    b0[0x9C] = uint8_t(t.htotal);
    b0[0x9D] = uint8_t((t.htotal >> 8) & 0x3F);
    b0[0x9E] = uint8_t(t.hactive);
    b0[0x9F] = uint8_t((t.hactive >> 8) & 0x3F);
    b0[0xA0] = uint8_t(t.hsync);
    b0[0xA1] = uint8_t((((hfront >> 8) & 0x0F) << 4) | ((t.hsync >> 8) & 0x01));
    b0[0xA2] = uint8_t(hfront);
    b0[0xA3] = uint8_t(t.vtotal);
    b0[0xA4] = uint8_t((((t.vactive >> 8) & 0x0F) << 4) | ((t.vtotal >> 8) & 0x0F));
    b0[0xA5] = uint8_t(t.vactive);
    b0[0xA6] = uint8_t(t.vsync & 0x1F);
    b0[0xA7] = uint8_t(vfront & 0x3F);
    b0[0xA8] = uint8_t((t.hpositive ? 0x08 : 0) | (t.vpositive ? 0x01 : 0));
    b2[0xC0] = uint8_t((khz & 0x0F) << 4);
    b2[0xC1] = uint8_t(std::min<uint32_t>(khz >> 12, 0xFF));
    b2[0xC2] = uint8_t((khz >> 4) & 0xFF);
}

void It6602Chip::connect(const HdmiTiming& timing)
{
    std::lock_guard<std::mutex> lock(m_);
    loadTiming(timing);
    regs_[0][PortStatus0] = uint8_t(FiveVolt | ClockStable | SyncDetected | (hdmi_ ? HdmiMode : 0));
    regs_[0][PortPower] = Port0Powered;
    if (!connected_) {
        regs_[0][IntPort0] |= IntPower;
        regs_[0][IntSync] |= IntSyncChange;
    }
    connected_ = true;
}

void It6602Chip::disconnect()
{
    std::lock_guard<std::mutex> lock(m_);
    HdmiTiming none; // nothing measured: every timing byte 0
    none.hpositive = none.vpositive = false;
    loadTiming(none);
    regs_[0][PortStatus0] = 0;
    regs_[0][PortPower] = 0;
    if (connected_) {
        regs_[0][IntPort0] |= IntPower;
        regs_[0][IntSync] |= IntSyncChange;
    }
    connected_ = false;
}

bool It6602Chip::connected() const
{
    std::lock_guard<std::mutex> lock(m_);
    return connected_;
}

void It6602Chip::setHdmiMode(bool hdmi)
{
    std::lock_guard<std::mutex> lock(m_);
    if (hdmi == hdmi_)
        return;
    hdmi_ = hdmi;
    if (connected_) {
        regs_[0][PortStatus0] = uint8_t((regs_[0][PortStatus0] & ~HdmiMode) | (hdmi ? HdmiMode : 0));
        regs_[0][IntPort0] |= IntModeChange;
    }
}

void It6602Chip::setAvi(uint8_t pb1, uint8_t pb2, uint8_t pb3, uint8_t pb4, uint8_t version)
{
    std::lock_guard<std::mutex> lock(m_);
    auto& b2 = regs_[2];
    // type 0x82, length 13: the checksum makes header and data sum to 0
    const uint8_t sum = uint8_t(0x82 + version + 13 + pb1 + pb2 + pb3 + pb4);
    b2[AviFirst] = uint8_t(0x100 - sum);
    b2[AviFirst + 1] = version;
    b2[AviFirst + 2] = pb1;
    b2[AviFirst + 3] = pb2;
    b2[AviFirst + 4] = pb3;
    b2[AviFirst + 5] = pb4;
    regs_[0][IntAvi] |= IntAviChange;
}

void It6602Chip::setAudio(uint8_t flags, uint8_t channels, uint8_t rate)
{
    std::lock_guard<std::mutex> lock(m_);
    regs_[0][AudioFirst] = flags;
    regs_[0][AudioFirst + 1] = channels;
    regs_[0][AudioFirst + 2] = rate;
}

void It6602Chip::setAmplitudes(int port, uint8_t ch0, uint8_t ch1, uint8_t ch2)
{
    std::lock_guard<std::mutex> lock(m_);
    const size_t first = AmplitudeFirst + 3 * size_t(port & 1);
    regs_[0][first] = ch0;
    regs_[0][first + 1] = ch1;
    regs_[0][first + 2] = ch2;
}

void It6602Chip::raiseEq(uint8_t bits)
{
    std::lock_guard<std::mutex> lock(m_);
    regs_[0][IntEq] |= bits;
}

void It6602Chip::setLinkErrors(int port, uint8_t eqValue, uint8_t errors)
{
    std::lock_guard<std::mutex> lock(m_);
    auto& table = linkErrors_[size_t(port & 1)];
    if (!linkErrorsSet_[size_t(port & 1)])
        table.fill(-1);
    linkErrorsSet_[size_t(port & 1)] = true;
    table[eqValue] = errors;
}

void It6602Chip::setSymbolErrors(int port, uint8_t bits)
{
    std::lock_guard<std::mutex> lock(m_);
    symbolErrors_[size_t(port & 1)] = uint8_t(bits & 0x07);
}

std::vector<std::string> It6602Chip::violations() const
{
    std::lock_guard<std::mutex> lock(m_);
    return violations_;
}

void It6602Chip::reset()
{
    std::lock_guard<std::mutex> lock(m_);
    for (auto& bank : regs_)
        bank.fill(0);
    bankReg_ = 0;
    pointer_ = 0;
    connected_ = false;
    hdmi_ = false;
    linkErrorsSet_ = {};
    symbolErrors_ = {};
    afeResets_ = {};
    failNext_ = 0;
    writes_.clear();
    violations_.clear();
    setPresent(true);
}

uint8_t It6602Chip::reg(int bank, uint8_t address) const
{
    std::lock_guard<std::mutex> lock(m_);
    if (address <= 0x03)
        return Identity[address];
    if (address == BankRegister)
        return bankReg_;
    return regs_.at(size_t(bank & 3))[address];
}

void It6602Chip::poke(int bank, uint8_t address, uint8_t value)
{
    std::lock_guard<std::mutex> lock(m_);
    if (address == BankRegister)
        bankReg_ = value;
    else
        regs_.at(size_t(bank & 3))[address] = value;
}

int It6602Chip::afeResets(int port) const
{
    std::lock_guard<std::mutex> lock(m_);
    return afeResets_[port & 1];
}

int It6602Chip::bank() const
{
    std::lock_guard<std::mutex> lock(m_);
    return bankReg_ & 3;
}

void It6602Chip::clearViolations()
{
    std::lock_guard<std::mutex> lock(m_);
    violations_.clear();
}

}
