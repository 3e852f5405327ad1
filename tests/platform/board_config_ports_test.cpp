// The simulated board feeds each connected source into the scaler chip's measurement of the port
// the receiver drives, as the board's wiring does.
#include "platform/sim/board_config.h"
#include "platform/sim/devices/c331_chip.h"
#include "test_root.h"

#include <gtest/gtest.h>

using platform::Sim::c331Chip;

TEST(SimScalerPorts, ConnectedSourcesReachTheirScalerPorts)
{
    ASSERT_TRUE(TestRoot::writeFile("/sim/board.json",
                                    R"({"inputs": {"2": "1920x1080p60", "4": "3840x2160p60", "0": "none"}})"));
    EXPECT_EQ(platform::Sim::configureFromFile(TestRoot::path("/sim/board.json")), "");
    // Input 2 (HDMI 1) drives CMOS port 1: line length 2200 - 1, 1125 lines, 1920 active.
    EXPECT_EQ(c331Chip().value(0xAE0A02), 2199u);
    EXPECT_EQ(c331Chip().value(0xAE2202), 1125u);
    EXPECT_EQ(c331Chip().value(0xAF0A02), 1920u);
    EXPECT_NEAR(double(platform::Sim::C331Chip::ReferenceClockHz) / (c331Chip().value(0xAE5303) + 1), 60.0, 0.01);
    // Input 4 (HDMI 3) drives V-by-One receiver 1 (port 5) on eight lanes: all four groups locked.
    EXPECT_EQ(c331Chip().value(0xAE1802), 4399u);
    EXPECT_NE(c331Chip().value(0xAE6503 + 0xC00), 0xFFFFFFu);
    EXPECT_TRUE(c331Chip().value(0xB26301) & 0x80);
    // Input 0 stays without signal on port 3.
    EXPECT_EQ(c331Chip().value(0xAE0E02), 0xFFFFu);
}
