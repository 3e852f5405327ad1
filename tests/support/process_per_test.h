#pragma once
#include <string>
#include <vector>

// A test program run by hand gives ctest's results, where every test has a process of its own
// (singletons, globals and the simulated board start fresh): when more than one test is selected,
// the test main runs each in a child, this program again with the test's full name as its filter
// (under the tests' emulator when cross-built). VYR_JOBS of them at a time (else one per core),
// the timing tests (tests/CMakeLists.txt) alone at the end, each with ctest's time-out. One line
// per test, a failed test's output whole, and gtest's summary; --gtest_repeat repeats the whole
// run; --gtest_output must name a folder (xml:dir/), where each test writes <Suite.Name>.xml.
// VYR_TESTS_IN_ONE_PROCESS=1 runs them all in this process, as gtest alone does (for a debugger);
// VYR_TEST_TIMEOUT_S=n gives every test n seconds instead (for the runner's own tests).
namespace ProcessPerTest {
// Whether the selected tests go to children: more than one, and no listing or gtest's help asked
// for (argv as gtest left it).
bool wanted(const std::vector<std::string>& tests, int argc, char** argv);
// args: this program's arguments before gtest took its flags out; work: a folder for the
// children's output. Returns the exit status.
int run(const std::vector<std::string>& args, const std::vector<std::string>& tests, const std::string& work);
// In a child, before its tests run: at their end it writes how many passed, were skipped and
// failed into the file the runner named (a test's own threads may print into gtest's lines).
void reportOutcome();
// The exit status of a program that ran its tests itself, from RUN_ALL_TESTS's result: when the
// one test it ran was skipped, VYR_SKIPPED_EXIT_CODE (tests/CMakeLists.txt), the only mark ctest
// and the runner take for a skip. A skip is never read from the output, which a failing test may
// fill with anything, gtest's skip marker included.
int exitStatus(int result);
}
