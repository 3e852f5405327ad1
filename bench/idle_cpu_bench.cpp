// CPU time of the idle program: starts the built program on the simulated board with a root of
// its own, waits until its control port answers (start-up over), lets it settle, then takes the
// process's CPU time and each thread's over a window and prints them as a share of one core.
//   idle_cpu_bench [seconds, default 10] [settle seconds, default 3]
#include "frame_client.h"
#include "program.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

// utime + stime of one /proc stat line, -1 when it cannot be read.
long statTicks(const std::string& path)
{
    std::ifstream f(path);
    std::string stat((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
    const size_t close = stat.rfind(')'); // the name may hold blanks
    if (close == std::string::npos)
        return -1;
    std::istringstream fields(stat.substr(close + 2));
    std::string field;
    long ticks = 0;
    for (int i = 3; fields >> field && i <= 15; ++i) // field 3 is the state
        if (i == 14 || i == 15)
            ticks += std::stol(field);
    return ticks;
}

struct ThreadTime {
    std::string name;
    long ticks;
};

// Per thread id: its name and CPU ticks so far.
std::map<std::string, ThreadTime> threadTimes(pid_t pid)
{
    std::map<std::string, ThreadTime> out;
    std::error_code error;
    const std::string tasks = "/proc/" + std::to_string(pid) + "/task";
    for (const auto& task : std::filesystem::directory_iterator(tasks, error)) {
        std::string name;
        std::getline(std::ifstream(task.path() / "comm"), name);
        const long ticks = statTicks((task.path() / "stat").string());
        if (ticks >= 0)
            out[task.path().filename().string()] = {name, ticks};
    }
    return out;
}

}

int main(int argc, char** argv)
{
    const int seconds = argc > 1 ? std::max(1, atoi(argv[1])) : 10;
    const int settle = argc > 2 ? std::max(0, atoi(argv[2])) : 3;
    char pattern[] = "/tmp/vyr-idle-XXXXXX";
    const char* root = mkdtemp(pattern);
    const int port = freeTcpPort();
    if (!root || port <= 0)
        return 1;
    std::filesystem::create_directories(std::string(root) + "/data/configs");
    std::ofstream(std::string(root) + "/data/configs/tcpip.ini") << "[config]\nTcpPort=" << port << "\n";

    int result = 1;
    {
        Program program(root);
        const auto started = std::chrono::steady_clock::now();
        bool up = false;
        {
            // Start-up is over when a read of the parameter block is answered; the connection is
            // closed again, so the window measures the program alone.
            FrameClient tool(port, 30000);
            up = tool.connected() && !tool.request(Wire::readRam(0, 16), 5000).empty();
        }
        if (!up || !program.running()) {
            fprintf(stderr, "no answer from the program: %s\n", program.report().c_str());
        } else {
            const double startS = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
            std::this_thread::sleep_for(std::chrono::seconds(settle));
            const long hz = sysconf(_SC_CLK_TCK);
            const long before = program.cpuTicks();
            const auto threadsBefore = threadTimes(program.pid());
            const auto t0 = std::chrono::steady_clock::now();
            std::this_thread::sleep_for(std::chrono::seconds(seconds));
            const long after = program.cpuTicks();
            const auto threadsAfter = threadTimes(program.pid());
            const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
            if (before < 0 || after < 0 || !program.running()) {
                fprintf(stderr, "program CPU time not readable: %s\n", program.report().c_str());
            } else {
                auto percent = [&](long ticks) { return 100.0 * double(ticks) / double(hz) / wall; };
                printf("program answered TCP %.1f s after start; idle window %.1f s after %d s settling\n", startS,
                       wall, settle);
                printf("whole program: %.0f ms CPU, %.2f %% of one core\n", 1000.0 * double(after - before) / double(hz),
                       percent(after - before));
                std::vector<std::pair<long, std::string>> rows;
                for (const auto& [tid, t] : threadsAfter) {
                    const auto was = threadsBefore.find(tid);
                    const long used = t.ticks - (was == threadsBefore.end() ? 0 : was->second.ticks);
                    rows.push_back({used, t.name + " (" + tid + ")"});
                }
                std::sort(rows.rbegin(), rows.rend());
                for (const auto& [used, name] : rows)
                    printf("  %-28s %6.0f ms  %.2f %%\n", name.c_str(), 1000.0 * double(used) / double(hz), percent(used));
                result = 0;
            }
        }
    }
    std::filesystem::remove_all(root);
    return result;
}
