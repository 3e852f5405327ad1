#pragma once
#include "platform/i2c_bus.h"

#include <cstdint>
#include <memory>

// The one I2C bus of the input side ("/dev/i2c-0"). Devices are named by their 8-bit bus address;
// the wrapper shifts it right by one for the kernel. The descriptor the callers pass around stands
// for this object's open bus: a negative one, or a call before initialize(), refuses the access.
class Drv_I2C0 {
public:
    static constexpr int MaxWrite = 255; // data bytes after the register byte
    static constexpr int MaxRead = 100;
    static constexpr uint8_t EepromAddress = 0xA0;
    static constexpr int EepromSize = 256;
    static constexpr int EepromPage = 8;

    // Opens the bus: a descriptor >= 0, or -1 when the node cannot be opened (logged).
    int initialize();
    // One write message to addr8: reg, then len data bytes. 1 if acknowledged, 0 if not.
    int i2c_write(int fd, uint8_t addr8, uint8_t reg, const uint8_t* data, int len);
    // A one-byte write of reg, then a read of len bytes; out is written only on success. 1 or 0.
    int i2c_read(int fd, uint8_t addr8, uint8_t reg, uint8_t* out, int len);

    // Writes a whole EDID EEPROM (the caller has selected its channel and dropped write protection)
    // in 8-byte pages. After each page it polls for the acknowledge that ends the part's write
    // cycle (bounded), then reads everything back and rewrites the pages that differ, a few times.
    // 1 when the EEPROM holds `table`, 0 otherwise.
    int eeprom_write(int fd, const uint8_t* table);
    // Reads the whole EEPROM in 8-byte reads; 1 when every read was acknowledged.
    int eeprom_read(int fd, uint8_t* out);

    static constexpr int WriteAttempts = 3;
    static constexpr int AckPollLimitUs = 10000; // longer than any 24C02 write cycle

private:
    bool valid(int fd) const { return fd >= 0 && fd == fd_ && bus_; }
    bool waitWriteCycle(int fd, uint8_t offset);

    std::unique_ptr<platform::I2cBus> bus_;
    int fd_ = -1;
};
