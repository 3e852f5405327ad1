#pragma once
#include <atomic>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <netinet/in.h>
#include <pthread.h>
#include <vector>

#include "comm/pending_answers.h"
#include "comm/protocol_phy.h"
#include "comm/udpserver.h"

class message_deal;

// The UDP transport. Control port: one thread blocks in poll on the socket, decodes each sender's
// datagrams as a stream of its own, runs the frames and broadcasts the replies to the sender's
// port (or passes frames for receiving cards to the FPGA manager). Configuration port 13769: a
// second thread hands each datagram to the Wi-Fi command handler and sends its queued answers.
class udpnetManage {
public:
    static udpnetManage* p_udpnetManage;
    static udpnetManage* pInstance(); // opens the ports and starts the threads

    udpnetManage();
    ~udpnetManage(); // stops the threads and closes both sockets
    // Control port from config/UdpPort (5008 by default), configuration port 13769; 0 or 255.
    int initialize();
    int initialize(int port, int wifiPort, bool threads = true);
    void runOnce(int timeoutMs);      // control port: wait, serve, wait for a card
    void runOnce13769(int timeoutMs); // configuration port: wait, hand over, send answers

    // The Wi-Fi command handler, called with each datagram of port 13769 (in arrival order); it
    // answers through answer_13769 while it runs. Unset (nullptr): datagrams are dropped.
    static void set_wifi_AT_cmd_manage(std::function<void(const uint8_t*, uint32_t)> handler);
    // The answer to the datagram being handled, queued for its sender. False when the list is full.
    bool answer_13769(const uint8_t* text, uint32_t length);
    size_t pending13769() const;

    UdpServer* server() const { return m_server; }
    uint8_t passState() const { return m_askers.state(); } // PendingAnswers: 0 idle, 1 waiting, 2 serving

    static constexpr size_t kMaxPeers = 64;          // senders with a partial frame kept
    static constexpr size_t kMaxTextAnswers = 64;    // Wi-Fi text answers (port 13769) waiting to go out

private:
    struct Answer {
        sockaddr_in to;
        std::vector<uint8_t> data;
    };
    struct Peer {
        explicit Peer(uint32_t capacity) : stream(capacity) {}
        FrameStream stream;
        uint64_t used = 0;
    };
    static void* acceptThread(void* arg);
    static void* acceptThread13769(void* arg);
    FrameStream& streamOf(const sockaddr_in& from);
    void serveFrame(const sockaddr_in& from, const uint8_t* body, uint32_t length);
    void answerAskers();
    void sendAnswers13769();
    void wake(int fd);

    UdpServer* m_server;
    protocol_phy* m_phy;
    message_deal* m_message;
    std::map<uint64_t, Peer> m_peers; // by sender address and port
    uint64_t m_use = 0;
    std::vector<uint8_t> m_request;   // the frame being served, reply built in place
    std::vector<uint8_t> m_wire;
    UdpServer::Datagram m_datagram;
    UdpServer::Datagram m_datagram13769;

    // Senders waiting for a card's answer or a slow request's, by address and port. Cleared
    // before the wake-up descriptor closes.
    PendingAnswers m_askers;

    mutable std::mutex m_send_mutex;  // the 13769 send list
    std::deque<Answer> m_send_13769;
    const sockaddr_in* m_handling = nullptr; // sender of the datagram being handled

    pthread_t m_thread{}, m_thread13769{};
    bool m_threads_started = false;
    std::atomic<bool> m_stop{false};
    int m_wake_fd = -1, m_wake_fd13769 = -1;
};
