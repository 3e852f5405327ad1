// The box's shell backend runs a tool from an argument list without a shell: words with blanks or
// shell characters reach the tool unchanged. Only harmless host tools (test, true) are run.
#include "platform/shell.h"

#include <gtest/gtest.h>
#include <sys/wait.h>

namespace {
int exitCode(int status) { return WIFEXITED(status) ? WEXITSTATUS(status) : -1; }
}

TEST(BinShellArguments, WordsReachTheToolUnparsed)
{
    platform::Shell& sh = platform::shell();
    EXPECT_EQ(exitCode(sh.run({"true"})), 0);
    EXPECT_EQ(exitCode(sh.run({"test", "1", "=", "2"})), 1);
    // A shell would split or act on these; `test` sees each as one word and compares them.
    EXPECT_EQ(exitCode(sh.run({"test", "a b;false", "=", "a b;false"})), 0);
    EXPECT_EQ(exitCode(sh.run({"test", "$(false)", "=", "$(false)"})), 0);
    EXPECT_EQ(exitCode(sh.run({"test", "*", "=", "*"})), 0);
}

TEST(BinShellArguments, MissingToolOrEmptyListIsExitCode127)
{
    platform::Shell& sh = platform::shell();
    EXPECT_EQ(exitCode(sh.run({"no-such-tool-for-this-test"})), 127);
    EXPECT_EQ(exitCode(sh.run({})), 127);
}
