#pragma once
#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <pthread.h>
#include <unordered_map>
#include <vector>

#include "base/tick_alarm.h"
#include "comm/pending_answers.h"
#include "comm/protocol_phy.h"

class TcpServer;
class message_deal;

// The TCP transport: one thread that blocks in poll on the control port and its clients, decodes
// each connection's byte stream into frames, runs them through the command handler and sends the
// replies, or passes frames for receiving cards to the FPGA manager and sends back the answer.
class networkManage {
public:
    static networkManage* p_network;
    static networkManage* pInstance(); // creates the transport and starts its thread

    networkManage();  // the program goes through pInstance; tests may own one
    ~networkManage(); // stops the thread and closes every socket
    int initialize(); // opens the server when g_networkMode is set, starts the thread; 0 or 255
    void runOnce(int timeoutMs); // one pass: wait for sockets, serve frames, wait for a card

    TcpServer* server() const { return m_tcpServer; }
    uint8_t passState() const { return m_askers.state(); } // PendingAnswers: 0 idle, 1 waiting, 2 serving


private:
    static void* acceptThread(void* arg);
    int nextTimeout(); // also sets the alarm for the next client that falls idle
    bool idleTimerBy(std::chrono::milliseconds limit);
    void takeClosed();
    void serveFrame(int fd, const uint8_t* body, uint32_t length);
    void answerAskers();
    void wake();

    TcpServer* m_tcpServer;
    protocol_phy* m_phy;
    message_deal* m_message;
    std::unordered_map<int, FrameStream> m_streams; // one decoder per connection
    std::vector<uint8_t> m_request;                 // the frame being served, reply built in place
    std::vector<uint8_t> m_wire;
    // Clients waiting for a card's answer or a slow request's, by descriptor. Cleared before the
    // wake-up descriptor closes: the waits wake the thread.
    PendingAnswers m_askers;
    pthread_t m_thread{};
    bool m_thread_started = false;
    std::atomic<bool> m_stop{false};
    int m_wake_fd = -1;
    int m_idle_timer_fd = -1; // the idle alarm's time limit (a timerfd)
    std::chrono::steady_clock::time_point m_idle_timer_at{}; // when it rings; in the past: not set
    std::unique_ptr<TickAlarm> m_idle_alarm; // gone before the wake-up descriptor closes
};
