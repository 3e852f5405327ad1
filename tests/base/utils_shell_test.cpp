// Shell commands through the recording shell: status handling, the mutex, the Ethernet set-up
// and the file-format helper.
#include "base/global.h"
#include "platform/sim/sim_board.h"
#include "test_root.h"
#include "time_limit.h"
#include "lock_waiters.h"
#include "program.h"
#include "base/utils.h"

#include <QMutexLocker>
#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <string>
#include <vector>

namespace {

using Commands = std::vector<std::string>;
const char* const kProbe = "ifconfig eth0 &>/dev/null";

class UtilsShell : public ::testing::Test {
protected:
    void SetUp() override
    {
        platform::Sim::shellSim().clearScripts();
        platform::Sim::shellSim().clearLog();
        g_debugSwitch = 0;
        g_str_ip = "10.1.2.3";
        g_srt_mask = "255.255.0.0";
        g_str_gateway = "10.1.0.1";
    }
    static Commands commands() { return platform::Sim::shellSim().commands(); }
};

TEST_F(UtilsShell, SystemMutexStatus)
{
    platform::Sim::shellSim().script("hwclock -s", 1);
    int status = -1;
    EXPECT_EQ(Utils::system_mutex("hwclock -s", &status), 255);
    EXPECT_EQ(status, 256); // raw wait status of exit code 1

    status = -1;
    EXPECT_EQ(Utils::system_mutex("hwclock -r", &status), 0);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(Utils::system_mutex("hwclock -s"), 255); // no status slot
    EXPECT_EQ(Utils::system_plain("hwclock -s"), 255);
    EXPECT_EQ(commands(), (Commands{"hwclock -s", "hwclock -r", "hwclock -s", "hwclock -s"}));
}

TEST_F(UtilsShell, SystemMutexWaitsForTheMutexButPlainDoesNot)
{
    std::future<int> locked, plain;
    {
        QMutexLocker hold(&Utils::_system_mutex);
        locked = std::async(std::launch::async, [] { return Utils::system_mutex("date -s 1"); });
        plain = std::async(std::launch::async, [] { return Utils::system_plain("sync"); });
        ASSERT_EQ(plain.wait_for(TimeLimit::of(5000)), std::future_status::ready);
        EXPECT_TRUE(waitFor([] { return LockWaiters::waited(Utils::_system_mutex); }, 5000)) << "the command waits for the mutex";
        EXPECT_EQ(commands(), (Commands{"sync"}));
    }
    EXPECT_EQ(locked.get(), 0);
    EXPECT_EQ(commands(), (Commands{"sync", "date -s 1"}));
}

TEST_F(UtilsShell, InitIPAddressCommandsInOrder)
{
    EXPECT_EQ(Utils::initIPAddress(), 0u);
    EXPECT_EQ(commands(), (Commands{kProbe, "route del default wlan0", "ifconfig eth0 10.1.2.3 netmask 255.255.0.0",
                                    "route add -host 10.1.0.1 dev eth0", "route add default gw 10.1.0.1 metric 100",
                                    "route add -host 255.255.255.255 eth0", "route del 255.255.255.255 wlan1"}));
}

TEST_F(UtilsShell, InitIPAddressWithoutEth0)
{
    platform::Sim::shellSim().script(kProbe, 1);
    EXPECT_EQ(Utils::initIPAddress(), 255u);
    EXPECT_EQ(commands(), (Commands{kProbe}));
}

TEST_F(UtilsShell, InitIPAddressRefusesNonAddresses)
{
    const QString good[] = {"10.1.2.3", "255.255.0.0", "10.1.0.1"};
    const QString bad[] = {"10.1.2.3;reboot", "255.255.0", "10.1.0.1 && route del default"};
    for (int which = 0; which < 3; ++which) {
        platform::Sim::shellSim().clearLog();
        g_str_ip = which == 0 ? bad[0] : good[0];
        g_srt_mask = which == 1 ? bad[1] : good[1];
        g_str_gateway = which == 2 ? bad[2] : good[2];
        EXPECT_EQ(Utils::initIPAddress(), 255u) << which;
        EXPECT_EQ(commands(), (Commands{kProbe})) << which;
    }
    EXPECT_TRUE(TestRoot::readFile("/data/keltoqz/log/jtcEnglneLog").contains("[ERROR   ]"));
}

TEST_F(UtilsShell, ChangeFileFormatQuotesThePath)
{
    EXPECT_EQ(Utils::change_file_formt("/data/missing.txt"), -1);
    EXPECT_TRUE(commands().empty());

    ASSERT_TRUE(TestRoot::writeFile("/data/it's a file.txt", "x\r\n"));
    EXPECT_EQ(Utils::change_file_formt("/data/it's a file.txt"), 0);
    const std::string quoted = "'/data/it'\\''s a file.txt'";
    EXPECT_EQ(commands(), (Commands{"dos2unix " + quoted, "sync", "sed -i '1s/^\\xEF\\xBB\\xBF//' " + quoted, "sync"}));
}

}
