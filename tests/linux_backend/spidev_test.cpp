// The box's spidev backend, built on the host: a node whose set-up requests the driver refuses (a
// plain file refuses every ioctl) is kept and reported once; only a node that does not open fails.
#include "platform/paths.h"
#include "platform/spi_bus.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace {

class SpidevBackend : public ::testing::Test {
protected:
    void SetUp() override
    {
        char pattern[] = "/tmp/vyr-spidev-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        root_ = pattern;
        platform::Paths::setRoot(root_);
        ASSERT_EQ(mkdir((root_ + "/dev").c_str(), 0755), 0);
        FILE* f = fopen((root_ + "/dev/spidev32766.0").c_str(), "w");
        ASSERT_NE(f, nullptr);
        fclose(f);
    }
    void TearDown() override
    {
        unlink((root_ + "/dev/spidev32766.0").c_str());
        rmdir((root_ + "/dev").c_str());
        rmdir(root_.c_str());
    }
    std::string root_;
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
