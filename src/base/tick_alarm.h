#pragma once
#include <atomic>
#include <chrono>
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

    // Rings once, when G_timeTicks has reached due (wrap-safe). Returns false, unarmed, when it
    // already has: a burst that came before the arming would never ring it.
    bool arm(uint32_t due);
    void disarm();

    // Called by the thread that advances G_timeTicks, after each burst.
    static void advanced(uint32_t now);

    // A duty falls due at an absolute tick computed once from its stamp ("n ticks after stamp"):
    // ticks counted while the worker gets ready to sleep then shorten the sleep, not lengthen it.
    static bool reached(uint32_t now, uint32_t due) { return int32_t(now - due) >= 0; }
    static uint32_t earlier(uint32_t a, uint32_t b) { return int32_t(a - b) <= 0 ? a : b; }
    static uint32_t later(uint32_t a, uint32_t b) { return int32_t(a - b) >= 0 ? a : b; }
    // The time limit of a sleep until due: 10 ms a tick still to come, plus a slack of more than
    // the panel's 100 ms between bursts, so it only serves a panel that does not tick. Tests
    // stretch the slack to see that the alarm alone wakes a worker.
    static std::chrono::milliseconds limit(uint32_t due);
    static void setSlackMs(uint32_t ms);
    // How many times any alarm was armed (arm returned true): a test sees a worker go to sleep on
    // its alarm, after which a burst reaching its tick wakes it.
    static uint32_t armings();

private:
    std::function<void()> ring_;
    std::atomic<uint32_t> target_{0};
    std::atomic<bool> armed_{false};
};
