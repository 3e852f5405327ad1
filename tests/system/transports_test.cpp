// The program on the simulated board driven over every transport at once: TCP, UDP (replies
// broadcast on loopback), the serial line and the 4G line (the published pty peers).
#include "frame_client.h"
#include "program.h"
#include "test_root.h"

#include "platform/paths.h"

#include <QStringList>

#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <memory>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

// A tool end that sends raw bytes and collects frames: a UDP socket bound to the wildcard address
// (so broadcasts reach it) or a serial line's peer.
class Endpoint {
public:
    static std::unique_ptr<Endpoint> udp(int programPort)
    {
        auto e = std::make_unique<Endpoint>();
        e->m_fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        sockaddr_in any{};
        any.sin_family = AF_INET;
        bind(e->m_fd, reinterpret_cast<sockaddr*>(&any), sizeof any);
        e->m_to.sin_family = AF_INET;
        e->m_to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        e->m_to.sin_port = htons(uint16_t(programPort));
        e->m_datagrams = true;
        return e;
    }
    static std::unique_ptr<Endpoint> line(const std::string& path)
    {
        auto e = std::make_unique<Endpoint>();
        e->m_fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        return e;
    }
    ~Endpoint()
    {
        if (m_fd >= 0)
            close(m_fd);
    }
    bool ok() const { return m_fd >= 0; }
    bool send(const Bytes& b)
    {
        if (m_datagrams)
            return sendto(m_fd, b.data(), b.size(), 0, reinterpret_cast<sockaddr*>(&m_to), sizeof m_to) == ssize_t(b.size());
        return write(m_fd, b.data(), b.size()) == ssize_t(b.size());
    }
    Bytes reply(int timeoutMs = 3000)
    {
        Bytes body;
        const auto end = Clock::now() + TimeLimit::of(timeoutMs);
        while (!m_in.next(&body)) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now()).count();
            pollfd p = {m_fd, POLLIN, 0};
            if (left <= 0 || poll(&p, 1, int(left)) <= 0)
                return {};
            Bytes chunk(70000);
            const ssize_t n = read(m_fd, chunk.data(), chunk.size());
            if (n > 0)
                m_in.push(chunk.data(), size_t(n));
        }
        return body;
    }
    Bytes request(const Bytes& body, int timeoutMs = 3000) { return send(Wire::stuff(body)) ? reply(timeoutMs) : Bytes(); }

private:
    int m_fd = -1;
    bool m_datagrams = false;
    sockaddr_in m_to{};
    Wire::Unstuffer m_in;
};

class Transports : public ::testing::Test {
protected:
    void SetUp() override
    {
        tcpPort = freeTcpPort();
        udpPort = freeUdpPort();
        ASSERT_GT(tcpPort, 0);
        ASSERT_TRUE(TestRoot::writeFile("/data/configs/tcpip.ini", QByteArray("[config]\nTcpPort=") + QByteArray::number(tcpPort) + "\n"));
        ASSERT_TRUE(TestRoot::writeFile("/sim/board.json", "{\"udp_port\": " + QByteArray::number(udpPort) +
                                                                ", \"cards\": {\"1\": 4, \"2\": 4}}\n"));
        program = std::make_unique<Program>(platform::Paths::root());
        tcp = std::make_unique<FrameClient>(tcpPort, 20000);
        ASSERT_TRUE(tcp->connected()) << program->report();
        // The serial lines open around the TCP server; the 4G line's after it.
        ASSERT_TRUE(waitFor([] { return TestRoot::exists("/sim/ttyS1") && TestRoot::exists("/sim/ttyS2"); }, 20000));
        // The Wi-Fi manager comes last and adds its part to the device information: until then
        // two transports asked one after the other can see the box before and after it.
        ASSERT_TRUE(waitFor([&] { return tcp->request(Wire::request(0xA4, {16})).size() == 10 + 369 + 1; }, 20000));
        udp = Endpoint::udp(udpPort);
        serial = Endpoint::line(TestRoot::path("/sim/ttyS2"));
        modem = Endpoint::line(TestRoot::path("/sim/ttyS1"));
        ASSERT_TRUE(udp->ok() && serial->ok() && modem->ok());
    }

    int tcpPort = 0, udpPort = 0;
    std::unique_ptr<Program> program;
    std::unique_ptr<FrameClient> tcp;
    std::unique_ptr<Endpoint> udp, serial, modem;
};

}

TEST_F(Transports, SameRequestGivesTheSameReplyOnEveryTransport)
{
    const Bytes requests[] = {
        Wire::readRegister(4, 0x37),
        Wire::readRam(0x300, 250),
        Wire::request(0xA4, {3}),     // search
        Wire::request(0xA4, {16}),    // device information
    };
    for (const Bytes& request : requests) {
        const Bytes viaTcp = tcp->request(request);
        ASSERT_GT(viaTcp.size(), 11u);
        EXPECT_TRUE(Wire::checkOk(viaTcp));
        EXPECT_EQ(udp->request(request), viaTcp) << "UDP, group " << int(request[9]);
        EXPECT_EQ(serial->request(request), viaTcp) << "serial line, group " << int(request[9]);
        EXPECT_EQ(modem->request(request), viaTcp) << "4G line, group " << int(request[9]);
    }
}

TEST_F(Transports, FramesCutAnywhereAndBackToBackOnEveryTransport)
{
    Bytes stream;
    for (uint8_t i = 1; i <= 3; ++i) {
        const Bytes w = Wire::stuff(Wire::readRegister(4, i));
        stream.insert(stream.end(), w.begin(), w.end());
    }
    Endpoint* ends[] = {udp.get(), serial.get(), modem.get()};
    for (Endpoint* e : ends) {
        // pieces of 5 bytes, cut across frame borders
        for (size_t at = 0; at < stream.size(); at += 5) {
            ASSERT_TRUE(e->send(Bytes(stream.begin() + at, stream.begin() + std::min(stream.size(), at + 5))));
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        for (uint8_t i = 1; i <= 3; ++i)
            EXPECT_EQ(e->reply(), Wire::echoReply(i));
    }
}

TEST_F(Transports, NewPortIsWrittenAndTheProgramRestartsOnIt)
{
    const int newPort = freeTcpPort();
    Bytes payload = {1, 0, 0, 0, 192, 168, 1, 60, 255, 255, 255, 0, 192, 168, 1, 1, uint8_t(newPort), uint8_t(newPort >> 8)};
    const auto asked = Clock::now();
    const Bytes reply = udp->request(Wire::request(0xA4, payload));
    ASSERT_EQ(reply.size(), 12u);
    EXPECT_EQ(reply[10], 0);
    EXPECT_TRUE(TestRoot::readFile("/data/configs/tcpip.ini").contains("TcpPort=" + QByteArray::number(newPort)));
    const QStringList log = TestRoot::shellLog();
    EXPECT_TRUE(log.contains("ifconfig eth0 192.168.1.60 netmask 255.255.255.0")) << log.join('\n').toStdString();
    // The reboot follows 300 ticks (of real 10 ms periods) later, not at once: the simulated board
    // ends with 77.
    ASSERT_TRUE(waitFor([&] { return !program->running(); }, 15000));
    EXPECT_GE(Clock::now() - asked, std::chrono::milliseconds(2500)) << "the reboot came at once";
    EXPECT_NE(program->report().find("status 19712"), std::string::npos) << program->report(); // exit 77
    EXPECT_EQ(TestRoot::shellLog().count("reboot"), 1);

    // Started again, as the box's launcher does, it serves on the new port.
    program = std::make_unique<Program>(platform::Paths::root());
    FrameClient again(newPort, 20000);
    ASSERT_TRUE(again.connected()) << program->report();
    const Bytes search = again.request(Wire::request(0xA4, {3}));
    ASSERT_EQ(search.size(), 36u);
    EXPECT_EQ(Bytes(search.begin() + 21, search.begin() + 35),
              Bytes({192, 168, 1, 60, 255, 255, 255, 0, 192, 168, 1, 1, uint8_t(newPort), uint8_t(newPort >> 8)}));
}

TEST_F(Transports, CardAnswerComesBackOnTheTransportThatAsked)
{
    // A read of 4 bytes of card RAM at 0x100 on output port 1, where the simulated wall has cards.
    const Bytes toCard = Wire::sealed({0x01, 0x00, 0x10, 0xF0, 0x10, 0x20, 0x00, 0x01, 0, 0x61,
                                       0x00, 0x01, 0x00, 0x00, 0x04, 0x00, 0x00, 0x00});
    // The wall answers once FPGA 0 is up and the cards were found.
    Bytes viaTcp;
    ASSERT_TRUE(waitFor([&] { return tcp->sendFrame(toCard) && tcp->receive(&viaTcp, 1000); }, 30000)) << program->report();
    EXPECT_EQ(viaTcp[9], 0x61);
    Endpoint* ends[] = {udp.get(), serial.get(), modem.get()};
    for (Endpoint* asker : ends) {
        // A card that is busy with the periodic search may let one request pass unanswered.
        Bytes answer;
        ASSERT_TRUE(waitFor([&] { return (answer = asker->request(toCard, 2000)).size() > 11; }, 20000));
        EXPECT_TRUE(Wire::checkOk(answer));
        EXPECT_EQ(answer[9], 0x61);
        for (Endpoint* other : ends)
            if (other != asker) {
                EXPECT_TRUE(other->reply(100).empty()) << "answered on one transport only";
            }
    }
}
