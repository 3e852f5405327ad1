#pragma once
#include <QString>
#include <cstdint>

// The wired address set (address, mask, gateway) as the box can use it. Every writer checks
// with this before anything reaches the INI file or the interface: a wrong set makes the box
// unreachable from its next start.
namespace Ipv4 {

enum class Verdict {
    Ok,
    BadAddress,      // not a dotted quad, or no unicast host address (0.x, 127.x, 224 and above)
    BadMask,         // not a dotted quad, zero, or its ones not contiguous from the top
    HostIsNetwork,   // the address is the subnet's own (host part all zeros)
    HostIsBroadcast, // the address is the subnet's broadcast (host part all ones)
    BadGateway,      // not a dotted quad, or the address itself, or the subnet's network or broadcast
    GatewayOutside,  // the gateway lies outside the address's subnet
};

// Four decimal octets 0-255 separated by single dots: no empty octet, no sign, no blank, no
// leading zero (ifconfig would read "010" as octal).
bool parse(const QString& text, uint32_t* value);
Verdict check(const QString& address, const QString& mask, const QString& gateway);
const char* verdictName(Verdict v);

}
