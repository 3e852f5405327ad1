#include "base/race_pause.h"

#include <atomic>
#include <chrono>
#include <thread>

namespace {
std::atomic<uint32_t> pauses[RacePause::kPoints];
}

namespace RacePause {

void set(Point point, uint32_t milliseconds)
{
    pauses[point] = milliseconds;
}

void at(Point point)
{
    if (const uint32_t ms = pauses[point].load())
        std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

}
