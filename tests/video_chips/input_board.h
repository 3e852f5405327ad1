#pragma once
// The simulated board as the input chips' tests see it: the FPGA register-window words that hold
// the receivers, the EEPROMs and the SDI path, and the 1080p60 source fed to the receivers.
#include "platform/sim/devices/fpga_chip.h"
#include "platform/sim/devices/it6602_chip.h"
#include "platform/sim/sim_board.h"

#include <cstdint>

namespace input_board {

inline constexpr uint32_t kResetWord = 0x207858;   // FPGA 0: 0 in reset, 16 running
inline constexpr uint32_t kIt6602Path = 0x207940;  // the IT6602 receivers: 0 held
inline constexpr uint32_t kIte6805Path = 0x207944; // the iTE6805 receivers: 0 held
inline constexpr uint32_t kProtectWord = 0x207948; // the EDID EEPROMs: 0 writable
inline constexpr uint32_t kSdiReset = 0x002848;    // the SDI receiver: 0 in reset, 1 running

inline uint16_t gpio(uint32_t word) { return platform::Sim::memSim().read16(platform::Sim::FpgaChip::WindowBase + word); }
inline void setGpio(uint32_t word, uint16_t value)
{
    platform::Sim::memSim().write16(platform::Sim::FpgaChip::WindowBase + word, value);
}

// CEA-861 1920x1080, 60 Hz, positive syncs.
inline const platform::Sim::HdmiTiming P1080p60{1920, 1080, 2200, 1125, 44, 148, 5, 36, true, true, false, 148500};

}
