#include "platform/sim/devices/c331_chip.h"

#include "platform/sim/devices/c331_flash.h"

#include <algorithm>
#include <atomic>
#include <array>
#include <cmath>
#include <cstdio>
#include <deque>
#include <stdexcept>

namespace platform::Sim {
namespace {

constexpr size_t CellCount = 256 * 128;
constexpr uint8_t ChipIdDefault = 0x24;
constexpr uint32_t NoSignal16 = 0xFFFF, NoSignal24 = 0xFFFFFF;
constexpr uint32_t WriteHz = 10000000, ReadHz = 5000000;

struct Place {
    uint8_t bank;
    uint8_t addr;
    int width;
};

// Descriptor plus bank offset, checked like the register layer should: inside one bank, 0-4 bytes.
Place place(uint32_t desc, uint32_t bankOffset)
{
    const uint32_t bank = ((desc >> 16) & 0xFF) + bankOffset;
    const uint32_t addr = (desc >> 8) & 0xFF, width = desc & 0xFF;
    if (bank > 0xFF || width > 4 || addr + width > 128)
        throw std::invalid_argument("register descriptor outside the chip");
    return {uint8_t(bank), uint8_t(addr), int(width)};
}

// A frame flag shows after `need` reads since its channel was enabled.
bool frameDone(bool enabled, int& seen, int need, bool stalled)
{
    if (!enabled || stalled)
        return false;
    if (seen < need)
        ++seen;
    return seen >= need;
}

uint8_t frameFlags(uint8_t enabled, std::array<int, 8>& seen, int need, bool stalled)
{
    uint8_t flags = 0;
    for (int c = 0; c < 8; ++c)
        if (frameDone(enabled >> c & 1, seen[c], need, stalled))
            flags |= uint8_t(1u << c);
    return flags;
}

// Reference-clock ticks minus one, as the measurement registers hold them.
uint32_t ticks(double clocks, uint32_t limit)
{
    const double raw = std::floor(clocks + 0.5) - 1;
    return raw < 0 ? 0 : raw > limit ? limit : uint32_t(raw);
}

}

struct C331Chip::State {
    State() : flash(cells, [this](const std::string& v) { violations.push_back(v); }) {}

    void put(uint8_t bank, uint8_t addr, int width, uint32_t value)
    {
        for (int i = 0; i < width; ++i, value >>= 8)
            cells[bank * 128u + addr + i] = uint8_t(value);
    }
    void powerOn();
    void measure(int port, const InputTiming& t);
    void lineCounts(int channel); // A8:08+6c, A8:0A+6c from the port channel c selects
    void written(uint8_t addr, uint8_t value);
    void splitCapture(int channel);
    uint32_t get(uint8_t bank, uint8_t addr, int width) const
    {
        uint32_t v = 0;
        for (int i = width - 1; i >= 0; --i)
            v = v << 8 | cells[bank * 128u + addr + i];
        return v;
    }
    uint8_t read(uint8_t addr);

    mutable std::mutex mutex;
    std::vector<uint8_t> cells = std::vector<uint8_t>(CellCount, 0);
    C331Flash flash;
    uint8_t bank = 0;
    std::deque<Transfer> log;
    size_t logLimit = 1 << 20;
    uint64_t seq = 0;
    size_t transfers = 0;
    std::vector<std::string> violations;
    int failNext = 0;
    bool outStalled = false, inStalled = false;
    int outReads = 1, inReads = 1;
    uint8_t outEnabled = 0, inEnabled = 0;
    std::array<int, 8> outSeen{}, inSeen{}, counterSeen{};
    std::array<uint8_t, 8> phase{};
    bool phaseRunning = true;
    BusSetup bus;
    std::function<void()> hook;
    std::atomic<bool> hooked{false}; // a hook is set: only then is it copied out per transfer
    std::array<InputTiming, 6> inputs{};
};

void C331Chip::State::powerOn()
{
    std::fill(cells.begin(), cells.end(), 0);
    bank = 0;
    log.clear();
    transfers = 0;
    violations.clear();
    failNext = 0;
    outStalled = inStalled = false;
    outReads = inReads = 1;
    outEnabled = inEnabled = 0;
    outSeen = inSeen = counterSeen = {};
    for (int c = 0; c < 8; ++c)
        phase[c] = uint8_t(c & 3); // channels start out of step, so a freeze has to line them up
    phaseRunning = true;
    bus = {};
    flash.reset();
    put(0xB2, 0x08, 1, ChipIdDefault);
    for (int p = 0; p < 6; ++p)
        measure(p, InputTiming{});
}

// Measurement registers of a port from its timing. Line length and frame period are counted in
// reference-clock ticks minus one; an interlaced input is measured per field (fv = field rate).
void C331Chip::State::measure(int port, const InputTiming& t)
{
    inputs[port] = t;
    for (int c = 0; c < 8; ++c)
        lineCounts(c);
    const bool on = t.present && t.fv > 0 && t.htotal > 0 && t.vtotal > 0;
    const double fieldLines = t.interlaced ? t.vtotal / 2.0 : t.vtotal;
    const uint32_t line = on ? std::min(t.htotal - 1, NoSignal16) : NoSignal16;
    const uint32_t lines = on ? std::min(uint32_t(fieldLines), NoSignal16) : NoSignal16;
    const uint32_t linePeriod = on ? ticks(ReferenceClockHz / (t.fv * fieldLines), NoSignal16) : NoSignal16;
    const uint32_t period = on ? ticks(ReferenceClockHz / t.fv, NoSignal24) : NoSignal24;
    const uint32_t hw = on ? std::min(t.hact, NoSignal16) : NoSignal16;
    if (port < 4) {
        put(0xAE, uint8_t(0x08 + 2 * port), 2, line);
        put(0xAE, uint8_t(0x20 + 2 * port), 2, lines);
        put(0xAE, uint8_t(0x38 + 2 * port), 2, linePeriod);
        put(0xAE, uint8_t(0x50 + 3 * port), 3, period);
        put(0xAF, uint8_t(0x08 + 2 * port), 2, hw);
        return;
    }
    const int v = port - 4;
    // V-by-One lane groups: 8 lanes fill four groups, 4 lanes two, fewer one.
    const int groups = t.lanes >= 8 ? 4 : t.lanes >= 4 ? 2 : 1;
    put(0xAE, uint8_t(0x10 + 8 * v), 2, line);
    put(0xAE, uint8_t(0x28 + 8 * v), 2, lines);
    for (int g = 0; g < 4; ++g) {
        put(0xAE, uint8_t(0x40 + 8 * v + 2 * g), 2, g < groups ? linePeriod : NoSignal16);
        put(0xAE, uint8_t(0x5C + 0x0C * v + 3 * g), 3, g < groups ? period : NoSignal24);
    }
    put(0xAF, uint8_t(0x10 + 8 * v), 2, hw);
    uint8_t& lock = cells[0xB2 * 128 + 0x63];
    lock = uint8_t(on ? lock | 1u << (5 + 2 * v) : lock & ~(1u << (5 + 2 * v)));
}

// A capture channel counts the lines (minus one) and the line length (clock ticks minus one) of
// the port its select register names: 2p for CMOS port p, 8-11 receiver 0, 12-15 receiver 1.
void C331Chip::State::lineCounts(int c)
{
    const uint8_t sel = cells[0x10 + c];
    const int port = sel < 8 ? sel / 2 : sel < 12 ? 4 : sel < 16 ? 5 : -1;
    if (port < 0)
        return;
    const InputTiming& t = inputs[port];
    const bool on = t.present && t.fv > 0 && t.htotal > 0 && t.vtotal > 0;
    const uint32_t lines = t.interlaced ? t.vtotal / 2 : t.vtotal;
    put(0xA8, uint8_t(0x08 + 6 * c), 2, on ? std::min(lines - 1, NoSignal16) : NoSignal16);
    put(0xA8, uint8_t(0x0A + 6 * c), 2, on ? std::min(t.htotal - 1, NoSignal16) : NoSignal16);
}

void C331Chip::State::written(uint8_t addr, uint8_t value)
{
    if (bank == 0x04) {
        flash.written(addr, value);
    } else if (bank == 0x09 && (addr == 0x1F || addr == 0x20)) {
        flash.paletteWritten(addr, value);
    } else if (bank == 0x00 && addr >= 0x10 && addr < 0x18) {
        lineCounts(addr - 0x10);
    } else if (bank >= 0x16 && bank < 0x96 && (bank & 0x0F) == 0x06 && addr == 0x1F) {
        splitCapture((bank - 0x16) / 16);
    } else if (bank == 0x05 && addr == 0x08) {
        inEnabled = value;
        inSeen = counterSeen = {};
    } else if (bank == 0x05 && addr == 0x09) {
        outEnabled = value;
        outSeen = {};
    }
}

// The second half of a split capture (10:09 = pair's even channel + 8) is shown by the display side
// from the first half's frame store: it must land on the first half's lines (further along them), or
// below the first half's whole picture (stacked), never in another channel's store.
void C331Chip::State::splitCapture(int channel)
{
    const uint8_t select = cells[(0x10 + 16u * channel) * 128 + 0x09];
    if (select < 8)
        return;
    for (int first = select - 8; first < select - 6 && first < 8; ++first) {
        const uint8_t b = uint8_t(0x10 + 16 * first);
        if (first == channel || cells[b * 128u + 0x09] != 1)
            continue;
        const int64_t diff = int64_t(get(uint8_t(0x16 + 16 * channel), 0x1C, 4)) - get(uint8_t(0x16 + 16 * first), 0x1C, 4);
        const int64_t line = int64_t(cells[(0x16 + 16u * first) * 128 + 0x31]) * 1024;
        const int64_t lines = get(b, 0x1D, 2);
        const bool alongTheLine = diff >= 0 && diff < line, belowThePicture = diff >= line * lines;
        if (!alongTheLine && !belowThePicture)
            violations.push_back("split capture: channel " + std::to_string(channel) +
                                 " writes outside the frame store of its first half, channel " +
                                 std::to_string(first));
        return;
    }
}

uint8_t C331Chip::State::read(uint8_t addr)
{
    const uint8_t cell = cells[bank * 128u + addr];
    uint8_t value = cell;
    if (addr == 0)
        return bank;
    if (bank == 0x04 && flash.read(addr, cell, &value))
        return value;
    if (bank == 0x05 && addr == 0x22)
        return frameFlags(inEnabled, inSeen, inReads, inStalled);
    if (bank == 0x05 && addr == 0x23)
        return frameFlags(outEnabled, outSeen, outReads, outStalled);
    if (bank == 0xA8 && addr >= 0x3F && (addr - 0x3F) % 5 == 0 && (addr - 0x3F) / 5 < 8) {
        const int c = (addr - 0x3F) / 5; // frame counter of capture channel c
        return frameDone(inEnabled >> c & 1, counterSeen[c], inReads, inStalled) ? 0xFF : cell;
    }
    if (bank == 0xAB && addr >= 0x47 && addr < 0x47 + 8) {
        uint8_t& f = phase[addr - 0x47];
        value = uint8_t((cell & ~0x0C) | f << 2);
        if (phaseRunning)
            f = (f + 1) & 3; // the next field
        return value;
    }
    return cell;
}

C331Chip::C331Chip() : s_(std::make_unique<State>())
{
    s_->flash.reloadArray(); // the flash file under the root, read at first use
    s_->powerOn();
}

C331Chip::~C331Chip() = default;

bool C331Chip::transfer(const uint8_t* tx, uint8_t* rx, size_t len, uint32_t speedHz)
{
    if (s_->hooked.load()) {
        std::function<void()> hook;
        {
            std::lock_guard<std::mutex> lock(s_->mutex);
            hook = s_->hook;
        }
        if (hook)
            hook();
    }
    std::lock_guard<std::mutex> lock(s_->mutex);
    State& s = *s_;
    ++s.transfers;
    const uint64_t seq = s.seq++;
    if (s.failNext > 0) {
        --s.failNext;
        return false;
    }
    if (!tx || len != 2) {
        s.violations.push_back("transfer of " + std::to_string(len) + " bytes: every message is 2 bytes");
        return false;
    }
    const bool write = tx[0] & 0x80;
    const uint8_t addr = tx[0] & 0x7F;
    // Writes go out write-only at 10 MHz, reads full duplex at 5 MHz (the chip's read timing).
    if (write && (rx || speedHz != WriteHz))
        s.violations.push_back("write message " + std::to_string(tx[0]) + " sent " + (rx ? "full duplex" : "write-only") +
                               " at " + std::to_string(speedHz) + " Hz: writes go write-only at 10 MHz");
    if (!write && (!rx || speedHz != ReadHz))
        s.violations.push_back("read message " + std::to_string(tx[0]) + " sent " + (rx ? "full duplex" : "write-only") +
                               " at " + std::to_string(speedHz) + " Hz: reads go full duplex at 5 MHz");
    Transfer t{seq, Transfer::Write, s.bank, addr, tx[1], speedHz, rx != nullptr};
    if (write && addr == 0) {
        s.bank = tx[1];
        t.kind = Transfer::Select;
        t.bank = s.bank;
    } else if (write) {
        s.cells[s.bank * 128u + addr] = tx[1];
        s.written(addr, tx[1]);
    } else {
        t.kind = Transfer::Read;
        t.value = s.read(addr);
    }
    if (rx) {
        rx[0] = 0xFF;
        rx[1] = write ? 0xFF : t.value;
    }
    if (s.logLimit > 0) {
        s.log.push_back(t);
        while (s.log.size() > s.logLimit)
            s.log.pop_front();
    }
    return true;
}

uint32_t C331Chip::value(uint32_t desc, uint32_t bankOffset)
{
    const Place p = place(desc, bankOffset);
    std::lock_guard<std::mutex> lock(s_->mutex);
    return s_->get(p.bank, p.addr, p.width);
}

void C331Chip::preset(uint32_t desc, uint32_t value, uint32_t bankOffset)
{
    const Place p = place(desc, bankOffset);
    std::lock_guard<std::mutex> lock(s_->mutex);
    s_->put(p.bank, p.addr, p.width, value);
}

std::vector<C331Chip::Transfer> C331Chip::log() const
{
    std::lock_guard<std::mutex> lock(s_->mutex);
    return {s_->log.begin(), s_->log.end()};
}

std::vector<C331Chip::Transfer> C331Chip::writesTo(uint32_t desc, uint32_t bankOffset) const
{
    const Place p = place(desc, bankOffset);
    std::lock_guard<std::mutex> lock(s_->mutex);
    std::vector<Transfer> out;
    for (const Transfer& t : s_->log)
        if (t.kind == Transfer::Write && t.bank == p.bank && t.addr >= p.addr && t.addr < p.addr + p.width)
            out.push_back(t);
    return out;
}

size_t C331Chip::selectCount() const
{
    std::lock_guard<std::mutex> lock(s_->mutex);
    return size_t(std::count_if(s_->log.begin(), s_->log.end(),
                                [](const Transfer& t) { return t.kind == Transfer::Select; }));
}

size_t C331Chip::transferCount() const
{
    std::lock_guard<std::mutex> lock(s_->mutex);
    return s_->transfers;
}

void C331Chip::clearLog()
{
    std::lock_guard<std::mutex> lock(s_->mutex);
    s_->log.clear();
    s_->transfers = 0;
}

C331Chip::Snapshot C331Chip::snapshot() const
{
    std::lock_guard<std::mutex> lock(s_->mutex);
    return s_->cells;
}

std::vector<std::string> C331Chip::diff(const Snapshot& before) const
{
    if (before.size() != CellCount)
        throw std::invalid_argument("not a snapshot of this chip");
    std::lock_guard<std::mutex> lock(s_->mutex);
    std::vector<std::string> out;
    for (size_t i = 0; i < CellCount; ++i) {
        if (before[i] == s_->cells[i])
            continue;
        char line[24];
        std::snprintf(line, sizeof line, "%02X:%02X %02X->%02X", unsigned(i / 128), unsigned(i % 128),
                      before[i], s_->cells[i]);
        out.emplace_back(line);
    }
    return out;
}

void C331Chip::setChipId(uint8_t id)
{
    std::lock_guard<std::mutex> lock(s_->mutex);
    s_->put(0xB2, 0x08, 1, id);
}

void C331Chip::setOutputFrameStalled(bool stalled)
{
    std::lock_guard<std::mutex> lock(s_->mutex);
    s_->outStalled = stalled;
}

void C331Chip::setInputFrameStalled(bool stalled)
{
    std::lock_guard<std::mutex> lock(s_->mutex);
    s_->inStalled = stalled;
}

void C331Chip::failNextTransfers(int n)
{
    std::lock_guard<std::mutex> lock(s_->mutex);
    s_->failNext = std::max(n, 0);
}

void C331Chip::setInput(int port, const InputTiming& timing)
{
    if (port < 0 || port > 5)
        throw std::out_of_range("the chip has input ports 0-5");
    std::lock_guard<std::mutex> lock(s_->mutex);
    s_->measure(port, timing);
}

std::vector<uint8_t> C331Chip::flashRead(uint32_t address, size_t length) const
{
    std::lock_guard<std::mutex> lock(s_->mutex);
    return s_->flash.load(address, length);
}

void C331Chip::flashWrite(uint32_t address, const std::vector<uint8_t>& bytes)
{
    std::lock_guard<std::mutex> lock(s_->mutex);
    s_->flash.store(address, bytes);
}

std::vector<C331Chip::Dma> C331Chip::dmaLog() const
{
    std::lock_guard<std::mutex> lock(s_->mutex);
    return s_->flash.dmaLog;
}

bool C331Chip::chipEraseSeen() const
{
    std::lock_guard<std::mutex> lock(s_->mutex);
    return s_->flash.chipEraseSeen;
}

void C331Chip::reset()
{
    std::lock_guard<std::mutex> lock(s_->mutex);
    s_->powerOn();
}

std::vector<std::string> C331Chip::violations() const
{
    std::lock_guard<std::mutex> lock(s_->mutex);
    return s_->violations;
}

void C331Chip::setTransferHook(std::function<void()> hook)
{
    std::lock_guard<std::mutex> lock(s_->mutex);
    s_->hooked = bool(hook);
    s_->hook = std::move(hook);
}

void C331Chip::setFrameFlagReads(int output, int input)
{
    std::lock_guard<std::mutex> lock(s_->mutex);
    s_->outReads = std::max(output, 0);
    s_->inReads = std::max(input, 0);
}

void C331Chip::setFieldPhase(int channel, int phase)
{
    if (channel < 0 || channel > 7)
        throw std::out_of_range("capture channels are 0-7");
    std::lock_guard<std::mutex> lock(s_->mutex);
    s_->phase[channel] = uint8_t(phase & 3);
}

void C331Chip::setFieldPhaseRunning(bool running)
{
    std::lock_guard<std::mutex> lock(s_->mutex);
    s_->phaseRunning = running;
}

void C331Chip::setFlashBusyPolls(int polls)
{
    std::lock_guard<std::mutex> lock(s_->mutex);
    s_->flash.busyPolls = std::max(polls, 0);
}

void C331Chip::setWelFault(WelFault fault)
{
    std::lock_guard<std::mutex> lock(s_->mutex);
    s_->flash.welFault = fault;
}

std::vector<std::vector<uint8_t>> C331Chip::charRuns() const
{
    std::lock_guard<std::mutex> lock(s_->mutex);
    return s_->flash.charRuns;
}

void C331Chip::resetFlash()
{
    std::lock_guard<std::mutex> lock(s_->mutex);
    s_->flash.resetArray();
}

void C331Chip::setLogLimit(size_t transfers)
{
    std::lock_guard<std::mutex> lock(s_->mutex);
    s_->logLimit = transfers;
    while (s_->log.size() > transfers)
        s_->log.pop_front();
}

void C331Chip::setBusSetup(const BusSetup& setup)
{
    std::lock_guard<std::mutex> lock(s_->mutex);
    s_->bus = setup;
    if (setup.mode != 3 || setup.bitsPerWord != 8)
        s_->violations.push_back("bus set to mode " + std::to_string(setup.mode) + ", " +
                                 std::to_string(setup.bitsPerWord) + " bits: the chip takes mode 3, 8-bit words");
}

C331Chip::BusSetup C331Chip::busSetup() const
{
    std::lock_guard<std::mutex> lock(s_->mutex);
    return s_->bus;
}

C331Chip::OutputTiming C331Chip::outputTiming(int channel)
{
    const uint32_t off = 16u * uint32_t(channel & 7);
    OutputTiming t{};
    t.htotal = value(0x080A02, off) + 2;
    t.vtotal = value(0x080C02, off) + 2;
    t.hsync = (value(0x034401) + 1) * 2;
    t.vsync = value(0x034501) + 1;
    // The output area of interest spans the channel's active area; the active-area registers
    // 0x40-0x47 are the display window's and change with the windows.
    const uint32_t hst = value(0x082802, off), vst = value(0x082C02, off);
    t.hactive = value(0x082A02, off) - hst;
    t.vactive = value(0x082E02, off) - vst;
    t.hbackSigned = int64_t(hst) - t.hsync;
    t.vbackSigned = int64_t(vst) - t.vsync;
    t.hback = uint32_t(t.hbackSigned);
    t.vback = uint32_t(t.vbackSigned);
    t.hfront = uint32_t(int64_t(t.htotal) - t.hactive - t.hsync - t.hbackSigned);
    t.vfront = uint32_t(int64_t(t.vtotal) - t.vactive - t.vsync - t.vbackSigned);
    return t;
}

void C331Chip::reloadFlash()
{
    std::lock_guard<std::mutex> lock(s_->mutex);
    s_->flash.reloadArray();
}

std::vector<uint8_t> C331Chip::memory(uint32_t address, size_t length) const
{
    std::lock_guard<std::mutex> lock(s_->mutex);
    return s_->flash.memory(address, length);
}

std::array<uint8_t, 768> C331Chip::palette() const
{
    std::lock_guard<std::mutex> lock(s_->mutex);
    return s_->flash.palette;
}

uint32_t C331Chip::Picture::pixel(int x, int y) const
{
    if (x < 0 || y < 0 || x >= width || y >= height)
        throw std::out_of_range("pixel outside the picture");
    const uint8_t* p = &rgba[(size_t(y) * size_t(width) + size_t(x)) * 4];
    return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3];
}

C331Chip::Picture C331Chip::osdShown(int channel) const
{
    if (channel < 0 || channel > 7)
        throw std::out_of_range("output channels are 0-7");
    std::lock_guard<std::mutex> lock(s_->mutex);
    const auto cell = [&](uint8_t addr, int width) {
        uint32_t v = 0;
        for (int i = width - 1; i >= 0; --i)
            v = v << 8 | s_->cells[(0x09u + 16u * uint32_t(channel)) * 128u + addr + uint32_t(i)];
        return v;
    };
    Picture out;
    const uint32_t control = cell(0x08, 2);
    if ((control & 3) < 2)
        return out;
    const uint32_t stride = cell(0x1E, 1) * 128u * ((control & 0x2000) ? 4u : 1u);
    out.width = int(cell(0x14, 2));
    out.height = int(cell(0x18, 2));
    const uint32_t base = cell(0x1A, 4);
    out.rgba.resize(size_t(out.width) * size_t(out.height) * 4);
    const auto& pal = s_->flash.palette;
    for (int y = 0; y < out.height; ++y) {
        const std::vector<uint8_t> line = s_->flash.memory(base + uint32_t(y) * stride, size_t(out.width));
        for (int x = 0; x < out.width; ++x) {
            uint8_t* p = &out.rgba[(size_t(y) * size_t(out.width) + size_t(x)) * 4];
            const uint8_t index = line[size_t(x)];
            p[0] = pal[index * 3u];
            p[1] = pal[index * 3u + 1];
            p[2] = pal[index * 3u + 2];
            p[3] = index == 255 ? 0 : 255;
        }
    }
    return out;
}

namespace {

uint32_t crc32(const uint8_t* data, size_t length, uint32_t crc = 0)
{
    crc = ~crc;
    for (size_t i = 0; i < length; ++i) {
        crc ^= data[i];
        for (int k = 0; k < 8; ++k)
            crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1)));
    }
    return ~crc;
}

void be32(std::vector<uint8_t>& out, uint32_t v)
{
    for (int s = 24; s >= 0; s -= 8)
        out.push_back(uint8_t(v >> s));
}

void chunk(std::vector<uint8_t>& png, const char* type, const std::vector<uint8_t>& data)
{
    be32(png, uint32_t(data.size()));
    const size_t start = png.size();
    png.insert(png.end(), type, type + 4);
    png.insert(png.end(), data.begin(), data.end());
    be32(png, crc32(&png[start], png.size() - start));
}

}

// RGBA, 8 bits, unfiltered rows in stored (uncompressed) deflate blocks: no library needed.
bool C331Chip::writePng(const Picture& picture, const std::string& path)
{
    if (picture.width <= 0 || picture.height <= 0)
        return false;
    std::vector<uint8_t> raw;
    const size_t rowBytes = size_t(picture.width) * 4;
    raw.reserve((rowBytes + 1) * size_t(picture.height));
    for (int y = 0; y < picture.height; ++y) {
        raw.push_back(0);
        raw.insert(raw.end(), picture.rgba.begin() + long(y * rowBytes), picture.rgba.begin() + long((y + 1) * rowBytes));
    }
    std::vector<uint8_t> z = {0x78, 0x01};
    for (size_t at = 0; at < raw.size() || at == 0;) {
        const size_t n = std::min<size_t>(65535, raw.size() - at);
        z.push_back(at + n == raw.size() ? 1 : 0);
        z.push_back(uint8_t(n));
        z.push_back(uint8_t(n >> 8));
        z.push_back(uint8_t(~n));
        z.push_back(uint8_t(~n >> 8));
        z.insert(z.end(), raw.begin() + long(at), raw.begin() + long(at + n));
        at += n;
        if (n == 0)
            break;
    }
    uint32_t a = 1, b = 0;
    for (uint8_t v : raw) {
        a = (a + v) % 65521;
        b = (b + a) % 65521;
    }
    be32(z, b << 16 | a);
    std::vector<uint8_t> png = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    std::vector<uint8_t> ihdr;
    be32(ihdr, uint32_t(picture.width));
    be32(ihdr, uint32_t(picture.height));
    ihdr.insert(ihdr.end(), {8, 6, 0, 0, 0});
    chunk(png, "IHDR", ihdr);
    chunk(png, "IDAT", z);
    chunk(png, "IEND", {});
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f)
        return false;
    const bool ok = std::fwrite(png.data(), 1, png.size(), f) == png.size();
    return std::fclose(f) == 0 && ok;
}

C331Chip& c331Chip()
{
    static C331Chip chip;
    return chip;
}

}
