#pragma once
#include "platform/sim/devices/register_chip.h"

#include <array>

namespace platform::Sim {

// What a source sends into a receiver: active size, totals, sync widths and back porches, sync
// polarities (true = positive), interlace, and the pixel clock in kHz.
struct HdmiTiming {
    uint16_t hactive = 0, vactive = 0;
    uint16_t htotal = 0, vtotal = 0;
    uint16_t hsync = 0, hback = 0;
    uint16_t vsync = 0, vback = 0;
    bool hpositive = true, vpositive = true;
    bool interlaced = false;
    uint32_t pixelClockKHz = 0;
};

// One IT6602 HDMI receiver (8-bit address 0x94) on its channel of the receiver switch.
//
// Four banks of 256 registers, selected by bits 0-1 of register 0x0F; registers 0x00-0x03 (identity
// 54 49 02 68) and 0x0F read the same in every bank. Everything written is stored (and logged)
// unless the register is one the chip drives itself:
//   bank 0  0x05-0x09, 0xD0  interrupt latches, a written one clears the bit
//           0x0A             port 0 status: bit 0 5 V, bit 3 clock stable, bit 6 HDMI mode, bit 7 SCDT
//           0x0B             port 1 status (no source on port 1: 0)
//           0x0C             bit 6 port 0 powered, bit 7 port 1 powered
//           0x99-0xA8        measured timing of the connected source (layout in it6602_chip.cpp)
//           0xAA-0xAC        audio capabilities: flags (bit 7 valid, 6 HBR, 5 DSD), channels, rate
//           0xB2/0xB7        error status of port 0/1: bits 0-2 symbol errors, written ones clear
//           0xB3-0xB6/0xB8-0xBB  error counters of port 0/1, any write restarts them
//           0xD1-0xD3/0xD4-0xD6  amplitude readings of port 0/1 (bit 7 valid)
//           0x11/0x18        port 0/1 resets; bit 6 going from 0 to 1 counts an analogue front end reset
//   bank 1  0x61             oscillator count reading (0 unless a test sets it)
//           0xB0             hot-plug level of port 0 in bits 0-1, kept as written and logged
//   bank 2  0x14-0x19        AVI information frame: checksum, version, data bytes 1-4
//           0xC0-0xC2        measured pixel clock, kHz = (C1 << 12) + C2 x 16 + (C0 >> 4)
// Writing one of the read-only registers above, or touching a bank-0 status register while another
// bank is selected, is a violation.
//
// The board holds the chip silent while the receiver path word of the register window is 0. A write
// message is [register, data...], a read returns bytes from the register last addressed; both run
// on through the bank.
class It6602Chip : public RegisterChip {
public:
    static constexpr uint8_t Address = 0x94 >> 1;
    static constexpr uint8_t BankRegister = 0x0F;

    explicit It6602Chip(int receiver = 0);

    std::vector<std::string> violations() const override;
    void reset() override; // power-on: no source, bank 0, logs and faults cleared

    // test face: the source
    void connect(const HdmiTiming& timing); // 5 V and sync on, timing measured, change interrupts
    void disconnect();                      // 5 V and sync off, timing cleared, change interrupts
    bool connected() const;
    void setHdmiMode(bool hdmi); // 0x0A bit 6; a change on a live source latches 0x05 bit 5
    // AVI information frame data bytes 1-4: stored with its version and checksum, 0x09 bit 0 latched
    void setAvi(uint8_t pb1, uint8_t pb2, uint8_t pb3, uint8_t pb4, uint8_t version = 2);
    void setAudio(uint8_t flags, uint8_t channels, uint8_t rate);
    void setAmplitudes(int port, uint8_t ch0, uint8_t ch1, uint8_t ch2);
    void raiseEq(uint8_t bits); // latches bits of 0xD0
    // Link quality by equaliser setting: while any is set for a port, its first error counter reads
    // `errors` for the value in force (0x27/0x3F while 0x26/0x3E bit 5 is set, else value 0x00)
    // and every read-and-restart sees that many again. Symbol-error bits stay set in the status.
    void setLinkErrors(int port, uint8_t eqValue, uint8_t errors);
    void setSymbolErrors(int port, uint8_t bits);

    // test face: registers
    uint8_t reg(int bank, uint8_t address) const;
    void poke(int bank, uint8_t address, uint8_t value); // any register, no log (readings, latches)
    int bank() const;
    int afeResets(int port) const; // analogue front end resets of port 0/1 since power-on


    void clearViolations();

private:
    void violation(const char* what, int bank, uint8_t address);
    static bool readOnly(int bank, uint8_t address);
    static bool bankZeroStatus(uint8_t address);
    uint8_t readByte(uint8_t address) override;
    void writeByte(uint8_t address, uint8_t value) override;
    void loadTiming(const HdmiTiming& t);
    uint8_t eqValueInForce(int port) const;

    int receiver_;
    std::array<std::array<uint8_t, 256>, 4> regs_{};
    uint8_t bankReg_ = 0;
    bool connected_ = false;
    bool hdmi_ = false;
    std::array<std::array<int16_t, 256>, 2> linkErrors_{}; // -1: none set for that value
    std::array<bool, 2> linkErrorsSet_{};
    std::array<uint8_t, 2> symbolErrors_{};
    std::array<int, 2> afeResets_{};
    std::vector<std::string> violations_;
};

}
