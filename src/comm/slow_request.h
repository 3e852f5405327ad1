#pragma once
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>

// The work of a slow request (message_deal::SlowWork), run off its transport's thread so that the
// transport goes on serving the other tools: on a thread of its own ("slow_requests"), one at a
// time in the order they came, as a transport's thread ran them before. The status the work
// returns is its request's answer.
class SlowRequest {
public:
    // Queues the work; wake is called, from the slow requests' thread, once it has ended. Without
    // that thread the work runs here, on the caller's.
    static std::shared_ptr<SlowRequest> start(std::function<uint8_t()> work, std::function<void()> wake);
    bool ended(uint8_t* status); // and its status
    void drop();                 // nobody waits for it any more: no wake-up (it runs all the same)

    explicit SlowRequest(std::function<uint8_t()> work, std::function<void()> wake)
        : m_work(std::move(work)), m_wake(std::move(wake)) {}
    void run(); // the slow requests' thread

private:
    std::function<uint8_t()> m_work;
    std::mutex m_mutex; // the three below: the asker's thread reads them while the work ends
    std::function<void()> m_wake;
    bool m_ended = false;
    uint8_t m_status = 0;
};
