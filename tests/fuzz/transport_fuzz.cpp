// The TCP and UDP transports' own read loops: the input is what a PC tool sends, written through a
// loopback socket to the transport, which runs one pass at a time (runOnce) as its thread would,
// with the command handler and the FPGA's card link behind it. The first byte picks the transport
// (bit 0: UDP) and, for TCP, whether the tool reads its replies only at the end (bit 1: the
// transport then holds back what the tool sends). The rest is cut at "#NET#" into the tool's
// writes (TCP) or datagrams (UDP).
// Checked on what the transport accepted, against the frames the tool's bytes carry: every reply
// is a whole frame with a good check byte, the replies come in the order of the requests, each
// with the request's head swapped and its group, a card's answer only after a frame for the cards;
// over TCP every valid request has its reply, over UDP a reply fits one datagram.
#include "fuzz_fpga.h"
#include "fuzz_net.h"

#include "base/utils.h"
#include "comm/message_deal.h"
#include "comm/networkmanage.h"
#include "comm/protocol_phy.h"
#include "comm/tcpserver.h"
#include "comm/udpnetmanage.h"
#include "comm/udpserver.h"
#include "params/config_engine.h"
#include "scaler/c331_manage.h"

#include <cerrno>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <vector>

namespace {
using Bytes = std::vector<uint8_t>;

constexpr int kMaxPasses = 20000; // far more than any input of the corpus takes

networkManage* tcp;
udpnetManage* udp;
fpga_manage* fpga;

bool setUp()
{
    fpga = FuzzFpga::up([] { linkTwoPortsOfScreen(0x11223344); });
    ConfigEngine::pInstance();
    c331_manage::instanceWithoutWorker();
    tcp = new networkManage;
    // As the transport's start hands its card wait to the FPGA manager.
    fpga_manage::set_reply_sink(2, [](const uint8_t* body, uint32_t length) { return tcp->queue_card_answer(body, length); });
    if (tcp->server()->initialize(0) != 0)
        FuzzBoard::fail("no TCP listener");
    udp = new udpnetManage;
    if (udp->initialize(0, 0, false) != 0)
        FuzzBoard::fail("no UDP sockets");
    return true;
}

// The frames a tool's bytes carry, as any decoder of the stream finds them, those with a good
// check byte only.
std::vector<Bytes> requests(const QByteArray& stream)
{
    std::vector<Bytes> out;
    FrameStream frames(kMessageBufferSize);
    const auto* p = reinterpret_cast<const uint8_t*>(stream.constData());
    for (uint32_t at = 0; at < uint32_t(stream.size());) {
        bool complete = false;
        at += frames.feed(p + at, uint32_t(stream.size()) - at, &complete);
        if (complete && protocol_phy::frame_valid(frames.body(), frames.size()))
            out.emplace_back(frames.body(), frames.body() + frames.size());
    }
    return out;
}

bool isReplyTo(const Bytes& reply, const Bytes& request)
{
    return reply[0] == request[2] && reply[1] == request[3] && reply[2] == request[0] && reply[3] == request[1] &&
           reply[9] == request[9];
}

// A card's answer as the link forwards it: the frame's head bytes 4-6, 8 and 9 kept (the network
// copies them; the link rewrites only the address and the port byte), and no longer than a packet.
bool isCardAnswer(const Bytes& reply, const Bytes& frame)
{
    return reply[4] == frame[4] && reply[5] == frame[5] && reply[6] == frame[6] && reply[8] == frame[8] &&
           reply[9] == frame[9] && reply.size() <= fpga_manage::kPacketMax;
}

// Every reply answers a request, in order; `each` says whether every request other than a card
// frame must have one (TCP answers even with nothing to say).
void match(const std::vector<Bytes>& replies, const std::vector<Bytes>& asked, bool each)
{
    size_t r = 0;
    for (size_t q = 0; q < asked.size(); ++q) {
        if (protocol_phy::is_card_frame(asked[q].data())) {
            // Its answer, unless what comes next could as well be the next request's reply.
            size_t next = q + 1;
            while (next < asked.size() && protocol_phy::is_card_frame(asked[next].data()))
                ++next;
            if (r < replies.size() && isCardAnswer(replies[r], asked[q]) &&
                (next == asked.size() || !isReplyTo(replies[r], asked[next])))
                ++r;
            continue;
        }
        if (r < replies.size() && isReplyTo(replies[r], asked[q]))
            ++r;
        else if (each)
            FuzzBoard::fail("a valid request has no reply in its place");
    }
    if (r != replies.size())
        FuzzBoard::fail("a reply answers no request the tool sent");
}

// The frames of a reply stream: whole, with good check bytes, nothing before, between or after
// them (a start byte only ever opens a frame: the body's are escaped).
std::vector<Bytes> framesOf(const Bytes& wire)
{
    std::vector<Bytes> out;
    if (wire.empty())
        return out;
    if (wire.front() != 0xA5 || wire.back() != 0x5A)
        FuzzBoard::fail("a reply stream that does not start and end with a frame");
    for (size_t i = 0; i + 1 < wire.size(); ++i)
        if (wire[i] == 0x5A && wire[i + 1] != 0xA5)
            FuzzBoard::fail("bytes between reply frames");
    FrameStream stream(kMessageBufferSize);
    for (size_t at = 0; at < wire.size();) {
        bool complete = false;
        at += stream.feed(wire.data() + at, uint32_t(wire.size() - at), &complete);
        if (!complete)
            continue;
        if (!protocol_phy::frame_valid(stream.body(), stream.size()))
            FuzzBoard::fail("a reply with a bad check byte");
        out.emplace_back(stream.body(), stream.body() + stream.size());
    }
    if (stream.dropped() != 0)
        FuzzBoard::fail("a reply longer than the reply buffer");
    return out;
}

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

// False when the transport closed the connection itself (a tool that does not take its replies
// is dropped): the replies then end early.
bool runTcp(const std::vector<QByteArray>& writes, bool lazy, std::vector<Bytes>* replies)
{
    const int fd = connectTcp(lazy);
    Bytes wire, buffer(1 << 16);
    bool eof = false, dropped = false;
    auto read = [&](bool now) {
        if (!now)
            return;
        for (;;) {
            const ssize_t n = recv(fd, buffer.data(), buffer.size(), MSG_DONTWAIT);
            if (n == 0 || (n < 0 && errno == ECONNRESET))
                eof = true;
            dropped = dropped || (n < 0 && errno == ECONNRESET);
            if (n <= 0)
                break;
            wire.insert(wire.end(), buffer.begin(), buffer.begin() + n);
        }
    };
    int passes = 0;
    auto pass = [&](int timeoutMs) {
        if (++passes > kMaxPasses)
            FuzzBoard::fail("the transport does not get through the input");
        tcp->runOnce(timeoutMs);
    };
    for (const QByteArray& w : writes) {
        for (int at = 0; at < w.size() && !eof;) {
            const ssize_t n = send(fd, w.constData() + at, size_t(w.size() - at), MSG_DONTWAIT | MSG_NOSIGNAL);
            if (n > 0)
                at += int(n);
            else if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)
                eof = dropped = true;
            pass(0);
            // A tool that does not read until the end still must, once neither side can go on.
            read(!lazy || n <= 0);
        }
        pass(0);
        read(!lazy);
    }
    // A tool that reads only at the end: the transport serves what waits until the replies fill
    // the buffers and it holds back.
    while (lazy && !eof && tcp->server()->heldBytes() && !tcp->server()->stalledCount())
        pass(0);
    shutdown(fd, SHUT_WR);
    while (!eof) {
        pass(tcp->server()->heldBytes() ? 0 : 1); // requests wait to be served: no need to wait
        read(true);
    }
    close(fd);
    for (int i = 0; i < 3 && tcp->server()->clientCount() != 0; ++i)
        pass(0); // a reset from this side reaches the transport's next poll
    if (tcp->server()->clientCount() != 0)
        FuzzBoard::fail("a client that closed is still held");
    if (dropped) {
        // What arrived before the connection was closed: up to the last whole frame.
        while (!wire.empty() && wire.back() != 0x5A)
            wire.pop_back();
    }
    *replies = framesOf(wire);
    return !dropped;
}

// ---- UDP ----

void runUdp(const std::vector<QByteArray>& datagrams, std::vector<Bytes>* replies)
{
    // A socket of its own for each input: a reply still on its way from the last one goes to a
    // port that is closed, and the transport starts this sender's stream afresh.
    const int fd = FuzzNet::udpTool();
    const sockaddr_in to = FuzzNet::loopback(udp->server()->port());
    Bytes buffer(UdpServer::kDatagramMax);
    auto read = [&] {
        for (;;) {
            const ssize_t n = recv(fd, buffer.data(), buffer.size(), 0);
            if (n <= 0)
                return;
            if (uint32_t(n) > UdpServer::kReplyMax)
                FuzzBoard::fail("a reply longer than one datagram");
            const std::vector<Bytes> frames = framesOf(Bytes(buffer.begin(), buffer.begin() + n));
            if (frames.size() != 1)
                FuzzBoard::fail("a reply datagram is not one whole frame");
            replies->push_back(frames[0]);
        }
    };
    for (const QByteArray& d : datagrams) {
        if (sendto(fd, d.constData(), size_t(d.size()), 0, reinterpret_cast<const sockaddr*>(&to), sizeof to) != d.size())
            FuzzBoard::fail("cannot send a datagram");
        // Served once it has arrived; an empty one is dropped on arrival.
        if (!d.isEmpty() && !FuzzNet::readable(udp->server()->socket(), 1000))
            FuzzBoard::fail("a datagram did not arrive");
        for (int i = 0; i < kMaxPasses && FuzzNet::readable(udp->server()->socket(), 0); ++i)
            udp->runOnce(0);
        udp->runOnce(0); // a frame for the cards: its answer
        read();
    }
    read();
    close(fd);
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
    if (mode & 1) {
        // Each datagram is the next part of the sender's stream.
        runUdp(pieces, &replies);
        match(replies, requests(all), false);
    } else {
        const bool whole = runTcp(pieces, mode & 2, &replies);
        match(replies, requests(all), whole);
    }
    FuzzBoard::settle();
    return 0;
}
