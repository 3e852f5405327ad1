#pragma once
#include "platform/sim/devices/byte_latch.h"

namespace platform::Sim {

// 8-bit I/O expander at 0x40: one output byte, bit 0 the EEPROM write-protect line (1 protected),
// bits 2-7 the audio-source selection. Power-on: 0xFF (all lines high, so the EEPROMs start protected).
class IoExpander : public ByteLatch {
public:
    static constexpr uint8_t PowerOn = 0xFF;
    static constexpr uint8_t WriteProtectBit = 0x01;
    IoExpander() : ByteLatch(PowerOn) {}
};

}
