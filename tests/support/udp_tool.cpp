#include "udp_tool.h"

#include "time_limit.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

UdpTool::UdpTool()
{
    m_fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_in any{};
    any.sin_family = AF_INET;
    if (m_fd >= 0 && bind(m_fd, reinterpret_cast<sockaddr*>(&any), sizeof any) != 0) {
        close(m_fd);
        m_fd = -1;
    }
}

UdpTool::~UdpTool()
{
    if (m_fd >= 0)
        close(m_fd);
}

int UdpTool::port() const
{
    sockaddr_in a{};
    socklen_t n = sizeof a;
    getsockname(m_fd, reinterpret_cast<sockaddr*>(&a), &n);
    return ntohs(a.sin_port);
}

bool UdpTool::send(int port, const Bytes& bytes) const
{
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    to.sin_port = htons(uint16_t(port));
    return sendto(m_fd, bytes.data(), bytes.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to) == ssize_t(bytes.size());
}

Bytes UdpTool::receive(int timeoutMs, uint32_t* destination) const
{
    pollfd p = {m_fd, POLLIN, 0};
    if (poll(&p, 1, TimeLimit::ms(timeoutMs)) <= 0)
        return {};
    Bytes data(70000);
    char control[256];
    iovec iov = {data.data(), data.size()};
    msghdr msg{};
    msg.msg_iov = &iov;
    msg.msg_iovlen = 1;
    msg.msg_control = control;
    msg.msg_controllen = sizeof control;
    const ssize_t n = recvmsg(m_fd, &msg, 0);
    data.resize(n > 0 ? size_t(n) : 0);
    for (cmsghdr* c = CMSG_FIRSTHDR(&msg); destination && c; c = CMSG_NXTHDR(&msg, c))
        if (c->cmsg_level == IPPROTO_IP && c->cmsg_type == IP_PKTINFO)
            *destination = ntohl(reinterpret_cast<in_pktinfo*>(CMSG_DATA(c))->ipi_addr.s_addr);
    return data;
}

void UdpTool::wantDestinations() const
{
    const int on = 1;
    setsockopt(m_fd, IPPROTO_IP, IP_PKTINFO, &on, sizeof on);
}

Bytes UdpTool::reply(int timeoutMs) const
{
    Wire::Unstuffer in;
    const Bytes d = receive(timeoutMs);
    in.push(d.data(), d.size());
    Bytes body;
    in.next(&body);
    return body;
}
