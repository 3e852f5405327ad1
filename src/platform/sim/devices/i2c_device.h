#pragma once
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

namespace platform::Sim {

// One chip on the simulated I2C bus. The bus calls it under the bus lock, one message at a time:
// address() when its address goes out, with the message's direction and length (false = no
// acknowledge, the transfer ends there), then write() or read() with the message's bytes, and
// stop() once for every chip the transfer touched when the transfer ends. `nowUs` is the bus clock
// (microseconds). Each chip guards its own state, so its test face may be called from any thread.
class I2cDevice {
public:
    virtual ~I2cDevice() = default;

    virtual bool address(bool read, size_t len, uint64_t nowUs) { return true; }
    virtual bool write(const uint8_t* data, size_t len, uint64_t nowUs) = 0; // false: NACK on a byte
    virtual bool read(uint8_t* data, size_t len, uint64_t nowUs) = 0;
    virtual void stop(uint64_t nowUs) {}
    virtual std::vector<std::string> violations() const { return {}; }
    virtual void reset() = 0; // power-on state, logs and fault switches cleared
    // False for a chip that never looks at `nowUs`: the bus then need not read the clock for it.
    virtual bool timed() const { return true; }

    // Not fitted: the chip never acknowledges. The bus asks on every addressing: no lock for that.
    void setPresent(bool present) { present_ = present; }
    bool present() const { return present_; }

private:
    std::atomic<bool> present_{true};
};

}
