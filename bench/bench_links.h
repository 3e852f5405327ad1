#pragma once
// A PC tool's end of the running program's TCP port, UDP port or serial line, for the benches
// that start the program on the simulated board: whole frames out, reply frames in.
#include "frame_client.h"

#include <arpa/inet.h>
#include <chrono>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <string>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

class Link {
public:
    virtual ~Link() { if (fd >= 0) close(fd); }
    virtual bool send(const Bytes& b) = 0;
    // The next reply frame, or false after timeoutMs.
    bool reply(Bytes* body, int timeoutMs = 2000)
    {
        using Clock = std::chrono::steady_clock;
        const auto end = Clock::now() + std::chrono::milliseconds(timeoutMs);
        while (!in.next(body)) {
            const int left = int(std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now()).count());
            pollfd p = {fd, POLLIN, 0};
            if (left <= 0 || poll(&p, 1, left) <= 0)
                return false;
            uint8_t buf[4096];
            const ssize_t n = read(fd, buf, sizeof buf);
            if (n > 0)
                in.push(buf, size_t(n));
        }
        return true;
    }
    int fd = -1;
    Wire::Unstuffer in;
};

class TcpLink : public Link {
public:
    explicit TcpLink(int port) : client(port, 20000) { fd = client.connected() ? dup(client.fd()) : -1; }
    bool send(const Bytes& b) override { return client.sendRaw(b); }
    FrameClient client;
};

// Bound to the wildcard address, so the program's broadcast replies reach it.
class UdpLink : public Link {
public:
    explicit UdpLink(int port)
    {
        fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        sockaddr_in any{};
        any.sin_family = AF_INET;
        bind(fd, reinterpret_cast<sockaddr*>(&any), sizeof any);
        to.sin_family = AF_INET;
        to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        to.sin_port = htons(uint16_t(port));
    }
    bool send(const Bytes& b) override
    {
        return sendto(fd, b.data(), b.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to) == ssize_t(b.size());
    }
    sockaddr_in to{};
};

// The serial line's pseudo-terminal, opened once the program has published it.
class LineLink : public Link {
public:
    explicit LineLink(const std::string& path)
    {
        for (int i = 0; i < 200 && fd < 0; ++i) {
            fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
            if (fd < 0)
                std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
    }
    bool send(const Bytes& b) override { return write(fd, b.data(), b.size()) == ssize_t(b.size()); }
};
