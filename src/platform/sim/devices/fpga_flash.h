#pragma once
#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace platform::Sim {

// FPGA 0's 8 MiB SPI NOR configuration flash behind SPI device 3, answering only while its flash
// select (0x207860) and FPGA 0's select (0x207810) are both 0. Each transfer is one command:
// 06 write enable, 04 write disable, 05 status (bit 0 busy, bit 1 write enabled), 20/52/D8 + 24-bit
// address erase 4/32/64 KiB, 02 + address + data page program (ANDs into the array), 0B + address
// + dummy fast read, 03 + address read, 4B + 4 dummies + 8 unique-id bytes. Erase and program need
// write enable and leave the flash busy for a few status reads; commands sent while busy are
// ignored. The array lives in <root>/sim/fpga0_flash.bin, loaded at first use, so it survives a
// restart of the program; the file holds the array up to its last written byte, erased beyond.
// The unique id is not stored there.
class FpgaFlash {
public:
    static constexpr uint32_t Size = 0x800000;
    static constexpr uint32_t PageSize = 256;
    static constexpr uint32_t SectorSize = 0x1000;
    // Records the program keeps here.
    static constexpr uint32_t Bank50Table = 0x6C0001;
    static constexpr uint32_t SavedImage = 0x6C7000; // 0xAA marker, then the 1024-byte image
    static constexpr uint32_t OnOffRecord = 0x6CD000;
    static constexpr uint32_t BrightnessRecord = 0x6CE000;
    static constexpr const char* File = "/sim/fpga0_flash.bin";

    struct Op {
        uint64_t seq;
        uint8_t opcode;
        uint32_t address; // 0 for commands without one
        size_t length;    // bytes in the transfer
        bool accepted;    // false: refused (not selected, busy, no write enable)
    };
    struct BusSetup {
        int mode = -1;
        int bitsPerWord = -1;
        uint32_t maxSpeedHz = 0;
    };

    FpgaFlash();
    ~FpgaFlash();
    FpgaFlash(const FpgaFlash&) = delete;
    FpgaFlash& operator=(const FpgaFlash&) = delete;

    // bus face: one chip-select frame; rx may be null. false = the transfer failed.
    bool transfer(const uint8_t* tx, uint8_t* rx, size_t len);
    void setBusSetup(const BusSetup& setup);

    // test face
    BusSetup busSetup() const;
    std::vector<uint8_t> read(uint32_t address, size_t length) const;
    void store(uint32_t address, const std::vector<uint8_t>& bytes); // plain store, persisted
    void setSavedImage(const std::vector<uint8_t>& image);           // marker 0xAA + image
    void eraseAll();
    void setUniqueId(const std::array<uint8_t, 8>& id);
    std::array<uint8_t, 8> uniqueId() const;
    void setBusyPolls(int polls);  // status reads that show busy after an erase or program (2)
    void setStuckBusy(bool stuck); // busy for ever: every status read shows bit 0
    void setAbsent(bool absent);   // not fitted: its device node ("/dev/spidev32766.3") cannot be opened
    bool absent() const;
    void failNextTransfers(int n);
    void failProgramsAt(uint32_t address, int n); // the next n page programs at address fail
    std::vector<Op> log() const;
    std::vector<Op> logOf(uint8_t opcode) const;
    void clearLog();
    std::vector<std::string> violations() const;
    void clearViolations();
    // Power cycle: drops the array in memory and reloads it from the file; write enable, busy and
    // the log start over. The unique id and the fault switches stay.
    void reload();

private:
    struct State;
    std::unique_ptr<State> s_;
};

FpgaFlash& fpgaFlash();

}
