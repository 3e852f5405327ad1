#include "platform/mtd.h"

#include "platform/paths.h"

#include <fcntl.h>
#include <mtd/mtd-user.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace platform::Linux {
namespace {

erase_info_user toKernel(const EraseInfo& range)
{
    erase_info_user e{};
    e.start = range.start;
    e.length = range.length;
    return e;
}

class MtdDevices : public Mtd {
public:
    int open(const std::string& path) override
    {
        return ::open(Paths::resolve(path).c_str(), O_RDWR | O_SYNC | O_CLOEXEC);
    }
    int close(int fd) override { return ::close(fd); }
    int getInfo(int fd, MtdInfo* info) override
    {
        mtd_info_user m{};
        if (::ioctl(fd, MEMGETINFO, &m) != 0)
            return -1;
        info->type = m.type;
        info->flags = m.flags;
        info->size = m.size;
        info->erasesize = m.erasesize;
        info->writesize = m.writesize;
        info->oobsize = m.oobsize;
        return 0;
    }
    int unlock(int fd, const EraseInfo& range) override
    {
        erase_info_user e = toKernel(range);
        return ::ioctl(fd, MEMUNLOCK, &e) == 0 ? 0 : -1;
    }
    int erase(int fd, const EraseInfo& range) override
    {
        erase_info_user e = toKernel(range);
        return ::ioctl(fd, MEMERASE, &e) == 0 ? 0 : -1;
    }
    ssize_t pwrite(int fd, const void* data, size_t length, off_t offset) override
    {
        return ::pwrite(fd, data, length, offset);
    }
};

}
}

namespace platform {

Mtd& mtd()
{
    static Linux::MtdDevices devices;
    return devices;
}

}
