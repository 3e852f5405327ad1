#pragma once
#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace platform::Sim {

// The emulated multi-window scaler chip behind SPI device 0, with its serial flash on bank 0x04.
// Bus face: 2-byte messages (bit 7 of byte 0 = write, bits 0-6 the address; address 0 selects the
// bank). Test face: register values by descriptor (bank << 16 | address << 8 | width), the
// transfer log, snapshots and fault injection. Unmodelled cells read back what was written.
// value() shows the stored cells; the read models (frame flags, flash status, field phase) act on
// bus reads only, so looking at a register never changes the chip.
class C331Chip {
public:
    // The measurement clock: frame period raw = round(ReferenceClockHz / fv) - 1. The engine's
    // PI_FV = ReferenceClockHz / (raw + 1) must use the same value.
    static constexpr uint32_t ReferenceClockHz = 27000000;
    // The output channels' pixel clock: the panel timings fill about 4400 x 2250 pixels a frame,
    // 60 Hz at this clock.
    static constexpr uint32_t OutputPixelClockHz = 594000000;
    static constexpr uint32_t FlashSize = 0x2000000;

    C331Chip();
    ~C331Chip();
    C331Chip(const C331Chip&) = delete;
    C331Chip& operator=(const C331Chip&) = delete;

    struct Transfer {
        uint64_t seq;
        enum Kind { Select, Write, Read } kind;
        uint8_t bank;     // selected bank at the time (the new bank for Select)
        uint8_t addr;
        uint8_t value;    // byte written, or byte returned for a read
        uint32_t speedHz;
        bool fullDuplex;  // a receive buffer was given
    };
    struct InputTiming {
        bool present = false;
        uint32_t htotal = 0;
        uint32_t vtotal = 0;
        uint32_t hact = 0;
        double fv = 0;       // frame rate, Hz
        bool interlaced = false;
        uint32_t lanes = 0;  // V-by-One ports only
    };
    using Snapshot = std::vector<uint8_t>; // 256 x 128 cells

    // bus face: one SPI transfer of `len` bytes (the program always sends 2); false = transfer failed
    bool transfer(const uint8_t* tx, uint8_t* rx, size_t len, uint32_t speedHz);

    // test face
    uint32_t value(uint32_t desc, uint32_t bankOffset = 0);          // little-endian composition
    void preset(uint32_t desc, uint32_t value, uint32_t bankOffset = 0);
    std::vector<Transfer> log() const;
    std::vector<Transfer> writesTo(uint32_t desc, uint32_t bankOffset = 0) const; // data writes only
    size_t selectCount() const;
    size_t transferCount() const;
    void clearLog();
    Snapshot snapshot() const;
    // "BB:AA old->new" for every cell that differs from the snapshot
    std::vector<std::string> diff(const Snapshot& before) const;

    void setChipId(uint8_t id);                 // B2:08, 0x24 by default
    void setOutputFrameStalled(bool stalled);   // 05:23 never raises its bits
    void setInputFrameStalled(bool stalled);    // 05:22 never raises its bits
    void failNextTransfers(int n);              // the next n transfers fail (rx left untouched)
    // Measurement registers of port 0-5, and the line counts (A8:08+6c, A8:0A+6c) of every capture
    // channel whose select register (00:10+c) names the port.
    void setInput(int port, const InputTiming& timing);

    // serial flash (32 MiB, erased 0xFF, programming ANDs) and the OSD engine's memory transfers
    std::vector<uint8_t> flashRead(uint32_t address, size_t length) const;
    void flashWrite(uint32_t address, const std::vector<uint8_t>& bytes); // test set-up: plain store
    struct Dma {
        uint32_t flashAddr;
        uint32_t size;
        uint8_t target;
        uint32_t dest;
    };
    std::vector<Dma> dmaLog() const;
    bool chipEraseSeen() const; // 0xC7 was ever executed
    void reset();               // power-on state (keeps the flash)

    // additions
    // Rule breaches seen on the bus: malformed transfers, a write not sent write-only at 10 MHz, a
    // read not full duplex at 5 MHz, a bus set up other than mode 3 with 8-bit words, flash rule
    // breaches. The shared test fixture fails a test on any it did not provoke.
    std::vector<std::string> violations() const;
    // Called in the sending thread before each transfer reaches the chip (null: none); lets a test
    // look at the sender's state, e.g. which locks it holds, while the bus is in use.
    void setTransferHook(std::function<void()> hook);
    // Reads of 05:23 (output) or 05:22 and A8:3F+5c (input) before an enabled flag shows; 1 by default.
    void setFrameFlagReads(int output, int input);
    void setFieldPhase(int channel, int phase);  // bits 2-3 of AB:47+c at the next read
    void setFieldPhaseRunning(bool running);     // false: the phase no longer advances per read
    // Status reads each flash, DMA or generator job stays busy for (0 by default: done at once).
    void setFlashBusyPolls(int polls);
    // UntilWrdi: WEL stays set after a program or erase until WRDI; Stuck: WRDI does not clear it.
    enum class WelFault { None, UntilWrdi, Stuck };
    void setWelFault(WelFault fault);
    // Character generator starts (04:08 := 3): the FIFO bytes of 04:29, five per character.
    // 04:17 bit 0 reads 1 when the generator is done (and while idle), 0 while it runs.
    std::vector<std::vector<uint8_t>> charRuns() const;
    void resetFlash();                           // erased, with the four font headers
    // The flash lives in <root>/sim/c331_flash.bin, so it survives a restart of the program;
    // reloadFlash is that power cycle (the array as the file holds it).
    static constexpr const char* FlashFile = "/sim/c331_flash.bin";
    void reloadFlash();
    // Chip memory written by memory transfers and the OSD engine (unwritten bytes read 0xFF) and
    // the OSD palette (entry n = red, green, blue at 3n; index 255 is transparent).
    std::vector<uint8_t> memory(uint32_t address, size_t length) const;
    std::array<uint8_t, 768> palette() const;
    // The OSD plane output channel n shows (bank 0x09 + 16n: address, size, stride, control), as
    // RGBA pixels; an OSD switched off on that channel gives an empty picture.
    struct Picture {
        int width = 0, height = 0;
        std::vector<uint8_t> rgba;
        uint32_t pixel(int x, int y) const; // 0xRRGGBBAA
    };
    Picture osdShown(int channel) const;
    static bool writePng(const Picture& picture, const std::string& path); // false: not written
    void setLogLimit(size_t transfers);          // the log keeps the newest ones (default 1 M, 0: no log)
    struct BusSetup {
        int mode = -1;
        int bitsPerWord = -1;
        uint32_t maxSpeedHz = 0;
    };
    void setBusSetup(const BusSetup& setup); // what the bus was configured with (mode 3, 8 bits expected)
    BusSetup busSetup() const;
    // Output channel n's timing as its registers hold it: totals and output area of bank 0x08 + 16n,
    // sync widths of bank 3.
    struct OutputTiming {
        uint32_t htotal, hsync, hback, hactive, hfront;
        uint32_t vtotal, vsync, vback, vactive, vfront;
        int64_t hbackSigned, vbackSigned; // start of the active area minus the sync width
    };
    OutputTiming outputTiming(int channel);

private:
    struct State;
    std::unique_ptr<State> s_;
};

C331Chip& c331Chip();

}
