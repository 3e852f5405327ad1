// The program on its standard UDP ports, as the PC tools and the phone app find it: the control
// protocol on 5008 (answered by broadcast to the sender's port) and the Wi-Fi configuration
// commands on 13769 (answered to the sender). Other programs on this host, other test runs too,
// may hold these ports: the test and the program it starts run in a network of their own.
#include "frame_client.h"
#include "program.h"
#include "test_root.h"
#include "udp_tool.h"

#include "platform/paths.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <gtest/gtest.h>
#include <net/if.h>
#include <netinet/in.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// This thread, and the processes it starts, in a new network with its loopback up: every port is
// free there. An empty string when done, else why not.
std::string ownNetwork()
{
    if (unshare(CLONE_NEWNET) != 0)
        return std::string("no network of its own: ") + strerror(errno);
    const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    ifreq lo{};
    strcpy(lo.ifr_name, "lo");
    const bool up = fd >= 0 && ioctl(fd, SIOCGIFFLAGS, &lo) == 0 && (lo.ifr_flags |= IFF_UP, ioctl(fd, SIOCSIFFLAGS, &lo) == 0);
    const std::string why = up ? "" : std::string("loopback not up: ") + strerror(errno);
    if (fd >= 0)
        close(fd);
    return why;
}

Bytes text(const std::string& t)
{
    return Bytes(t.begin(), t.end());
}

}

TEST(StandardUdpPorts, ControlRequestsOn5008AndWifiCommandsOn13769AreAnswered)
{
    // Only a user without the right to make one skips (never CI, which runs as root).
    const std::string why = ownNetwork();
    if (!why.empty() && getenv("CI"))
        FAIL() << why;
    if (!why.empty())
        GTEST_SKIP() << why;
    const int tcpPort = freeTcpPort();
    ASSERT_GT(tcpPort, 0);
    ASSERT_TRUE(TestRoot::writeFile("/data/configs/tcpip.ini", QByteArray("[config]\nTcpPort=") + QByteArray::number(tcpPort) + "\n"));
    Program program(platform::Paths::root());
    FrameClient tcp(tcpPort, 20000);
    ASSERT_TRUE(tcp.connected()) << program.report();
    const QByteArray log = TestRoot::readFile("/data/keltoqz/log/jtcEnglneLog");
    ASSERT_FALSE(log.contains("bind error")) << "a standard UDP port taken in a network of the test's own";

    const Bytes request = Wire::readRegister(4, 0x37);
    const Bytes viaTcp = tcp.request(request);
    ASSERT_GT(viaTcp.size(), 11u);
    const struct {
        int port;
        Bytes datagram;
        Bytes answer;         // decoded frame on 5008, the text on 13769; empty: no answer at all
        uint32_t destination; // where the answer was sent
    } rows[] = {
        {5008, Wire::stuff(request), viaTcp, 0x7FFFFFFF}, // broadcast (on loopback here) to the tool's port
        {13769, text("AT+GETVER,1"),
         text("OK+GETVER=0,5FAF,22032001,02,00,00,2022-03-2109:06:00,VYR_R58_IN_V13PCB20210915"), 0x7F000001},
        {13769, text("AT+RSTX"), text("ERR"), 0x7F000001},
        {13769, text("at+rst"), {}, 0},
    };
    UdpTool tool;
    ASSERT_TRUE(tool.ok());
    // The control port answers before start-up has reached the Wi-Fi manager; until then a
    // command on 13769 goes unanswered, so ask, as the phone app does, until it answers.
    bool wifiUp = false;
    for (int i = 0; i < 40 && !wifiUp; ++i)
        wifiUp = tool.send(13769, text("AT+GETVER,1")) && !tool.receive(250).empty();
    ASSERT_TRUE(wifiUp) << "no answer on 13769 within 10 s";
    while (!tool.receive(250).empty()) {
        // late answers of the readiness loop
    }
    tool.wantDestinations();
    for (const auto& row : rows) {
        SCOPED_TRACE(std::to_string(row.port) + " " + std::string(row.datagram.begin(), row.datagram.end()));
        ASSERT_TRUE(tool.send(row.port, row.datagram));
        uint32_t destination = 0;
        Bytes got = tool.receive(row.answer.empty() ? 500 : 3000, &destination);
        if (row.port == 5008) {
            Wire::Unstuffer frames;
            frames.push(got.data(), got.size());
            got.clear();
            frames.next(&got);
        }
        EXPECT_EQ(got, row.answer);
        EXPECT_EQ(destination, row.destination);
    }
}
