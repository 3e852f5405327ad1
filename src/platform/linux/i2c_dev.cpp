#include "platform/i2c_bus.h"

#include "platform/paths.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <linux/i2c-dev.h>
#include <linux/i2c.h>
#include <string>
#include <sys/ioctl.h>
#include <unistd.h>
#include <vector>

namespace platform::Linux {
namespace {

// The kernel takes at most this many messages in one I2C_RDWR request.
constexpr size_t MaxMessages = I2C_RDWR_IOCTL_MAX_MSGS;

class I2cDev : public I2cBus {
public:
    explicit I2cDev(int fd) : fd_(fd) {}
    ~I2cDev() override { ::close(fd_); }

    int transfer(I2cMsg* messages, size_t count) override
    {
        if (!messages || count == 0 || count > MaxMessages) {
            errno = EINVAL;
            return -1;
        }
        std::vector<i2c_msg> msgs(count);
        for (size_t i = 0; i < count; ++i) {
            msgs[i].addr = messages[i].addr;
            msgs[i].flags = (messages[i].flags & I2cMsg::Read) ? I2C_M_RD : 0;
            msgs[i].len = messages[i].len;
            msgs[i].buf = messages[i].buf;
        }
        i2c_rdwr_ioctl_data request{};
        request.msgs = msgs.data();
        request.nmsgs = uint32_t(count);
        return ::ioctl(fd_, I2C_RDWR, &request);
    }

private:
    int fd_;
};

}
}

namespace platform {

std::unique_ptr<I2cBus> openI2cBus(int adapter)
{
    const std::string node = Paths::resolve("/dev/i2c-" + std::to_string(adapter));
    const int fd = ::open(node.c_str(), O_RDWR | O_CLOEXEC);
    if (fd < 0)
        return nullptr;
    return std::make_unique<Linux::I2cDev>(fd);
}

}
