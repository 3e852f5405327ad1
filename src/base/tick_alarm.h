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

    // Ticks left until a duty that runs "at least n ticks after stamp" is due (0: due now).
    static uint32_t ticksUntil(uint32_t stamp, uint32_t n);
    // Added to a wait of n ticks: more than the panel's 100 ms between bursts, so the time limit
    // only serves a panel that does not tick.
    static constexpr uint32_t SlackMs = 110;

private:
    std::function<void()> ring_;
    std::atomic<uint32_t> target_{0};
    std::atomic<bool> armed_{false};
};
