#pragma once
#include <cstdint>

// FPGA-side SPI flashes (selector 2: FPGA 0's configuration flash, any other: FPGA 1's), 8 MiB,
// 4 KiB sectors. Until the SPI access layer exists the flashes are held in memory with the
// flash's rules: erase sets 0xFF, programming only clears bits.
class fpga_drv {
public:
    static constexpr uint32_t kFlashSize = 0x800000;
    static constexpr uint32_t kSectorSize = 0x1000;

    // size code 0, 1, 2: 1, 8 or 16 sectors per erase. 1 done, 0 refused.
    int FPGA_SPI_FLASH_VBYONE_ERASE(int selector, uint32_t firstSector, int sizeCode, uint32_t count);
    // The data lie at buffer + 4; the 4 bytes ahead of each page's data are overwritten with the
    // page-program command, so the caller gives that head room. 1 done, 0 refused.
    int FPGA_SPI_FLASH_VBYONE_WRITE(int selector, uint32_t address, uint8_t* buffer, uint32_t length);
    int FPGA_SPI_FLASH_VBYONE_READ(int selector, uint32_t address, uint32_t length, uint8_t* out);
    int FPGA_SPI_FLASH_SSTF016B_RD_UID(int selector, uint8_t* out8);
};
