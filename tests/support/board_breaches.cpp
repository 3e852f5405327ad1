#include "board_breaches.h"

#include "platform/sim/devices/c331_chip.h"
#include "platform/sim/devices/fpga_chip.h"
#include "platform/sim/devices/fpga_flash.h"
#include "platform/sim/devices/i2c_board.h"
#include "platform/sim/sim_board.h"

const std::vector<BreachRecorder>& breachRecorders()
{
    static const std::vector<BreachRecorder> list = {
        {"scaler chip", [] { return platform::Sim::c331Chip().violations(); }},
        {"FPGA", [] { return platform::Sim::fpgaChip().violations(); }},
        {"FPGA flash", [] { return platform::Sim::fpgaFlash().violations(); }},
        {"MTD flash", [] { return platform::Sim::mtdSim().violations(); }},
        {"I2C bus", [] { return platform::Sim::i2cBoard().violations(); }},
    };
    return list;
}
