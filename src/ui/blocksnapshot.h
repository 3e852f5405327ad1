#pragma once
#include "params/block_layout.h"

#include <cstdint>

class VyrRamPara;

// One consistent copy of the parameter block as the box applied it, and its shadow, for the GUI
// thread: a page shows what the box runs, not a PC tool's write waiting for its apply. The
// protocol and the pages write the block under the scaler hand-over lock, the input drivers their
// resolution records under the store's own mutex: the copy is taken under both. Never taken while
// either lock is held.
class BlockSnapshot {
public:
    explicit BlockSnapshot(VyrRamPara* store); // null store: valid() false, every byte 0
    bool valid() const { return valid_; }
    const uint8_t* block() const { return block_; }
    uint8_t u8(uint32_t offset) const { return block_[offset]; }
    uint16_t u16(uint32_t offset) const { return blk::get16(block_, offset); }
    // Bytes [offset, offset + size) differ from the shadow's (by default one 16-bit word).
    bool changed(uint32_t offset, uint32_t size = 2) const;
    // The audio word of the audio window (of window 1 when the audio window names none); bit 15 on.
    uint32_t audioField() const;
    bool audioOn() const { return (u16(audioField()) & 0x8000) != 0; }

private:
    uint8_t block_[kBlockSize];
    uint8_t shadow_[kBlockSize];
    bool valid_ = false;
};
