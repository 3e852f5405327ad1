#include "platform/sim/devices/fpga_network.h"

#include <algorithm>

namespace platform::Sim {
namespace {

constexpr size_t RxCapacity = 1024;        // one RX buffer of the FPGA
constexpr size_t MaxReadData = RxCapacity - 12; // head, status and check byte around the data
constexpr uint8_t StatusGood = 0, StatusBadPacket = 1;

enum Group : uint8_t { Search = 0x10, WriteRam = 0x60, ReadRam = 0x61, Save = 0x81, WriteRegister = 0xA0 };

uint16_t u16(const std::vector<uint8_t>& p, size_t at)
{
    return uint16_t(p[at] | p[at + 1] << 8);
}

uint32_t u32(const std::vector<uint8_t>& p, size_t at)
{
    return uint32_t(u16(p, at)) | uint32_t(u16(p, at + 2)) << 16;
}

// The packet's own fields decide whether a card can act on it; a card answers a malformed write
// with a bad status instead of guessing.
bool wellFormed(const std::vector<uint8_t>& p, bool multifunction)
{
    switch (p[9]) {
    case WriteRam:
        return p.size() >= 19 && p.size() == 19 + size_t(u16(p, 14));
    case ReadRam:
        return p.size() >= 19;
    case WriteRegister:
        if (multifunction)
            return p.size() >= 15;
        return p.size() >= 14 && p.size() >= 14 + size_t(p[12]);
    default:
        return true;
    }
}

// Bytes 0-9 of the request with the addresses swapped, then the status byte.
std::vector<uint8_t> replyHead(const std::vector<uint8_t>& req, uint16_t source, uint8_t status)
{
    std::vector<uint8_t> r(req.begin(), req.begin() + 10);
    r[0] = req[2];
    r[1] = req[3];
    r[2] = uint8_t(source);
    r[3] = uint8_t(source >> 8);
    r.push_back(status);
    return r;
}

void seal(std::vector<uint8_t>* r, bool badCheck)
{
    const uint8_t check = LedNetwork::checkByte(r->data(), r->size());
    r->push_back(badCheck ? uint8_t(~check) : check);
}

void applyToCard(LedNetwork::Card& card, const std::vector<uint8_t>& p)
{
    switch (p[9]) {
    case WriteRam: {
        const uint32_t at = u32(p, 10);
        for (size_t i = 0; i < u16(p, 14); ++i)
            card.ram[at + uint32_t(i)] = p[18 + i];
        break;
    }
    case WriteRegister: {
        const uint16_t reg = u16(p, 10);
        for (size_t i = 0; i < p[12]; ++i)
            card.registers[uint16_t(reg + i)] = p[13 + i];
        break;
    }
    case Save:
        ++card.saves;
        break;
    default:
        break;
    }
}

uint8_t multifunctionByte(const LedNetwork::Multifunction& mf, uint32_t at)
{
    if (at >= LedNetwork::SensorArea && at < LedNetwork::SensorArea + 128) {
        const uint32_t k = at - LedNetwork::SensorArea;
        if (k == 49)
            return mf.sensorValid ? 0xFF : 0x00;
        if (k == 52)
            return mf.targetLevel;
        return 0;
    }
    if (at == 44)
        return mf.relayPower() ? 1 : 0;
    return 0;
}

}

bool LedNetwork::Multifunction::relayPower() const
{
    for (int reg = 2; reg <= 3; ++reg)
        for (int k = 0; k < 4; ++k)
            if ((registers[reg] >> (2 * k) & 3) == 3)
                return true;
    return false;
}

uint8_t LedNetwork::checkByte(const uint8_t* bytes, size_t length)
{
    uint8_t x = 0;
    for (size_t i = 0; i < length; ++i)
        x ^= bytes[i];
    return x;
}

std::vector<std::vector<uint8_t>> LedNetwork::deliver(int portNumber, const std::vector<uint8_t>& req)
{
    if (portNumber < 0 || portNumber >= Ports)
        return {};
    Port& port = ports_[portNumber];
    // A running box searches every 800 ms for ever: keep the newest packets only.
    if (port.log.size() >= LogLimit)
        port.log.erase(port.log.begin(), port.log.begin() + LogLimit / 2);
    port.log.push_back(req);
    // Header, group and check byte at least; a card drops anything it cannot check.
    if (!port.linked || port.silent || req.size() < 11 || checkByte(req.data(), req.size() - 1) != req.back())
        return {};
    const uint16_t dest = u16(req, 0);
    const uint16_t portBits = uint16_t((portNumber % 4) << 12);

    if (dest & 0x4000) {
        Multifunction& mf = port.multifunction;
        if (!mf.present || mf.silent)
            return {};
        const bool ok = wellFormed(req, true);
        std::vector<uint8_t> r = replyHead(req, uint16_t(0x4000 | portBits), ok ? StatusGood : StatusBadPacket);
        if (ok && req[9] == WriteRegister)
            mf.registers[req[10]] = uint8_t((mf.registers[req[10]] & ~req[11]) | (req[13] & req[11]));
        if (ok && req[9] == ReadRam) {
            const uint32_t at = u32(req, 10);
            const size_t n = std::min<size_t>(u16(req, 14), MaxReadData);
            for (size_t i = 0; i < n; ++i)
                r.push_back(multifunctionByte(mf, at + uint32_t(i)));
        }
        seal(&r, mf.badCheck || port.badCheck);
        return {r};
    }

    const uint16_t index = dest & 0x0FFF;
    const bool many = index >= 0x0FFE;
    if (!many && index >= port.cards.size())
        return {};
    const bool ok = wellFormed(req, false);
    int answering = -1;
    for (size_t c = many ? 0 : index; c < (many ? port.cards.size() : index + 1u); ++c) {
        if (ok)
            applyToCard(port.cards[c], req);
        if (answering < 0 && !port.cards[c].silent)
            answering = int(c);
    }
    if (answering < 0)
        return {};
    const Card& card = port.cards[size_t(answering)];
    std::vector<uint8_t> r = replyHead(req, uint16_t(portBits | answering), ok ? StatusGood : StatusBadPacket);
    if (ok && req[9] == Search) {
        r.insert(r.end(), req.begin() + 10, req.end() - 1);
        if (r.size() < 14)
            r.resize(14, 0);
        const size_t count = port.cards.size();
        r[11] = uint8_t(count);
        r[12] = uint8_t(count >> 8);
        r[13] = port.multifunction.present ? 1 : 0;
        if (req.size() > 21 && (req[16] & 1) && r.size() >= 24) {
            const uint32_t configId = u32(req, 17);
            for (size_t c = 0; c < count; ++c) {
                if (port.cards[c].configId != configId) {
                    r[22] = uint8_t(c);
                    r[23] = uint8_t(c >> 8);
                    break;
                }
            }
        }
    } else if (ok && req[9] == ReadRam) {
        const uint32_t at = u32(req, 10);
        const size_t n = std::min<size_t>(u16(req, 14), MaxReadData);
        for (size_t i = 0; i < n; ++i) {
            auto it = card.ram.find(at + uint32_t(i));
            r.push_back(it == card.ram.end() ? 0 : it->second);
        }
    }
    r.resize(std::min(r.size(), RxCapacity - 1));
    seal(&r, card.badCheck || port.badCheck);
    return {r};
}

}
