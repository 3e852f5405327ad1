#include "comm/udpnetmanage.h"
#include "base/named_thread.h"

#include "base/global.h"
#include "base/logMsg.h"
#include "base/race_pause.h"
#include "base/utils.h"
#include "comm/message_deal.h"
#include "platform/net.h"

#include <arpa/inet.h>
#include <cstdio>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

udpnetManage* udpnetManage::p_udpnetManage = nullptr;

namespace {

constexpr int kDefaultPort = 5008;
constexpr int kWifiPort = 13769;
constexpr int kCardPollMs = 10;    // interrupt service while a card's answer is awaited
constexpr int kHeldAnswerMs = 100; // answers held while sending is off: look again now and then

std::mutex wifiHandlerMutex;
std::function<void(const uint8_t*, uint32_t)> wifiHandler;

uint64_t peerKey(const sockaddr_in& a)
{
    return uint64_t(ntohl(a.sin_addr.s_addr)) << 16 | ntohs(a.sin_port);
}

}

udpnetManage::udpnetManage()
    : m_server(new UdpServer()), m_phy(new protocol_phy()), m_message(new message_deal()),
      m_request(kMessageBufferSize), m_wire(protocol_phy::encoded_max(kMessageBufferSize)),
      m_askers([this] { wake(m_wake_fd); })
{
    writeLogMsg(LOG_INFO, "====udpnetManage::udpnetManage()=====");
    m_wake_fd = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    m_wake_fd13769 = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
}

udpnetManage::~udpnetManage()
{
    if (m_threads_started) {
        m_stop = true;
        wake(m_wake_fd);
        wake(m_wake_fd13769);
        pthread_join(m_thread, nullptr);
        pthread_join(m_thread13769, nullptr);
    }
    m_askers.clear(); // their wake-ups gone before the wake-up descriptor closes
    if (p_udpnetManage == this)
        p_udpnetManage = nullptr;
    delete m_server;
    delete m_phy;
    delete m_message;
    for (int fd : {m_wake_fd, m_wake_fd13769})
        if (fd >= 0)
            close(fd);
}

udpnetManage* udpnetManage::pInstance()
{
    if (!p_udpnetManage) {
        p_udpnetManage = new udpnetManage();
        p_udpnetManage->initialize();
    }
    return p_udpnetManage;
}

int udpnetManage::initialize()
{
    // The INI's UdpPort item is not read: PC tools find the box on the standard port.
    return initialize(platform::Net::controlUdpPort(kDefaultPort), kWifiPort);
}

int udpnetManage::initialize(int port, int wifiPort, bool threads)
{
    if (traceOn())
        printf("g_udpnetMode ======= %d \n", g_udpnetmode.load());
    if (g_udpnetmode.load() != 0)
        m_server->initialize(port, wifiPort); // failures are logged; the threads idle
    if (!threads || m_threads_started)
        return 0;
    if (!startNamedThread(&m_thread, acceptThread, this, "udpnetManage")) {
        if (traceOn())
            puts("create accept thread failed");
        writeLogMsg(LOG_ERROR, "create accept thread failed");
        return 255;
    }
    if (!startNamedThread(&m_thread13769, acceptThread13769, this, "udp13769")) {
        if (traceOn())
            puts("create accept thread failed");
        writeLogMsg(LOG_ERROR, "create accept thread failed");
        m_stop = true;
        wake(m_wake_fd);
        pthread_join(m_thread, nullptr);
        return 255;
    }
    m_threads_started = true;
    return 0;
}

void* udpnetManage::acceptThread(void* arg)
{
    udpnetManage* self = static_cast<udpnetManage*>(arg);
    while (!self->m_stop.load())
        self->runOnce(self->m_askers.polling() ? kCardPollMs : -1);
    return nullptr;
}

void* udpnetManage::acceptThread13769(void* arg)
{
    udpnetManage* self = static_cast<udpnetManage*>(arg);
    // Answers still waiting are looked at again soon, whatever the mode read here: sending may be
    // switched on between this read and the wait, and nothing wakes the wait for that.
    while (!self->m_stop.load()) {
        RacePause::at(RacePause::WifiAnswerWait);
        self->runOnce13769(self->pending13769() > 0 ? kHeldAnswerMs : -1);
    }
    return nullptr;
}

void udpnetManage::wake(int fd)
{
    const uint64_t one = 1;
    if (fd >= 0 && write(fd, &one, sizeof one) < 0) {
        // already signalled
    }
}

static void waitFor(int socketFd, int wakeFd, int timeoutMs)
{
    pollfd fds[2] = {{socketFd, POLLIN, 0}, {wakeFd, POLLIN, 0}};
    if (poll(fds, 2, timeoutMs) > 0 && (fds[1].revents & POLLIN)) {
        uint64_t count;
        if (read(wakeFd, &count, sizeof count) < 0) {
            // nothing to clear
        }
    }
}

FrameStream& udpnetManage::streamOf(const sockaddr_in& from)
{
    const uint64_t key = peerKey(from);
    auto it = m_peers.find(key);
    if (it == m_peers.end()) {
        // Many senders at once: the one heard from longest ago loses its partial frame.
        if (m_peers.size() >= kMaxPeers) {
            auto oldest = m_peers.begin();
            for (auto p = m_peers.begin(); p != m_peers.end(); ++p)
                if (p->second.used < oldest->second.used)
                    oldest = p;
            m_peers.erase(oldest);
        }
        it = m_peers.emplace(key, Peer(kMessageBufferSize)).first;
    }
    it->second.used = ++m_use;
    return it->second.stream;
}

void udpnetManage::runOnce(int timeoutMs)
{
    waitFor(m_server->socket(), m_wake_fd, timeoutMs);
    // Everything that is waiting, so a burst is served in one pass.
    for (;;) {
        const int got = m_server->recvData(&m_datagram);
        if (got < 0)
            usleep(1000); // a failing socket is not retried at full speed
        if (got <= 0)
            break;
        const uint32_t size = uint32_t(m_datagram.data.size());
        uint32_t used = 0;
        while (used < size) {
            bool complete = false;
            FrameStream& stream = streamOf(m_datagram.from);
            used += stream.feed(m_datagram.data.data() + used, size - used, &complete);
            if (complete)
                serveFrame(m_datagram.from, stream.body(), stream.size());
        }
    }
    if (m_askers.waiting())
        answerAskers();
}

void udpnetManage::serveFrame(const sockaddr_in& from, const uint8_t* body, uint32_t length)
{
    // Replies go to every box's neighbour at the sender's port: tools find boxes this way.
    sockaddr_in to = from;
    to.sin_addr.s_addr = htonl(platform::Net::broadcastAddress());
    PendingAnswers::Destination answerTo;
    answerTo.address = to;
    const auto taken = m_askers.take(peerKey(from), body, length, m_request.data(), uint32_t(m_request.size()), answerTo);
    if (taken == PendingAnswers::Frame::Broken) {
        if (traceOn())
            puts("\n frame error!!!!!!!");
        return;
    }
    pc_cmd_valid = 1;
    pc_cmd_time = G_timeTicks.load();
    if (taken == PendingAnswers::Frame::ForCards)
        return;
    m_askers.serving();
    message_deal::SlowWork slow;
    const uint32_t r = m_message->message_group_deal(m_request.data(), length - 1, kMessageBufferSize,
                                                     request_peer::udp(ntohl(from.sin_addr.s_addr), ntohs(from.sin_port)), &slow);
    if (r == message_deal::kSlow)
        return m_askers.slow(peerKey(from), m_request.data(), std::move(slow), answerTo);
    if (r > 0) {
        // A reply that would not fit one datagram is refused rather than lost in sendto.
        const uint32_t n = protocol_phy::build_reply(m_request.data(), r, kMessageBufferSize, UdpServer::kReplyMax);
        const uint32_t wire = m_phy->data_re_transf_meaning(0, m_wire.data(), m_request.data(), n, nullptr);
        m_server->sendData(m_wire.data(), wire, to);
    }
    m_askers.served();
}

void udpnetManage::answerAskers()
{
    m_askers.poll([this](const PendingAnswers::Destination& to, const uint8_t* wire, uint32_t length) {
        m_server->sendData(wire, length, to.address);
    });
}

// ---- configuration port ----

void udpnetManage::runOnce13769(int timeoutMs)
{
    waitFor(m_server->socket13769(), m_wake_fd13769, timeoutMs);
    for (;;) {
        // Each answer goes out once its command has run, not after the whole burst.
        if (g_networkMode.load() != 0)
            sendAnswers13769();
        const int got = m_server->recvData_13769(&m_datagram13769);
        if (got < 0)
            usleep(1000);
        if (got <= 0)
            break;
        std::function<void(const uint8_t*, uint32_t)> handler;
        {
            std::lock_guard<std::mutex> lock(wifiHandlerMutex);
            handler = wifiHandler;
        }
        // While sending is off the list fills up; a command that could not be answered is not run.
        if (handler && pending13769() < kMaxTextAnswers) {
            m_handling = &m_datagram13769.from;
            handler(m_datagram13769.data.data(), uint32_t(m_datagram13769.data.size()));
            m_handling = nullptr;
        }
    }
}

void udpnetManage::set_wifi_AT_cmd_manage(std::function<void(const uint8_t*, uint32_t)> handler)
{
    std::lock_guard<std::mutex> lock(wifiHandlerMutex);
    wifiHandler = std::move(handler);
}

bool udpnetManage::answer_13769(const uint8_t* text, uint32_t length)
{
    if (!m_handling || !text || length > UdpServer::kReplyMax)
        return false;
    std::lock_guard<std::mutex> lock(m_send_mutex);
    // While sending is switched off answers pile up; the oldest are kept, the rest refused.
    if (m_send_13769.size() >= kMaxTextAnswers)
        return false;
    m_send_13769.push_back(Answer{*m_handling, std::vector<uint8_t>(text, text + length)});
    return true;
}

size_t udpnetManage::pending13769() const
{
    std::lock_guard<std::mutex> lock(m_send_mutex);
    return m_send_13769.size();
}

void udpnetManage::sendAnswers13769()
{
    for (;;) {
        Answer answer;
        {
            std::lock_guard<std::mutex> lock(m_send_mutex);
            if (m_send_13769.empty())
                return;
            answer = std::move(m_send_13769.front());
            m_send_13769.pop_front();
        }
        if (g_udpnetmode.load() != 0)
            m_server->sendData_13769(answer.data.data(), uint32_t(answer.data.size()), answer.to);
    }
}
