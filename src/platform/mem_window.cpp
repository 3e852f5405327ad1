#include "platform/mem_window.h"

// Registers are accessed with one access of their own width, as the SoC requires; both the box and
// the host are little-endian. The scaler and FPGA threads both write the select words, so every
// access is a relaxed atomic of the register's width: still one bus access on the box, and no data
// race for the compiler or ThreadSanitizer.
namespace platform {

namespace {
template <typename T>
T* at(MemWindow& w, size_t offset)
{
    return reinterpret_cast<T*>(const_cast<uint8_t*>(w.data() + offset));
}
}

uint16_t MemWindow::read16(size_t offset)
{
    if (offset % 2 != 0 || offset > size() || size() - offset < 2)
        return 0;
    return __atomic_load_n(at<uint16_t>(*this, offset), __ATOMIC_RELAXED);
}

void MemWindow::write16(size_t offset, uint16_t value)
{
    if (offset % 2 != 0 || offset > size() || size() - offset < 2)
        return;
    __atomic_store_n(at<uint16_t>(*this, offset), value, __ATOMIC_RELAXED);
}

uint32_t MemWindow::read32(size_t offset)
{
    if (offset % 4 != 0 || offset > size() || size() - offset < 4)
        return 0;
    return __atomic_load_n(at<uint32_t>(*this, offset), __ATOMIC_RELAXED);
}

void MemWindow::write32(size_t offset, uint32_t value)
{
    if (offset % 4 != 0 || offset > size() || size() - offset < 4)
        return;
    __atomic_store_n(at<uint32_t>(*this, offset), value, __ATOMIC_RELAXED);
}

}
