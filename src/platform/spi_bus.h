#pragma once
#include <cstddef>
#include <cstdint>
#include <memory>

namespace platform {
// Mirrors struct spi_ioc_transfer of <linux/spi/spidev.h>.
struct SpiTransfer {
    const uint8_t* tx = nullptr;
    uint8_t* rx = nullptr;
    uint32_t len = 0;
    uint32_t speedHz = 0;
    uint16_t delayUsecs = 0;
    uint8_t bitsPerWord = 8;
    bool csChange = false;
};

// One spidev device "/dev/spidev32766.N".
class SpiBus {
public:
    virtual ~SpiBus() = default;
    // Mode, word size and maximum clock; 0, or -1 only when the device cannot be used at all.
    virtual int configure(uint8_t mode, uint8_t bitsPerWord, uint32_t speedHz) = 0;
    // One SPI_IOC_MESSAGE: chip select held across the list; returns bytes moved or -1.
    virtual int transfer(const SpiTransfer* transfers, size_t count) = 0;
};
std::unique_ptr<SpiBus> openSpiBus(int device); // nullptr when the node cannot be opened
}
