// Round trip of a 250-byte parameter-block read from the real program on the simulated board,
// on TCP, UDP (reply broadcast on loopback) and the serial line's pseudo-terminal, measured by one
// client the same way for each, interleaved. Prints the median and the 99th percentile of each.
//   transport_roundtrip_bench [round trips per transport, default 2000]
#include "frame_client.h"
#include "program.h"

#include <algorithm>
#include <arpa/inet.h>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <netinet/in.h>
#include <poll.h>
#include <string>
#include <sys/socket.h>
#include <termios.h>
#include <thread>
#include <unistd.h>
#include <vector>

using Clock = std::chrono::steady_clock;

namespace {

constexpr uint16_t kReadBytes = 250;

// A descriptor the bench writes whole frames to and reads the reply frame from.
class Link {
public:
    virtual ~Link() { if (fd >= 0) close(fd); }
    virtual bool send(const Bytes& b) = 0;
    // One reply frame, or false after 2 s.
    bool reply(Bytes* body)
    {
        while (!in.next(body)) {
            pollfd p = {fd, POLLIN, 0};
            if (poll(&p, 1, 2000) <= 0)
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
    explicit TcpLink(int port) : client(port, 20000) {}
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

double percentile(std::vector<double> v, double p)
{
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[std::min(v.size() - 1, size_t(p * double(v.size())))];
}

}

int main(int argc, char** argv)
{
    const int rounds = argc > 1 ? std::atoi(argv[1]) : 2000;
    char pattern[] = "/tmp/vyr-transport-bench-XXXXXX";
    const char* root = mkdtemp(pattern);
    const int tcpPort = freeTcpPort(), udpPort = freeUdpPort();
    if (!root || tcpPort <= 0 || udpPort <= 0 || rounds <= 0)
        return 1;
    std::filesystem::create_directories(std::string(root) + "/data/configs");
    std::ofstream(std::string(root) + "/data/configs/tcpip.ini") << "[config]\nTcpPort=" << tcpPort << "\n";
    std::filesystem::create_directories(std::string(root) + "/sim");
    std::ofstream(std::string(root) + "/sim/board.json") << "{\"udp_port\": " << udpPort << ", \"cards\": {\"1\": 4, \"2\": 4}}\n";
    int result = 0;
    {
        Program program(root);
        TcpLink tcp(tcpPort);
        UdpLink udp(udpPort);
        LineLink line(std::string(root) + "/sim/ttyS2");
        if (!tcp.client.connected() || line.fd < 0) {
            fprintf(stderr, "program did not come up: %s\n", program.report().c_str());
            return 1;
        }
        tcp.fd = dup(tcp.client.fd());
        const Bytes wire = Wire::stuff(Wire::readRam(0x300, kReadBytes));
        Link* links[] = {&tcp, &udp, &line};
        const char* names[] = {"TCP", "UDP", "serial pty"};
        std::vector<double> us[3];
        for (int r = 0; r < rounds + 50; ++r) {
            for (int k = 0; k < 3; ++k) {
                Bytes body;
                const auto t0 = Clock::now();
                if (!links[k]->send(wire) || !links[k]->reply(&body) || body.size() != 12u + kReadBytes) {
                    fprintf(stderr, "%s: no reply in round %d\n", names[k], r);
                    result = 1;
                    break;
                }
                if (r >= 50) // the first rounds warm up caches and the program's buffers
                    us[k].push_back(std::chrono::duration<double, std::micro>(Clock::now() - t0).count());
            }
            if (result)
                break;
        }
        printf("round trip of a %u-byte read, %d rounds each, interleaved:\n", kReadBytes, rounds);
        for (int k = 0; k < 3; ++k)
            printf("  %-10s median %7.1f us   p99 %7.1f us\n", names[k], percentile(us[k], 0.5), percentile(us[k], 0.99));
    }
    std::filesystem::remove_all(root);
    return result;
}
