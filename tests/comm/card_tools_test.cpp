// PC tools on different transports reading receiving cards at once, through the real FPGA worker
// and the simulated LED network whose cards answer a few SPI transfers late: every frame gets its
// own card's answer, on the transport and tool that sent it, and a tool polling a card that does
// not answer costs only its own time.
#include "frame_client.h"
#include "line_tool.h"
#include "program.h"
#include "running_fpga.h"
#include "time_limit.h"
#include "udp_tool.h"

#include "base/bytes.h"
#include "base/global.h"
#include "comm/networkmanage.h"
#include "comm/serial_transport.h"
#include "comm/tcpserver.h"
#include "comm/udpnetmanage.h"
#include "fpga/fpga_manage.h"
#include "platform/sim/devices/fpga_chip.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <functional>
#include <memory>
#include <sstream>
#include <thread>

namespace {

using platform::Sim::fpgaChip;

constexpr int kCards = 3;

// One tool's end, on TCP, UDP or the serial line: a frame out, the next reply body in (empty on
// time-out).
struct Tool {
    std::unique_ptr<FrameClient> tcp;
    std::unique_ptr<UdpTool> udp;
    std::unique_ptr<LineTool> line;
    int port = 0; // the UDP transport's
    bool send(const Bytes& body)
    {
        return tcp ? tcp->sendFrame(body) : udp ? udp->send(port, Wire::stuff(body)) : line->send(Wire::stuff(body));
    }
    Bytes reply(int timeoutMs)
    {
        Bytes body;
        return tcp ? (tcp->receive(&body, timeoutMs) ? body : Bytes()) : udp ? udp->reply(timeoutMs) : line->reply(timeoutMs);
    }
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
    std::vector<double> waitsMs; // from the frame out to its answer in
    double median() const
    {
        std::vector<double> w = waitsMs;
        std::sort(w.begin(), w.end());
        return w.empty() ? 0 : w[w.size() / 2];
    }
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
        const auto sent = std::chrono::steady_clock::now();
        if (!tool.send(cardRead(port, card, serial))) {
            ++tally.lost;
            continue;
        }
        const Bytes a = tool.reply(3500);
        tally.waitsMs.push_back(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - sent).count());
        if (a.empty())
            ++tally.lost;
        else if (a.size() != 16 || !Wire::checkOk(a) || a[5] != serial || (getU16(a.data() + 2) & 0x0FFF) != card ||
                 a[10] != 0 || Bytes(a.begin() + 11, a.begin() + 15) != cardData(port, card))
            ++tally.wrong;
    }
    return tally;
}

// The FPGA worker brought up with the cards of `ports` ports found by its own search, the panel's
// tick running, and the TCP and UDP transports started; the serial line on request.
class Link {
public:
    explicit Link(int ports)
    {
        for (int port = 0; port < ports; ++port) {
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
        // The panel's tick, one each 0.5 ms until the cards are found, then every 10 ms as on the
        // box. The simulated network's time is the FPGA's SPI traffic: then a register read each
        // 0.5 ms lets it pass while the program has nothing to say to the FPGA.
        running = std::make_unique<RunningFpga>([this] {
            if (found)
                running->fpga->read_from_register(FpgaReg::PortLinksLow, 0);
        });
        up = waitFor([&] { return running->fpga->get_port_card_num(ports - 1) == kCards; }, 60000);
        running->tickEvery(20);
        found = true;
        g_port = 0;
        tcp = networkManage::pInstance();
        udpOk = udp.initialize(0, 0) == 0;
    }
    ~Link()
    {
        line.reset();
        running->stop(); // while `running`, which its step reads, still points to it
    }
    Tool tool(const std::string& kind)
    {
        Tool t;
        if (kind == "tcp") {
            t.tcp = std::make_unique<FrameClient>(tcp->server()->port());
        } else if (kind == "udp") {
            t.udp = std::make_unique<UdpTool>();
        } else {
            if (!line) {
                line = std::make_unique<Qz_uart_inout>();
                line->usart1_init(2, 115200);
            }
            t.line = std::make_unique<LineTool>(2);
        }
        t.port = udp.server()->port();
        return t;
    }
    bool up = false, udpOk = false;

private:
    networkManage* tcp = nullptr;
    udpnetManage udp;
    std::unique_ptr<Qz_uart_inout> line;
    std::atomic<bool> found{false};
    std::unique_ptr<RunningFpga> running;
};

}

// Two tools by default (TCP and UDP), 40 reads each; VYR_CARD_TOOLS (up to four of tcp, udp and
// serial, comma separated) and VYR_CARD_POLLS change them for a longer measurement by hand.
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
    Link link(int(kinds.size()));
    ASSERT_TRUE(link.up) << "cards found by the worker's search";
    ASSERT_TRUE(link.udpOk);
    std::vector<Tool> tools;
    for (const std::string& kind : kinds)
        tools.push_back(link.tool(kind));

    std::vector<Tally> tallies(tools.size());
    std::vector<std::thread> running;
    for (size_t t = 0; t < tools.size(); ++t)
        running.emplace_back([&, t] { tallies[t] = poll(tools[t], int(t), polls, uint8_t(t * 64)); });
    for (std::thread& r : running)
        r.join();
    for (size_t t = 0; t < tools.size(); ++t) {
        EXPECT_EQ(tallies[t].lost, 0) << kinds[t] << " tool " << t << ": answers lost of " << polls;
        EXPECT_EQ(tallies[t].wrong, 0) << kinds[t] << " tool " << t << ": answers to another frame of " << polls;
    }
}

// A monitor polling a card that is not there (port 1, card 9), sending again when no answer came
// within its own time-out, beside tools reading the cards of ports 0, 2 and 3 on TCP, UDP and the
// serial line: those tools lose no answer and wait milliseconds for each, and the monitor gets
// none. A frame left unanswered holds no other frame back.
TEST(CardTools, APollerOfAMissingCardCostsOnlyItsOwnTime)
{
    const int polls = 20;
    Link link(4);
    ASSERT_TRUE(link.up) << "cards found by the worker's search";
    ASSERT_TRUE(link.udpOk);
    const struct {
        const char* kind;
        int port;
    } rows[] = {{"tcp", 0}, {"udp", 2}, {"serial", 3}};
    std::vector<Tool> tools;
    for (const auto& row : rows)
        tools.push_back(link.tool(row.kind));
    Tool monitor = link.tool("tcp");

    std::atomic<bool> done{false};
    int monitorAnswers = 0, monitorPolls = 0;
    std::thread polling([&] {
        for (uint8_t serial = 0xC0; !done; ++serial, ++monitorPolls) {
            monitor.send(cardRead(1, 9, serial));
            monitorAnswers += !monitor.reply(500).empty();
        }
    });
    std::vector<Tally> tallies(tools.size());
    std::vector<std::thread> running;
    for (size_t t = 0; t < tools.size(); ++t)
        running.emplace_back([&, t] { tallies[t] = poll(tools[t], rows[t].port, polls, uint8_t(t * 64)); });
    for (std::thread& r : running)
        r.join();
    done = true;
    polling.join();
    EXPECT_GT(monitorPolls, 0);
    EXPECT_EQ(monitorAnswers, 0) << "the missing card's frames were answered";
    for (size_t t = 0; t < tools.size(); ++t) {
        SCOPED_TRACE(rows[t].kind);
        EXPECT_EQ(tallies[t].lost, 0) << "answers lost of " << polls;
        EXPECT_EQ(tallies[t].wrong, 0) << "answers to another frame of " << polls;
        EXPECT_LT(tallies[t].median(), TimeLimit::ms(25)) << "median wait for an answer, ms";
    }
}
