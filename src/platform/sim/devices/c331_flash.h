#pragma once
#include "platform/sim/devices/c331_chip.h"

#include <functional>

namespace platform::Sim {

// Bank 0x04 of the scaler chip: the serial-flash controller over the 32 MiB NOR array (4 KiB pages
// kept only where something was stored; absent pages read erased) and the OSD engine's memory
// transfers and character generator. The chip calls it under its own lock.
class C331Flash {
public:
    using Report = std::function<void(const std::string&)>;
    C331Flash(const std::vector<uint8_t>& cells, Report violation); // cells: bank * 128 + address

    void written(uint8_t addr, uint8_t value);             // after the cell took the value
    bool read(uint8_t addr, uint8_t cell, uint8_t* value); // false: the plain cell answers
    void reset();                                          // controller power-on state
    void resetArray();                                     // erased, with the font headers

    std::vector<uint8_t> load(uint32_t address, size_t length) const;
    void store(uint32_t address, const std::vector<uint8_t>& bytes);

    int busyPolls = 0;
    C331Chip::WelFault welFault = C331Chip::WelFault::None;
    std::vector<C331Chip::Dma> dmaLog;
    std::vector<std::vector<uint8_t>> charRuns;
    bool chipEraseSeen = false;

private:
    uint32_t reg(uint8_t bank, uint8_t addr, int width) const;
    uint8_t byteAt(uint32_t address) const;
    uint8_t* pageFor(uint32_t address);
    bool writeEnableSet(const char* what);
    void commitAddress();
    void startJob(uint8_t op);
    void erase(uint32_t unit);
    void runCommand(uint8_t command);
    void transferToMemory();
    void startGenerator();
    void busyFlash(int* phaseBusy);

    const std::vector<uint8_t>& cells_;
    Report violation_;
    std::map<uint32_t, std::vector<uint8_t>> pages_; // by address / 4096
    uint32_t committed_ = 0;
    std::vector<uint8_t> writeFifo_;
    std::vector<uint8_t> charFifo_;
    uint32_t readAt_ = 0;
    bool reading_ = false;
    bool wel_ = false;
    // status reads left before each busy bit drops
    int fifoBusy_ = 0, readBusy_ = 0, dmaBusy_ = 0, writeBusy_ = 0, eraseBusy_ = 0, wip_ = 0, genBusy_ = 0;
};

}
