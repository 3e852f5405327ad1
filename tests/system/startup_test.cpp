// Starts the real program on the simulated board and checks what its first start leaves behind.
#include "test_root.h"
#include "platform/paths.h"

#include "program.h"

#include <QThread>
#include <gtest/gtest.h>

TEST(ProgramStart, FirstStartCreatesItsFilesAndKeepsRunning)
{
    Program program(platform::Paths::root());
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
    Program program(platform::Paths::root());
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
    Program program(platform::Paths::root());
    ASSERT_TRUE(waitFor([] {
        const QByteArray f = TestRoot::readFile("/data/ram_device_info");
        return f.size() == 4096 && uint8_t(f[0]) == 0xAA;
    }, 15000));
    const QByteArray para = TestRoot::readFile("/data/ram_device_info");
    EXPECT_EQ(uint8_t(para[0x582]), 100) << "defaults, never zeros";
}
