#pragma once
#include <cstdint>
#include <memory>
#include <set>
#include <vector>

namespace platform {
class SerialPort;
}

// Opens and sets up the board's serial ports ("/dev/ttyS%d", 8N1 raw, with RTS raised for the
// RS-485 driver) and moves bytes through them.
class serial_modules {
public:
    serial_modules();
    ~serial_modules();
    // The port's descriptor, or -1 when it cannot be opened or set up ("Open ttyS1 Port Faild!").
    int serial_init(int port, int speed);
    int ttyS_Open(int port, int speed);
    int UartSetParity(int dataBits, int stopBits, char parity); // 0 or -1
    int UartSetSpeed(int speed);                                 // 0 or -1
    // Bytes read without waiting, 0 for none, -1 when the port failed.
    int recv_uart_data(uint8_t* out, uint32_t count);
    // Line driver on 2 ms ahead of the data, off once the last byte has left. RTS failures (a port
    // without modem lines) do not stop the send. The bytes written, or -1.
    int uart_send(const uint8_t* data, uint32_t length);
    // How long uart_send waits for a reader before it gives up: line time at the set speed, plus 1 s.
    uint32_t sendDeadlineMs(uint32_t length) const;
    int fd() const;

private:
    std::unique_ptr<platform::SerialPort> m_port;
    std::set<int> m_fds;
    uint32_t m_baud = 9600;     // as set by UartSetSpeed
    uint32_t m_char_bits = 10;  // start, data, parity and stop bits of one character
};
