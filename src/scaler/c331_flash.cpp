// The scaler chip's serial flash, reached through the flash controller of bank 0x04: erase, page
// programs, reads and flash-to-memory transfers. A whole operation holds flash_mutex, and every
// wait is bounded: a stuck flash ends the operation with a non-zero result and a log line.
#include "scaler/c331_manage.h"

#include "base/delay.h"
#include "base/global.h"
#include "base/logMsg.h"
#include "scaler/c331_drv.h"

#include <cstdio>
#include <mutex>

namespace {

constexpr uint32_t kCtl = 0x040000;
uint32_t reg(uint8_t addr, uint8_t width = 1) { return kCtl | uint32_t(addr) << 8 | width; }

constexpr uint32_t kFifoStatus = 0x045301; // bit 5 write FIFO empty, bit 7 read busy
constexpr uint32_t kCtlStatus = 0x045401;  // bit 0 transfer, bit 1 write, bit 3 erase busy
constexpr uint32_t kFlashStatus = 0x045501; // bit 0 WIP, bit 1 WEL
constexpr uint32_t kStart = 0x044801;
constexpr uint32_t kPage = 256;
constexpr uint32_t kFastPolls = 16; // polls before the wait starts pausing between reads

}

bool c331_manage::flashTrace() const { return prnEn[6] & 0x80; }

void c331_manage::flashPins(int fd)
{
    drv->write_C331(fd, 0x054203, 0x55, 0);
    drv->write_C331(fd, 0x053C02, 0x300, 0);
    drv->write_C331(fd, 0x053E02, 0x300, 0);
    drv->write_C331(fd, 0x054502, 0x3FF, 0);
    if (flashTrace())
        printf("GIO setting OK.\n");
}

void c331_manage::flashAddressReg(int fd, uint32_t address)
{
    drv->write_C331(fd, reg(0x4E, 4), address, 0);
}

// Polls until (register AND mask) == want; false after `polls` reads.
bool c331_manage::flashWait(int fd, uint32_t desc, uint8_t mask, uint8_t want, uint32_t polls, uint32_t pauseUs,
                            const char* timeoutText, const char* finishText, const char* busyText)
{
    for (uint32_t i = 0; i < polls; ++i) {
        const uint32_t value = drv->read_C331(fd, desc, 0);
        if ((value & mask) == want) {
            if (finishText && flashTrace())
                printf("%s\n", finishText);
            return true;
        }
        if (busyText && flashTrace() && (i + 1) % kBusyTraceReads == 0)
            printf(busyText, value);
        if (i >= kFastPolls)
            Delay::us(pauseUs);
    }
    writeLogMsg(LOG_ERROR, timeoutText);
    if (flashTrace())
        printf("%s\n", timeoutText);
    return false;
}

// A program or erase that left the write-enable latch set: write disable, then wait for it.
bool c331_manage::flashClearWel(int fd, uint32_t polls, const char* finishText)
{
    if ((drv->read_C331(fd, kFlashStatus, 0) & 2) == 0)
        return true;
    if (flashTrace()) {
        printf("B4_SFLRDSR WEL is 1, and have to clear WEL bit.\n");
        printf("Serial Flash WRDI command process start.\n");
    }
    drv->write_C331(fd, reg(0x4B), 0x04, 0);
    drv->write_C331(fd, kStart, 5, 0);
    const bool ok = flashWait(fd, kFlashStatus, 2, 0, polls, 100,
                              "B4_SFLRDSR WRDI Timeout Error!!. Please check the circumestance of Serial Flash.",
                              finishText);
    drv->write_C331(fd, kStart, 0, 0);
    return ok;
}

bool c331_manage::flashProgramWait(int fd)
{
    return flashWait(fd, kFifoStatus, 0x20, 0x20, kWritePolls, 100,
                     "B4_SFLDTCTL WEMPTY Timeout Error!!. Please check the circumestance of Serial Flash.") &&
           flashWait(fd, kCtlStatus, 0x02, 0, kWritePolls, 100,
                     "B4_SFLSTAT WBUSY Timeout Error!!. Please check the circumestance of Serial Flash.") &&
           flashWait(fd, kFlashStatus, 0x01, 0, kWritePolls, 100,
                     "B4_SFLRDSR WIP Timeout Error!!. Please check the circumestance of Serial Flash.") &&
           flashClearWel(fd, kWritePolls);
}

int c331_manage::erase_flash(int fd, uint32_t firstSector, uint32_t count, int kind)
{
    const uint32_t unit = kind == 0 ? 0x1000 : kind == 1 ? 0x8000 : 0x10000;
    const uint8_t command = kind == 0 ? 0x20 : kind == 1 ? 0x52 : 0xD8;
    const uint64_t first = uint64_t(firstSector) * 0x1000;
    if (count == 0 || first % unit != 0 || first + uint64_t(count) * unit > kFlashSize) {
        writeLogMsg(LOG_WARNING, "scaler flash erase outside the flash or not on its unit, refused");
        return 1;
    }
    std::lock_guard<std::recursive_mutex> lock(flash_mutex);
    flashPins(fd);
    const uint32_t setup[][2] = {{0x48, 0}, {0x47, 0x80}, {0x47, 0x01}, {0x4B, command},
                                 {0x4C, 0x06}, {0x4D, 0x05}, {0x5F, 1}};
    for (const auto& w : setup)
        drv->write_C331(fd, reg(uint8_t(w[0])), w[1], 0);
    for (uint32_t i = 0; i < count; ++i) {
        flashAddressReg(fd, uint32_t(first + uint64_t(i) * unit));
        drv->write_C331(fd, kStart, 4, 0);
        bool ok = flashWait(fd, kCtlStatus, 0x08, 0, kErasePolls, 1000,
                            "B4_SFLSTAT EBUSY Timeout Error!!. Please check the circumestance of Serial Flash.",
                            "B4_SFLSTAT EBUSY finish", "B4_SFLSTAT = %02x.Wait Please.\n");
        ok = ok && flashWait(fd, kFlashStatus, 0x01, 0, kWipPolls, 1000,
                             "B4_SFLRDSR WIP Timeout Error!!. Please check the circumestance of Serial Flash.",
                             "B4_SFLRDSR WIP finish");
        ok = ok && flashClearWel(fd, kWipPolls, "B4_SFLRDSR WRDI finish");
        drv->write_C331(fd, kStart, 0, 0);
        if (!ok)
            return 1;
    }
    return 0;
}

int c331_manage::write_flash(int fd, uint32_t address, uint32_t length, const uint8_t* bytes)
{
    if (length == 0)
        return 0;
    if (!bytes || address >= kFlashSize || length > kFlashSize - address) {
        writeLogMsg(LOG_WARNING, "scaler flash write outside the flash, refused");
        return 1;
    }
    std::lock_guard<std::recursive_mutex> lock(flash_mutex);
    flashPins(fd);
    const uint32_t setup[][2] = {{0x47, 0x80}, {0x48, 0}, {0x47, 0x31}, {0x4C, 0x06}, {0x4D, 0x05},
                                 {0x49, 0x12}, {0x5F, 1},    {0x48, 0},    {0x60, 0}};
    for (const auto& w : setup)
        drv->write_C331(fd, reg(uint8_t(w[0])), w[1], 0);
    flashAddressReg(fd, address);
    flashAddressReg(fd, address);
    for (uint32_t i = 0; i < length; ++i) {
        drv->write_C331(fd, reg(0x52), bytes[i], 0);
        const uint32_t next = address + i + 1;
        // Writing the next page's address programs the page the FIFO filled.
        if (next % kPage == 0) {
            flashAddressReg(fd, next);
            if (!flashProgramWait(fd))
                return 1;
        }
        if (flashTrace() && (i + 1) % 8192 == 0)
            printf("#### %8u byte of %8u byte write finish. ###\n", i + 1, length);
    }
    if ((address + length) % kPage != 0) {
        flashAddressReg(fd, address + length);
        if (!flashProgramWait(fd))
            return 1;
    }
    return 0;
}

int c331_manage::read_flash(int fd, uint32_t address, uint32_t length, uint8_t* buffer)
{
    if (length == 0)
        return 0;
    if (!buffer || address >= kFlashSize || length > kFlashSize - address) {
        writeLogMsg(LOG_WARNING, "scaler flash read outside the flash, refused");
        return 1;
    }
    std::lock_guard<std::recursive_mutex> lock(flash_mutex);
    flashPins(fd);
    const uint32_t setup[][2] = {{0x48, 0}, {0x47, 0x80}, {0x47, 0x31}, {0x4A, 0x0C}, {0x5F, 1}, {0x48, 0}, {0x60, 0}};
    for (const auto& w : setup)
        drv->write_C331(fd, reg(uint8_t(w[0])), w[1], 0);
    flashAddressReg(fd, address);
    drv->write_C331(fd, kFifoStatus, 1, 0);
    const bool ok = flashWait(fd, kFifoStatus, 0x80, 0, kWritePolls, 100,
                              "B4_SFLDTCTL RBUSY Timeout Error!!. Please check the circumestance of Serial Flash.");
    drv->write_C331(fd, kFifoStatus, 0, 0);
    if (!ok)
        return 1;
    for (uint32_t i = 0; i < length; ++i) {
        buffer[i] = uint8_t(drv->read_C331(fd, reg(0x52), 0));
        if (flashTrace() && (i + 1) % 1024 == 0)
            printf("#### %8u byte of %8u byte read. ###\n", i + 1, length);
    }
    if (flashTrace())
        printf("#### %8u byte of %8u byte read finish. ###\n", length, length);
    flashAddressReg(fd, address);
    return 0;
}

int c331_manage::osd_write_dma_sfl(int fd, uint32_t flashAddr, uint32_t dest, int target, uint32_t size)
{
    if (flashAddr >= kFlashSize || size > kFlashSize - flashAddr || (target != 0 && target != 1 && target != 4)) {
        writeLogMsg(LOG_WARNING, "scaler flash transfer outside the flash or to an unknown target, refused");
        return 1;
    }
    std::lock_guard<std::recursive_mutex> lock(flash_mutex);
    flashPins(fd);
    drv->write_C331(fd, 0x040801, 0, 0);
    const uint32_t setup[][2] = {{0x48, 0},    {0x47, 0x80}, {0x47, target == 1 ? 0x37u : 0x33u},
                                 {0x5F, 2},    {0x49, 0x12}, {0x4A, 0x0C},
                                 {0x4B, 0xC7}, {0x4C, 0x06}, {0x4D, 0x05}};
    for (const auto& w : setup)
        drv->write_C331(fd, reg(uint8_t(w[0])), w[1], 0);
    flashAddressReg(fd, flashAddr);
    drv->write_C331(fd, reg(0x56, 4), size | 0x80000000u, 0);
    drv->write_C331(fd, reg(0x5A), uint32_t(target), 0);
    if (target == 0)
        drv->write_C331(fd, 0x041104, dest, 0);
    else if (target == 1)
        drv->write_C331(fd, 0x042702, dest, 0);
    else
        drv->write_C331(fd, 0x091F01, dest, 0);
    drv->write_C331(fd, kStart, 2, 0);
    // About 1 ms per 64 KiB moved, and never less than a second.
    const uint32_t polls = 1000 + size / 0x10000;
    const bool ok = flashWait(fd, kCtlStatus, 0x01, 0, polls, 1000, "scaler flash memory transfer did not end");
    drv->write_C331(fd, kStart, 0, 0);
    return ok ? 0 : 1;
}
