#include "base/ipv4_settings.h"

#include "base/global.h"

#include <QStringList>
#include <atomic>

namespace Ipv4 {

bool parse(const QString& text, uint32_t* value)
{
    const QStringList parts = text.split(QLatin1Char('.'));
    if (parts.size() != 4)
        return false;
    uint32_t v = 0;
    for (const QString& part : parts) {
        if (part.isEmpty() || part.size() > 3 || (part.size() > 1 && part.at(0) == QLatin1Char('0')))
            return false;
        uint32_t octet = 0;
        for (QChar c : part) {
            if (c < QLatin1Char('0') || c > QLatin1Char('9'))
                return false;
            octet = octet * 10 + uint32_t(c.unicode() - '0');
        }
        if (octet > 255)
            return false;
        v = v << 8 | octet;
    }
    if (value)
        *value = v;
    return true;
}

namespace {
bool unicastHost(uint32_t a)
{
    const uint32_t first = a >> 24;
    return first != 0 && first != 127 && first < 224;
}
}

Verdict check(const QString& address, const QString& mask, const QString& gateway)
{
    uint32_t a = 0, m = 0, g = 0;
    if (!parse(address, &a) || !unicastHost(a))
        return Verdict::BadAddress;
    // Contiguous from the top: the complement plus one is a power of two.
    if (!parse(mask, &m) || m == 0 || ((~m + 1) & ~m) != 0)
        return Verdict::BadMask;
    const uint32_t network = a & m;
    const uint32_t broadcast = network | ~m;
    if (a == network)
        return Verdict::HostIsNetwork;
    if (a == broadcast)
        return Verdict::HostIsBroadcast;
    if (!parse(gateway, &g) || g == a)
        return Verdict::BadGateway;
    if ((g & m) != network)
        return Verdict::GatewayOutside;
    if (g == network || g == broadcast)
        return Verdict::BadGateway;
    return Verdict::Ok;
}

const char* verdictName(Verdict v)
{
    switch (v) {
    case Verdict::Ok: return "ok";
    case Verdict::BadAddress: return "no usable address";
    case Verdict::BadMask: return "no usable mask";
    case Verdict::HostIsNetwork: return "address is the network address";
    case Verdict::HostIsBroadcast: return "address is the broadcast address";
    case Verdict::BadGateway: return "no usable gateway";
    case Verdict::GatewayOutside: return "gateway outside the subnet";
    }
    return "?";
}

bool overlapsWired(uint32_t ap, const QString& wiredAddress, const QString& wiredMask)
{
    // Two subnets overlap when they agree on the shorter of their prefixes.
    uint32_t wired = 0, mask = 0;
    if (!parse(wiredAddress, &wired))
        return false;
    if (!parse(wiredMask, &mask))
        mask = 0xFFFFFF00;
    const uint32_t common = mask & 0xFFFFFF00;
    return (ap & common) == (wired & common);
}

namespace {
std::atomic<void (*)(std::string*)> accessPointInUse{nullptr};
}

void setAccessPointInUse(void (*inUse)(std::string* address))
{
    accessPointInUse = inUse;
}

bool wiredSetClashes(const QString& address, const QString& mask)
{
    // The access point's address in use: the manager's, or before it runs the one it will take.
    std::string ap = g_str_wifi_ip.get().toStdString();
    if (void (*inUse)(std::string*) = accessPointInUse.load())
        inUse(&ap);
    uint32_t a = 0;
    if (!parse(QString::fromStdString(ap), &a) && !parse(QString::fromLatin1(kAccessPointDefault), &a))
        return false;
    return overlapsWired(a, address, mask);
}

}
