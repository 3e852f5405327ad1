#pragma once
#include "platform/i2c_bus.h"
#include "platform/sim/devices/clock_synth.h"
#include "platform/sim/devices/edid_eeprom.h"
#include "platform/sim/devices/i2c_switch.h"
#include "platform/sim/devices/io_expander.h"
#include "platform/sim/devices/it6602_chip.h"
#include "platform/sim/devices/it66121_chip.h"
#include "platform/sim/devices/ite6805_chip.h"

#include <array>
#include <memory>

namespace platform::Sim {

// The simulated "/dev/i2c-0" and the chips on it. Messages carry 7-bit addresses, as the kernel
// takes them; the board's 8-bit names are given alongside.
//
// Main bus: switch 0xEE (in front of the receivers), switch 0xE0 (in front of the EDID EEPROMs and
// the clock synthesiser) and the I/O expander 0x40. Behind 0xE0: input i's EEPROM at 0xA0 on its
// channel bit (inputs 0-5: 0x01, 0x02, 0x04, 0x08, 0x20, 0x10) and the clock synthesiser 0xD0 on
// 0x80. Behind 0xEE: IT6602 receiver r (inputs 0-3) at 0x94 on channel bit 1 << r, answering only
// while the receiver path word 0x207940 of the register window is not 0; iTE6805 device d (inputs
// 4-5) at 0x90 and its CEC engine at 0xC8 on the input's channel (0x20, 0x10), answering only while
// the iTE6805 path word 0x207944 is not 0. On the main bus the SDI path's IT66121 transmitter at 0x98,
// answering only while its enable word 0x207800 is 16. Other chips (receivers, transmitters) plug in with attach()/attachBehind().
//
// A transfer runs its messages in order; an address nobody acknowledges, or a byte refused, ends
// it with -1 (errno ENXIO) after the chips touched so far saw the stop. Two chips acknowledging one
// address at once is a violation. The EEPROMs are writable only while expander bit 0 and the
// write-protect word 0x207948 of the register window are both 0.
//
// Time: the bus clock is real time (steady clock, microseconds) unless a test switches to the
// manual clock, which moves only by advanceUs().
class I2cBoard {
public:
    static constexpr uint8_t ReceiverSwitch = 0xEE >> 1;
    static constexpr uint8_t EdidSwitch = 0xE0 >> 1;
    static constexpr uint8_t ExpanderAddress = 0x40 >> 1;
    static constexpr uint8_t EepromAddress = 0xA0 >> 1;
    static constexpr uint8_t SynthAddress = 0xD0 >> 1;
    static constexpr uint8_t SynthChannel = 0x80;
    static constexpr uint32_t WriteProtectWord = 0x207948; // window offset; 0 = writable
    static constexpr uint32_t ReceiverPathWord = 0x207940;  // window offset; 0 = IT6602s held
    static constexpr uint32_t Ite6805PathWord = 0x207944;   // window offset; 0 = iTE6805s held
    static constexpr uint32_t TransmitterEnableWord = 0x207800; // window offset; 16 = IT66121 on
    static constexpr int Ite6805Count = 2;
    static constexpr int It6602Count = 4;
    static constexpr int Inputs = 6;
    static constexpr size_t LogLimit = 1 << 16; // messages kept; older ones drop off the front
    static uint8_t channelOf(int input); // the input's bit on both switches

    struct Message {
        uint64_t seq;
        uint8_t address; // 7-bit
        bool read;
        std::vector<uint8_t> data; // bytes written, or bytes read (empty when not acknowledged)
        bool acknowledged;
        uint8_t receiverChannels; // control bytes of 0xEE and 0xE0 when the message went out
        uint8_t edidChannels;
    };

    I2cBoard();
    ~I2cBoard();
    I2cBoard(const I2cBoard&) = delete;
    I2cBoard& operator=(const I2cBoard&) = delete;

    // bus face
    int transfer(I2cMsg* messages, size_t count);
    bool openFails() const;

    // test face: chips
    I2cSwitch& receiverSwitch();
    I2cSwitch& edidSwitch();
    IoExpander& expander();
    EdidEeprom& eeprom(int input); // inputs 0-5
    ClockSynth& clockSynth();
    It6602Chip& it6602(int receiver); // receivers 0-3 = inputs 0-3
    Ite6805Chip& ite6805(int device);  // devices 0-1 = inputs 4-5
    It66121Chip& it66121();
    std::array<uint8_t, EdidEeprom::Size> eepromContents(int input) const;
    void attach(uint8_t address, std::shared_ptr<I2cDevice> chip); // on the main bus
    void attachBehind(uint8_t switchAddress, uint8_t channels, uint8_t address, std::shared_ptr<I2cDevice> chip);
    void detach(const I2cDevice* chip);

    // test face: bus
    void setManualClock(bool manual); // the manual clock starts where the bus clock stands
    void advanceUs(uint64_t us);
    uint64_t nowUs() const;
    void setOpenFails(bool fail); // "/dev/i2c-0" cannot be opened
    void setLogging(bool on); // on after reset(); the running program needs no log
    std::vector<Message> log() const; // the newest LogLimit messages, oldest first
    std::vector<Message> logOf(uint8_t address) const;
    void clearLog();
    int nacks() const; // transfers ended by a refusal
    std::vector<std::string> violations() const; // the bus's and every chip's
    void clearViolations();
    // A fresh board: every chip at power-on, EEPROMs blank, logs and faults cleared, real-time
    // clock; chips plugged in by attach() stay wired.
    void reset();

private:
    struct State;
    std::unique_ptr<State> s_;
};

I2cBoard& i2cBoard();

}
