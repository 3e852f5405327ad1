#pragma once
#include "platform/sim/devices/register_chip.h"

#include <array>

namespace platform::Sim {

// The IT66121 HDMI transmitter of the SDI path (8-bit address 0x98, on the main bus).
//
// Two banks of 256 registers, bank = bit 0 of register 0x0F (which every bank shares). Registers
// 0x00/0x01 of bank 0 read 0x54/0x49 (the identity); everything else is plain storage. Every write
// is logged in order, so a test can compare the programmed tables row by row. The board keeps the
// chip silent while the transmitter enable word of the register window is not 16.
class It66121Chip : public RegisterChip {
public:
    static constexpr uint8_t Address = 0x98 >> 1;
    static constexpr uint8_t BankRegister = 0x0F;

    It66121Chip() : RegisterChip(size_t(1) << 14) {}
    std::vector<std::string> violations() const override;
    void reset() override;

    uint8_t reg(int bank, uint8_t address) const;
    void poke(int bank, uint8_t address, uint8_t value);

    void setIdentity(uint8_t reg0, uint8_t reg1); // 0x54, 0x49 at power-on
    // The next `count` reads of an identity register return 0 (a chip still in reset).
    void failIdentityReads(int count);
    int identityReads() const; // reads of bank-0 registers 0/1 so far
    void clearViolations();

private:
    uint8_t readByte(uint8_t address) override;
    void writeByte(uint8_t address, uint8_t value) override;

    std::array<std::array<uint8_t, 256>, 2> regs_{};
    uint8_t bankReg_ = 0;
    uint8_t identity_[2] = {0x54, 0x49};
    int failIdentity_ = 0;
    int identityReads_ = 0;
    std::vector<std::string> violations_;
};

}
