// Raw erase and write of the flash partitions on the file-backed simulated MTD.
#include "base/global.h"
#include "platform/mtd.h"
#include "platform/sim/sim_board.h"
#include "base/utils.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

using Calls = std::vector<std::string>;

std::string hexCall(const char* what, uint32_t start, uint32_t length)
{
    char text[64];
    snprintf(text, sizeof text, "%s 0x%x 0x%x", what, start, length);
    return text;
}

class UtilsMtd : public ::testing::Test {
protected:
    void SetUp() override
    {
        g_debugSwitch = 0;
        fd = platform::mtd().open("/dev/mtd8");
        ASSERT_GE(fd, 0);
        platform::Sim::mtdSim().clearCalls();
    }
    void TearDown() override
    {
        platform::Sim::mtdSim().failGetInfo(false);
        platform::Sim::mtdSim().failEraseAt(-1);
        if (fd >= 0) {
            EXPECT_EQ(platform::mtd().close(fd), 0); // the helpers never close the caller's fd
        }
    }
    static Calls calls() { return platform::Sim::mtdSim().calls(); }
    static Calls erases(uint32_t from, int count, bool unlock)
    {
        Calls out{"getinfo"};
        for (int i = 0; i < count; ++i) {
            if (unlock)
                out.push_back(hexCall("unlock", from + i * 0x10000u, 0x10000));
            out.push_back(hexCall("erase", from + i * 0x10000u, 0x10000));
        }
        return out;
    }
    std::vector<uint8_t> image() { return platform::Sim::mtdSim().contents("/dev/mtd8"); }
    int fd = -1;
};

TEST_F(UtilsMtd, EraseCountsWholeAndPartialBlocks)
{
    EXPECT_EQ(Utils::non_region_erase(fd, 0, 0x60000, 0), 0u);
    EXPECT_EQ(calls(), erases(0, 6, false));

    platform::Sim::mtdSim().clearCalls();
    EXPECT_EQ(Utils::non_region_erase(fd, 0x10000, 0x10001, 1), 0u);
    EXPECT_EQ(calls(), erases(0x10000, 2, true));

    platform::Sim::mtdSim().clearCalls();
    EXPECT_EQ(Utils::non_region_erase(fd, 0x20000, 0, 1), 0u);
    EXPECT_EQ(calls(), (Calls{"getinfo"}));
}

TEST_F(UtilsMtd, RangeBeyondThePartitionIsRefusedBeforeErasing)
{
    std::vector<uint8_t> pattern(0x60000, 0x00);
    ASSERT_EQ(Utils::non_region_write(fd, pattern.data(), uint32_t(pattern.size()), 0), 0u);
    platform::Sim::mtdSim().clearCalls();

    EXPECT_NE(Utils::non_region_erase(fd, 0, 0x60001, 1), 0u);        // the seventh block would run past
    EXPECT_NE(Utils::non_region_erase(fd, 0x50000, 0x10001, 0), 0u);
    EXPECT_NE(Utils::non_region_erase(fd, 0xFFFF0000u, 0x20000, 0), 0u); // offset + length wraps 32 bits
    EXPECT_NE(Utils::non_region_erase(fd, 0x8000, 0x1000, 0), 0u);     // not on a block boundary
    EXPECT_NE(Utils::non_region_write(fd, pattern.data(), 0x2000, 0x5F000), 0u);
    for (const std::string& call : calls())
        EXPECT_EQ(call, "getinfo");
    EXPECT_EQ(image(), pattern);

    EXPECT_EQ(Utils::non_region_erase(fd, 0x50000, 0x10000, 0), 0u); // the last block exactly
    EXPECT_EQ(image()[0x50000], 0xFF);
    EXPECT_EQ(image()[0x4FFFF], 0x00);
}

TEST_F(UtilsMtd, GeometryFailure)
{
    platform::Sim::mtdSim().failGetInfo(true);
    uint8_t byte = 0;
    EXPECT_NE(Utils::non_region_erase(fd, 0, 0x10000, 0), 0u);
    EXPECT_EQ(Utils::non_region_write(fd, &byte, 1, 0), 1u);
    for (const std::string& call : calls())
        EXPECT_EQ(call.rfind("getinfo", 0), 0u) << call;
}

TEST_F(UtilsMtd, EraseFailureStopsWithEightAndKeepsTheFd)
{
    platform::Sim::mtdSim().failEraseAt(0x20000);
    EXPECT_EQ(Utils::non_region_erase(fd, 0, 0x60000, 0), 8u);
    Calls expected = erases(0, 3, false); // the third erase is tried and fails
    EXPECT_EQ(calls(), expected);

    platform::Sim::mtdSim().failEraseAt(-1);
    platform::MtdInfo info;
    EXPECT_EQ(platform::mtd().getInfo(fd, &info), 0);
    EXPECT_EQ(info.size, 0x60000u);
}

TEST_F(UtilsMtd, WriteInPagesAndRemainder)
{
    ASSERT_EQ(Utils::non_region_erase(fd, 0x10000, 0x10000, 0), 0u);
    platform::Sim::mtdSim().clearCalls();
    std::vector<uint8_t> data(5000);
    for (size_t i = 0; i < data.size(); ++i)
        data[i] = uint8_t(i * 7 + 1);
    EXPECT_EQ(Utils::non_region_write(fd, data.data(), uint32_t(data.size()), 0x10000), 0u);
    EXPECT_EQ(calls(), (Calls{"getinfo", "pwrite 0x10000 2048", "pwrite 0x10800 2048", "pwrite 0x11000 904"}));
    const std::vector<uint8_t> img = image();
    EXPECT_TRUE(std::equal(data.begin(), data.end(), img.begin() + 0x10000));
    EXPECT_EQ(img[0x10000 + 5000], 0xFF);
    EXPECT_TRUE(platform::Sim::mtdSim().violations().empty());
}

}
