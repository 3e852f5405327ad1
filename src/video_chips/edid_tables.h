#pragma once
#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

// The EDIDs the box presents on its inputs: a base block and one CEA-861 extension each. Inputs
// 0-3 (IT6602 receivers) and 4-5 (iTE6805 receivers) have their own default tables; an operator's
// custom timing is patched into the input's table before it is written to the EEPROM.
namespace edid {

constexpr size_t BlockSize = 128;
constexpr size_t TableSize = 256;
constexpr int Inputs = 6;
using Table = std::array<uint8_t, TableSize>;

// (seed + sum of count bytes) mod 256
uint8_t CalcSum4LCD(uint8_t seed, const uint8_t* bytes, size_t count);
// Byte 127 of each block makes that block sum to 0 mod 256.
void fixChecksums(Table& table);

Table default6602(int entry); // entries 0-3 (inputs 0-3)
Table default6805(int entry); // entries 0-1 (inputs 4-5)
Table defaultFor(int input);  // by input 0-5; an all-zero table for any other number

// Largest values the detailed-timing fields hold.
constexpr uint32_t MaxActive = 4095;
constexpr uint32_t MaxClockField = 65535; // units of 10 kHz
constexpr uint32_t MinClockField = 1000;  // 10 MHz

// Highest pixel clock each receiver takes, as its tables' range limits and HDMI blocks say.
constexpr uint32_t It6602MaxClockMHz = 300;
constexpr uint32_t Ite6805MaxClockMHz = 600;
uint32_t maxClockMHz(int input); // 0 for a number outside 0-5

// Writes the custom timing (width x height at rate Hz, the chip's fixed blanking) into descriptor
// slots 1 and 2 of `table`, widens the range-limits descriptor (from the input's default limits)
// just enough to take in the timing, and renews the base block's checksum. Refused, with the table
// unchanged, a log line saying why and false: a timing whose fields do not fit (active above 4095,
// clock field above 65,535 or zero, a zero size, rates the range limits cannot hold), one whose
// pixel clock is above the receiver's or below 10 MHz, or an input outside 0-5.
bool Set_Custom_HDMI_EDID(Table& table, uint32_t width, uint32_t height, uint32_t rate, int input);
// Why the input's receiver does not take the custom timing (the refusals above), or "" when it
// does: the scaler and the EDID page ask before anything is written.
std::string timingRefusal(uint32_t width, uint32_t height, uint32_t rate, int input);

}
