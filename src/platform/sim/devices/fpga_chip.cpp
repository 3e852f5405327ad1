#include "platform/sim/devices/fpga_chip.h"

#include "platform/sim/devices/fpga_chip_state.h"
#include "platform/sim/devices/c331_chip.h"
#include "platform/sim/sim_board.h"

#include <algorithm>
#include <boost/container/small_vector.hpp>
#include <cstdio>

namespace platform::Sim {
namespace {

constexpr size_t BankSize = 4096;
constexpr uint8_t DesignBytes[3] = {0x16, 0x08, 0x10}; // registers 28-30: design revision, day, month (BCD)
constexpr uint16_t MeasureFirst = 116, MeasureEnd = 124; // bank 1 bytes the FPGA writes itself

std::string format(const char* f, unsigned a, unsigned b = 0, unsigned c = 0)
{
    char text[160];
    std::snprintf(text, sizeof text, f, a, b, c);
    return text;
}

uint16_t line(uint32_t offset)
{
    return memSim().read16(FpgaChip::WindowBase + offset);
}

// Counts down a "next n reads" hook; -1 stays on.
bool take(int* reads)
{
    if (*reads == 0)
        return false;
    if (*reads > 0)
        --*reads;
    return true;
}

}

// ---- lines ----

// True while the FPGA runs. A reset seen at a transfer takes everything the FPGA holds.
bool FpgaChip::State::sampleReset()
{
    const bool released = line(ResetWord) == 16 && (!clockGate || clockGate());
    if (released && !running)
        powerOn();
    running = released;
    if (!running)
        updateIrq();
    return running;
}

void FpgaChip::State::powerOn()
{
    regs.fill(0);
    banks.clear();
    applied = loaded = replyFlag = false;
    applies = 0;
    pending = Pending::None;
    pairs = {};
    events.clear();
}

// ---- command decoding ----

void FpgaChip::State::frame(const uint8_t* tx, uint8_t* rx, size_t len)
{
    if (line(SelectWord) != 0) {
        note(format("transfer of %u bytes on device 1 while FPGA 0 is not selected", unsigned(len)));
        return;
    }
    if (line(Fpga1SelectWord) == 0)
        note("transfer on device 1 while FPGA 1 is selected too");
    const uint16_t phase = line(PhaseWord);
    if (phase == 16) {
        if (len == 4)
            command(tx);
        else
            note(format("data transfer of %u bytes while the command phase is 16", unsigned(len)));
    } else if (phase == 0) {
        data(tx, rx, len);
    } else {
        note(format("command phase word %u (neither 16 nor 0)", phase));
    }
}

void FpgaChip::State::command(const uint8_t* tx)
{
    if (pending == Pending::RegisterWrite || pending == Pending::RamWrite)
        note("write command without its data phase");
    pending = Pending::None;
    switch (tx[0]) {
    case 0x04:
    case 0x05:
        if (tx[1] != 0)
            note(format("register command with bank byte %02X", tx[1]));
        pending = tx[0] == 0x04 ? Pending::RegisterWrite : Pending::RegisterRead;
        pendingAddress = tx[2];
        pendingMask = tx[3];
        break;
    case 0x02:
    case 0x03:
        if (tx[3] & 0xF0)
            note(format("RAM command with address byte 3 = %02X (12-bit addresses)", tx[3]));
        pending = tx[0] == 0x02 ? Pending::RamWrite : Pending::RamRead;
        pendingBank = tx[1];
        pendingAddress = uint16_t(tx[2] | (tx[3] & 0x0F) << 8);
        break;
    default:
        note(format("unknown command %02X %02X %02X %02X", tx[0], tx[1], tx[2]) + format(" %02X", tx[3]));
    }
}

void FpgaChip::State::data(const uint8_t* tx, uint8_t* rx, size_t len)
{
    const Pending what = pending;
    pending = Pending::None;
    if (what == Pending::None) {
        note(format("data transfer of %u bytes without a command", unsigned(len)));
        return;
    }
    if ((what == Pending::RegisterWrite || what == Pending::RegisterRead) && len != 1)
        note(format("register data phase of %u bytes", unsigned(len)));
    if (len == 0)
        return;
    switch (what) {
    case Pending::RegisterWrite:
        record(Access::RegisterWrite, 0, pendingAddress, pendingMask, tx, 1);
        writeRegister(pendingAddress, tx[0], pendingMask);
        break;
    case Pending::RegisterRead: {
        const uint8_t v = readRegister(pendingAddress);
        if (rx)
            rx[0] = v;
        record(Access::RegisterRead, 0, pendingAddress, 0, &v, 1);
        break;
    }
    case Pending::RamWrite:
        record(Access::RamWrite, pendingBank, pendingAddress, 0, tx, len);
        writeRam(pendingBank, pendingAddress, tx, len);
        break;
    case Pending::RamRead: {
        if (pendingAddress + len > BankSize)
            note(format("RAM read of %u bytes at %u:%03X runs past the bank (wraps)", unsigned(len), pendingBank, pendingAddress));
        boost::container::small_vector<uint8_t, 64> got(len);
        for (size_t i = 0; i < len; ++i)
            got[i] = ramByte(pendingBank, (pendingAddress + i) % BankSize);
        if (rx)
            std::copy(got.begin(), got.end(), rx);
        record(Access::RamRead, pendingBank, pendingAddress, 0, got.data(), len);
        break;
    }
    case Pending::None:
        break;
    }
}

// The running program keeps no log (it polls for ever): then only a test's hook sees the access.
void FpgaChip::State::record(Access::Kind kind, uint8_t bank, uint16_t address, uint8_t mask, const uint8_t* bytes,
                             size_t len)
{
    ++seq;
    if (logLimit == 0 && !accessHook)
        return;
    Access a{seq, kind, bank, address, mask, std::vector<uint8_t>(bytes, bytes + len), tickSource ? tickSource() : 0};
    if (logLimit == 0) {
        accessHook(a);
        return;
    }
    while (log.size() >= logLimit)
        log.pop_front();
    log.push_back(std::move(a));
    if (accessHook)
        accessHook(log.back());
}

// ---- registers ----

uint8_t FpgaChip::State::readRegister(int reg)
{
    switch (reg) {
    case 0:
        return uint8_t(regs[0] | (faultFlag ? 0x08 : 0));
    case 23:
        return uint8_t((regs[23] & ~0x02) | ((regs[23] & 0x02) && (regs[41] & 0x01) ? 0x02 : 0));
    case 22: {
        uint8_t v = regs[22] & 0x07;
        if (replyFlag)
            v |= 0x20;
        if (take(&vboErrorReads))
            v |= 0x08;
        if (vboUp && (regs[3] & 0x80))
            v |= 0x10;
        if (linkLocked && (regs[3] & 0x40))
            v |= 0x80;
        return v;
    }
    case 28:
    case 29:
    case 30:
        return DesignBytes[reg - 28];
    case 31:
        return identity;
    case 40:
        return take(&linkDropReads) ? 0x03 : 0x1F;
    case 128:
    case 144: {
        uint8_t v = 0;
        for (int k = 0; k < 8; ++k)
            if (network.port((reg == 144 ? 8 : 0) + k).linked)
                v |= uint8_t(1u << k);
        return v;
    }
    case 129:
        return pairBits(0);
    case 145:
        return pairBits(4);
    case 130:
    case 146:
        return 0;
    default:
        if (reg < 0 || reg >= Registers) {
            note(format("read of register %u (beyond 170)", unsigned(reg)));
            return 0;
        }
        return regs[size_t(reg)];
    }
}

void FpgaChip::State::writeRegister(int reg, uint8_t value, uint8_t mask)
{
    if (reg < 0 || reg >= Registers) {
        note(format("write of register %u (beyond 170)", unsigned(reg)));
        return;
    }
    if (reg >= 28 && reg <= 31)
        return; // identity: read-only
    if (reg == 130 || reg == 146) {
        strobe(reg, uint8_t(value & mask));
        return;
    }
    if (reg == 22 && (mask & 0x20) && !(value & 0x20))
        replyFlag = false;
    if (reg == 2) {
        if (value & 0x06)
            note(format("register 2 written with %02X: bits 1 and 2 are the program's own requests", value));
        if (value & mask & 0x09)
            applied = true;
        if (value & mask & 0x08)
            loaded = true;
        if (value & mask & 0x01)
            ++applies;
    }
    regs[size_t(reg)] = uint8_t((regs[size_t(reg)] & ~mask) | (value & mask));
}

// ---- RAM ----

uint8_t* FpgaChip::State::bankBytes(int bank)
{
    auto& bytes = banks[bank];
    if (bytes.empty())
        bytes.assign(BankSize, 0);
    return bytes.data();
}

uint8_t FpgaChip::State::ramByte(int bank, uint32_t address)
{
    if (bank == 1 && address >= MeasureFirst && address < MeasureEnd) {
        if (!applied)
            return 0;
        const Picture in = pictureSource ? pictureSource() : fixedInput;
        const uint8_t measured[8] = {uint8_t(in.width), uint8_t(in.width >> 8),
                                     uint8_t(in.height), uint8_t(in.height >> 8),
                                     uint8_t(in.framePeriod), uint8_t(in.framePeriod >> 8),
                                     uint8_t(in.framePeriod >> 16), uint8_t(in.framePeriod >> 24)};
        return measured[address - MeasureFirst];
    }
    auto it = banks.find(bank);
    const uint8_t v = it == banks.end() ? 0 : it->second[address];
    return bank == 1 && address == 8 && ramMismatch ? uint8_t(~v) : v;
}

void FpgaChip::State::writeRam(int bank, uint16_t address, const uint8_t* bytes, size_t length)
{
    if (address + length > BankSize)
        note(format("RAM write of %u bytes at %u:%03X runs past the bank (wraps)", unsigned(length), unsigned(bank), address));
    const int txPair = (bank - 3) / 2;
    if (bank >= 3 && bank <= 17 && bank % 2 == 1 && pairs[size_t(txPair)].busy)
        note(format("TX bank %u written while pair %u is still sending", unsigned(bank), unsigned(txPair)));
    uint8_t* b = bankBytes(bank);
    for (size_t i = 0; i < length; ++i) {
        const size_t at = (address + i) % BankSize;
        if (bank == 1 && at >= MeasureFirst && at < MeasureEnd)
            continue; // the FPGA's own measurement
        b[at] = bytes[i];
    }
}

// ---- bus and test face ----

FpgaChip::FpgaChip() : s_(std::make_unique<State>()) {}
FpgaChip::~FpgaChip() = default;

bool FpgaChip::transfer(const uint8_t* tx, uint8_t* rx, size_t len)
{
    std::lock_guard<std::mutex> lock(s_->mutex);
    if (s_->failNext > 0) {
        --s_->failNext;
        return false;
    }
    if (rx)
        std::fill(rx, rx + len, 0);
    if (!s_->sampleReset() || !tx)
        return true; // in reset: reads 0, writes are lost
    ++s_->clock;
    s_->runDue();
    s_->frame(tx, rx, len);
    s_->updateIrq();
    return true;
}

void FpgaChip::setBusSetup(const BusSetup& setup)
{
    std::lock_guard<std::mutex> lock(s_->mutex);
    s_->bus = setup;
}

void FpgaChip::watchLines()
{
    std::lock_guard<std::mutex> lock(s_->mutex);
    s_->sampleReset();
}

void FpgaChip::setClockGate(std::function<bool()> ready)
{
    std::lock_guard<std::mutex> lock(s_->mutex);
    s_->clockGate = std::move(ready);
}

void FpgaChip::reset()
{
    std::unique_ptr<State> old; // goes after its mutex is released
    std::lock_guard<std::mutex> lock(s_->mutex);
    old = std::move(s_);
    s_ = std::make_unique<State>();
    s_->updateIrq();
}

bool FpgaChip::running() const
{
    std::lock_guard<std::mutex> lock(s_->mutex);
    return s_->running;
}

FpgaChip::BusSetup FpgaChip::busSetup() const
{
    std::lock_guard<std::mutex> lock(s_->mutex);
    return s_->bus;
}

uint8_t FpgaChip::registerValue(int reg) const
{
    std::lock_guard<std::mutex> lock(s_->mutex);
    return reg >= 0 && reg < Registers ? s_->regs[size_t(reg)] : 0;
}

void FpgaChip::setRegister(int reg, uint8_t value)
{
    std::lock_guard<std::mutex> lock(s_->mutex);
    if (reg >= 0 && reg < Registers)
        s_->regs[size_t(reg)] = value;
}

std::vector<uint8_t> FpgaChip::ram(int bank, uint16_t address, size_t length) const
{
    std::lock_guard<std::mutex> lock(s_->mutex);
    std::vector<uint8_t> out(length, 0);
    auto it = s_->banks.find(bank);
    for (size_t i = 0; it != s_->banks.end() && i < length && address + i < BankSize; ++i)
        out[i] = it->second[address + i];
    if (bank == 1)
        for (size_t i = 0; i < length && address + i < BankSize; ++i)
            if (address + i >= MeasureFirst && address + i < MeasureEnd)
                out[i] = s_->ramByte(1, uint32_t(address + i));
    return out;
}

void FpgaChip::setRam(int bank, uint16_t address, const std::vector<uint8_t>& bytes)
{
    std::lock_guard<std::mutex> lock(s_->mutex);
    uint8_t* b = s_->bankBytes(bank);
    for (size_t i = 0; i < bytes.size() && address + i < BankSize; ++i)
        b[address + i] = bytes[i];
}

bool FpgaChip::canvasApplied() const
{
    std::lock_guard<std::mutex> lock(s_->mutex);
    return s_->applied;
}

bool FpgaChip::imageLoaded() const
{
    std::lock_guard<std::mutex> lock(s_->mutex);
    return s_->loaded;
}

int FpgaChip::applyCount() const
{
    std::lock_guard<std::mutex> lock(s_->mutex);
    return s_->applies;
}

bool FpgaChip::pictureOut() const
{
    std::lock_guard<std::mutex> lock(s_->mutex);
    const auto& r = s_->regs;
    return s_->running && s_->loaded && (r[23] & 0x01) && !(r[23] & 0x08) && (r[3] & 0x20) && !(r[0] & 0x04);
}

void FpgaChip::setAccessHook(std::function<void(const Access&)> hook)
{
    std::lock_guard<std::mutex> lock(s_->mutex);
    s_->accessHook = std::move(hook);
}

void FpgaChip::setTickSource(std::function<uint32_t()> ticks)
{
    std::lock_guard<std::mutex> lock(s_->mutex);
    s_->tickSource = std::move(ticks);
}

void FpgaChip::setMeasuredInput(uint16_t width, uint16_t height, uint32_t framePeriod)
{
    std::lock_guard<std::mutex> lock(s_->mutex);
    s_->fixedInput = {width, height, framePeriod};
}

void FpgaChip::setPictureSource(std::function<Picture()> source)
{
    std::lock_guard<std::mutex> lock(s_->mutex);
    s_->pictureSource = std::move(source);
}

FpgaChip::Picture scalerOutput()
{
    const C331Chip::OutputTiming t = c331Chip().outputTiming(0);
    const C331Chip::OutputTiming second = c331Chip().outputTiming(1);
    const bool pair = second.htotal == t.htotal && second.vtotal == t.vtotal && second.vactive == t.vactive;
    const uint32_t width = t.hactive + (pair ? second.hactive : 0);
    const uint64_t clocks = uint64_t(t.htotal) * t.vtotal * 50000000u;
    return {uint16_t(std::min<uint32_t>(width, 0xFFFF)), uint16_t(std::min<uint32_t>(t.vactive, 0xFFFF)),
            uint32_t(std::min<uint64_t>((clocks + C331Chip::OutputPixelClockHz / 2) / C331Chip::OutputPixelClockHz, UINT32_MAX))};
}

std::vector<FpgaChip::Access> FpgaChip::log() const
{
    std::lock_guard<std::mutex> lock(s_->mutex);
    return std::vector<Access>(s_->log.begin(), s_->log.end());
}

std::vector<uint8_t> FpgaChip::registerWrites(int reg) const
{
    std::vector<uint8_t> out;
    for (const Access& a : log())
        if (a.kind == Access::RegisterWrite && a.address == reg)
            out.push_back(a.data[0]);
    return out;
}

void FpgaChip::clearLog()
{
    std::lock_guard<std::mutex> lock(s_->mutex);
    s_->log.clear();
}

void FpgaChip::setLogLimit(size_t accesses)
{
    std::lock_guard<std::mutex> lock(s_->mutex);
    s_->logLimit = accesses;
    while (s_->log.size() > accesses)
        s_->log.pop_front();
}

std::vector<std::string> FpgaChip::violations() const
{
    std::lock_guard<std::mutex> lock(s_->mutex);
    return s_->violations;
}

void FpgaChip::clearViolations()
{
    std::lock_guard<std::mutex> lock(s_->mutex);
    s_->violations.clear();
}

void FpgaChip::setIdentity(uint8_t id)
{
    std::lock_guard<std::mutex> lock(s_->mutex);
    s_->identity = id;
}

void FpgaChip::setVboErrorReads(int reads)
{
    std::lock_guard<std::mutex> lock(s_->mutex);
    s_->vboErrorReads = reads;
}

void FpgaChip::setLinkLocked(bool locked)
{
    std::lock_guard<std::mutex> lock(s_->mutex);
    s_->linkLocked = locked;
}

void FpgaChip::setVboUp(bool up)
{
    std::lock_guard<std::mutex> lock(s_->mutex);
    s_->vboUp = up;
}

void FpgaChip::setLinkDropReads(int reads)
{
    std::lock_guard<std::mutex> lock(s_->mutex);
    s_->linkDropReads = reads;
}

void FpgaChip::setFaultFlag(bool set)
{
    std::lock_guard<std::mutex> lock(s_->mutex);
    s_->faultFlag = set;
}

void FpgaChip::setRamCheckMismatch(bool set)
{
    std::lock_guard<std::mutex> lock(s_->mutex);
    s_->ramMismatch = set;
}

void FpgaChip::failNextTransfers(int n)
{
    std::lock_guard<std::mutex> lock(s_->mutex);
    s_->failNext = std::max(0, n);
}

FpgaChip& fpgaChip()
{
    static FpgaChip chip;
    return chip;
}

}
