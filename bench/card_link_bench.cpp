// The card link beside a poller of a missing card: the real program on the simulated board with
// four cards on each of ports 1-4; a monitor polls card 9 of port 1, which is not there, sending
// again after its own time-out without an answer (1 s, then 4 s: longer than the box waits),
// while three tools on TCP, UDP and the serial line's pseudo-terminal each read the cards of ports
// 2, 3 and 4, one frame after the other. Prints for each tool its frames, the answers lost (none
// within 3.5 s) or wrong (another card's or frame's), and the median and 99th percentile of its
// waits; then the same without the monitor.
//   card_link_bench [reads per tool, default 200]
#include "frame_client.h"
#include "program.h"

#include <algorithm>
#include <arpa/inet.h>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <memory>
#include <netinet/in.h>
#include <poll.h>
#include <string>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

using Clock = std::chrono::steady_clock;

namespace {

constexpr int kCards = 4;

// A descriptor the bench writes whole frames to and reads reply frames from.
class Link {
public:
    virtual ~Link() { if (fd >= 0) close(fd); }
    virtual bool send(const Bytes& b) = 0;
    // The next reply frame, or false after timeoutMs.
    bool reply(Bytes* body, int timeoutMs)
    {
        const auto end = Clock::now() + std::chrono::milliseconds(timeoutMs);
        while (!in.next(body)) {
            const int left = int(std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now()).count());
            pollfd p = {fd, POLLIN, 0};
            if (left <= 0 || poll(&p, 1, left) <= 0)
                return false;
            uint8_t buf[4096];
            const ssize_t n = read(fd, buf, sizeof buf);
            if (n > 0)
                in.push(buf, size_t(n));
        }
        return true;
    }
    int fd = -1;
    Wire::Unstuffer in;
};

class TcpLink : public Link {
public:
    explicit TcpLink(int port) : client(port, 20000) { fd = dup(client.fd()); }
    bool send(const Bytes& b) override { return client.sendRaw(b); }
    FrameClient client;
};

class UdpLink : public Link {
public:
    explicit UdpLink(int port)
    {
        fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        sockaddr_in any{};
        any.sin_family = AF_INET;
        bind(fd, reinterpret_cast<sockaddr*>(&any), sizeof any);
        to.sin_family = AF_INET;
        to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        to.sin_port = htons(uint16_t(port));
    }
    bool send(const Bytes& b) override
    {
        return sendto(fd, b.data(), b.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to) == ssize_t(b.size());
    }
    sockaddr_in to{};
};

class LineLink : public Link {
public:
    explicit LineLink(const std::string& path)
    {
        for (int i = 0; i < 200 && fd < 0; ++i) {
            fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
            if (fd < 0)
                std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
    }
    bool send(const Bytes& b) override { return write(fd, b.data(), b.size()) == ssize_t(b.size()); }
};

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

// One tool: `reads` frames to the cards of its port, each waited for as a PC tool waits.
Tally readCards(Link& link, int port, int reads, uint8_t serial)
{
    Tally t;
    for (int i = 0; i < reads; ++i) {
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

void round(const char* title, Link* links[3], const char* names[3], int reads, Link* monitor, int monitorMs = 0)
{
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
    Tally tallies[3];
    std::vector<std::thread> tools;
    for (int k = 0; k < 3; ++k)
        tools.emplace_back([&, k] { tallies[k] = readCards(*links[k], k + 2, reads, uint8_t(k * 64)); });
    for (std::thread& t : tools)
        t.join();
    done = true;
    if (polling.joinable())
        polling.join();
    printf("%s\n", title);
    for (int k = 0; k < 3; ++k)
        printf("  %-10s frames %4d  lost %4d  wrong %3d  median %8.2f ms  p99 %8.2f ms\n", names[k], tallies[k].frames,
               tallies[k].lost, tallies[k].wrong, percentile(tallies[k].ms, 0.5), percentile(tallies[k].ms, 0.99));
    if (monitor)
        printf("  monitor    frames %4d  answered %d\n", monitorFrames, monitorAnswers);
}

}

int main(int argc, char** argv)
{
    const int reads = argc > 1 ? std::atoi(argv[1]) : 200;
    char pattern[] = "/tmp/vyr-card-bench-XXXXXX";
    const char* root = mkdtemp(pattern);
    const int tcpPort = freeTcpPort(), udpPort = freeUdpPort();
    if (!root || tcpPort <= 0 || udpPort <= 0 || reads <= 0)
        return 1;
    std::filesystem::create_directories(std::string(root) + "/data/configs");
    std::ofstream(std::string(root) + "/data/configs/tcpip.ini") << "[config]\nTcpPort=" << tcpPort << "\n";
    std::filesystem::create_directories(std::string(root) + "/sim");
    std::ofstream(std::string(root) + "/sim/board.json")
        << "{\"udp_port\": " << udpPort << ", \"cards\": {\"1\": 4, \"2\": 4, \"3\": 4, \"4\": 4}}\n";
    int result = 0;
    {
        Program program(root);
        TcpLink tcp(tcpPort), monitor(tcpPort);
        UdpLink udp(udpPort);
        LineLink line(std::string(root) + "/sim/ttyS2");
        if (!tcp.client.connected() || !monitor.client.connected() || line.fd < 0) {
            fprintf(stderr, "program did not come up: %s\n", program.report().c_str());
            return 1;
        }
        Link* links[3] = {&tcp, &udp, &line};
        const char* names[3] = {"TCP", "UDP", "serial pty"};
        // The cards answer once FPGA 0 is up: wait for a first answer on each link.
        for (int k = 0; k < 3; ++k) {
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
        printf("reads of 4 bytes of card RAM, %d per tool, the tools at once:\n", reads);
        round("beside a monitor polling a missing card, 1 s time-out:", links, names, reads, &monitor, 1000);
        round("beside a monitor polling a missing card, 4 s time-out:", links, names, reads, &monitor, 4000);
        // The monitor's last frame is given up by the box 3 s after it went out.
        std::this_thread::sleep_for(std::chrono::milliseconds(3500));
        round("alone:", links, names, reads, nullptr);
    }
    std::filesystem::remove_all(root);
    return result;
}
