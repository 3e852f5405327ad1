// CPU time of the idle program: starts the built program on the simulated board with a root of
// its own, waits until its control port answers (start-up over), lets it settle, then takes the
// process's CPU time and each thread's over a window and prints them as a share of one core.
//   idle_cpu_bench [seconds, default 10] [settle seconds, default 10] [inputs: "all" connects
//   every input to a 1080p60 source, default: the simulated board's defaults]
// The settling covers the start-up that runs on after the first answer: input paths and the
// EDID check (some 7 s), the FPGA bring-up behind them.
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

// Nanoseconds a thread has run: the first field of its schedstat line (the stat file's user and
// system times come in 10 ms clock ticks, too coarse for a share well under one percent).
long long runNanoseconds(const std::filesystem::path& task)
{
    std::ifstream f(task / "schedstat");
    long long ns = -1;
    f >> ns;
    return f ? ns : -1;
}

struct ThreadTime {
    std::string name;
    long long ns;
};

// Per thread id: its name and CPU time so far.
std::map<std::string, ThreadTime> threadTimes(pid_t pid)
{
    std::map<std::string, ThreadTime> out;
    std::error_code error;
    const std::string tasks = "/proc/" + std::to_string(pid) + "/task";
    for (const auto& task : std::filesystem::directory_iterator(tasks, error)) {
        std::string name;
        std::getline(std::ifstream(task.path() / "comm"), name);
        const long long ns = runNanoseconds(task.path());
        if (ns >= 0)
            out[task.path().filename().string()] = {name, ns};
    }
    return out;
}

}

int main(int argc, char** argv)
{
    const int seconds = argc > 1 ? std::max(1, atoi(argv[1])) : 10;
    const int settle = argc > 2 ? std::max(0, atoi(argv[2])) : 10;
    const bool allInputs = argc > 3 && std::string(argv[3]) == "all";
    char pattern[] = "/tmp/vyr-idle-XXXXXX";
    const char* root = mkdtemp(pattern);
    const int port = freeTcpPort();
    if (!root || port <= 0)
        return 1;
    std::filesystem::create_directories(std::string(root) + "/data/configs");
    std::ofstream(std::string(root) + "/data/configs/tcpip.ini") << "[config]\nTcpPort=" << port << "\n";
    if (allInputs) {
        std::filesystem::create_directories(std::string(root) + "/sim");
        std::ofstream board(std::string(root) + "/sim/board.json");
        board << "{\"inputs\": {";
        for (int i = 0; i < 6; ++i)
            board << (i ? ", " : "") << '"' << i << "\": \"1920x1080p60\"";
        board << "}, \"cards\": {\"1\": 4, \"2\": 4}}\n";
    }

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
            const auto threadsBefore = threadTimes(program.pid());
            const auto t0 = std::chrono::steady_clock::now();
            std::this_thread::sleep_for(std::chrono::seconds(seconds));
            const auto threadsAfter = threadTimes(program.pid());
            const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
            if (threadsAfter.empty() || !program.running()) {
                fprintf(stderr, "program CPU time not readable: %s\n", program.report().c_str());
            } else {
                std::vector<std::pair<long long, std::string>> rows;
                long long total = 0;
                for (const auto& [tid, t] : threadsAfter) {
                    const auto was = threadsBefore.find(tid);
                    const long long used = t.ns - (was == threadsBefore.end() ? 0 : was->second.ns);
                    rows.push_back({used, t.name + " (" + tid + ")"});
                    total += used;
                }
                auto percent = [&](long long ns) { return 100.0 * double(ns) / 1e9 / wall; };
                printf("program answered TCP %.1f s after start; idle window %.1f s after %d s settling\n", startS,
                       wall, settle);
                printf("whole program: %.1f ms CPU, %.2f %% of one core (budget 0.5 %%: %s)\n", double(total) / 1e6,
                       percent(total), percent(total) <= 0.5 ? "within" : "over");
                std::sort(rows.rbegin(), rows.rend());
                for (const auto& [used, name] : rows)
                    printf("  %-28s %7.1f ms  %.3f %%\n", name.c_str(), double(used) / 1e6, percent(used));
                result = 0;
            }
        }
    }
    std::filesystem::remove_all(root);
    return result;
}
