#include "platform/sim/devices/register_chip.h"

#include <algorithm>

namespace platform::Sim {

bool RegisterChip::address(bool, size_t, uint64_t)
{
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

}
