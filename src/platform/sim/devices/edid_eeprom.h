#pragma once
#include "platform/sim/devices/i2c_device.h"

#include <array>
#include <functional>

namespace platform::Sim {

// 256-byte serial EEPROM holding one input's EDID (a 24C02-style part at 0xA0).
//
// A write message is [word address, data...]: the address sets the pointer, the data bytes land in
// the 8-byte page of that address and wrap inside it (a ninth byte overwrites the first). The page
// is programmed at the stop that ends the transfer, which starts the internal write cycle; during
// the cycle the part acknowledges nothing (acknowledge polling: the first address acknowledged
// again marks the end). Reads are sequential from the pointer and wrap at 256.
//
// While the write-protect line is high, data bytes are acknowledged but nothing is programmed
// (recorded as a violation: the program must drop protection before writing).
//
// Time is the bus clock handed in by the bus, so a test with a manual clock steps through the
// write cycle without waiting.
class EdidEeprom : public I2cDevice {
public:
    static constexpr size_t Size = 256;
    static constexpr size_t PageSize = 8;
    static constexpr uint64_t DefaultWriteCycleUs = 5000;

    explicit EdidEeprom(int input = 0);

    bool address(bool read, size_t len, uint64_t nowUs) override;
    bool write(const uint8_t* data, size_t len, uint64_t nowUs) override;
    bool read(uint8_t* data, size_t len, uint64_t nowUs) override;
    void stop(uint64_t nowUs) override;
    std::vector<std::string> violations() const override;
    void reset() override; // contents kept (non-volatile); pointer, cycle, logs and faults cleared

    // The line is high (protected) while this answers true. Set by the board; unset = low.
    void setProtectLine(std::function<bool()> line);

    // test face
    std::array<uint8_t, Size> contents() const;
    void setContents(const std::array<uint8_t, Size>& bytes);
    void erase(); // every byte 0xFF (a blank part)
    void setWriteCycleUs(uint64_t us);
    bool busy(uint64_t nowUs) const;
    int pageWrites() const;        // pages programmed
    int protectedWrites() const;   // pages refused by the write-protect line
    int busyRefusals() const;      // addresses not acknowledged because a write cycle ran
    int refusedPageWrites() const; // of those, writes that carried data (that page is not written)
    void clearViolations();

private:
    mutable std::mutex m_;
    int input_;
    std::function<bool()> protectLine_;
    std::array<uint8_t, Size> mem_{};
    uint8_t pointer_ = 0;
    bool pending_ = false; // page data latched, programmed at the stop
    uint8_t pageBase_ = 0;
    std::array<uint8_t, PageSize> page_{};
    std::array<bool, PageSize> touched_{};
    uint64_t cycleUs_ = DefaultWriteCycleUs;
    uint64_t busyUntil_ = 0;
    int pageWrites_ = 0, protectedWrites_ = 0, busyRefusals_ = 0, refusedPageWrites_ = 0;
    std::vector<std::string> violations_;
};

}
