#include "platform/sim/devices/c331_flash.h"

#include "platform/paths.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <stdexcept>
#include <unistd.h>

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
    mem_.clear();
    palette.fill(0);
    paletteIndex_ = paletteByte_ = 0;
}

void C331Flash::resetArray()
{
    pages_.clear();
    loaded_ = true;
    fileStale_ = true;
    persistFailed_ = false;
    chipEraseSeen = false;
    // Font headers only: 'P' marks a present font, bytes 17 and 18 give the glyph size.
    const struct { uint32_t base; uint8_t size; } fonts[] = {
        {0x000000, 32}, {0x010000, 32}, {0x410000, 64}, {0x450000, 64}};
    // Kept in memory only: the file is rewritten whole at the first change.
    for (const auto& f : fonts) {
        pageFor(f.base)[f.base % PageSize] = 'P';
        pageFor(f.base)[(f.base + 17) % PageSize] = f.size;
        pageFor(f.base)[(f.base + 18) % PageSize] = f.size;
    }
}

void C331Flash::reloadArray()
{
    pages_.clear();
    loaded_ = false;
    fileStale_ = false;
    persistFailed_ = false;
    mem_.clear();
}

// The file holds the array inverted, so its holes read as erased flash and a mostly empty 32 MiB
// flash stays a small sparse file. A missing file is a flash with only the font headers.
void C331Flash::ensureLoaded() const
{
    if (loaded_)
        return;
    loaded_ = true;
    const int fd = ::open(Paths::resolve(C331Chip::FlashFile).c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        const_cast<C331Flash*>(this)->resetArray();
        return;
    }
    std::vector<uint8_t> page(PageSize);
    off_t at = 0;
    while (at < off_t(C331Chip::FlashSize)) {
        const off_t data = ::lseek(fd, at, SEEK_DATA);
        if (data < 0)
            break;
        off_t hole = ::lseek(fd, data, SEEK_HOLE);
        if (hole < 0)
            hole = C331Chip::FlashSize;
        for (off_t p = data / PageSize * PageSize; p < hole && p < off_t(C331Chip::FlashSize); p += PageSize) {
            const ssize_t got = ::pread(fd, page.data(), PageSize, p);
            if (got <= 0)
                break;
            std::fill(page.begin() + got, page.end(), 0);
            bool erased = true;
            for (uint8_t& b : page) {
                b = uint8_t(~b);
                erased &= b == 0xFF;
            }
            if (!erased)
                pages_[uint32_t(p / PageSize)] = page;
        }
        at = hole;
    }
    ::close(fd);
}

void C331Flash::persist(uint32_t firstPage, uint32_t pages)
{
    if (persistFailed_)
        return;
    const std::string path = Paths::resolve(C331Chip::FlashFile);
    std::error_code ec;
    std::filesystem::create_directories(std::filesystem::path(path).parent_path(), ec);
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    bool ok = fd >= 0;
    std::vector<uint8_t> inverted(PageSize);
    auto put = [&](uint32_t index) {
        auto it = pages_.find(index);
        for (uint32_t i = 0; i < PageSize; ++i)
            inverted[i] = it == pages_.end() ? 0 : uint8_t(~it->second[i]);
        ok = ok && ::pwrite(fd, inverted.data(), PageSize, off_t(index) * PageSize) == ssize_t(PageSize);
    };
    if (ok && fileStale_) {
        ok = ::ftruncate(fd, 0) == 0 && ::ftruncate(fd, C331Chip::FlashSize) == 0;
        for (const auto& p : pages_)
            put(p.first);
        fileStale_ = false;
    } else {
        for (uint32_t i = 0; i < pages; ++i)
            put(firstPage + i);
    }
    if (fd >= 0)
        ::close(fd);
    if (!ok) {
        persistFailed_ = true;
        violation_("flash file " + path + " cannot be written; the flash will not persist");
    }
}

std::vector<uint8_t> C331Flash::load(uint32_t address, size_t length) const
{
    if (address > C331Chip::FlashSize || length > C331Chip::FlashSize - address)
        throw std::out_of_range("flash range beyond 32 MiB");
    ensureLoaded();
    std::vector<uint8_t> out(length);
    for (size_t i = 0; i < length; ++i)
        out[i] = byteAt(address + uint32_t(i));
    return out;
}

void C331Flash::store(uint32_t address, const std::vector<uint8_t>& bytes)
{
    if (address > C331Chip::FlashSize || bytes.size() > C331Chip::FlashSize - address)
        throw std::out_of_range("flash range beyond 32 MiB");
    ensureLoaded();
    for (size_t i = 0; i < bytes.size(); ++i)
        pageFor(address + uint32_t(i))[(address + i) % PageSize] = bytes[i];
    if (!bytes.empty())
        persist(address / PageSize, uint32_t((address + bytes.size() - 1) / PageSize - address / PageSize + 1));
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
    ensureLoaded();
    auto it = pages_.find(address / PageSize);
    return it == pages_.end() ? 0xFF : it->second[address % PageSize];
}

uint8_t* C331Flash::pageFor(uint32_t address)
{
    ensureLoaded();
    auto& page = pages_[address / PageSize];
    if (page.empty())
        page.assign(PageSize, 0xFF);
    return page.data();
}

void C331Flash::written(uint8_t addr, uint8_t value)
{
    switch (addr) {
    case 0x08:
        if (value == 1)
            engineFill();
        else if (value == 2)
            engineCopy();
        else if (value == 3)
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
        persist(page / PageSize, 1);
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
    ensureLoaded();
    pages_.erase(pages_.lower_bound(base / PageSize), pages_.lower_bound((base + unit) / PageSize));
    persist(base / PageSize, unit / PageSize);
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
        ensureLoaded();
        pages_.clear();
        fileStale_ = true;
        persist(0, 0);
        chipEraseSeen = true;
        busyFlash(&eraseBusy_);
        break;
    default:
        break;
    }
}

// Flash-to-memory transfer: target 0 into chip memory, 4 into the palette from the entry named;
// the character-generator memory (target 1) is only logged.
void C331Flash::transferToMemory()
{
    C331Chip::Dma d{committed_, reg(4, 0x56, 4) & 0x7FFFFFFF, uint8_t(reg(4, 0x5A, 1)), 0};
    switch (d.target) {
    case 0: d.dest = reg(4, 0x11, 4); break;
    case 1: d.dest = reg(4, 0x27, 2); break;
    case 4: d.dest = reg(9, 0x1F, 1); break;
    default: violation_(hex("memory transfer to unknown target %u", d.target));
    }
    dmaLog.push_back(d);
    dmaBusy_ = busyPolls;
    if (d.size > C331Chip::FlashSize - d.flashAddr) {
        violation_(hex("memory transfer from 0x%X runs past the flash", d.flashAddr));
        return;
    }
    if (d.target == 4) {
        const std::vector<uint8_t> bytes = load(d.flashAddr, std::min<size_t>(d.size, palette.size()));
        for (size_t i = 0; i < bytes.size() && d.dest * 3 + i < palette.size(); ++i)
            palette[d.dest * 3 + i] = bytes[i];
        return;
    }
    if (d.target != 0)
        return;
    if (uint64_t(d.dest) + d.size > 0x100000000ull) {
        violation_(hex("memory transfer to 0x%X runs past the chip memory", d.dest));
        return;
    }
    ensureLoaded();
    // Chunk by chunk inside one flash page and one memory page; erased flash onto never written
    // memory changes nothing, so the fonts' empty areas cost nothing.
    uint32_t done = 0;
    std::vector<uint8_t> chunk;
    while (done < d.size) {
        const uint32_t from = d.flashAddr + done, to = d.dest + done;
        const uint32_t n = std::min({d.size - done, PageSize - from % PageSize, PageSize - to % PageSize});
        const bool flashErased = pages_.find(from / PageSize) == pages_.end();
        if (!(flashErased && mem_.find(to / PageSize) == mem_.end())) {
            chunk.assign(n, 0xFF);
            if (!flashErased)
                std::memcpy(chunk.data(), pages_[from / PageSize].data() + from % PageSize, n);
            memWrite(to, chunk.data(), n);
        }
        done += n;
    }
}

uint8_t* C331Flash::memPage(uint32_t address)
{
    auto& page = mem_[address / PageSize];
    if (page.empty())
        page.assign(PageSize, 0xFF);
    return page.data();
}

void C331Flash::memWrite(uint32_t address, const uint8_t* data, size_t length)
{
    while (length > 0) {
        const size_t n = std::min<size_t>(length, PageSize - address % PageSize);
        std::memcpy(memPage(address) + address % PageSize, data, n);
        address += uint32_t(n);
        data += n;
        length -= n;
    }
}

void C331Flash::memFill(uint32_t address, uint8_t value, size_t length)
{
    while (length > 0) {
        const size_t n = std::min<size_t>(length, PageSize - address % PageSize);
        std::memset(memPage(address) + address % PageSize, value, n);
        address += uint32_t(n);
        length -= n;
    }
}

void C331Flash::memRead(uint32_t address, uint8_t* out, size_t length) const
{
    while (length > 0) {
        const size_t n = std::min<size_t>(length, PageSize - address % PageSize);
        auto it = mem_.find(address / PageSize);
        if (it == mem_.end())
            std::memset(out, 0xFF, n);
        else
            std::memcpy(out, it->second.data() + address % PageSize, n);
        address += uint32_t(n);
        out += n;
        length -= n;
    }
}

std::vector<uint8_t> C331Flash::memory(uint32_t address, size_t length) const
{
    if (uint64_t(address) + length > 0x100000000ull)
        throw std::out_of_range("chip memory range beyond 4 GiB");
    std::vector<uint8_t> out(length);
    memRead(address, out.data(), length);
    return out;
}

void C331Flash::paletteWritten(uint8_t addr, uint8_t value)
{
    if (addr == 0x1F) {
        paletteIndex_ = value;
        paletteByte_ = 0;
    } else if (addr == 0x20) {
        palette[paletteIndex_ * 3u + paletteByte_] = value;
        if (++paletteByte_ == 3) {
            paletteByte_ = 0;
            ++paletteIndex_;
        }
    }
}

namespace {

// An engine job must stay in the memory below 4 GiB: lines x stride from its address.
bool fits(uint32_t address, uint64_t lines, uint64_t stride, uint64_t width)
{
    return lines == 0 || uint64_t(address) + (lines - 1) * stride + width <= 0x100000000ull;
}

}

// Fill: 0x11 destination, 0x0D width, 0x0F lines, 0x15 stride (128-byte units), 0x18 value.
void C331Flash::engineFill()
{
    const uint32_t dest = reg(4, 0x11, 4), w = reg(4, 0x0D, 2), h = reg(4, 0x0F, 2);
    const uint32_t stride = reg(4, 0x15, 2) * 128;
    genBusy_ = busyPolls;
    if (w > stride || !fits(dest, h, stride, w)) {
        violation_(hex("OSD fill of width %u does not fit its stride or the memory", w));
        return;
    }
    for (uint32_t y = 0; y < h; ++y)
        memFill(dest + y * stride, uint8_t(reg(4, 0x18, 1)), w);
}

// Copy: 0x09 source, 0x11 destination, 0x0D width, 0x0F lines, 0x15 stride of both.
void C331Flash::engineCopy()
{
    const uint32_t from = reg(4, 0x09, 4), to = reg(4, 0x11, 4), w = reg(4, 0x0D, 2), h = reg(4, 0x0F, 2);
    const uint32_t stride = reg(4, 0x15, 2) * 128;
    genBusy_ = busyPolls;
    if (!fits(from, h, stride, w) || !fits(to, h, stride, w)) {
        violation_("OSD copy runs past the memory");
        return;
    }
    std::vector<uint8_t> line(w);
    for (uint32_t y = 0; y < h; ++y) {
        memRead(from + y * stride, line.data(), w);
        memWrite(to + y * stride, line.data(), w);
    }
}

// Character generator: each 5-byte record (glyph index low, high, foreground index, background
// index, advance) draws `advance` columns of its glyph (background past the glyph's width) at the
// destination (0x11), glyphs of 0x1F pixels square from the font at 0x1B, lines 0x15 x 128 apart.
void C331Flash::startGenerator()
{
    if (charFifo_.size() % 5)
        violation_(hex("character FIFO holds %u bytes, not whole 5-byte records", uint32_t(charFifo_.size())));
    charRuns.push_back(charFifo_);
    genBusy_ = busyPolls;
    const size_t records = std::min<size_t>(charFifo_.size() / 5, reg(4, 0x19, 2) + 1u);
    const uint32_t font = reg(4, 0x1B, 4), size = reg(4, 0x1F, 1), stride = reg(4, 0x15, 2) * 128;
    uint32_t x = reg(4, 0x11, 4);
    if (size != 32 && size != 64) { // no glyph size set: the run is only logged
        charFifo_.clear();
        return;
    }
    const uint32_t glyphBytes = size * size / 8, rowBytes = size / 8;
    std::vector<uint8_t> glyph(glyphBytes), row;
    for (size_t k = 0; k < records; ++k) {
        const uint8_t* r = &charFifo_[5 * k];
        const uint32_t index = uint32_t(r[0]) | uint32_t(r[1]) << 8, advance = r[4];
        if (!fits(x, size, stride, advance) || uint64_t(font) + uint64_t(index + 1) * glyphBytes > 0x100000000ull) {
            violation_("character generator draws past the memory");
            break;
        }
        memRead(font + index * glyphBytes, glyph.data(), glyphBytes);
        row.assign(advance, r[3]);
        for (uint32_t y = 0; y < size; ++y) {
            for (uint32_t c = 0; c < advance && c < size; ++c)
                row[c] = (glyph[y * rowBytes + c / 8] >> (7 - c % 8)) & 1 ? r[2] : r[3];
            memWrite(x + y * stride, row.data(), advance);
        }
        x += advance;
    }
    charFifo_.clear();
}

}
