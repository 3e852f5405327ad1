// PC tools on different transports reading receiving cards at once, through the real FPGA worker
// and the simulated LED network whose cards answer a few SPI transfers late: every frame gets its
// own card's answer, on the transport and tool that sent it.
#include "frame_client.h"
#include "program.h"
#include "time_limit.h"
#include "udp_tool.h"

#include "base/bytes.h"
#include "base/global.h"
#include "comm/networkmanage.h"
#include "comm/serial_transport.h"
#include "comm/tcpserver.h"
#include "comm/udpnetmanage.h"
#include "fpga/fpga_manage.h"
#include "params/vyrrampara.h"
#include "platform/sim/devices/fpga_chip.h"
#include "platform/sim/pty_serial.h"
#include "video_chips/keltosource.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <fcntl.h>
#include <functional>
#include <memory>
#include <poll.h>
#include <sstream>
#include <thread>
#include <unistd.h>

namespace {

using platform::Sim::fpgaChip;

constexpr int kCards = 3;

// One tool's end: sends a frame, takes the next reply body (empty on time-out).
class Tool {
public:
    virtual ~Tool() = default;
    virtual bool send(const Bytes& body) = 0;
    virtual Bytes reply(int timeoutMs) = 0;
};

class TcpTool : public Tool {
public:
    explicit TcpTool(int port) : m_client(port) {}
    bool send(const Bytes& body) override { return m_client.sendFrame(body); }
    Bytes reply(int timeoutMs) override
    {
        Bytes body;
        return m_client.receive(&body, timeoutMs) ? body : Bytes();
    }

private:
    FrameClient m_client;
};

class DatagramTool : public Tool {
public:
    explicit DatagramTool(int port) : m_port(port) {}
    bool send(const Bytes& body) override { return m_tool.send(m_port, Wire::stuff(body)); }
    Bytes reply(int timeoutMs) override { return m_tool.reply(timeoutMs); }

private:
    UdpTool m_tool;
    int m_port;
};

class LineTool : public Tool {
public:
    explicit LineTool(int index)
        : m_fd(open(platform::Sim::serialSim().peerPath(index).c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC))
    {
    }
    ~LineTool() override
    {
        if (m_fd >= 0)
            close(m_fd);
    }
    bool send(const Bytes& body) override
    {
        const Bytes wire = Wire::stuff(body);
        return write(m_fd, wire.data(), wire.size()) == ssize_t(wire.size());
    }
    Bytes reply(int timeoutMs) override
    {
        Bytes body;
        const auto end = std::chrono::steady_clock::now() + TimeLimit::of(timeoutMs);
        while (!m_in.next(&body)) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now()).count();
            pollfd p = {m_fd, POLLIN, 0};
            if (left <= 0 || poll(&p, 1, int(left)) <= 0)
                return {};
            uint8_t chunk[4096];
            const ssize_t n = read(m_fd, chunk, sizeof chunk);
            if (n > 0)
                m_in.push(chunk, size_t(n));
        }
        return body;
    }

private:
    int m_fd;
    Wire::Unstuffer m_in;
};

// What a card holds at 0x100: its port and index, so an answer from another card shows.
Bytes cardData(int port, int card)
{
    return {uint8_t(0xC0 | port), uint8_t(card), uint8_t(port ^ card), 0x5A};
}

// A read of 4 bytes at 0x100 of one card, through port byte port + 1.
Bytes cardRead(int port, int card, uint8_t serial)
{
    return Wire::sealed({uint8_t(card), 0x00, 0x10, 0xF0, 0x10, serial, 0, uint8_t(port + 1), 0, 0x61,
                         0x00, 0x01, 0x00, 0x00, 0x04, 0x00, 0x00, 0x00});
}

struct Tally {
    int lost = 0, wrong = 0;
};

// A tool reading the cards of its port, `polls` frames one after the other, each waited for as a
// PC tool waits.
Tally poll(Tool& tool, int port, int polls, uint8_t serialBase)
{
    Tally tally;
    uint8_t serial = serialBase;
    for (int i = 0; i < polls; ++i) {
        const int card = i % kCards;
        if (++serial == 0x66)
            ++serial; // the serial of the box's own multifunction packets: their answers stay inside
        if (!tool.send(cardRead(port, card, serial))) {
            ++tally.lost;
            continue;
        }
        const Bytes a = tool.reply(3500);
        if (a.empty())
            ++tally.lost;
        else if (a.size() != 16 || !Wire::checkOk(a) || a[5] != serial || (getU16(a.data() + 2) & 0x0FFF) != card ||
                 a[10] != 0 || Bytes(a.begin() + 11, a.begin() + 15) != cardData(port, card))
            ++tally.wrong;
    }
    return tally;
}

}

// Two tools by default (TCP and UDP), 40 reads each; VYR_CARD_TOOLS (tcp, udp, serial, comma
// separated) and VYR_CARD_POLLS change them for a longer measurement by hand.
TEST(CardTools, ToolsOnTwoTransportsPollingCardsAtOnceEachGetTheirOwnAnswers)
{
    std::vector<std::string> kinds = {"tcp", "udp"};
    if (const char* env = getenv("VYR_CARD_TOOLS")) {
        kinds.clear();
        std::stringstream list(env);
        for (std::string k; std::getline(list, k, ',');)
            kinds.push_back(k);
    }
    const int polls = getenv("VYR_CARD_POLLS") ? atoi(getenv("VYR_CARD_POLLS")) : 40;
    ASSERT_LE(kinds.size(), size_t(4));

    VyrRamPara::pInstance();
    keltosource::pInstance()->clock_state[0] = 2;
    for (size_t t = 0; t < kinds.size(); ++t) {
        const int port = int(t);
        fpgaChip().setCards(port, kCards);
        fpgaChip().editNetwork([port](platform::Sim::LedNetwork& n) {
            for (int c = 0; c < kCards; ++c) {
                const Bytes d = cardData(port, c);
                for (uint32_t k = 0; k < d.size(); ++k)
                    n.port(port).cards[size_t(c)].ram[0x100 + k] = d[k];
            }
        });
    }
    fpgaChip().setReplyDelay(8);
    fpga_manage* fpga = fpga_manage::pInstance();
    // The panel's tick, one each 0.5 ms until the cards are found, then every 10 ms as on the box.
    // The simulated network's time is the FPGA's SPI traffic: then a register read each 0.5 ms
    // lets it pass while the program has nothing to say to the FPGA.
    std::atomic<bool> ticking{true}, found{false};
    std::thread ticks([&] {
        for (int n = 1; ticking; ++n) {
            if (!found || n % 20 == 0)
                G_timeTicks.fetch_add(1);
            if (found)
                fpga->read_from_register(FpgaReg::PortLinksLow, 0);
            std::this_thread::sleep_for(std::chrono::microseconds(500));
        }
    });
    struct Stop {
        std::function<void()> f;
        ~Stop() { f(); }
    } stop{[&] {
        ticking = false;
        ticks.join();
        fpga->stop_worker();
    }};
    fpga_manage::gpio_write(fpga->rst_fpga0, 16);
    g_fpga_c331_start = 1;
    fpga_manage::wake();
    ASSERT_TRUE(waitFor([&] { return fpga->get_port_card_num(int(kinds.size()) - 1) == kCards; }, 60000))
        << "cards found by the worker's search";
    found = true;

    g_port = 0;
    networkManage* tcp = networkManage::pInstance();
    udpnetManage udp;
    ASSERT_EQ(udp.initialize(0, 0), 0);
    Qz_uart_inout line;
    ASSERT_EQ(line.usart1_init(2, 115200), 0);
    std::vector<std::unique_ptr<Tool>> tools;
    for (const std::string& k : kinds) {
        if (k == "tcp")
            tools.push_back(std::make_unique<TcpTool>(tcp->server()->port()));
        else if (k == "udp")
            tools.push_back(std::make_unique<DatagramTool>(udp.server()->port()));
        else
            tools.push_back(std::make_unique<LineTool>(2));
    }

    std::vector<Tally> tallies(tools.size());
    std::vector<std::thread> running;
    for (size_t t = 0; t < tools.size(); ++t)
        running.emplace_back([&, t] { tallies[t] = poll(*tools[t], int(t), polls, uint8_t(t * 64)); });
    for (std::thread& r : running)
        r.join();
    for (size_t t = 0; t < tools.size(); ++t) {
        EXPECT_EQ(tallies[t].lost, 0) << kinds[t] << " tool " << t << ": answers lost of " << polls;
        EXPECT_EQ(tallies[t].wrong, 0) << kinds[t] << " tool " << t << ": answers to another frame of " << polls;
    }
}
