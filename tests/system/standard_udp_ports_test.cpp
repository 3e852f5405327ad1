// The program on its standard UDP ports, as the PC tools and the phone app find it: the control
// protocol on 5008 (answered by broadcast to the sender's port) and the Wi-Fi configuration
// commands on 13769 (answered to the sender). Other programs on this host, other test runs too,
// may hold these ports; the test then skips and says so.
#include "frame_client.h"
#include "program.h"
#include "test_root.h"

#include "platform/paths.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

bool udpPortFree(int port)
{
    const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_in any{};
    any.sin_family = AF_INET;
    any.sin_port = htons(uint16_t(port));
    const bool free = fd >= 0 && bind(fd, reinterpret_cast<sockaddr*>(&any), sizeof any) == 0;
    if (fd >= 0)
        close(fd);
    return free;
}

// A tool's socket on a port of its own, on the wildcard address so that broadcasts reach it.
class UdpTool {
public:
    UdpTool()
    {
        m_fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        sockaddr_in any{};
        any.sin_family = AF_INET;
        if (m_fd >= 0 && bind(m_fd, reinterpret_cast<sockaddr*>(&any), sizeof any) != 0) {
            close(m_fd);
            m_fd = -1;
        }
    }
    ~UdpTool()
    {
        if (m_fd >= 0)
            close(m_fd);
    }
    bool ok() const { return m_fd >= 0; }
    // The first datagram that comes back, empty when none comes within the time.
    Bytes ask(int port, const Bytes& datagram, int timeoutMs = 3000)
    {
        sockaddr_in to{};
        to.sin_family = AF_INET;
        to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        to.sin_port = htons(uint16_t(port));
        if (sendto(m_fd, datagram.data(), datagram.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to) !=
            ssize_t(datagram.size()))
            return {};
        pollfd p = {m_fd, POLLIN, 0};
        if (poll(&p, 1, timeoutMs) <= 0)
            return {};
        Bytes in(70000);
        const ssize_t n = recv(m_fd, in.data(), in.size(), 0);
        in.resize(n > 0 ? size_t(n) : 0);
        return in;
    }

private:
    int m_fd = -1;
};

Bytes text(const std::string& t)
{
    return Bytes(t.begin(), t.end());
}

}

TEST(StandardUdpPorts, ControlRequestsOn5008AndWifiCommandsOn13769AreAnswered)
{
    for (int port : {5008, 13769})
        if (!udpPortFree(port))
            GTEST_SKIP() << "UDP port " << port << " is in use on this host: the standard ports cannot be tested now";
    const int tcpPort = freeTcpPort();
    ASSERT_GT(tcpPort, 0);
    ASSERT_TRUE(TestRoot::writeFile("/data/configs/tcpip.ini", QByteArray("[config]\nTcpPort=") + QByteArray::number(tcpPort) + "\n"));
    Program program(platform::Paths::root());
    FrameClient tcp(tcpPort, 20000);
    ASSERT_TRUE(tcp.connected()) << program.report();
    const QByteArray log = TestRoot::readFile("/data/keltoqz/log/jtcEnglneLog");
    if (log.contains("bind error"))
        GTEST_SKIP() << "a standard UDP port was taken before the program bound it";

    const Bytes request = Wire::readRegister(4, 0x37);
    const Bytes viaTcp = tcp.request(request);
    ASSERT_GT(viaTcp.size(), 11u);
    const struct {
        int port;
        Bytes datagram;
        Bytes answer; // decoded frame on 5008, the text on 13769; empty: no answer at all
    } rows[] = {
        {5008, Wire::stuff(request), viaTcp},
        {13769, text("AT+GETVER,1"),
         text("OK+GETVER=0,5FAF,22032001,02,00,00,2022-03-2109:06:00,VYR_R58_IN_V13PCB20210915")},
        {13769, text("AT+RSTX"), text("ERR")},
        {13769, text("at+rst"), {}},
    };
    UdpTool tool;
    ASSERT_TRUE(tool.ok());
    for (const auto& row : rows) {
        SCOPED_TRACE(std::to_string(row.port) + " " + std::string(row.datagram.begin(), row.datagram.end()));
        Bytes got = tool.ask(row.port, row.datagram, row.answer.empty() ? 500 : 3000);
        if (row.port == 5008) {
            Wire::Unstuffer frames;
            frames.push(got.data(), got.size());
            got.clear();
            frames.next(&got);
        }
        EXPECT_EQ(got, row.answer);
    }
}
