#pragma once
#include <cstddef>
#include <memory>
#include <sys/types.h>

namespace platform {
// "/dev/ttyS%d" with termios; RTS through TIOCMGET/TIOCMSET.
class SerialPort {
public:
    virtual ~SerialPort() = default;
    virtual int fd() const = 0; // for poll
    virtual int configure(int baud, int dataBits, char parity, int stopBits) = 0;
    virtual ssize_t read(void* buffer, size_t length) = 0;
    virtual ssize_t write(const void* data, size_t length) = 0;
    virtual int setRts(bool on) = 0;
};
std::unique_ptr<SerialPort> openSerialPort(int index);
}
