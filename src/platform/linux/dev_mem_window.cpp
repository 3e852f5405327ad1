#include "platform/mem_window.h"

#include "platform/paths.h"

#include <fcntl.h>
#include <mutex>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <unistd.h>

namespace platform::Linux {
namespace {

constexpr unsigned long MsysRequestWindow = 0x5315; // the board support package's request number
constexpr uint32_t MsysMagic = 0x4D530100;
constexpr uint32_t MsysRecordSize = 20;             // five words

// A mapping of "/dev/mem"; mmap wants a page-aligned start, so the window begins inside it.
class DevMemWindow : public MemWindow {
public:
    DevMemWindow(void* mapping, size_t mappedLength, size_t lead, size_t length)
        : mapping_(mapping), mappedLength_(mappedLength), lead_(lead), length_(length)
    {
    }
    ~DevMemWindow() override { ::munmap(mapping_, mappedLength_); }
    volatile uint8_t* data() override { return static_cast<volatile uint8_t*>(mapping_) + lead_; }
    size_t size() const override { return length_; }

private:
    void* mapping_;
    size_t mappedLength_;
    size_t lead_;
    size_t length_;
};

}
}

namespace platform {

std::unique_ptr<MemWindow> openMemWindow(uint32_t physical, size_t length)
{
    if (length == 0)
        return nullptr;
    const int fd = ::open(Paths::resolve("/dev/mem").c_str(), O_RDWR | O_SYNC | O_CLOEXEC);
    if (fd < 0)
        return nullptr;
    const uint32_t page = uint32_t(::sysconf(_SC_PAGESIZE));
    const uint32_t base = physical & ~(page - 1);
    const size_t lead = physical - base;
    void* mapping = ::mmap(nullptr, length + lead, PROT_READ | PROT_WRITE, MAP_SHARED, fd, off_t(base));
    ::close(fd); // the mapping stays valid without the descriptor
    if (mapping == MAP_FAILED)
        return nullptr;
    return std::make_unique<Linux::DevMemWindow>(mapping, length + lead, lead, length);
}

// The descriptor stays open for the life of the process: the window was granted to it, and the
// driver may take the grant back when it closes.
bool msysRequest(uint32_t* physical, uint32_t* length)
{
    static int fd = -1;
    static std::mutex mutex;
    std::lock_guard<std::mutex> lock(mutex);
    if (fd < 0)
        fd = ::open(Paths::resolve("/dev/msys").c_str(), O_RDWR | O_SYNC | O_CLOEXEC);
    if (fd < 0)
        return false;
    uint32_t record[5] = {Linux::MsysMagic, 0, 0, 0, Linux::MsysRecordSize};
    if (::ioctl(fd, Linux::MsysRequestWindow, record) != 0)
        return false;
    if (physical)
        *physical = record[1];
    if (length)
        *length = record[3];
    return true;
}

}
