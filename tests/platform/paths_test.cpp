#include "platform/net.h"
#include "platform/paths.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

namespace {

using platform::Paths::resolve;
using platform::Paths::resolveChecked;

TEST(Paths, AbsolutePathsLandUnderTheRoot)
{
    const std::string root = platform::Paths::root();
    ASSERT_FALSE(root.empty());
    EXPECT_EQ(root, std::getenv("VYR_ROOT"));
    EXPECT_EQ(resolve("/data/configs/omenu.json"), root + "/data/configs/omenu.json");
    EXPECT_EQ(resolve("/dev/mtd8"), root + "/dev/mtd8");
    EXPECT_EQ(resolve("/"), root + "/");
    EXPECT_EQ(resolve("relative/file"), "relative/file");

    platform::Paths::setRoot("/tmp/other-root//");
    EXPECT_EQ(platform::Paths::root(), "/tmp/other-root");
    EXPECT_EQ(resolve("/mnt/usb1/"), "/tmp/other-root/mnt/usb1/");
}

TEST(Paths, CheckedResolutionRefusesEscapes)
{
    std::string out = "untouched";
    for (const char* bad : {"", "data/x", "../x", "/..", "/../tmp", "/data/../..", "/data/..", "/a/b/../c"}) {
        EXPECT_FALSE(resolveChecked(bad, &out)) << bad;
        EXPECT_EQ(out, "untouched") << bad;
    }
    // Names that merely contain dots stay inside.
    for (const char* good : {"/data/..x", "/data/x..", "/data/./x", "/...", "/data/modes/MO0c.json"}) {
        ASSERT_TRUE(resolveChecked(good, &out)) << good;
        EXPECT_EQ(out, resolve(good));
    }
}

TEST(Net, OnlyLoopbackIsReachable)
{
    EXPECT_EQ(platform::Net::broadcastAddress(), 0x7FFFFFFFu);
    EXPECT_TRUE(platform::Net::destinationAllowed(0x7F000001u));
    EXPECT_TRUE(platform::Net::destinationAllowed(0x7F000000u));
    EXPECT_TRUE(platform::Net::destinationAllowed(platform::Net::broadcastAddress()));
    EXPECT_FALSE(platform::Net::destinationAllowed(0xFFFFFFFFu));
    EXPECT_FALSE(platform::Net::destinationAllowed(0xC0A8010Au)); // 192.168.1.10
    EXPECT_FALSE(platform::Net::destinationAllowed(0x7EFFFFFFu));
    EXPECT_FALSE(platform::Net::destinationAllowed(0x80000000u));
}

}
