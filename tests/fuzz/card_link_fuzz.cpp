// The receiving-card link as the FPGA returns it: raw replies loaded into a pair's RX buffer and
// read by the interrupt service a transport runs, PC frames passed through to the cards with a
// transport's card wait taking their answer, and worker passes (card search, merge time-out) in
// between. Pieces of the input are cut at "#RX#"; the first byte of each picks what it is:
//   byte % 3 == 0  a PC frame for the cards (its check byte set, as a transport passes only those)
//   byte % 3 == 1  a reply on port byte / 3 % 16 (cut to the 1024-byte RX buffer), its last byte
//                  set to the check byte when byte / 48 is odd (as a card sends it: a fuzzer would
//                  find one in 256)
//   byte % 3 == 2  the next byte's number of ticks passing, then a worker pass
// The link's own rules are checked on what it accepted: a reply under 11 bytes or with a bad check
// byte is counted in register 85 and changes nothing; a reply under 15 bytes sets no card count,
// and a search reply sets only a port of its own pair; a PC frame reaches only the port it names;
// an answer handed to the transport is a whole frame with a good check byte.
#include "fuzz_fpga.h"

#include "base/bytes.h"
#include "base/posix_lock.h"
#include "base/utils.h"
#include "comm/card_wait.h"
#include "comm/protocol_phy.h"

#include <cstring>
#include <set>
#include <vector>

namespace {
using platform::Sim::fpgaChip;
using Bytes = std::vector<uint8_t>;

constexpr uint8_t kRefusedRegister = 85;
constexpr uint32_t kReplyMin = 11, kCountReplyMin = 15;

fpga_manage* fpga;
protocol_phy phy;
CardWait* wait;
Bytes asked;           // the PC frame whose answer is awaited
bool onlyCards = true; // no reply of the input's own has come since it was passed

void serveInterrupt()
{
    PosixLock lock(fpga->pass_mutex);
    fpga->reg_IRQ_Dealwith(0, 0);
}

// Replies the network still holds are served first, so the next one read is the input's own.
void drain()
{
    for (int round = 0; round < 16; ++round) {
        size_t pending = 0;
        for (int pair = 0; pair < platform::Sim::FpgaChip::Pairs; ++pair)
            pending += fpgaChip().pendingReplies(pair);
        if (pending == 0)
            return;
        serveInterrupt();
    }
    FuzzBoard::fail("replies stay in the RX buffers");
}

std::vector<uint16_t> counts()
{
    std::vector<uint16_t> c(fpga_manage::kPorts);
    for (int p = 0; p < fpga_manage::kPorts; ++p)
        c[size_t(p)] = fpga->get_port_card_num(p);
    return c;
}

bool checkOk(const uint8_t* b, size_t n)
{
    return n >= 1 && uint8_t(Utils::BCC(b, uint32_t(n - 1))) == b[n - 1];
}

// The transport's side: an answer that came is a whole frame of the cards, sent on its way.
void takeAnswer()
{
    CardWait::Destination to;
    Bytes wire;
    if (wait->poll(&to, &wire) != CardWait::Result::Answered)
        return;
    FrameStream stream(fpga_manage::kPacketMax);
    bool complete = false;
    const uint32_t used = stream.feed(wire.data(), uint32_t(wire.size()), &complete);
    if (!complete || used != wire.size())
        FuzzBoard::fail("an answer is not one whole frame");
    if (stream.size() < kReplyMin || stream.size() > fpga_manage::kPacketMax || !checkOk(stream.body(), stream.size()))
        FuzzBoard::fail("an answer handed to the transport is short, long or has a bad check byte");
    const uint8_t* a = stream.body();
    if (a[7] != 255 && (a[1] & 0x30) != 0)
        FuzzBoard::fail("a single port's answer keeps the port bits of byte 1");
    // The cards echo the head bytes the link leaves alone: an answer to another frame has others.
    if (onlyCards && !asked.empty() && (a[4] != asked[4] || a[5] != asked[5] || a[6] != asked[6] || a[8] != asked[8] || a[9] != asked[9]))
        FuzzBoard::fail("the answer handed to the transport is not the answer to the frame it passed");
    asked.clear();
}

// The ports a PC frame is for: selector 0 names one in the port byte (0 for port 0), selectors
// 1, 3 and 255 name one in it or, with 0 there, in bits 12-13 of the destination; port byte 255
// with those selectors is every linked port with cards. Anything else goes nowhere.
std::set<int> portsOf(const Bytes& f)
{
    const uint8_t selector = f[6], portByte = f[7];
    std::set<int> ports;
    if (selector == 0) {
        if (portByte <= fpga_manage::kPorts)
            ports.insert(portByte == 0 ? 0 : portByte - 1);
    } else if (selector == 1 || selector == 3 || selector == 255) {
        if (portByte == 255) {
            const platform::Sim::LedNetwork net = fpgaChip().network();
            for (int p = 0; p < fpga_manage::kPorts; ++p)
                if (net.port(p).linked && fpga->get_port_card_num(p) > 0)
                    ports.insert(p);
        } else if (portByte >= 1 && portByte <= fpga_manage::kPorts) {
            ports.insert(portByte - 1);
        } else if (portByte == 0) {
            ports.insert(f[1] >> 4 & 3);
        }
    }
    return ports;
}

void passFrame(Bytes f)
{
    if (f.size() < kReplyMin)
        return; // a transport drops these
    f.back() = uint8_t(Utils::BCC(f.data(), uint32_t(f.size() - 1)));
    drain();
    takeAnswer();
    fpgaChip().clearPackets();
    wait->pass(3, f.data(), uint32_t(f.size()), CardWait::Destination{});
    asked = f;
    onlyCards = true;
    const std::set<int> want = f.size() < fpga_manage::kPacketMax ? portsOf(f) : std::set<int>{};
    for (int p = 0; p < fpga_manage::kPorts; ++p) {
        const std::vector<Bytes> sent = fpgaChip().packets(p);
        if (sent.empty())
            continue;
        if (!want.count(p) || sent.size() != 1)
            FuzzBoard::fail("a PC frame reached a port it does not name");
        const Bytes& s = sent[0];
        if (s.size() != f.size() || !checkOk(s.data(), s.size()) || s[0] != f[0] || (s[1] & 0xCF) != (f[1] & 0xCF) ||
            !std::equal(s.begin() + 2, s.end() - 1, f.begin() + 2))
            FuzzBoard::fail("a PC frame reached its port changed beyond its port bits");
    }
    for (int round = 0; round < 4; ++round)
        takeAnswer();
}

void reply(int port, const Bytes& r)
{
    if (r.empty())
        return; // the FPGA loads no empty reply
    drain();
    const std::vector<uint16_t> before = counts();
    const uint8_t refused = fpga->reg_cached(0, kRefusedRegister);
    fpga->mf_reply_flag = 0;
    onlyCards = false;
    fpgaChip().queueReply(port, r);
    serveInterrupt();
    const size_t n = r.size();
    const bool good = n >= kReplyMin && checkOk(r.data(), n);
    if (uint8_t(fpga->reg_cached(0, kRefusedRegister) - refused) != (good ? 0 : 1))
        FuzzBoard::fail(good ? "a good reply was counted as refused" : "a short reply or one with a bad check byte was not refused");
    const std::vector<uint16_t> after = counts();
    for (int p = 0; p < fpga_manage::kPorts; ++p) {
        if (after[size_t(p)] == before[size_t(p)])
            continue;
        if (!good || n < kCountReplyMin)
            FuzzBoard::fail("a refused or short reply changed a card count");
        if (p / 2 != port / 2)
            FuzzBoard::fail("a reply changed the card count of another pair's port");
        if (after[size_t(p)] != getU16(r.data() + 11))
            FuzzBoard::fail("a card count is not the one the reply carries");
    }
    if (fpga->mf_reply_flag) {
        if (!good || fpga->mf_raw_reply != r)
            FuzzBoard::fail("the multifunction reply kept is not the reply read");
        const size_t kept = std::min<size_t>(n - 1 - 10, sizeof fpga->mf_reply);
        for (size_t i = 0; i < sizeof fpga->mf_reply; ++i)
            if (fpga->mf_reply[i] != (i < kept ? r[10 + i] : 0))
                FuzzBoard::fail("the multifunction reply's data is not bytes 10 on of the reply");
    }
    takeAnswer();
}

bool setUp()
{
    fpga = FuzzFpga::up([] {
        // Every port linked, so a count set on any port stays; cards on both rows of pairs, on
        // both ports of one pair, a multifunction card.
        for (int p = 0; p < fpga_manage::kPorts; ++p)
            fpgaChip().setCards(p, 0);
        fpgaChip().setCards(0, 2);
        fpgaChip().setCards(1, 4);
        fpgaChip().setCards(5, 3);
        fpgaChip().setCards(9, 1);
        fpgaChip().setCards(12, 2);
        fpgaChip().setMultifunction(12, true);
    });
    wait = new CardWait;
    // As the UDP transport hands its card wait to the FPGA manager.
    fpga_manage::set_reply_sink(3, [](const uint8_t* body, uint32_t length) { return wait->queue(phy, body, length); });
    return true;
}
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static bool ready = setUp();
    (void)ready;
    for (const QByteArray& piece : FuzzBoard::split(data, size, "#RX#")) {
        if (piece.isEmpty())
            continue;
        const uint8_t op = uint8_t(piece[0]);
        const Bytes rest(piece.begin() + 1, piece.end());
        switch (op % 3) {
        case 0:
            passFrame(rest);
            break;
        case 1: {
            Bytes r = rest;
            if (r.size() > fpga_manage::kPacketMax)
                r.resize(fpga_manage::kPacketMax); // the FPGA's RX buffer
            if (op / 48 % 2 && !r.empty())
                r.back() = uint8_t(Utils::BCC(r.data(), uint32_t(r.size() - 1)));
            reply(op / 3 % 16, r);
            break;
        }
        default:
            // The ticks pass at once, as when the worker slept: one pass then does what is due
            // (a search, a merge's time-out).
            G_timeTicks.fetch_add(rest.empty() ? 1u : rest[0]);
            fpga->runOnce();
            takeAnswer();
            break;
        }
    }
    wait->end();
    asked.clear();
    drain();
    FuzzBoard::settle();
    return 0;
}
