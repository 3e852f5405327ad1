#include "platform/i2c_bus.h"

#include "platform/sim/devices/i2c_board.h"

namespace platform {
namespace {

class SimI2cBus : public I2cBus {
public:
    int transfer(I2cMsg* messages, size_t count) override { return Sim::i2cBoard().transfer(messages, count); }
};

}

// Only adapter 0 is fitted.
std::unique_ptr<I2cBus> openI2cBus(int adapter)
{
    if (adapter != 0 || Sim::i2cBoard().openFails())
        return nullptr;
    return std::make_unique<SimI2cBus>();
}

}
