#include "platform/sim/chmod_mode.h"

#include <gtest/gtest.h>

namespace {

using platform::Sim::applyChmodMode;

struct ModeCase {
    const char* text;
    unsigned current;
    bool directory;
    unsigned expected;
};

TEST(ChmodMode, OctalAndSymbolicModes)
{
    const ModeCase cases[] = {
        {"755", 0600, false, 0755},
        {"0644", 0777, false, 0644},
        {"4755", 0, false, 04755},
        {"u+x", 0644, false, 0744},
        {"go-w", 0666, false, 0644},
        {"a=r", 0777, false, 0444},
        {"+x", 0644, false, 0755},
        {"u+x,g+w", 0444, false, 0564},
        {"o=", 0777, false, 0770},
        {"u=rw,go=r", 0000, false, 0644},
        {"a+X", 0644, false, 0644}, // a plain file without any x keeps its mode
        {"a+X", 0644, true, 0755},
        {"a+X", 0744, false, 0755},
        {"u-x+s", 0755, false, 04655},
    };
    for (const ModeCase& c : cases) {
        unsigned result = 0xDEAD;
        ASSERT_TRUE(applyChmodMode(c.text, c.current, c.directory, &result)) << c.text;
        EXPECT_EQ(result, c.expected) << c.text << " from " << std::oct << c.current;
    }
}

TEST(ChmodMode, RejectsTextsThatAreNoMode)
{
    for (const char* bad : {"", "8", "12345", "u", "u+q", "x+u", "u+x,", "u+x;", "755x"}) {
        unsigned result = 0;
        EXPECT_FALSE(applyChmodMode(bad, 0644, false, &result)) << bad;
    }
}

}
