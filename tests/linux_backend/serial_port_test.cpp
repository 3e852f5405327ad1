// The box's serial ports on a pty: "/dev/ttyS3" of the scratch root links to the pty's slave, so
// the backend's own open, termios settings, reads and writes run as on the board. Only RTS needs a
// real UART (a pty has no modem lines).
#include "platform/serial_port.h"
#include "scratch_root.h"
#include "time_limit.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

namespace {

class TtyBackend : public ScratchRoot {
protected:
    void SetUp() override
    {
        ScratchRoot::SetUp();
        int slave = -1;
        char name[128];
        ASSERT_EQ(openpty(&master_, &slave, name, nullptr, nullptr), 0);
        close(slave); // the port opens it again by its link
        ASSERT_EQ(symlink(name, node("ttyS3").c_str()), 0);
    }
    void TearDown() override
    {
        close(master_);
        ScratchRoot::TearDown();
    }
    static std::string readSome(int fd, size_t want)
    {
        std::string got;
        char buffer[64];
        while (got.size() < want) {
            pollfd p = {fd, POLLIN, 0};
            if (poll(&p, 1, TimeLimit::ms(2000)) != 1)
                break;
            const ssize_t n = read(fd, buffer, sizeof buffer);
            if (n <= 0)
                break;
            got.append(buffer, size_t(n));
        }
        return got;
    }
    int master_ = -1;
};

TEST_F(TtyBackend, LineSettingsAreTheTermiosOfTheOpenedNode)
{
    auto port = platform::openSerialPort(3);
    ASSERT_NE(port, nullptr);
    EXPECT_TRUE(port->isTerminal());
    EXPECT_NE(fcntl(port->fd(), F_GETFL) & O_NONBLOCK, 0); // the transports poll it

    // A pty keeps every setting but the character size and parity bits of c_cflag (it forces
    // CS8 without parity): those two show only on the box's UART.
    struct Row {
        int bits;
        char parity;
        int stop;
        tcflag_t cflagSet, cflagClear, iflagSet, iflagClear;
    };
    const Row rows[] = {
        {8, 'n', 1, 0, CSTOPB, 0, INPCK},
        {7, 'E', 2, CSTOPB, 0, INPCK | ISTRIP, 0},
        {8, 'o', 1, 0, CSTOPB, INPCK | ISTRIP, 0},
        {8, 'S', 1, 0, CSTOPB, INPCK, 0},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(std::string(1, r.parity));
        ASSERT_EQ(port->setParity(r.bits, r.parity, r.stop), 0);
        termios t{};
        ASSERT_EQ(tcgetattr(port->fd(), &t), 0);
        EXPECT_EQ(t.c_cflag & r.cflagSet, r.cflagSet);
        EXPECT_EQ(t.c_cflag & r.cflagClear, 0u);
        EXPECT_EQ(t.c_iflag & r.iflagSet, r.iflagSet);
        EXPECT_EQ(t.c_iflag & r.iflagClear, 0u);
        EXPECT_EQ(t.c_lflag & (ICANON | ECHO | ECHOE | ISIG), 0u); // raw
        EXPECT_EQ(t.c_oflag & OPOST, 0u);
        EXPECT_EQ(t.c_iflag & (ICRNL | IXON), 0u);
        EXPECT_EQ(t.c_cc[VMIN], 1);
        EXPECT_EQ(t.c_cc[VTIME], 1);
    }
    ASSERT_EQ(port->setSpeed(38400), 0);
    termios t{};
    ASSERT_EQ(tcgetattr(port->fd(), &t), 0);
    EXPECT_EQ(cfgetospeed(&t), speed_t(B38400));
    EXPECT_EQ(cfgetispeed(&t), speed_t(B38400));
    EXPECT_EQ(port->setSpeed(14400), -1);
    EXPECT_EQ(port->setParity(8, 'm', 1), -1);
}

TEST_F(TtyBackend, BytesFlowBothWaysRaw)
{
    auto port = platform::openSerialPort(3);
    ASSERT_NE(port, nullptr);
    ASSERT_EQ(port->setParity(8, 'n', 1), 0);
    ASSERT_EQ(port->setSpeed(115200), 0);
    termios raw{};
    ASSERT_EQ(tcgetattr(master_, &raw), 0);
    cfmakeraw(&raw);
    ASSERT_EQ(tcsetattr(master_, TCSANOW, &raw), 0);

    // Bytes a cooked line would change: CR, XOFF, NUL, DEL.
    const std::string frame("\x55\xAA\r\n\x13\x00\x7F\xFF", 8);
    ASSERT_EQ(port->write(frame.data(), frame.size()), ssize_t(frame.size()));
    EXPECT_EQ(port->drain(), 0);
    EXPECT_EQ(readSome(master_, frame.size()), frame);

    ASSERT_EQ(write(master_, frame.data(), frame.size()), ssize_t(frame.size()));
    EXPECT_EQ(readSome(port->fd(), frame.size()), frame);
    // Nothing waiting: the non-blocking read returns at once.
    char c;
    errno = 0;
    EXPECT_EQ(port->read(&c, 1), -1);
    EXPECT_EQ(errno, EAGAIN);
}

TEST_F(TtyBackend, PortsWithoutALineAreRefusedOrReportedAsSuch)
{
    EXPECT_EQ(platform::openSerialPort(5), nullptr); // no node
    plainNode("ttyS4");
    auto plain = platform::openSerialPort(4);
    ASSERT_NE(plain, nullptr);
    EXPECT_FALSE(plain->isTerminal()); // the opening step turns this away
    EXPECT_EQ(plain->setParity(8, 'n', 1), -1);
    EXPECT_EQ(plain->setRts(true), -1);
    auto pty = platform::openSerialPort(3);
    ASSERT_NE(pty, nullptr);
    EXPECT_EQ(pty->setRts(true), -1); // a pty has no modem lines: only the box's UART drives RTS
}

}
