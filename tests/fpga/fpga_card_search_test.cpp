// The card search's walk over the port pairs: one search per pair and cycle, alternating between
// the pair's two ports when both are linked, read from the LED network's packet log.
#include "card_fixture.h"

#include "platform/sim/devices/fpga_network.h"

using platform::Sim::fpgaChip;

namespace {
// Ports that received a search (a 30-byte packet) since the log was cleared, in port order.
std::vector<int> searched()
{
    std::vector<int> out;
    for (int p = 0; p < fpga_manage::kPorts; ++p)
        for (const Bytes& b : fpgaChip().packets(p))
            if (b.size() == 30)
                out.push_back(p);
    return out;
}
}

TEST_F(LedCards, SearchAlternatesBetweenThePortsOfAPair)
{
    fpgaChip().setCards(4, 1); // pair 2: both ports linked
    fpgaChip().setCards(5, 2);
    fpgaChip().setCards(9, 1); // pair 4: the odd port only
    searchCards();
    // Every pair is searched each cycle: an even cycle takes port 2k when it has link, else 2k + 1;
    // an odd cycle 2k + 1 when it has link, else 2k. Linked: 4, 5 and 9.
    const std::vector<int> even = {1, 3, 4, 7, 9, 11, 13, 15}, odd = {0, 2, 5, 6, 9, 10, 12, 14};
    const std::vector<std::vector<int>> cycles = {even, odd, even, odd};
    std::vector<std::vector<int>> seen;
    // Start on an even cycle: the one after an odd cycle.
    while (fpga->search_cycle % 2 != 0)
        tick(int(fpga_manage::kSearchTicks));
    for (size_t c = 0; c < cycles.size(); ++c) {
        fpgaChip().clearPackets();
        const uint32_t before = fpga->search_cycle;
        ASSERT_TRUE(runUntil([&] { return fpga->search_cycle != before; }, int(fpga_manage::kSearchTicks) + 2));
        seen.push_back(searched());
    }
    EXPECT_EQ(fpga->port_link_word(), 0x0230);
    EXPECT_EQ(seen, cycles);
    EXPECT_EQ(fpga->get_port_card_num(4), 1);
    EXPECT_EQ(fpga->get_port_card_num(5), 2);
}
