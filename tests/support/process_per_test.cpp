#include "process_per_test.h"

#include "program.h"
#include "test_selection.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <set>
#include <sstream>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

// From tests/CMakeLists.txt: VYR_TIMING_TESTS, its timing tests as "folder:pattern" words,
// ctest's time-outs in seconds, VYR_TEST_TIMEOUT and VYR_TIMING_TEST_TIMEOUT, and the exit status
// of a skipped test, VYR_SKIPPED_EXIT_CODE.

namespace ProcessPerTest {
namespace {

using Clock = std::chrono::steady_clock;
const char* const kOutcomeFile = "VYR_TEST_OUTCOME";

class OutcomeFile : public ::testing::EmptyTestEventListener {
public:
    explicit OutcomeFile(std::string path) : m_path(std::move(path)) {}
    void OnTestProgramEnd(const ::testing::UnitTest& all) override
    {
        if (FILE* f = fopen(m_path.c_str(), "w")) {
            fprintf(f, "%d %d %d\n", all.successful_test_count(), all.skipped_test_count(), all.failed_test_count());
            fclose(f);
        }
    }

private:
    std::string m_path;
};

std::string counted(size_t n, const char* what)
{
    return std::to_string(n) + " " + what + (n == 1 ? "" : "s");
}

long long msSince(Clock::time_point start)
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

class Runner {
public:
    Runner(const std::vector<std::string>& args, std::string work) : m_args(args), m_work(std::move(work))
    {
        char self[4096];
        const ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1); // the program, also under qemu-user
        m_self = n > 0 ? std::string(self, size_t(n)) : args.at(0);
        // The shard is chosen here: each child runs the one test it is given.
        for (char** e = environ; *e; ++e)
            if (strncmp(*e, "GTEST_TOTAL_SHARDS=", 19) != 0 && strncmp(*e, "GTEST_SHARD_INDEX=", 18) != 0)
                m_env.push_back(*e);
        // The runner's own tests give their planted hang a shorter time-out.
        const char* limit = getenv("VYR_TEST_TIMEOUT_S");
        m_limitS = limit ? atoi(limit) : 0;
        const char* jobs = getenv("VYR_JOBS");
        m_jobs = jobs && atoi(jobs) > 0 ? size_t(atoi(jobs)) : std::max(1u, std::thread::hardware_concurrency());
        // As ctest picks them: a suite name ending in "Timing", or this folder's entries.
        std::string folder = m_self.substr(m_self.rfind('/') + 1);
        folder = folder.rfind("test_", 0) == 0 ? folder.substr(5) : folder;
        m_timing = "*Timing.*";
        std::istringstream entries(VYR_TIMING_TESTS);
        for (std::string e; entries >> e;)
            if (e.rfind(folder + ":", 0) == 0)
                m_timing += ":" + e.substr(folder.size() + 1);
    }

    // The tests once: all but the timing ones m_jobs at a time, then those one by one. True when
    // every one passed (or skipped).
    bool runOnce(const std::vector<std::string>& tests)
    {
        std::vector<std::string> queue, timing;
        for (const std::string& t : tests)
            (TestSelection::filterMatches(m_timing, t) ? timing : queue).push_back(t);
        const size_t alone = queue.size();
        queue.insert(queue.end(), timing.begin(), timing.end());
        std::set<std::string> suites;
        for (const std::string& t : tests)
            suites.insert(t.substr(0, t.find('.')));
        printf("[==========] Running %s from %s, each in a process of its own (%zu at a time).\n",
               counted(tests.size(), "test").c_str(), counted(suites.size(), "test suite").c_str(), m_jobs);
        fflush(stdout);
        m_passed = 0;
        m_skipped.clear();
        m_failed.clear();
        const auto began = Clock::now();
        std::vector<Child> running;
        size_t next = 0;
        const bool failFast = GTEST_FLAG_GET(fail_fast);
        while (running.size() + queue.size() > next) {
            while (next < queue.size() && !(failFast && !m_failed.empty())) {
                const bool timed = next >= alone;
                if (timed ? !running.empty() : running.size() >= m_jobs)
                    break;
                running.push_back(start(queue[next++], timed));
                if (timed)
                    break;
            }
            bool ended = false;
            for (size_t i = 0; i < running.size();) {
                Child& c = running[i];
                const bool stillRunning = c.program->running();
                if (stillRunning && msSince(c.started) <= 1000LL * c.limitS) {
                    ++i;
                    continue;
                }
                if (stillRunning) // past its time-out
                    c.program->killTree();
                finish(c, stillRunning);
                running.erase(running.begin() + long(i)); // kills it when late
                ended = true;
            }
            if (!ended)
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
            if (failFast && !m_failed.empty() && running.empty())
                break;
        }
        // Listed in the order of the selection, whatever order they ended in.
        const auto inOrder = [&tests](const std::string& a, const std::string& b) {
            return std::find(tests.begin(), tests.end(), a) < std::find(tests.begin(), tests.end(), b);
        };
        std::sort(m_skipped.begin(), m_skipped.end(), inOrder);
        std::sort(m_failed.begin(), m_failed.end(), inOrder);
        summary(m_passed + m_skipped.size() + m_failed.size(), suites.size(), msSince(began));
        return m_failed.empty();
    }

private:
    struct Child {
        std::string name, dir;
        std::unique_ptr<Program> program;
        Clock::time_point started;
        int limitS;
    };

    Child start(const std::string& name, bool timed)
    {
        const std::string dir = m_work + "/run" + std::to_string(++m_started);
        mkdir(dir.c_str(), 0755);
        std::vector<std::string> argv = m_args;
        argv[0] = m_self;
        argv.push_back("--gtest_filter=" + name);
        argv.push_back("--gtest_repeat=1");
        const std::string output = GTEST_FLAG_GET(output);
        if (!output.empty()) { // "format:folder/": a file per test
            std::string file = name;
            for (char& ch : file)
                ch = ch == '/' ? '_' : ch;
            argv.push_back("--gtest_output=" + output + file + "." + output.substr(0, output.find(':')));
        }
        std::vector<std::string> env = m_env;
        env.push_back(std::string(kOutcomeFile) + "=" + dir + "/outcome");
        return Child{name, dir, std::make_unique<Program>(dir, argv, env), Clock::now(),
                     m_limitS > 0 ? m_limitS : timed ? VYR_TIMING_TEST_TIMEOUT : VYR_TEST_TIMEOUT};
    }

    void finish(Child& c, bool late)
    {
        const long long ms = msSince(c.started);
        const std::string out = c.program->output();
        const int status = c.program->status();
        std::string failure;
        bool skipped = false;
        if (!c.program->started())
            failure = "could not be started: " + c.program->startError();
        else if (late)
            failure = "did not end within " + std::to_string(c.limitS) + " s";
        else if (WIFSIGNALED(status))
            failure = "ended by signal " + std::to_string(WTERMSIG(status));
        else if (WEXITSTATUS(status) != 0 && WEXITSTATUS(status) != VYR_SKIPPED_EXIT_CODE)
            failure = "exit status " + std::to_string(WEXITSTATUS(status));
        else {
            // The exit status and the outcome file agree, or the test did not run to its end.
            int passed = 0, skips = 0, failed = 0;
            FILE* f = fopen((c.dir + "/outcome").c_str(), "r");
            skipped = WEXITSTATUS(status) == VYR_SKIPPED_EXIT_CODE;
            if (!f || fscanf(f, "%d %d %d", &passed, &skips, &failed) != 3 || passed + skips != 1 || failed != 0 ||
                skipped != (skips == 1))
                failure = "ran no test of this name";
            if (f)
                fclose(f);
        }
        if (!failure.empty()) {
            m_failed.push_back(c.name);
            printf("%s%s[  FAILED  ] %s (%s, %lld ms)\n", out.c_str(), out.empty() || out.back() == '\n' ? "" : "\n",
                   c.name.c_str(), failure.c_str(), ms);
        } else if (skipped) {
            m_skipped.push_back(c.name);
            printf("[  SKIPPED ] %s (%lld ms)\n", c.name.c_str(), ms);
        } else {
            ++m_passed;
            printf("[       OK ] %s (%lld ms)\n", c.name.c_str(), ms);
        }
        fflush(stdout);
    }

    void summary(size_t ran, size_t suites, long long ms)
    {
        printf("[==========] %s from %s ran, each in a process of its own. (%lld ms total)\n",
               counted(ran, "test").c_str(), counted(suites, "test suite").c_str(), ms);
        printf("[  PASSED  ] %s.\n", counted(m_passed, "test").c_str());
        if (!m_skipped.empty()) {
            printf("[  SKIPPED ] %s, listed below:\n", counted(m_skipped.size(), "test").c_str());
            for (const std::string& t : m_skipped)
                printf("[  SKIPPED ] %s\n", t.c_str());
        }
        if (!m_failed.empty()) {
            printf("[  FAILED  ] %s, listed below:\n", counted(m_failed.size(), "test").c_str());
            for (const std::string& t : m_failed)
                printf("[  FAILED  ] %s\n", t.c_str());
            printf("\n%2zu FAILED %s\n", m_failed.size(), m_failed.size() == 1 ? "TEST" : "TESTS");
        }
        fflush(stdout);
    }

    std::vector<std::string> m_args;
    std::string m_work, m_self, m_timing;
    std::vector<std::string> m_env;
    size_t m_jobs = 1;
    int m_limitS = 0;
    int m_started = 0;
    size_t m_passed = 0;
    std::vector<std::string> m_skipped, m_failed;
};

}

bool wanted(const std::vector<std::string>& tests, int argc, char** argv)
{
    const char* one = getenv("VYR_TESTS_IN_ONE_PROCESS");
    if (tests.size() < 2 || GTEST_FLAG_GET(list_tests) || (one && *one))
        return false;
    // What gtest leaves in argv and answers with its help: the help flags and unknown gtest flags.
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--help" || a == "-h" || a == "-?" || a == "/?")
            return false;
        for (const char* prefix : {"--gtest", "-gtest", "/gtest"})
            if (a.rfind(prefix, 0) == 0)
                return false;
    }
    return true;
}

void reportOutcome()
{
    // Read once: the test's own children (programs, this program again) do not write it.
    if (const char* path = getenv(kOutcomeFile)) {
        ::testing::UnitTest::GetInstance()->listeners().Append(new OutcomeFile(path));
        unsetenv(kOutcomeFile);
    }
}

int exitStatus(int result)
{
    const ::testing::UnitTest& all = *::testing::UnitTest::GetInstance();
    const bool oneSkipped = all.test_to_run_count() == 1 && all.skipped_test_count() == 1;
    return result == 0 && oneSkipped ? VYR_SKIPPED_EXIT_CODE : result;
}

int run(const std::vector<std::string>& args, const std::vector<std::string>& tests, const std::string& work)
{
    const std::string output = GTEST_FLAG_GET(output);
    if (!output.empty() && (output.find(':') == std::string::npos || output.back() != '/')) {
        fprintf(stderr, "--gtest_output=%s: each test runs in a process of its own and writes a file of its own: "
                        "name a folder (xml:dir/), or run one test\n", output.c_str());
        return 1;
    }
    Runner runner(args, work);
    const int repeat = GTEST_FLAG_GET(repeat);
    bool passed = true;
    for (int i = 0; repeat < 0 || i < repeat; ++i) {
        if (repeat != 1)
            printf("\nRepeating all tests (iteration %d) . . .\n\n", i + 1);
        passed = runner.runOnce(tests) && passed;
    }
    return passed ? 0 : 1;
}

}
