#pragma once
#include <cstdint>
#include <memory>

namespace platform {
class SpiBus;
}
class fpga_manage;

// SPI transfers to the FPGAs and their configuration flashes (8 MiB, 4 KiB sectors, 256-byte
// pages). Flash selector 2 is FPGA 0's flash, any other value FPGA 1's. The devices and select
// lines belong to the owning fpga_manage.
class fpga_drv {
public:
    static constexpr uint32_t kFlashSize = 0x800000;
    static constexpr uint32_t kSectorSize = 0x1000;
    static constexpr uint32_t kSpiHz = 10000000;
    static constexpr int kBusyPolls = 5000; // about 1 ms apart: well above a 64 KiB erase

    explicit fpga_drv(fpga_manage* owner);

    // n = 0-3 opens "/dev/spidev32766.<n+1>" with mode 3, 8 bits, 10 MHz; null (logged) when the
    // node cannot be opened or set up.
    std::unique_ptr<platform::SpiBus> initialize_vbyne1(int n);
    // One full-duplex message; the driver's result (bytes moved), or -1 (logged).
    int SPI_Transfer(platform::SpiBus* fd, const uint8_t* tx, uint8_t* rx, uint32_t len);
    int SPI_Transfer_Write(platform::SpiBus* fd, const uint8_t* tx, uint32_t len);

    // Flash operations: 1 done; 0 refused (arguments, no device) or failed (bus, busy time-out).
    // size code 0, 1, 2: 1, 8 or 16 sectors per erase.
    int FPGA_SPI_FLASH_VBYONE_ERASE(int selector, uint32_t firstSector, int sizeCode, uint32_t count);
    // The data lie at buffer + 4 (the head room the page command once took); the buffer is not
    // written.
    int FPGA_SPI_FLASH_VBYONE_WRITE(int selector, uint32_t address, const uint8_t* buffer, uint32_t length);
    int FPGA_SPI_FLASH_VBYONE_READ(int selector, uint32_t address, uint32_t length, uint8_t* out);
    int FPGA_SPI_FLASH_SSTF016B_RD_UID(int selector, uint8_t* out8);
    // Polls the status until the flash is idle, about 1 ms apart, at most kBusyPolls times.
    // 1 idle, 0 still busy or the bus failed. The caller holds Utils::_spi_mutex.
    int FPGA_SPI_WAIT_BUSY(platform::SpiBus* fd);

private:
    fpga_manage* owner_;
};
