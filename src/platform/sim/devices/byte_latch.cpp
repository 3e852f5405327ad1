#include "platform/sim/devices/byte_latch.h"

namespace platform::Sim {

bool ByteLatch::write(const uint8_t* data, size_t len, uint64_t)
{
    std::function<void(uint8_t)> hook;
    {
        std::lock_guard<std::mutex> lock(m_);
        for (size_t i = 0; i < len; ++i) {
            value_ = data[i];
            if (writes_.size() >= LogLimit)
                writes_.erase(writes_.begin(), writes_.begin() + std::ptrdiff_t(LogLimit / 2));
            writes_.push_back(data[i]);
        }
        hook = hook_;
    }
    // Outside the latch's lock: the hook may read the latch through its test face.
    for (size_t i = 0; hook && i < len; ++i)
        hook(data[i]);
    return true;
}

bool ByteLatch::read(uint8_t* data, size_t len, uint64_t)
{
    std::lock_guard<std::mutex> lock(m_);
    for (size_t i = 0; i < len; ++i)
        data[i] = value_;
    return true;
}

void ByteLatch::reset()
{
    std::lock_guard<std::mutex> lock(m_);
    value_ = powerOn_;
    writes_.clear();
    hook_ = nullptr;
    setPresent(true);
}

uint8_t ByteLatch::value() const
{
    return value_;
}

void ByteLatch::setValue(uint8_t value)
{
    std::lock_guard<std::mutex> lock(m_);
    value_ = value;
}

std::vector<uint8_t> ByteLatch::writes() const
{
    std::lock_guard<std::mutex> lock(m_);
    return writes_;
}

void ByteLatch::clearLog()
{
    std::lock_guard<std::mutex> lock(m_);
    writes_.clear();
}

void ByteLatch::setWriteHook(std::function<void(uint8_t)> hook)
{
    std::lock_guard<std::mutex> lock(m_);
    hook_ = std::move(hook);
}

}
