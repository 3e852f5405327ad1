#pragma once
#include <string>
#include <vector>

// The tests GoogleTest would run in this process, read before it runs them, by its own rules: the
// filter (--gtest_filter or GTEST_FILTER), disabled tests left out unless
// --gtest_also_run_disabled_tests, and the shard of GTEST_TOTAL_SHARDS / GTEST_SHARD_INDEX.
namespace TestSelection {
// "Suite.Name" against a filter: positive patterns, optionally '-' and negative ones, each list
// ':'-separated, with '*' and '?'. An empty positive list before a '-' means every test.
bool filterMatches(const std::string& filter, const std::string& fullName);
// Full names in registration order; empty when the shard variables are not valid (the run in
// this process then reports them).
std::vector<std::string> selected();
}
