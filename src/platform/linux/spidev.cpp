#include "platform/spi_bus.h"

#include "platform/paths.h"

#include <cerrno>
#include <fcntl.h>
#include <linux/spi/spidev.h>
#include <string>
#include <sys/ioctl.h>
#include <unistd.h>
#include <vector>

namespace platform::Linux {
namespace {

class Spidev : public SpiBus {
public:
    explicit Spidev(int fd) : fd_(fd) {}
    ~Spidev() override { ::close(fd_); }

    // Mode is set, the word size only read back (the driver's default of 8 is what the chips take),
    // the maximum clock set and read back; any refusal or mismatch gives -1.
    int configure(uint8_t mode, uint8_t bitsPerWord, uint32_t speedHz) override
    {
        uint8_t m = mode;
        if (::ioctl(fd_, SPI_IOC_WR_MODE, &m) < 0)
            return -1;
        uint8_t bits = 0;
        if (::ioctl(fd_, SPI_IOC_RD_BITS_PER_WORD, &bits) < 0)
            return -1;
        uint32_t speed = speedHz;
        if (::ioctl(fd_, SPI_IOC_WR_MAX_SPEED_HZ, &speed) < 0)
            return -1;
        speed = 0;
        if (::ioctl(fd_, SPI_IOC_RD_MAX_SPEED_HZ, &speed) < 0)
            return -1;
        const uint8_t wantBits = bitsPerWord ? bitsPerWord : 8;
        return (bits ? bits : 8) == wantBits && speed == speedHz ? 0 : -1;
    }

    int transfer(const SpiTransfer* transfers, size_t count) override
    {
        // SPI_IOC_MESSAGE(count) for a count known only at run time: the request encodes the size.
        const size_t bytes = count * sizeof(spi_ioc_transfer);
        if (!transfers || count == 0 || bytes >= (1u << _IOC_SIZEBITS)) {
            errno = EINVAL;
            return -1;
        }
        std::vector<spi_ioc_transfer> list(count);
        for (size_t i = 0; i < count; ++i) {
            const SpiTransfer& t = transfers[i];
            spi_ioc_transfer& k = list[i];
            k = spi_ioc_transfer{};
            k.tx_buf = reinterpret_cast<uintptr_t>(t.tx);
            k.rx_buf = reinterpret_cast<uintptr_t>(t.rx);
            k.len = t.len;
            k.speed_hz = t.speedHz;
            k.delay_usecs = t.delayUsecs;
            k.bits_per_word = t.bitsPerWord;
            k.cs_change = t.csChange;
        }
        return ::ioctl(fd_, _IOC(_IOC_WRITE, SPI_IOC_MAGIC, 0, bytes), list.data());
    }

private:
    int fd_;
};

}
}

namespace platform {

std::unique_ptr<SpiBus> openSpiBus(int device)
{
    if (device < 0)
        return nullptr;
    const std::string node = Paths::resolve("/dev/spidev32766." + std::to_string(device));
    const int fd = ::open(node.c_str(), O_RDWR | O_CLOEXEC);
    if (fd < 0)
        return nullptr;
    return std::make_unique<Linux::Spidev>(fd);
}

}
