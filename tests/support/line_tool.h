#pragma once
#include "frame_client.h"

// A PC tool's end of a serial line of the simulated board (its pty's other side). Time limits are
// a quiet host's, scaled by TimeLimit.
class LineTool {
public:
    explicit LineTool(int index); // the line /dev/ttyS<index>
    ~LineTool();
    LineTool(const LineTool&) = delete;
    LineTool& operator=(const LineTool&) = delete;
    bool opened() const { return m_fd >= 0; }
    bool send(const Bytes& bytes) const;
    Bytes reply(int timeoutMs = 2000); // the next frame body; empty on time-out
    bool silent(int ms) { return reply(ms).empty(); }

private:
    int m_fd = -1;
    Wire::Unstuffer m_in;
};
