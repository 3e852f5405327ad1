#include "params/tool_records.h"

void ToolRecords::write(uint32_t m, uint32_t offset, const uint8_t* data, uint32_t n)
{
    if (m >= kModeCount || offset > kModeRecordSize || n > kModeRecordSize - offset)
        return;
    std::unique_ptr<Record>& r = records_[m];
    if (!r)
        r = std::make_unique<Record>();
    for (uint32_t i = 0; i < n; ++i) {
        r->bytes[offset + i] = data[i];
        r->written.set(offset + i);
    }
}

uint8_t ToolRecords::byte(uint32_t m, uint32_t i, uint8_t applied) const
{
    const Record* r = m < kModeCount && i < kModeRecordSize ? records_[m].get() : nullptr;
    return r && r->written[i] ? r->bytes[i] : applied;
}

void ToolRecords::overlay(uint32_t m, uint8_t* record) const
{
    const Record* r = m < kModeCount ? records_[m].get() : nullptr;
    for (uint32_t i = 0; r && i < kModeRecordSize; ++i)
        if (r->written[i])
            record[i] = r->bytes[i];
}
