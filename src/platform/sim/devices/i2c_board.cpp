#include "platform/sim/devices/i2c_board.h"

#include "platform/sim/devices/fpga_chip.h"
#include "platform/sim/sim_board.h"

#include <algorithm>
#include <boost/container/small_vector.hpp>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <deque>
#include <mutex>

namespace platform::Sim {

namespace {
struct Wire {
    uint8_t address;
    uint8_t switchAddress; // 0: main bus
    uint8_t channels;
    std::shared_ptr<I2cDevice> chip;
    bool (*live)() = nullptr; // unset: always on the bus; false: held in reset, silent
};

constexpr size_t Addresses = 0x80; // 7-bit
}

struct I2cBoard::State {
    mutable std::mutex m;
    std::vector<Wire> wires;
    // The wires of each 7-bit address: the polling board makes some hundred transfers a pass, and
    // a look through every wire for each message would cost more than the chips' own work.
    std::array<std::vector<const Wire*>, Addresses> byAddress;
    std::shared_ptr<I2cSwitch> receiverSwitch = std::make_shared<I2cSwitch>();
    std::shared_ptr<I2cSwitch> edidSwitch = std::make_shared<I2cSwitch>();
    std::shared_ptr<IoExpander> expander = std::make_shared<IoExpander>();
    std::array<std::shared_ptr<EdidEeprom>, Inputs> eeproms;
    std::shared_ptr<ClockSynth> synth = std::make_shared<ClockSynth>();
    std::array<std::shared_ptr<It6602Chip>, It6602Count> receivers;
    std::array<std::shared_ptr<Ite6805Chip>, Ite6805Count> ite6805s;
    std::shared_ptr<It66121Chip> transmitter = std::make_shared<It66121Chip>();
    std::chrono::steady_clock::time_point start = std::chrono::steady_clock::now();
    bool manual = false;
    uint64_t manualUs = 0;
    bool openFails = false;
    uint64_t seq = 0;
    bool logging = true;
    int nacks = 0;
    std::deque<Message> log; // the newest LogLimit messages: a running board polls for ever
    std::vector<std::string> violations;

    uint64_t now() const
    {
        if (manual)
            return manualUs;
        return uint64_t(std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - start).count());
    }
    uint8_t selectionOf(uint8_t switchAddress) const
    {
        if (switchAddress == ReceiverSwitch)
            return receiverSwitch->selection();
        return switchAddress == EdidSwitch ? edidSwitch->selection() : 0;
    }
    // The chips that answer `address` now; a switch's downstream side follows its control byte.
    struct Answer {
        I2cDevice* first = nullptr;
        int count = 0;
    };
    // Cheapest test first: address, then the switches (each read once), then the chip's own state.
    Answer answering(uint8_t address) const
    {
        Answer found;
        int receiverChannels = -1, edidChannels = -1; // not read yet
        for (const Wire* wire : byAddress[address]) {
            const Wire& w = *wire;
            if (w.switchAddress != 0) {
                int other = -1;
                int& channels = w.switchAddress == ReceiverSwitch ? receiverChannels
                                : w.switchAddress == EdidSwitch   ? edidChannels
                                                                  : other;
                if (channels < 0)
                    channels = selectionOf(w.switchAddress);
                if (!(channels & w.channels))
                    continue;
            }
            if (!w.chip->present() || (w.live && !w.live()))
                continue;
            if (found.count++ == 0)
                found.first = w.chip.get();
        }
        return found;
    }
    // Under m (or before the board is shared): after every change of `wires`.
    void rewire()
    {
        for (auto& list : byAddress)
            list.clear();
        for (const Wire& w : wires)
            if (w.address < Addresses)
                byAddress[w.address].push_back(&w);
    }
};

uint8_t I2cBoard::channelOf(int input)
{
    static const uint8_t bits[Inputs] = {0x01, 0x02, 0x04, 0x08, 0x20, 0x10};
    return input >= 0 && input < Inputs ? bits[input] : 0;
}

I2cBoard::I2cBoard() : s_(std::make_unique<State>())
{
    s_->wires.push_back({ReceiverSwitch, 0, 0, s_->receiverSwitch});
    s_->wires.push_back({EdidSwitch, 0, 0, s_->edidSwitch});
    s_->wires.push_back({ExpanderAddress, 0, 0, s_->expander});
    IoExpander* expander = s_->expander.get();
    for (int i = 0; i < Inputs; ++i) {
        s_->eeproms[i] = std::make_shared<EdidEeprom>(i);
        s_->eeproms[i]->setProtectLine([expander] {
            return (expander->value() & IoExpander::WriteProtectBit) ||
                   memSim().read16(FpgaChip::WindowBase + WriteProtectWord) != 0;
        });
        s_->wires.push_back({EepromAddress, EdidSwitch, channelOf(i), s_->eeproms[i]});
    }
    s_->wires.push_back({SynthAddress, EdidSwitch, SynthChannel, s_->synth});
    for (int r = 0; r < It6602Count; ++r) {
        s_->receivers[r] = std::make_shared<It6602Chip>(r);
        s_->wires.push_back({It6602Chip::Address, ReceiverSwitch, channelOf(r), s_->receivers[r],
                             [] { return memSim().read16(FpgaChip::WindowBase + ReceiverPathWord) != 0; }});
    }
    for (int d = 0; d < Ite6805Count; ++d) {
        s_->ite6805s[d] = std::make_shared<Ite6805Chip>(d);
        bool (*live)() = [] { return memSim().read16(FpgaChip::WindowBase + Ite6805PathWord) != 0; };
        s_->wires.push_back({Ite6805Chip::Address, ReceiverSwitch, channelOf(4 + d), s_->ite6805s[d], live});
        s_->wires.push_back({Ite6805Chip::CecAddress, ReceiverSwitch, channelOf(4 + d), s_->ite6805s[d]->cecShared(), live});
    }
    s_->wires.push_back({It66121Chip::Address, 0, 0, s_->transmitter,
                         [] { return memSim().read16(FpgaChip::WindowBase + TransmitterEnableWord) == 16; }});
    s_->rewire();
}

I2cBoard::~I2cBoard() = default;

int I2cBoard::transfer(I2cMsg* messages, size_t count)
{
    if (!messages || count == 0) {
        errno = EINVAL;
        return -1;
    }
    for (size_t i = 0; i < count; ++i)
        if (messages[i].len && !messages[i].buf) {
            errno = EFAULT;
            return -1;
        }
    std::lock_guard<std::mutex> lock(s_->m);
    boost::container::small_vector<I2cDevice*, 4> touched; // a polling board: no allocation per transfer
    // One reading of the clock for the whole transfer (its messages take microseconds on the
    // wire), and none for one that only reaches chips without timing: the polling board makes
    // some hundred transfers a pass, nearly all to receivers.
    uint64_t now = 0;
    bool nowRead = false;
    const auto clockFor = [&](bool timed) {
        if (!nowRead && timed) {
            now = s_->now();
            nowRead = true;
        }
        return now;
    };
    bool ok = true;
    for (size_t i = 0; i < count && ok; ++i) {
        I2cMsg& msg = messages[i];
        const bool read = msg.flags & I2cMsg::Read;
        const uint8_t receiverChannels = s_->logging ? s_->selectionOf(ReceiverSwitch) : 0;
        const uint8_t edidChannels = s_->logging ? s_->selectionOf(EdidSwitch) : 0;
        const State::Answer chips = msg.addr < 0x80 ? s_->answering(uint8_t(msg.addr)) : State::Answer{};
        if (chips.count > 1) {
            char text[80];
            std::snprintf(text, sizeof text, "%d chips answer address 0x%02X (8-bit)", chips.count, unsigned(msg.addr) << 1);
            s_->violations.push_back(text);
        }
        I2cDevice* chip = chips.first;
        const bool timed = chip && chip->timed();
        ok = chip && chip->address(read, msg.len, clockFor(timed));
        if (chip && std::find(touched.begin(), touched.end(), chip) == touched.end())
            touched.push_back(chip);
        if (ok)
            ok = read ? chip->read(msg.buf, msg.len, clockFor(timed)) : chip->write(msg.buf, msg.len, clockFor(timed));
        ++s_->seq;
        if (s_->logging) {
            Message entry{s_->seq, uint8_t(msg.addr), read, {}, ok, receiverChannels, edidChannels};
            if (ok || !read)
                entry.data.assign(msg.buf, msg.buf + msg.len);
            s_->log.push_back(std::move(entry));
            if (s_->log.size() > LogLimit)
                s_->log.pop_front();
        }
    }
    for (I2cDevice* chip : touched)
        chip->stop(clockFor(chip->timed()));
    if (!ok) {
        ++s_->nacks;
        errno = ENXIO;
        return -1;
    }
    return int(count);
}

bool I2cBoard::openFails() const
{
    std::lock_guard<std::mutex> lock(s_->m);
    return s_->openFails;
}

I2cSwitch& I2cBoard::receiverSwitch() { return *s_->receiverSwitch; }
I2cSwitch& I2cBoard::edidSwitch() { return *s_->edidSwitch; }
IoExpander& I2cBoard::expander() { return *s_->expander; }
ClockSynth& I2cBoard::clockSynth() { return *s_->synth; }

It6602Chip& I2cBoard::it6602(int receiver)
{
    return *s_->receivers.at(size_t(receiver));
}

Ite6805Chip& I2cBoard::ite6805(int device)
{
    return *s_->ite6805s.at(size_t(device));
}

It66121Chip& I2cBoard::it66121() { return *s_->transmitter; }

EdidEeprom& I2cBoard::eeprom(int input)
{
    return *s_->eeproms.at(size_t(input));
}

std::array<uint8_t, EdidEeprom::Size> I2cBoard::eepromContents(int input) const
{
    return s_->eeproms.at(size_t(input))->contents();
}

void I2cBoard::attach(uint8_t address, std::shared_ptr<I2cDevice> chip)
{
    std::lock_guard<std::mutex> lock(s_->m);
    s_->wires.push_back({address, 0, 0, std::move(chip)});
    s_->rewire();
}

void I2cBoard::attachBehind(uint8_t switchAddress, uint8_t channels, uint8_t address, std::shared_ptr<I2cDevice> chip)
{
    std::lock_guard<std::mutex> lock(s_->m);
    s_->wires.push_back({address, switchAddress, channels, std::move(chip)});
    s_->rewire();
}

void I2cBoard::detach(const I2cDevice* chip)
{
    std::lock_guard<std::mutex> lock(s_->m);
    for (auto it = s_->wires.begin(); it != s_->wires.end();)
        it = it->chip.get() == chip ? s_->wires.erase(it) : it + 1;
    s_->rewire();
}

void I2cBoard::setManualClock(bool manual)
{
    std::lock_guard<std::mutex> lock(s_->m);
    if (manual && !s_->manual)
        s_->manualUs = s_->now();
    if (!manual && s_->manual) // real time goes on from where the manual clock stood
        s_->start = std::chrono::steady_clock::now() - std::chrono::microseconds(s_->manualUs);
    s_->manual = manual;
}

void I2cBoard::advanceUs(uint64_t us)
{
    std::lock_guard<std::mutex> lock(s_->m);
    s_->manualUs += us;
}

uint64_t I2cBoard::nowUs() const
{
    std::lock_guard<std::mutex> lock(s_->m);
    return s_->now();
}

void I2cBoard::setOpenFails(bool fail)
{
    std::lock_guard<std::mutex> lock(s_->m);
    s_->openFails = fail;
}

void I2cBoard::setLogging(bool on)
{
    std::lock_guard<std::mutex> lock(s_->m);
    s_->logging = on;
    if (!on)
        s_->log.clear();
}

std::vector<I2cBoard::Message> I2cBoard::log() const
{
    std::lock_guard<std::mutex> lock(s_->m);
    return {s_->log.begin(), s_->log.end()};
}

std::vector<I2cBoard::Message> I2cBoard::logOf(uint8_t address) const
{
    std::vector<Message> out;
    for (Message& m : log())
        if (m.address == address)
            out.push_back(std::move(m));
    return out;
}

void I2cBoard::clearLog()
{
    std::lock_guard<std::mutex> lock(s_->m);
    s_->log.clear();
    s_->logging = true;
    s_->nacks = 0;
}

int I2cBoard::nacks() const
{
    std::lock_guard<std::mutex> lock(s_->m);
    return s_->nacks;
}

std::vector<std::string> I2cBoard::violations() const
{
    std::lock_guard<std::mutex> lock(s_->m);
    std::vector<std::string> all = s_->violations;
    for (const Wire& w : s_->wires)
        for (std::string& v : w.chip->violations())
            all.push_back(std::move(v));
    return all;
}

void I2cBoard::clearViolations()
{
    std::lock_guard<std::mutex> lock(s_->m);
    s_->violations.clear();
    for (auto& e : s_->eeproms)
        e->clearViolations();
    for (auto& r : s_->receivers)
        r->clearViolations();
    for (auto& d : s_->ite6805s)
        d->clearViolations();
    s_->transmitter->clearViolations();
}

void I2cBoard::reset()
{
    std::lock_guard<std::mutex> lock(s_->m);
    for (const Wire& w : s_->wires)
        w.chip->reset();
    for (auto& e : s_->eeproms)
        e->erase();
    s_->manual = false;
    s_->manualUs = 0;
    s_->start = std::chrono::steady_clock::now();
    s_->openFails = false;
    s_->log.clear();
    s_->logging = true;
    s_->nacks = 0;
    s_->violations.clear();
}

I2cBoard& i2cBoard()
{
    static I2cBoard board;
    return board;
}

}
