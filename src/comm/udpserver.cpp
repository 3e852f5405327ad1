#include "comm/udpserver.h"

#include "base/global.h"
#include "base/logMsg.h"
#include "platform/net.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <sys/socket.h>
#include <unistd.h>

UdpServer::UdpServer()
{
    writeLogMsg(LOG_INFO, "\n=====UdpServer::UdpServer()=====\n");
}

UdpServer::~UdpServer()
{
    unInitialize();
}

int UdpServer::openSocket(int port)
{
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        const int error = errno; // the log writes no %m
        if (traceOn())
            printf("socket error:%s\n", strerror(error));
        writeLogMsg(LOG_ERROR, std::string("socket error:") + strerror(error));
        return -1;
    }
    const int on = 1;
    setsockopt(fd, SOL_SOCKET, SO_BROADCAST, &on, sizeof on);
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_addr.s_addr = htonl(platform::Net::listenAddress());
    local.sin_port = htons(uint16_t(port));
    if (bind(fd, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0) {
        const int error = errno;
        if (traceOn())
            printf("bind error:%s\n", strerror(error));
        writeLogMsg(LOG_ERROR, std::string("bind error:") + strerror(error));
        close(fd);
        return -1;
    }
    return fd;
}

int UdpServer::initialize(int port, int wifiPort)
{
    if (traceOn())
        puts("=========UDPServer::initialize()=========== ");
    unInitialize();
    m_socket = openSocket(port);
    if (m_socket < 0)
        return 255;
    if (traceOn())
        printf("UdpServer m_server_socket = %#x \n", unsigned(m_socket));
    m_socket_13769 = openSocket(wifiPort);
    return m_socket_13769 < 0 ? 255 : 0;
}

void UdpServer::unInitialize()
{
    if (m_socket >= 0)
        close(m_socket);
    if (m_socket_13769 >= 0)
        close(m_socket_13769);
    m_socket = m_socket_13769 = -1;
}

static int boundPort(int fd)
{
    sockaddr_in local{};
    socklen_t size = sizeof local;
    if (fd < 0 || getsockname(fd, reinterpret_cast<sockaddr*>(&local), &size) != 0)
        return 0;
    return ntohs(local.sin_port);
}

int UdpServer::port() const
{
    return boundPort(m_socket);
}

int UdpServer::port13769() const
{
    return boundPort(m_socket_13769);
}

int UdpServer::receive(int fd, Datagram* out, const char* errorText)
{
    if (fd < 0)
        return 0;
    out->data.resize(kDatagramMax);
    socklen_t size = sizeof out->from;
    const ssize_t n = recvfrom(fd, out->data.data(), kDatagramMax, 0, reinterpret_cast<sockaddr*>(&out->from), &size);
    if (n < 0) {
        out->data.clear();
        if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)
            return 0;
        if (traceOn())
            printf("%s%s\n", errorText, strerror(errno));
        return -1;
    }
    out->data.resize(size_t(n));
    if (n == 0) {
        if (traceOn())
            printf("fd = %d Client exit . . .\n", fd);
        return 0;
    }
    return 1;
}

int UdpServer::recvData(Datagram* out)
{
    return receive(m_socket, out, "accept error:");
}

int UdpServer::recvData_13769(Datagram* out)
{
    return receive(m_socket_13769, out, "accept 13769 error:");
}

int UdpServer::send(int fd, const uint8_t* data, uint32_t length, const sockaddr_in& to, const char* errorText)
{
    if (fd < 0 || !data || length > kReplyMax || !platform::Net::destinationAllowed(ntohl(to.sin_addr.s_addr)))
        return 255;
    if (sendto(fd, data, length, 0, reinterpret_cast<const sockaddr*>(&to), sizeof to) != ssize_t(length)) {
        if (traceOn())
            printf("%s%s\n", errorText, strerror(errno));
        return 255;
    }
    return 0;
}

int UdpServer::sendData(const uint8_t* data, uint32_t length, const sockaddr_in& to)
{
    return send(m_socket, data, length, to, "send error:");
}

int UdpServer::sendData_13769(const uint8_t* data, uint32_t length, const sockaddr_in& to)
{
    return send(m_socket_13769, data, length, to, "send 13769 error:");
}
