#include "comm/tcpserver.h"

#include "base/global.h"
#include "base/logMsg.h"
#include "base/utils.h"
#include "base/tick_alarm.h"
#include "platform/net.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// After a hard accept failure (out of descriptors) the listener stays readable: leave it out of
// the poll for a moment instead of waking on it again and again.
constexpr std::chrono::milliseconds kAcceptPause{100};
// A chunk buffer grown by a large frame is not kept: most frames are a few dozen bytes.
constexpr size_t kSpareCapacity = 16384;
// A PC that lost power or its network leaves a connection nobody closes: probe a connection
// after 60 s of silence, every 10 s, and give it up after 3 unanswered probes.
constexpr int kKeepIdleSeconds = 60, kKeepIntervalSeconds = 10, kKeepProbes = 3;

void keepAlive(int fd)
{
    const int on = 1, idle = kKeepIdleSeconds, interval = kKeepIntervalSeconds, probes = kKeepProbes;
    setsockopt(fd, SOL_SOCKET, SO_KEEPALIVE, &on, sizeof on);
    setsockopt(fd, IPPROTO_TCP, TCP_KEEPIDLE, &idle, sizeof idle);
    setsockopt(fd, IPPROTO_TCP, TCP_KEEPINTVL, &interval, sizeof interval);
    setsockopt(fd, IPPROTO_TCP, TCP_KEEPCNT, &probes, sizeof probes);
}

}

TcpServer::TcpServer() : m_recvBuf(kChunkMax), m_events(kMaxClients + 2)
{
    writeLogMsg(LOG_INFO, "=====TcpServer::TcpServer()=====");
    m_epoll = epoll_create1(EPOLL_CLOEXEC);
    if (m_epoll < 0)
        writeLogMsg(LOG_ERROR, std::string("epoll error:") + strerror(errno)); // the log writes no %m
}

TcpServer::~TcpServer()
{
    unInitialize();
    if (m_epoll >= 0)
        close(m_epoll);
}

bool TcpServer::watch(int op, int fd, uint32_t events)
{
    epoll_event e{};
    e.events = events;
    e.data.fd = fd;
    return m_epoll >= 0 && epoll_ctl(m_epoll, op, fd, &e) == 0;
}

void TcpServer::watchWakeFd(int slot, int fd)
{
    int& watched = m_wake_fds[slot];
    if (fd == watched)
        return;
    if (watched >= 0)
        watch(EPOLL_CTL_DEL, watched, 0);
    watched = fd >= 0 && watch(EPOLL_CTL_ADD, fd, EPOLLIN) ? fd : -1;
}

template <typename Edit>
void TcpServer::change(int fd, Client& client, Edit edit)
{
    const size_t pending = client.pending();
    const bool stalled = !client.out.empty(), waiting = client.waitsForTurn();
    edit();
    const size_t now = client.pending();
    if (now >= pending)
        m_held_bytes += now - pending;
    else
        m_held_bytes -= pending - now;
    if (stalled && client.out.empty())
        --m_stalled_count;
    else if (!stalled && !client.out.empty())
        ++m_stalled_count;
    if (waiting != client.waitsForTurn()) {
        if (waiting)
            m_waiting.erase(fd);
        else
            m_waiting.insert(fd);
    }
    if (client.wanted() != client.watched && watch(EPOLL_CTL_MOD, fd, client.wanted()))
        client.watched = client.wanted();
}

int TcpServer::initialize(int port)
{
    if (traceOn())
        puts("=========TcpServer::initialize()=========== ");
    if (m_server_socket >= 0)
        return 0;
    m_server_socket = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (m_server_socket < 0) {
        const int error = errno;
        if (traceOn())
            printf("socket error:%s\n", strerror(error));
        writeLogMsg(LOG_ERROR, std::string("socket error:") + strerror(error));
        return 255;
    }
    if (traceOn())
        printf("TcpServer m_server_socket = %#x \n", m_server_socket);
    const int on = 1;
    setsockopt(m_server_socket, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(platform::Net::listenAddress());
    addr.sin_port = htons(uint16_t(port));
    // A step that failed gives the socket up; the next start tries again.
    auto failed = [this](const char* step) {
        const int error = errno;
        if (traceOn())
            printf("%s error:%s\n", step, strerror(error));
        writeLogMsg(LOG_ERROR, std::string(step) + " error:" + strerror(error));
        close(m_server_socket);
        m_server_socket = -1;
        return 255;
    };
    if (bind(m_server_socket, reinterpret_cast<sockaddr*>(&addr), sizeof addr) < 0)
        return failed("bind");
    if (listen(m_server_socket, 200) < 0)
        return failed("listen");
    if (!watch(EPOLL_CTL_ADD, m_server_socket, EPOLLIN))
        return failed("epoll");
    m_accept_paused = false;
    return 0;
}

int TcpServer::port() const
{
    sockaddr_in addr{};
    socklen_t len = sizeof addr;
    if (m_server_socket < 0 || getsockname(m_server_socket, reinterpret_cast<sockaddr*>(&addr), &len) < 0)
        return -1;
    return ntohs(addr.sin_port);
}

uint64_t TcpServer::clientId(int fd) const
{
    const auto it = m_clients.find(fd);
    return it == m_clients.end() ? 0 : it->second.id;
}

uint32_t TcpServer::clientAddress(int fd) const
{
    const auto it = m_clients.find(fd);
    return it == m_clients.end() ? 0 : it->second.address;
}

void TcpServer::frameFrom(int fd)
{
    const auto it = m_clients.find(fd);
    if (it == m_clients.end())
        return;
    Client& client = it->second;
    client.heard = G_timeTicks.load();
    m_by_use.splice(m_by_use.end(), m_by_use, client.place); // to the end of the idle order
    client.framed = true;
}

// The tick counts on and stamps are taken in order, so the client whose accept or last frame
// came first falls idle first: only the head of the order needs looking at.
bool TcpServer::nextIdleClose(uint32_t* due) const
{
    if (m_by_use.empty())
        return false;
    *due = m_clients.at(m_by_use.front()).heard + kIdleTicks;
    return true;
}

void TcpServer::closeIdleClients()
{
    // The same reckoning as nextIdleClose, or a client due there but not here would spin the
    // thread's poll until the next tick (at the counter's wrap).
    uint32_t due;
    while (nextIdleClose(&due) && TickAlarm::reached(G_timeTicks.load(), due)) {
        const int fd = m_by_use.front();
        if (traceOn())
            printf("fd = %d closed: no frame for 5 minutes\n", fd);
        closeClient(fd);
    }
}

bool TcpServer::makeRoom()
{
    // One host must not push out the others: the place is taken from the address holding the
    // most connections. Among those, the client idle longest goes: one that never sent a frame
    // before any that did, then the one whose accept or last frame lies furthest back. When every
    // address holds one, a client in use keeps its place ahead of the newer connection: only a
    // silent one, or one without a frame for kInUseTicks, may go; else the newcomer is turned away.
    std::map<uint32_t, size_t> perAddress;
    size_t most = 0;
    for (const auto& entry : m_clients)
        most = std::max(most, ++perAddress[entry.second.address]);
    // The idle order runs from the accept or last frame furthest back: the first silent
    // candidate in it, else the first candidate.
    int victim = -1;
    bool victimFramed = true;
    for (int fd : m_by_use) {
        const Client& client = m_clients.at(fd);
        if (perAddress[client.address] != most)
            continue;
        if (most == 1 && client.framed && Utils::getTimeSpace(client.heard) < kInUseTicks)
            continue;
        if (victim < 0 || (!client.framed && victimFramed)) {
            victim = fd;
            victimFramed = client.framed;
        }
        if (!victimFramed)
            break;
    }
    if (victim < 0)
        return false;
    if (traceOn())
        printf("fd = %d closed: %zu clients, %zu of them from its address\n", victim, m_clients.size(), most);
    closeClient(victim);
    return true;
}

int TcpServer::recvData(int timeoutMs, int wakeFd, int timerFd)
{
    closeIdleClients();
    if (!m_waiting.empty())
        timeoutMs = 0; // requests wait to be served: look at the sockets without waiting
    watchWakeFd(0, wakeFd);
    watchWakeFd(1, timerFd);
    if (m_accept_paused) {
        const auto now = std::chrono::steady_clock::now();
        if (now >= m_acceptPausedUntil) {
            if (watch(EPOLL_CTL_ADD, m_server_socket, EPOLLIN) || errno == EEXIST)
                m_accept_paused = false;
            else
                m_acceptPausedUntil = now + kAcceptPause;
        }
        if (m_accept_paused && (timeoutMs < 0 || timeoutMs > int(kAcceptPause.count())))
            timeoutMs = int(kAcceptPause.count()); // look at the listener again once the pause is over
    }
    // A client whose replies wait is not read (back-pressure); it is polled for room to send. One
    // whose earlier requests wait is not read before they are served (Client::wanted).
    const int ready = m_epoll < 0 ? -1 : epoll_wait(m_epoll, m_events.data(), int(m_events.size()), timeoutMs);
    if (ready < 0) {
        if (errno == EINTR)
            return 0;
        if (traceOn())
            printf("poll error:%m\n");
        return 255;
    }

    int result = 0;
    m_ready.clear();
    for (int i = 0; i < ready; ++i) {
        const int fd = m_events[size_t(i)].data.fd;
        if (fd == m_wake_fds[0] || fd == m_wake_fds[1]) {
            uint64_t count;
            while (read(fd, &count, sizeof count) > 0) {
            }
        } else if (fd == m_server_socket) {
            if (!acceptClients())
                result = 255;
        } else {
            m_ready.emplace_back(fd, uint32_t(m_events[size_t(i)].events));
        }
    }
    // New connections first, then the clients in ascending descriptor order. A client closed
    // meanwhile (to make room) is no longer found.
    std::sort(m_ready.begin(), m_ready.end());
    for (const auto& [fd, events] : m_ready) {
        const auto it = m_clients.find(fd);
        if (it == m_clients.end())
            continue;
        if (!it->second.out.empty()) {
            // A hang-up or error with replies waiting fails the send and closes the client.
            flushClient(fd);
            if (m_clients.count(fd) && (events & (EPOLLHUP | EPOLLERR)))
                closeClient(fd);
        } else if ((events & (EPOLLIN | EPOLLHUP | EPOLLERR)) && it->second.held.empty()) {
            readClient(fd);
        }
    }
    // After what clients just sent: a tool's new request goes before the queues left waiting.
    releaseHeld();
    return result;
}

bool TcpServer::acceptClients()
{
    for (;;) {
        sockaddr_in peer{};
        socklen_t peerLength = sizeof peer;
        const int fd = accept4(m_server_socket, reinterpret_cast<sockaddr*>(&peer), &peerLength,
                               SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd < 0) {
            if (errno == EAGAIN || errno == EWOULDBLOCK)
                return true;
            if (errno == EINTR || errno == ECONNABORTED || errno == EPROTO)
                continue;
            if (traceOn())
                printf("accept error:%m\n");
            m_acceptPausedUntil = std::chrono::steady_clock::now() + kAcceptPause;
            m_accept_paused = true;
            watch(EPOLL_CTL_DEL, m_server_socket, 0);
            return false;
        }
        // A full table must not lock every tool out: the newcomer takes the place of a client
        // makeRoom chooses. The closed descriptor may come back from the next accept, while this
        // poll's results still name it: accept no more in this pass.
        const bool full = m_clients.size() >= kMaxClients;
        if (full && !makeRoom()) {
            if (traceOn())
                printf("fd = %d closed: every place is held by a client in use\n", fd);
            close(fd);
            continue;
        }
        // Replies are single small writes that a tool waits for: send them at once.
        const int on = 1;
        setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
        setsockopt(fd, SOL_SOCKET, SO_SNDBUF, &kSendBuffer, sizeof kSendBuffer);
        keepAlive(fd);
        if (!watch(EPOLL_CTL_ADD, fd, EPOLLIN)) {
            if (traceOn())
                printf("fd = %d closed: epoll error:%m\n", fd);
            close(fd);
            continue;
        }
        Client& client = m_clients[fd];
        client.watched = EPOLLIN;
        client.id = ++m_next_id;
        client.address = peer.sin_family == AF_INET ? ntohl(peer.sin_addr.s_addr) : 0;
        client.heard = G_timeTicks.load();
        client.place = m_by_use.insert(m_by_use.end(), fd);
        m_client_count = m_clients.size();
        if (full)
            return true;
    }
}

void TcpServer::readClient(int fd)
{
    const ssize_t n = recv(fd, m_recvBuf.data(), kChunkMax, 0);
    if (n > 0) {
        std::vector<uint8_t> data;
        if (!m_spare.empty()) {
            data = std::move(m_spare.back());
            m_spare.pop_back();
        }
        data.assign(m_recvBuf.begin(), m_recvBuf.begin() + n);
        m_chunks.push_back({fd, std::move(data)});
        return;
    }
    if (n == 0) {
        if (traceOn())
            printf("fd = %d Client exit . . .\n", fd);
        closeClient(fd);
        return;
    }
    if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)
        return;
    // A socket in error stays readable: keeping it would wake every pass and log each time.
    if (traceOn())
        puts("recv error");
    writeLogMsg(LOG_ERROR, "recv error . . . ");
    closeClient(fd);
}

// Sends as much as the socket takes now: the count sent, or -1 when the connection failed.
ssize_t TcpServer::sendWithoutBlocking(int fd, const uint8_t* data, size_t length)
{
    size_t done = 0;
    while (done < length) {
        const ssize_t n = send(fd, data + done, length - done, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n > 0) {
            done += size_t(n);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
            break;
        if (traceOn())
            printf("send error:%m\n");
        return -1;
    }
    return ssize_t(done);
}

int TcpServer::sendData(const uint8_t* data, uint32_t length, int fd)
{
    auto it = m_clients.find(fd);
    if (!data || it == m_clients.end())
        return 255;
    Client& client = it->second;
    uint32_t done = 0;
    if (client.out.empty()) {
        const ssize_t n = sendWithoutBlocking(fd, data, length);
        if (n < 0) {
            closeClient(fd);
            return 255;
        }
        done = uint32_t(n);
    }
    if (done == length)
        return 0;
    // A client that sends requests but does not read the replies is dropped before it can pile
    // up memory here.
    if (client.out.size() - client.sent + (length - done) > kMaxPendingOut) {
        if (traceOn())
            printf("send error: fd = %d does not take its replies\n", fd);
        closeClient(fd);
        return 255;
    }
    change(fd, client, [&] { client.out.insert(client.out.end(), data + done, data + length); });
    return 0;
}

bool TcpServer::backedUp(int fd) const
{
    const auto it = m_clients.find(fd);
    return it != m_clients.end() && !it->second.out.empty();
}

void TcpServer::holdBack(Chunk& chunk, size_t used)
{
    const auto it = m_clients.find(chunk.fd);
    if (it == m_clients.end() || used >= chunk.data.size())
        return;
    Client& client = it->second;
    change(chunk.fd, client, [&] {
        if (client.held.empty()) { // the usual case: the chunk is kept as it is, not copied
            client.held = std::move(chunk.data);
            client.heldFrom = used;
            chunk.data = {};
        } else {
            client.held.insert(client.held.end(), chunk.data.begin() + used, chunk.data.end());
        }
    });
}

void TcpServer::releaseHeld()
{
    // From the client after the one taken up last, so that every waiting client gets its turn.
    int turn[kTurnsPerPass];
    size_t turns = 0;
    for (auto it = m_waiting.upper_bound(m_last_turn); it != m_waiting.end() && turns < kTurnsPerPass; ++it)
        turn[turns++] = *it;
    for (auto it = m_waiting.begin(); it != m_waiting.end() && turns < kTurnsPerPass && *it <= m_last_turn; ++it)
        turn[turns++] = *it;
    for (size_t i = 0; i < turns; ++i) {
        const int fd = turn[i];
        Client& client = m_clients.at(fd);
        change(fd, client, [&] {
            m_chunks.push_back({fd, std::move(client.held), client.heldFrom});
            client.held = {};
            client.heldFrom = 0;
        });
        m_last_turn = fd;
    }
}

void TcpServer::flushClient(int fd)
{
    Client& client = m_clients.at(fd);
    const ssize_t n = sendWithoutBlocking(fd, client.out.data() + client.sent, client.out.size() - client.sent);
    if (n < 0) {
        closeClient(fd);
        return;
    }
    change(fd, client, [&] {
        client.sent += size_t(n);
        if (client.sent < client.out.size())
            return;
        client.out.clear();
        client.out.shrink_to_fit();
        client.sent = 0;
    });
}

void TcpServer::recycleChunks()
{
    for (Chunk& chunk : m_chunks)
        if (chunk.data.capacity() > 0 && chunk.data.capacity() <= kSpareCapacity && m_spare.size() < kMaxClients)
            m_spare.push_back(std::move(chunk.data));
    m_chunks.clear();
}

void TcpServer::delete_clinetSocket(int fd)
{
    if (traceOn())
        printf("\n delete clinet %d \n", fd);
    if (m_clients.count(fd))
        closeClient(fd);
}

void TcpServer::closeClient(int fd)
{
    const auto it = m_clients.find(fd);
    if (it != m_clients.end()) {
        const Client& client = it->second;
        m_held_bytes -= client.pending();
        if (!client.out.empty())
            --m_stalled_count;
        m_waiting.erase(fd);
        m_by_use.erase(client.place);
        m_clients.erase(it);
        m_client_count = m_clients.size();
    }
    watch(EPOLL_CTL_DEL, fd, 0);
    close(fd);
    m_closed.push_back(fd);
}

void TcpServer::unInitialize()
{
    for (const auto& entry : m_clients) {
        watch(EPOLL_CTL_DEL, entry.first, 0);
        close(entry.first);
    }
    m_clients.clear();
    m_by_use.clear();
    m_waiting.clear();
    m_client_count = 0;
    m_held_bytes = 0;
    m_stalled_count = 0;
    m_chunks.clear();
    m_closed.clear();
    if (m_server_socket >= 0) {
        watch(EPOLL_CTL_DEL, m_server_socket, 0);
        close(m_server_socket);
        m_server_socket = -1;
    }
    m_accept_paused = false;
}
