#include "platform/sim/devices/c331_flash.h"

#include <cstdio>
#include <stdexcept>

namespace platform::Sim {
namespace {

constexpr uint32_t PageSize = 4096;   // storage granule of the model
constexpr size_t ProgramPage = 256;   // the flash's program page and write FIFO depth
constexpr size_t CharFifoDepth = 128 * 5; // one text line of the generator

std::string hex(const char* format, uint32_t value)
{
    char text[96];
    std::snprintf(text, sizeof text, format, value);
    return text;
}

// Counts one status read; the busy bit shows while reads are left.
bool poll(int* left)
{
    if (*left <= 0)
        return false;
    --*left;
    return true;
}

}

C331Flash::C331Flash(const std::vector<uint8_t>& cells, Report violation)
    : cells_(cells), violation_(std::move(violation))
{
}

void C331Flash::reset()
{
    committed_ = readAt_ = 0;
    writeFifo_.clear();
    charFifo_.clear();
    reading_ = wel_ = false;
    fifoBusy_ = readBusy_ = dmaBusy_ = writeBusy_ = eraseBusy_ = wip_ = genBusy_ = 0;
    busyPolls = 0;
    welFault = C331Chip::WelFault::None;
    dmaLog.clear();
    charRuns.clear();
}

void C331Flash::resetArray()
{
    pages_.clear();
    chipEraseSeen = false;
    // Font headers only: 'P' marks a present font, bytes 17 and 18 give the glyph size.
    const struct { uint32_t base; uint8_t size; } fonts[] = {
        {0x000000, 32}, {0x010000, 32}, {0x410000, 64}, {0x450000, 64}};
    for (const auto& f : fonts)
        store(f.base, {'P'}), store(f.base + 17, {f.size, f.size});
}

std::vector<uint8_t> C331Flash::load(uint32_t address, size_t length) const
{
    if (address > C331Chip::FlashSize || length > C331Chip::FlashSize - address)
        throw std::out_of_range("flash range beyond 32 MiB");
    std::vector<uint8_t> out(length);
    for (size_t i = 0; i < length; ++i)
        out[i] = byteAt(address + uint32_t(i));
    return out;
}

void C331Flash::store(uint32_t address, const std::vector<uint8_t>& bytes)
{
    if (address > C331Chip::FlashSize || bytes.size() > C331Chip::FlashSize - address)
        throw std::out_of_range("flash range beyond 32 MiB");
    for (size_t i = 0; i < bytes.size(); ++i)
        pageFor(address + uint32_t(i))[(address + i) % PageSize] = bytes[i];
}

uint32_t C331Flash::reg(uint8_t bank, uint8_t addr, int width) const
{
    uint32_t v = 0;
    for (int i = width - 1; i >= 0; --i)
        v = v << 8 | cells_[bank * 128u + addr + i];
    return v;
}

uint8_t C331Flash::byteAt(uint32_t address) const
{
    auto it = pages_.find(address / PageSize);
    return it == pages_.end() ? 0xFF : it->second[address % PageSize];
}

uint8_t* C331Flash::pageFor(uint32_t address)
{
    auto& page = pages_[address / PageSize];
    if (page.empty())
        page.assign(PageSize, 0xFF);
    return page.data();
}

void C331Flash::written(uint8_t addr, uint8_t value)
{
    switch (addr) {
    case 0x08:
        if (value == 3)
            startGenerator();
        break;
    case 0x29:
        if (charFifo_.size() < CharFifoDepth)
            charFifo_.push_back(value);
        else
            violation_("character FIFO 04:29 overflow");
        break;
    case 0x48:
        startJob(value);
        break;
    case 0x51:
        commitAddress();
        break;
    case 0x52:
        if (writeFifo_.size() < ProgramPage)
            writeFifo_.push_back(value);
        else
            violation_("write FIFO 04:52 overflow (more than one page)");
        break;
    case 0x53:
        if (value & 1) {
            readAt_ = committed_;
            reading_ = true;
            readBusy_ = busyPolls;
        }
        break;
    default:
        break;
    }
}

bool C331Flash::read(uint8_t addr, uint8_t cell, uint8_t* value)
{
    switch (addr) {
    case 0x17: // done = 1
        *value = uint8_t((cell & ~1) | (poll(&genBusy_) ? 0 : 1));
        return true;
    case 0x52:
        *value = reading_ ? byteAt(readAt_) : 0xFF;
        if (reading_)
            readAt_ = (readAt_ + 1) % C331Chip::FlashSize;
        return true;
    case 0x53: {
        const bool fifoBusy = poll(&fifoBusy_), readBusy = poll(&readBusy_);
        const bool empty = writeFifo_.empty() && !fifoBusy;
        *value = uint8_t((cell & 0x5F) | (empty ? 0x20 : 0) | (readBusy ? 0x80 : 0));
        return true;
    }
    case 0x54:
        *value = uint8_t((poll(&dmaBusy_) ? 1 : 0) | (poll(&writeBusy_) ? 2 : 0) | (poll(&eraseBusy_) ? 8 : 0));
        return true;
    case 0x55: {
        const bool wip = poll(&wip_);
        *value = uint8_t((wip ? 1 : 0) | (wel_ ? 2 : 0));
        if (wip && wip_ == 0 && welFault == C331Chip::WelFault::None)
            wel_ = false; // that was the last busy read: the job ends and the flash drops WEL
        return true;
    }
    default:
        return false;
    }
}

bool C331Flash::writeEnableSet(const char* what)
{
    // The controller sends the write-enable command of 04:4C before each program and erase.
    if (cells_[4 * 128 + 0x4C] == 0x06)
        return true;
    violation_(hex((std::string(what) + " without write enable (04:4C = %02X)").c_str(), cells_[4 * 128 + 0x4C]));
    return false;
}

// A program or erase: WEL and WIP set until the job ends.
void C331Flash::busyFlash(int* phaseBusy)
{
    wel_ = true;
    *phaseBusy = wip_ = busyPolls;
    if (wip_ == 0 && welFault == C331Chip::WelFault::None)
        wel_ = false;
}

// Writing the last address byte programs what the FIFO collected at the previous address, wrapping
// inside its 256-byte page as the flash does.
void C331Flash::commitAddress()
{
    uint32_t next = reg(4, 0x4E, 4);
    if (next >= C331Chip::FlashSize) {
        violation_(hex("flash address 0x%X beyond 32 MiB", next));
        next %= C331Chip::FlashSize;
    }
    if (!writeFifo_.empty() && writeEnableSet("page program")) {
        const uint32_t page = committed_ & ~uint32_t(ProgramPage - 1);
        for (size_t i = 0; i < writeFifo_.size(); ++i) {
            const uint32_t at = page | ((committed_ + i) & (ProgramPage - 1));
            pageFor(at)[at % PageSize] &= writeFifo_[i];
        }
        fifoBusy_ = busyPolls;
        busyFlash(&writeBusy_);
    }
    writeFifo_.clear();
    committed_ = next;
}

void C331Flash::startJob(uint8_t op)
{
    switch (op) {
    case 0:
        break;
    case 2:
        transferToMemory();
        break;
    case 4:
        switch (reg(4, 0x4B, 1)) {
        case 0x20: erase(0x1000); break;
        case 0x52: erase(0x8000); break;
        case 0xD8: erase(0x10000); break;
        default: violation_(hex("erase started with 04:4B = %02X", reg(4, 0x4B, 1)));
        }
        break;
    case 5:
        runCommand(uint8_t(reg(4, 0x4B, 1)));
        break;
    default:
        violation_(hex("unknown flash operation 04:48 = %02X", op));
    }
}

void C331Flash::erase(uint32_t unit)
{
    if (!writeEnableSet("erase"))
        return;
    const uint32_t base = committed_ & ~(unit - 1);
    pages_.erase(pages_.lower_bound(base / PageSize), pages_.lower_bound((base + unit) / PageSize));
    busyFlash(&eraseBusy_);
}

void C331Flash::runCommand(uint8_t command)
{
    switch (command) {
    case 0x04: // WRDI
        if (welFault != C331Chip::WelFault::Stuck)
            wel_ = false;
        break;
    case 0x06: // WREN
        wel_ = true;
        break;
    case 0xC7: // chip erase: only ever on an explicit command start
        pages_.clear();
        chipEraseSeen = true;
        busyFlash(&eraseBusy_);
        break;
    default:
        break;
    }
}

// Flash-to-memory transfer. The model keeps no chip memory: the log says what went where.
void C331Flash::transferToMemory()
{
    C331Chip::Dma d{committed_, reg(4, 0x56, 4) & 0x7FFFFFFF, uint8_t(reg(4, 0x5A, 1)), 0};
    switch (d.target) {
    case 0: d.dest = reg(4, 0x11, 4); break;
    case 1: d.dest = reg(4, 0x27, 2); break;
    case 4: d.dest = reg(9, 0x1F, 1); break;
    default: violation_(hex("memory transfer to unknown target %u", d.target));
    }
    if (d.size > C331Chip::FlashSize - d.flashAddr)
        violation_(hex("memory transfer from 0x%X runs past the flash", d.flashAddr));
    dmaLog.push_back(d);
    dmaBusy_ = busyPolls;
}

void C331Flash::startGenerator()
{
    if (charFifo_.size() % 5)
        violation_(hex("character FIFO holds %u bytes, not whole 5-byte records", uint32_t(charFifo_.size())));
    charRuns.push_back(charFifo_);
    charFifo_.clear();
    genBusy_ = busyPolls;
}

}
