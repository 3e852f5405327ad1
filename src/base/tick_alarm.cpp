#include "base/tick_alarm.h"

#include "base/utils.h"

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

void TickAlarm::arm(uint32_t target)
{
    target_ = target;
    armed_ = true;
}

void TickAlarm::disarm() { armed_ = false; }

void TickAlarm::advanced(uint32_t now)
{
    std::lock_guard<std::mutex> lock(registryMutex());
    for (TickAlarm* a : registry()) {
        if (!a->armed_.load() || int32_t(now - a->target_.load()) < 0)
            continue;
        // Only the caller that takes the armed flag rings: a re-arm meanwhile waits its own turn.
        bool expected = true;
        if (a->armed_.compare_exchange_strong(expected, false) && a->ring_)
            a->ring_();
    }
}

uint32_t TickAlarm::ticksUntil(uint32_t stamp, uint32_t n)
{
    const uint32_t passed = Utils::getTimeSpace(stamp);
    return passed >= n ? 0 : n - passed;
}
