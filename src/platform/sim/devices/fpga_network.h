#pragma once
#include <cstddef>
#include <cstdint>
#include <map>
#include <vector>

namespace platform::Sim {

// The LED network behind the output ports of FPGA 0: per port a chain of receiving cards and an
// optional multifunction card. deliver() takes one packet as it left the FPGA and returns the
// replies it causes, in the card packet format (destination, source, 0x10, serial, selector,
// port byte, 0, group, status, data, XOR check byte).
//
// Addressing: destination bits 0-11 the card index, 0xFFE the port's cards (search), 0xFFF all
// cards; bit 14 the multifunction card. A packet to several cards gets one answer per port, from
// the first card that is not silent. Bits 12-13 are routing only (the FPGA already chose the port);
// replies carry them as port mod 4 in their source.
//
// Search replies echo the request from byte 10 on, shifted by one behind the status byte: the
// count sits in bytes 11-12, the multifunction flag in byte 13, the echoed config id of an
// error-search in bytes 18-21 and its result in the u16 at 22 (the echoed 0x00FF when every card
// holds that config id, else the index of the first card that does not).
class LedNetwork {
public:
    static constexpr int Ports = 16;
    static constexpr size_t LogLimit = 4096; // per port; past it the older half is dropped
    static constexpr uint32_t SensorArea = 0x02000000; // multifunction card: 128 sensor bytes
    static constexpr uint16_t MappingRegister = 0x0F03; // card register switched by the mapping job

    struct Card {
        uint32_t configId = 0;
        bool silent = false;      // never answers
        bool badCheck = false;    // answers with a wrong check byte
        int saves = 0;            // save-to-flash packets taken (0x81)
        std::map<uint32_t, uint8_t> ram;       // 0x60/0x61; unwritten bytes read 0
        std::map<uint16_t, uint8_t> registers; // 0xA0
    };
    struct Multifunction {
        bool present = false;
        bool silent = false;
        bool badCheck = false;
        bool sensorValid = true;  // sensor byte 49 = 0xFF
        uint8_t targetLevel = 16; // sensor byte 52
        uint8_t registers[256] = {}; // relays 1-4 in register 2, 5-8 in 3, two bits each
        bool relayPower() const;  // any relay switched on (field = 3); RAM0 byte 44
    };
    struct Port {
        bool linked = false;
        bool silent = false;   // no card on the port answers
        bool badCheck = false; // every answer has a wrong check byte
        std::vector<Card> cards;
        Multifunction multifunction;
        std::vector<std::vector<uint8_t>> log; // packets delivered, in order (the newest LogLimit)
    };

    Port& port(int n) { return ports_[n]; }
    const Port& port(int n) const { return ports_[n]; }
    std::vector<std::vector<uint8_t>> deliver(int port, const std::vector<uint8_t>& packet);
    static uint8_t checkByte(const uint8_t* bytes, size_t length); // XOR of the bytes

private:
    Port ports_[Ports];
};

}
