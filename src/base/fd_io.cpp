#include "base/fd_io.h"

#include <cerrno>
#include <unistd.h>

bool readFullyAt(int fd, uint64_t position, void* out, size_t n)
{
    size_t done = 0;
    while (done < n) {
        const ssize_t got = ::pread(fd, static_cast<char*>(out) + done, n - done, off_t(position + done));
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            return false;
        done += size_t(got);
    }
    return true;
}

bool writeFully(int fd, const void* data, size_t n)
{
    size_t done = 0;
    while (done < n) {
        const ssize_t put = ::write(fd, static_cast<const char*>(data) + done, n - done);
        if (put < 0 && errno == EINTR)
            continue;
        if (put <= 0)
            return false;
        done += size_t(put);
    }
    return true;
}
