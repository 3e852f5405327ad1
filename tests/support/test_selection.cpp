#include "test_selection.h"

#include <gtest/gtest.h>

#include <cstdlib>

namespace TestSelection {
namespace {

bool globMatches(const char* pattern, const char* name)
{
    if (*pattern == 0)
        return *name == 0;
    if (*pattern == '*')
        return globMatches(pattern + 1, name) || (*name && globMatches(pattern, name + 1));
    return *name && (*pattern == '?' || *pattern == *name) && globMatches(pattern + 1, name + 1);
}

bool anyMatches(const std::string& patterns, const std::string& name)
{
    size_t from = 0;
    for (;;) {
        const size_t colon = patterns.find(':', from);
        if (globMatches(patterns.substr(from, colon - from).c_str(), name.c_str()))
            return true;
        if (colon == std::string::npos)
            return false;
        from = colon + 1;
    }
}

// -1 when unset, -2 when not a number.
long shardVariable(const char* name)
{
    const char* text = getenv(name);
    if (!text)
        return -1;
    char* end = nullptr;
    const long v = strtol(text, &end, 10);
    return *text && !*end ? v : -2;
}

}

bool filterMatches(const std::string& filter, const std::string& fullName)
{
    const size_t dash = filter.find('-');
    if (dash == std::string::npos)
        return anyMatches(filter, fullName);
    const std::string positive = filter.substr(0, dash);
    return anyMatches(positive.empty() ? "*" : positive, fullName) && !anyMatches(filter.substr(dash + 1), fullName);
}

std::vector<std::string> selected()
{
    const long shards = shardVariable("GTEST_TOTAL_SHARDS"), index = shardVariable("GTEST_SHARD_INDEX");
    const bool sharded = shards != -1 || index != -1;
    if (sharded && (shards < 1 || index < 0 || index >= shards))
        return {};
    const std::string filter = GTEST_FLAG_GET(filter);
    const bool disabledToo = GTEST_FLAG_GET(also_run_disabled_tests);
    const char* const kDisabled = "DISABLED_*:*/DISABLED_*";
    std::vector<std::string> names;
    long runnable = 0;
    const ::testing::UnitTest& all = *::testing::UnitTest::GetInstance();
    for (int s = 0; s < all.total_test_suite_count(); ++s) {
        const ::testing::TestSuite& suite = *all.GetTestSuite(s);
        for (int t = 0; t < suite.total_test_count(); ++t) {
            const ::testing::TestInfo& test = *suite.GetTestInfo(t);
            const std::string name = std::string(suite.name()) + "." + test.name();
            const bool disabled = anyMatches(kDisabled, suite.name()) || anyMatches(kDisabled, test.name());
            if ((disabled && !disabledToo) || !filterMatches(filter, name))
                continue;
            if (!sharded || runnable++ % shards == index)
                names.push_back(name);
        }
    }
    return names;
}

}
