#pragma once
#include <cstdint>

namespace platform::Net {
// Broadcast address for replies, in host byte order (255.255.255.255 on the box).
uint32_t broadcastAddress();
// Address the program's servers listen on, in host byte order: every interface on the box,
// loopback only on the simulated board (the control port has no authentication).
uint32_t listenAddress();
// Whether a datagram may go to this IPv4 address (host byte order); refusals are logged.
bool destinationAllowed(uint32_t address);
// The control protocol's UDP port: the standard one on the box. The simulated board may move it
// (board.json "udp_port") so that several programs on one host do not share it.
int controlUdpPort(int standard);
}
