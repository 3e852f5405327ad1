#include "platform/mem_window.h"

// Registers are accessed with one access of their own width, as the SoC requires; both the box and
// the host are little-endian.
namespace platform {

uint16_t MemWindow::read16(size_t offset)
{
    if (offset % 2 != 0 || offset + 2 > size())
        return 0;
    return *reinterpret_cast<volatile uint16_t*>(data() + offset);
}

void MemWindow::write16(size_t offset, uint16_t value)
{
    if (offset % 2 != 0 || offset + 2 > size())
        return;
    *reinterpret_cast<volatile uint16_t*>(data() + offset) = value;
}

uint32_t MemWindow::read32(size_t offset)
{
    if (offset % 4 != 0 || offset + 4 > size())
        return 0;
    return *reinterpret_cast<volatile uint32_t*>(data() + offset);
}

void MemWindow::write32(size_t offset, uint32_t value)
{
    if (offset % 4 != 0 || offset + 4 > size())
        return;
    *reinterpret_cast<volatile uint32_t*>(data() + offset) = value;
}

}
