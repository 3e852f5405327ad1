// Every command group behind the transports: the input is the byte stream of a TCP connection, each
// frame it carries is served by the dispatcher with the managers up on the simulated board, and its
// reply is built as the transport builds it. Frames alternate between a TCP, a UDP and a serial peer.
// Beside the sanitizers, the address space's ranges are checked as the protocol states them: a RAM
// write or read answers status 0 exactly when its range lies inside the window it addresses (an
// FPGA image of 1024 bytes, the parameter block, a user-mode record's 4096-byte window, the 256-byte
// 4G window) and, on the FPGA side, lands in RAM the addressed FPGA has and reaches no bank of an
// FPGA that takes none (FPGA 1, not fitted; FPGA 0 held in reset or not up); a register
// number of 170 or more is refused. A bound that lets one byte too many through is seen even where
// the byte beyond lands in a neighbouring image the sanitizers accept.
#include "fuzz_board.h"
#include "fuzz_requests.h"
#include "in_process_request.h"

#include "comm/message_deal.h"
#include "comm/protocol_phy.h"
#include "comm/serial_transport.h"
#include "fpga/fpga_manage.h"

#include <vector>

namespace {

constexpr uint32_t kImage = 1024, kBlock = 4096, kRecordWindow = 4096, kRecords = 16, kRegisters = 170;
constexpr uint64_t k4G = 0xA1000000, k4GEnd = 0xA1000100;

uint32_t u32(const uint8_t* p) { return p[0] | p[1] << 8 | p[2] << 16 | uint32_t(p[3]) << 24; }

// Whether a request of groups 0x60, 0x61, 0xA0 and 0xA1 lies in range: 1 yes, 0 no, -1 not stated
// here (other groups, controller reads, which answer every address).
int inRange(const uint8_t* body, uint32_t length, uint32_t capacity)
{
    const uint8_t group = body[9];
    if (group == 0xA0 || group == 0xA1)
        return length >= (group == 0xA0 ? 14u : 11u) ? body[10] < kRegisters : -1;
    if ((group != 0x60 && group != 0x61) || length < (group == 0x60 ? 18u : 16u))
        return -1;
    const uint32_t a = u32(body + 10), n = body[14] | body[15] << 8;
    const bool controller = uint16_t((body[0] | body[1] << 8) - 0xF100) < 2;
    const uint32_t area = a >> 24 & 0x0F;
    if (group == 0x61) {
        if (11ull + n + 1 > capacity)
            return 0;
        if (controller)
            return -1;
        const bool extension = (area == 0 && (a & 0x800)) || area == 6;
        return (a & 0xFFF) - (area == 0 && extension ? 0x800 : 0) + uint64_t(n) <= kImage;
    }
    if (n > length - 18)
        return 0;
    if (controller) {
        if (a < kBlock)
            return uint64_t(a) + n <= kBlock;
        if (a < 0x11000)
            return (a >> 12) >= 1 && (a >> 12) <= kRecords && (a & 0xFFF) + n <= kRecordWindow;
        return a >= k4G && a + uint64_t(n) <= k4GEnd;
    }
    // The extension (area 0 from 0x800) and the command area (5, 6) are FPGA 0's alone; area 1's
    // port 0 and areas 3 and 7-15 hold no RAM.
    const int which = body[6] == 0 && body[7] == 2 ? 1 : 0;
    const bool extension = area == 0 && (a & 0xFFF800);
    if ((which != 0 && (extension || area == 5 || area == 6)) || area == 3 || area >= 7 ||
        (area == 1 && (a >> 12 & 0x0F) == 0))
        return 0;
    if (extension)
        return (a & 0xFFFFFF) - 0x800 + uint64_t(n) <= kImage;
    // A write that would reach a bank is refused wherever it lies while the FPGA takes none: FPGA 1
    // is not fitted, and FPGA 0 drops them held in reset and has its start rewrite them until up.
    fpga_manage* fpga = fpga_manage::p_fpga_manage;
    const bool takesBanks = fpga && fpga->fpgaUp(which) && !fpga->heldInReset(which);
    if (!takesBanks && (area == 0 || area == 1 || area == 2 || area == 4))
        return 0;
    return (a & (area == 1 || area == 2 ? 0xFF0FFF : 0xFFFFFF)) + uint64_t(n) <= kImage;
}

// The answer to a request in range (1) or out of it (0).
void checkRange(int expected, uint8_t group, const uint8_t* reply, uint32_t r)
{
    if (group == 0xA1) { // refused: byte 11 := 1, byte 10 keeps the number
        if (!expected && (r != 2 || reply[11] != 1))
            FuzzBoard::fail("a register number of 170 or more was read");
        return;
    }
    if (group == 0xA0 && expected)
        return; // a controller register without an action answers status 1 too
    const bool taken = r >= 1 && reply[10] == 0;
    if (taken != bool(expected))
        FuzzBoard::fail("group %02X: a range %s was %s", group, expected ? "inside its window" : "past its window's end",
                        taken ? "taken" : "refused");
}

}

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
        const uint64_t peer = kind == 0 ? request_peer::tcp(0x7F000001, 1) : kind == 1 ? request_peer::udp(0x7F000001, 4000)
                                                                           : request_peer::serial(1);
        const uint32_t capacity = kind == 2 ? SerialTransport::kRecordSize : kMessageBufferSize;
        if (!protocol_phy::take_request(buffer.data(), capacity, stream.body(), length))
            continue;
        const int expected = inRange(buffer.data(), length, capacity);
        const uint8_t group = buffer[9];
        const uint32_t r = runInProcess(handler, buffer.data(), length, capacity, peer);
        if (r != 0 && uint64_t(r) + 11 > capacity)
            FuzzBoard::fail("a reply of %u bytes beyond the %u the transport gave", r, capacity);
        if (expected >= 0)
            checkRange(expected, group, buffer.data(), r);
        if (r != 0)
            protocol_phy::build_reply(buffer.data(), r, capacity, 2 * capacity);
        FuzzBoard::settle();
    }
    return 0;
}
