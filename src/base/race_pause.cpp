#include "base/race_pause.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>

namespace {
std::atomic<bool> held[RacePause::kPoints];
std::mutex stopMutex; // guards what follows, and the held flags' changes
std::condition_variable stopCv;
int stopped[RacePause::kPoints];
uint64_t turns[RacePause::kPoints]; // how often pass() let the stopped ones go
}

namespace RacePause {

void hold(Point point)
{
    std::lock_guard<std::mutex> lock(stopMutex);
    held[point] = true;
}

int parked(Point point)
{
    std::lock_guard<std::mutex> lock(stopMutex);
    return stopped[point];
}

void pass(Point point)
{
    {
        std::lock_guard<std::mutex> lock(stopMutex);
        ++turns[point];
    }
    stopCv.notify_all();
}

void release(Point point)
{
    {
        std::lock_guard<std::mutex> lock(stopMutex);
        held[point] = false;
    }
    stopCv.notify_all();
}

void at(Point point)
{
    if (!held[point].load())
        return;
    std::unique_lock<std::mutex> lock(stopMutex);
    const uint64_t turn = turns[point];
    ++stopped[point];
    stopCv.wait(lock, [&] { return !held[point].load() || turns[point] != turn; });
    --stopped[point];
}

}
