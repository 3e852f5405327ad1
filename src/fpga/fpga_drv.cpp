#include "fpga/fpga_drv.h"

#include "base/delay.h"
#include "fpga/fpga_manage.h"
#include "base/global.h"
#include "base/logMsg.h"
#include "platform/spi_bus.h"
#include "base/utils.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

namespace {

constexpr uint32_t kSectors = fpga_drv::kFlashSize / fpga_drv::kSectorSize; // 2048
constexpr uint32_t kPage = 256;
constexpr uint32_t kReadChunk = 2048;
constexpr uint32_t kCmdBytes = 4;

void put24(uint8_t* at, uint32_t address)
{
    at[0] = uint8_t(address >> 16);
    at[1] = uint8_t(address >> 8);
    at[2] = uint8_t(address);
}

// One flash operation: the SPI mutex and the select lines for its whole length, as the flash
// sits behind the FPGA's select; the device frames each command.
class FlashSession {
public:
    FlashSession(fpga_manage& m, int selector) : m_(m), first_(selector == 2)
    {
        fd_ = m.window ? m.spi_flash[first_ ? 0 : 1].get() : nullptr;
        if (!fd_) {
            writeLogMsg(LOG_ERROR, "fpga flash " + std::to_string(selector) + ": device or GPIO window missing");
            return;
        }
        Utils::_spi_mutex.lock();
        if (first_) {
            fpga_manage::gpio_write(m.cs_fpga1, 16);
            fpga_manage::gpio_write(m.cs_fpga0, 0);
            fpga_manage::gpio_write(m.cs_flash0, 0);
        } else {
            fpga_manage::gpio_write(m.cs_fpga0, 16);
            fpga_manage::gpio_write(m.cs_fpga1, 0);
            fpga_manage::gpio_write(m.cs_flash1, 0);
        }
    }
    ~FlashSession()
    {
        if (!fd_)
            return;
        fpga_manage::gpio_write(first_ ? m_.cs_flash0 : m_.cs_flash1, 16);
        fpga_manage::gpio_write(m_.cs_fpga1, 16);
        fpga_manage::gpio_write(m_.cs_fpga0, 16);
        Utils::_spi_mutex.unlock();
    }
    FlashSession(const FlashSession&) = delete;
    FlashSession& operator=(const FlashSession&) = delete;
    platform::SpiBus* fd() const { return fd_; }

private:
    fpga_manage& m_;
    bool first_;
    platform::SpiBus* fd_ = nullptr;
};

}

fpga_drv::fpga_drv(fpga_manage* owner) : owner_(owner)
{
    writeLogMsg(LOG_INFO, "====fpga_drv::fpga_drv()=====");
}

std::unique_ptr<platform::SpiBus> fpga_drv::initialize_vbyne1(int n)
{
    std::unique_ptr<platform::SpiBus> bus = platform::openSpiBus(n + 1);
    const std::string node = "/dev/spidev32766." + std::to_string(n + 1);
    if (!bus) {
        printf("can't open %s\n", node.c_str());
        writeLogMsg(LOG_ERROR, "can't open " + node);
        return nullptr;
    }
    if (traceOn())
        printf("\n fpga_drv SPI - Open Succeed. Start Init SPI...");
    if (bus->configure(3, 8, kSpiHz) != 0) {
        perror("can't set spi mode");
        writeLogMsg(LOG_ERROR, "can't set spi mode, 8 bits, 10 MHz on " + node);
        return nullptr;
    }
    return bus;
}

int fpga_drv::SPI_Transfer(platform::SpiBus* fd, const uint8_t* tx, uint8_t* rx, uint32_t len)
{
    if (!fd) {
        errno = EBADF;
        return -1;
    }
    platform::SpiTransfer t;
    t.tx = tx;
    t.rx = rx;
    t.len = len;
    t.speedHz = kSpiHz;
    t.bitsPerWord = 8;
    const int moved = fd->transfer(&t, 1);
    if (moved <= 0)
        perror("can't send spi message");
    return moved;
}

int fpga_drv::SPI_Transfer_Write(platform::SpiBus* fd, const uint8_t* tx, uint32_t len)
{
    return SPI_Transfer(fd, tx, nullptr, len);
}

int fpga_drv::FPGA_SPI_WAIT_BUSY(platform::SpiBus* fd)
{
    for (int i = 0; i < kBusyPolls; ++i) {
        const uint8_t tx[2] = {0x05, 0xFF};
        uint8_t rx[2] = {0xFF, 0xFF};
        if (SPI_Transfer(fd, tx, rx, 2) <= 0)
            return 0;
        if (!(rx[1] & 0x01))
            return 1;
        Delay::ms(1);
    }
    writeLogMsg(LOG_ERROR, "fpga flash stays busy");
    return 0;
}

int fpga_drv::FPGA_SPI_FLASH_VBYONE_ERASE(int selector, uint32_t firstSector, int sizeCode, uint32_t count)
{
    static const uint8_t kOpcode[3] = {0x20, 0x52, 0xD8};
    static const uint32_t kPerErase[3] = {1, 8, 16};
    if (sizeCode < 0 || sizeCode > 2)
        return 0;
    const uint32_t first = firstSector & 0xFFFF;
    if (uint64_t(first) + uint64_t(count) * kPerErase[sizeCode] > kSectors)
        return 0;
    FlashSession s(*owner_, selector);
    if (!s.fd() || !FPGA_SPI_WAIT_BUSY(s.fd()))
        return 0;
    uint32_t address = first << 12;
    for (uint32_t i = 0; i < count; ++i) {
        const uint8_t enable = 0x06;
        uint8_t cmd[4] = {kOpcode[sizeCode], 0, 0, 0};
        put24(cmd + 1, address);
        if (SPI_Transfer_Write(s.fd(), &enable, 1) <= 0 || !FPGA_SPI_WAIT_BUSY(s.fd()) ||
            SPI_Transfer_Write(s.fd(), cmd, 4) <= 0 || !FPGA_SPI_WAIT_BUSY(s.fd()))
            return 0;
        address += kPerErase[sizeCode] * kSectorSize;
    }
    return 1;
}

// Each page goes out of a private buffer, so the caller's data stay as they are.
int fpga_drv::FPGA_SPI_FLASH_VBYONE_WRITE(int selector, uint32_t address, const uint8_t* buffer, uint32_t length)
{
    if (length == 0 || !buffer || uint64_t(address) + length > kFlashSize)
        return 0;
    FlashSession s(*owner_, selector);
    if (!s.fd())
        return 0;
    const uint8_t* data = buffer + kCmdBytes;
    uint8_t page[kCmdBytes + kPage];
    for (uint32_t done = 0; done < length;) {
        const uint32_t at = address + done;
        const uint32_t chunk = std::min(kPage - at % kPage, length - done);
        page[0] = 0x02;
        put24(page + 1, at);
        memcpy(page + kCmdBytes, data + done, chunk);
        const uint8_t enable = 0x06;
        if (SPI_Transfer_Write(s.fd(), &enable, 1) <= 0 || SPI_Transfer_Write(s.fd(), page, kCmdBytes + chunk) <= 0 ||
            !FPGA_SPI_WAIT_BUSY(s.fd()))
            return 0;
        done += chunk;
    }
    return 1;
}

int fpga_drv::FPGA_SPI_FLASH_VBYONE_READ(int selector, uint32_t address, uint32_t length, uint8_t* out)
{
    constexpr uint32_t kHead = 5; // 0x0B, address, dummy
    if (length == 0 || !out || uint64_t(address) + length > kFlashSize)
        return 0;
    FlashSession s(*owner_, selector);
    if (!s.fd())
        return 0;
    uint8_t tx[kHead + kReadChunk];
    uint8_t rx[kHead + kReadChunk];
    memset(tx, 0xFF, sizeof tx);
    for (uint32_t done = 0; done < length;) {
        const uint32_t chunk = std::min(kReadChunk, length - done);
        tx[0] = 0x0B;
        put24(tx + 1, address + done);
        tx[4] = 0xFF;
        if (SPI_Transfer(s.fd(), tx, rx, kHead + chunk) <= 0)
            return 0;
        memcpy(out + done, rx + kHead, chunk);
        done += chunk;
    }
    return 1;
}

int fpga_drv::FPGA_SPI_FLASH_SSTF016B_RD_UID(int selector, uint8_t* out8)
{
    if (!out8)
        return 0;
    FlashSession s(*owner_, selector);
    if (!s.fd())
        return 0;
    uint8_t tx[13] = {0x4B, 0, 0, 0, 0};
    memset(tx + 5, 0xFF, 8);
    uint8_t rx[13] = {};
    if (SPI_Transfer(s.fd(), tx, rx, sizeof tx) <= 0)
        return 0;
    memcpy(out8, rx + 5, 8);
    return 1;
}
