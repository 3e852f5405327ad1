#pragma once
#include "platform/sim/devices/i2c_device.h"

#include <atomic>
#include <functional>

namespace platform::Sim {

// A chip with one byte register and no register address: every byte written becomes the value
// (the last one counts), a read returns it. The I2C switches and the I/O expander are such chips.
class ByteLatch : public I2cDevice {
public:
    explicit ByteLatch(uint8_t powerOn) : powerOn_(powerOn), value_(powerOn) {}
    bool write(const uint8_t* data, size_t len, uint64_t nowUs) override;
    bool read(uint8_t* data, size_t len, uint64_t nowUs) override;
    void reset() override;
    bool timed() const override { return false; }

    // test face
    uint8_t value() const; // no lock: the bus reads a switch's selection for every message
    void setValue(uint8_t value);
    // Values written, in order: the newest ones (the program writes the switches on every pass,
    // for ever); past LogLimit the older half is dropped.
    std::vector<uint8_t> writes() const;
    static constexpr size_t LogLimit = size_t(1) << 15;
    void clearLog();
    // Called with each byte written, on the writer's thread while its transfer runs (so it must not
    // use the bus): a test can act at an exact point of a driver's sequence. Cleared by reset().
    void setWriteHook(std::function<void(uint8_t)> hook);

private:
    const uint8_t powerOn_;
    mutable std::mutex m_;
    std::atomic<uint8_t> value_;
    std::vector<uint8_t> writes_;
    std::function<void(uint8_t)> hook_;
};

}
