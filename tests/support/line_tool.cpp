#include "line_tool.h"
#include "time_limit.h"

#include "platform/sim/pty_serial.h"

#include <chrono>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

LineTool::LineTool(int index)
{
    m_fd = open(platform::Sim::serialSim().peerPath(index).c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
}

LineTool::~LineTool()
{
    if (m_fd >= 0)
        close(m_fd);
}

bool LineTool::send(const Bytes& bytes) const
{
    return write(m_fd, bytes.data(), bytes.size()) == ssize_t(bytes.size());
}

Bytes LineTool::reply(int timeoutMs)
{
    Bytes body;
    const auto end = std::chrono::steady_clock::now() + TimeLimit::of(timeoutMs);
    while (!m_in.next(&body)) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now()).count();
        pollfd p = {m_fd, POLLIN, 0};
        if (left <= 0 || poll(&p, 1, int(left)) <= 0)
            return {};
        uint8_t chunk[4096];
        const ssize_t n = read(m_fd, chunk, sizeof chunk);
        if (n > 0)
            m_in.push(chunk, size_t(n));
    }
    return body;
}
