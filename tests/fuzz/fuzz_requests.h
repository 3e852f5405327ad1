#pragma once
// Requests of one group from the pieces of an input, run through the dispatcher as a transport
// would, with the managers up on the simulated board.
#include <QByteArray>
#include <cstdint>

class message_deal;

namespace FuzzRequests {
// Two TCP peers, so that transfers of two tools meet.
enum class Peer { First, Second };

// The dispatcher, the managers started before it on first use.
message_deal& dispatcher();
// The sender of a piece of an input: a piece starting with '@' comes from the second peer (the
// '@' is taken off; no sub-command of the groups the targets send is 0x40), any other from the first.
Peer takePeer(QByteArray& piece);
// The payload (from body byte 10) under a head addressed to the controller, with group `group`.
uint32_t run(uint8_t group, const QByteArray& payload, Peer from);
}
