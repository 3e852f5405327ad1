#pragma once
// A tool's side of the loopback sockets through which targets reach the program's ports.
#include "fuzz_board.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>

namespace FuzzNet {

// A UDP socket, non-blocking, bound to the wildcard address: it also takes the replies broadcast
// to its port.
inline int udpTool()
{
    const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    sockaddr_in any{};
    any.sin_family = AF_INET;
    if (fd < 0 || bind(fd, reinterpret_cast<sockaddr*>(&any), sizeof any) != 0)
        FuzzBoard::fail("cannot open the tool's UDP socket");
    return fd;
}

// The program's port on 127.0.0.1.
inline sockaddr_in loopback(int port)
{
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    to.sin_port = htons(uint16_t(port));
    return to;
}

inline bool readable(int fd, int timeoutMs)
{
    pollfd p = {fd, POLLIN, 0};
    return poll(&p, 1, timeoutMs) > 0;
}

}
