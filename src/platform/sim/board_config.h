#pragma once
#include "platform/sim/devices/it6602_chip.h"

#include <optional>
#include <string>

namespace platform::Sim {

// Source timings by name ("1920x1080p60", "3840x2160p60", ...): CEA-861 and VESA DMT values.
// "none" and unknown names give nothing.
std::optional<HdmiTiming> standardTiming(const std::string& name);

// Reads <root>/sim/board.json (written with the defaults when missing) and sets the simulated
// board up from it: which inputs carry which timing, how many receiving cards sit on each output
// port. Returns what it could not use, one line each (the board runs on with the rest).
std::string configureFromFile(const std::string& path);

// The control protocol's UDP port for this program (0: the standard one); board.json "udp_port".
void setControlUdpPort(int port);

}
