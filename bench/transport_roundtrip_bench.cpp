// Round trip of a 250-byte parameter-block read from the real program on the simulated board,
// on TCP, UDP (reply broadcast on loopback) and the serial line's pseudo-terminal, measured by one
// client the same way for each, interleaved. Prints the median and the 99th percentile of each.
//   transport_roundtrip_bench [round trips per transport, default 2000]
#include "bench_links.h"
#include "program.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

using Clock = std::chrono::steady_clock;

namespace {

constexpr uint16_t kReadBytes = 250;

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
