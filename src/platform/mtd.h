#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <sys/types.h>

namespace platform {
// Mirrors struct mtd_info_user and struct erase_info_user of <mtd/mtd-user.h>.
struct MtdInfo {
    uint8_t type = 0;
    uint32_t flags = 0;
    uint32_t size = 0;
    uint32_t erasesize = 0;
    uint32_t writesize = 0;
    uint32_t oobsize = 0;
};
struct EraseInfo {
    uint32_t start = 0;
    uint32_t length = 0;
};

// Raw flash partitions ("/dev/mtdN"): MEMGETINFO, MEMUNLOCK, MEMERASE and positioned writes.
// Every call returns 0 / a byte count on success and -1 with errno set on failure, as the ioctls do.
class Mtd {
public:
    virtual ~Mtd() = default;
    virtual int open(const std::string& path) = 0;
    virtual int close(int fd) = 0;
    virtual int getInfo(int fd, MtdInfo* info) = 0;
    virtual int unlock(int fd, const EraseInfo& range) = 0;
    virtual int erase(int fd, const EraseInfo& range) = 0;
    virtual ssize_t pwrite(int fd, const void* data, size_t length, off_t offset) = 0;
};
Mtd& mtd();
}
