#pragma once
#include <cstdint>
#include <string>

namespace platform {

// The set-up requests of one spidev device, so the sequence runs against the kernel on the box
// and against a stand-in in the tests.
class SpiSetupRequests {
public:
    enum Request { WriteMode, ReadMode, WriteBits, ReadBits, WriteSpeed, ReadSpeed };
    virtual ~SpiSetupRequests() = default;
    // Carries out one request; a read stores into *value. False when the driver refuses it.
    virtual bool request(Request r, uint32_t* value) = 0;
};

// Sets the mode and reads it back, sets the word size and reads it back, sets the maximum clock
// and reads it back. The chips work with whatever the driver settles on, so refusals and
// read-backs that differ never make the device unusable: they come back as one line of text
// (empty when everything is as asked) for the caller to log.
std::string setUpSpi(SpiSetupRequests& io, uint8_t mode, uint8_t bitsPerWord, uint32_t speedHz);

}
