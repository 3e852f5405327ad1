#include "params/scaler_ports.h"

#include <atomic>

namespace {
// Published once the scaler's manager is complete: the input thread may already be running.
std::atomic<ScalerPorts*> current{nullptr};
}

void ScalerPorts::publishPorts(ScalerPorts* ports)
{
    current.store(ports, std::memory_order_release);
}

ScalerPorts* ScalerPorts::publishedPorts()
{
    return current.load(std::memory_order_acquire);
}
