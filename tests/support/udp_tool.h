#pragma once
#include "frame_client.h"

#include <cstdint>

// A PC tool's UDP socket: bound to the wildcard address at a port of its own (so broadcasts reach
// it), sending to loopback. Time limits are a quiet host's, scaled by TimeLimit.
class UdpTool {
public:
    UdpTool();
    ~UdpTool();
    bool ok() const { return m_fd >= 0; }
    int port() const;
    bool send(int port, const Bytes& bytes) const;
    // The next datagram and, after wantDestinations, the address it was sent to; empty on time-out.
    Bytes receive(int timeoutMs = 2000, uint32_t* destination = nullptr) const;
    void wantDestinations() const;
    Bytes reply(int timeoutMs = 2000) const; // the body of the next frame

private:
    int m_fd = -1;
};
