#pragma once
#include <cstdint>
#include <netinet/in.h>
#include <vector>

// The two UDP sockets of the box: the control port (5008, replies broadcast) and the Wi-Fi
// configuration port (13769, answers to the sender). Both are non-blocking; the owner polls them.
class UdpServer {
public:
    struct Datagram {
        sockaddr_in from{};
        std::vector<uint8_t> data;
    };
    static constexpr uint32_t kDatagramMax = 131071; // bytes taken per receive
    static constexpr uint32_t kReplyMax = 65507;     // the largest IPv4 UDP payload

    UdpServer();
    ~UdpServer();
    // Opens the control socket at port and the configuration socket at wifiPort (0: any free
    // port, for tests); a failure on the first leaves the second closed. 0, or 255.
    int initialize(int port, int wifiPort = 13769);
    void unInitialize();

    int socket() const { return m_socket; }         // -1 when closed
    int socket13769() const { return m_socket_13769; }
    int port() const;                               // bound ports (0 when closed)
    int port13769() const;

    // One datagram without waiting: 1 taken (empty datagrams are dropped and give 0), 0 nothing
    // waiting, -1 receive error.
    int recvData(Datagram* out);
    int recvData_13769(Datagram* out);
    // One datagram; 0, or 255 when the bytes are missing, too long, the destination is refused or
    // sendto fails.
    int sendData(const uint8_t* data, uint32_t length, const sockaddr_in& to);
    int sendData_13769(const uint8_t* data, uint32_t length, const sockaddr_in& to);

private:
    static int openSocket(int port);
    static int receive(int fd, Datagram* out, const char* errorText);
    static int send(int fd, const uint8_t* data, uint32_t length, const sockaddr_in& to, const char* errorText);

    int m_socket = -1;
    int m_socket_13769 = -1;
};
