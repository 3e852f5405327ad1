#pragma once
#include "params/block_layout.h"

#include <bitset>
#include <cstdint>

// Block bytes a tool has written (group 0x60) that no apply of the block (register 11) has taken
// yet. Another writer's refresh must neither save them nor take them as the box's own, so each
// keeps what it held before the tool wrote it; a byte another writer has changed since is that
// writer's again. Guarded by the scaler hand-over, like the block.
class UnappliedBytes {
public:
    // Before a tool's bytes data[0, n) are copied to `block` at `offset`.
    void note(const uint8_t* block, uint32_t offset, const uint8_t* data, uint32_t n);
    void clear(); // a tool's apply took them all
    // `copy`, a copy of the block, with every tool byte still in it put back to what it held.
    void putBack(uint8_t* copy) const;
    // The u16 at `offset` of `block` as the box set it (without the tool bytes still in it).
    uint16_t boxWord(const uint8_t* block, uint32_t offset) const;

private:
    bool toolByte(const uint8_t* block, uint32_t i) const { return written_[i] && block[i] == wrote_[i]; }
    bool any_ = false;
    std::bitset<kBlockSize> written_;
    uint8_t before_[kBlockSize] = {};
    uint8_t wrote_[kBlockSize] = {};
};
