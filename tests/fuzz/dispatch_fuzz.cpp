// Every command group behind the transports: the input is the byte stream of a TCP connection, each
// frame it carries is served by the dispatcher with the managers up on the simulated board, and its
// reply is built as the transport builds it. Frames alternate between a TCP, a UDP and a serial peer.
#include "fuzz_board.h"
#include "fuzz_requests.h"

#include "comm/message_deal.h"
#include "comm/protocol_phy.h"
#include "comm/serial_transport.h"

#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    message_deal& handler = FuzzRequests::dispatcher();
    static std::vector<uint8_t> buffer(kMessageBufferSize + 1);
    FrameStream stream(kMessageBufferSize);
    int frames = 0;
    for (size_t at = 0; at < size;) {
        bool complete = false;
        const uint32_t took = stream.feed(data + at, uint32_t(size - at), &complete);
        if (took == 0 && !complete)
            break;
        at += took;
        if (!complete || stream.size() < protocol_phy::kMinFrame)
            continue;
        // The last byte stands for the check byte, taken as right (the decoder target tries wrong
        // ones): a peer computes it, a fuzzer would find one in 256.
        const uint32_t length = stream.size() - 1;
        const int kind = frames++ % 3;
        const uint64_t peer = kind == 0 ? request_peer::tcp(1) : kind == 1 ? request_peer::udp(0x7F000001, 4000)
                                                                           : request_peer::serial(1);
        const uint32_t capacity = kind == 2 ? SerialTransport::kRecordSize : kMessageBufferSize;
        if (!protocol_phy::take_request(buffer.data(), capacity, stream.body(), length))
            continue;
        const uint32_t r = handler.message_group_deal(buffer.data(), length, capacity, peer);
        if (r != 0 && uint64_t(r) + 11 > capacity)
            FuzzBoard::fail("a reply of %u bytes beyond the %u the transport gave", r, capacity);
        if (r != 0)
            protocol_phy::build_reply(buffer.data(), r, capacity, 2 * capacity);
        FuzzBoard::settle();
    }
    return 0;
}
