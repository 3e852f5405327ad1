#pragma once
// FPGA 0 brought up on the simulated board by its worker, driven pass by pass by the test, its
// reset line, and the receiving cards' RAM as the simulated LED network holds it.
#include "base/global.h"
#include "fpga/fpga_manage.h"
#include "platform/sim/devices/fpga_chip.h"
#include "platform/sim/devices/fpga_network.h"
#include "platform/sim/sim_board.h"
#include "video_chips/keltosource.h"

#include <cstdint>
#include <functional>
#include <vector>

// Releases FPGA 0 with the clock synthesiser running and runs `pass` (one worker pass with the
// tick advanced, plus whatever the test runs beside it) until FPGA 0 is up. True when it is.
inline bool bringUpFpga0(const std::function<void()>& pass, int maxPasses = 1500)
{
    keltosource::pInstance();
    fpga_manage* fpga = fpga_manage::instanceWithoutWorker();
    g_fpga_c331_start = 1;
    fpga_manage::gpio_write(fpga->rst_fpga0, 16);
    keltosource::p_kelto_source->clock_state[0] = 2;
    for (int i = 0; i < maxPasses && fpga->get_fpga_status() != 1; ++i)
        pass();
    return fpga->get_fpga_status() == 1;
}

// The same with the FPGA manager's own passes, the tick advanced by one before each.
inline bool bringUpFpga0ByItsPasses()
{
    fpga_manage* fpga = fpga_manage::instanceWithoutWorker();
    return bringUpFpga0([fpga] {
        G_timeTicks.fetch_add(1);
        fpga->runOnce();
    });
}

// The replay tests' LED network: port 0 with 2 cards and port 1 with 4, every card of screen
// configId.
inline void linkTwoPortsOfScreen(uint32_t configId)
{
    platform::Sim::fpgaChip().setCards(0, 2);
    platform::Sim::fpgaChip().setCards(1, 4);
    platform::Sim::fpgaChip().editNetwork([configId](platform::Sim::LedNetwork& n) {
        for (int p : {0, 1})
            for (auto& c : n.port(p).cards)
                c.configId = configId;
    });
}

// FPGA 0's reset line as the register window holds it: 0 in reset, 16 running.
inline uint16_t resetLine()
{
    return platform::Sim::memSim().read16(platform::Sim::FpgaChip::WindowBase + platform::Sim::FpgaChip::ResetWord);
}

// n bytes of a card's RAM from `at`; unwritten bytes read 0.
inline std::vector<uint8_t> cardRam(const platform::Sim::LedNetwork::Card& card, uint32_t at, int n)
{
    std::vector<uint8_t> b;
    for (int i = 0; i < n; ++i) {
        auto it = card.ram.find(at + uint32_t(i));
        b.push_back(it == card.ram.end() ? 0 : it->second);
    }
    return b;
}
