#pragma once
#include "platform/sim/devices/fpga_network.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace platform::Sim {

// FPGA 0 behind SPI device 1, with the LED network behind its output ports.
//
// Bus face. The FPGA reads its GPIO lines in the simulated register space at every transfer: it
// runs while the reset word is 16 (a transfer that sees 0 puts it into reset, the next one that
// sees 16 starts it from power-on; in reset every read is 0 and writes are lost) and answers only
// while its select word is 0. With the command phase at 16 a 4-byte transfer is a command:
// 04 00 RR MM register write, 05 00 RR 00 register read, 02 BB AL AH RAM write, 03 BB AL AH RAM
// read (12-bit address); the next transfer, with the phase at 0, is its data. Register writes
// apply the mask. The interrupt word's bit 0 shows whether a card reply waits in an RX buffer.
//
// Registers 0-170. Read rules: 0 bit 3 an FPGA fault flag (test hook), 22 bit 7 link locked
// (after 3 bit 6), bit 4 V-by-One up (after 3 bit 7), bit 3 V-by-One error, bit 6 0, bit 5 the reply
// flag (set when a reply is loaded, cleared by writing 0); 23 bit 1 the loop test, which reads 1
// only while 41 bit 0 runs it; 28-31 identity (31 = 0x24, read-only);
// 40 = 0x1F (bits 2-4 the links); 128/144 the port links; 129/145 RX ready (bit 2g) and TX busy
// (bit 2g + 1) of the pairs; 130/146 strobes that read 0: bit g acknowledges pair g's reply,
// bits 4-7 start pair g's transmission. Others read back as written.
//
// Register 2: bit 3 loads the parameter image, bit 0 applies it (counted); bits 1 and 2 are the
// program's own requests and never reach the FPGA (a violation). The picture goes out only once
// loaded and while 23 bit 0 (V-by-One) and 3 bit 5 (output) are set and 0 bit 2 (blank) and
// 23 bit 3 (mute) clear.
//
// RAM: banks of 4 KiB. Bank 1 is plain RAM except bytes 116-123, which belong to the FPGA: they
// read 0 until the canvas is applied (register 2 written with bit 0 or 3), then the measured input
// (u16 width, u16 height, u32 frame period in 50 MHz clocks: 833,333 is 60 Hz): the picture its
// source gives (on the board the scaler chip's output, scalerOutput), else the fixed input of
// setMeasuredInput. Pair p transmits
// from bank 3 + 2p and receives into bank 2 + 2p (pairs 0-3 on the first register of each row,
// 4-7 on the second): length - 1 in the length registers (low byte, bits 8-9 in 27/158 and
// 25/153), the port by its bit in 132/148 (each selected port of the pair gets the packet).
//
// Time: the model counts device-1 transfers as its clock. A transmission stays busy for the TX
// latency, then reaches the port; replies reach the RX queue after the reply delay (both 0 by
// default: at once). settle() runs everything pending.
class FpgaChip {
public:
    static constexpr uint32_t WindowBase = 0x1F000000; // the board window of the register space
    static constexpr uint32_t WindowSize = 0x2B0000;
    static constexpr uint32_t SelectWord = 0x207810;   // 0 selected, 16 released
    static constexpr uint32_t PhaseWord = 0x207838;    // 16 command, 0 data
    static constexpr uint32_t ResetWord = 0x207858;    // 0 in reset, 16 running
    static constexpr uint32_t FlashSelectWord = 0x207860;
    static constexpr uint32_t Fpga1SelectWord = 0x207900;
    static constexpr uint32_t IrqWord = 0x207908;      // bit 0: reply pending
    static constexpr int Registers = 171;
    static constexpr int Pairs = 8;

    struct Access {
        uint64_t seq;
        enum Kind { RegisterWrite, RegisterRead, RamWrite, RamRead } kind;
        uint8_t bank;     // RAM bank (0 for registers)
        uint16_t address; // register number or RAM address
        uint8_t mask;     // register write mask
        std::vector<uint8_t> data; // bytes written, or bytes returned
        uint32_t tick;             // of the tick source at the access (0 without one)
    };
    struct BusSetup {
        int mode = -1;
        int bitsPerWord = -1;
        uint32_t maxSpeedHz = 0;
    };
    struct Picture {
        uint16_t width = 0, height = 0;
        uint32_t framePeriod = 0; // in 50 MHz clocks
    };

    FpgaChip();
    ~FpgaChip();
    FpgaChip(const FpgaChip&) = delete;
    FpgaChip& operator=(const FpgaChip&) = delete;

    // bus face
    bool transfer(const uint8_t* tx, uint8_t* rx, size_t len); // one chip-select frame; rx may be null
    void setBusSetup(const BusSetup& setup);
    void watchLines(); // samples the reset line; the board calls it at every SPI transfer
    // The FPGA leaves reset only while this also answers true (e.g. the clock synthesiser holds
    // its table); unset, the reset line alone decides. Called under the model's lock.
    void setClockGate(std::function<bool()> ready);

    // test face: chip
    void reset();                       // power-on model, empty network, log and hooks cleared
    bool running() const;
    BusSetup busSetup() const;
    uint8_t registerValue(int reg) const; // stored value, no read rule
    void setRegister(int reg, uint8_t value);
    std::vector<uint8_t> ram(int bank, uint16_t address, size_t length) const; // as stored
    void setRam(int bank, uint16_t address, const std::vector<uint8_t>& bytes);
    bool canvasApplied() const;           // register 2 bit 0 or 3 was written
    bool imageLoaded() const;             // register 2 bit 3 was written
    int applyCount() const;               // writes of register 2 with bit 0
    bool pictureOut() const;              // running, loaded, and the output bits let it through
    // Each access records the value of this clock (the program's tick counter in tests).
    void setTickSource(std::function<uint32_t()> ticks);
    // Called with each access as it is recorded, under the model's lock (it must not call the
    // model): lets a test act at an exact point of the program's traffic.
    void setAccessHook(std::function<void(const Access&)> hook);
    void setMeasuredInput(uint16_t width, uint16_t height, uint32_t framePeriod); // 1920x1080, 833,333
    // The picture the FPGA measures comes from here (null: the fixed input). Called under the
    // model's lock.
    void setPictureSource(std::function<Picture()> source);
    std::vector<Access> log() const;
    void setLogLimit(size_t accesses); // the log keeps the newest ones (default 64 Ki, 0: no log)
    std::vector<uint8_t> registerWrites(int reg) const; // values of the data phases, in order
    void clearLog();
    std::vector<std::string> violations() const;
    void clearViolations();

    // test face: faults
    void setIdentity(uint8_t id);          // register 31
    void setVboErrorReads(int reads);      // the next reads of 22 show bit 3 (-1: for ever)
    void setLinkLocked(bool locked);       // 22 bit 7 (true)
    void setVboUp(bool up);                // 22 bit 4 (true)
    void setLinkDropReads(int reads);      // the next reads of 40 lack bits 2-4 (-1: for ever)
    void setFaultFlag(bool set);           // register 0 bit 3 reads 1
    void setRamCheckMismatch(bool set);    // bank 1 byte 8 (port 0 x) reads back inverted
    void failNextTransfers(int n);         // the transfers fail; nothing reaches the FPGA

    // test face: LED network
    void setCards(int port, int count);    // links the port (count 0: linked, no cards)
    void setLinked(int port, bool linked);
    void setMultifunction(int port, bool present);
    void editNetwork(const std::function<void(LedNetwork&)>& edit); // anything else, under the lock
    LedNetwork network() const;            // a copy
    std::vector<std::vector<uint8_t>> packets(int port) const; // delivered to the port, in order
    std::vector<std::vector<uint8_t>> dropped() const;  // refused at TX start (bad check byte)
    void clearPackets();
    void setTxLatency(int transfers);
    void setReplyDelay(int transfers);
    // Raw bytes into the RX queue of the port's pair, as if a card sent them (while running).
    void queueReply(int port, const std::vector<uint8_t>& reply);
    size_t pendingReplies(int pair) const; // loaded one included
    void settle();

private:
    struct State;
    std::unique_ptr<State> s_;
};

FpgaChip& fpgaChip();

// What the emulated scaler chip sends FPGA 0, the board's picture source: its first channel pair,
// output channels 0 and 1 on the same timing, as one picture with their active areas side by side
// (channel 0 alone when channel 1 runs another), its frame at the scaler's output pixel clock;
// nothing before a panel is programmed. On two pairs an H splice gives each part a pair of its
// own: the pair holds its part, about half the LED width or more, as the status watch expects;
// channel 0 alone holds half a part.
FpgaChip::Picture scalerOutput();

}
