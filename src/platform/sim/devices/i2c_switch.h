#pragma once
#include "platform/sim/devices/i2c_device.h"

namespace platform::Sim {

// I2C switch with eight downstream channels: the control byte holds one bit per channel, and a
// chip behind a channel answers only while its bit is set. Every byte written becomes the control
// byte (the last one counts); a read returns it. Power-on: 0, no channel.
class I2cSwitch : public I2cDevice {
public:
    bool write(const uint8_t* data, size_t len, uint64_t nowUs) override;
    bool read(uint8_t* data, size_t len, uint64_t nowUs) override;
    void reset() override;

    // test face
    uint8_t selection() const;
    void setSelection(uint8_t control);
    std::vector<uint8_t> writes() const; // control bytes written, in order
    void clearLog();

private:
    mutable std::mutex m_;
    uint8_t control_ = 0;
    std::vector<uint8_t> writes_;
};

}
