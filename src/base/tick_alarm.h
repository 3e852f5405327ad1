#pragma once
#include <atomic>
#include <cstdint>
#include <functional>

// Wakes a worker when the system tick reaches the tick its next duty is due at. The panel
// advances G_timeTicks in bursts (every 100 ms it counts the 10 ms periods that passed), so a
// worker sleeping one tick's 10 ms would mostly wake to the same tick and sleep again.
class TickAlarm {
public:
    explicit TickAlarm(std::function<void()> ring); // ring runs on the thread that advances the tick
    ~TickAlarm();
    TickAlarm(const TickAlarm&) = delete;
    TickAlarm& operator=(const TickAlarm&) = delete;

    void arm(uint32_t target); // ring once, when G_timeTicks has reached target (wrap-safe)
    void disarm();

    // Called by the thread that advances G_timeTicks, after each burst.
    static void advanced(uint32_t now);

private:
    std::function<void()> ring_;
    std::atomic<uint32_t> target_{0};
    std::atomic<bool> armed_{false};
};
