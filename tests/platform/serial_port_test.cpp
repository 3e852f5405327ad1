// The serial port interface on the simulated board: a pseudo-terminal whose peer a tool opens, with
// the line settings visible on that peer as a tool's termios would see them.
#include "platform/serial_port.h"
#include "platform/sim/pty_serial.h"
#include "test_root.h"
#include "time_limit.h"

#include <cstring>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

namespace {

using platform::Sim::serialSim;

termios peerSettings(int index)
{
    termios t{};
    const int fd = open(serialSim().peerPath(index).c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    EXPECT_GE(fd, 0);
    if (fd >= 0) {
        tcgetattr(fd, &t);
        close(fd);
    }
    return t;
}

}

TEST(SerialPortSim, LineSettingsReachThePeer)
{
    auto port = platform::openSerialPort(2);
    ASSERT_TRUE(port);
    EXPECT_TRUE(port->isTerminal());

    ASSERT_EQ(port->setParity(8, 'n', 1), 0);
    ASSERT_EQ(port->setSpeed(115200), 0);
    termios t = peerSettings(2);
    EXPECT_EQ(t.c_lflag & (ICANON | ECHO | ISIG), 0u) << "raw line";
    EXPECT_EQ(t.c_cflag & CSIZE, tcflag_t(CS8));
    EXPECT_EQ(t.c_cflag & (PARENB | CSTOPB), 0u);
    EXPECT_EQ(cfgetospeed(&t), speed_t(B115200));

    ASSERT_EQ(port->setParity(7, 'E', 2), 0);
    ASSERT_EQ(port->setSpeed(9600), 0);
    t = peerSettings(2);
    // A pty always carries 8 bits without parity; the stop bits and the speed are kept.
    EXPECT_EQ(t.c_cflag & CSTOPB, tcflag_t(CSTOPB));
    EXPECT_EQ(cfgetospeed(&t), speed_t(B9600));

    // Unsupported values change nothing.
    EXPECT_EQ(port->setSpeed(14400), -1);
    EXPECT_EQ(port->setParity(6, 'n', 1), -1);
    EXPECT_EQ(port->setParity(8, 'x', 1), -1);
    EXPECT_EQ(port->setParity(8, 'n', 3), -1);
    t = peerSettings(2);
    EXPECT_EQ(cfgetospeed(&t), speed_t(B9600));
    EXPECT_EQ(t.c_cflag & CSTOPB, tcflag_t(CSTOPB));
}

TEST(SerialPortSim, BytesFlowBothWaysAndRtsIsRecorded)
{
    auto port = platform::openSerialPort(1);
    ASSERT_TRUE(port);
    ASSERT_EQ(port->setParity(8, 'n', 1), 0);
    const int peer = open(serialSim().peerPath(1).c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    ASSERT_GE(peer, 0);

    const uint8_t out[] = {0xA5, 0x0A, 0x0D, 0x5A, 0x00, 0xFF}; // raw: no CR/LF translation
    ASSERT_EQ(port->write(out, sizeof out), ssize_t(sizeof out));
    uint8_t in[16] = {};
    pollfd p = {peer, POLLIN, 0};
    ASSERT_EQ(poll(&p, 1, TimeLimit::ms(1000)), 1);
    ASSERT_EQ(read(peer, in, sizeof in), ssize_t(sizeof out));
    EXPECT_EQ(0, memcmp(in, out, sizeof out));

    ASSERT_EQ(write(peer, out, sizeof out), ssize_t(sizeof out));
    pollfd q = {port->fd(), POLLIN, 0};
    ASSERT_EQ(poll(&q, 1, TimeLimit::ms(1000)), 1);
    EXPECT_EQ(port->read(in, sizeof in), ssize_t(sizeof out));
    EXPECT_EQ(0, memcmp(in, out, sizeof out));
    close(peer);

    // With no tool connected the port stays quiet: no hang-up to spin on.
    pollfd idle = {port->fd(), POLLIN, 0};
    EXPECT_EQ(poll(&idle, 1, TimeLimit::ms(50)), 0);

    EXPECT_EQ(port->setRts(false), 0);
    serialSim().failRts(true);
    EXPECT_EQ(port->setRts(true), -1);
    serialSim().failRts(false);
    EXPECT_EQ(serialSim().rtsEdges(1), std::vector<bool>({false, true}));
}

TEST(SerialPortSim, PortThatCannotBeOpened)
{
    serialSim().failOpen(2, true);
    EXPECT_FALSE(platform::openSerialPort(2));
    serialSim().failOpen(2, false);
    EXPECT_TRUE(platform::openSerialPort(2));
}
