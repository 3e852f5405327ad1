#include "base/tick_alarm.h"

#include "base/global.h"

#include <algorithm>
#include <mutex>
#include <vector>

namespace {

std::mutex& registryMutex()
{
    static std::mutex m;
    return m;
}

std::vector<TickAlarm*>& registry()
{
    static std::vector<TickAlarm*> alarms;
    return alarms;
}

std::atomic<uint32_t> slackMs{110};
std::atomic<uint32_t> armedCount{0};

}

TickAlarm::TickAlarm(std::function<void()> ring) : ring_(std::move(ring))
{
    std::lock_guard<std::mutex> lock(registryMutex());
    registry().push_back(this);
}

TickAlarm::~TickAlarm()
{
    std::lock_guard<std::mutex> lock(registryMutex());
    auto& r = registry();
    r.erase(std::remove(r.begin(), r.end(), this), r.end());
}

bool TickAlarm::arm(uint32_t due)
{
    target_ = due;
    armed_ = true;
    if (!reached(G_timeTicks.load(), due)) {
        armedCount.fetch_add(1);
        return true;
    }
    armed_ = false; // a burst ringing it meanwhile only wakes its worker once more
    return false;
}

void TickAlarm::disarm() { armed_ = false; }

void TickAlarm::advanced(uint32_t now)
{
    std::lock_guard<std::mutex> lock(registryMutex());
    for (TickAlarm* a : registry()) {
        if (!a->armed_.load() || !reached(now, a->target_.load()))
            continue;
        // Only the caller that takes the armed flag rings: a re-arm meanwhile waits its own turn.
        bool expected = true;
        if (a->armed_.compare_exchange_strong(expected, false) && a->ring_)
            a->ring_();
    }
}

std::chrono::milliseconds TickAlarm::limit(uint32_t due)
{
    const int32_t ticks = std::max<int32_t>(int32_t(due - G_timeTicks.load()), 0);
    return std::chrono::milliseconds(10 * int64_t(ticks) + slackMs.load());
}

void TickAlarm::setSlackMs(uint32_t ms)
{
    slackMs = ms;
}

uint32_t TickAlarm::armings()
{
    return armedCount.load();
}
