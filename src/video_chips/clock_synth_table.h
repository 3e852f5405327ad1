#pragma once
#include <array>
#include <cstdint>

class Drv_I2C0;

// The clock synthesiser at 0xD0 (behind channel 0x80 of switch 0xE0) that clocks the FPGAs.
namespace clock_synth {

constexpr uint8_t Address = 0xD0;
constexpr uint8_t Channel = 0x80;
constexpr int Registers = 63;
extern const std::array<uint8_t, Registers> kTable;

// Writes registers 0-62 one byte each, register r := kTable[r], over a channel the caller has
// selected. Stops at the first refused write and returns 0 (the caller retries from register 0);
// 1 when every register was written.
int program(Drv_I2C0& bus, int fd);

}
