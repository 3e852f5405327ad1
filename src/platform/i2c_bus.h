#pragma once
#include <cstddef>
#include <cstdint>
#include <memory>

namespace platform {
// Mirrors struct i2c_msg of <linux/i2c.h>.
struct I2cMsg {
    uint16_t addr = 0;
    uint16_t flags = 0; // I2cMsg::Read for a read
    uint16_t len = 0;
    uint8_t* buf = nullptr;
    static constexpr uint16_t Read = 0x0001;
};

// "/dev/i2c-N" with I2C_RDWR.
class I2cBus {
public:
    virtual ~I2cBus() = default;
    virtual int transfer(I2cMsg* messages, size_t count) = 0; // messages done, or -1 (NACK)
};
std::unique_ptr<I2cBus> openI2cBus(int adapter);
}
