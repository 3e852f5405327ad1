#pragma once
#include "platform/sim/devices/i2c_device.h"

namespace platform::Sim {

// 8-bit I/O expander at 0x40: one output byte, bit 0 the EEPROM write-protect line (1 protected),
// bits 2-7 the audio-source selection. Every byte written becomes the output (the last one
// counts); a read returns it. Power-on: 0xFF (all lines high, so the EEPROMs start protected).
class IoExpander : public I2cDevice {
public:
    static constexpr uint8_t PowerOn = 0xFF;
    static constexpr uint8_t WriteProtectBit = 0x01;

    bool write(const uint8_t* data, size_t len, uint64_t nowUs) override;
    bool read(uint8_t* data, size_t len, uint64_t nowUs) override;
    void reset() override;

    // test face
    uint8_t value() const;
    void setValue(uint8_t value);
    std::vector<uint8_t> writes() const; // values written, in order
    void clearLog();

private:
    mutable std::mutex m_;
    uint8_t value_ = PowerOn;
    std::vector<uint8_t> writes_;
};

}
