#include "platform/sim/devices/fpga_flash.h"

#include "platform/paths.h"
#include "platform/sim/devices/fpga_chip.h"
#include "platform/sim/sim_board.h"

#include <algorithm>
#include <cstdio>
#include <deque>
#include <fcntl.h>
#include <filesystem>
#include <mutex>
#include <sys/stat.h>
#include <unistd.h>

namespace platform::Sim {
namespace {

constexpr int DefaultBusyPolls = 2;
constexpr size_t LogLimit = 1 << 16; // a busy wait polls the status thousands of times
constexpr std::array<uint8_t, 8> DefaultUniqueId = {0x51, 0x7A, 0x30, 0x46, 0x92, 0x0C, 0xE5, 0x18};

std::string format(const char* f, uint32_t a, uint32_t b = 0)
{
    char text[128];
    std::snprintf(text, sizeof text, f, a, b);
    return text;
}

uint16_t line(uint32_t offset)
{
    return memSim().read16(FpgaChip::WindowBase + offset);
}

}

struct FpgaFlash::State {
    void ensureLoaded();
    void persist(uint32_t address, size_t length);
    void command(const uint8_t* tx, uint8_t* rx, size_t len);
    bool writable(const char* what, uint32_t address);
    void startJob();
    void erase(uint32_t address, uint32_t unit);
    void program(uint32_t address, const uint8_t* data, size_t n);
    void note(const std::string& v) { violations.push_back(v); }

    mutable std::mutex mutex;
    std::vector<uint8_t> array; // empty until loaded
    size_t stored = 0;          // bytes the file holds; the flash past them is erased
    bool persistFailed = false;
    bool wel = false;
    int busyLeft = 0;
    int busyPolls = DefaultBusyPolls;
    bool stuck = false;
    bool absent = false;
    int failNext = 0;
    uint32_t failProgramAddress = 0;
    int failPrograms = 0;
    std::array<uint8_t, 8> uid = DefaultUniqueId;
    std::deque<Op> log; // the newest LogLimit operations
    uint64_t seq = 0;
    std::vector<std::string> violations;
    BusSetup bus;
};

// The file holds the flash up to its length; what lies past it is erased. It grows only as far as
// something is written, so a fresh board does not write 8 MiB of erased bytes each time.
void FpgaFlash::State::ensureLoaded()
{
    if (!array.empty())
        return;
    array.assign(Size, 0xFF);
    stored = 0;
    const std::string path = Paths::resolve(File);
    std::error_code ec;
    std::filesystem::create_directories(std::filesystem::path(path).parent_path(), ec);
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) {
        persistFailed = true;
        note("flash file " + path + " cannot be opened; the flash will not persist");
        return;
    }
    ssize_t got = 0;
    for (ssize_t n; size_t(got) < Size && (n = ::pread(fd, array.data() + got, Size - size_t(got), got)) > 0;)
        got += n;
    stored = got > 0 ? size_t(got) : 0;
    // A read cut short leaves the rest erased (the array is filled with 0xFF above); a longer file
    // is cut to the flash's size.
    struct stat st {};
    const bool fitted = ::fstat(fd, &st) == 0 && (size_t(st.st_size) <= Size || ::ftruncate(fd, Size) == 0);
    ::close(fd);
    if (!fitted) {
        persistFailed = true;
        note("flash file " + path + " cannot be written; the flash will not persist");
    }
}

void FpgaFlash::State::persist(uint32_t address, size_t length)
{
    if (persistFailed)
        return;
    const int fd = ::open(Paths::resolve(File).c_str(), O_WRONLY | O_CLOEXEC);
    // Past the file's end, the erased bytes before the range are written too: a hole would read 0.
    const size_t from = std::min<size_t>(address, stored);
    const size_t n = address + length - from;
    const bool ok = fd >= 0 && ::pwrite(fd, array.data() + from, n, off_t(from)) == ssize_t(n);
    if (fd >= 0)
        ::close(fd);
    if (!ok) {
        persistFailed = true;
        note("flash file write failed; the flash will not persist");
        return;
    }
    stored = std::max(stored, address + length);
}

bool FpgaFlash::State::writable(const char* what, uint32_t address)
{
    if (wel)
        return true;
    note(format((std::string(what) + " at 0x%06X without write enable").c_str(), address));
    return false;
}

// An erase or program: busy for a few status reads; write enable drops when it ends.
void FpgaFlash::State::startJob()
{
    busyLeft = busyPolls;
    if (busyLeft == 0)
        wel = false;
}

void FpgaFlash::State::erase(uint32_t address, uint32_t unit)
{
    if (address % unit)
        note(format("erase of 0x%X bytes at 0x%06X is not aligned (the whole block goes)", unit, address));
    const uint32_t base = address & ~(unit - 1);
    std::fill(array.begin() + base, array.begin() + base + unit, 0xFF);
    persist(base, unit);
    startJob();
}

// Data past the page end wraps to the page start, as the flash does; past 256 bytes only the last
// 256 count.
void FpgaFlash::State::program(uint32_t address, const uint8_t* data, size_t n)
{
    if (n > PageSize) {
        note(format("page program at 0x%06X with %u bytes (only the last 256 count)", address, uint32_t(n)));
        data += n - PageSize;
        address += uint32_t(n - PageSize);
        n = PageSize;
    }
    const uint32_t page = address & ~(PageSize - 1), offset = address % PageSize;
    if (offset + n > PageSize)
        note(format("page program at 0x%06X runs %u bytes past the page end", address, uint32_t(offset + n - PageSize)));
    bool unerased = false;
    for (size_t i = 0; i < n; ++i) {
        uint8_t& cell = array[page + ((offset + i) % PageSize)];
        unerased = unerased || (data[i] & ~cell);
        cell &= data[i];
    }
    if (unerased)
        note(format("page program at 0x%06X over bytes that are not erased", address));
    persist(page, PageSize);
    startJob();
}

void FpgaFlash::State::command(const uint8_t* tx, uint8_t* rx, size_t len)
{
    const uint8_t op = tx[0];
    const uint32_t address = len >= 4 ? (uint32_t(tx[1]) << 16 | uint32_t(tx[2]) << 8 | tx[3]) : 0;
    if (log.size() >= LogLimit)
        log.pop_front();
    log.push_back({++seq, op, address, len, true});
    Op& entry = log.back();
    const bool busy = stuck || busyLeft > 0;
    if (op == 0x05) {
        const uint8_t status = uint8_t((busy ? 1 : 0) | (wel ? 2 : 0));
        for (size_t i = 1; rx && i < len; ++i)
            rx[i] = status;
        if (!stuck && busyLeft > 0 && --busyLeft == 0)
            wel = false;
        return;
    }
    if (busy) {
        note(format("command %02X while the flash is busy", op));
        entry.accepted = false;
        return;
    }
    const bool addressed = op == 0x20 || op == 0x52 || op == 0xD8 || op == 0x02 || op == 0x0B || op == 0x03;
    if (addressed && (len < 4 || (op == 0x0B && len < 5))) {
        note(format("command %02X of %u bytes is too short", op, uint32_t(len)));
        entry.accepted = false;
        return;
    }
    if (addressed && address >= Size)
        note(format("address 0x%06X beyond the 8 MiB flash (wraps)", address));
    const uint32_t at = address % Size;
    switch (op) {
    case 0x06:
        wel = true;
        break;
    case 0x04:
        wel = false;
        break;
    case 0x20:
    case 0x52:
    case 0xD8:
        entry.accepted = writable("erase", at);
        if (entry.accepted)
            erase(at, op == 0x20 ? 0x1000 : op == 0x52 ? 0x8000 : 0x10000);
        break;
    case 0x02:
        entry.accepted = writable("page program", at);
        if (entry.accepted && len > 4)
            program(at, tx + 4, len - 4);
        break;
    case 0x0B:
    case 0x03: {
        const size_t head = op == 0x0B ? 5 : 4;
        for (size_t i = head; rx && i < len; ++i)
            rx[i] = array[(at + (i - head)) % Size];
        break;
    }
    case 0x4B:
        for (size_t i = 5; rx && i < len && i < 13; ++i)
            rx[i] = uid[i - 5];
        break;
    default:
        note(format("unknown flash command %02X", op));
        entry.accepted = false;
    }
}

FpgaFlash::FpgaFlash() : s_(std::make_unique<State>()) {}
FpgaFlash::~FpgaFlash() = default;

bool FpgaFlash::transfer(const uint8_t* tx, uint8_t* rx, size_t len)
{
    std::lock_guard<std::mutex> lock(s_->mutex);
    s_->ensureLoaded();
    if (s_->failNext > 0) {
        --s_->failNext;
        return false;
    }
    if (s_->failPrograms > 0 && tx && len >= 4 && tx[0] == 0x02 &&
        uint32_t(tx[1] << 16 | tx[2] << 8 | tx[3]) == s_->failProgramAddress) {
        --s_->failPrograms;
        return false;
    }
    if (rx)
        std::fill(rx, rx + len, 0xFF); // nothing drives the data line back by default
    if (len == 0 || !tx)
        return true;
    if (line(FpgaChip::FlashSelectWord) != 0 || line(FpgaChip::SelectWord) != 0) {
        s_->note(format("flash transfer (command %02X, %u bytes) while the flash is not selected", tx[0], uint32_t(len)));
        s_->log.push_back({++s_->seq, tx[0], 0, len, false});
        return true;
    }
    if (line(FpgaChip::Fpga1SelectWord) == 0)
        s_->note(format("flash transfer (command %02X) while FPGA 1 is selected too", tx[0]));
    s_->command(tx, rx, len);
    return true;
}

void FpgaFlash::setBusSetup(const BusSetup& setup)
{
    std::lock_guard<std::mutex> lock(s_->mutex);
    s_->bus = setup;
}

FpgaFlash::BusSetup FpgaFlash::busSetup() const
{
    std::lock_guard<std::mutex> lock(s_->mutex);
    return s_->bus;
}

std::vector<uint8_t> FpgaFlash::read(uint32_t address, size_t length) const
{
    std::lock_guard<std::mutex> lock(s_->mutex);
    s_->ensureLoaded();
    if (address >= Size)
        return {};
    length = std::min<size_t>(length, Size - address);
    return std::vector<uint8_t>(s_->array.begin() + address, s_->array.begin() + address + length);
}

void FpgaFlash::store(uint32_t address, const std::vector<uint8_t>& bytes)
{
    std::lock_guard<std::mutex> lock(s_->mutex);
    s_->ensureLoaded();
    if (address >= Size || bytes.size() > Size - address)
        return;
    std::copy(bytes.begin(), bytes.end(), s_->array.begin() + address);
    s_->persist(address, bytes.size());
}

void FpgaFlash::setSavedImage(const std::vector<uint8_t>& image)
{
    std::vector<uint8_t> record;
    record.reserve(1 + image.size());
    record.push_back(0xAA);
    record.insert(record.end(), image.begin(), image.end());
    store(SavedImage, record);
}

void FpgaFlash::eraseAll()
{
    std::lock_guard<std::mutex> lock(s_->mutex);
    s_->ensureLoaded();
    std::fill(s_->array.begin(), s_->array.end(), 0xFF);
    if (!s_->persistFailed && ::truncate(Paths::resolve(File).c_str(), 0) == 0)
        s_->stored = 0;
    else
        s_->persist(0, Size);
}

void FpgaFlash::setUniqueId(const std::array<uint8_t, 8>& id)
{
    std::lock_guard<std::mutex> lock(s_->mutex);
    s_->uid = id;
}

std::array<uint8_t, 8> FpgaFlash::uniqueId() const
{
    std::lock_guard<std::mutex> lock(s_->mutex);
    return s_->uid;
}

void FpgaFlash::setBusyPolls(int polls)
{
    std::lock_guard<std::mutex> lock(s_->mutex);
    s_->busyPolls = std::max(0, polls);
}

void FpgaFlash::setAbsent(bool absent)
{
    std::lock_guard<std::mutex> lock(s_->mutex);
    s_->absent = absent;
}

bool FpgaFlash::absent() const
{
    std::lock_guard<std::mutex> lock(s_->mutex);
    return s_->absent;
}

void FpgaFlash::setStuckBusy(bool stuck)
{
    std::lock_guard<std::mutex> lock(s_->mutex);
    s_->stuck = stuck;
}

void FpgaFlash::failNextTransfers(int n)
{
    std::lock_guard<std::mutex> lock(s_->mutex);
    s_->failNext = std::max(0, n);
}

void FpgaFlash::failProgramsAt(uint32_t address, int n)
{
    std::lock_guard<std::mutex> lock(s_->mutex);
    s_->failProgramAddress = address;
    s_->failPrograms = std::max(0, n);
}

std::vector<FpgaFlash::Op> FpgaFlash::log() const
{
    std::lock_guard<std::mutex> lock(s_->mutex);
    return std::vector<Op>(s_->log.begin(), s_->log.end());
}

std::vector<FpgaFlash::Op> FpgaFlash::logOf(uint8_t opcode) const
{
    std::vector<Op> out;
    for (const Op& op : log())
        if (op.opcode == opcode)
            out.push_back(op);
    return out;
}

void FpgaFlash::clearLog()
{
    std::lock_guard<std::mutex> lock(s_->mutex);
    s_->log.clear();
}

std::vector<std::string> FpgaFlash::violations() const
{
    std::lock_guard<std::mutex> lock(s_->mutex);
    return s_->violations;
}

void FpgaFlash::clearViolations()
{
    std::lock_guard<std::mutex> lock(s_->mutex);
    s_->violations.clear();
}

void FpgaFlash::reload()
{
    std::lock_guard<std::mutex> lock(s_->mutex);
    s_->array.clear();
    s_->persistFailed = false;
    s_->wel = false;
    s_->busyLeft = 0;
    s_->log.clear();
    s_->ensureLoaded();
}

FpgaFlash& fpgaFlash()
{
    static FpgaFlash flash;
    return flash;
}

}
