// The FPGA's output-port side: TX buffers to the LED network, card replies back through the RX
// buffers, and the test face of the network.
#include "platform/sim/devices/fpga_chip_state.h"
#include "platform/sim/sim_board.h"

#include <algorithm>
#include <cstdio>

namespace platform::Sim {
namespace {

constexpr size_t BufferSize = 1024; // TX and RX buffers of a pair
constexpr int TxLow[FpgaChip::Pairs] = {26, 134, 136, 138, 154, 155, 156, 157};
constexpr int RxLow[FpgaChip::Pairs] = {24, 133, 135, 137, 149, 150, 151, 152};

std::string format(const char* f, unsigned a, unsigned b = 0)
{
    char text[160];
    std::snprintf(text, sizeof text, f, a, b);
    return text;
}

int txHigh(int pair) { return pair < 4 ? 27 : 158; }
int rxHigh(int pair) { return pair < 4 ? 25 : 153; }
int selectRegister(int pair) { return pair < 4 ? 132 : 148; }

}

uint8_t FpgaChip::State::pairBits(int firstPair) const
{
    uint8_t v = 0;
    for (int g = 0; g < 4; ++g) {
        const Pair& p = pairs[size_t(firstPair + g)];
        v |= uint8_t((p.ready ? 1 : 0) << (2 * g) | (p.busy ? 1 : 0) << (2 * g + 1));
    }
    return v;
}

// 130/146: bit g acknowledges the reply of pair g, bit 4 + g starts its transmission.
void FpgaChip::State::strobe(int reg, uint8_t bits)
{
    const int first = reg == 130 ? 0 : 4;
    for (int g = 0; g < 4; ++g) {
        if (bits >> g & 1)
            acknowledge(first + g);
        if (bits >> (4 + g) & 1)
            startTransmit(first + g);
    }
}

void FpgaChip::State::startTransmit(int pair)
{
    Pair& p = pairs[size_t(pair)];
    if (p.busy) {
        note(format("TX start on pair %u while it is still sending (ignored)", unsigned(pair)));
        return;
    }
    const int g = pair % 4;
    const size_t length = size_t((regs[size_t(txHigh(pair))] >> (2 * g) & 3) << 8 | regs[size_t(TxLow[pair])]) + 1;
    const uint8_t* bank = bankBytes(3 + 2 * pair);
    std::vector<uint8_t> packet(bank, bank + length);
    std::vector<int> ports;
    for (int port = 2 * pair; port <= 2 * pair + 1; ++port)
        if (regs[size_t(selectRegister(pair))] >> (port % 8) & 1)
            ports.push_back(port);
    if (ports.empty()) {
        note(format("TX start on pair %u with no port selected in register %u", unsigned(pair), unsigned(selectRegister(pair))));
        dropped.push_back(packet);
        return;
    }
    if (length < 2 || LedNetwork::checkByte(packet.data(), length - 1) != packet.back()) {
        note(format("packet of %u bytes on pair %u has a bad check byte (dropped)", unsigned(length), unsigned(pair)));
        dropped.push_back(packet);
        return;
    }
    p.busy = true;
    schedule(uint64_t(txLatency), Event{Event::Deliver, pair, ports, std::move(packet)});
}

void FpgaChip::State::acknowledge(int pair)
{
    Pair& p = pairs[size_t(pair)];
    if (!p.ready) {
        note(format("RX acknowledge on pair %u with no reply loaded", unsigned(pair)));
        return;
    }
    p.ready = false;
    loadNext(pair);
}

// The next reply goes into the RX bank with its length registers; the FPGA raises its reply flag.
void FpgaChip::State::loadNext(int pair)
{
    Pair& p = pairs[size_t(pair)];
    if (p.ready || p.queue.empty())
        return;
    std::vector<uint8_t> reply = std::move(p.queue.front());
    p.queue.pop_front();
    if (reply.empty())
        return;
    if (reply.size() > BufferSize) {
        note(format("reply of %u bytes on pair %u cut to the 1024-byte buffer", unsigned(reply.size()), unsigned(pair)));
        reply.resize(BufferSize);
    }
    std::copy(reply.begin(), reply.end(), bankBytes(2 + 2 * pair));
    const size_t last = reply.size() - 1;
    const int g = pair % 4;
    regs[size_t(RxLow[pair])] = uint8_t(last);
    uint8_t& high = regs[size_t(rxHigh(pair))];
    high = uint8_t((high & ~(3 << (2 * g))) | (last >> 8 & 3) << (2 * g));
    p.ready = true;
    replyFlag = true;
}

void FpgaChip::State::schedule(uint64_t delay, Event event)
{
    events.emplace(clock + delay, std::move(event));
    runDue();
}

void FpgaChip::State::runDue()
{
    while (!events.empty() && events.begin()->first <= clock) {
        Event e = std::move(events.begin()->second);
        events.erase(events.begin());
        if (e.kind == Event::Deliver) {
            pairs[size_t(e.pair)].busy = false;
            for (int port : e.ports)
                for (auto& reply : network.deliver(port, e.bytes))
                    events.emplace(clock + uint64_t(replyDelay), Event{Event::Reply, port / 2, {}, std::move(reply)});
        } else {
            pairs[size_t(e.pair)].queue.push_back(std::move(e.bytes));
            loadNext(e.pair);
        }
    }
}

void FpgaChip::State::updateIrq()
{
    bool pendingReply = false;
    for (const Pair& p : pairs)
        pendingReply = pendingReply || p.ready;
    const uint32_t at = WindowBase + IrqWord;
    const uint16_t word = memSim().read16(at);
    memSim().write16(at, uint16_t(running && pendingReply ? word | 1 : word & ~1));
}

// ---- test face: the LED network ----

void FpgaChip::setCards(int port, int count)
{
    editNetwork([&](LedNetwork& n) {
        n.port(port).linked = true;
        n.port(port).cards.resize(size_t(std::max(0, count)));
    });
}

void FpgaChip::setLinked(int port, bool linked)
{
    editNetwork([&](LedNetwork& n) { n.port(port).linked = linked; });
}

void FpgaChip::setMultifunction(int port, bool present)
{
    editNetwork([&](LedNetwork& n) { n.port(port).multifunction.present = present; });
}

void FpgaChip::editNetwork(const std::function<void(LedNetwork&)>& edit)
{
    std::lock_guard<std::mutex> lock(s_->mutex);
    edit(s_->network);
}

LedNetwork FpgaChip::network() const
{
    std::lock_guard<std::mutex> lock(s_->mutex);
    return s_->network;
}

std::vector<std::vector<uint8_t>> FpgaChip::packets(int port) const
{
    std::lock_guard<std::mutex> lock(s_->mutex);
    return port >= 0 && port < LedNetwork::Ports ? s_->network.port(port).log : std::vector<std::vector<uint8_t>>{};
}

std::vector<std::vector<uint8_t>> FpgaChip::dropped() const
{
    std::lock_guard<std::mutex> lock(s_->mutex);
    return s_->dropped;
}

void FpgaChip::clearPackets()
{
    std::lock_guard<std::mutex> lock(s_->mutex);
    for (int port = 0; port < LedNetwork::Ports; ++port)
        s_->network.port(port).log.clear();
    s_->dropped.clear();
}

void FpgaChip::setTxLatency(int transfers)
{
    std::lock_guard<std::mutex> lock(s_->mutex);
    s_->txLatency = std::max(0, transfers);
}

void FpgaChip::setReplyDelay(int transfers)
{
    std::lock_guard<std::mutex> lock(s_->mutex);
    s_->replyDelay = std::max(0, transfers);
}

void FpgaChip::queueReply(int port, const std::vector<uint8_t>& reply)
{
    std::lock_guard<std::mutex> lock(s_->mutex);
    if (port < 0 || port >= LedNetwork::Ports || !s_->running)
        return;
    s_->pairs[size_t(port / 2)].queue.push_back(reply);
    s_->loadNext(port / 2);
    s_->updateIrq();
}

size_t FpgaChip::pendingReplies(int pair) const
{
    std::lock_guard<std::mutex> lock(s_->mutex);
    if (pair < 0 || pair >= Pairs)
        return 0;
    const State::Pair& p = s_->pairs[size_t(pair)];
    return p.queue.size() + (p.ready ? 1 : 0);
}

void FpgaChip::settle()
{
    std::lock_guard<std::mutex> lock(s_->mutex);
    if (!s_->running)
        return;
    while (!s_->events.empty()) {
        s_->clock = std::max(s_->clock, s_->events.begin()->first);
        s_->runDue();
    }
    s_->updateIrq();
}

}
