#include "platform/mem_window.h"
#include "platform/sim/sim_board.h"

#include <atomic>
#include <vector>

// The SoC register space of the simulated board is plain memory shared by every window, so what
// one part of the program writes, another (or a test) reads back.
namespace platform::Sim {
namespace {

constexpr uint32_t SpaceBase = 0x1F000000;
constexpr uint32_t SpaceSize = 0x2B0000;

class RegisterSpace {
public:
    RegisterSpace() : bytes_(SpaceSize, 0)
    {
        store16(0x400C, 0x0100);
        store16(0x4058, 0x5A31);
        store16(0x405C, 0x7C02);
        store16(0x4060, 0x0E96);
    }
    bool covers(uint64_t physical, uint64_t length) const
    {
        return physical >= SpaceBase && physical + length <= uint64_t(SpaceBase) + SpaceSize;
    }
    volatile uint8_t* at(uint32_t physical) { return bytes_.data() + (physical - SpaceBase); }
    void store16(uint32_t offset, uint16_t value)
    {
        *reinterpret_cast<volatile uint16_t*>(bytes_.data() + offset) = value;
    }

    std::atomic<bool> openFails{false};
    std::atomic<bool> msysFails{false};

private:
    std::vector<uint8_t> bytes_;
};

RegisterSpace& space()
{
    static RegisterSpace s;
    return s;
}

class SimMemWindow : public MemWindow {
public:
    SimMemWindow(volatile uint8_t* base, size_t length) : base_(base), length_(length) {}
    volatile uint8_t* data() override { return base_; }
    size_t size() const override { return length_; }

private:
    volatile uint8_t* base_;
    size_t length_;
};

}

void MemSim::setIdWords(uint16_t u, uint16_t v, uint16_t w)
{
    space().store16(0x4058, u);
    space().store16(0x405C, v);
    space().store16(0x4060, w);
}

void MemSim::setOpenFails(bool fail)
{
    space().openFails = fail;
}

void MemSim::setMsysFails(bool fail)
{
    space().msysFails = fail;
}

// The emulated chips read their lines at every transfer: one look-up of the space per access.
uint16_t MemSim::read16(uint32_t physical)
{
    RegisterSpace& s = space();
    if (physical % 2 != 0 || !s.covers(physical, 2))
        return 0;
    // Program threads write the same words through MemWindow's relaxed atomics.
    return __atomic_load_n(reinterpret_cast<uint16_t*>(const_cast<uint8_t*>(s.at(physical))), __ATOMIC_RELAXED);
}

void MemSim::write16(uint32_t physical, uint16_t value)
{
    RegisterSpace& s = space();
    if (physical % 2 == 0 && s.covers(physical, 2))
        __atomic_store_n(reinterpret_cast<uint16_t*>(const_cast<uint8_t*>(s.at(physical))), value, __ATOMIC_RELAXED);
}

MemSim& memSim()
{
    static MemSim face;
    return face;
}

}

namespace platform {

std::unique_ptr<MemWindow> openMemWindow(uint32_t physical, size_t length)
{
    Sim::RegisterSpace& s = Sim::space();
    if (s.openFails || length == 0 || !s.covers(physical, length))
        return nullptr;
    return std::make_unique<Sim::SimMemWindow>(s.at(physical), length);
}

// The simulated driver hands out the whole board window, which holds the GPIO and chip-select
// words the emulated chips read.
bool msysRequest(uint32_t* physical, uint32_t* length)
{
    if (Sim::space().msysFails)
        return false;
    if (physical)
        *physical = Sim::SpaceBase;
    if (length)
        *length = Sim::SpaceSize;
    return true;
}

}
