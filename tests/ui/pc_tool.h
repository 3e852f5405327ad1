#pragma once
// A PC tool beside the panel: its block writes (group 0x60) and its apply (register 11 bit 1) run
// through the program's dispatcher, as a transport's thread would run them.
#include "comm/message_deal.h"

#include <cstdint>
#include <vector>

class PcTool {
public:
    // Reply status of a word written to the block, then applied.
    uint8_t set16(uint32_t offset, uint16_t value)
    {
        const uint8_t written = send(0x60, {uint8_t(offset), uint8_t(offset >> 8), 0, 0, 2, 0, 0, 0, uint8_t(value),
                                            uint8_t(value >> 8)});
        return written != 0 ? written : send(0xA0, {11, 0x02, 0, 0});
    }

private:
    uint8_t send(uint8_t group, const std::vector<uint8_t>& payload)
    {
        buf_.assign(kMessageBufferSize, 0);
        const uint8_t head[10] = {0x00, 0xF1, 0x10, 0xF0, 0, 0, 0, 0, 0, group};
        std::copy(head, head + 10, buf_.begin());
        std::copy(payload.begin(), payload.end(), buf_.begin() + 10);
        handler_.message_group_deal(buf_.data(), uint32_t(10 + payload.size()), kMessageBufferSize);
        return buf_[10];
    }
    message_deal handler_;
    std::vector<uint8_t> buf_;
};
