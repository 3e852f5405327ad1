// The card link beside a poller of a missing card: the real program on the simulated board with
// four cards on each of ports 1-5; a monitor polls card 9 of port 1, which is not there, sending
// again after its own time-out without an answer (1 s, then 4 s: longer than the box waits),
// while four tools on TCP, UDP and the two serial lines' pseudo-terminals each read the cards of
// ports 2, 3, 4 and 5, a frame every 100 ms, each waited for (3.5 s at most). Prints for each tool
// its frames, the answers lost or wrong (another card's or frame's), and the median and 99th
// percentile of its waits; then the same without the monitor.
//   card_link_bench [seconds per round, default 20]
#include "bench_links.h"
#include "program.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

using Clock = std::chrono::steady_clock;

namespace {

constexpr int kCards = 4;
constexpr int kTools = 4;

// A read of 4 bytes at 0x100 of one card, through port byte port (1-16).
Bytes cardRead(int port, int card, uint8_t serial)
{
    return Wire::sealed({uint8_t(card), 0x00, 0x10, 0xF0, 0x10, serial, 0, uint8_t(port), 0, 0x61,
                         0x00, 0x01, 0x00, 0x00, 0x04, 0x00, 0x00, 0x00});
}

struct Tally {
    int frames = 0, lost = 0, wrong = 0;
    std::vector<double> ms;
};

double percentile(std::vector<double> v, double p)
{
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[std::min(v.size() - 1, size_t(p * double(v.size())))];
}

// One tool until `end`: a frame to the cards of its port every 100 ms, each waited for as a PC
// tool waits.
Tally readCards(Link& link, int port, Clock::time_point end, uint8_t serial)
{
    Tally t;
    for (int i = 0; Clock::now() < end; ++i) {
        std::this_thread::sleep_until(Clock::now() + std::chrono::milliseconds(100));
        const int card = i % kCards;
        if (++serial == 0x66)
            ++serial;
        Bytes body;
        const auto t0 = Clock::now();
        ++t.frames;
        if (!link.send(Wire::stuff(cardRead(port, card, serial))) || !link.reply(&body, 3500)) {
            ++t.lost;
            continue;
        }
        t.ms.push_back(std::chrono::duration<double, std::milli>(Clock::now() - t0).count());
        if (body.size() != 16 || !Wire::checkOk(body) || body[5] != serial || body[2] != card)
            ++t.wrong;
    }
    return t;
}

void round(const char* title, Link* links[kTools], const char* names[kTools], int seconds, Link* monitor, int monitorMs = 0)
{
    const Clock::time_point end = Clock::now() + std::chrono::seconds(seconds);
    std::atomic<bool> done{false};
    int monitorFrames = 0, monitorAnswers = 0;
    std::thread polling;
    if (monitor)
        polling = std::thread([&] {
            for (uint8_t serial = 0xC0; !done; ++serial) {
                Bytes body;
                ++monitorFrames;
                monitor->send(Wire::stuff(cardRead(1, 9, serial)));
                monitorAnswers += monitor->reply(&body, monitorMs);
            }
        });
    Tally tallies[kTools];
    std::vector<std::thread> tools;
    for (int k = 0; k < kTools; ++k)
        tools.emplace_back([&, k] { tallies[k] = readCards(*links[k], k + 2, end, uint8_t(k * 64)); });
    for (std::thread& t : tools)
        t.join();
    done = true;
    if (polling.joinable())
        polling.join();
    printf("%s\n", title);
    for (int k = 0; k < kTools; ++k)
        printf("  %-10s frames %4d  lost %4d  wrong %3d  median %8.2f ms  p99 %8.2f ms\n", names[k], tallies[k].frames,
               tallies[k].lost, tallies[k].wrong, percentile(tallies[k].ms, 0.5), percentile(tallies[k].ms, 0.99));
    if (monitor)
        printf("  monitor    frames %4d  answered %d\n", monitorFrames, monitorAnswers);
}

}

int main(int argc, char** argv)
{
    const int seconds = argc > 1 ? std::atoi(argv[1]) : 20;
    char pattern[] = "/tmp/vyr-card-bench-XXXXXX";
    const char* root = mkdtemp(pattern);
    const int tcpPort = freeTcpPort(), udpPort = freeUdpPort();
    if (!root || tcpPort <= 0 || udpPort <= 0 || seconds <= 0)
        return 1;
    std::filesystem::create_directories(std::string(root) + "/data/configs");
    std::ofstream(std::string(root) + "/data/configs/tcpip.ini") << "[config]\nTcpPort=" << tcpPort << "\n";
    std::filesystem::create_directories(std::string(root) + "/sim");
    std::ofstream(std::string(root) + "/sim/board.json")
        << "{\"udp_port\": " << udpPort << ", \"cards\": {\"1\": 4, \"2\": 4, \"3\": 4, \"4\": 4, \"5\": 4}}\n";
    int result = 0;
    {
        Program program(root);
        TcpLink tcp(tcpPort), monitor(tcpPort);
        UdpLink udp(udpPort);
        LineLink line(std::string(root) + "/sim/ttyS2"), modem(std::string(root) + "/sim/ttyS1");
        if (!tcp.client.connected() || !monitor.client.connected() || line.fd < 0 || modem.fd < 0) {
            fprintf(stderr, "program did not come up: %s\n", program.report().c_str());
            return 1;
        }
        Link* links[kTools] = {&tcp, &udp, &line, &modem};
        const char* names[kTools] = {"TCP", "UDP", "ttyS2 pty", "ttyS1 pty"};
        // The cards answer once FPGA 0 is up: wait for a first answer on each link.
        for (int k = 0; k < kTools; ++k) {
            Bytes body;
            bool up = false;
            for (int i = 0; i < 600 && !up; ++i)
                up = links[k]->send(Wire::stuff(cardRead(k + 2, 0, 0x01))) && links[k]->reply(&body, 100);
            if (!up) {
                fprintf(stderr, "%s: no card answers: %s\n", names[k], program.report().c_str());
                return 1;
            }
            while (links[k]->reply(&body, 500)) {
                // a late answer to a frame sent again: not one of the reads below
            }
        }
        printf("reads of 4 bytes of card RAM, every 100 ms on each tool for %d s, the tools at once:\n", seconds);
        round("beside a monitor polling a missing card, 1 s time-out:", links, names, seconds, &monitor, 1000);
        round("beside a monitor polling a missing card, 4 s time-out:", links, names, seconds, &monitor, 4000);
        // The monitor's last frame is given up by the box 3 s after it went out.
        std::this_thread::sleep_for(std::chrono::milliseconds(3500));
        round("alone:", links, names, seconds, nullptr);
    }
    std::filesystem::remove_all(root);
    return result;
}
