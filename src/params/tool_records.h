#pragma once
#include "params/block_layout.h"

#include <array>
#include <bitset>
#include <cstdint>
#include <memory>

// User-mode record bytes a tool has written (group 0x60 from 0x1000 on) that no register 11 bit 2
// has taken yet. Until then recalls, the panel and the files keep the records the box applied: a
// record marked deleted or half uploaded acts only at that apply. Guarded by the store's
// records_mutex, like the records.
class ToolRecords {
public:
    void write(uint32_t m, uint32_t offset, const uint8_t* data, uint32_t n);
    // Byte i of record m as the tool reads it back: its own write, else the box's.
    uint8_t byte(uint32_t m, uint32_t i, uint8_t applied) const;
    bool written(uint32_t m) const { return m < kModeCount && records_[m] != nullptr; }
    // `record`, the box's record m, with the tool's bytes over it.
    void overlay(uint32_t m, uint8_t* record) const;
    void clear() { records_ = {}; }

private:
    struct Record {
        uint8_t bytes[kModeRecordSize];
        std::bitset<kModeRecordSize> written;
    };
    std::array<std::unique_ptr<Record>, kModeCount> records_;
};
