#include "comm/serial_modules.h"

#include "base/delay.h"
#include "base/global.h"
#include "platform/serial_port.h"

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <poll.h>

namespace {
constexpr int kRtsLeadMs = 2;
constexpr uint32_t kSendSlackMs = 1000;
}

serial_modules::serial_modules() = default;
serial_modules::~serial_modules() = default;

int serial_modules::fd() const
{
    return m_port ? m_port->fd() : -1;
}

int serial_modules::serial_init(int port, int speed)
{
    const int fd = ttyS_Open(port, speed);
    if (fd < 0) {
        puts("Open ttyS1 Port Faild!");
        return fd;
    }
    m_fds.insert(fd);
    return fd;
}

int serial_modules::ttyS_Open(int port, int speed)
{
    if (traceOn())
        printf("Serial Port = /dev/ttyS%d\n", port);
    m_port = platform::openSerialPort(port);
    if (!m_port) {
        if (traceOn())
            printf("Can't Open Serial Port /dev/ttyS%d\n", port);
        return -1;
    }
    if (!m_port->isTerminal()) {
        if (traceOn())
            puts("This is not a tty device");
        m_port.reset();
        return -1;
    }
    if (traceOn())
        printf("ttyS = /dev/ttyS%d,fd = %d\n", port, m_port->fd());
    if (m_port->setRts(true) != 0)
        perror("Ioctl error on setting 485 configure:\n");
    if (UartSetParity(8, 1, 'n') != 0) {
        if (traceOn())
            printf("UartSetParity failed!, dev :/dev/ttyS%d\n", port);
        m_port.reset();
        return -1;
    }
    if (UartSetSpeed(speed) != 0) {
        printf("UartSetSpeed failed!, dev :/dev/ttyS%d\n", port);
        m_port.reset();
        return -1;
    }
    return m_port->fd();
}

int serial_modules::UartSetParity(int dataBits, int stopBits, char parity)
{
    const int r = m_port ? m_port->setParity(dataBits, parity, stopBits) : -1;
    if (r == 0)
        m_char_bits = uint32_t(1 + dataBits + (parity == 'n' || parity == 'N' ? 0 : 1) + stopBits);
    return r;
}

int serial_modules::UartSetSpeed(int speed)
{
    const int r = m_port ? m_port->setSpeed(speed) : -1;
    if (r == 0)
        m_baud = uint32_t(speed);
    return r;
}

uint32_t serial_modules::sendDeadlineMs(uint32_t length) const
{
    // The time the bytes take on the line at its own speed, rounded up, plus a second.
    const uint64_t bits = uint64_t(length) * m_char_bits * 1000;
    return kSendSlackMs + uint32_t((bits + m_baud - 1) / m_baud);
}

int serial_modules::recv_uart_data(uint8_t* out, uint32_t count)
{
    if (!m_port)
        return -1;
    const ssize_t n = m_port->read(out, count);
    if (n >= 0)
        return int(n);
    return (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) ? 0 : -1;
}

int serial_modules::uart_send(const uint8_t* data, uint32_t length)
{
    if (!m_port || m_port->fd() <= 0)
        return -1;
    m_port->setRts(false);
    Delay::ms(kRtsLeadMs);
    // A reader that takes nothing must not hold the transport for ever, but a slow line must get
    // the time it needs for the whole reply.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(sendDeadlineMs(length));
    uint32_t sent = 0;
    while (sent < length) {
        const ssize_t n = m_port->write(data + sent, length - sent);
        if (n > 0) {
            sent += uint32_t(n);
            continue;
        }
        if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)
            break;
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()).count();
        if (left <= 0)
            break;
        pollfd out = {m_port->fd(), POLLOUT, 0};
        poll(&out, 1, int(left));
    }
    m_port->drain();
    m_port->setRts(true);
    return sent == length ? int(sent) : -1;
}
