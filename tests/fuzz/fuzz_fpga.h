#pragma once
// FPGA 0 up on the simulated board for the targets that reach the card link: its worker driven
// pass by pass, the tick advanced by one before each.
#include "fuzz_board.h"
#include "fpga_up.h"

#include "params/vyrrampara.h"

#include <functional>

namespace FuzzFpga {

inline void tick()
{
    G_timeTicks.fetch_add(1);
    fpga_manage::p_fpga_manage->runOnce();
}

// The board, the store and FPGA 0 brought up; then `link` sets up the LED network and two search
// cycles count its cards.
inline fpga_manage* up(const std::function<void()>& link)
{
    FuzzBoard::start();
    VyrRamPara::pInstance();
    fpga_manage* fpga = fpga_manage::instanceWithoutWorker();
    if (!bringUpFpga0(tick))
        FuzzBoard::fail("the simulated FPGA did not come up");
    link();
    for (uint32_t i = 0; i < 2 * fpga_manage::kSearchTicks + 2; ++i)
        tick();
    return fpga;
}

}
