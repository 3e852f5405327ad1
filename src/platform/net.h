#pragma once
#include <cstdint>

namespace platform::Net {
// Broadcast address for replies, in host byte order (255.255.255.255 on the box).
uint32_t broadcastAddress();
// Whether a datagram may go to this IPv4 address (host byte order); refusals are logged.
bool destinationAllowed(uint32_t address);
}
