#include "comm/serial_transport.h"
#include "base/named_thread.h"

#include "base/global.h"
#include "base/logMsg.h"
#include "base/utils.h"
#include "comm/message_deal.h"

#include <cstdio>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

Qz_uart_inout* Qz_uart_inout::p_uart = nullptr;
Qz_uart_inout_4G* Qz_uart_inout_4G::p_uart_4G = nullptr;

namespace {
constexpr int kSerialPort = 2;
constexpr int kModemPort = 1;
constexpr int kCardPollMs = 10;
constexpr uint64_t kLine = 0; // the line's one asker
}

SerialTransport::SerialTransport(const char* threadName)
    : m_name(threadName), m_message(new message_deal()), m_request(kRecordSize),
      m_wire(protocol_phy::encoded_max(kRecordSize)), m_askers([this] { wake(); }, kRecordSize)
{
    m_wake_fd = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
}

SerialTransport::~SerialTransport()
{
    if (m_thread_started) {
        m_stop = true;
        wake();
        pthread_join(m_thread, nullptr);
    }
    m_askers.clear(); // their wake-ups gone before the wake-up descriptor closes
    delete m_message;
    if (m_wake_fd >= 0)
        close(m_wake_fd);
}

Qz_uart_inout::~Qz_uart_inout()
{
    if (p_uart == this)
        p_uart = nullptr;
}

Qz_uart_inout_4G::~Qz_uart_inout_4G()
{
    if (p_uart_4G == this)
        p_uart_4G = nullptr;
}

Qz_uart_inout* Qz_uart_inout::pInstance()
{
    if (!p_uart) {
        p_uart = new Qz_uart_inout();
        p_uart->usart1_init(kSerialPort, g_BPS.load());
    }
    return p_uart;
}

Qz_uart_inout_4G* Qz_uart_inout_4G::pInstance()
{
    if (!p_uart_4G) {
        p_uart_4G = new Qz_uart_inout_4G();
        p_uart_4G->usart1_init(kModemPort, g_BPS.load());
    }
    return p_uart_4G;
}

int SerialTransport::usart1_init(int port, int speed, bool thread)
{
    m_peer = request_peer::serial(port);
    if (m_serial.serial_init(port, speed) < 0)
        return 0; // no port, no thread: this transport stays silent
    m_read.resize(size_t(std::max(g_dataLen.load(), 1)) * 1024 + 28);
    if (!thread || m_thread_started)
        return 0;
    if (!startNamedThread(&m_thread, receive_thread, this, m_name)) {
        writeLogMsg(LOG_ERROR, "create uart receive_thread failed");
        return 255;
    }
    m_thread_started = true;
    return 0;
}

void* SerialTransport::receive_thread(void* arg)
{
    SerialTransport* self = static_cast<SerialTransport*>(arg);
    while (!self->m_stop.load())
        self->runOnce(self->m_askers.polling() ? kCardPollMs : -1);
    return nullptr;
}

void SerialTransport::wake()
{
    const uint64_t one = 1;
    if (m_wake_fd >= 0 && write(m_wake_fd, &one, sizeof one) < 0) {
        // already signalled
    }
}

void SerialTransport::runOnce(int timeoutMs)
{
    pollfd fds[2] = {{m_serial.fd(), POLLIN, 0}, {m_wake_fd, POLLIN, 0}};
    if (poll(fds, 2, timeoutMs) > 0 && (fds[1].revents & POLLIN)) {
        uint64_t count;
        if (read(m_wake_fd, &count, sizeof count) < 0) {
            // nothing to clear
        }
    }
    if (fds[0].revents & (POLLERR | POLLNVAL))
        usleep(1000); // a failing line is not retried at full speed
    for (;;) {
        const int n = m_serial.recv_uart_data(m_read.data(), uint32_t(m_read.size()));
        if (n <= 0)
            break;
        uint32_t used = 0;
        while (used < uint32_t(n)) {
            bool complete = false;
            used += m_stream.feed(m_read.data() + used, uint32_t(n) - used, &complete);
            if (complete)
                serveFrame(m_stream.body(), m_stream.size());
        }
    }
    if (m_askers.waiting())
        answerAskers();
}

void SerialTransport::serveFrame(const uint8_t* body, uint32_t length)
{
    const auto taken = m_askers.take(kLine, body, length, m_request.data(), uint32_t(m_request.size()),
                                     PendingAnswers::Destination());
    if (taken == PendingAnswers::Frame::Broken)
        return; // dropped without a reply
    pc_cmd_valid = 1;
    pc_cmd_time = G_timeTicks.load();
    if (taken == PendingAnswers::Frame::ForCards)
        return;
    m_askers.serving();
    message_deal::SlowWork slow;
    const uint32_t r = m_message->message_group_deal(m_request.data(), length - 1, kRecordSize, m_peer, &slow);
    if (r == message_deal::kSlow)
        return m_askers.slow(kLine, m_request.data(), std::move(slow), PendingAnswers::Destination());
    if (r > 0) {
        // The reply and its stuffing must fit the line's record, or it becomes a refusal.
        const uint32_t n = protocol_phy::build_reply(m_request.data(), r, kRecordSize, kRecordSize);
        const uint32_t wire = m_phy.data_re_transf_meaning(0, m_wire.data(), m_request.data(), n, nullptr);
        send_uart_data(m_wire.data(), wire);
    }
    m_askers.served();
}

void SerialTransport::answerAskers()
{
    m_askers.poll([this](const PendingAnswers::Destination&, const uint8_t* wire, uint32_t length) {
        send_uart_data(wire, length);
    });
}

void SerialTransport::send_uart_data(const uint8_t* wire, uint32_t length)
{
    std::lock_guard<std::mutex> lock(m_send_mutex);
    if (m_serial.uart_send(wire, length) < 0)
        writeLogMsg(LOG_WARNING, std::string(m_name) + ": reply of " + std::to_string(length) +
                                     " bytes cut, the line took no more");
    pc_cmd_valid = 1;
    pc_cmd_time = G_timeTicks.load();
}
