#include "platform/sim/flash_file.h"

#include "platform/paths.h"
#include "platform/sim/sim_board.h"

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <fcntl.h>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>

namespace platform::Sim {
namespace {

uint32_t partitionSize(const std::string& device)
{
    if (device == "/dev/mtd8")
        return 0x60000;  // logo image
    if (device == "/dev/mtd10")
        return 0x500000; // kernel image
    return 0;
}

// Grows a short backing file with erased bytes and cuts a long one, so it matches the partition.
bool fitBacking(int fd, uint32_t size)
{
    struct stat st;
    if (::fstat(fd, &st) != 0)
        return false;
    if (st.st_size > off_t(size))
        return ::ftruncate(fd, size) == 0;
    const std::vector<uint8_t> erased(FlashFiles::EraseSize, 0xFF);
    for (off_t at = st.st_size; at < off_t(size);) {
        const size_t chunk = std::min<size_t>(erased.size(), size_t(off_t(size) - at));
        if (::pwrite(fd, erased.data(), chunk, at) != ssize_t(chunk))
            return false;
        at += off_t(chunk);
    }
    return true;
}

}

int FlashFiles::openBacking(const std::string& device, uint32_t size)
{
    const std::string host = platform::Paths::resolve(device);
    std::error_code ec;
    std::filesystem::create_directories(std::filesystem::path(host).parent_path(), ec);
    const int fd = ::open(host.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0)
        return -1;
    if (!fitBacking(fd, size)) {
        const int saved = errno;
        ::close(fd);
        errno = saved;
        return -1;
    }
    return fd;
}

int FlashFiles::open(const std::string& path)
{
    const uint32_t size = partitionSize(path);
    if (size == 0) {
        errno = ENOENT;
        return -1;
    }
    std::lock_guard<std::mutex> lock(mutex_);
    const int fd = openBacking(path, size);
    if (fd >= 0)
        open_[fd] = Partition{path, size};
    return fd;
}

int FlashFiles::close(int fd)
{
    std::lock_guard<std::mutex> lock(mutex_);
    if (open_.erase(fd) == 0) {
        errno = EBADF;
        return -1;
    }
    return ::close(fd);
}

const FlashFiles::Partition* FlashFiles::partition(int fd) const
{
    const auto it = open_.find(fd);
    if (it == open_.end()) {
        errno = EBADF;
        return nullptr;
    }
    return &it->second;
}

void FlashFiles::note(const char* format, ...)
{
    char text[128];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    calls_.push_back(text);
}

int FlashFiles::getInfo(int fd, MtdInfo* info)
{
    std::lock_guard<std::mutex> lock(mutex_);
    note("getinfo");
    const Partition* p = partition(fd);
    if (!p)
        return -1;
    if (failGetInfo_) {
        errno = EIO;
        return -1;
    }
    *info = MtdInfo();
    info->type = 4;        // MTD_NANDFLASH
    info->flags = 0x400;   // MTD_WRITEABLE
    info->size = p->size;
    info->erasesize = EraseSize;
    info->writesize = WriteSize;
    info->oobsize = 64;
    return 0;
}

// The NAND driver takes whole erase blocks only, inside the partition.
const FlashFiles::Partition* FlashFiles::eraseTarget(int fd, const EraseInfo& range) const
{
    const Partition* p = partition(fd);
    if (!p)
        return nullptr;
    if (range.start % EraseSize != 0 || range.length % EraseSize != 0 ||
        uint64_t(range.start) + range.length > p->size) {
        errno = EINVAL;
        return nullptr;
    }
    return p;
}

int FlashFiles::unlock(int fd, const EraseInfo& range)
{
    std::lock_guard<std::mutex> lock(mutex_);
    note("unlock 0x%x 0x%x", range.start, range.length);
    return eraseTarget(fd, range) ? 0 : -1;
}

int FlashFiles::erase(int fd, const EraseInfo& range)
{
    std::lock_guard<std::mutex> lock(mutex_);
    note("erase 0x%x 0x%x", range.start, range.length);
    if (!eraseTarget(fd, range))
        return -1;
    if (failEraseAt_ >= 0 && failEraseAt_ >= int64_t(range.start) &&
        failEraseAt_ < int64_t(range.start) + int64_t(range.length)) {
        errno = EIO;
        return -1;
    }
    const std::vector<uint8_t> erased(EraseSize, 0xFF);
    for (uint32_t at = range.start; at < range.start + range.length; at += EraseSize) {
        if (::pwrite(fd, erased.data(), EraseSize, at) != ssize_t(EraseSize))
            return -1;
    }
    return 0;
}

ssize_t FlashFiles::pwrite(int fd, const void* data, size_t length, off_t offset)
{
    std::lock_guard<std::mutex> lock(mutex_);
    note("pwrite 0x%llx %zu", static_cast<unsigned long long>(offset), length);
    const Partition* p = partition(fd);
    if (!p)
        return -1;
    // NAND pages are programmed from their start; a write may not run past the partition.
    if (offset < 0 || offset % WriteSize != 0 || uint64_t(offset) + length > p->size) {
        errno = EINVAL;
        return -1;
    }
    std::vector<uint8_t> cells(length);
    if (::pread(fd, cells.data(), length, offset) != ssize_t(length))
        return -1;
    const uint8_t* bytes = static_cast<const uint8_t*>(data);
    bool setsBits = false;
    for (size_t i = 0; i < length; ++i) {
        setsBits = setsBits || (bytes[i] & ~cells[i]) != 0;
        cells[i] &= bytes[i];
    }
    if (setsBits) {
        char text[96];
        std::snprintf(text, sizeof text, "%s: pwrite 0x%llx %zu over unerased cells", p->device.c_str(),
                      static_cast<unsigned long long>(offset), length);
        violations_.push_back(text);
    }
    return ::pwrite(fd, cells.data(), length, offset);
}

void FlashFiles::failGetInfo(bool fail)
{
    std::lock_guard<std::mutex> lock(mutex_);
    failGetInfo_ = fail;
}

void FlashFiles::failEraseAt(int64_t blockStart)
{
    std::lock_guard<std::mutex> lock(mutex_);
    failEraseAt_ = blockStart;
}

std::vector<std::string> FlashFiles::calls() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return calls_;
}

void FlashFiles::clearCalls()
{
    std::lock_guard<std::mutex> lock(mutex_);
    calls_.clear();
}

std::vector<std::string> FlashFiles::violations() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return violations_;
}

std::vector<uint8_t> FlashFiles::contents(const std::string& device)
{
    const uint32_t size = partitionSize(device);
    if (size == 0)
        return {};
    std::lock_guard<std::mutex> lock(mutex_);
    const int fd = openBacking(device, size);
    if (fd < 0)
        return {};
    std::vector<uint8_t> image(size);
    const ssize_t got = ::pread(fd, image.data(), size, 0);
    ::close(fd);
    if (got != ssize_t(size))
        return {};
    return image;
}

FlashFiles& flashFiles()
{
    static FlashFiles files;
    return files;
}

void MtdSim::failGetInfo(bool fail)
{
    flashFiles().failGetInfo(fail);
}

void MtdSim::failEraseAt(int64_t blockStart)
{
    flashFiles().failEraseAt(blockStart);
}

std::vector<std::string> MtdSim::calls() const
{
    return flashFiles().calls();
}

void MtdSim::clearCalls()
{
    flashFiles().clearCalls();
}

std::vector<std::string> MtdSim::violations() const
{
    return flashFiles().violations();
}

std::vector<uint8_t> MtdSim::contents(const std::string& device)
{
    return flashFiles().contents(device);
}

MtdSim& mtdSim()
{
    static MtdSim face;
    return face;
}

}

namespace platform {

Mtd& mtd()
{
    return Sim::flashFiles();
}

}
