#pragma once
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

// Test face of the simulated board: scripted answers, recorded traffic and fault injection.
// Only main (on the simulated board) and the test fixtures include this.
namespace platform::Sim {

// The recording shell. Every command is appended verbatim, one line each, to <root>/sim/shell.log.
// rm, cp, mv, chmod, mkdir and sync are carried out on paths under the root; board tools
// (ifconfig, route, date, hwclock, hostapd, udhcpd, kill, pidof, chattr) are answered from scripts
// and never run; "reboot" calls the reboot handler (default: exit the process with code 77).
class ShellSim {
public:
    // Commands starting with `prefix` answer with this exit code and standard output.
    // The longest matching prefix wins. Unscripted board tools answer 0 with no output.
    void script(const std::string& prefix, int exitCode, const std::string& output = std::string());
    void clearScripts();
    std::vector<std::string> commands() const; // every command since start (or clearLog)
    // The tools run from an argument list (no shell), also logged in commands() as one line.
    std::vector<std::vector<std::string>> argumentRuns() const;
    void clearLog();
    void setRebootHandler(std::function<void()> handler);
};
ShellSim& shellSim();

// The file-backed flash partitions: "/dev/mtd8" (0x60000 bytes) and "/dev/mtd10" (0x500000),
// erase blocks 0x10000, pages 2048. A missing backing file is created erased (0xFF).
// Erase and unlock take whole blocks inside the partition; pwrite starts on a page and may not run
// past the end (EINVAL otherwise); programming only clears bits.
class MtdSim {
public:
    void failGetInfo(bool fail);           // MEMGETINFO fails with EIO
    void failEraseAt(int64_t blockStart);  // MEMERASE of the block at this offset fails; -1 = none
    std::vector<std::string> calls() const; // "getinfo", "unlock 0x0 0x10000", "erase 0x0 0x10000", "pwrite 0x0 2048"
    void clearCalls();
    std::vector<std::string> violations() const; // writes that wanted to set bits (missing erase)
    std::vector<uint8_t> contents(const std::string& device); // whole partition image
};
MtdSim& mtdSim();

// The "/dev/mem" window: 0x2B0000 bytes at physical 0x1F000000 hold the SoC id words
// (u16 at 0x4058, 0x405C, 0x4060; 0x5A31, 0x7C02, 0x0E96 until set), the u16 at 0x400C
// (starts at 0x0100) and the GPIO words the emulated chips read (all 0 at start). Windows outside
// that range cannot be opened. The "/dev/msys" request answers that range.
class MemSim {
public:
    void setIdWords(uint16_t u, uint16_t v, uint16_t w);
    void setOpenFails(bool fail);
    void setMsysFails(bool fail); // the "/dev/msys" request is refused
    uint16_t read16(uint32_t physical); // current value of the simulated register space
    void write16(uint32_t physical, uint16_t value);
};
MemSim& memSim();

}
