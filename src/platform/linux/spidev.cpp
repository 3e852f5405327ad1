#include "platform/spi_bus.h"

#include "platform/paths.h"
#include "platform/spi_setup.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <linux/spi/spidev.h>
#include <string>
#include <sys/ioctl.h>
#include <unistd.h>
#include <utility>
#include <vector>

namespace platform::Linux {
namespace {

class Requests : public SpiSetupRequests {
public:
    explicit Requests(int fd) : fd_(fd) {}
    bool request(Request r, uint32_t* value) override
    {
        uint8_t byte = uint8_t(*value);
        switch (r) {
        case WriteMode: return ::ioctl(fd_, SPI_IOC_WR_MODE, &byte) >= 0;
        case WriteBits: return ::ioctl(fd_, SPI_IOC_WR_BITS_PER_WORD, &byte) >= 0;
        case WriteSpeed: return ::ioctl(fd_, SPI_IOC_WR_MAX_SPEED_HZ, value) >= 0;
        case ReadSpeed: return ::ioctl(fd_, SPI_IOC_RD_MAX_SPEED_HZ, value) >= 0;
        case ReadMode:
        case ReadBits:
            if (::ioctl(fd_, r == ReadMode ? SPI_IOC_RD_MODE : SPI_IOC_RD_BITS_PER_WORD, &byte) < 0)
                return false;
            // The driver reports its default word size of 8 as 0.
            *value = r == ReadBits && byte == 0 ? 8 : byte;
            return true;
        }
        return false;
    }

private:
    int fd_;
};

class Spidev : public SpiBus {
public:
    Spidev(int fd, std::string node) : fd_(fd), node_(std::move(node)) {}
    ~Spidev() override { ::close(fd_); }

    // Only a failed open makes the device unusable: what the driver refuses or settles on
    // differently is logged once and the device kept.
    int configure(uint8_t mode, uint8_t bitsPerWord, uint32_t speedHz) override
    {
        Requests io(fd_);
        const std::string problems = setUpSpi(io, mode, bitsPerWord, speedHz);
        if (!problems.empty() && !reported_) {
            reported_ = true;
            std::fprintf(stderr, "spidev %s: %s\n", node_.c_str(), problems.c_str());
        }
        return 0;
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
    std::string node_;
    bool reported_ = false;
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
    return std::make_unique<Linux::Spidev>(fd, node);
}

}
