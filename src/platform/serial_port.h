#pragma once
#include <cstddef>
#include <memory>
#include <sys/types.h>

namespace platform {
// "/dev/ttyS%d" with termios; RTS through TIOCMGET/TIOCMSET.
class SerialPort {
public:
    virtual ~SerialPort() = default;
    virtual int fd() const = 0;          // for poll; the descriptor is non-blocking
    virtual bool isTerminal() const = 0;
    // Raw line: data bits 7 or 8, parity 'n', 'e', 'o' or 's' (either case), stop bits 1 or 2;
    // reads return after one byte; the input queue is flushed. 0, or -1 for an unsupported value
    // or a failed tcsetattr.
    virtual int setParity(int dataBits, char parity, int stopBits) = 0;
    // 115200, 57600, 38400, 19200, 9600, 4800, 2400, 1200 or 300 baud; 0, or -1.
    virtual int setSpeed(int baud) = 0;
    virtual ssize_t read(void* buffer, size_t length) = 0;
    virtual ssize_t write(const void* data, size_t length) = 0;
    virtual int drain() = 0;             // waits until the written bytes have left
    // The line driver of the RS-485 port follows RTS. 0, or -1 (a port without modem lines).
    virtual int setRts(bool on) = 0;
};
// nullptr when the port cannot be opened.
std::unique_ptr<SerialPort> openSerialPort(int index);

// The termios work both backends share (a pty takes the same settings).
int serialSetParity(int fd, int dataBits, char parity, int stopBits);
int serialSetSpeed(int fd, int baud);
}
