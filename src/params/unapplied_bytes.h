#pragma once
#include "params/block_layout.h"

#include <bitset>
#include <cstdint>

// Block bytes a tool has written (group 0x60) that no apply of the block (register 11) has taken
// yet, with what the box had applied under each. Another writer's refresh must neither save them
// nor take them as the box's own. A byte the box sets again, or that another writer has changed
// since, is the box's again. Guarded by the scaler hand-over, like the block.
class UnappliedBytes {
public:
    // Before a tool's bytes data[0, n) are copied to `block` at `offset`.
    void note(const uint8_t* block, uint32_t offset, const uint8_t* data, uint32_t n);
    // The box has set block bytes [offset, offset + n): they are its own, whatever a tool left there.
    void take(uint32_t offset, uint32_t n);
    // The box's value of byte i, when a tool's byte waits there (the tool's stays in the block).
    bool setUnder(const uint8_t* block, uint32_t i, uint8_t value);
    void clear(); // a tool's apply took them all
    // `copy`, a copy of the block, with every tool byte still in it put back to what it held.
    void putBack(uint8_t* copy) const;
    // Byte i of `block` as the box set it (without the tool byte still in it).
    uint8_t boxByte(const uint8_t* block, uint32_t i) const { return toolByte(block, i) ? before_[i] : block[i]; }
    // Byte i of `block` is a tool's, whatever the box held under it.
    bool toolByte(const uint8_t* block, uint32_t i) const { return written_[i] && block[i] == wrote_[i]; }

private:
    bool any_ = false;
    std::bitset<kBlockSize> written_;
    uint8_t before_[kBlockSize] = {};
    uint8_t wrote_[kBlockSize] = {};
};
