#include "platform/net.h"

namespace platform::Net {

uint32_t broadcastAddress()
{
    return 0xFFFFFFFFu;
}

uint32_t listenAddress()
{
    return 0; // INADDR_ANY
}

// The box talks to whatever the LAN holds.
bool destinationAllowed(uint32_t)
{
    return true;
}

int controlUdpPort(int standard)
{
    return standard;
}

}
