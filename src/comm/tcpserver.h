#pragma once
#include <atomic>
#include <chrono>
#include <cstdint>
#include <list>
#include <map>
#include <set>
#include <sys/epoll.h>
#include <sys/types.h>
#include <vector>

// The control port's listening socket and its clients. One poll over all of them turns what
// arrives into chunks for the owner; replies that a client does not take at once wait in its
// own queue, so a slow reader never blocks the others. A client with a reply still queued is not
// read, and the rest of its last chunk waits unserved: one that never reads holds one reply here
// and a capped send buffer in the kernel. A pass serves one frame of what a client just sent, and
// of requests left waiting those of a few clients in turn; a client is not read while its requests
// wait, so one client's queue cannot keep the others waiting. Descriptors stay in one epoll set
// and the counts are kept as they change, so a pass costs what the ready clients need, not what
// all the connected ones would.
class TcpServer {
public:
    struct Chunk {
        int fd;
        std::vector<uint8_t> data;
        size_t from = 0; // the bytes before it were served in an earlier pass
    };
    static constexpr uint32_t kChunkMax = 131071;        // bytes taken from a client per receive
    static constexpr size_t kMaxClients = 128;           // a newcomer beyond them replaces a client or is turned away (makeRoom)
    static constexpr size_t kMaxPendingOut = 1u << 20;   // unsent reply bytes a client may hold (a few replies)
    static constexpr uint32_t kIdleTicks = 30000;        // 5 minutes without a frame close a client
    static constexpr uint32_t kInUseTicks = 6000;        // a frame within the last minute: the client is in use
    // Send buffer asked of the kernel for each client (it reserves twice that): a large reply or
    // file block still flows at full speed, and a client that never reads holds no more there.
    static constexpr int kSendBuffer = 128 * 1024;
    static constexpr size_t kTurnsPerPass = 4;           // clients whose waiting requests a pass takes up

    TcpServer();
    ~TcpServer();
    int initialize(int port);            // listen on the board's listen address; 0, or 255
    // One wait on the listener and the clients (epoll), up to timeoutMs (-1: until something
    // happens); wakeFd and timerFd (an eventfd, a timerfd; each may be -1) end the wait early and
    // are read empty. 0, or 255 when poll or accept fails.
    int recvData(int timeoutMs, int wakeFd = -1, int timerFd = -1);
    int sendData(const uint8_t* data, uint32_t length, int fd); // 0, or 255 (the client is closed)
    void delete_clinetSocket(int fd);
    void unInitialize();

    int port() const;                    // the bound port (a listener on port 0 gets one)
    uint64_t clientId(int fd) const;     // the connection's number, never reused; 0 for none
    uint32_t clientAddress(int fd) const; // its peer's IPv4 address; 0 for none
    void frameFrom(int fd);              // the client sent a whole frame: it is in use
    bool nextIdleClose(uint32_t* due) const; // the tick the next client falls idle at; false for none
    size_t clientCount() const { return m_client_count.load(); } // readable from any thread
    size_t heldBytes() const { return m_held_bytes.load(); }     // queued replies and unserved requests, all clients
    size_t stalledCount() const { return m_stalled_count.load(); } // clients not read for their queued replies

    // Back-pressure: true while the client still has reply bytes queued. The owner then stops
    // serving its chunk and hands the rest back; it comes again as a chunk once the replies left.
    bool backedUp(int fd) const;
    // The chunk's bytes from used on wait for the client's next turn (the chunk gives them up).
    void holdBack(Chunk& chunk, size_t used);
    // Received in the last poll, oldest first. The owner reads them in place (a chunk of a client
    // closed meanwhile has fd -1) and then calls recycleChunks(), so their buffers are reused.
    std::vector<Chunk> m_chunks;
    void recycleChunks();
    std::vector<int> m_closed;           // clients removed since the owner last looked

private:
    struct Client {
        std::vector<uint8_t> out; // reply bytes not yet taken by the socket
        size_t sent = 0;
        std::vector<uint8_t> held; // received bytes not served yet, from heldFrom on
        size_t heldFrom = 0;
        // Its replies have left and its held requests wait for their turn.
        bool waitsForTurn() const { return !held.empty() && out.empty(); }
        size_t pending() const { return out.size() - sent + held.size() - heldFrom; }
        // What it is polled for: room for its replies, else its requests unless some still wait.
        uint32_t wanted() const { return !out.empty() ? uint32_t(EPOLLOUT) : held.empty() ? uint32_t(EPOLLIN) : 0; }
        uint32_t watched = 0;      // what the epoll set asks of it now
        uint32_t address = 0;      // the peer's IPv4 address
        uint64_t id = 0;
        uint32_t heard = 0;   // G_timeTicks of its accept or its last frame
        std::list<int>::iterator place; // in m_by_use
        bool framed = false;  // it has sent a frame
    };
    bool acceptClients(); // false after a hard failure
    bool makeRoom();      // closes a client of the host holding most; false: the newcomer waits
    void closeIdleClients();
    void readClient(int fd);
    static ssize_t sendWithoutBlocking(int fd, const uint8_t* data, size_t length);
    void flushClient(int fd);
    void closeClient(int fd);
    void releaseHeld(); // held bytes of the next kTurnsPerPass clients without queued replies become chunks
    // Runs edit on the client's queues and brings the counts, the waiting set and its epoll
    // events up to date with them.
    template <typename Edit>
    void change(int fd, Client& client, Edit edit);
    bool watch(int op, int fd, uint32_t events);
    void watchWakeFd(int slot, int fd);

    int m_server_socket = -1;
    int m_epoll = -1;
    int m_wake_fds[2] = {-1, -1}; // the owner's wake-up and timer descriptors, in the epoll set
    std::map<int, Client> m_clients; // ordered: clients are served in ascending descriptor order
    std::list<int> m_by_use;          // descriptors by accept or last frame: the idle longest first
    std::set<int> m_waiting;          // clients whose held requests wait for their turn
    std::atomic<size_t> m_client_count{0};
    std::atomic<size_t> m_held_bytes{0};
    std::atomic<size_t> m_stalled_count{0};
    std::vector<uint8_t> m_recvBuf;
    std::vector<std::vector<uint8_t>> m_spare; // chunk buffers kept for the next receives
    std::vector<epoll_event> m_events;
    std::vector<std::pair<int, uint32_t>> m_ready; // clients with events this pass, by descriptor
    bool m_accept_paused = false;
    std::chrono::steady_clock::time_point m_acceptPausedUntil{};
    uint64_t m_next_id = 0;
    int m_last_turn = -1; // the client whose held requests were taken up last
};
