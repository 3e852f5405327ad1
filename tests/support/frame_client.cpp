#include "frame_client.h"

#include "base/md5.h"
#include "time_limit.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace Wire {

Bytes stuff(const Bytes& body)
{
    Bytes out = {0xA5, 0xA5, 0xA5};
    for (uint8_t b : body) {
        if (b == 0xA5 || b == 0xA6) {
            out.push_back(0xA6);
            out.push_back(b == 0xA5 ? 0x02 : 0x01);
        } else if (b == 0x5A || b == 0x5B) {
            out.push_back(0x5B);
            out.push_back(b == 0x5A ? 0x02 : 0x01);
        } else {
            out.push_back(b);
        }
    }
    out.push_back(0x5A);
    return out;
}

Bytes sealed(Bytes body)
{
    uint8_t x = 0;
    for (uint8_t b : body)
        x ^= b;
    body.push_back(x);
    return body;
}

bool checkOk(const Bytes& body)
{
    if (body.empty())
        return false;
    uint8_t x = 0;
    for (size_t i = 0; i + 1 < body.size(); ++i)
        x ^= body[i];
    return x == body.back();
}

Bytes request(uint8_t group, const Bytes& payload, uint16_t destination, uint16_t source)
{
    Bytes b = {uint8_t(destination), uint8_t(destination >> 8), uint8_t(source), uint8_t(source >> 8),
               0, 0, 0, 0, 0, group};
    b.insert(b.end(), payload.begin(), payload.end());
    return sealed(b);
}

static void le(Bytes& b, uint32_t v, int width)
{
    for (int i = 0; i < width; ++i)
        b.push_back(uint8_t(v >> (8 * i)));
}

Bytes readRam(uint32_t address, uint16_t length)
{
    Bytes p;
    le(p, address, 4);
    le(p, length, 2);
    le(p, 0, 2);
    return request(0x61, p);
}

Bytes writeRam(uint32_t address, const Bytes& data)
{
    Bytes p;
    le(p, address, 4);
    le(p, uint32_t(data.size()), 2);
    le(p, 0, 2);
    p.insert(p.end(), data.begin(), data.end());
    return request(0x60, p);
}

Bytes readRegister(uint8_t reg, uint8_t byte11)
{
    return request(0xA1, {reg, byte11});
}

Bytes echoReply(uint8_t byte11)
{
    return sealed({0x10, 0xF0, 0x00, 0xF1, 0, 0, 0, 0, 0, 0xA1, 0x00, byte11});
}

Bytes u32(uint32_t v)
{
    return {uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24)};
}

Bytes join(std::initializer_list<Bytes> parts)
{
    Bytes out;
    for (const Bytes& p : parts)
        out.insert(out.end(), p.begin(), p.end());
    return out;
}

Bytes uploadStart(const char* tag, uint32_t length)
{
    return request(0xC0, join({{1, 0, 0}, Bytes(tag, tag + 4), {0}, u32(length)}));
}

Bytes uploadBlock(const Bytes& data, uint32_t offset)
{
    return request(0xC0, join({{2, 0, 0, 0, 0}, u32(offset), u32(uint32_t(data.size())), data}));
}

Bytes uploadEnd(const Bytes& data)
{
    MD5 digest(data.data(), data.size());
    return request(0xC0, join({{3, 0, 0, 0, 0}, Bytes(digest.digest(), digest.digest() + 16)}));
}

std::vector<Bytes> upload(const char* tag, const Bytes& data)
{
    constexpr size_t kBlock = 32768;
    std::vector<Bytes> steps = {uploadStart(tag, uint32_t(data.size()))};
    for (size_t at = 0; at < data.size(); at += kBlock)
        steps.push_back(uploadBlock(Bytes(data.begin() + long(at), data.begin() + long(std::min(data.size(), at + kBlock))),
                                    uint32_t(at)));
    steps.push_back(uploadEnd(data));
    return steps;
}

void Unstuffer::push(const uint8_t* data, size_t length)
{
    for (size_t i = 0; i < length; ++i) {
        const uint8_t b = data[i];
        if (b == 0xA5) {
            m_inside = true;
            m_escape = 0;
            m_body.clear();
            continue;
        }
        if (!m_inside)
            continue;
        if (b == 0x5A) {
            m_done.push_back(m_body);
            m_inside = false;
            continue;
        }
        if (b == 0xA6 || b == 0x5B) {
            m_escape = b;
            continue;
        }
        if (m_escape && (b == 0x01 || b == 0x02)) {
            static const uint8_t back[2][2] = {{0xA6, 0xA5}, {0x5B, 0x5A}};
            m_body.push_back(back[m_escape == 0x5B][b - 1]);
        } else {
            m_body.push_back(b);
        }
        m_escape = 0;
    }
}

bool Unstuffer::next(Bytes* body)
{
    if (m_done.empty())
        return false;
    *body = m_done.front();
    m_done.erase(m_done.begin());
    return true;
}

}

FrameClient::FrameClient(int port, int connectTimeoutMs, uint32_t from)
{
    const auto until = std::chrono::steady_clock::now() + TimeLimit::of(connectTimeoutMs);
    for (;;) {
        m_fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in source{};
        source.sin_family = AF_INET;
        source.sin_addr.s_addr = htonl(from);
        if (from && m_fd >= 0 && bind(m_fd, reinterpret_cast<sockaddr*>(&source), sizeof source) != 0) {
            close(m_fd);
            m_fd = -1;
            return;
        }
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        addr.sin_port = htons(uint16_t(port));
        if (m_fd >= 0 && connect(m_fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0)
            break;
        if (m_fd >= 0)
            close(m_fd);
        m_fd = -1;
        if (std::chrono::steady_clock::now() >= until)
            return;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    // Segments leave as the test writes them, so a test can cut the stream where it wants.
    const int on = 1;
    setsockopt(m_fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
}

FrameClient::~FrameClient()
{
    if (m_fd >= 0)
        close(m_fd);
}

bool FrameClient::sendRaw(const Bytes& bytes)
{
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = send(m_fd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += size_t(n);
    }
    return true;
}

bool FrameClient::readSome(int timeoutMs)
{
    pollfd p{m_fd, POLLIN, 0};
    if (m_fd < 0 || poll(&p, 1, timeoutMs) <= 0)
        return false;
    uint8_t buf[65536];
    const ssize_t n = recv(m_fd, buf, sizeof buf, 0);
    if (n <= 0)
        return false;
    m_raw.insert(m_raw.end(), buf, buf + n);
    return true;
}

bool FrameClient::receive(Bytes* body, int timeoutMs)
{
    const auto until = std::chrono::steady_clock::now() + TimeLimit::of(timeoutMs);
    for (;;) {
        m_in.push(m_raw.data(), m_raw.size());
        m_raw.clear();
        if (m_in.next(body))
            return true;
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(until - std::chrono::steady_clock::now());
        if (left.count() <= 0 || !readSome(int(left.count())))
            return false;
    }
}

Bytes FrameClient::receiveRaw(size_t count, int timeoutMs)
{
    const auto until = std::chrono::steady_clock::now() + TimeLimit::of(timeoutMs);
    while (m_raw.size() < count) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(until - std::chrono::steady_clock::now());
        if (left.count() <= 0 || !readSome(int(left.count())))
            break;
    }
    const size_t n = std::min(count, m_raw.size());
    Bytes out(m_raw.begin(), m_raw.begin() + n);
    m_raw.erase(m_raw.begin(), m_raw.begin() + n);
    return out;
}

Bytes FrameClient::request(const Bytes& body, int timeoutMs)
{
    Bytes reply;
    if (!sendFrame(body) || !receive(&reply, timeoutMs))
        return {};
    return reply;
}

bool FrameClient::peerClosed(int timeoutMs)
{
    pollfd p{m_fd, POLLIN, 0};
    if (poll(&p, 1, TimeLimit::ms(timeoutMs)) <= 0)
        return false;
    uint8_t b;
    return recv(m_fd, &b, 1, MSG_PEEK | MSG_DONTWAIT) == 0;
}

void FrameClient::reset()
{
    if (m_fd < 0)
        return;
    linger hard{1, 0};
    setsockopt(m_fd, SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
    close(m_fd);
    m_fd = -1;
}

namespace {
int freePort(int type)
{
    const int fd = socket(AF_INET, type | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    int port = -1;
    if (bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0 &&
        getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len) == 0)
        port = ntohs(addr.sin_port);
    close(fd);
    return port;
}
}

int freeTcpPort()
{
    return freePort(SOCK_STREAM);
}

int freeUdpPort()
{
    return freePort(SOCK_DGRAM);
}
