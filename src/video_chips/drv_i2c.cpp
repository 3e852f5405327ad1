#include "video_chips/drv_i2c.h"

#include "base/logMsg.h"

#include <chrono>
#include <cstring>
#include <thread>

int Drv_I2C0::initialize()
{
    bus_ = platform::openI2cBus(0);
    if (!bus_) {
        writeLogMsg(LOG_ERROR, "i2c: /dev/i2c-0 cannot be opened");
        fd_ = -1;
        return -1;
    }
    fd_ = 0;
    return fd_;
}

int Drv_I2C0::i2c_write(int fd, uint8_t addr8, uint8_t reg, const uint8_t* data, int len)
{
    if (!valid(fd) || len < 0 || len > MaxWrite || (len > 0 && !data))
        return 0;
    uint8_t buf[1 + MaxWrite];
    buf[0] = reg;
    if (len > 0)
        std::memcpy(buf + 1, data, size_t(len));
    platform::I2cMsg msg{uint16_t(addr8 >> 1), 0, uint16_t(len + 1), buf};
    return bus_->transfer(&msg, 1) == 1 ? 1 : 0;
}

int Drv_I2C0::i2c_read(int fd, uint8_t addr8, uint8_t reg, uint8_t* out, int len)
{
    if (!valid(fd) || len <= 0 || len > MaxRead || !out)
        return 0;
    uint8_t buf[MaxRead] = {};
    platform::I2cMsg msgs[2] = {{uint16_t(addr8 >> 1), 0, 1, &reg},
                                {uint16_t(addr8 >> 1), platform::I2cMsg::Read, uint16_t(len), buf}};
    if (bus_->transfer(msgs, 2) != 2)
        return 0;
    std::memcpy(out, buf, size_t(len));
    return 1;
}

// The part acknowledges nothing while it programs a page; the first acknowledged address write
// (which only sets its pointer) marks the end of the cycle.
bool Drv_I2C0::waitWriteCycle(int fd, uint8_t offset)
{
    const auto start = std::chrono::steady_clock::now();
    for (;;) {
        if (i2c_write(fd, EepromAddress, offset, nullptr, 0))
            return true;
        if (std::chrono::steady_clock::now() - start > std::chrono::microseconds(AckPollLimitUs))
            return false;
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
}

int Drv_I2C0::eeprom_read(int fd, uint8_t* out)
{
    if (!out)
        return 0;
    int ok = 1;
    std::memset(out, 0, EepromSize);
    for (int off = 0; off < EepromSize; off += EepromPage)
        if (!i2c_read(fd, EepromAddress, uint8_t(off), out + off, EepromPage))
            ok = 0;
    return ok;
}

int Drv_I2C0::eeprom_write(int fd, const uint8_t* table)
{
    if (!valid(fd) || !table)
        return 0;
    bool differs[EepromSize / EepromPage];
    for (bool& d : differs)
        d = true;
    for (int attempt = 0; attempt < WriteAttempts; ++attempt) {
        for (int page = 0; page < EepromSize / EepromPage; ++page) {
            if (!differs[page])
                continue;
            const uint8_t off = uint8_t(page * EepromPage);
            // A cycle still running from an earlier write refuses the page: wait it out once.
            if (!i2c_write(fd, EepromAddress, off, table + off, EepromPage) &&
                (!waitWriteCycle(fd, off) || !i2c_write(fd, EepromAddress, off, table + off, EepromPage)))
                continue; // the read-back finds it
            waitWriteCycle(fd, off);
        }
        uint8_t back[EepromSize];
        const bool readOk = eeprom_read(fd, back);
        bool same = readOk;
        for (int page = 0; page < EepromSize / EepromPage; ++page) {
            differs[page] = !readOk || std::memcmp(back + page * EepromPage, table + page * EepromPage, EepromPage) != 0;
            same = same && !differs[page];
        }
        if (same)
            return 1;
        writeLogMsg(LOG_WARNING, "i2c: EEPROM read-back differs after write " + std::to_string(attempt + 1));
    }
    writeLogMsg(LOG_ERROR, "i2c: EEPROM write failed after " + std::to_string(WriteAttempts) + " attempts");
    return 0;
}
