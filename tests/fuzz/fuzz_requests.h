#pragma once
// Requests of one group from the pieces of an input, run through the dispatcher as a transport
// would, with the managers up on the simulated board.
#include <QByteArray>
#include <cstdint>

class message_deal;

namespace FuzzRequests {
// The dispatcher, the managers started before it on first use.
message_deal& dispatcher();
// The payload (from body byte 10) under a head addressed to the controller, with group `group`;
// every third request comes from a second TCP peer, so transfers of two tools meet.
uint32_t run(uint8_t group, const QByteArray& payload, unsigned index);
}
