// The frame decoder (FrameStream) as a TCP, UDP or serial peer feeds it: the stream cut into reads
// of a size the first byte chooses, each frame that comes out encoded again and decoded back to the
// same body.
#include "fuzz_board.h"

#include "comm/protocol_phy.h"

#include <cstring>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0)
        return 0;
    const uint32_t chunk = 1u + data[0] % 64;
    ++data;
    --size;
    protocol_phy phy;
    for (uint32_t capacity : {16u, 4096u}) {
        FrameStream stream(capacity);
        for (size_t at = 0; at < size;) {
            const uint32_t n = uint32_t(std::min<size_t>(chunk, size - at));
            uint32_t used = 0;
            while (used < n) {
                bool complete = false;
                const uint32_t took = stream.feed(data + at + used, n - used, &complete);
                if (took == 0 && !complete) // it would spin the transport
                    FuzzBoard::fail("the decoder took nothing and finished nothing");
                used += took;
                if (!complete)
                    continue;
                if (stream.size() > capacity)
                    FuzzBoard::fail("a frame of %u bytes from a decoder of capacity %u", stream.size(), capacity);
                const std::vector<uint8_t> body(stream.body(), stream.body() + stream.size());
                protocol_phy::frame_valid(body.data(), uint32_t(body.size()));
                std::vector<uint8_t> wire(protocol_phy::encoded_max(uint32_t(body.size())));
                const uint32_t w = phy.data_re_transf_meaning(0, wire.data(), body.data(), uint32_t(body.size()), nullptr);
                if (w > wire.size() || w != protocol_phy::encoded_size(body.data(), uint32_t(body.size())))
                    FuzzBoard::fail("a frame encoded to %u bytes, not the size the encoder announces", w);
                std::vector<uint8_t> back(w);
                uint8_t done = 0;
                const uint32_t b = phy.data_transf_meaning(0, wire.data(), back.data(), w, &done);
                if (!done || b != body.size() || (b && memcmp(back.data(), body.data(), b) != 0))
                    FuzzBoard::fail("a decoded frame does not survive encoding and decoding again");
            }
            at += n;
        }
    }
    // The stateless decoder, which the encoder's round trip above relies on, over the whole input.
    std::vector<uint8_t> out(size + 1);
    uint8_t done = 0;
    if (phy.data_transf_meaning(0, data, out.data(), uint32_t(size), &done) > size)
        FuzzBoard::fail("the stateless decoder wrote more than it read");
    return 0;
}
