#include "platform/sim/board_config.h"
#include "platform/sim/devices/fpga_chip.h"
#include "platform/sim/devices/i2c_board.h"
#include "platform/net.h"
#include "platform/paths.h"
#include "test_root.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>

using platform::Sim::fpgaChip;
using platform::Sim::i2cBoard;

namespace {

std::string boardFile() { return TestRoot::path("/sim/board.json"); }

size_t cardsOn(int port) { return fpgaChip().network().port(port).cards.size(); }

// Every named timing adds up: the name's size and rate follow from its totals and clock.
TEST(SimTimings, NamesMatchTheirTotalsAndClock)
{
    const char* names[] = {"1920x1080p60", "1920x1080p50", "1280x720p60", "1280x720p50",
                           "1024x768p60",  "3840x2160p30", "3840x2160p60"};
    for (const char* name : names) {
        SCOPED_TRACE(name);
        const auto t = platform::Sim::standardTiming(name);
        ASSERT_TRUE(t.has_value());
        unsigned w = 0, h = 0, rate = 0;
        ASSERT_EQ(sscanf(name, "%ux%up%u", &w, &h, &rate), 3);
        EXPECT_EQ(t->hactive, w);
        EXPECT_EQ(t->vactive, h);
        EXPECT_GT(t->htotal, t->hactive + t->hsync + t->hback) << "a front porch";
        EXPECT_GT(t->vtotal, t->vactive + t->vsync + t->vback) << "a front porch";
        const double hz = t->pixelClockKHz * 1000.0 / (double(t->htotal) * t->vtotal);
        EXPECT_NEAR(hz, rate, 0.1);
    }
    EXPECT_FALSE(platform::Sim::standardTiming("none"));
    EXPECT_FALSE(platform::Sim::standardTiming("1920x1080"));
}

TEST(SimBoardFile, MissingFileIsWrittenWithTheDefaultsAndApplied)
{
    ASSERT_FALSE(TestRoot::exists("/sim/board.json"));
    EXPECT_EQ(platform::Sim::configureFromFile(boardFile()), "");
    EXPECT_TRUE(TestRoot::readFile("/sim/board.json").contains("\"2\": \"1920x1080p60\""));
    for (int r = 0; r < 4; ++r)
        EXPECT_EQ(i2cBoard().it6602(r).connected(), r == 2) << r;
    EXPECT_TRUE(i2cBoard().ite6805(0).connected()); // input 4: 3840x2160p60
    EXPECT_FALSE(i2cBoard().ite6805(1).connected());
    EXPECT_EQ(cardsOn(0), 4u);
    EXPECT_EQ(cardsOn(1), 4u);
    EXPECT_EQ(cardsOn(2), 0u);
}

TEST(SimBoardFile, BadEntriesAreReportedAndTheRestApplied)
{
    ASSERT_TRUE(TestRoot::writeFile("/sim/board.json", R"({
        "inputs": {"0": "1280x720p60", "1": "800x600p75", "9": "1920x1080p60", "x": "none", "3": "none"},
        "cards": {"3": 2, "0": 4, "17": 1, "5": -1, "2": "many"}
    })"));
    const std::string problems = platform::Sim::configureFromFile(boardFile());
    for (const char* expected : {"input 1: unknown timing \"800x600p75\"", "no input \"9\"", "no input \"x\"",
                                 "cards \"0\"", "cards \"17\"", "cards \"5\"", "cards \"2\""})
        EXPECT_NE(problems.find(expected), std::string::npos) << expected << " in\n" << problems;
    EXPECT_TRUE(i2cBoard().it6602(0).connected());
    EXPECT_FALSE(i2cBoard().it6602(1).connected());
    EXPECT_EQ(cardsOn(2), 2u); // port 3
    EXPECT_EQ(cardsOn(1), 0u);
}

TEST(SimBoardFile, UnreadableFileLeavesTheBoardBare)
{
    ASSERT_TRUE(TestRoot::writeFile("/sim/board.json", "{\"inputs\": {\"2\": "));
    EXPECT_NE(platform::Sim::configureFromFile(boardFile()).find("no input carries a signal"), std::string::npos);
    EXPECT_FALSE(i2cBoard().it6602(2).connected());
    EXPECT_EQ(cardsOn(0), 0u);
}

// Programs started side by side each take their own control port; the box keeps the standard one.
TEST(SimBoardFile, UdpPortMovesOnlyWhenValid)
{
    ASSERT_TRUE(TestRoot::writeFile("/sim/board.json", R"({"udp_port": 70000})"));
    EXPECT_NE(platform::Sim::configureFromFile(boardFile()).find("udp_port \"70000\""), std::string::npos);
    EXPECT_EQ(platform::Net::controlUdpPort(5008), 5008);
    ASSERT_TRUE(TestRoot::writeFile("/sim/board.json", R"({"udp_port": 40123})"));
    EXPECT_EQ(platform::Sim::configureFromFile(boardFile()), "");
    EXPECT_EQ(platform::Net::controlUdpPort(5008), 40123);
    platform::Sim::setControlUdpPort(0);
}

}
