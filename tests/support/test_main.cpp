// Entry of every test program: an offscreen QApplication with the tools' pages registered with the
// panel, the fixed pauses of the program shortened to nothing, and for every test its own temporary
// root, a fresh simulated board and the checks of the emulated chips' rule breaches at its end
// (test_root.h). Several tests selected: each runs in a child process of its own, as under ctest
// (process_per_test.h).
#include "platform/paths.h"
#include "base/delay.h"
#include "base/tsan_defaults.h"
#include "process_per_test.h"
#include "tools/panel_tools.h"
#include "tools/program_check.h"
#include "time_limit.h"
#include "test_root.h"
#include "test_selection.h"

#include <QApplication>
#include <QDir>
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>
#if defined(VYR_ASAN)
#include <sanitizer/lsan_interface.h>
#endif

int main(int argc, char** argv)
{
    const std::vector<std::string> args(argv, argv + argc); // gtest's flags too, for the children
    ::testing::InitGoogleTest(&argc, argv);
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    setenv("LC_TIME", "C", 1);
#if defined(VYR_TESTS_EMULATED)
    // A program the tests' board starts (the check start of an application) runs under the same
    // emulator as the tests.
    setenv("VYR_EMULATOR", VYR_EMULATOR, 1);
#endif

    char pattern[] = "/tmp/vyr-test-XXXXXX";
    const char* root = mkdtemp(pattern);
    if (!root) {
        perror("mkdtemp");
        return 2;
    }
    setenv("VYR_ROOT", root, 1);
    int result;
    const std::vector<std::string> tests = TestSelection::selected();
    if (ProcessPerTest::wanted(tests, argc, argv)) {
        result = ProcessPerTest::run(args, tests, root);
    } else {
        platform::Paths::setRoot(root);
        Delay::setScalePercent(0);
        // A check start runs a program: as slow as the tests' own code in this build.
        program_check::setTimeLimitMs(TimeLimit::ms(program_check::kTimeLimitMs));
        TestRoot::installBoardChecks(root);
        ProcessPerTest::reportOutcome();
#if defined(VYR_ASAN)
        // Qt's offscreen plugin keeps its screen objects past the application's end. Leaving its
        // start out of the leak check spares every test matching them against the suppressions,
        // which reads the sanitizer's own debug information (a third of a short test's time).
        __lsan_disable();
#endif
        QApplication app(argc, argv);
#if defined(VYR_ASAN)
        __lsan_enable();
#endif
        vyr_tsan::orderPostedEvents();
        registerPanelTools(); // as the program's start-up does
        result = ProcessPerTest::exitStatus(RUN_ALL_TESTS());
    }
    if (!getenv("VYR_KEEP_ROOT"))
        QDir(QString::fromLocal8Bit(root)).removeRecursively();
    else
        fprintf(stderr, "kept the test roots under %s\n", root);
    return result;
}
