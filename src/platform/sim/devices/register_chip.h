#pragma once
#include "platform/sim/devices/i2c_device.h"

#include <mutex>

namespace platform::Sim {

// A chip whose write message is [register, data...] and whose read returns bytes from the
// register last addressed, both running on through the registers. The model supplies the
// registers (readByte/writeByte, called under m_, which also guards the model's own state).
class RegisterChip : public I2cDevice {
public:
    bool address(bool read, size_t len, uint64_t nowUs) override;
    bool write(const uint8_t* data, size_t len, uint64_t nowUs) override;
    bool read(uint8_t* data, size_t len, uint64_t nowUs) override;
    void failNextTransfers(int count); // the next `count` addressings are not acknowledged

protected:
    virtual uint8_t readByte(uint8_t address) = 0;
    virtual void writeByte(uint8_t address, uint8_t value) = 0;

    mutable std::mutex m_;
    uint8_t pointer_ = 0;
    int failNext_ = 0;
};

}
