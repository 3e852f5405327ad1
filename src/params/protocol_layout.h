#pragma once
// Fixed values of the control protocol that more than one layer uses: the smallest frame, the
// addresses and serial numbers of frames for the receiving cards, and where an uploaded program
// waits for the restart. The parameter block's fields are in block_layout.h.
#include <cstdint>

namespace proto {

// A frame's body: destination and source (u16 LE), four head bytes (byte 5 the serial number),
// spare, group (byte 9), status or sub-command, payload, XOR check byte.
constexpr uint32_t kMinFrame = 11; // the 10-byte head and the check byte

// ---- Addresses -----------------------------------------------------------------------------------
// A card's: bits 12-13 the port within its group of four, bits 0-11 the card index, or one of:
constexpr uint16_t kCardBits = 0x0FFF;
constexpr uint16_t kSearchCards = 0x0FFE; // every card of the port, each answering a search
constexpr uint16_t kAllCards = 0x0FFF;    // every card (a broadcast write)
// The multifunction card: bit 14 with the port bits (0x4000-0x7000); it answers with that address.
constexpr uint16_t kMultifunction = 0x4000;
constexpr uint16_t kMultifunctionPortStep = 0x1000;
constexpr uint16_t kBox = 0xF000;    // the box itself (its own packets: 0xF000-0xF00F)
constexpr uint16_t kPcTool = 0xF010; // a PC tool; its frames to addresses below kBox go to the cards

// ---- Serial numbers (byte 5) of the box's own card packets ----------------------------------------
// The multifunction card's templates: their answers are never forwarded, so a tool's frame with
// this serial number is sent without waiting for one.
constexpr uint8_t kSerialTemplate = 0x66;
constexpr uint8_t kSerialJob = 0x67; // the card jobs' (mapping, save, replay)

// ---- Files ----------------------------------------------------------------------------------------
constexpr const char* kProgram = "/data/app/vyrR58N";        // the running program
constexpr const char* kStagedProgram = "/data/app/vyrR58N2"; // an uploaded one, put in place by a restart
constexpr const char* kUsbStagedProgram = "/data/app/vyrR58N2.usb"; // the USB upgrade's, until its swap

}
