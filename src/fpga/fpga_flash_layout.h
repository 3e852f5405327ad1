#pragma once
#include <cstdint>

// Records in FPGA 0's configuration flash (8 MiB, 4 KiB sectors), shared by the worker, the
// mailbox and the protocol.
namespace FpgaFlash {
constexpr int kSelector0 = 2;                    // flash selector of FPGA 0
constexpr uint32_t kBank50Table = 0x6C0001;      // initial table written to RAM bank 50
constexpr uint32_t kSavedImageMarker = 0x6C7000; // marker byte, then the saved parameter image
constexpr uint32_t kSavedImage = 0x6C7001;
constexpr uint32_t kOnOffRecord = 0x6CD000;      // sector 1741: on/off schedule
constexpr uint32_t kBrightnessRecord = 0x6CE000; // sector 1742: brightness record
}
