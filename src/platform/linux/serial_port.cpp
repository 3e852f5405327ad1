#include "platform/serial_port.h"

#include "platform/paths.h"

#include <fcntl.h>
#include <string>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

namespace platform::Linux {
namespace {

class TtyPort : public SerialPort {
public:
    explicit TtyPort(int fd) : fd_(fd) {}
    ~TtyPort() override { close(fd_); }
    int fd() const override { return fd_; }
    bool isTerminal() const override { return isatty(fd_) == 1; }
    int setParity(int dataBits, char parity, int stopBits) override
    {
        return serialSetParity(fd_, dataBits, parity, stopBits);
    }
    int setSpeed(int baud) override { return serialSetSpeed(fd_, baud); }
    ssize_t read(void* buffer, size_t length) override { return ::read(fd_, buffer, length); }
    ssize_t write(const void* data, size_t length) override { return ::write(fd_, data, length); }
    int drain() override { return tcdrain(fd_); }
    int setRts(bool on) override
    {
        int bits = 0;
        if (ioctl(fd_, TIOCMGET, &bits) != 0)
            return -1;
        bits = on ? bits | TIOCM_RTS : bits & ~TIOCM_RTS;
        return ioctl(fd_, TIOCMSET, &bits) == 0 ? 0 : -1;
    }

private:
    int fd_;
};

}
}

namespace platform {

std::unique_ptr<SerialPort> openSerialPort(int index)
{
    const std::string path = Paths::resolve("/dev/ttyS" + std::to_string(index));
    const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return nullptr;
    return std::make_unique<Linux::TtyPort>(fd);
}

}
