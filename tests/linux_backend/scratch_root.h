#pragma once
// A temporary root for the box's backend: "/dev/..." resolves under it, so ordinary files and pty
// links stand in for the device nodes. Removed with everything in it at the end of the test.
#include "platform/paths.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <sys/stat.h>

class ScratchRoot : public ::testing::Test {
protected:
    void SetUp() override
    {
        char pattern[] = "/tmp/vyr-linux-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        root_ = pattern;
        platform::Paths::setRoot(root_);
        ASSERT_EQ(mkdir((root_ + "/dev").c_str(), 0755), 0);
    }
    void TearDown() override
    {
        platform::Paths::setRoot("");
        ASSERT_EQ(std::system(("rm -rf '" + root_ + "'").c_str()), 0);
    }
    std::string node(const std::string& name) const { return root_ + "/dev/" + name; }
    // An empty ordinary file in place of a device node: it opens, and refuses every ioctl.
    void plainNode(const std::string& name) const
    {
        FILE* f = fopen(node(name).c_str(), "w");
        ASSERT_NE(f, nullptr);
        fclose(f);
    }
    std::string root_;
};
