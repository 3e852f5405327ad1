// A test program run by hand (process_per_test.h): the tests gtest's own rules select, each in a
// process of its own, and what the run reports. The children are the DISABLED_ tests of
// ProcessPerTestSelf, started here through this program itself.
#include "platform/paths.h"
#include "program.h"
#include "test_selection.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <spawn.h>
#include <string>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

const char* const kPlanted = "VYR_PLANTED_FAILURES";

// What a test leaves behind in its process.
int g_leftBehind = 0;

void startsFreshAndLeavesState()
{
    EXPECT_EQ(g_leftBehind, 0) << "state left by another test";
    ++g_leftBehind;
}

TEST(ProcessPerTestSelf, DISABLED_StartsFreshAndLeavesStateA) { startsFreshAndLeavesState(); }
TEST(ProcessPerTestSelf, DISABLED_StartsFreshAndLeavesStateB) { startsFreshAndLeavesState(); }

TEST(ProcessPerTestSelf, DISABLED_FailsOnPurpose)
{
    if (!getenv(kPlanted))
        GTEST_SKIP() << "a planted failure, for ProcessPerTest's own tests";
    ADD_FAILURE() << "failed on purpose";
}

TEST(ProcessPerTestSelf, DISABLED_KilledOnPurpose)
{
    if (!getenv(kPlanted))
        GTEST_SKIP() << "a planted failure, for ProcessPerTest's own tests";
    raise(SIGKILL);
}

TEST(ProcessPerTestSelf, DISABLED_Skips) { GTEST_SKIP() << "skipped on purpose"; }

// The ends a test can come to, each planted only where the runner's own test asks for it.
TEST(PlantedOutcomeSelf, DISABLED_Aborts)
{
    if (!getenv(kPlanted))
        GTEST_SKIP();
    signal(SIGABRT, SIG_DFL); // no sanitizer's report in its place
    abort();
}

TEST(PlantedOutcomeSelf, DISABLED_Segfaults)
{
    if (!getenv(kPlanted))
        GTEST_SKIP();
    signal(SIGSEGV, SIG_DFL);
    raise(SIGSEGV);
}

TEST(PlantedOutcomeSelf, DISABLED_ExitsBeforeItsEnd)
{
    if (!getenv(kPlanted))
        GTEST_SKIP();
    _exit(0);
}

// Fails with gtest's skip marker in its output, as a test printing a child's output does.
TEST(PlantedOutcomeSelf, DISABLED_FailsAfterPrintingTheSkipMarker)
{
    if (!getenv(kPlanted))
        GTEST_SKIP();
    printf("[  SKIPPED ] a child's line\n");
    ADD_FAILURE() << "failed on purpose";
}

// Passes, and leaves a process running that it started ($VYR_STARTED_PIDS names it).
TEST(PlantedOutcomeSelf, DISABLED_LeavesAChildBehind)
{
    const char* file = getenv("VYR_STARTED_PIDS");
    if (!getenv(kPlanted) || !file)
        GTEST_SKIP();
    pid_t pid = -1;
    char* args[] = {const_cast<char*>("sleep"), const_cast<char*>("600"), nullptr};
    ASSERT_EQ(posix_spawnp(&pid, "sleep", nullptr, nullptr, args, environ), 0);
    std::ofstream(std::string(file) + ".left") << pid << "\n";
}

// As when a test's own threads print into gtest's lines: its outcome is not read from them.
TEST(ProcessPerTestSelf, DISABLED_PassesWithoutGtestsLines)
{
    ::testing::TestEventListeners& listeners = ::testing::UnitTest::GetInstance()->listeners();
    delete listeners.Release(listeners.default_result_printer());
}

// Starts two processes that outlive it unless ended with it, names them in the file
// $VYR_STARTED_PIDS, and waits.
TEST(ProgramTreeSelf, DISABLED_StartsTwoSleepsAndWaits)
{
    const char* file = getenv("VYR_STARTED_PIDS");
    if (!file)
        GTEST_SKIP() << "for ProcessPerTest's own tests";
    std::string pids;
    for (int i = 0; i < 2; ++i) {
        pid_t pid = -1;
        char* args[] = {const_cast<char*>("sleep"), const_cast<char*>("600"), nullptr};
        ASSERT_EQ(posix_spawnp(&pid, "sleep", nullptr, nullptr, args, environ), 0);
        pids += std::to_string(pid) + "\n";
    }
    const std::string part = std::string(file) + ".part"; // read whole or not at all
    std::ofstream(part) << pids;
    ASSERT_EQ(rename(part.c_str(), file), 0);
    pause();
}

// Gone, or a zombie that no one has reaped yet: either way it runs no more.
bool ended(pid_t pid)
{
    const std::vector<std::string> f = procStatFields(pid);
    return f.empty() || f[0] == "Z" || f[0] == "X";
}

// The processes named in a file, one a line.
std::vector<pid_t> pidsIn(const std::string& file)
{
    std::vector<pid_t> pids;
    std::ifstream text(file);
    for (pid_t pid; text >> pid;)
        pids.push_back(pid);
    return pids;
}

struct Ran {
    int status = -1;
    std::string out;
    int exitStatus() const { return WIFEXITED(status) ? WEXITSTATUS(status) : -1; }
    size_t count(const std::string& text) const
    {
        size_t n = 0;
        for (size_t at = out.find(text); at != std::string::npos; at = out.find(text, at + 1))
            ++n;
        return n;
    }
    bool has(const std::string& text) const { return count(text) > 0; }
};

// This test program with the flags, two tests at a time, in the environment of this one without
// gtest's variables, plus env; its output in <root>/<tag>/program.out.
std::unique_ptr<Program> startSelf(const std::string& tag, const std::vector<std::string>& flags,
                                   const std::vector<std::string>& env = {})
{
    char self[4096];
    const ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
    if (n <= 0) {
        ADD_FAILURE() << "this test program's path is unknown";
        return nullptr;
    }
    std::vector<std::string> args = {std::string(self, size_t(n))};
    args.insert(args.end(), flags.begin(), flags.end());
    std::vector<std::string> environment = env;
    environment.push_back("VYR_JOBS=2");
    for (char** e = environ; *e; ++e)
        if (strncmp(*e, "GTEST_", 6) != 0 && strncmp(*e, "VYR_TESTS_IN_ONE_PROCESS=", 25) != 0 &&
            strncmp(*e, kPlanted, strlen(kPlanted)) != 0 && strncmp(*e, "VYR_JOBS=", 9) != 0)
            environment.push_back(*e);
    const std::string dir = platform::Paths::root() + "/" + tag;
    mkdir(dir.c_str(), 0755);
    auto p = std::make_unique<Program>(dir, args, environment);
    EXPECT_TRUE(p->started()) << p->startError();
    return p;
}

// startSelf, waited for to end.
Ran runSelf(const std::string& tag, const std::vector<std::string>& flags, const std::vector<std::string>& env = {})
{
    std::unique_ptr<Program> p = startSelf(tag, flags, env);
    if (!p)
        return {};
    EXPECT_TRUE(waitFor([&p] { return !p->running(); }, 30000)) << tag << " did not end";
    return {p->status(), p->output()};
}

const std::string kA = "ProcessPerTestSelf.DISABLED_StartsFreshAndLeavesStateA";
const std::string kB = "ProcessPerTestSelf.DISABLED_StartsFreshAndLeavesStateB";
const std::string kFails = "ProcessPerTestSelf.DISABLED_FailsOnPurpose";
const std::string kKilled = "ProcessPerTestSelf.DISABLED_KilledOnPurpose";
const std::string kSkips = "ProcessPerTestSelf.DISABLED_Skips";
const std::string kQuiet = "ProcessPerTestSelf.DISABLED_PassesWithoutGtestsLines";

TEST(TestSelection, FilterFollowsGtestsRules)
{
    struct Row {
        const char* filter;
        const char* name;
        bool matches;
    };
    const Row rows[] = {
        {"*", "A.B", true},
        {"A.*", "A.B", true},
        {"A.*", "AB.C", false},
        {"A.?", "A.B", true},
        {"A.?", "A.BC", false},
        {"*.B", "A.B", true},
        {"*.B", "A.BB", false},
        {"A.B", "A.B", true},
        {"A.B", "A.BC", false},
        {"X.*:A.B", "A.B", true},
        {"X.*:A.B", "Y.B", false},
        {"", "A.B", false},           // nothing
        {"-X.*", "A.B", true},        // no positive patterns: every test
        {"-X.*", "X.B", false},
        {"A.*-A.B", "A.B", false},
        {"A.*-A.B", "A.C", true},
        {"A.*-A.B:A.C", "A.C", false},
        {"A.*-", "A.C", true},        // no negative patterns
        {"-", "A.C", true},
        {"A.*:-A.B", "A.B", false},   // '-' after a ':'
        {"P/A.*", "P/A.B/0", true},   // parameterised
    };
    for (const Row& r : rows)
        EXPECT_EQ(TestSelection::filterMatches(r.filter, r.name), r.matches) << r.filter << " " << r.name;
}

// The disabled tests only on request, and the shard: the runnable tests counted in order, every
// n-th to shard k.
TEST(TestSelection, DisabledTestsOnRequestAndOneShard)
{
    const std::string savedFilter = GTEST_FLAG_GET(filter);
    const bool savedDisabled = GTEST_FLAG_GET(also_run_disabled_tests);
    GTEST_FLAG_SET(filter, "ProcessPerTestSelf.*");
    GTEST_FLAG_SET(also_run_disabled_tests, false);
    EXPECT_TRUE(TestSelection::selected().empty());
    GTEST_FLAG_SET(also_run_disabled_tests, true);
    EXPECT_EQ(TestSelection::selected(), std::vector<std::string>({kA, kB, kFails, kKilled, kSkips, kQuiet}));
    setenv("GTEST_TOTAL_SHARDS", "2", 1);
    setenv("GTEST_SHARD_INDEX", "1", 1);
    EXPECT_EQ(TestSelection::selected(), std::vector<std::string>({kB, kKilled, kQuiet}));
    setenv("GTEST_SHARD_INDEX", "0", 1);
    EXPECT_EQ(TestSelection::selected(), std::vector<std::string>({kA, kFails, kSkips}));
    setenv("GTEST_TOTAL_SHARDS", "1", 1);
    EXPECT_EQ(TestSelection::selected().size(), 6u) << "one shard: all of them";
    setenv("GTEST_SHARD_INDEX", "1", 1);
    EXPECT_TRUE(TestSelection::selected().empty()) << "shard 1 of 1: not valid, left to gtest to report";
    unsetenv("GTEST_SHARD_INDEX");
    EXPECT_TRUE(TestSelection::selected().empty()) << "only one of the two set";
    unsetenv("GTEST_TOTAL_SHARDS");
    GTEST_FLAG_SET(filter, savedFilter);
    GTEST_FLAG_SET(also_run_disabled_tests, savedDisabled);
}

TEST(ProcessPerTest, EachSelectedTestRunsInAProcessOfItsOwn)
{
    const std::string both = "--gtest_filter=" + kA + ":" + kB;
    Ran r = runSelf("repeated", {"--gtest_also_run_disabled_tests", both, "--gtest_repeat=2"});
    EXPECT_EQ(r.exitStatus(), 0) << r.out;
    EXPECT_EQ(r.count("[       OK ] " + kA + " ("), 2u) << r.out;
    EXPECT_EQ(r.count("[       OK ] " + kB + " ("), 2u) << r.out;
    EXPECT_TRUE(r.has("Repeating all tests (iteration 2)")) << r.out;
    EXPECT_EQ(r.count("[  PASSED  ] 2 tests."), 2u) << r.out;

    // On request, in one process as gtest alone runs them: the second finds the first one's state.
    r = runSelf("one process", {"--gtest_also_run_disabled_tests", both}, {"VYR_TESTS_IN_ONE_PROCESS=1"});
    EXPECT_EQ(r.exitStatus(), 1) << r.out;
    EXPECT_TRUE(r.has("state left by another test")) << r.out;

    // A listing is gtest's own.
    r = runSelf("listing", {"--gtest_also_run_disabled_tests", both, "--gtest_list_tests"});
    EXPECT_EQ(r.exitStatus(), 0) << r.out;
    EXPECT_TRUE(r.has("ProcessPerTestSelf.\n  DISABLED_StartsFreshAndLeavesStateA\n  DISABLED_StartsFreshAndLeavesStateB\n")) << r.out;
    EXPECT_FALSE(r.has("process of its own")) << r.out;

    // Reports: one file per test in a folder; a single file cannot hold them.
    const std::string reports = platform::Paths::root() + "/reports/";
    r = runSelf("xml", {"--gtest_also_run_disabled_tests", both, "--gtest_output=xml:" + reports});
    EXPECT_EQ(r.exitStatus(), 0) << r.out;
    struct stat st;
    EXPECT_EQ(stat((reports + kA + ".xml").c_str(), &st), 0);
    EXPECT_EQ(stat((reports + kB + ".xml").c_str(), &st), 0);
    r = runSelf("xml file", {"--gtest_also_run_disabled_tests", both, "--gtest_output=xml:" + reports + "all.xml"});
    EXPECT_EQ(r.exitStatus(), 1) << r.out;
    EXPECT_TRUE(r.has("name a folder")) << r.out;
    EXPECT_FALSE(r.has("[       OK ]")) << r.out;
}

// A test past its time-out is ended with what it started, as ctest ends it. Where the kernel lets
// this process take in the orphans, it also sees how they ended; elsewhere (some containers refuse
// a subreaper) it sees that they run no more.
TEST(ProcessPerTest, KillTreeEndsWhatTheProgramStarted)
{
    const bool reaper = prctl(PR_SET_CHILD_SUBREAPER, 1) == 0;
    const std::string pidsFile = platform::Paths::root() + "/pids";
    const std::unique_ptr<Program> p = startSelf("tree", {"--gtest_also_run_disabled_tests",
        "--gtest_filter=ProgramTreeSelf.DISABLED_StartsTwoSleepsAndWaits"}, {"VYR_STARTED_PIDS=" + pidsFile});
    ASSERT_TRUE(p);
    std::vector<pid_t> sleeps;
    ASSERT_TRUE(waitFor([&] { return (sleeps = pidsIn(pidsFile)).size() == 2; }, 30000)) << p->output();
    for (pid_t pid : sleeps)
        ASSERT_FALSE(ended(pid)) << pid;
    p->killTree();
    EXPECT_TRUE(waitFor([&p] { return !p->running(); }, 5000));
    EXPECT_TRUE(WIFSIGNALED(p->status()) && WTERMSIG(p->status()) == SIGKILL) << p->report();
    for (pid_t pid : sleeps) {
        int status = 0;
        if (reaper) {
            EXPECT_TRUE(waitFor([&] { return waitpid(pid, &status, WNOHANG) == pid; }, 5000)) << "process " << pid << " still runs";
            EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) << pid;
        } else {
            EXPECT_TRUE(waitFor([pid] { return ended(pid); }, 5000)) << "process " << pid << " still runs";
        }
        if (!ended(pid) && kill(pid, SIGKILL) == 0) // left running: ended here
            waitpid(pid, &status, 0);
    }
    if (reaper)
        prctl(PR_SET_CHILD_SUBREAPER, 0);
}

// The ending of a tree reads the stat of every process on the machine while others come and go:
// one reaped between the open and the read is gone, not an error.
TEST(ProcessPerTest, StatOfAProcessReapedWhileItIsReadIsEmpty)
{
    for (int i = 0; i < 200; ++i) {
        pid_t pid = -1;
        char* args[] = {const_cast<char*>("true"), nullptr};
        ASSERT_EQ(posix_spawnp(&pid, "true", nullptr, nullptr, args, environ), 0);
        std::thread reaper([pid] { waitpid(pid, nullptr, 0); });
        bool threw = false;
        for (std::vector<std::string> f = {""}; !f.empty() && !threw;) {
            try {
                f = procStatFields(pid);
            } catch (const std::exception&) {
                threw = true;
            }
        }
        reaper.join();
        ASSERT_FALSE(threw) << "round " << i;
    }
}

// Every end a test can come to, each with its verdict, and the run's exit status: a hang past its
// time-out is ended with the processes it started; a child a passing test leaves behind keeps
// neither its verdict nor the run waiting.
TEST(ProcessPerTest, EveryOutcomeHasItsVerdictAndAFailureFailsTheRun)
{
    const std::string pidsFile = platform::Paths::root() + "/pids";
    const int limitS = TimeLimit::ms(2000) / 1000;
    Ran r = runSelf("planted", {"--gtest_also_run_disabled_tests", "--gtest_filter=ProcessPerTestSelf.*:PlantedOutcomeSelf.*:ProgramTreeSelf.*"},
                    {std::string(kPlanted) + "=1", "VYR_STARTED_PIDS=" + pidsFile, "VYR_TEST_TIMEOUT_S=" + std::to_string(limitS)});
    EXPECT_EQ(r.exitStatus(), 1) << r.out;
    EXPECT_TRUE(r.has("Running 12 tests from 3 test suites, each in a process of its own")) << r.out;
    const std::string planted = "PlantedOutcomeSelf.DISABLED_";
    const std::string ok = "[       OK ] ", skipped = "[  SKIPPED ] ", failed = "[  FAILED  ] ";
    const struct {
        std::string verdict, test, why;
    } rows[] = {
        {ok, kA, ""},
        {ok, kB, ""},
        {ok, kQuiet, ""},
        {ok, planted + "LeavesAChildBehind", ""},
        {skipped, kSkips, ""},
        {failed, kFails, "exit status 1, "},
        {failed, kKilled, "ended by signal 9, "},
        {failed, planted + "Aborts", "ended by signal 6, "},
        {failed, planted + "Segfaults", "ended by signal 11, "},
        {failed, planted + "FailsAfterPrintingTheSkipMarker", "exit status 1, "},
        {failed, planted + "ExitsBeforeItsEnd", "ran no test of this name, "},
        {failed, "ProgramTreeSelf.DISABLED_StartsTwoSleepsAndWaits", "did not end within " + std::to_string(limitS) + " s, "},
    };
    for (const auto& row : rows) {
        const std::string line = row.verdict + row.test + " (" + row.why;
        EXPECT_EQ(r.count(line), 1u) << line << "\n" << r.out;
    }
    EXPECT_TRUE(r.has("failed on purpose")) << "a failed test's own output: " << r.out;
    EXPECT_TRUE(r.has("[  PASSED  ] 4 tests.\n[  SKIPPED ] 1 test, listed below:\n[  SKIPPED ] " + kSkips +
                      "\n[  FAILED  ] 7 tests, listed below:\n[  FAILED  ] " + kFails + "\n[  FAILED  ] " + kKilled))
        << r.out;
    EXPECT_TRUE(r.has("\n 7 FAILED TESTS\n")) << r.out;
    const std::vector<pid_t> hung = pidsIn(pidsFile), left = pidsIn(pidsFile + ".left");
    EXPECT_EQ(hung.size(), 2u);
    for (pid_t pid : hung)
        EXPECT_TRUE(waitFor([pid] { return ended(pid); }, 5000)) << "process " << pid << " of the hung test still runs";
    ASSERT_EQ(left.size(), 1u) << "the child was started";
    kill(left[0], SIGKILL);

    // A shard of them (B, the killed one, the quiet one): each child runs its one test, whatever
    // shard this is.
    r = runSelf("shard", {"--gtest_also_run_disabled_tests", "--gtest_filter=ProcessPerTestSelf.*"},
                {"GTEST_TOTAL_SHARDS=2", "GTEST_SHARD_INDEX=1"});
    EXPECT_EQ(r.exitStatus(), 0) << r.out;
    EXPECT_TRUE(r.has("Running 3 tests from 1 test suite")) << r.out;
    EXPECT_TRUE(r.has("[       OK ] " + kB + " (")) << r.out;
    EXPECT_TRUE(r.has("[  SKIPPED ] " + kKilled + " (")) << "skipped without the planted variable: " << r.out;
    EXPECT_FALSE(r.has(kA)) << r.out;
}

}
