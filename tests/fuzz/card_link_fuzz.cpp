// The receiving-card link as the FPGA returns it: raw replies loaded into a pair's RX buffer and
// read by the interrupt service a transport runs, PC frames passed through to the cards with a
// transport's asker on the card link taking their answer, worker passes (card search, merge time-out) in
// between, and the smart mapping job laid out on the cards the search counted. Pieces of the input
// are cut at "#RX#"; the first byte of each picks what it is:
//   byte % 3 == 0  a PC frame for the cards (its check byte set, as a transport passes only those);
//                  with byte / 3 bit 0 the answers of the frame before are still in the FPGA when
//                  it is passed (late), with bit 1 the transport does not look for its answer yet
//   byte % 3 == 1  a reply on port byte / 3 % 16 (cut to the 1024-byte RX buffer), its last byte
//                  set to the check byte when byte / 48 is odd (as a card sends it: a fuzzer would
//                  find one in 256)
//   byte % 48 == 47 with 12 bytes or more: the smart mapping job, its quick set-up record those
//                  bytes (cabinet width, height, offsets, port, rows, columns, wiring type)
//   byte % 3 == 2  otherwise: the next byte's number of ticks passing, then a worker pass
// The link's own rules are checked on what it accepted: a reply under 11 bytes or with a bad check
// byte is counted in register 85 and changes nothing; a reply under 15 bytes sets no card count,
// and a search reply sets only a port of its own pair; a PC frame reaches exactly the ports it
// names, once each; an answer handed to the transport has a good check byte and fits a buffer, and
// the answer to the frame it passed; the mapping job gives each card of its port the place of its
// cabinet along the wiring, and places no card of a port with more cards than the wall has cabinets.
#include "fuzz_fpga.h"

#include "base/bytes.h"
#include "base/posix_lock.h"
#include "base/utils.h"
#include "fpga/card_link.h"
#include "fpga/fpga_jobs_block.h"

#include <algorithm>
#include <cstring>
#include <set>
#include <vector>

namespace {
using platform::Sim::fpgaChip;
using Bytes = std::vector<uint8_t>;

constexpr uint8_t kRefusedRegister = 85;
constexpr uint32_t kReplyMin = 11, kCountReplyMin = 15;

fpga_manage* fpga;
CardLink::Asker* wait;
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

// The transport's side: an answer that came is a frame of the cards, sent on its way.
void takeAnswer()
{
    Bytes answer;
    if (wait->poll(&answer) != CardLink::Result::Answered)
        return;
    if (answer.size() < kReplyMin || answer.size() > fpga_manage::kPacketMax || !checkOk(answer.data(), answer.size()))
        FuzzBoard::fail("an answer handed to the transport is short, long or has a bad check byte");
    const uint8_t* a = answer.data();
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

// late: the answers to the frame before stay in the FPGA, for the card link to drop as it passes
// this one; unpolled: this frame's answers stay there too, for the next piece to meet.
void passFrame(Bytes f, bool late, bool unpolled)
{
    if (f.size() < kReplyMin)
        return; // a transport drops these
    f.back() = uint8_t(Utils::BCC(f.data(), uint32_t(f.size() - 1)));
    if (!late) {
        drain();
        takeAnswer();
    }
    fpgaChip().clearPackets();
    wait->pass(f.data(), uint32_t(f.size()));
    asked = f;
    onlyCards = true;
    const std::set<int> want = f.size() < fpga_manage::kPacketMax ? portsOf(f) : std::set<int>{};
    for (int p = 0; p < fpga_manage::kPorts; ++p) {
        const std::vector<Bytes> sent = fpgaChip().packets(p);
        const size_t named = want.count(p);
        if (sent.size() != named) {
            if (named == 0)
                FuzzBoard::fail("a PC frame reached port %d, which it does not name", p);
            if (sent.empty())
                FuzzBoard::fail("a PC frame did not reach port %d, which it names", p);
            FuzzBoard::fail("a PC frame reached port %d %zu times", p, sent.size());
        }
        if (sent.empty())
            continue;
        const Bytes& s = sent[0];
        if (s.size() != f.size() || !checkOk(s.data(), s.size()) || s[0] != f[0] || (s[1] & 0xCF) != (f[1] & 0xCF) ||
            !std::equal(s.begin() + 2, s.end() - 1, f.begin() + 2))
            FuzzBoard::fail("a PC frame reached its port changed beyond its port bits");
    }
    if (!unpolled)
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

// The smart mapping's walks, as the wiring pictures run: lines of cabinets (rows, or columns),
// the first line from the bottom (rows) or the right (columns) when fromEnd, the first line's
// cabinets from the right (rows) or bottom (columns) when firstReversed, every other line back
// the other way when snaking.
struct Walk {
    bool rows, fromEnd, firstReversed, snaking;
};
// Type 12 has no picture of its own: the box walks it as type 15.
constexpr Walk kWalks[17] = {{},
    {true, true, true, true}, {true, true, false, true}, {true, false, true, true}, {true, false, false, true},
    {false, true, true, true}, {false, true, false, true}, {false, false, false, true}, {false, false, true, true},
    {true, true, true, false}, {true, false, false, false}, {true, true, false, false}, {false, false, true, false},
    {false, true, true, false}, {false, false, false, false}, {false, false, true, false}, {false, true, false, false}};

// The column and row (row 0 at the top) of the cabinet that card `index` sits in, cabinet by
// cabinet along the walk (a card within the wall's cabinets).
void cabinetOf(uint32_t index, const Walk& w, int rows, int columns, int* column, int* row)
{
    const int lines = w.rows ? rows : columns, along = w.rows ? columns : rows;
    uint32_t n = 0;
    for (int line = 0; line < lines; ++line) {
        const bool reversed = w.firstReversed != (w.snaking && line % 2 == 1);
        for (int k = 0; k < along; ++k, ++n) {
            if (n != index)
                continue;
            const int across = w.fromEnd ? lines - 1 - line : line, at = reversed ? along - 1 - k : k;
            *column = w.rows ? at : across;
            *row = w.rows ? across : at;
            return;
        }
    }
}

constexpr size_t kLayoutBytes = sizeof line_type;
constexpr int kMappingPasses = 32;       // start, end and the first 8 cards; the rest is abandoned
constexpr uint32_t kPassTicks = 1201;    // beyond each wait of the job, so a pass never idles
constexpr uint32_t kPlaceAddress = 0x180; // the card RAM that holds its place

// Job 1 with the input's quick set-up record, on the cards its port has by the last search.
void smartMapping(const Bytes& layout)
{
    drain();
    takeAnswer();
    for (size_t i = 0; i < kLayoutBytes; ++i)
        line_type[i] = layout[i];
    const uint16_t width = getU16(&layout[0]), height = getU16(&layout[2]), dx = getU16(&layout[4]), dy = getU16(&layout[6]);
    const int port = layout[8], rows = layout[9], columns = layout[10], type = layout[11];
    const bool wall = port < fpga_manage::kPorts && rows > 0 && columns > 0 && type >= 1 && type <= 16;
    const uint16_t cards = wall ? fpga->get_port_card_num(port) : 0;
    fpgaChip().clearPackets();
    JobBlock::set(JobBlock::Step, 0);
    JobBlock::set(JobBlock::Job, 1);
    for (int pass = 0; pass < kMappingPasses && JobBlock::get(JobBlock::Job) != 0; ++pass) {
        G_timeTicks.fetch_add(kPassTicks);
        fpga->runOnce();
    }
    for (auto& b : g_send_para)
        b = 0; // a job still running is abandoned
    uint32_t next = 0;
    for (int p = 0; p < fpga_manage::kPorts; ++p) {
        for (const Bytes& s : fpgaChip().packets(p)) {
            if (p != port)
                FuzzBoard::fail("the mapping job of port %d sent to port %d", port, p);
            if (s.size() != 23 || s[9] != 0x60)
                continue; // the RAM reset that ends the job
            if (!wall)
                FuzzBoard::fail("the mapping job placed a card of a wall it cannot lay out");
            const uint32_t card = getU16(s.data()) & 0x0FFF;
            if (card != next++ || card >= cards)
                FuzzBoard::fail("the mapping job placed card %u of %u out of turn", card, unsigned(cards));
            // Cards past the last cabinet would share its place: the job is refused before any.
            if (cards > rows * columns)
                FuzzBoard::fail("the mapping job placed card %u of %u on a wall of %d cabinets", card, unsigned(cards),
                                rows * columns);
            if (getU32(&s[10]) != kPlaceAddress || getU16(&s[14]) != 4)
                FuzzBoard::fail("the mapping job wrote card %u's place elsewhere", card);
            int column = 0, row = 0;
            cabinetOf(card, kWalks[type], rows, columns, &column, &row);
            const uint16_t x = uint16_t(column * width + dx), y = uint16_t(row * height + dy);
            if (getU16(&s[18]) != x || getU16(&s[20]) != y)
                FuzzBoard::fail("card %u of %d x %d cabinets wired as %d placed at %u,%u, not at %u,%u", card, rows, columns,
                                type, unsigned(getU16(&s[18])), unsigned(getU16(&s[20])), unsigned(x), unsigned(y));
        }
    }
    drain();
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
    wait = new CardLink::Asker;
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
            passFrame(rest, op / 3 & 1, op / 3 & 2);
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
            if (op % 48 == 47 && rest.size() >= kLayoutBytes) {
                smartMapping(rest);
                break;
            }
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
