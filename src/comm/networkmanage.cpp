#include "comm/networkmanage.h"
#include "base/named_thread.h"

#include "base/global.h"
#include "base/logMsg.h"
#include "base/race_pause.h"
#include "comm/message_deal.h"
#include "comm/tcpserver.h"
#include "base/utils.h"

#include <algorithm>
#include <cstdio>
#include <sys/eventfd.h>
#include <sys/timerfd.h>
#include <unistd.h>

networkManage* networkManage::p_network = nullptr;

namespace {

// While a card's answer is awaited the interrupt service is polled once a tick (the FPGA worker
// also runs it, and a queued answer wakes the thread at once); otherwise the thread sleeps in
// poll until a socket or a wake-up needs it.
constexpr int kCardPollMs = 10;
// Frames served to one client in a pass; the rest of its requests wait, unread, until the server
// takes them up in turn with the other clients' (TcpServer::kTurnsPerPass a pass).
constexpr int kFramesPerTurn = 1;

}

networkManage::networkManage()
    : m_tcpServer(new TcpServer()), m_phy(new protocol_phy()), m_message(new message_deal()),
      m_request(kMessageBufferSize), m_wire(protocol_phy::encoded_max(kMessageBufferSize)),
      m_askers([this] { wake(); })
{
    writeLogMsg(LOG_INFO, "====networkManage::networkManage()=====");
    m_wake_fd = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    m_idle_timer_fd = timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC);
    m_idle_alarm = std::make_unique<TickAlarm>([this] { wake(); });
}

networkManage::~networkManage()
{
    if (m_thread_started) {
        m_stop = true;
        wake();
        pthread_join(m_thread, nullptr);
    }
    m_idle_alarm.reset(); // waits for a ring under way, which writes to the wake-up descriptor
    m_askers.clear();     // their wake-ups gone before the wake-up descriptor closes
    if (p_network == this)
        p_network = nullptr;
    delete m_tcpServer;
    delete m_phy;
    delete m_message;
    if (m_wake_fd >= 0)
        close(m_wake_fd);
    if (m_idle_timer_fd >= 0)
        close(m_idle_timer_fd);
}

networkManage* networkManage::pInstance()
{
    if (!p_network) {
        p_network = new networkManage();
        p_network->initialize();
    }
    return p_network;
}

int networkManage::initialize()
{
    if (traceOn())
        puts("======networkManage::initialize() =====");
    if (g_networkMode.load() != 0)
        m_tcpServer->initialize(g_port.load()); // a failed set-up leaves nothing to accept
    if (m_thread_started)
        return 0;
    if (!startNamedThread(&m_thread, acceptThread, this, "networkManage")) {
        if (traceOn())
            puts("create accept thread failed");
        writeLogMsg(LOG_ERROR, "create accept thread failed");
        return 255;
    }
    m_thread_started = true;
    return 0;
}

void* networkManage::acceptThread(void* arg)
{
    networkManage* self = static_cast<networkManage*>(arg);
    if (!self) {
        if (traceOn())
            puts("networkManage::acceptThread() pNetwork is null");
        writeLogMsg(LOG_WARNING, "networkManage::acceptThread() pNetwork is null");
        return nullptr;
    }
    while (!self->m_stop.load())
        self->runOnce(self->nextTimeout());
    return nullptr;
}

int networkManage::nextTimeout()
{
    int timeoutMs = m_askers.polling() ? kCardPollMs : -1;
    // Silent clients are closed by the tick: wake when the next one is due, or, without a
    // ticking panel, after that many ticks' time.
    uint32_t due = 0;
    if (!m_tcpServer->nextIdleClose(&due)) {
        m_idle_alarm->disarm();
        return timeoutMs;
    }
    RacePause::at(RacePause::BeforeTickAlarm);
    if (!m_idle_alarm->arm(due))
        return 0;
    if (idleTimerBy(TickAlarm::limit(due)))
        return timeoutMs;
    const int idleMs = int(std::min<int64_t>(TickAlarm::limit(due).count(), INT32_MAX));
    return timeoutMs < 0 ? idleMs : std::min(timeoutMs, idleMs);
}

bool networkManage::idleTimerBy(std::chrono::milliseconds limit)
{
    // The limit serves a panel that does not tick. A wait with a time-out of its own would arm and
    // cancel a kernel timer on every pass; the timer descriptor is set only when it would ring too
    // late or has rung. A frame moves the next idle close later, so mostly it stands as it is and
    // rings a little early once in a while, which costs one pass.
    if (m_idle_timer_fd < 0)
        return false;
    const auto now = std::chrono::steady_clock::now();
    const auto at = now + limit;
    if (m_idle_timer_at > now && m_idle_timer_at <= at)
        return true;
    const int64_t ns = std::chrono::duration_cast<std::chrono::nanoseconds>(at.time_since_epoch()).count();
    itimerspec when{};
    when.it_value.tv_sec = time_t(ns / 1000000000);
    when.it_value.tv_nsec = long(ns % 1000000000);
    if (timerfd_settime(m_idle_timer_fd, TFD_TIMER_ABSTIME, &when, nullptr) != 0)
        return false;
    m_idle_timer_at = at;
    return true;
}

void networkManage::wake()
{
    const uint64_t one = 1;
    if (m_wake_fd >= 0 && write(m_wake_fd, &one, sizeof one) < 0) {
        // the counter is already non-zero: the thread wakes anyway
    }
}

void networkManage::runOnce(int timeoutMs)
{
    if (m_tcpServer->recvData(timeoutMs, m_wake_fd, m_idle_timer_fd) != 0)
        usleep(1000); // poll or accept failed: do not retry at full speed
    takeClosed();
    // Served in place: nothing adds chunks before the next poll, and a client closed meanwhile
    // only marks its chunks.
    std::vector<TcpServer::Chunk>& chunks = m_tcpServer->m_chunks;
    for (size_t c = 0; c < chunks.size(); ++c) {
        TcpServer::Chunk& chunk = chunks[c];
        if (chunk.fd < 0)
            continue;
        FrameStream& stream = m_streams.try_emplace(chunk.fd, kMessageBufferSize).first->second;
        const uint32_t size = uint32_t(chunk.data.size());
        uint32_t used = uint32_t(chunk.from);
        int served = 0;
        while (used < size) {
            // A client that does not take its replies gets no more served, nor one that had its
            // turn: the rest waits.
            if (served == kFramesPerTurn || m_tcpServer->backedUp(chunk.fd)) {
                m_tcpServer->holdBack(chunk, used);
                break;
            }
            bool complete = false;
            used += stream.feed(chunk.data.data() + used, size - used, &complete);
            if (complete) {
                serveFrame(chunk.fd, stream.body(), stream.size());
                ++served;
            }
            if (!m_tcpServer->m_closed.empty())
                break; // a reply that could not be sent closed its client
        }
        takeClosed();
    }
    m_tcpServer->recycleChunks();
    if (m_askers.waiting())
        answerAskers();
}

void networkManage::takeClosed()
{
    // The descriptor may be reused by the next client: nothing of this one may reach it.
    for (int fd : m_tcpServer->m_closed) {
        m_streams.erase(fd);
        for (TcpServer::Chunk& chunk : m_tcpServer->m_chunks)
            if (chunk.fd == fd)
                chunk.fd = -1;
        m_askers.forget(uint64_t(fd));
    }
    m_tcpServer->m_closed.clear();
}

void networkManage::serveFrame(int fd, const uint8_t* body, uint32_t length)
{
    pc_cmd_valid = 1;
    pc_cmd_time = G_timeTicks.load();
    PendingAnswers::Destination to;
    to.fd = fd;
    const auto taken = m_askers.take(uint64_t(fd), body, length, m_request.data(), uint32_t(m_request.size()), to);
    if (taken == PendingAnswers::Frame::Broken)
        return; // dropped without a reply
    m_tcpServer->frameFrom(fd);
    if (taken == PendingAnswers::Frame::ForCards)
        return;
    m_askers.serving();
    message_deal::SlowWork slow;
    const uint64_t peer = request_peer::tcp(m_tcpServer->clientAddress(fd), m_tcpServer->clientId(fd));
    const uint32_t r = m_message->message_group_deal(m_request.data(), length - 1, kMessageBufferSize, peer, &slow);
    if (r == message_deal::kSlow)
        return m_askers.slow(uint64_t(fd), m_request.data(), std::move(slow), to);
    // TCP replies even when the handler has nothing to say (r = 0: the bare head).
    const uint32_t n = protocol_phy::build_reply(m_request.data(), r, kMessageBufferSize, UINT32_MAX);
    const uint32_t wire = m_phy->data_re_transf_meaning(0, m_wire.data(), m_request.data(), n, nullptr);
    m_tcpServer->sendData(m_wire.data(), wire, fd);
    m_askers.served();
}

void networkManage::answerAskers()
{
    m_askers.poll([this](const PendingAnswers::Destination& to, const uint8_t* wire, uint32_t length) {
        m_tcpServer->sendData(wire, length, to.fd);
    });
    takeClosed();
}
