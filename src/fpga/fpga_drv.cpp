#include "fpga_drv.h"

#include "utils.h"

#include <QMutexLocker>
#include <algorithm>
#include <cstring>
#include <vector>

namespace {

constexpr uint32_t kSectors = fpga_drv::kFlashSize / fpga_drv::kSectorSize; // 2048
constexpr uint32_t kPage = 256;

// Created erased on first use; one per selector class.
std::vector<uint8_t>& flash(int selector)
{
    static std::vector<uint8_t> flashes[2];
    std::vector<uint8_t>& f = flashes[selector == 2 ? 0 : 1];
    if (f.empty())
        f.assign(fpga_drv::kFlashSize, 0xFF);
    return f;
}

}

int fpga_drv::FPGA_SPI_FLASH_VBYONE_ERASE(int selector, uint32_t firstSector, int sizeCode, uint32_t count)
{
    static const uint32_t kPerErase[3] = {1, 8, 16};
    if (sizeCode < 0 || sizeCode > 2)
        return 0;
    const uint64_t last = uint64_t(firstSector & 0xFFFF) + uint64_t(count) * kPerErase[sizeCode];
    if (last > kSectors)
        return 0;
    QMutexLocker bus(&Utils::_spi_mutex);
    std::vector<uint8_t>& f = flash(selector);
    const uint32_t start = (firstSector & 0xFFFF) * kSectorSize;
    memset(f.data() + start, 0xFF, size_t(last * kSectorSize - start));
    return 1;
}

int fpga_drv::FPGA_SPI_FLASH_VBYONE_WRITE(int selector, uint32_t address, uint8_t* buffer, uint32_t length)
{
    if (length == 0 || uint64_t(address) + length > kFlashSize)
        return 0;
    QMutexLocker bus(&Utils::_spi_mutex);
    std::vector<uint8_t>& f = flash(selector);
    uint32_t done = 0;
    while (done < length) {
        const uint32_t at = address + done;
        const uint32_t chunk = std::min(kPage - at % kPage, length - done);
        // The page-program command goes out in the 4 bytes ahead of this page's data.
        uint8_t* head = buffer + done;
        uint8_t data[kPage];
        memcpy(data, buffer + 4 + done, chunk);
        head[0] = 0x02;
        head[1] = uint8_t(at >> 16);
        head[2] = uint8_t(at >> 8);
        head[3] = uint8_t(at);
        for (uint32_t i = 0; i < chunk; ++i)
            f[at + i] &= data[i];
        done += chunk;
    }
    return 1;
}

int fpga_drv::FPGA_SPI_FLASH_VBYONE_READ(int selector, uint32_t address, uint32_t length, uint8_t* out)
{
    if (length == 0 || uint64_t(address) + length > kFlashSize)
        return 0;
    QMutexLocker bus(&Utils::_spi_mutex);
    memcpy(out, flash(selector).data() + address, length);
    return 1;
}

int fpga_drv::FPGA_SPI_FLASH_SSTF016B_RD_UID(int selector, uint8_t* out8)
{
    // A fixed id per flash until the flash model answers.
    static const uint8_t kUid[2][8] = {{0xD5, 0x13, 0x2C, 0x47, 0x0A, 0x61, 0x9E, 0x38},
                                       {0xD5, 0x13, 0x2C, 0x47, 0x0A, 0x61, 0x9E, 0x39}};
    memcpy(out8, kUid[selector == 2 ? 0 : 1], 8);
    return 1;
}
