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
// The "/dev/msys" request that yields the GPIO window's physical base; 0 on failure.
uint32_t msysGpioBase();
}
