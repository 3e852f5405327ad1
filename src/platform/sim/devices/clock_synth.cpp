#include "platform/sim/devices/clock_synth.h"

namespace platform::Sim {

const std::array<uint8_t, ClockSynth::Registers>& ClockSynth::boardTable()
{
    // The configuration the board needs for the FPGA clocks.
    static const std::array<uint8_t, Registers> table = {
        0x00, 0x00, 0x11, 0x32, 0x7B, 0x53, 0xEC, 0x01, 0x19, 0x52, 0xF2, 0x06, 0x63, 0x24, 0xC7, 0x13,
        0x00, 0x30, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x02, 0x24, 0x03, 0x11, 0x33, 0x38, 0x80, 0x04,
        0x00, 0x00, 0x74, 0x74, 0x90, 0x7D, 0x69, 0xE1, 0xA0, 0xEF, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
        0xF3, 0xFF, 0xFF, 0x00, 0x00, 0x00, 0x00, 0x00, 0xC3, 0xC2, 0x00, 0x00, 0x00, 0x00, 0x05};
    return table;
}

bool ClockSynth::write(const uint8_t* data, size_t len, uint64_t)
{
    std::lock_guard<std::mutex> lock(m_);
    if (len == 0)
        return true;
    pointer_ = data[0];
    bool ok = true;
    for (size_t i = 1; i < len && ok; ++i) {
        const uint8_t reg = pointer_;
        ok = reg < Registers;
        if (ok && reg == refuseReg_ && refuseTimes_ > 0) {
            --refuseTimes_;
            ok = false;
        }
        writes_.push_back({reg, data[i], ok});
        if (ok) {
            regs_[reg] = data[i];
            ++pointer_;
        }
    }
    relock();
    return ok;
}

bool ClockSynth::read(uint8_t* data, size_t len, uint64_t)
{
    std::lock_guard<std::mutex> lock(m_);
    for (size_t i = 0; i < len; ++i) {
        data[i] = pointer_ < Registers ? regs_[pointer_] : 0xFF;
        ++pointer_;
    }
    return true;
}

void ClockSynth::reset()
{
    {
        std::lock_guard<std::mutex> lock(m_);
        regs_.fill(0);
        relock();
        pointer_ = 0;
        refuseReg_ = -1;
        refuseTimes_ = 0;
        writes_.clear();
    }
    setPresent(true);
}

std::array<uint8_t, ClockSynth::Registers> ClockSynth::registers() const
{
    std::lock_guard<std::mutex> lock(m_);
    return regs_;
}

void ClockSynth::setRegister(int reg, uint8_t value)
{
    std::lock_guard<std::mutex> lock(m_);
    if (reg >= 0 && reg < Registers)
        regs_[reg] = value;
    relock();
}

bool ClockSynth::locked() const
{
    return locked_;
}

void ClockSynth::refuseWriteOf(int reg, int times)
{
    std::lock_guard<std::mutex> lock(m_);
    refuseReg_ = reg;
    refuseTimes_ = times;
}

std::vector<ClockSynth::Write> ClockSynth::writes() const
{
    std::lock_guard<std::mutex> lock(m_);
    return writes_;
}

void ClockSynth::clearLog()
{
    std::lock_guard<std::mutex> lock(m_);
    writes_.clear();
}

}
