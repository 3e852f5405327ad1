#pragma once
#include "platform/sim/devices/i2c_device.h"

#include <atomic>
#include <mutex>
#include <vector>

namespace platform::Sim {

// A chip whose write message is [register, data...] and whose read returns bytes from the
// register last addressed, both running on through the registers. The model supplies the
// registers (readByte/writeByte, called under m_, which also guards the model's own state).
class RegisterChip : public I2cDevice {
public:
    explicit RegisterChip(size_t writeLogLimit = size_t(1) << 15) : writeLogLimit_(writeLogLimit) {}

    bool address(bool read, size_t len, uint64_t nowUs) override;
    bool write(const uint8_t* data, size_t len, uint64_t nowUs) override;
    bool read(uint8_t* data, size_t len, uint64_t nowUs) override;
    void failNextTransfers(int count); // the next `count` addressings are not acknowledged
    bool timed() const override { return false; }

    // test face: the register writes the bus made, the newest ones (the drivers poll for ever)
    struct Write {
        int bank; // -1 for the bank register, which every bank shares
        uint8_t address;
        uint8_t value;
    };
    std::vector<Write> writes() const;
    std::vector<Write> writesTo(int bank, uint8_t address) const; // that bank's and the bank register's
    void clearLog();

protected:
    // Under m_: one write into the log; past the limit the older half is dropped.
    void logWrite(int bank, uint8_t address, uint8_t value);

    virtual uint8_t readByte(uint8_t address) = 0;
    virtual void writeByte(uint8_t address, uint8_t value) = 0;

    mutable std::mutex m_;
    uint8_t pointer_ = 0;
    std::atomic<int> failNext_{0}; // changed under m_; read without it while nothing is armed
    std::vector<Write> writes_;

private:
    size_t writeLogLimit_;
};

}
