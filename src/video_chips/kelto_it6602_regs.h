#pragma once
// Register map of the IT6602 receivers as the driver's files share it. Bank 0 unless noted.
#include "base/global.h"

#include <cstdint>

namespace it6602 {

inline bool tracing() { return traceOn(); }

constexpr uint8_t RegBank = 0x0F;

// port status (0x0A port 0, 0x0B port 1) and power
constexpr uint8_t RegPort0Status = 0x0A, RegPort1Status = 0x0B, RegPortPower = 0x0C;
constexpr uint8_t FiveVolt = 0x01, ClockStable = 0x08, HdmiMode = 0x40, SyncDetected = 0x80;
inline uint8_t portStatus(uint8_t port) { return port ? RegPort1Status : RegPort0Status; }

// per-port resets: bits 0-3 link (ECC time-out), bit 4 deskew, bit 6 analogue front end (pulsed
// on entry to the software-reset video state; the init table never sets it)
constexpr uint8_t RegPort0Reset = 0x11, RegPort1Reset = 0x18;
constexpr uint8_t LinkReset = 0x0F, DeskewReset = 0x10, AfeReset = 0x40;
inline uint8_t portReset(uint8_t port) { return port ? RegPort1Reset : RegPort0Reset; }

// equaliser: control (forced when it reads 0), manual-value enable (bit 5) and the three channel
// values, the first of which is the value register
constexpr uint8_t RegEqControl[2] = {0x22, 0x3A};
constexpr uint8_t RegEqManual[2] = {0x26, 0x3E};
constexpr uint8_t EqManual = 0x20;
constexpr uint8_t RegEqValue[2] = {0x27, 0x3F};
constexpr uint8_t EqForced = 0x3F;

// RS override of each port, bit 0
constexpr uint8_t RegRsOverride[2] = {0x2A, 0x42};
// port 1 clock polarity, bit 7
constexpr uint8_t RegPort1Clock = 0x49, ClockInvert = 0x80;

// error registers of each port: status (bits 0-2 symbol errors of channels 0-2, written ones
// clear), then four counters that any write restarts
constexpr uint8_t RegErrors[2] = {0xB2, 0xB7};
constexpr uint8_t SymbolErrors = 0x07;

// amplitude readings, three channels per port: bit 7 valid, bits 0-6 the equaliser code
constexpr uint8_t RegAmplitude[2] = {0xD1, 0xD4};
constexpr uint8_t AmplitudeValid = 0x80;

// audio: capabilities (flags, channel count, sample-rate code), control
constexpr uint8_t RegAudioFlags = 0xAA, RegAudioChannels = 0xAB, RegAudioFs = 0xAC;
constexpr uint8_t AudioValid = 0x80, AudioHbr = 0x40, AudioDsd = 0x20;
constexpr uint8_t RegAudioControl = 0x10, AudioReset = 0x02;
constexpr uint8_t RegAudioMode = 0x54, AudioModeMask = 0x70;
constexpr uint8_t RegAudioDsd = 0x7D, DsdPath = 0x10;
constexpr uint8_t RegAudioMute = 0x8C, AudioMute = 0x01, HardwareMuteClear = 0x02;
constexpr uint8_t RegAudioOutput = 0x52, AudioOutputsOff = 0x0F;

// video output
constexpr uint8_t RegVideoOutput = 0x53, OutputsOff = 0x0F, VideoMute = 0x80;
constexpr uint8_t RegOutputMode = 0x65; // bits 0-1 format, 2-3 pixel repetition, 4-5 converter
constexpr uint8_t RegInputMode = 0x51;  // bit 0 port, 2 double rate, 3 embedded sync, 4-5 input format, 6 BT.709
constexpr uint8_t RegCscBank = 1, RegCsc = 0x70; // 21 bytes, bank 1
constexpr uint8_t RegOutputExtra1 = 0x8D, RegOutputExtra2 = 0x8E; // bank 1

// AVI information frame, bank 2: checksum, version, data bytes 1-3
constexpr uint8_t RegAviChecksum = 0x14, RegAviVersion = 0x15, RegAviData = 0x16;

}
