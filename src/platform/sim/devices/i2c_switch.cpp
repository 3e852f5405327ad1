#include "platform/sim/devices/i2c_switch.h"

namespace platform::Sim {

bool I2cSwitch::write(const uint8_t* data, size_t len, uint64_t)
{
    std::lock_guard<std::mutex> lock(m_);
    for (size_t i = 0; i < len; ++i) {
        control_ = data[i];
        writes_.push_back(data[i]);
    }
    return true;
}

bool I2cSwitch::read(uint8_t* data, size_t len, uint64_t)
{
    std::lock_guard<std::mutex> lock(m_);
    for (size_t i = 0; i < len; ++i)
        data[i] = control_;
    return true;
}

void I2cSwitch::reset()
{
    std::lock_guard<std::mutex> lock(m_);
    control_ = 0;
    writes_.clear();
    setPresent(true);
}

uint8_t I2cSwitch::selection() const
{
    std::lock_guard<std::mutex> lock(m_);
    return control_;
}

void I2cSwitch::setSelection(uint8_t control)
{
    std::lock_guard<std::mutex> lock(m_);
    control_ = control;
}

std::vector<uint8_t> I2cSwitch::writes() const
{
    std::lock_guard<std::mutex> lock(m_);
    return writes_;
}

void I2cSwitch::clearLog()
{
    std::lock_guard<std::mutex> lock(m_);
    writes_.clear();
}

}
