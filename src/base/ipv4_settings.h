#pragma once
#include <QString>
#include <cstdint>
#include <string>

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

// The Wi-Fi access point's /24 and the wired subnet must not overlap, or replies to the phones on
// one side would leave through the other.
constexpr const char* kAccessPointDefault = "192.168.22.101"; // the access point's until one is set
// The wired subnet (a wired mask that is no dotted quad counts as /24) overlaps the /24 around ap.
bool overlapsWired(uint32_t ap, const QString& wiredAddress, const QString& wiredMask);
// A wired address set whose subnet takes in the access point's /24 (the address the access point
// uses, or the one it starts with): it is refused, as the access point's side is.
bool wiredSetClashes(const QString& address, const QString& mask);
// The Wi-Fi manager registers, when one is created, how to read the address it uses: the hook
// replaces *address with it while a manager runs (the stored address stands otherwise).
void setAccessPointInUse(void (*inUse)(std::string* address));

}
