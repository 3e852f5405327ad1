#include "platform/sim/devices/register_chip.h"

#include <algorithm>

namespace platform::Sim {

bool RegisterChip::address(bool, size_t, uint64_t)
{
    if (failNext_.load() <= 0) // the common case, on every message of a polling driver
        return true;
    std::lock_guard<std::mutex> lock(m_);
    if (failNext_ > 0) {
        --failNext_;
        return false;
    }
    return true;
}

bool RegisterChip::write(const uint8_t* data, size_t len, uint64_t)
{
    std::lock_guard<std::mutex> lock(m_);
    if (len == 0)
        return true;
    pointer_ = data[0];
    for (size_t i = 1; i < len; ++i)
        writeByte(pointer_++, data[i]);
    return true;
}

bool RegisterChip::read(uint8_t* data, size_t len, uint64_t)
{
    std::lock_guard<std::mutex> lock(m_);
    for (size_t i = 0; i < len; ++i)
        data[i] = readByte(pointer_++);
    return true;
}

void RegisterChip::failNextTransfers(int count)
{
    std::lock_guard<std::mutex> lock(m_);
    failNext_ = std::max(0, count);
}

std::vector<RegisterChip::Write> RegisterChip::writes() const
{
    std::lock_guard<std::mutex> lock(m_);
    return writes_;
}

std::vector<RegisterChip::Write> RegisterChip::writesTo(int bank, uint8_t address) const
{
    std::vector<Write> out;
    for (const Write& w : writes())
        if (w.address == address && (w.bank == bank || w.bank == -1))
            out.push_back(w);
    return out;
}

void RegisterChip::clearLog()
{
    std::lock_guard<std::mutex> lock(m_);
    writes_.clear();
}

void RegisterChip::logWrite(int bank, uint8_t address, uint8_t value)
{
    if (writes_.size() >= writeLogLimit_)
        writes_.erase(writes_.begin(), writes_.begin() + std::ptrdiff_t(writeLogLimit_ / 2));
    writes_.push_back({bank, address, value});
}

}
