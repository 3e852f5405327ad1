// Starts the real program on the simulated board and checks what its first start leaves behind.
#include "test_root.h"
#include "platform/paths.h"

#include <QElapsedTimer>
#include <fcntl.h>
#include <functional>
#include <signal.h>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <vector>
#include <QThread>
#include <gtest/gtest.h>

namespace {

bool waitFor(const std::function<bool()>& condition, int timeoutMs)
{
    QElapsedTimer timer;
    timer.start();
    while (!condition()) {
        if (timer.elapsed() > timeoutMs)
            return false;
        QThread::msleep(20);
    }
    return true;
}

// The program as a child process (posix_spawn, so its state is read straight from waitpid).
class Program {
public:
    Program()
    {
        const std::string root = platform::Paths::root();
        const std::string out = root + "/program.out";
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        posix_spawn_file_actions_adddup2(&actions, 1, 2);
        std::vector<std::string> env = {"VYR_ROOT=" + root, "QT_QPA_PLATFORM=offscreen", "LC_ALL=C",
                                        "PATH=" + std::string(getenv("PATH") ? getenv("PATH") : "/usr/bin:/bin")};
        std::vector<char*> envp;
        for (std::string& e : env)
            envp.push_back(e.data());
        envp.push_back(nullptr);
        // A cross-built program runs under the tests' emulator ("qemu-arm -L <sysroot>").
        std::vector<std::string> words;
        for (const QString& w : QString(VYR_EMULATOR).split(' ', Qt::SkipEmptyParts))
            words.push_back(w.toStdString());
        words.push_back(VYR_BINARY_DIR "/vyrR58N");
        std::vector<char*> argv;
        for (std::string& w : words)
            argv.push_back(w.data());
        argv.push_back(nullptr);
        if (posix_spawnp(&pid_, argv[0], &actions, nullptr, argv.data(), envp.data()) != 0)
            pid_ = -1;
        posix_spawn_file_actions_destroy(&actions);
    }
    ~Program()
    {
        if (running()) {
            kill(pid_, SIGKILL);
            waitpid(pid_, &status_, 0);
        }
    }
    bool running()
    {
        if (pid_ <= 0 || exited_)
            return false;
        if (waitpid(pid_, &status_, WNOHANG) == pid_)
            exited_ = true;
        return !exited_;
    }
    std::string report()
    {
        return "status " + std::to_string(status_) + ", output: " +
               TestRoot::readFile("/program.out").toStdString();
    }

private:
    pid_t pid_ = -1;
    int status_ = 0;
    bool exited_ = false;
};

}

TEST(ProgramStart, FirstStartCreatesItsFilesAndKeepsRunning)
{
    Program program;
    ASSERT_TRUE(waitFor([] { return TestRoot::readFile("/data/ram_device_info").size() == 4096; }, 15000));
    ASSERT_TRUE(waitFor([] { return TestRoot::exists("/data/keltoqz/log/jtcEnglneLog"); }, 5000));
    ASSERT_TRUE(waitFor([] { return TestRoot::readFile("/data/configs/tcpip.ini").contains("TcpPort=5005"); }, 5000));
    const QByteArray para = TestRoot::readFile("/data/ram_device_info");
    EXPECT_EQ(uint8_t(para[0]), 0xAA);
    EXPECT_EQ(uint8_t(para[1]), 0xAA);
    QThread::msleep(300);
    EXPECT_TRUE(program.running()) << program.report();
}

TEST(ProgramStart, SecondStartKeepsTheSavedFile)
{
    QByteArray saved(4096, '\0');
    saved[0] = char(0xAA);
    saved[1] = char(0xAA);
    saved[0x582] = 42; // brightness
    ASSERT_TRUE(TestRoot::writeFile("/data/ram_device_info", saved));
    ASSERT_TRUE(TestRoot::writeFile("/data/configs/tcpip.ini", "[config]\nTcpPort=6006\n"));
    Program program;
    ASSERT_TRUE(waitFor([] { return TestRoot::exists("/data/keltoqz/log/jtcEnglneLog"); }, 15000));
    ASSERT_TRUE(waitFor([] { return TestRoot::readFile("/data/configs/tcpip.ini").contains("UdpPort"); }, 5000));
    QThread::msleep(500);
    EXPECT_TRUE(program.running()) << program.report();
    EXPECT_EQ(TestRoot::readFile("/data/ram_device_info"), saved) << "a valid file is loaded, not rewritten";
    EXPECT_TRUE(TestRoot::readFile("/data/configs/tcpip.ini").contains("TcpPort=6006"));
}

TEST(ProgramStart, DamagedFileIsReplacedByTheDefaults)
{
    ASSERT_TRUE(TestRoot::writeFile("/data/ram_device_info", QByteArray(100, '\x55')));
    Program program;
    ASSERT_TRUE(waitFor([] {
        const QByteArray f = TestRoot::readFile("/data/ram_device_info");
        return f.size() == 4096 && uint8_t(f[0]) == 0xAA;
    }, 15000));
    const QByteArray para = TestRoot::readFile("/data/ram_device_info");
    EXPECT_EQ(uint8_t(para[0x582]), 100) << "defaults, never zeros";
}
