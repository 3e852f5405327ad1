#pragma once
#include <chrono>

// The tests' real-time limits. A test waits for the event itself and writes its limit as a quiet
// host build needs it; ms() gives that room for this build (the sanitizers and qemu-arm run the
// same code several times slower) and for a machine running twice as many jobs as it has cores
// (scripts/test --load), by the factor of time_limit.cmake. waitFor, Panel::waitFor, FrameClient
// and UdpTool scale the limits they are given; a test measuring time itself scales with ms().
namespace TimeLimit {
int factor();
int ms(int quietHostMs);
inline std::chrono::milliseconds of(int quietHostMs) { return std::chrono::milliseconds(ms(quietHostMs)); }
}
