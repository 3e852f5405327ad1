// Round trip of a 1024-byte read of the parameter block over TCP, one client, against the real
// program on the simulated board; then the program's CPU time while nobody talks to it.
//   tcp_roundtrip_bench [round trips, default 5000] [idle seconds, default 10]
#include "frame_client.h"
#include "program.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

using Clock = std::chrono::steady_clock;

// CPU ticks of the program's thread with this name (utime + stime), -1 when there is none.
static long threadTicks(pid_t pid, const std::string& name)
{
    const std::string tasks = "/proc/" + std::to_string(pid) + "/task";
    std::error_code error;
    for (const auto& task : std::filesystem::directory_iterator(tasks, error)) {
        std::string comm, stat;
        std::getline(std::ifstream(task.path() / "comm"), comm);
        if (comm != name)
            continue;
        std::getline(std::ifstream(task.path() / "stat"), stat);
        std::istringstream fields(stat.substr(stat.rfind(')') + 2));
        std::string f;
        long ticks = 0;
        for (int i = 3; fields >> f && i <= 15; ++i)
            if (i == 14 || i == 15)
                ticks += std::stol(f);
        return ticks;
    }
    return -1;
}

int main(int argc, char** argv)
{
    const int rounds = argc > 1 ? atoi(argv[1]) : 5000;
    const int idleSeconds = argc > 2 ? atoi(argv[2]) : 10;
    char pattern[] = "/tmp/vyr-bench-XXXXXX";
    const char* root = mkdtemp(pattern);
    const int port = freeTcpPort();
    if (!root || port <= 0 || rounds <= 0)
        return 1;
    std::filesystem::create_directories(std::string(root) + "/data/configs");
    std::ofstream(std::string(root) + "/data/configs/tcpip.ini") << "[config]\nTcpPort=" << port << "\n";

    int result = 1;
    {
        Program program(root);
        FrameClient tool(port, 20000);
        const Bytes request = Wire::readRam(0, 1024);
        if (!tool.connected() || tool.request(request).size() != 1036) {
            fprintf(stderr, "no answer from the program: %s\n", program.report().c_str());
        } else {
            for (int i = 0; i < 100; ++i) // warm up
                tool.request(request);
            std::vector<double> micros;
            micros.reserve(size_t(rounds));
            for (int i = 0; i < rounds; ++i) {
                const auto start = Clock::now();
                if (tool.request(request).size() != 1036) {
                    fprintf(stderr, "round trip %d failed\n", i);
                    break;
                }
                micros.push_back(std::chrono::duration<double, std::micro>(Clock::now() - start).count());
            }
            std::sort(micros.begin(), micros.end());
            if (micros.size() == size_t(rounds)) {
                printf("round trips: %d, read of 1024 bytes\n", rounds);
                printf("median %.1f us, 10th percentile %.1f us, 90th percentile %.1f us, 99th percentile %.1f us\n",
                       micros[micros.size() / 2], micros[micros.size() / 10], micros[micros.size() * 9 / 10],
                       micros[micros.size() * 99 / 100]);
                const long before = program.cpuTicks();
                const long transportBefore = threadTicks(program.pid(), "networkManage");
                std::this_thread::sleep_for(std::chrono::seconds(idleSeconds));
                const long used = program.cpuTicks() - before;
                const long transportUsed = threadTicks(program.pid(), "networkManage") - transportBefore;
                const long hz = sysconf(_SC_CLK_TCK);
                printf("idle %d s with the client connected: program CPU time %.0f ms (%.2f %% of one core)\n",
                       idleSeconds, 1000.0 * double(used) / double(hz),
                       100.0 * double(used) / double(hz) / double(idleSeconds));
                printf("of which the TCP transport thread: %.0f ms\n", 1000.0 * double(transportUsed) / double(hz));
                result = 0;
            }
        }
    }
    std::filesystem::remove_all(root);
    return result;
}
