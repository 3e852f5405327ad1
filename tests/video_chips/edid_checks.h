#pragma once
// A decoder of the tests' own for 256-byte EDIDs: header, per-block checksum, manufacturer letters.
#include <algorithm>
#include <array>
#include <cstdint>
#include <string>

namespace edid_checks {

inline bool headerOk(const std::array<uint8_t, 256>& t)
{
    return t[0] == 0 && t[7] == 0 && std::all_of(t.begin() + 1, t.begin() + 7, [](uint8_t b) { return b == 0xFF; });
}
// The sum of a 128-byte block, modulo 256: 0 when its check byte is right.
inline int blockSum(const std::array<uint8_t, 256>& t, int block)
{
    int sum = 0;
    for (int i = 0; i < 128; ++i)
        sum += t[size_t(128 * block + i)];
    return sum & 0xFF;
}
inline std::string maker(const std::array<uint8_t, 256>& t)
{
    const int id = t[8] << 8 | t[9];
    return {char('A' - 1 + ((id >> 10) & 31)), char('A' - 1 + ((id >> 5) & 31)), char('A' - 1 + (id & 31))};
}
inline bool valid(const std::array<uint8_t, 256>& t) { return headerOk(t) && blockSum(t, 0) == 0 && blockSum(t, 1) == 0; }

}
