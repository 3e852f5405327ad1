#include "platform/net.h"

#include <atomic>
#include <cstdio>

// On the host every datagram stays on loopback: replies meant for the whole LAN go to
// 127.255.255.255, and anything addressed off the machine is dropped with a note.
namespace platform::Net {

uint32_t broadcastAddress()
{
    return 0x7FFFFFFFu;
}

// A developer's LAN must not reach a port that resets or reboots the program.
uint32_t listenAddress()
{
    return 0x7F000001u;
}

bool destinationAllowed(uint32_t address)
{
    if ((address >> 24) == 127)
        return true;
    std::fprintf(stderr, "net: refused datagram to %u.%u.%u.%u (simulated board sends to loopback only)\n",
                 address >> 24, (address >> 16) & 0xFF, (address >> 8) & 0xFF, address & 0xFF);
    return false;
}

namespace {
std::atomic<int> movedUdpPort{0};
}

int controlUdpPort(int standard)
{
    const int moved = movedUdpPort.load();
    return moved ? moved : standard;
}

}

namespace platform::Sim {

void setControlUdpPort(int port)
{
    Net::movedUdpPort = port;
}

}
