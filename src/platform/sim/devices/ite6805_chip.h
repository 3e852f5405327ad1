#pragma once
#include "platform/sim/devices/register_chip.h"
#include "platform/sim/devices/it6602_chip.h"

#include <array>
#include <deque>
#include <memory>
#include <utility>

namespace platform::Sim {

// One iTE6805 HDMI 2.0 receiver: the receiver block at 8-bit address 0x90 (this object) and its
// CEC engine at 0xC8 (cec()), both on the receiver's channel of switch 0xEE.
//
// Eight banks of 256 registers, bank = bits 0-2 of register 0x0F (shared by every bank). Written
// values are stored and logged, except where the chip drives the register itself:
//   bank 0  0x00-0x03 identity 54 49 05 68 (third byte settable), 0x04 revision (settable)
//           0x05-0x0E, 0x10-0x12, 0x1D, 0xB9, 0xBE, 0xD4, 0xD5  interrupt latches: a written one
//                    clears the bit; 0x08 and 0x0D bit 4 (front-end calibration done) read set
//           0x13 port 0 status (bit 0 5 V, 1 HDMI, 3 clock valid, 4 clock stable; 0xBF with a
//                source), 0x14 (0x38 locked, bit 6 HDMI 2.0, bit 0 fast TMDS), 0x19 (bit 7 sync,
//                bit 1 video present)
//           0x43 bits 5-7 clock-ratio of the TMDS count 0x48
//           0x98-0xAA measured timing (layout in ite6805_chip.cpp); 0x99/0x9A pixel-clock samples,
//                a new one latched by every write of 0x9A with bit 7 clear
//           0xB0-0xB5 audio status
//   bank 1  0x60 oscillator ready (0x19); 0x61/0x62 indirect reads selected by 0x50/0x51, done by
//           a write of 0x54
//   bank 2  0x15-0x19 AVI InfoFrame bytes, 0xBE-0xC2 audio N and CTS
//   bank 3  0xAB hot-plug control (bits 6-7, logged); 0xEA/0xEB bit-error counter (good link)
//   bank 5  0xDB output PLL lock in bit 4
//   banks 3/7 0x22 bit 2 written 1 starts training: 0:07 bit 4 (done) latched; 0xD5-0xD7 equaliser
//           values; 0xE9 selects the bit-error channel (0x00/0x20/0x40), 0x80 opens a new window
// CEC (0xC8): 0x4C interrupt latch (bit 2 frame received), 0x51 status (0 = fine), 0x52 bits 0-3
// frames waiting; reading 0x4D takes the next frame: 0x4D its length, 0x4E header, 0x4F opcode,
// each read of 0x50 the next operand. A transmission is length at 0x23, bytes from 0x10, started
// by 0x08 going from 0x08 to 0x88 in bits 3 and 7.
// Writing a chip-driven register of bank 0 is a violation.
//
// The board keeps the receiver silent while the iTE6805 path word of the register window is 0.
class Ite6805Chip : public RegisterChip {
public:
    static constexpr uint8_t Address = 0x90 >> 1;
    static constexpr uint8_t CecAddress = 0xC8 >> 1;
    static constexpr uint8_t BankRegister = 0x0F;
    static constexpr int Banks = 8;

    explicit Ite6805Chip(int device = 0);

    std::vector<std::string> violations() const override;
    void reset() override;

    // The CEC engine at 0xC8: 256 stored registers, 0x4C a write-one-to-clear interrupt latch.
    I2cDevice& cec();
    std::shared_ptr<I2cDevice> cecShared();

    // test face: the source
    // 5 V, sync and clock on, the timing measured (horizontal values and clock halved for a
    // YCbCr 4:2:0 source, as the chip sees them), change interrupts latched.
    void connect(const HdmiTiming& timing, bool yuv420 = false);
    void disconnect(); // 5 V, sync and clock off, nothing measured, the 5 V change latched
    bool connected() const;
    // AVI InfoFrame bytes 2:15-2:19 (2:15 bits 5-6 colour space); latches the AVI interrupt.
    void setAvi(uint8_t b15, uint8_t b16 = 0, uint8_t b17 = 0, uint8_t vic = 0, uint8_t b19 = 0);
    // Audio N and CTS (20 bits each) and the chip's own sampling-rate code register 0:B5.
    void setAudio(uint32_t n, uint32_t cts, uint8_t fsRegister);

    // test face: chip settings
    void setIdentityByte(uint8_t third);          // register 0:02 (0x05 by default)
    void setRevision(uint8_t revision);           // register 0:04
    void setOscillator(uint32_t count, bool inHundredths = false); // the stored oscillator count
    void setCalibrationDone(bool done);           // 0:08/0:0D bit 4
    void setOscillatorReady(bool ready);          // 1:60 = 0x19
    void setPllLock(bool locked);                 // 5:DB bit 4
    // Bit-error counter of a channel (P:EA low, P:EB high; 0x80 high = valid, below 256 errors):
    // the steady value, and values for the next sampling windows (one per P:E9 := 0x80).
    void setBitErrors(int channel, uint8_t low, uint8_t high);
    void queueBitErrors(int channel, std::vector<std::pair<uint8_t, uint8_t>> samples);
    int trainingStarts() const; // writes of P:22 with bit 2 set

    // CEC: a frame [header, opcode, operands...] from the source, and the frames the chip sent.
    void sendCecFrame(std::vector<uint8_t> frame);
    std::vector<std::vector<uint8_t>> cecSent() const;
    // CEC faults: 0x52 reports `count` frames whatever the FIFO holds (0 = the true count); only
    // the next `transfers` messages to the engine are answered (-1 = all). Both end by themselves
    // after 30000 messages to the engine, so a driver that never stops polling shows in the counts.
    void setCecStuckCount(uint8_t count);
    void cecAnswerOnly(int transfers);
    uint8_t cecRegister(uint8_t address) const; // as last written (0x4C: the latch)
    std::vector<uint8_t> cecWritesTo(uint8_t address) const; // every value written there, in order
    int cecFramesTaken() const; // reads of 0x4D
    int cecAddressings() const; // messages addressed to the engine, answered or not
    uint32_t referenceKHz() const;                // the reference clock the driver should derive

    // test face: registers
    uint8_t reg(int bank, uint8_t address) const;
    void poke(int bank, uint8_t address, uint8_t value); // any register, no log
    int bank() const;
    uint8_t hotPlug() const; // 3:AB bits 6-7
    int pixelSamplesTaken() const;

    void clearViolations();

private:
    class Cec;
    uint8_t readByte(uint8_t address) override;
    void writeByte(uint8_t address, uint8_t value) override;
    void loadTiming();
    void latchSample();
    void indirectRead();
    uint32_t rclk() const;
    void violation(const char* what, int bank, uint8_t address);
    static bool interruptRegister(uint8_t a);
    static bool chipDriven(uint8_t a);

    int device_;
    std::array<std::array<uint8_t, 256>, Banks> regs_{};
    uint8_t bankReg_ = 0;
    uint8_t identity2_ = 0x05;
    uint8_t revision_ = 0xA0;
    uint32_t oscCount_ = 0;
    bool oscHundredths_ = false;
    bool caofDone_ = true;
    bool oclkReady_ = true;
    bool pllLock_ = true;
    bool connected_ = false;
    bool yuv420_ = false;
    HdmiTiming timing_{};
    uint32_t sampleIndex_ = 0;
    int samplesTaken_ = 0;
    uint8_t ratioBits_ = 0;
    uint8_t errLow_[3] = {}, errHigh_[3] = {};
    std::vector<std::pair<uint8_t, uint8_t>> errQueue_[3];
    uint8_t errSelect_ = 0;
    int trainingStarts_ = 0;
    std::vector<std::string> violations_;
    std::shared_ptr<Cec> cec_;
};

}
