// The TCP transport in this process: real sockets on loopback, the real handler behind it, and
// the test standing in for the FPGA worker where a receiving card would answer.
#include "managers.h"
#include "frame_client.h"
#include "program.h"
#include "race_hold.h"
#include "sample_program.h"
#include "test_root.h"

#include "base/posix_lock.h"
#include "base/race_pause.h"
#include "base/tick_alarm.h"
#include "scaler/c331_manage.h"
#include "fpga/fpga_manage.h"
#include "base/global.h"
#include "video_chips/keltosource.h"
#include "comm/message_deal.h"
#include "comm/networkmanage.h"
#include "comm/tcpserver.h"
#include "params/vyrrampara.h"
#include "platform/net.h"
#include "tools/program_check.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <linux/sockios.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/socket.h>

#include <atomic>
#include <deque>
#include <map>
#include <dirent.h>
#include <fcntl.h>
#include <fstream>
#include <gtest/gtest.h>
#include <memory>
#include <thread>
#include <unistd.h>

namespace {

using Wire::echoReply;

// Card 1's answer to a frame with serial number 0 (Wire::request's).
const Bytes kCardAnswer = Wire::sealed({0x10, 0xF0, 0x01, 0x00, 0x10, 0x00, 1, 1, 0, 0x61, 0x00, 0x5A, 0xA5});

// CPU ticks used so far by the thread of this process with the given name; -1 if none.
long threadTicks(const std::string& name)
{
    DIR* dir = opendir("/proc/self/task");
    long ticks = -1;
    while (dirent* e = dir ? readdir(dir) : nullptr) {
        const std::string task = std::string("/proc/self/task/") + e->d_name;
        std::string comm;
        std::getline(std::ifstream(task + "/comm"), comm);
        if (comm != name)
            continue;
        std::string stat;
        std::getline(std::ifstream(task + "/stat"), stat);
        std::istringstream fields(stat.substr(stat.rfind(')') + 2));
        std::string f;
        long utime = 0, stime = 0;
        for (int i = 3; fields >> f && i <= 15; ++i) {
            if (i == 14)
                utime = std::stol(f);
            if (i == 15)
                stime = std::stol(f);
        }
        ticks = utime + stime;
    }
    if (dir)
        closedir(dir);
    return ticks;
}

// Resident memory of this process in kB.
long residentKb()
{
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind("VmRSS:", 0) == 0)
            return std::stol(line.substr(6));
    return -1;
}

// Connects to addr:port (host byte order); the socket, or -1 when refused.
int connectTo(uint32_t addr, int port)
{
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_addr.s_addr = htonl(addr);
    to.sin_port = htons(uint16_t(port));
    if (fd >= 0 && connect(fd, reinterpret_cast<sockaddr*>(&to), sizeof to) == 0)
        return fd;
    if (fd >= 0)
        close(fd);
    return -1;
}

// A socket's own or its peer's IPv4 address and port.
using SocketName = std::pair<uint32_t, uint16_t>;
SocketName nameOf(int fd, bool peer)
{
    sockaddr_in a{};
    socklen_t len = sizeof a;
    const int got = peer ? getpeername(fd, reinterpret_cast<sockaddr*>(&a), &len)
                         : getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
    return got == 0 && a.sin_family == AF_INET ? SocketName(a.sin_addr.s_addr, a.sin_port) : SocketName();
}

// The program's ends of the clients' connections (this process serves them), by the client's
// address and port.
std::map<SocketName, int> serverSides()
{
    std::map<SocketName, int> sides;
    for (int fd = 0; fd < 4096; ++fd) {
        const SocketName peer = nameOf(fd, true);
        if (peer != SocketName())
            sides[peer] = fd;
    }
    return sides;
}

// The program's end of one client's connection; -1 when there is none.
int serverSideOf(int clientFd)
{
    const std::map<SocketName, int> sides = serverSides();
    const auto it = sides.find(nameOf(clientFd, false));
    return it == sides.end() ? -1 : it->second;
}

using Wire::uploadBlock;
using Wire::uploadEnd;
using Wire::uploadStart;

class TcpTransport : public ::testing::Test {
protected:
    void SetUp() override
    {
        fpga = startManagersWithoutWorkers().fpga;
        g_port = 0; // any free port
        net = networkManage::pInstance();
        port = net->server()->port();
        ASSERT_GT(port, 0);
    }
    std::unique_ptr<FrameClient> client()
    {
        auto c = std::make_unique<FrameClient>(port);
        EXPECT_TRUE(c->connected());
        return c;
    }
    // count reads of 65,000 bytes, as one stream.
    static Bytes largeReads(size_t count)
    {
        Bytes stream;
        for (size_t i = 0; i < count; ++i) {
            const Bytes w = Wire::stuff(Wire::readRam(0x200000, 65000));
            stream.insert(stream.end(), w.begin(), w.end());
        }
        return stream;
    }
    // n clients from another host, each with a small receive buffer, that send the stream and
    // never read.
    std::vector<std::unique_ptr<FrameClient>> neverReading(size_t n, const Bytes& stream)
    {
        std::vector<std::unique_ptr<FrameClient>> clients;
        for (size_t i = 0; i < n; ++i) {
            clients.push_back(std::make_unique<FrameClient>(port, 0, 0x7F000002));
            const int small = 4096;
            setsockopt(clients.back()->fd(), SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
            EXPECT_TRUE(clients.back()->sendRaw(stream));
        }
        return clients;
    }
    // The FPGA worker's part: a card's answer from port 0 handed back under the pass-through mutex.
    void cardAnswers(const Bytes& answer)
    {
        PosixLock pass(fpga->pass_mutex);
        fpga->forward_card_reply(answer.data(), uint32_t(answer.size()), 0);
    }

    fpga_manage* fpga = nullptr;
    networkManage* net = nullptr;
    int port = -1;
};

}

TEST_F(TcpTransport, AnswersOnTheSameConnectionHoweverTheStreamIsCut)
{
    auto c = client();
    const Bytes wire = Wire::stuff(Wire::readRegister(4, 0x37));
    for (uint8_t b : wire) { // one byte per segment
        ASSERT_TRUE(c->sendRaw({b}));
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    EXPECT_EQ(c->receiveRaw(17), Bytes({0xA5, 0xA5, 0xA5, 0x10, 0xF0, 0x00, 0xF1, 0, 0, 0, 0, 0, 0xA1, 0x00, 0x37, 0x87, 0x5A}));

    // Three frames in pieces of 7 bytes, cut across their borders.
    Bytes stream;
    for (uint8_t i = 1; i <= 3; ++i) {
        const Bytes w = Wire::stuff(Wire::readRegister(4, i));
        stream.insert(stream.end(), w.begin(), w.end());
    }
    for (size_t at = 0; at < stream.size(); at += 7) {
        ASSERT_TRUE(c->sendRaw(Bytes(stream.begin() + at, stream.begin() + std::min(stream.size(), at + 7))));
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    for (uint8_t i = 1; i <= 3; ++i) {
        Bytes reply;
        ASSERT_TRUE(c->receive(&reply));
        EXPECT_EQ(reply, echoReply(i));
    }
}

TEST_F(TcpTransport, RequestWithoutReplyDataGetsTheBareHead)
{
    auto c = client();
    ASSERT_TRUE(c->sendFrame(Wire::request(0x55, {0x00})));
    EXPECT_EQ(c->receiveRaw(15), Bytes({0xA5, 0xA5, 0xA5, 0x10, 0xF0, 0x00, 0xF1, 0, 0, 0, 0, 0, 0x55, 0x44, 0x5A}));
}

TEST_F(TcpTransport, BadFramesAreDroppedSilentlyAndLeaveNothingBehind)
{
    auto c = client();
    EXPECT_EQ(c->request(Wire::readRegister(4, 0x37)), echoReply(0x37));
    Bytes badCheck = Wire::readRegister(4, 0x11);
    badCheck.back() ^= 0xFF;
    ASSERT_TRUE(c->sendFrame(badCheck));
    ASSERT_TRUE(c->sendRaw({0xA5, 0x00, 0x5A, 0xA5, 0x5A, 0x33, 0x5A, 0x01})); // "00", empty, noise
    // A frame of exactly the head and check byte: nothing of the earlier 0x37 may come back.
    Bytes head = Wire::sealed({0x00, 0xF1, 0x10, 0xF0, 0, 0, 0, 0, 0, 0xA1});
    Bytes reply;
    ASSERT_TRUE(c->sendFrame(head));
    ASSERT_TRUE(c->receive(&reply));
    ASSERT_TRUE(Wire::checkOk(reply));
    EXPECT_EQ(Bytes(reply.begin(), reply.begin() + 4), Bytes({0x10, 0xF0, 0x00, 0xF1}));
    for (size_t i = 10; i + 1 < reply.size(); ++i)
        EXPECT_NE(reply[i], 0x37) << "byte " << i;
    EXPECT_EQ(c->request(Wire::readRegister(4, 0x22)), echoReply(0x22)) << "one reply per good frame, in order";
}

TEST_F(TcpTransport, OversizedFrameIsDroppedWithoutHarmToOthers)
{
    auto big = client();
    auto other = client();
    Bytes flood = {0xA5};
    flood.insert(flood.end(), kMessageBufferSize + 100, 0x11);
    flood.push_back(0x5A);
    std::thread sender([&] { big->sendRaw(flood); });
    EXPECT_EQ(other->request(Wire::readRegister(4, 0x01)), echoReply(0x01));
    sender.join();
    EXPECT_EQ(big->request(Wire::readRegister(4, 0x02)), echoReply(0x02));

    // The largest frame the buffer holds is still taken: a write outside every window, refused.
    Bytes full = Wire::writeRam(0x20000, {});
    full.pop_back();
    full.resize(kMessageBufferSize - 1, 0x00);
    full = Wire::sealed(full);
    ASSERT_EQ(full.size(), kMessageBufferSize);
    Bytes reply = big->request(full, 5000);
    ASSERT_EQ(reply.size(), 12u);
    EXPECT_EQ(reply[9], 0x60);
    EXPECT_EQ(reply[10], 1);
}

TEST_F(TcpTransport, EachConnectionAssemblesItsOwnFrames)
{
    auto a = client();
    auto b = client();
    const Bytes wa = Wire::stuff(Wire::readRegister(4, 0xAA));
    const size_t half = wa.size() / 2;
    ASSERT_TRUE(a->sendRaw(Bytes(wa.begin(), wa.begin() + half)));
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
    EXPECT_EQ(b->request(Wire::readRegister(4, 0xBB)), echoReply(0xBB));
    ASSERT_TRUE(a->sendRaw(Bytes(wa.begin() + half, wa.end())));
    Bytes reply;
    ASSERT_TRUE(a->receive(&reply));
    EXPECT_EQ(reply, echoReply(0xAA));
}

// Clients that send many requests at once are served in turn, each in order: pass by pass, none
// gets far ahead of the others.
TEST_F(TcpTransport, PipeliningClientsAreServedInTurn)
{
    networkManage own; // driven pass by pass here
    ASSERT_EQ(own.server()->initialize(0), 0);
    Bytes burst;
    for (uint8_t i = 0; i < 40; ++i) {
        const Bytes w = Wire::stuff(Wire::readRegister(4, i));
        burst.insert(burst.end(), w.begin(), w.end());
    }
    std::vector<std::unique_ptr<FrameClient>> clients;
    for (size_t i = 0; i < 2 * TcpServer::kTurnsPerPass; ++i)
        clients.push_back(std::make_unique<FrameClient>(own.server()->port()));
    for (int pass = 0; pass < 100 && own.server()->clientCount() < clients.size(); ++pass)
        own.runOnce(10);
    ASSERT_EQ(own.server()->clientCount(), clients.size());
    for (auto& c : clients)
        ASSERT_TRUE(c->sendRaw(burst));
    for (int pass = 0; pass < 21; ++pass)
        own.runOnce(0);
    // The answers each client holds now, taken from its socket at once, in order.
    size_t fewest = SIZE_MAX, most = 0;
    for (auto& c : clients) {
        uint8_t raw[4096];
        const ssize_t n = recv(c->fd(), raw, sizeof raw, MSG_DONTWAIT);
        Wire::Unstuffer arrived;
        arrived.push(raw, size_t(std::max<ssize_t>(n, 0)));
        Bytes reply;
        size_t count = 0;
        while (arrived.next(&reply)) {
            EXPECT_EQ(reply, echoReply(uint8_t(count)));
            ++count;
        }
        fewest = std::min(fewest, count);
        most = std::max(most, count);
    }
    EXPECT_GT(fewest, 1u);
    EXPECT_GE(2 * fewest, most) << "answers of the client served least and of the one served most";
}

// A tool polling beside many clients whose requests wait their turn: the pass that answers the
// tool serves only a few of theirs, so its wait does not grow with their number. Counted in
// replies, pass by pass, not in time.
TEST_F(TcpTransport, PollingToolWaitsForAFewWaitingClientsNotForAll)
{
    networkManage own; // driven pass by pass here
    ASSERT_EQ(own.server()->initialize(0), 0);
    constexpr size_t kWaiting = 8 * TcpServer::kTurnsPerPass;
    Bytes burst;
    for (uint8_t i = 0; i < 40; ++i) {
        const Bytes w = Wire::stuff(Wire::readRegister(4, i));
        burst.insert(burst.end(), w.begin(), w.end());
    }
    std::vector<std::unique_ptr<FrameClient>> clients;
    for (size_t i = 0; i <= kWaiting; ++i) // the last one is the tool
        clients.push_back(std::make_unique<FrameClient>(own.server()->port()));
    FrameClient& tool = *clients.back();
    for (int pass = 0; pass < 100 && own.server()->clientCount() < clients.size(); ++pass)
        own.runOnce(10);
    ASSERT_EQ(own.server()->clientCount(), clients.size());
    // Replies that reached each client since it was last looked at, taken without waiting.
    std::vector<Wire::Unstuffer> in(clients.size());
    auto arrived = [&](size_t i) {
        uint8_t raw[4096];
        for (ssize_t n; (n = recv(clients[i]->fd(), raw, sizeof raw, MSG_DONTWAIT)) > 0;)
            in[i].push(raw, size_t(n));
        size_t count = 0;
        for (Bytes reply; in[i].next(&reply);)
            ++count;
        return count;
    };
    size_t first = 0;
    for (size_t i = 0; i < kWaiting; ++i)
        ASSERT_TRUE(clients[i]->sendRaw(burst));
    for (int pass = 0; pass < 100 && first < kWaiting; ++pass) {
        own.runOnce(0); // each is read and answered once; the rest of its burst waits
        for (size_t i = 0; i < kWaiting; ++i)
            first += arrived(i);
    }
    ASSERT_GE(first, kWaiting);

    size_t worst = 0, served = 0;
    for (uint8_t poll = 0; poll < 20; ++poll) {
        ASSERT_TRUE(tool.sendFrame(Wire::readRegister(4, poll)));
        size_t others = 0, answers = 0;
        for (int pass = 0; pass < 100 && answers == 0; ++pass) {
            own.runOnce(0);
            answers = arrived(kWaiting);
            for (size_t i = 0; i < kWaiting; ++i)
                others += arrived(i);
        }
        ASSERT_EQ(answers, 1u) << "poll " << int(poll);
        worst = std::max(worst, others);
        served += others;
    }
    EXPECT_LE(worst, 2 * TcpServer::kTurnsPerPass) << "waiting clients' replies before a poll's answer, of " << kWaiting;
    EXPECT_GE(served, 20u) << "the waiting clients are still served meanwhile";
}

TEST_F(TcpTransport, VanishedAndBrokenClientsAreClosedAndRemoved)
{
    auto stays = client();
    {
        auto leaves = client();
        auto crashes = client();
        const Bytes w = Wire::stuff(Wire::readRegister(4, 1));
        ASSERT_TRUE(leaves->sendRaw(Bytes(w.begin(), w.begin() + 5)));
        ASSERT_TRUE(crashes->sendRaw(Bytes(w.begin(), w.begin() + 5)));
        ASSERT_TRUE(waitFor([&] { return net->server()->clientCount() == 3; }, 2000));
        crashes->reset();
    }
    EXPECT_TRUE(waitFor([&] { return net->server()->clientCount() == 1; }, 2000));
    EXPECT_EQ(stays->request(Wire::readRegister(4, 0x5C)), echoReply(0x5C));
    // A socket in error is dropped at once, not logged again and again.
    std::this_thread::sleep_for(TimeLimit::of(100));
    EXPECT_LE(TestRoot::readFile("/data/keltoqz/log/jtcEnglneLog").count("recv error"), 1);
}

TEST_F(TcpTransport, ServesDescriptorsAboveTheSelectLimit)
{
    std::vector<int> held;
    const int devnull = open("/dev/null", O_RDONLY | O_CLOEXEC);
    ASSERT_GE(devnull, 0);
    for (int fd = dup(devnull); fd >= 0 && fd < 1100; fd = dup(devnull))
        held.push_back(fd);
    ASSERT_GE(held.size(), 1000u) << "descriptor limit too low for this test";
    auto c = client(); // its peer socket in the server lands above 1024
    ASSERT_GT(c->fd(), 1024);
    EXPECT_EQ(c->request(Wire::readRegister(4, 0x77)), echoReply(0x77));
    for (int fd : held)
        close(fd);
    close(devnull);
}

// Out of descriptors, a connection cannot be accepted: the listener is left alone for a moment
// instead of waking the thread again and again, and the tool is taken in once there is room.
TEST_F(TcpTransport, OutOfDescriptorsPausesAcceptingAndTakesTheToolInLater)
{
    const int tool = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    ASSERT_GE(tool, 0);
    rlimit limit{};
    ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &limit), 0);
    const rlimit kept = limit;
    limit.rlim_cur = std::min<rlim_t>(limit.rlim_cur, 2048);
    ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &limit), 0);
    std::vector<int> filler;
    for (int fd; (fd = fcntl(tool, F_DUPFD_CLOEXEC, 0)) >= 0;)
        filler.push_back(fd);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    to.sin_port = htons(uint16_t(port));
    const bool connected = connect(tool, reinterpret_cast<sockaddr*>(&to), sizeof to) == 0;
    const Bytes request = Wire::stuff(Wire::readRegister(4, 0x61));
    const bool sent = connected && send(tool, request.data(), request.size(), MSG_NOSIGNAL) == ssize_t(request.size());
    const long before = threadTicks("networkManage");
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    const long used = threadTicks("networkManage") - before;
    for (int fd : filler)
        close(fd);
    setrlimit(RLIMIT_NOFILE, &kept);
    ASSERT_TRUE(sent);
    EXPECT_LE(used, 10) << "CPU ticks (10 ms) of the transport in 0.5 s without a descriptor to accept into";
    Wire::Unstuffer in;
    Bytes reply;
    for (uint8_t raw[256]; !in.next(&reply);) {
        pollfd p = {tool, POLLIN, 0};
        ASSERT_EQ(poll(&p, 1, TimeLimit::ms(2000)), 1) << "the tool is taken in once descriptors are free";
        const ssize_t n = recv(tool, raw, sizeof raw, 0);
        ASSERT_GT(n, 0);
        in.push(raw, size_t(n));
    }
    EXPECT_EQ(reply, echoReply(0x61));
    close(tool);
}

TEST_F(TcpTransport, CardFrameIsAnsweredWhenTheCardAnswers)
{
    auto c = client();
    const Bytes toCard = Wire::request(0x61, {0, 0, 0, 0, 1, 0, 0, 0}, 0x0001, 0xF010);
    ASSERT_TRUE(c->sendFrame(toCard));
    ASSERT_TRUE(waitFor([&] { return net->passState() == 1; }, 2000));
    EXPECT_TRUE(c->receiveRaw(1, 100).empty()) << "nothing before the card has answered";

    cardAnswers(kCardAnswer);
    EXPECT_EQ(c->receiveRaw(Wire::stuff(kCardAnswer).size()), Wire::stuff(kCardAnswer)) << "sent unchanged";
    EXPECT_TRUE(waitFor([&] { return net->passState() == 0; }, 1000));
}

// Another client is served while a card's answer is awaited, and the transport's tick gives a
// silent card up.
TEST_F(TcpTransport, WaitForACardOutlastsOtherClientsAndEndsByItsTimeOut)
{
    auto tool = client();
    auto other = client();
    const Bytes toCard = Wire::request(0x61, {0, 0, 0, 0, 1, 0, 0, 0}, 0x0001, 0xF010);
    ASSERT_TRUE(tool->sendFrame(toCard));
    ASSERT_TRUE(waitFor([&] { return net->passState() == 1; }, 2000));
    EXPECT_EQ(other->request(Wire::readRegister(4, 0x42)), echoReply(0x42)) << "a new frame is served meanwhile";
    ASSERT_TRUE(waitFor([&] { return net->passState() == 1; }, 2000));
    G_timeTicks += CardLink::kWaitTicks + 1;
    EXPECT_TRUE(waitFor([&] { return net->passState() == 0; }, 2000)) << "a silent card is given up";
    cardAnswers(kCardAnswer); // too late: nobody waits any more
    EXPECT_TRUE(tool->receiveRaw(1, 200).empty());
    EXPECT_EQ(tool->request(Wire::readRegister(4, 0x43)), echoReply(0x43));
}

// A program whose check start never ends holds only the tool that wrote register 14: another
// tool's read and its own are answered meanwhile, and it gets its refusal once the check's limit
// ends it.
TEST_F(TcpTransport, HangingCheckStartHoldsOnlyTheToolThatAskedForIt)
{
    ASSERT_TRUE(TestRoot::writeFile("/data/app/vyrR58N", "running"));
    const Bytes app = sampleProgram();
    auto tool = client(), other = client();
    for (const Bytes& step : Wire::upload("FMCU", app))
        ASSERT_EQ(tool->request(step).at(10), 0);
    setenv("VYR_SAMPLE_CHECK_HANGS", "1", 1);
    program_check::setTimeLimitMs(TimeLimit::ms(3000));
    ASSERT_TRUE(tool->sendFrame(Wire::request(0xA0, {14, 0x01, 0, 0x01})));
    EXPECT_TRUE(waitFor(checkStartRunning, 2000));
    const Bytes read = other->request(Wire::readRam(0, 16), 500);
    EXPECT_EQ(tool->request(Wire::readRegister(4, 0x45), 500), echoReply(0x45)) << "and the tool's own next request";
    Bytes refusal;
    const bool answered = tool->receive(&refusal, 6000);
    unsetenv("VYR_SAMPLE_CHECK_HANGS"); // only now: a child seen started may not have read it yet
    ASSERT_EQ(read.size(), 28u) << "another tool's read is answered while the check start hangs";
    EXPECT_EQ(read[10], 0);
    ASSERT_TRUE(answered);
    EXPECT_EQ(refusal, Wire::sealed({0x10, 0xF0, 0x00, 0xF1, 0, 0, 0, 0, 0, 0xA0, 1})) << "the refusal, to its tool";
    EXPECT_EQ(TestRoot::readFile("/data/app/vyrR58N"), QByteArray("running"));
}

TEST_F(TcpTransport, CardAnswerForAVanishedClientGoesNowhere)
{
    auto tool = client();
    ASSERT_TRUE(tool->sendFrame(Wire::request(0x61, {0, 0, 0, 0, 1, 0, 0, 0}, 0x0003, 0xF010)));
    ASSERT_TRUE(waitFor([&] { return net->passState() == 1; }, 2000));
    tool.reset();
    ASSERT_TRUE(waitFor([&] { return net->server()->clientCount() == 0; }, 2000));
    // The client is dropped and its wait given up in one pass; observed from here one after the other.
    EXPECT_TRUE(waitFor([&] { return net->passState() == 0; }, 2000)) << "the wait ends with its client";
    auto next = client(); // may reuse the descriptor
    cardAnswers(kCardAnswer);
    EXPECT_TRUE(next->receiveRaw(1, 200).empty());
    EXPECT_EQ(next->request(Wire::readRegister(4, 0x44)), echoReply(0x44));
}

TEST_F(TcpTransport, IdleThreadSleepsAndWakesAtOnce)
{
    auto c = client();
    ASSERT_EQ(c->request(Wire::readRegister(4, 1)), echoReply(1));
    const long before = threadTicks("networkManage");
    ASSERT_GE(before, 0);
    std::this_thread::sleep_for(std::chrono::seconds(1));
    EXPECT_LE(threadTicks("networkManage") - before, TimeLimit::ms(20) / 10) << "CPU ticks (10 ms) used in 1 s of idling";

    std::vector<long> micros;
    for (int i = 0; i < 100; ++i) {
        const auto t0 = std::chrono::steady_clock::now();
        ASSERT_EQ(c->request(Wire::readRegister(4, uint8_t(i))), echoReply(uint8_t(i)));
        micros.push_back(long(std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - t0).count()));
    }
    std::nth_element(micros.begin(), micros.begin() + 50, micros.end());
    EXPECT_LT(micros[50], TimeLimit::ms(5) * 1000) << "median round trip in microseconds";
}

TEST_F(TcpTransport, ListensOnLoopbackOnlyOnTheSimulatedBoard)
{
    // 127.0.0.2 is this machine as well: a server on every interface answers there, so a port
    // that does not is bound to 127.0.0.1 alone and no LAN can reach it.
    const int any = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_ANY);
    socklen_t len = sizeof addr;
    ASSERT_EQ(bind(any, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    ASSERT_EQ(listen(any, 1), 0);
    ASSERT_EQ(getsockname(any, reinterpret_cast<sockaddr*>(&addr), &len), 0);
    const int probe = connectTo(0x7F000002, ntohs(addr.sin_port));
    ASSERT_GE(probe, 0) << "this host does not route 127.0.0.2 to itself; the test cannot tell";
    close(probe);
    close(any);

    EXPECT_EQ(connectTo(0x7F000002, port), -1) << "the control port answers beyond 127.0.0.1";
    const int fd = connectTo(0x7F000001, port);
    EXPECT_GE(fd, 0);
    if (fd >= 0)
        close(fd);
    EXPECT_EQ(platform::Net::listenAddress(), 0x7F000001u);
}

// Tools that connect and say nothing must not lock the others out: with the table full, a new
// tool takes the place of the client idle longest and gets its answer at once, and a client that
// has sent frames outlasts every silent one, however long ago it connected.
TEST_F(TcpTransport, FullTableMakesRoomForANewToolByClosingTheClientIdleLongest)
{
    auto active = client(); // the oldest connection
    ASSERT_EQ(active->request(Wire::readRegister(4, 1)), echoReply(1));
    std::vector<std::unique_ptr<FrameClient>> silent;
    for (size_t i = 1; i < TcpServer::kMaxClients; ++i) {
        silent.push_back(client());
        ASSERT_TRUE(waitFor([&] { return net->server()->clientCount() == i + 1; }, 2000)) << i; // accepted in order
    }
    std::vector<std::unique_ptr<FrameClient>> tools;
    for (uint8_t n = 0; n < 3; ++n) {
        SCOPED_TRACE(int(n));
        tools.push_back(client());
        const auto t0 = std::chrono::steady_clock::now();
        EXPECT_EQ(tools.back()->request(Wire::readRegister(4, uint8_t(0x60 + n)), 1000), echoReply(uint8_t(0x60 + n)));
        EXPECT_LT(std::chrono::steady_clock::now() - t0, TimeLimit::of(1000));
        EXPECT_TRUE(silent[n]->peerClosed(1000)) << "the silent client connected longest ago";
        EXPECT_EQ(net->server()->clientCount(), TcpServer::kMaxClients);
    }
    EXPECT_FALSE(silent[3]->peerClosed(0));
    EXPECT_EQ(active->request(Wire::readRegister(4, 2)), echoReply(2)) << "the active client was never closed";
    for (auto& t : tools)
        EXPECT_FALSE(t->peerClosed(0));
}

// One host cannot push the others out of a full table: the places are taken from the address
// holding the most connections, whether its connections send frames or stay silent.
TEST_F(TcpTransport, FullTableTakesThePlaceFromTheAddressHoldingMost)
{
    constexpr uint32_t kFlooder = 0x7F000002, kLateTool = 0x7F000003;
    auto tool = client();
    std::deque<std::unique_ptr<FrameClient>> flood;
    auto connectFromFlooder = [&](bool sendsFrames) {
        flood.push_back(std::make_unique<FrameClient>(port, 0, kFlooder));
        ASSERT_TRUE(flood.back()->connected());
        if (sendsFrames) {
            ASSERT_EQ(flood.back()->request(Wire::readRegister(4, 9)), echoReply(9));
        }
        if (flood.size() > TcpServer::kMaxClients + 8)
            flood.pop_front(); // closed by the program long ago
    };
    // Between two polls of the tool more connections than the table holds, each sending a frame.
    for (uint8_t poll = 0; poll < 8; ++poll) {
        for (size_t i = 0; i < TcpServer::kMaxClients + 4; ++i)
            connectFromFlooder(true);
        EXPECT_EQ(tool->request(Wire::readRegister(4, poll), 1000), echoReply(poll)) << "poll " << int(poll);
    }
    // A tool that connects and says nothing yet while silent connections pour in.
    FrameClient late(port, 0, kLateTool);
    ASSERT_TRUE(waitFor([&] { return !late.peerClosed(0) && net->server()->clientCount() == TcpServer::kMaxClients; }, 2000));
    for (size_t i = 0; i < TcpServer::kMaxClients + 4; ++i)
        connectFromFlooder(false);
    EXPECT_EQ(late.request(Wire::readRegister(4, 0x51), 1000), echoReply(0x51)) << "its first frame";
    EXPECT_EQ(tool->request(Wire::readRegister(4, 0x52), 1000), echoReply(0x52));
}

// Many hosts with one connection each, all framing more often than a tool polls, and a new
// connection every round: the tool, though the youngest, keeps its place and each newcomer is
// turned away. A client without a frame for a minute gives its place up.
TEST_F(TcpTransport, FullTableOfHostsInUseKeepsAPollingToolAheadOfNewcomers)
{
    std::vector<std::unique_ptr<FrameClient>> hosts;
    for (uint32_t i = 1; i < TcpServer::kMaxClients; ++i) {
        hosts.push_back(std::make_unique<FrameClient>(port, 0, 0x7F000100 + i));
        ASSERT_EQ(hosts.back()->request(Wire::readRegister(4, 1)), echoReply(1)) << i;
    }
    auto tool = client();
    uint32_t newcomer = 0x7F000200;
    auto round = [&] {
        for (auto& h : hosts)
            ASSERT_EQ(h->request(Wire::readRegister(4, 2)), echoReply(2));
        FrameClient late(port, 0, ++newcomer);
        ASSERT_TRUE(late.connected());
        EXPECT_TRUE(late.peerClosed(2000)) << "a newcomer into a table in use";
    };
    int answered = 0;
    for (uint8_t poll = 0; poll < 12; ++poll) {
        answered += tool->request(Wire::readRegister(4, poll), 1000) == echoReply(poll);
        for (int r = 0; r < 2; ++r)
            round();
    }
    EXPECT_EQ(answered, 12) << "polls of the tool answered";
    G_timeTicks += TcpServer::kInUseTicks - 1;
    round();
    EXPECT_FALSE(tool->peerClosed(0)) << "a frame one tick short of a minute ago";
    G_timeTicks += 1;
    for (auto& h : hosts)
        ASSERT_EQ(h->request(Wire::readRegister(4, 2)), echoReply(2));
    FrameClient late(port, 0, ++newcomer);
    EXPECT_EQ(late.request(Wire::readRegister(4, 4), 1000), echoReply(4));
    EXPECT_TRUE(tool->peerClosed(1000)) << "no frame for a minute";
}

// Tools that send requests and never read the replies are no longer read once a reply waits:
// each holds about one reply, the program does not grow, and a tool that reads is answered.
TEST_F(TcpTransport, ClientsThatNeverReadHoldOneReplyEach)
{
    constexpr size_t kReaders = 24;
    const Bytes requests = largeReads(100);
    const long before = residentKb();
    const auto silent = neverReading(kReaders, requests);
    ASSERT_TRUE(waitFor([&] { return net->server()->stalledCount() == kReaders; }, 10000));
    auto tool = client();
    EXPECT_EQ(tool->request(Wire::readRegister(4, 0x33), 1000), echoReply(0x33));
    const size_t oneReply = protocol_phy::encoded_max(65000 + 12), requestBytes = requests.size();
    EXPECT_LE(net->server()->heldBytes(), kReaders * (oneReply + requestBytes));
    EXPECT_LT(residentKb() - before, 32 * 1024) << "kB taken by " << kReaders << " clients";
    EXPECT_EQ(net->server()->clientCount(), kReaders + 1) << "nobody was closed";
    // Served nothing for 5 minutes, they are closed with what they held.
    G_timeTicks += TcpServer::kIdleTicks;
    TickAlarm::advanced(G_timeTicks.load());
    EXPECT_TRUE(waitFor([&] { return net->server()->clientCount() == 0; }, 2000));
    EXPECT_EQ(net->server()->heldBytes(), 0u);
}

// A client that sends no frame for 5 minutes (30000 ticks) is closed; a frame restarts its count,
// also for a client that connected before the silent one.
TEST_F(TcpTransport, ClientWithoutAFrameForFiveMinutesIsClosed)
{
    auto advance = [](uint32_t ticks) {
        G_timeTicks += ticks;
        TickAlarm::advanced(G_timeTicks.load());
    };
    const struct {
        uint32_t start;
        bool talkingFirst;
    } rows[] = {{1000u, false}, {0u - TcpServer::kIdleTicks / 2, false}, {1000u, true}}; // the second across the wrap
    for (const auto& row : rows) {
        SCOPED_TRACE(testing::Message() << row.start << (row.talkingFirst ? ", talking first" : ""));
        ASSERT_TRUE(waitFor([&] { return net->server()->clientCount() == 0; }, 2000)); // the last row's gone
        G_timeTicks = row.start;
        std::unique_ptr<FrameClient> first = client();
        ASSERT_TRUE(waitFor([&] { return net->server()->clientCount() == 1; }, 2000)); // accepted in order
        std::unique_ptr<FrameClient> second = client();
        auto& silent = row.talkingFirst ? second : first;
        auto& talking = row.talkingFirst ? first : second;
        ASSERT_TRUE(waitFor([&] { return net->server()->clientCount() == 2; }, 2000));
        advance(TcpServer::kIdleTicks - 1);
        EXPECT_EQ(talking->request(Wire::readRegister(4, 1)), echoReply(1));
        EXPECT_FALSE(silent->peerClosed(200)) << "one tick short of 5 minutes";
        advance(1);
        EXPECT_TRUE(silent->peerClosed(2000)) << "5 minutes without a frame";
        advance(TcpServer::kIdleTicks - 2);
        EXPECT_FALSE(talking->peerClosed(200)) << "its last frame came a tick after the other's accept";
        advance(1);
        EXPECT_TRUE(talking->peerClosed(2000));
        EXPECT_TRUE(waitFor([&] { return net->server()->clientCount() == 0; }, 2000));
        auto next = client();
        EXPECT_EQ(next->request(Wire::readRegister(4, 3)), echoReply(3));
    }
}

// Without a panel whose tick rings the alarm, the thread still wakes by the time the ticks to
// come would take, and closes the client that fell idle meanwhile.
TEST_F(TcpTransport, SilentClientIsClosedWithoutTheTickRingingTheAlarm)
{
    auto silent = client();
    auto talking = client();
    ASSERT_TRUE(waitFor([&] { return net->server()->clientCount() == 2; }, 2000));
    G_timeTicks += TcpServer::kIdleTicks - 1;
    EXPECT_EQ(talking->request(Wire::readRegister(4, 1)), echoReply(1)); // a pass one tick before
    G_timeTicks += 1; // the tick is counted, but nothing rings the alarm
    EXPECT_TRUE(silent->peerClosed(2000)) << "within a tick's time and the slack";
    EXPECT_FALSE(talking->peerClosed(0));
}

// A burst short of the 5 minutes comes while the thread arms its alarm after a pass (the thread
// is held there): the next tick still closes the silent client at once, not the wait's 5-minute
// time limit.
TEST_F(TcpTransport, BurstWhileTheIdleAlarmIsArmedKeepsItsTick)
{
    auto silent = client();
    auto talking = client();
    ASSERT_TRUE(waitFor([&] { return net->server()->clientCount() == 2; }, 2000));
    // Any pass from here arms for the silent client: the one the request brings, or one still
    // running from the accept, which then serves the request only once released.
    RaceHold arming(RacePause::BeforeTickAlarm);
    ASSERT_TRUE(talking->sendRaw(Wire::stuff(Wire::readRegister(4, 1))));
    ASSERT_TRUE(arming.parked());
    G_timeTicks += TcpServer::kIdleTicks - 1;
    TickAlarm::advanced(G_timeTicks.load());
    arming.release();
    Bytes reply;
    ASSERT_TRUE(talking->receive(&reply));
    EXPECT_EQ(reply, echoReply(1));
    EXPECT_FALSE(silent->peerClosed(300)) << "one tick short of 5 minutes";
    G_timeTicks += 1;
    TickAlarm::advanced(G_timeTicks.load());
    EXPECT_TRUE(silent->peerClosed(2000));
}

// A PC that lost power never closes its connection: the program probes silent connections and
// gives a dead one up within two minutes.
TEST_F(TcpTransport, AcceptedConnectionsAreProbedWhenSilent)
{
    auto c = client();
    ASSERT_EQ(c->request(Wire::readRegister(4, 1)), echoReply(1));
    const int fd = serverSideOf(c->fd());
    ASSERT_GE(fd, 0);
    int on = 0, idle = 0, interval = 0, probes = 0;
    socklen_t n = sizeof on;
    ASSERT_EQ(getsockopt(fd, SOL_SOCKET, SO_KEEPALIVE, &on, &n), 0);
    EXPECT_EQ(on, 1);
    ASSERT_EQ(getsockopt(fd, IPPROTO_TCP, TCP_KEEPIDLE, &idle, &n), 0);
    ASSERT_EQ(getsockopt(fd, IPPROTO_TCP, TCP_KEEPINTVL, &interval, &n), 0);
    ASSERT_EQ(getsockopt(fd, IPPROTO_TCP, TCP_KEEPCNT, &probes, &n), 0);
    EXPECT_LE(idle + interval * probes, 120) << "seconds until a dead peer is given up";
}

// An upload belongs to its connection: another tool's start is refused and A's file is stored
// under A's name; a connection that takes over a vanished one's descriptor inherits nothing.
TEST_F(TcpTransport, UploadBelongsToTheConnectionThatStartedIt)
{
    const Bytes alias = {'{', '"', 'a', '"', ':', '1', '}', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', '\n'};
    const Bytes menu(16, 'm');
    auto a = client();
    auto b = client();
    Bytes reply = a->request(uploadStart("ALIS", 16));
    ASSERT_EQ(reply.size(), 14u);
    EXPECT_EQ(Bytes(reply.begin() + 10, reply.begin() + 13), Bytes({0, 1, 0}));
    reply = b->request(uploadStart("OSDS", 16));
    ASSERT_EQ(reply.size(), 14u);
    EXPECT_EQ(Bytes(reply.begin() + 10, reply.begin() + 13), Bytes({1, 1, 2})) << "another tool's start";
    reply = b->request(uploadBlock(menu));
    ASSERT_EQ(reply.size(), 13u);
    EXPECT_EQ(reply[10], 1);
    reply = a->request(uploadBlock(alias));
    ASSERT_EQ(reply.size(), 13u);
    EXPECT_EQ(reply[10], 0);
    reply = a->request(uploadEnd(alias));
    ASSERT_EQ(reply.size(), 14u);
    EXPECT_EQ(Bytes(reply.begin() + 10, reply.begin() + 13), Bytes({0, 3, 0}));
    EXPECT_EQ(TestRoot::readFile("/data/configs/alias.json"), QByteArray(reinterpret_cast<const char*>(alias.data()), 16));
    EXPECT_FALSE(TestRoot::exists("/data/configs/omenu.json"));

    reply = a->request(uploadStart("OSDS", 16));
    ASSERT_EQ(reply[10], 0);
    ASSERT_EQ(a->request(uploadBlock(menu))[10], 0);
    const int descriptor = serverSideOf(a->fd());
    a->reset();
    ASSERT_TRUE(waitFor([&] { return net->server()->clientCount() == 1; }, 2000));
    auto c = client();
    ASSERT_EQ(c->request(Wire::readRegister(4, 1)), echoReply(1));
    EXPECT_EQ(serverSideOf(c->fd()), descriptor) << "the newcomer is served on the vanished tool's descriptor";
    reply = c->request(uploadEnd(menu));
    ASSERT_EQ(reply.size(), 14u);
    EXPECT_EQ(reply[12], 1) << "the vanished tool's upload is not the newcomer's";
    EXPECT_FALSE(TestRoot::exists("/data/configs/omenu.json"));
}

// A cloud certificate upload is its host's: the tool goes on from a new connection, another host
// is told why it may not.
TEST_F(TcpTransport, CertificateUploadGoesOnFromItsHostsNewConnection)
{
    auto say = [](FrameClient& c, uint8_t sub, const std::string& text) {
        const Bytes reply = c.request(Wire::request(0xC4, Wire::join({{sub}, Bytes(text.begin(), text.end())})));
        return reply.size() > 14 ? std::string(reply.begin() + 12, reply.end() - 2) : std::string(); // text, 0, check
    };
    {
        FrameClient first(port, 0, 0x7F000002); // closed before the tool goes on
        EXPECT_EQ(say(first, 3, "sendfile filelen:2 \n"), "sendFile 200 fileID:101\r\n");
    }
    FrameClient again(port, 0, 0x7F000002), other(port, 0, 0x7F000003);
    EXPECT_EQ(say(other, 4, "sendfiledata fileid:101 offset:0 extlength:2 \nBB"),
              "sendFileData 320 extLength:34\r\nAnother host's upload in progress.");
    EXPECT_EQ(say(again, 4, "sendfiledata fileid:101 offset:0 extlength:2 \nOK"), "sendFileData 200 fileID:101\r\n");
    EXPECT_EQ(say(again, 5, "sendfileend fileid:101 filelen:2 \n"), "sendFileEnd 200 fileID:101\r\n");
    EXPECT_EQ(TestRoot::readFile("/data/configs/cloud_cafile"), QByteArray("OK"));
}

// Tools that never read hold little in the kernel too: each connection's send queue on the
// program's side stays within its capped send buffer, and while they pile up, a tool polling
// every 0.1 s on another connection is answered within a second each time.
TEST_F(TcpTransport, StalledClientsQueueLittleInTheKernelAndAToolIsAnsweredThroughout)
{
    constexpr size_t kStalled = TcpServer::kMaxClients - 1;
    const Bytes requests = largeReads(100);
    // A tool on its own connection asks every 0.1 s; the slowest answer counts.
    struct Poller {
        std::unique_ptr<FrameClient> tool;
        std::atomic<bool> stop{false};
        std::atomic<long> slowestMs{0}, polls{0};
        std::thread thread;
        ~Poller()
        {
            stop = true;
            if (thread.joinable())
                thread.join();
        }
    } p;
    p.tool = client();
    p.thread = std::thread([&p] {
        for (uint8_t i = 0; !p.stop; ++i) {
            const auto t0 = std::chrono::steady_clock::now();
            const bool answered = p.tool->request(Wire::readRegister(4, i), 5000) == echoReply(i);
            const auto took = std::chrono::steady_clock::now() - t0;
            p.slowestMs = std::max(p.slowestMs.load(), answered ? long(took / std::chrono::milliseconds(1)) : 99999L);
            ++p.polls;
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
    });
    const auto silent = neverReading(kStalled, requests);
    const bool stalled = waitFor([&] { return net->server()->stalledCount() == kStalled; }, 10000);
    // Stalled clients that go on sending for seconds cost neither memory nor the thread's time.
    const long memoryBefore = residentKb(), ticksBefore = threadTicks("networkManage");
    const auto sendingUntil = std::chrono::steady_clock::now() + std::chrono::seconds(2);
    while (std::chrono::steady_clock::now() < sendingUntil) {
        for (size_t i = 0; i < 4; ++i)
            send(silent[i]->fd(), requests.data(), requests.size(), MSG_DONTWAIT | MSG_NOSIGNAL);
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    EXPECT_LT(residentKb() - memoryBefore, 16 * 1024) << "kB taken while they kept sending";
    EXPECT_LE(threadTicks("networkManage") - ticksBefore, TimeLimit::ms(500) / 10) << "CPU ticks (10 ms) of the transport in 2 s";
    const long pollsBefore = p.polls.load();
    EXPECT_TRUE(waitFor([&] { return p.polls.load() >= pollsBefore + 3; }, 10000));
    EXPECT_TRUE(stalled);
    EXPECT_LE(p.slowestMs.load(), TimeLimit::ms(1000)) << "slowest answer to the polling tool, ms";

    // The kernel's queue of every stalled connection, on the program's side.
    const std::map<SocketName, int> sides = serverSides();
    int worst = 0;
    for (const auto& c : silent) {
        const auto side = sides.find(nameOf(c->fd(), false));
        ASSERT_NE(side, sides.end());
        int queued = 0;
        ASSERT_EQ(ioctl(side->second, SIOCOUTQ, &queued), 0);
        worst = std::max(worst, queued);
    }
    // The kernel reserves twice the buffer asked for, and may pass that by one segment.
    EXPECT_LE(worst, 2 * TcpServer::kSendBuffer + 65536) << "bytes queued in the kernel for one stalled client";
}
