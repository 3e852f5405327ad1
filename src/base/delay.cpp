#include "base/delay.h"

#include <atomic>
#include <chrono>
#include <thread>

namespace {
std::atomic<uint32_t> scalePercent{100};
}

namespace Delay {

void us(uint32_t microseconds)
{
    const uint64_t scaled = uint64_t(microseconds) * scalePercent.load() / 100;
    if (scaled > 0)
        std::this_thread::sleep_for(std::chrono::microseconds(scaled));
}

void ms(uint32_t milliseconds)
{
    us(milliseconds * 1000u);
}

void setScalePercent(uint32_t percent)
{
    scalePercent = percent;
}

}
