#pragma once
// Inside of the FPGA model, shared by its two source files; nothing else includes it.
#include "platform/sim/devices/fpga_chip.h"

#include <array>
#include <deque>
#include <map>
#include <mutex>

namespace platform::Sim {

struct FpgaChip::State {
    enum class Pending { None, RegisterWrite, RegisterRead, RamWrite, RamRead };
    struct Pair {
        std::deque<std::vector<uint8_t>> queue; // replies waiting behind the loaded one
        bool ready = false;                     // a reply sits in the RX bank
        bool busy = false;                      // a transmission is on its way
    };
    struct Event {
        enum Kind { Deliver, Reply } kind;
        int pair;
        std::vector<int> ports; // Deliver: the selected ports
        std::vector<uint8_t> bytes;
    };

    // fpga_chip.cpp: lines, command decoding, registers and RAM
    bool sampleReset();
    void powerOn();
    void frame(const uint8_t* tx, uint8_t* rx, size_t len);
    void command(const uint8_t* tx);
    void data(const uint8_t* tx, uint8_t* rx, size_t len);
    uint8_t readRegister(int reg);
    void writeRegister(int reg, uint8_t value, uint8_t mask);
    uint8_t ramByte(int bank, uint32_t address);
    void writeRam(int bank, uint16_t address, const uint8_t* bytes, size_t length);
    uint8_t* bankBytes(int bank); // allocated on first use
    void record(Access::Kind kind, uint8_t bank, uint16_t address, uint8_t mask, const uint8_t* bytes, size_t len);
    void note(const std::string& violation) { violations.push_back(violation); }

    // fpga_ports.cpp: the TX and RX paths and the model's clock
    void strobe(int reg, uint8_t bits);
    void startTransmit(int pair);
    void acknowledge(int pair);
    void loadNext(int pair);
    void schedule(uint64_t delay, Event event);
    void runDue();
    void updateIrq();
    uint8_t pairBits(int firstPair) const; // 129/145

    mutable std::mutex mutex;
    bool running = false;
    std::function<bool()> clockGate;
    std::array<uint8_t, Registers> regs{};
    std::map<int, std::vector<uint8_t>> banks;
    bool applied = false; // canvas applied (register 2 bit 0 or 3): the measurement runs
    bool loaded = false;  // image loaded (register 2 bit 3)
    int applies = 0;
    std::function<uint32_t()> tickSource;
    std::function<void(const Access&)> accessHook;
    bool replyFlag = false; // register 22 bit 5
    Picture fixedInput{1920, 1080, 833333};
    std::function<Picture()> pictureSource;

    Pending pending = Pending::None;
    uint8_t pendingBank = 0, pendingMask = 0;
    uint16_t pendingAddress = 0;

    uint8_t identity = 0x24;
    int vboErrorReads = 0, linkDropReads = 0, failNext = 0;
    bool linkLocked = true, vboUp = true, faultFlag = false, ramMismatch = false;

    std::array<Pair, Pairs> pairs;
    std::multimap<uint64_t, Event> events; // by due time; equal times keep their order
    uint64_t clock = 0;                    // device-1 transfers while running
    int txLatency = 0, replyDelay = 0;
    LedNetwork network;
    std::vector<std::vector<uint8_t>> dropped;

    std::deque<Access> log;
    size_t logLimit = size_t(1) << 16;
    uint64_t seq = 0;
    std::vector<std::string> violations;
    BusSetup bus;
};

}
