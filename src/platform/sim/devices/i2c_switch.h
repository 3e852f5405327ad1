#pragma once
#include "platform/sim/devices/byte_latch.h"

namespace platform::Sim {

// I2C switch with eight downstream channels: the control byte holds one bit per channel, and a
// chip behind a channel answers only while its bit is set. Power-on: 0, no channel.
class I2cSwitch : public ByteLatch {
public:
    I2cSwitch() : ByteLatch(0) {}
    uint8_t selection() const { return value(); }
    void setSelection(uint8_t control) { setValue(control); }
};

}
