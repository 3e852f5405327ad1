#include "platform/sim/devices/io_expander.h"

namespace platform::Sim {

bool IoExpander::write(const uint8_t* data, size_t len, uint64_t)
{
    std::lock_guard<std::mutex> lock(m_);
    for (size_t i = 0; i < len; ++i) {
        value_ = data[i];
        writes_.push_back(data[i]);
    }
    return true;
}

bool IoExpander::read(uint8_t* data, size_t len, uint64_t)
{
    std::lock_guard<std::mutex> lock(m_);
    for (size_t i = 0; i < len; ++i)
        data[i] = value_;
    return true;
}

void IoExpander::reset()
{
    std::lock_guard<std::mutex> lock(m_);
    value_ = PowerOn;
    writes_.clear();
    setPresent(true);
}

uint8_t IoExpander::value() const
{
    std::lock_guard<std::mutex> lock(m_);
    return value_;
}

void IoExpander::setValue(uint8_t value)
{
    std::lock_guard<std::mutex> lock(m_);
    value_ = value;
}

std::vector<uint8_t> IoExpander::writes() const
{
    std::lock_guard<std::mutex> lock(m_);
    return writes_;
}

void IoExpander::clearLog()
{
    std::lock_guard<std::mutex> lock(m_);
    writes_.clear();
}

}
