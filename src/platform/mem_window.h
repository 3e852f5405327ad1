#pragma once
#include <cstddef>
#include <cstdint>
#include <memory>

namespace platform {
// A window of the SoC's physical register space ("/dev/mem" mapped). Accesses are 16/32-bit
// little-endian at aligned byte offsets; misaligned or out-of-range accesses read 0 and write nothing.
class MemWindow {
public:
    virtual ~MemWindow() = default;
    virtual volatile uint8_t* data() = 0;
    virtual size_t size() const = 0;
    uint16_t read16(size_t offset);
    void write16(size_t offset, uint16_t value);
    uint32_t read32(size_t offset);
    void write32(size_t offset, uint32_t value);
};
// nullptr when "/dev/mem" cannot be opened or mapped.
std::unique_ptr<MemWindow> openMemWindow(uint32_t physical, size_t length);
// The "/dev/msys" window request: a record of five 32-bit words, word 0 = 0x4D530100 and
// word 4 = 20, passed with ioctl 0x5315; the driver answers the physical base of the board window
// in word 1 and its length in word 3. false when the node cannot be opened or the driver refuses.
bool msysRequest(uint32_t* physical, uint32_t* length);
}
