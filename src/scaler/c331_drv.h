#pragma once
#include <cstdint>
#include <memory>
#include <vector>

namespace platform {
class SpiBus;
}

// Register access to the scaler chip over SPI. A register is named by a descriptor
// bank << 16 | first address << 8 | width in bytes; the bank offset (16 x channel) is added to the
// bank. Every access holds Utils::_c331_bnk_mutex, every 2-byte transfer Utils::_spi_mutex.
// Registers of the plain configuration banks are remembered as written or read: a write that
// would leave every byte of such a register as it is does not go out.
class c331_drv {
public:
    c331_drv();
    ~c331_drv();

    void init_reg_acc_param(); // forget the selected bank: the next access selects again
    int initialize();          // opens the chip's SPI device: 0, or -1 (logged once)

    int SPI_Transfer(int fd, const uint8_t* tx, uint8_t* rx, int len); // full duplex, 5 MHz
    int SPI_Transfer_Write(int fd, const uint8_t* tx, int len);        // write only, 10 MHz

    void write_C331(int fd, uint32_t desc, uint32_t value, uint32_t bankOffset);
    uint32_t read_C331(int fd, uint32_t desc, uint32_t bankOffset); // 0 when refused
    // Takes the bits of value where mask is 1, keeps the others; atomic against other accesses.
    void write_c331_mask(int fd, uint32_t desc, uint32_t value, uint32_t mask, uint32_t bankOffset);

private:
    void forgetLocked(); // neither the selected bank nor any register is known any more
    bool selectBank(int fd, uint32_t desc, uint32_t bankOffset); // false: refused, or not selected
    bool unchanged(uint32_t bank, uint32_t first, uint32_t width, uint32_t value) const;
    void remember(uint32_t bank, uint32_t addr, uint8_t value);
    void writeLocked(int fd, uint32_t desc, uint32_t value, uint32_t bankOffset);
    uint32_t readLocked(int fd, uint32_t desc, uint32_t bankOffset);
    int transfer(int fd, const uint8_t* tx, uint8_t* rx, int len, uint32_t speedHz);

    int32_t bank_ = -1; // bank selected on the chip, -1 unknown
    std::vector<int16_t> known_; // 256 x 128 cells: last value written or read, -1 unknown
    std::unique_ptr<platform::SpiBus> bus_;
};
