// Round trip over TCP on loopback, measured by one client the same way for every server,
// interleaved: a 250-byte read of the parameter block from the real program on the simulated
// board; a read of 125 holding registers (250 bytes) from a minimal libmodbus server, the
// yardstick; and the floor: a server that answers each request at once with the program's own
// reply, through the same calls (poll, recv, send). Prints the medians and the program's ratio
// to each; then the program's CPU time while idle. Given another build's program (an earlier
// one, say), it is measured beside them in the same way, on its own root and ports.
//   tcp_roundtrip_bench [round trips, default 5000] [idle seconds, default 10] [other program]
#include "frame_client.h"
#include "program.h"

#include <algorithm>
#include <arpa/inet.h>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <functional>
#include <memory>
#include <fstream>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sstream>
#include <string>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

using Clock = std::chrono::steady_clock;

namespace {

constexpr uint16_t kReadBytes = 250;

// Nanoseconds the program's thread with this name has run (the first field of its schedstat:
// the stat file's ticks are too coarse for one request), -1 when there is none.
long long threadRunNs(pid_t pid, const std::string& name)
{
    const std::string tasks = "/proc/" + std::to_string(pid) + "/task";
    std::error_code error;
    for (const auto& task : std::filesystem::directory_iterator(tasks, error)) {
        std::string comm;
        std::getline(std::ifstream(task.path() / "comm"), comm);
        if (comm != name)
            continue;
        long long ns = -1;
        std::ifstream(task.path() / "schedstat") >> ns;
        return ns;
    }
    return -1;
}

// One blocking connection; both servers are driven through the same calls, so the client's own
// cost is the same on both sides.
class RawClient {
public:
    enum class Kind { Frame, Modbus };
    RawClient(int port, Kind kind, int connectTimeoutMs) : m_kind(kind)
    {
        const auto until = Clock::now() + std::chrono::milliseconds(connectTimeoutMs);
        do {
            m_fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
            sockaddr_in addr{};
            addr.sin_family = AF_INET;
            addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
            addr.sin_port = htons(uint16_t(port));
            if (connect(m_fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0)
                break;
            close(m_fd);
            m_fd = -1;
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        } while (Clock::now() < until);
        const int on = 1;
        if (m_fd >= 0)
            setsockopt(m_fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    }
    ~RawClient()
    {
        if (m_fd >= 0)
            close(m_fd);
    }
    bool connected() const { return m_fd >= 0; }

    // Sends the request and reads the whole answer; its wire length, 0 on failure.
    size_t roundTrip(const Bytes& request)
    {
        if (send(m_fd, request.data(), request.size(), MSG_NOSIGNAL) != ssize_t(request.size()))
            return 0;
        size_t got = 0;
        for (;;) {
            const ssize_t n = recv(m_fd, m_buf + got, sizeof m_buf - got, 0);
            if (n <= 0)
                return 0;
            got += size_t(n);
            if (complete(got))
                return got;
            if (got == sizeof m_buf)
                return 0;
        }
    }

private:
public:
    Bytes last(size_t length) const { return Bytes(m_buf, m_buf + length); }

private:
    bool complete(size_t got) const
    {
        if (m_kind == Kind::Frame) // a stuffed frame ends at its only 5A
            return m_buf[got - 1] == 0x5A;
        return got >= 6 && got >= 6u + (m_buf[4] << 8 | m_buf[5]); // MBAP length field
    }
    int m_fd = -1;
    Kind m_kind;
    uint8_t m_buf[4096];
};

// Read holding registers 0-124, unit 1; the transaction id counts up as a client's would.
Bytes modbusRead(uint16_t transaction)
{
    return {uint8_t(transaction >> 8), uint8_t(transaction), 0, 0, 0, 6, 1, 0x03, 0, 0, 0, kReadBytes / 2};
}

// The libmodbus yardstick as a child process; not built when libmodbus is missing.
class Peer {
public:
    explicit Peer(int port)
    {
#ifdef VYR_MODBUS_PEER
        std::string path = VYR_MODBUS_PEER, arg = std::to_string(port);
        char* argv[] = {path.data(), arg.data(), nullptr};
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
        if (posix_spawn(&m_pid, argv[0], &actions, nullptr, argv, environ) != 0)
            m_pid = -1;
        posix_spawn_file_actions_destroy(&actions);
#else
        (void)port;
#endif
    }
    ~Peer()
    {
        if (m_pid > 0) {
            kill(m_pid, SIGTERM);
            waitpid(m_pid, nullptr, 0);
        }
    }
    bool started() const { return m_pid > 0; }

private:
    pid_t m_pid = -1;
};

// The floor: a child process that answers every request at once with the given reply bytes.
class FloorPeer {
public:
    explicit FloorPeer(const Bytes& reply)
    {
        const int listener = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof addr;
        if (listener < 0 || bind(listener, reinterpret_cast<sockaddr*>(&addr), sizeof addr) < 0 ||
            listen(listener, 1) < 0 || getsockname(listener, reinterpret_cast<sockaddr*>(&addr), &length) < 0) {
            if (listener >= 0)
                close(listener);
            return;
        }
        m_port = ntohs(addr.sin_port);
        m_pid = fork();
        if (m_pid == 0)
            serve(listener, reply.data(), reply.size()); // does not return
        close(listener);
    }
    ~FloorPeer()
    {
        if (m_pid > 0) {
            kill(m_pid, SIGTERM);
            waitpid(m_pid, nullptr, 0);
        }
    }
    bool started() const { return m_pid > 0; }
    int port() const { return m_port; }

private:
    // A request ends at its only 5A; the reply goes out as soon as that byte is in.
    [[noreturn]] static void serve(int listener, const uint8_t* reply, size_t replyLength)
    {
        const int fd = accept(listener, nullptr, nullptr);
        const int on = 1;
        setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
        uint8_t buf[4096];
        for (;;) {
            pollfd p = {fd, POLLIN, 0};
            if (poll(&p, 1, -1) < 0)
                _exit(1);
            const ssize_t n = recv(fd, buf, sizeof buf, 0);
            if (n <= 0)
                _exit(0);
            if (buf[n - 1] == 0x5A && send(fd, reply, replyLength, MSG_NOSIGNAL) != ssize_t(replyLength))
                _exit(1);
        }
    }
    pid_t m_pid = -1;
    int m_port = -1;
};

struct Spread {
    double median, p10, p90;
};

Spread spread(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return {v[v.size() / 2], v[v.size() / 10], v[v.size() * 9 / 10]};
}

template <typename F>
double timed(F&& f, bool* ok)
{
    const auto start = Clock::now();
    *ok = f();
    return std::chrono::duration<double, std::micro>(Clock::now() - start).count();
}

}

int main(int argc, char** argv)
{
    const int rounds = argc > 1 ? atoi(argv[1]) : 5000;
    const int idleSeconds = argc > 2 ? atoi(argv[2]) : 10;
    const char* otherProgram = argc > 3 ? argv[3] : nullptr;
    char pattern[] = "/tmp/vyr-bench-XXXXXX", otherPattern[] = "/tmp/vyr-bench-XXXXXX";
    const char* root = mkdtemp(pattern);
    const char* otherRoot = otherProgram ? mkdtemp(otherPattern) : nullptr;
    const int port = freeTcpPort();
    const int peerPort = freeTcpPort();
    const int otherPort = freeTcpPort(), otherUdpPort = freeUdpPort();
    if (!root || port <= 0 || peerPort <= 0 || peerPort == port || rounds <= 0)
        return 1;
    if (otherProgram && (!otherRoot || otherPort <= 0 || otherPort == port || otherPort == peerPort || otherUdpPort <= 0))
        return 1;
    std::filesystem::create_directories(std::string(root) + "/data/configs");
    std::ofstream(std::string(root) + "/data/configs/tcpip.ini") << "[config]\nTcpPort=" << port << "\n";
    if (otherRoot) {
        std::filesystem::create_directories(std::string(otherRoot) + "/data/configs");
        std::filesystem::create_directories(std::string(otherRoot) + "/sim");
        std::ofstream(std::string(otherRoot) + "/data/configs/tcpip.ini") << "[config]\nTcpPort=" << otherPort << "\n";
        std::ofstream(std::string(otherRoot) + "/sim/board.json") << "{\"udp_port\": " << otherUdpPort << "}\n";
    }

    int result = 1;
    {
        std::unique_ptr<Program> other;
        if (otherRoot)
            other = std::make_unique<Program>(otherRoot, std::vector<std::string>{otherProgram},
                                              std::vector<std::string>{std::string("VYR_ROOT=") + otherRoot,
                                                                       "QT_QPA_PLATFORM=offscreen", "LC_ALL=C"});
        const auto spawned = Clock::now();
        Program program(root);
        Peer peer(peerPort);
        RawClient tool(port, RawClient::Kind::Frame, 20000);
        const Bytes request = Wire::stuff(Wire::readRam(0, kReadBytes));
        const size_t replyMin = 3 + 12 + kReadBytes + 1;
        auto ours = [&] { return tool.roundTrip(request) >= replyMin; };
        const bool answered = tool.connected() && ours();
        if (answered)
            printf("start: first answer %.3f s after the program was started (4 s of it are its two start pauses)\n",
                   std::chrono::duration<double>(Clock::now() - spawned).count());

        std::unique_ptr<RawClient> yardstick;
        if (peer.started())
            yardstick = std::make_unique<RawClient>(peerPort, RawClient::Kind::Modbus, 5000);
        else
            printf("libmodbus peer not built (libmodbus-dev missing): it is left out\n");
        uint16_t transaction = 0;
        auto theirs = [&] { return yardstick->roundTrip(modbusRead(++transaction)) == 9u + kReadBytes; };
        // The floor answers with the program's own reply, so both send the same bytes.
        const size_t replyLength = answered ? tool.roundTrip(request) : 0;
        FloorPeer floorPeer(tool.last(replyLength));
        std::unique_ptr<RawClient> floorClient;
        if (floorPeer.started())
            floorClient = std::make_unique<RawClient>(floorPeer.port(), RawClient::Kind::Frame, 5000);
        auto floor = [&] { return floorClient->roundTrip(request) == replyLength; };
        if (!answered || replyLength < replyMin) {
            fprintf(stderr, "no answer from the program: %s\n", program.report().c_str());
        } else if (yardstick && (!yardstick->connected() || !theirs())) {
            fprintf(stderr, "no answer from the libmodbus peer\n");
        } else if (!floorClient || !floorClient->connected() || !floor()) {
            fprintf(stderr, "no answer from the floor server\n");
        } else {
            // Each server's round trips, measured in turn; who goes first rotates, so none always
            // runs on a freshly woken core.
            struct Server {
                const char* name;
                const char* shortName;
                std::function<bool()> roundTrip;
                std::vector<double> us;
                pid_t program = -1; // its transport thread's run time is read too
                long long runNs = 0;
            };
            std::vector<Server> servers;
            servers.push_back({"program, read of 250 block bytes  ", "program", ours, {}, program.pid()});
            if (yardstick)
                servers.push_back({"libmodbus, read of 125 registers  ", "libmodbus", theirs, {}});
            servers.push_back({"floor, the program's reply at once", "floor", floor, {}});
            std::unique_ptr<RawClient> otherTool;
            if (other) {
                otherTool = std::make_unique<RawClient>(otherPort, RawClient::Kind::Frame, 20000);
                if (otherTool->connected() && otherTool->roundTrip(request) >= replyMin)
                    servers.push_back({"other program, the same read      ", "other",
                                       [&] { return otherTool->roundTrip(request) >= replyMin; }, {}, other->pid()});
                else
                    fprintf(stderr, "no answer from the other program: %s\n", other->report().c_str());
            }
            bool ok = true;
            for (int i = 0; i < 200 && ok; ++i) // warm up
                for (Server& s : servers)
                    ok = ok && s.roundTrip();
            for (Server& s : servers) {
                s.us.reserve(size_t(rounds));
                if (s.program > 0)
                    s.runNs = -threadRunNs(s.program, "networkManage");
            }
            for (int i = 0; i < rounds && ok; ++i)
                for (size_t k = 0; k < servers.size() && ok; ++k) {
                    Server& s = servers[(k + size_t(i)) % servers.size()];
                    s.us.push_back(timed(s.roundTrip, &ok));
                }
            for (Server& s : servers)
                if (s.program > 0)
                    s.runNs += threadRunNs(s.program, "networkManage");
            if (!ok) {
                fprintf(stderr, "a round trip failed after %zu rounds\n", servers[0].us.size());
            } else {
                printf("round trips: %d each, interleaved\n", rounds);
                std::vector<Spread> spreads;
                for (const Server& s : servers) {
                    spreads.push_back(spread(s.us));
                    printf("%s: median %.2f us (10%% %.2f, 90%% %.2f)\n", s.name, spreads.back().median,
                           spreads.back().p10, spreads.back().p90);
                }
                // The thread's own work for a request, user and kernel, without the waits.
                for (const Server& s : servers)
                    if (s.program > 0)
                        printf("%s: transport thread %.2f us of CPU a round trip\n", s.shortName,
                               double(s.runNs) / 1000.0 / double(rounds));
                for (size_t k = 1; k < servers.size(); ++k)
                    printf("ratio program / %s: medians %.3f, 10th percentiles %.3f\n", servers[k].shortName,
                           spreads[0].median / spreads[k].median, spreads[0].p10 / spreads[k].p10);
                result = 0;
                if (idleSeconds > 0) {
                    const long before = program.cpuTicks();
                    const long long transportBefore = threadRunNs(program.pid(), "networkManage");
                    std::this_thread::sleep_for(std::chrono::seconds(idleSeconds));
                    const long used = program.cpuTicks() - before;
                    const long long transportUsed = threadRunNs(program.pid(), "networkManage") - transportBefore;
                    const long hz = sysconf(_SC_CLK_TCK);
                    printf("idle %d s with the client connected: program CPU time %.0f ms (%.2f %% of one core)\n",
                           idleSeconds, 1000.0 * double(used) / double(hz),
                           100.0 * double(used) / double(hz) / double(idleSeconds));
                    printf("of which the TCP transport thread: %.1f ms\n", double(transportUsed) / 1e6);
                }
            }
        }
    }
    std::filesystem::remove_all(root);
    if (otherRoot)
        std::filesystem::remove_all(otherRoot);
    return result;
}
