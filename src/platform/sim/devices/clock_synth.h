#pragma once
#include "platform/sim/devices/i2c_device.h"

#include <array>

namespace platform::Sim {

// Clock synthesiser at 0xD0 behind channel 0x80 of switch 0xE0: 63 one-byte registers. A write
// message is [register, data...] with the register number counting up per byte; a one-byte write
// sets the pointer for a following read. Registers beyond 62 NACK. The outputs lock once every
// register holds the board's configuration table (power-on: all 0, unlocked).
class ClockSynth : public I2cDevice {
public:
    static constexpr int Registers = 63;
    static const std::array<uint8_t, Registers>& boardTable();

    struct Write {
        uint8_t reg;
        uint8_t value;
        bool accepted;
    };

    bool write(const uint8_t* data, size_t len, uint64_t nowUs) override;
    bool read(uint8_t* data, size_t len, uint64_t nowUs) override;
    void reset() override;

    // test face
    std::array<uint8_t, Registers> registers() const;
    void setRegister(int reg, uint8_t value);
    bool locked() const; // every register equals the board table (no lock: read at every SPI frame)
    // The next `times` writes of register `reg` are not acknowledged (nothing stored).
    void refuseWriteOf(int reg, int times = 1);
    std::vector<Write> writes() const;
    void clearLog();

private:
    void relock() { locked_ = regs_ == boardTable(); } // under m_, after any register change

    mutable std::mutex m_;
    std::array<uint8_t, Registers> regs_{};
    std::atomic<bool> locked_{false};
    uint8_t pointer_ = 0;
    int refuseReg_ = -1, refuseTimes_ = 0;
    std::vector<Write> writes_;
};

}
