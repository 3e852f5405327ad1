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

// system() and capture() hand the line to /bin/sh; the status is the raw wait status and the
// output arrives whole, past the reader's 512-byte buffer and through zero bytes.
TEST(BinShellLines, StatusAndOutputAsTheShellGaveThem)
{
    platform::Shell& sh = platform::shell();
    EXPECT_EQ(sh.system("true"), 0);
    EXPECT_EQ(sh.system("exit 3"), 3 << 8);
    std::string out = "stale";
    EXPECT_EQ(sh.capture("echo one; echo two", &out), 0);
    EXPECT_EQ(out, "one\ntwo\n");
    EXPECT_EQ(sh.capture("printf 'a\\000b'; exit 2", &out), 2 << 8);
    EXPECT_EQ(out, std::string("a\0b", 3));
    EXPECT_EQ(sh.capture("printf '%1300s' x", &out), 0);
    EXPECT_EQ(out, std::string(1299, ' ') + "x");
    EXPECT_EQ(sh.capture("false", &out), 1 << 8);
    EXPECT_EQ(out, "");
    EXPECT_EQ(sh.capture("echo dropped", nullptr), 0);
}
