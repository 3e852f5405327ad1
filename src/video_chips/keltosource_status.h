#pragma once
#include "params/block_layout.h"
#include "params/vyrrampara.h"

#include <cstdint>

// Status bytes of the controller register image that the input side keeps (chip presence, EDID and
// bus status, clock status) and the request bytes it serves (registers 0 and 160). Other threads
// read and write them byte-wise, so every access is a single atomic byte operation.
namespace keltosource_status {

constexpr uint32_t ChipPresence = regimage::kChipPresence;
constexpr uint32_t EdidStatus = regimage::kEdidStatus;
constexpr uint32_t ClockStatus = regimage::kClockStatus;

inline uint8_t* byteAt(uint32_t offset)
{
    VyrRamPara* store = VyrRamPara::p_vyrrampara_config;
    return store ? store->image + offset : nullptr;
}
inline void set(uint32_t offset, uint8_t mask, bool on)
{
    if (uint8_t* b = byteAt(offset)) {
        if (on)
            __atomic_fetch_or(b, mask, __ATOMIC_RELAXED);
        else
            __atomic_fetch_and(b, uint8_t(~mask), __ATOMIC_RELAXED);
    }
}
inline bool test(uint32_t offset, uint8_t mask)
{
    const uint8_t* b = byteAt(offset);
    return b && (__atomic_load_n(b, __ATOMIC_RELAXED) & mask) != 0;
}
// Takes a request byte and leaves 0 in its place.
inline uint8_t take(uint32_t offset)
{
    uint8_t* b = byteAt(offset);
    return b ? __atomic_exchange_n(b, uint8_t(0), __ATOMIC_RELAXED) : 0;
}

}
