#include "scaler/c331_drv.h"

#include "fpga/fpga_manage.h"
#include "base/global.h"
#include "base/logMsg.h"
#include "platform/spi_bus.h"
#include "base/utils.h"

#include <QMutexLocker>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <string>

namespace {

constexpr uint32_t kReadHz = 5000000;
constexpr uint32_t kWriteHz = 10000000;
constexpr uint8_t kWriteFlag = 0x80;
constexpr uint32_t kLastAddress = 0x7F;
constexpr size_t kCells = 256 * 128;

// Banks 0x08-0x9F hold the channels' and windows' settings: the chip neither changes those cells
// nor acts on a write that repeats a value. Bank 0x09 is left out: its palette port takes a byte
// per write. Banks 0x00-0x07 carry triggers, flags and the flash, 0xA0 up the measurements.
bool plainBank(uint32_t bank) { return bank >= 0x08 && bank < 0xA0 && bank != 0x09; }

// Lets one report of a kind through per second: a dead bus or a caller stuck in a loop must not
// flood the console or the log file.
class ReportGate {
public:
    bool open()
    {
        using namespace std::chrono;
        const int64_t now = duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
        int64_t last = last_.load();
        return now - last >= 1000 && last_.compare_exchange_strong(last, now);
    }

private:
    std::atomic<int64_t> last_{INT64_MIN / 2};
};

ReportGate sendFailures;
ReportGate readFailures;
ReportGate refusals;
ReportGate unselected;

std::string hex(uint32_t v, int digits)
{
    char text[16];
    snprintf(text, sizeof text, "%0*X", digits, v);
    return text;
}

// The FPGA configuration flashes share the bus: neither may be selected while the chip is addressed.
void releaseFpgaSelects()
{
    fpga_manage* fpga = fpga_manage::p_fpga_manage;
    if (!fpga || !fpga->window)
        return;
    // Through the window's accessors: the FPGA worker writes the same words.
    fpga_manage::gpio_write(fpga_manage::cs_fpga0, 16);
    fpga_manage::gpio_write(fpga_manage::cs_fpga1, 16);
}

}

c331_drv::c331_drv() : known_(kCells, -1)
{
    writeLogMsg(LOG_INFO, "====c331_drv::c331_drv()=====");
}

c331_drv::~c331_drv() = default;

void c331_drv::init_reg_acc_param()
{
    QMutexLocker bnk(&Utils::_c331_bnk_mutex);
    forgetLocked();
}

void c331_drv::forgetLocked()
{
    bank_ = -1;
    // The chip starts over: what it held before is no longer known.
    std::fill(known_.begin(), known_.end(), int16_t(-1));
}

int c331_drv::initialize()
{
    QMutexLocker bnk(&Utils::_c331_bnk_mutex);
    forgetLocked();
    bus_ = platform::openSpiBus(0);
    if (!bus_) {
        writeLogMsg(LOG_ERROR, "c331_drv: can't open the scaler's SPI device /dev/spidev32766.0");
        return -1;
    }
    if (bus_->configure(3, 8, kWriteHz) != 0) {
        writeLogMsg(LOG_ERROR, "c331_drv: can't set up the scaler's SPI device (mode 3, 8 bits, 10 MHz)");
        bus_.reset();
        return -1;
    }
    return 0;
}

int c331_drv::transfer(int fd, const uint8_t* tx, uint8_t* rx, int len, uint32_t speedHz)
{
    int result = -1;
    {
        QMutexLocker spi(&Utils::_spi_mutex);
        releaseFpgaSelects();
        if (bus_ && fd >= 0 && len > 0) {
            platform::SpiTransfer t;
            t.tx = tx;
            t.rx = rx;
            t.len = uint32_t(len);
            t.speedHz = speedHz;
            t.bitsPerWord = 8;
            t.delayUsecs = 0;
            result = bus_->transfer(&t, 1);
        }
    }
    if (result <= 0 && traceOn() && sendFailures.open())
        perror("can't send spi message\n");
    return result;
}

int c331_drv::SPI_Transfer(int fd, const uint8_t* tx, uint8_t* rx, int len)
{
    return transfer(fd, tx, rx, len, kReadHz);
}

int c331_drv::SPI_Transfer_Write(int fd, const uint8_t* tx, int len)
{
    return transfer(fd, tx, nullptr, len, kWriteHz);
}

bool c331_drv::selectBank(int fd, uint32_t desc, uint32_t bankOffset)
{
    const uint32_t first = desc >> 8 & 0xFF;
    const uint32_t width = desc & 0xFF;
    const uint64_t target = uint64_t(desc >> 16 & 0xFF) + bankOffset;
    // A bank beyond 0xFF would go out truncated, and an address past 0x7F is a bank select on the
    // wire (0x80 | address): either way the write would land somewhere else.
    if ((desc >> 24) != 0 || first > kLastAddress || (width > 0 && first + width - 1 > kLastAddress) ||
        target > 0xFF) {
        if (refusals.open())
            writeLogMsg(LOG_ERROR, "c331_drv: access refused, descriptor " + hex(desc, 6) + " bank offset " +
                                       std::to_string(int32_t(bankOffset)));
        return false;
    }
    if (int32_t(target) != bank_) {
        const uint8_t tx[2] = {kWriteFlag, uint8_t(target)};
        // Only a select that went out may be remembered; without it the chip still sits in the
        // bank before, so the access does not go out either.
        bank_ = SPI_Transfer_Write(fd, tx, 2) > 0 ? int32_t(target) : -1;
        if (bank_ < 0) {
            if (unselected.open())
                writeLogMsg(LOG_ERROR, "c331_drv: bank " + hex(uint32_t(target), 2) + " not selected, access dropped");
            return false;
        }
    }
    return true;
}

bool c331_drv::unchanged(uint32_t bank, uint32_t first, uint32_t width, uint32_t value) const
{
    if (!plainBank(bank) || first == 0 || width == 0 || width > 4)
        return false;
    for (uint32_t i = 0; i < width; ++i, value >>= 8)
        if (known_[bank * 128 + first + i] != int16_t(value & 0xFF))
            return false;
    return true;
}

void c331_drv::remember(uint32_t bank, uint32_t addr, uint8_t value)
{
    if (plainBank(bank) && addr != 0)
        known_[bank * 128 + addr] = value;
}

void c331_drv::writeLocked(int fd, uint32_t desc, uint32_t value, uint32_t bankOffset)
{
    if (!selectBank(fd, desc, bankOffset))
        return;
    const uint32_t first = desc >> 8 & 0xFF;
    const uint32_t width = desc & 0xFF;
    const uint32_t bank = uint32_t(bank_);
    if (bank_ >= 0 && unchanged(bank, first, width, value))
        return;
    for (uint32_t addr = first; addr < first + width; ++addr) {
        const uint8_t tx[2] = {uint8_t(kWriteFlag | addr), uint8_t(value)};
        if (bank_ >= 0) {
            // Only a byte that went out is known; a failed one is sent again next time.
            if (SPI_Transfer_Write(fd, tx, 2) > 0)
                remember(bank, addr, uint8_t(value));
            else
                known_[bank * 128 + addr] = -1;
        } else {
            SPI_Transfer_Write(fd, tx, 2);
        }
        value >>= 8;
        // Address 0 is the bank register: the chip now sits in whatever bank the byte named.
        if (addr == 0)
            bank_ = -1;
    }
}

uint32_t c331_drv::readLocked(int fd, uint32_t desc, uint32_t bankOffset)
{
    if (!selectBank(fd, desc, bankOffset))
        return 0;
    const uint32_t first = desc >> 8 & 0xFF;
    const uint32_t width = desc & 0xFF;
    uint32_t result = 0;
    for (uint32_t i = 0; i < width; ++i) {
        const uint8_t tx[2] = {uint8_t((first + i) & kLastAddress), 0xFF};
        uint8_t rx[2] = {0, 0}; // a failed transfer reads as 0, not as stale bytes
        if (SPI_Transfer(fd, tx, rx, 2) <= 0) {
            if (readFailures.open())
                writeLogMsg(LOG_ERROR, "c331_drv: read of " + hex(bank_ < 0 ? 0 : uint32_t(bank_), 2) + ":" +
                                           hex(first + i, 2) + " failed");
        } else if (bank_ >= 0) {
            remember(uint32_t(bank_), (first + i) & kLastAddress, rx[1]);
        }
        if (i < 4)
            result |= uint32_t(rx[1]) << (8 * i);
    }
    return result;
}

void c331_drv::write_C331(int fd, uint32_t desc, uint32_t value, uint32_t bankOffset)
{
    QMutexLocker bnk(&Utils::_c331_bnk_mutex);
    writeLocked(fd, desc, value, bankOffset);
}

uint32_t c331_drv::read_C331(int fd, uint32_t desc, uint32_t bankOffset)
{
    QMutexLocker bnk(&Utils::_c331_bnk_mutex);
    return readLocked(fd, desc, bankOffset);
}

void c331_drv::write_c331_mask(int fd, uint32_t desc, uint32_t value, uint32_t mask, uint32_t bankOffset)
{
    // One lock over read and write, so another thread's access cannot fall between them.
    QMutexLocker bnk(&Utils::_c331_bnk_mutex);
    if (!selectBank(fd, desc, bankOffset))
        return; // nothing read: the other bits would be written as 0
    const uint32_t old = readLocked(fd, desc, bankOffset);
    writeLocked(fd, desc, old ^ ((value ^ old) & mask), bankOffset);
}
