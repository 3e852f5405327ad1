// The TCP, UDP and serial transports' own read loops: the input is what a PC tool sends, written
// through a loopback socket or the line's pty to the transport, which runs one pass at a time
// (runOnce) as its thread would, with the command handler and the FPGA's card link behind it. The
// first byte picks the transport (bit 2: a serial line, bit 3 which; else bit 0: UDP) and, for
// TCP, whether the tool reads its replies only at the end (bit 1: the transport then holds back
// what the tool sends). The rest is cut at "#NET#" into the tool's writes (TCP, serial) or
// datagrams (UDP).
// Checked on what the transport accepted, against the frames the tool's bytes carry: every reply
// is a whole frame with a good check byte, the replies come in the order of the requests, each
// the handler's answer whole (head swapped, its data, the check byte); the handler is handed each
// request's body exactly as sent, and a card's answer that the transport took reaches the tool in
// the place of its frame. Every valid request reaches the handler, and its answer reaches the tool:
// over TCP always (the bare head when the handler has nothing to say), over UDP and serial when
// the handler has something to say, refused with status 1 when its wire form would not fit one
// datagram.
// Nothing may be missing unless the transport dropped a tool that did not read, or the kernel
// dropped a datagram on the way (a full socket buffer or backlog; it counts them).
#include "fuzz_fpga.h"
#include "fuzz_net.h"
#include "in_process_request.h"

#include "base/utils.h"
#include "comm/message_deal.h"
#include "comm/networkmanage.h"
#include "comm/protocol_phy.h"
#include "comm/serial_transport.h"
#include "comm/tcpserver.h"
#include "comm/udpnetmanage.h"
#include "comm/udpserver.h"
#include "platform/sim/pty_serial.h"
#include "params/config_engine.h"
#include "scaler/c331_manage.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <functional>
#include <mutex>
#include <netinet/in.h>
#include <string_view>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

#include <tuple>
#include <vector>

namespace {
using Bytes = std::vector<uint8_t>;
using Clock = std::chrono::steady_clock;
// The target's own checks go without coverage hooks: their branches tell the fuzzer nothing about
// the program, and decoding every reply under the hooks took a quarter of each input's time.
#define kOracle __attribute__((no_sanitize("coverage")))

// Neither the tool nor the transport moved for this long: the transport is stuck. Waiting steps
// block in poll, so the time a loaded machine takes to pass bytes on costs time, not steps.
constexpr auto kStallLimit = std::chrono::seconds(5);
constexpr int kWaitMs = 1; // one waiting step, for the tool's socket and for the transport
constexpr uint32_t kUdpPayloadMax = 65507; // 65,535 less the IPv4 and UDP heads

networkManage* tcp;
udpnetManage* udp;
SerialTransport* lines[2]; // ttyS1, ttyS2
fpga_manage* fpga;

// ---- what the handler answered ----

// Each request a transport hands to the dispatcher, with the reply the framing rules make of the
// handler's answer r. Taken at the dispatcher's entry, which the link wraps (CMakeLists.txt), so
// the transports' own code is not asked what they should have sent.
struct Answer {
    size_t request; // digest of the body the handler was handed, without the check byte
    uint32_t length; // of the reply body; 0: none is sent
    size_t digest;
};
std::vector<Answer> answers;
std::vector<std::vector<uint8_t>> cardAnswers; // each the cards' answer a transport took to send on

kOracle size_t digestOf(const uint8_t* p, size_t n)
{
    return std::hash<std::string_view>()(std::string_view(reinterpret_cast<const char*>(p), n));
}

kOracle uint8_t xorOf(const Bytes& b)
{
    uint8_t x = 0;
    for (uint8_t v : b)
        x ^= v;
    return x;
}

kOracle uint32_t wireSize(const Bytes& body) // preamble, stuffed body, end byte
{
    uint32_t n = 4;
    for (uint8_t v : body)
        n += v == 0xA5 || v == 0xA6 || v == 0x5A || v == 0x5B ? 2 : 1;
    return n;
}

kOracle Answer answerOf(size_t request, const uint8_t* body, uint32_t r, uint32_t capacity, uint64_t peer)
{
    const bool udp = peer >> 56 == 3;
    if (peer >> 56 != 2 && r == 0) // only TCP sends the bare head
        return {request, 0, 0};
    Bytes reply = {body[2], body[3], body[0], body[1]};
    reply.insert(reply.end(), body + 4, body + 10);
    if (uint64_t(11) + r <= capacity) {
        reply.insert(reply.end(), body + 10, body + 10 + r);
        reply.push_back(xorOf(reply));
        if (!udp || reply.size() * 2 + 4 <= kUdpPayloadMax || wireSize(reply) <= kUdpPayloadMax)
            return {request, uint32_t(reply.size()), digestOf(reply.data(), reply.size())};
        reply.resize(10);
    }
    reply.push_back(1); // refused as a range the transport cannot carry
    reply.push_back(0);
    reply.push_back(xorOf(reply));
    return {request, uint32_t(reply.size()), digestOf(reply.data(), reply.size())};
}

}

// A slow request (register 14's check start, an apply) is run in place here: its answer then has
// its place among the others. Its deferral is the transport tests' (TcpTransport).
extern "C" uint32_t __real__ZN12message_deal18message_group_dealEPhjjmPSt8functionIFhvEE(message_deal*, uint8_t*, uint32_t,
                                                                                        uint32_t, uint64_t, void*);
extern "C" uint32_t __wrap__ZN12message_deal18message_group_dealEPhjjmPSt8functionIFhvEE(message_deal* self, uint8_t* body,
                                                                                        uint32_t length, uint32_t capacity,
                                                                                        uint64_t peer, void*)
{
    const size_t request = digestOf(body, length);
    ScalerStandsIn up;
    message_deal::SlowWork slow;
    uint32_t r = __real__ZN12message_deal18message_group_dealEPhjjmPSt8functionIFhvEE(self, body, length, capacity, peer, &slow);
    if (r == message_deal::kSlow)
        r = finishInProcess(body, slow);
    answers.push_back(answerOf(request, body, r, capacity, peer));
    return r;
}

// CardLink::take: the cards' answer for a frame a transport passed, taken to be sent on.
extern "C" bool __real__ZN8CardLink4takeEPKhji(CardLink*, const uint8_t*, uint32_t, int);
extern "C" bool __wrap__ZN8CardLink4takeEPKhji(CardLink* self, const uint8_t* body, uint32_t length, int port)
{
    const bool taken = __real__ZN8CardLink4takeEPKhji(self, body, length, port);
    if (taken)
        cardAnswers.emplace_back(body, body + length);
    return taken;
}

namespace {

bool setUp()
{
    fpga = FuzzFpga::up([] { linkTwoPortsOfScreen(0x11223344); });
    ConfigEngine::pInstance();
    c331_manage::instanceWithoutWorker();
    tcp = new networkManage;
    if (tcp->server()->initialize(0) != 0)
        FuzzBoard::fail("no TCP listener");
    udp = new udpnetManage;
    if (udp->initialize(0, 0, false) != 0)
        FuzzBoard::fail("no UDP sockets");
    lines[0] = new Qz_uart_inout_4G;
    lines[1] = new Qz_uart_inout;
    for (int port : {1, 2})
        if (lines[port - 1]->usart1_init(port, 115200, false) != 0 || !lines[port - 1]->opened())
            FuzzBoard::fail("no serial line %d", port);
    return true;
}

// The frames a tool's bytes carry, as any decoder of the stream finds them, those with a good
// check byte only.
std::vector<Bytes> requests(const QByteArray& stream, uint32_t record)
{
    std::vector<Bytes> out;
    FrameStream frames(record);
    const auto* p = reinterpret_cast<const uint8_t*>(stream.constData());
    for (uint32_t at = 0; at < uint32_t(stream.size());) {
        bool complete = false;
        at += frames.feed(p + at, uint32_t(stream.size()) - at, &complete);
        if (complete && protocol_phy::frame_valid(frames.body(), frames.size()))
            out.emplace_back(frames.body(), frames.body() + frames.size());
    }
    return out;
}

kOracle bool isReplyTo(const Bytes& reply, const Bytes& request)
{
    return reply[0] == request[2] && reply[1] == request[3] && reply[2] == request[0] && reply[3] == request[1] &&
           reply[9] == request[9];
}

// A card's answer as the link forwards it: the frame's head bytes 4-6, 8 and 9 kept (the network
// copies them; the link rewrites only the address and the port byte), and no longer than a packet.
kOracle bool isCardAnswer(const Bytes& reply, const Bytes& frame)
{
    return reply[4] == frame[4] && reply[5] == frame[5] && reply[6] == frame[6] && reply[8] == frame[8] &&
           reply[9] == frame[9] && reply.size() <= fpga_manage::kPacketMax;
}

// Every reply answers a request, in order, and is the handler's answer whole; `whole` says that
// none may be missing (else the ones that came are still checked, in order).
kOracle void match(const std::vector<Bytes>& replies, const std::vector<Bytes>& asked, bool whole)
{
    size_t r = 0, a = 0, c = 0;
    for (size_t q = 0; q < asked.size(); ++q) {
        if (protocol_phy::is_card_frame(asked[q].data())) {
            // The answers taken come in the order of the frames, each its own frame's; a frame the
            // cards left unanswered has none.
            if (c < cardAnswers.size() && isCardAnswer(cardAnswers[c], asked[q]) && r < replies.size() &&
                replies[r] == cardAnswers[c])
                ++r, ++c;
            continue;
        }
        if (a == answers.size()) {
            if (whole)
                FuzzBoard::fail("a valid request did not reach the handler");
            break; // the connection was dropped: nothing after it was served
        }
        const Answer& want = answers[a++];
        if (want.request != digestOf(asked[q].data(), asked[q].size() - 1))
            FuzzBoard::fail("the handler was not handed the tool's next request as sent");
        if (want.length == 0)
            continue;
        if (r < replies.size() && replies[r].size() == want.length && digestOf(replies[r].data(), want.length) == want.digest)
            ++r;
        else if (whole && r < replies.size() && isReplyTo(replies[r], asked[q]))
            FuzzBoard::fail("a reply is not the handler's answer whole (%zu bytes, the answer %u)", replies[r].size(), want.length);
        else if (whole)
            FuzzBoard::fail("a valid request has no reply in its place");
    }
    if (a != answers.size())
        FuzzBoard::fail("the handler ran a request the tool did not send");
    if (whole && c != cardAnswers.size())
        FuzzBoard::fail("a card's answer the transport took did not reach the tool in its frame's place");
    if (r != replies.size())
        FuzzBoard::fail("a reply answers no request the tool sent");
}

// The frames of a reply stream, each as the framing rules write it: three start bytes, the body
// with every special byte escaped, the end byte, and a good check byte; nothing before, between or
// after them.
kOracle std::vector<Bytes> framesOf(const Bytes& wire)
{
    std::vector<Bytes> out;
    for (size_t i = 0; i < wire.size();) {
        if (wire.size() - i < 4 || wire[i] != 0xA5 || wire[i + 1] != 0xA5 || wire[i + 2] != 0xA5 || wire[i + 3] == 0xA5)
            FuzzBoard::fail("reply bytes that do not start a frame");
        Bytes body;
        for (i += 3;; ++i) {
            if (i == wire.size() || wire[i] == 0xA5)
                FuzzBoard::fail("a reply frame without its end byte");
            const uint8_t b = wire[i];
            if (b == 0x5A)
                break;
            if (b == 0xA6 || b == 0x5B) {
                if (++i == wire.size() || (wire[i] != 1 && wire[i] != 2))
                    FuzzBoard::fail("a reply with a bad escape");
                body.push_back(b == 0xA6 ? (wire[i] == 1 ? 0xA6 : 0xA5) : (wire[i] == 1 ? 0x5B : 0x5A));
            } else {
                body.push_back(b);
            }
        }
        ++i;
        if (body.size() > kMessageBufferSize)
            FuzzBoard::fail("a reply longer than the reply buffer");
        const uint8_t check = body.empty() ? 0 : body.back();
        if (body.size() < 11 || (body.pop_back(), xorOf(body) != check))
            FuzzBoard::fail("a reply with a bad check byte");
        body.push_back(check);
        out.push_back(std::move(body));
    }
    return out;
}

// Real time since the tool or the transport last moved.
class Stall {
public:
    void moved() { m_since = Clock::now(); }
    bool over() const { return Clock::now() - m_since > kStallLimit; }
    void check(const char* what) const
    {
        if (over())
            FuzzBoard::fail("%s", what);
    }

private:
    Clock::time_point m_since = Clock::now();
};

// ---- TCP ----

int connectTcp(bool smallWindow)
{
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (smallWindow) {
        const int size = 4096;
        setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &size, sizeof size);
    }
    // A reset instead of TIME_WAIT: millions of connections would use up the local ports.
    const linger reset = {1, 0};
    setsockopt(fd, SOL_SOCKET, SO_LINGER, &reset, sizeof reset);
    const sockaddr_in to = FuzzNet::loopback(tcp->server()->port());
    if (fd < 0 || connect(fd, reinterpret_cast<const sockaddr*>(&to), sizeof to) != 0)
        FuzzBoard::fail("cannot connect");
    return fd;
}

// Steps of the tool and the transport until the transport closes the connection: the tool sends
// what its socket takes (a write is all sent before the next begins), the transport runs a pass,
// the tool reads. A tool that reads only at the end reads once its sends are refused, or once all
// is sent and the transport holds nothing more it could serve; it then shuts its side. A step in
// which nothing moved waits in poll instead of turning at once. False when the transport closed
// the connection itself (a tool that does not take its replies is dropped): the replies then end
// early.
bool runTcp(const std::vector<QByteArray>& writes, bool lazy, std::vector<Bytes>* replies)
{
    const int fd = connectTcp(lazy);
    TcpServer* server = tcp->server();
    Bytes wire, buffer(1 << 16);
    bool eof = false, dropped = false, shut = false, waited = false;
    size_t piece = 0;
    int at = 0;
    uint64_t sent = 0;
    auto read = [&] {
        for (;;) {
            const ssize_t n = recv(fd, buffer.data(), buffer.size(), MSG_DONTWAIT);
            if (n == 0 || (n < 0 && errno == ECONNRESET)) {
                eof = true;
                dropped = dropped || !shut || n < 0; // closed before the tool was done
            }
            if (n <= 0)
                return;
            wire.insert(wire.end(), buffer.begin(), buffer.begin() + n);
        }
    };
    auto mark = [&] {
        return std::make_tuple(piece, sent, shut, wire.size(), eof, answers.size(), server->heldBytes(), server->clientCount());
    };
    Stall stall;
    while (!eof) {
        const auto before = mark();
        bool refused = false;
        if (piece < writes.size()) {
            const QByteArray& w = writes[piece];
            if (at < w.size()) {
                const ssize_t n = send(fd, w.constData() + at, size_t(w.size() - at), MSG_DONTWAIT | MSG_NOSIGNAL);
                if (n > 0) {
                    at += int(n);
                    sent += uint64_t(n);
                } else if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) {
                    refused = true;
                } else {
                    eof = dropped = true;
                    break;
                }
            }
            if (at >= w.size()) {
                ++piece;
                at = 0;
            }
        } else if (!shut && !(lazy && server->heldBytes() && !server->stalledCount())) {
            shutdown(fd, SHUT_WR);
            shut = true;
        }
        tcp->runOnce(waited ? kWaitMs : 0);
        if (!lazy || refused || shut || waited)
            read(); // a tool that reads only at the end still must, once neither side can go on
        waited = mark() == before;
        if (!waited) {
            stall.moved();
            continue;
        }
        if (stall.over())
            FuzzBoard::fail("the transport does not get through the input (write %zu of %zu, %llu bytes sent%s, %zu reply "
                            "bytes read; the server holds %zu bytes, %zu of %zu clients not reading, a card wait: %d)",
                            piece, writes.size(), (unsigned long long)sent, shut ? ", shut" : "", wire.size(),
                            server->heldBytes(), server->stalledCount(), server->clientCount(), tcp->passState() == 1);
        pollfd p = {fd, short(POLLIN | (refused ? POLLOUT : 0)), 0};
        poll(&p, 1, kWaitMs);
    }
    close(fd);
    // The reset from this side reaches the transport's next polls.
    stall.moved();
    while (server->clientCount() != 0) {
        stall.check("a client that closed is still held");
        tcp->runOnce(kWaitMs);
    }
    if (dropped) {
        // What arrived before the connection was closed: up to the last whole frame.
        while (!wire.empty() && wire.back() != 0x5A)
            wire.pop_back();
    }
    *replies = framesOf(wire);
    return !dropped;
}

// ---- UDP ----

// The closing request: a read of register 4, which echoes the byte after it.
const Bytes kClosing = {0x00, 0xF1, 0x5E, 0x7E, 0, 0, 0, 0, 0, 0xA1, 0x04, 0x3C};

Bytes sealed(Bytes body)
{
    body.push_back(xorOf(body));
    return body;
}

Bytes onWire(const Bytes& body)
{
    Bytes wire = {0xA5, 0xA5, 0xA5};
    for (uint8_t v : body) {
        if (v == 0xA5 || v == 0xA6)
            wire.insert(wire.end(), {0xA6, uint8_t(v == 0xA5 ? 2 : 1)});
        else if (v == 0x5A || v == 0x5B)
            wire.insert(wire.end(), {0x5B, uint8_t(v == 0x5A ? 2 : 1)});
        else
            wire.push_back(v);
    }
    wire.push_back(0x5A);
    return wire;
}

// Once the closing request has reached the handler: reads (read) until its reply has come, then
// takes that reply off; lost() says a reply may have been lost on the way.
void awaitClosingReply(std::vector<Bytes>* replies, const std::function<void()>& read, const std::function<bool()>& lost)
{
    if (answers.empty() || answers.back().request != digestOf(kClosing.data(), kClosing.size()))
        FuzzBoard::fail("the closing request did not reach the handler as sent");
    // Its reply comes last: wait for it (a request of the input's may have the same answer).
    const Answer last = answers.back();
    auto closedBy = [&](const Bytes& reply) {
        return reply.size() == last.length && digestOf(reply.data(), reply.size()) == last.digest;
    };
    size_t due = 0, seen = 0;
    for (const Answer& a : answers)
        due += a.length == last.length && a.digest == last.digest;
    answers.pop_back();
    Stall stall;
    for (size_t looked = 0;;) {
        for (; looked < replies->size(); ++looked)
            seen += closedBy((*replies)[looked]);
        if (seen >= due || lost())
            break;
        stall.check("the closing request has no reply");
        read();
    }
    if (!replies->empty() && closedBy(replies->back()))
        replies->pop_back();
}

// Datagrams the kernel dropped on any CPU's backlog since boot (the second column of each line).
uint64_t backlogDrops()
{
    FILE* f = fopen("/proc/net/softnet_stat", "r");
    if (!f)
        return 0;
    uint64_t sum = 0;
    unsigned processed = 0, dropped = 0;
    char rest[256];
    while (fscanf(f, "%x %x", &processed, &dropped) == 2) {
        sum += dropped;
        if (!fgets(rest, sizeof rest, f))
            break;
    }
    fclose(f);
    return sum;
}

// The tool's socket: room for many long replies, and the count of datagrams it had to drop for
// want of room given with each one it takes.
int udpTool()
{
    const int fd = FuzzNet::udpTool();
    const int room = 16 << 20, on = 1;
    if (setsockopt(fd, SOL_SOCKET, SO_RCVBUFFORCE, &room, sizeof room) != 0)
        setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &room, sizeof room);
    setsockopt(fd, SOL_SOCKET, SO_RXQ_OVFL, &on, sizeof on);
    return fd;
}

// Datagrams, each served once it has arrived, then the closing request: its start byte ends a
// frame the input left open (the next input's sender starts afresh), a new request ends a wait
// for the cards, and its reply comes after all others. False when the kernel dropped a datagram.
bool runUdp(const std::vector<QByteArray>& datagrams, std::vector<Bytes>* replies)
{
    const int fd = udpTool();
    const uint64_t backlogBefore = backlogDrops();
    const sockaddr_in to = FuzzNet::loopback(udp->server()->port());
    Bytes buffer(UdpServer::kDatagramMax);
    uint32_t socketDrops = 0;
    auto read = [&] {
        for (;;) {
            char control[CMSG_SPACE(sizeof(uint32_t))];
            iovec v = {buffer.data(), buffer.size()};
            msghdr m{};
            m.msg_iov = &v;
            m.msg_iovlen = 1;
            m.msg_control = control;
            m.msg_controllen = sizeof control;
            const ssize_t n = recvmsg(fd, &m, 0);
            if (n <= 0)
                return;
            for (cmsghdr* c = CMSG_FIRSTHDR(&m); c; c = CMSG_NXTHDR(&m, c))
                if (c->cmsg_level == SOL_SOCKET && c->cmsg_type == SO_RXQ_OVFL)
                    memcpy(&socketDrops, CMSG_DATA(c), sizeof socketDrops);
            if (uint32_t(n) > kUdpPayloadMax)
                FuzzBoard::fail("a reply longer than one datagram");
            const std::vector<Bytes> frames = framesOf(Bytes(buffer.begin(), buffer.begin() + n));
            if (frames.size() != 1)
                FuzzBoard::fail("a reply datagram is not one whole frame");
            replies->push_back(frames[0]);
        }
    };
    auto serve = [&](const char* data, size_t size) {
        if (sendto(fd, data, size, 0, reinterpret_cast<const sockaddr*>(&to), sizeof to) != ssize_t(size))
            FuzzBoard::fail("cannot send a datagram");
        // Served once it has arrived; an empty one is dropped on arrival.
        if (size && !FuzzNet::readable(udp->server()->socket(), 5000))
            FuzzBoard::fail("a datagram did not arrive");
        while (FuzzNet::readable(udp->server()->socket(), 0))
            udp->runOnce(0);
        udp->runOnce(0); // a frame for the cards: its answer
        read();
    };
    auto lost = [&] { return socketDrops != 0 || backlogDrops() != backlogBefore; };
    for (const QByteArray& d : datagrams)
        serve(d.constData(), size_t(d.size()));
    const Bytes closing = onWire(sealed(kClosing));
    serve(reinterpret_cast<const char*>(closing.data()), closing.size());
    awaitClosingReply(replies, [&] {
        FuzzNet::readable(fd, kWaitMs);
        read();
    }, lost);
    close(fd);
    return !lost();
}

// ---- serial ----

// The tool's writes on the line's far end, each whole before the next, the transport running a
// pass after each piece the line took, then the closing request. A thread of the tool reads all
// the while: the transport's send waits for the line to take its reply.
bool runSerial(std::vector<QByteArray> writes, int port, std::vector<Bytes>* replies)
{
    SerialTransport* line = lines[port - 1];
    const int fd = open(platform::Sim::serialSim().peerPath(port).c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        FuzzBoard::fail("cannot open serial line %d", port);
    std::mutex m;
    std::condition_variable heard;
    Bytes wire;
    bool done = false;
    std::thread tool([&] {
        uint8_t b[4096];
        for (;;) {
            pollfd p = {fd, POLLIN, 0};
            const ssize_t n = poll(&p, 1, kWaitMs) > 0 ? read(fd, b, sizeof b) : 0;
            std::lock_guard<std::mutex> lock(m);
            if (done)
                return;
            if (n > 0)
                wire.insert(wire.end(), b, b + n);
            heard.notify_all();
        }
    });
    const Bytes closing = onWire(sealed(kClosing));
    writes.emplace_back(reinterpret_cast<const char*>(closing.data()), int(closing.size()));
    QByteArray all;
    for (const QByteArray& w : writes)
        all += w;
    size_t due = 0; // the closing request, and any copy of it in the input
    for (const Bytes& r : requests(all, SerialTransport::kRecordSize))
        due += r == sealed(kClosing);
    const size_t closingDigest = digestOf(kClosing.data(), kClosing.size());
    const auto served = [&] {
        return size_t(std::count_if(answers.begin(), answers.end(), [&](const Answer& a) { return a.request == closingDigest; }));
    };
    Stall stall;
    for (const QByteArray& w : writes)
        for (int at = 0; at < w.size();) {
            const ssize_t n = write(fd, w.constData() + at, size_t(w.size() - at));
            if (n > 0)
                at += int(n), stall.moved();
            else
                stall.check("the line takes none of the tool's bytes");
            line->runOnce(n > 0 ? 0 : kWaitMs);
        }
    for (size_t seen = answers.size(); served() < due; line->runOnce(kWaitMs)) {
        if (answers.size() != seen)
            seen = answers.size(), stall.moved();
        stall.check("the closing request did not reach the handler as sent");
    }
    awaitClosingReply(replies, [&] {
        std::unique_lock<std::mutex> lock(m);
        heard.wait_for(lock, std::chrono::milliseconds(kWaitMs));
        Bytes whole(wire.begin(), wire.begin() + (std::find(wire.rbegin(), wire.rend(), 0x5A).base() - wire.begin()));
        *replies = framesOf(whole); // whole frames only: 0x5A ends one and is escaped elsewhere
    }, [] { return false; });
    {
        std::lock_guard<std::mutex> lock(m);
        done = true;
    }
    tool.join();
    close(fd);
    return true;
}

}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static bool ready = setUp();
    (void)ready;
    if (size == 0)
        return 0;
    const uint8_t mode = data[0];
    const std::vector<QByteArray> pieces = FuzzBoard::split(data + 1, size - 1, "#NET#");
    QByteArray all;
    for (const QByteArray& p : pieces)
        all += p;
    std::vector<Bytes> replies;
    answers.clear();
    cardAnswers.clear();
    // Each datagram is the next part of the sender's stream.
    const bool serial = mode & 4;
    const bool whole = serial ? runSerial(pieces, mode & 8 ? 1 : 2, &replies)
                       : mode & 1 ? runUdp(pieces, &replies)
                                  : runTcp(pieces, mode & 2, &replies);
    match(replies, requests(all, serial ? SerialTransport::kRecordSize : kMessageBufferSize), whole);
    FuzzBoard::settle();
    return 0;
}
