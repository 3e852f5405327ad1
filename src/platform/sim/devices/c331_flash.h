#pragma once
#include "platform/sim/devices/c331_chip.h"

#include <array>
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
    void reloadArray(); // power cycle: the array as the file under the root holds it

    // Chip memory (32-bit addresses, 4 KiB pages on demand; never written memory reads 0xFF),
    // filled by memory transfers and the OSD engine, and the palette of bank 0x09.
    std::vector<uint8_t> memory(uint32_t address, size_t length) const;
    void paletteWritten(uint8_t addr, uint8_t value); // 09:1F index, 09:20 data
    std::array<uint8_t, 768> palette{};

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
    void engineFill();
    void engineCopy();
    uint8_t* memPage(uint32_t address);
    void memWrite(uint32_t address, const uint8_t* data, size_t length);
    void memFill(uint32_t address, uint8_t value, size_t length);
    void memRead(uint32_t address, uint8_t* out, size_t length) const;
    void ensureLoaded() const;
    void persist(uint32_t firstPage, uint32_t pages);

    const std::vector<uint8_t>& cells_;
    Report violation_;
    mutable std::map<uint32_t, std::vector<uint8_t>> pages_; // by address / 4096
    mutable bool loaded_ = false;  // pages_ holds the file's array
    bool fileStale_ = true;        // the file does not hold pages_ yet: rewrite it whole
    bool persistFailed_ = false;
    std::map<uint32_t, std::vector<uint8_t>> mem_;   // chip memory by address / 4096
    uint8_t paletteIndex_ = 0, paletteByte_ = 0;
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
