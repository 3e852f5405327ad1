// The box's spidev backend, built on the host: a node whose set-up requests the driver refuses (a
// plain file refuses every ioctl) is kept and reported once; only a node that does not open fails.
#include "platform/paths.h"
#include "platform/spi_bus.h"
#include "scratch_root.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace {

class SpidevBackend : public ScratchRoot {
protected:
    void SetUp() override
    {
        ScratchRoot::SetUp();
        plainNode("spidev32766.0");
    }
};

TEST_F(SpidevBackend, RefusedSetUpKeepsTheDeviceAndIsReportedOnce)
{
    std::unique_ptr<platform::SpiBus> bus = platform::openSpiBus(0);
    ASSERT_NE(bus, nullptr);
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(bus->configure(3, 8, 10000000), 0);
    EXPECT_EQ(bus->configure(3, 8, 10000000), 0);
    const std::string err = ::testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find("spidev32766.0: can't set mode; can't get mode; can't set bits per word"), std::string::npos)
        << err;
    EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << "reported once: " << err;
}

TEST_F(SpidevBackend, OnlyANodeThatDoesNotOpenFails)
{
    EXPECT_EQ(platform::openSpiBus(1), nullptr);
    EXPECT_EQ(platform::openSpiBus(-1), nullptr);
}

}
