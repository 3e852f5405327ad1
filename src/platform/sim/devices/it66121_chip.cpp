#include "platform/sim/devices/it66121_chip.h"

#include <algorithm>
#include <cstdio>

namespace platform::Sim {

uint8_t It66121Chip::readByte(uint8_t a)
{
    if (a == BankRegister)
        return bankReg_;
    const int bank = bankReg_ & 1;
    if (bank == 0 && a <= 0x01) {
        ++identityReads_;
        if (failIdentity_ > 0) {
            --failIdentity_;
            return 0;
        }
        return identity_[a];
    }
    return regs_[bank][a];
}

void It66121Chip::writeByte(uint8_t a, uint8_t value)
{
    const int bank = bankReg_ & 1;
    logWrite(a == BankRegister ? -1 : bank, a, value);
    if (a == BankRegister) {
        bankReg_ = value;
        return;
    }
    if (bank == 0 && a <= 0x01) {
        char text[80];
        std::snprintf(text, sizeof text, "IT66121: write of identity register 0x%02X", unsigned(a));
        violations_.push_back(text);
        return;
    }
    regs_[bank][a] = value;
}

std::vector<std::string> It66121Chip::violations() const
{
    std::lock_guard<std::mutex> lock(m_);
    return violations_;
}

void It66121Chip::reset()
{
    std::lock_guard<std::mutex> lock(m_);
    for (auto& b : regs_)
        b.fill(0);
    bankReg_ = 0;
    pointer_ = 0;
    identity_[0] = 0x54;
    identity_[1] = 0x49;
    failIdentity_ = 0;
    identityReads_ = 0;
    failNext_ = 0;
    writes_.clear();
    violations_.clear();
    setPresent(true);
}

uint8_t It66121Chip::reg(int bank, uint8_t address) const
{
    std::lock_guard<std::mutex> lock(m_);
    if (address == BankRegister)
        return bankReg_;
    if ((bank & 1) == 0 && address <= 0x01)
        return identity_[address];
    return regs_[size_t(bank & 1)][address];
}

void It66121Chip::poke(int bank, uint8_t address, uint8_t value)
{
    std::lock_guard<std::mutex> lock(m_);
    if (address == BankRegister)
        bankReg_ = value;
    else
        regs_[size_t(bank & 1)][address] = value;
}

void It66121Chip::setIdentity(uint8_t reg0, uint8_t reg1)
{
    std::lock_guard<std::mutex> lock(m_);
    identity_[0] = reg0;
    identity_[1] = reg1;
}

void It66121Chip::failIdentityReads(int count)
{
    std::lock_guard<std::mutex> lock(m_);
    failIdentity_ = std::max(0, count);
}

int It66121Chip::identityReads() const
{
    std::lock_guard<std::mutex> lock(m_);
    return identityReads_;
}

void It66121Chip::clearViolations()
{
    std::lock_guard<std::mutex> lock(m_);
    violations_.clear();
}

}
