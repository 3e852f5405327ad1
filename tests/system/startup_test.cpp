// Starts the real program on the simulated board and checks what its first start leaves behind.
#include "test_root.h"
#include "params/block_layout.h"
#include "platform/paths.h"

#include "frame_client.h"
#include "program.h"

#include <QThread>
#include <chrono>
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
    QThread::msleep(ulong(TimeLimit::ms(300))); // still running a while later
    EXPECT_TRUE(program.running()) << program.report();
}

TEST(ProgramStart, SecondStartKeepsTheSavedFile)
{
    QByteArray saved(4096, '\0');
    saved[0] = char(0xAA);
    saved[1] = char(0xAA);
    const int brightness = int(blk::kBrightness - kPersistStart + 2);
    saved[brightness] = 42; // the defaults hold 100
    // A size the box shows, so the start takes nothing back; what the box then derives from the block
    // (the canvas rows, a fade it fills in) may be saved over it, the loaded settings may not.
    auto put16 = [&saved](uint32_t field, uint16_t v) {
        saved[int(field - kPersistStart + 2)] = char(v & 0xFF);
        saved[int(field - kPersistStart + 3)] = char(v >> 8);
    };
    put16(blk::kLedWidth, 1920);
    put16(blk::kLedHeight, 1080);
    put16(blk::kOutput1Width, 1920);
    put16(blk::kOutput1Height, 1080);
    ASSERT_TRUE(TestRoot::writeFile("/data/ram_device_info", saved));
    const int port = freeTcpPort();
    ASSERT_GT(port, 0);
    ASSERT_TRUE(TestRoot::writeFile("/data/configs/tcpip.ini", "[config]\nTcpPort=" + QByteArray::number(port) + "\n"));
    // What the killed run left: its check copy, the USB upgrade's program, every writer's cut
    // temporary, the INI's lock (Qt takes it for live until it is 30 s old) and the chain Qt leaves
    // beside a stale one. A tool's own files stay, whatever their names.
    const char* leftovers[] = {"/data/app/vyrR58N2.check", "/data/app/vyrR58N2.usb", "/data/app/vyrR58N2.usb.atomic-tmp",
                               "/data/app/vyrR58N2.atomic-tmp", "/data/rcvrecovery/card.rcv.atomic-tmp",
                               "/data/configs/cloud_cafile.atomic-tmp", "/etc/udhcpd.conf.atomic-tmp",
                               "/etc/rtl_hostapd_2G.conf.atomic-tmp", "/data/configs/tcpip.ini.lock",
                               "/data/configs/tcpip.ini.lock.rmlock.rmlock"};
    for (const char* path : leftovers)
        ASSERT_TRUE(TestRoot::writeFile(path, "4242\nvyrR58N\nanother-host\n"));
    const char* kept[] = {"/data/rcvrecovery/card.rcv", "/data/rcvrecovery/card.part", "/data/smartmapping/map.part"};
    for (const char* path : kept)
        ASSERT_TRUE(TestRoot::writeFile(path, "kept"));
    Program program(platform::Paths::root());
    // Answering on the INI's port: the start is through, the file loaded long before.
    FrameClient tool(port, 20000);
    ASSERT_TRUE(tool.connected()) << program.report();
    ASSERT_EQ(tool.request(Wire::readRegister(4, 0x37)).size(), 13u) << program.report();
    EXPECT_TRUE(program.running()) << program.report();
    const QByteArray file = TestRoot::readFile("/data/ram_device_info");
    ASSERT_EQ(file.size(), 4096);
    EXPECT_EQ(uint8_t(file[0]), 0xAA);
    EXPECT_EQ(int(file[brightness]), 42) << "a valid file is loaded, not replaced by the defaults";
    EXPECT_EQ(file.mid(int(blk::kLedWidth - kPersistStart + 2), 4), saved.mid(int(blk::kLedWidth - kPersistStart + 2), 4));
    EXPECT_TRUE(TestRoot::readFile("/data/configs/tcpip.ini").contains("TcpPort=" + QByteArray::number(port)));
    for (const char* path : leftovers)
        EXPECT_FALSE(TestRoot::exists(path)) << path;
    for (const char* path : kept)
        EXPECT_TRUE(TestRoot::exists(path)) << path;
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

TEST(StartTiming, AnswersOnTheControlPortSoonAfterItsTwoStartPauses)
{
    // Of the start-up only the two pauses of 2 s each are long; what comes beside them (loading,
    // the INI and parameter files, the store's pause after them, the threads) must stay small:
    // 1.5 s on a quiet host.
    const int port = freeTcpPort();
    ASSERT_GT(port, 0);
    ASSERT_TRUE(TestRoot::writeFile("/data/configs/tcpip.ini", "[config]\nTcpPort=" + QByteArray::number(port) + "\n"));
    const auto started = std::chrono::steady_clock::now();
    Program program(platform::Paths::root());
    FrameClient tool(port, 20000);
    ASSERT_TRUE(tool.connected()) << program.report();
    const Bytes reply = tool.request(Wire::readRegister(4, 0x37));
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    ASSERT_EQ(reply.size(), 13u);
    EXPECT_EQ(reply[11], 0x37);
    EXPECT_GE(seconds, 4.0) << "the two start pauses are kept";
    EXPECT_LT(seconds, 4.0 + TimeLimit::ms(1500) / 1000.0) << "seconds from start to the first answer";
}
