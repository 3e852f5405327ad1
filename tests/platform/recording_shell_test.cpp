#include "platform/shell.h"
#include "platform/sim/sim_board.h"
#include "test_root.h"

#include <QStringList>
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using platform::shell;
using platform::Sim::shellSim;

TEST(RecordingShell, LogsEveryCommandVerbatim)
{
    const std::vector<std::string> sent = {
        "rm  -rf  /data/modes/custom_mode3",
        "cp  /data/configs/omenu.json /data/modes/MO0c.json",
        "sync",
        "ifconfig eth0 &>/dev/null",
        "  route add default gw 192.168.1.1 metric 100\t",
    };
    for (const std::string& c : sent)
        shell().system(c);

    EXPECT_EQ(shellSim().commands(), sent);
    const QStringList lines = TestRoot::shellLog();
    ASSERT_EQ(lines.size(), int(sent.size()));
    for (size_t i = 0; i < sent.size(); ++i)
        EXPECT_EQ(lines[int(i)].toStdString(), sent[i]);

    shellSim().clearLog();
    EXPECT_TRUE(shellSim().commands().empty());
    EXPECT_TRUE(TestRoot::shellLog().isEmpty());
    shell().system("sync");
    EXPECT_EQ(TestRoot::shellLog(), QStringList{"sync"});
}

TEST(RecordingShell, BoardToolsAnswerFromScriptsWithRawStatus)
{
    shellSim().script("ifconfig eth0 &>/dev/null", 1);
    shellSim().script("route", 2);
    shellSim().script("route add", 3);
    shellSim().script("date", 0, "Mon Jan  1 00:00:00 UTC 2024\n");

    EXPECT_EQ(shell().system("ifconfig eth0 &>/dev/null"), 256);
    EXPECT_EQ(shell().system("ifconfig eth0 192.168.1.5 netmask 255.255.255.0"), 0);
    EXPECT_EQ(shell().system("route add default gw 10.0.0.1 metric 100"), 3 * 256);
    EXPECT_EQ(shell().system("route del default wlan0"), 2 * 256);
    EXPECT_EQ(shell().system("hwclock -w"), 0); // unscripted tools succeed silently

    std::string out = "stale";
    EXPECT_EQ(shell().capture("date", &out), 0);
    EXPECT_EQ(out, "Mon Jan  1 00:00:00 UTC 2024\n");
    EXPECT_EQ(shell().capture("pidof hostapd", &out), 0);
    EXPECT_EQ(out, "");

    shellSim().clearScripts();
    EXPECT_EQ(shell().system("ifconfig eth0 &>/dev/null"), 0);
    EXPECT_EQ(shellSim().commands().size(), 8u);
}

TEST(RecordingShell, ScriptsOverrideTheFileCommandsToo)
{
    ASSERT_TRUE(TestRoot::writeFile("/data/a", "x"));
    shellSim().script("cp /data/a", 1);
    EXPECT_EQ(shell().system("cp /data/a /data/b"), 256);
    EXPECT_FALSE(TestRoot::exists("/data/b"));
}

TEST(RecordingShell, BoardToolsAreNeverRun)
{
    // Were they run, sed would rewrite the file and kill would end this test process.
    char path[] = "/tmp/vyr-sed-XXXXXX";
    const int fd = mkstemp(path);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(write(fd, "abc\n", 4), 4);
    close(fd);
    EXPECT_EQ(shell().system(std::string("sed -i 's/abc/xyz/' ") + path), 0);
    EXPECT_EQ(shell().system("dos2unix " + std::string(path)), 0);
    EXPECT_EQ(shell().system("kill -9 " + std::to_string(getpid())), 0);
    EXPECT_EQ(shell().system("chattr +S " + std::string(path)), 0);
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    unlink(path);
    EXPECT_EQ(text.str(), "abc\n");
}

TEST(RecordingShell, UnknownCommandsAreRecordedAndNotFound)
{
    std::string out;
    EXPECT_EQ(shell().system("touch /data/x"), 127 * 256);
    EXPECT_EQ(shell().capture("echo hello", &out), 127 * 256);
    EXPECT_EQ(out, "");
    EXPECT_FALSE(TestRoot::exists("/data/x"));
    EXPECT_EQ(shellSim().commands(), (std::vector<std::string>{"touch /data/x", "echo hello"}));
    EXPECT_EQ(shell().system(""), 0);
}

TEST(RecordingShell, RebootCallsTheHandler)
{
    int reboots = 0;
    shellSim().setRebootHandler([&] {
        ++reboots;
        shell().system("sync"); // the handler may use the shell again
    });
    EXPECT_EQ(shell().system("reboot"), 0);
    EXPECT_EQ(shell().system("/sbin/reboot -f"), 0);
    EXPECT_EQ(reboots, 2);
    EXPECT_EQ(shellSim().commands(), (std::vector<std::string>{"reboot", "sync", "/sbin/reboot -f", "sync"}));
}

TEST(RecordingShellDeathTest, RebootFlushesAndEndsTheProcessWithCode77)
{
    // A forked child shares this root, so what it left buffered can be read back here.
    const std::string pending = TestRoot::path("/data/pending.txt");
    ASSERT_TRUE(TestRoot::writeFile("/data/pending.txt", ""));
    EXPECT_EXIT(
        {
            FILE* f = std::fopen(pending.c_str(), "w");
            std::fputs("buffered", f);
            shell().system("reboot");
            std::exit(0);
        },
        ::testing::ExitedWithCode(77), "");
    EXPECT_EQ(TestRoot::readFile("/data/pending.txt"), "buffered");
}

TEST(RecordingShell, ConcurrentCommandsKeepWholeLines)
{
    constexpr int Threads = 4;
    constexpr int PerThread = 50;
    std::vector<std::thread> workers;
    for (int t = 0; t < Threads; ++t) {
        workers.emplace_back([t] {
            for (int i = 0; i < PerThread; ++i)
                shell().system("route add -host 10.0." + std::to_string(t) + "." + std::to_string(i) + " dev eth0");
        });
    }
    for (std::thread& w : workers)
        w.join();

    const QStringList lines = TestRoot::shellLog();
    ASSERT_EQ(lines.size(), Threads * PerThread);
    for (int t = 0; t < Threads; ++t)
        for (int i = 0; i < PerThread; ++i)
            EXPECT_EQ(lines.count(QString("route add -host 10.0.%1.%2 dev eth0").arg(t).arg(i)), 1);
    EXPECT_EQ(shellSim().commands().size(), size_t(Threads * PerThread));
}

}
