// The serial transports in this process on the simulated board's pseudo-terminals: the test opens
// the published peer end as a PC tool opens the box's port.
#include "frame_client.h"
#include "line_tool.h"
#include "managers.h"
#include "program.h"
#include "test_root.h"

#include "base/global.h"
#include "base/posix_lock.h"
#include "comm/serial_transport.h"
#include "comm/udpnetmanage.h"
#include "fpga/fpga_manage.h"
#include "platform/sim/devices/fpga_flash.h"
#include "platform/sim/pty_serial.h"

#include <dirent.h>
#include <fcntl.h>
#include <fstream>
#include <gtest/gtest.h>
#include <poll.h>
#include <termios.h>
#include <thread>
#include <unistd.h>

namespace {

using platform::Sim::serialSim;

using Wire::echoReply;

class SerialTransportTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        fpga = startManagersWithoutWorkers().fpga;
        serialSim().failRts(false);
    }
    void TearDown() override
    {
        line4G.reset();
        line.reset();
    }
    void openLines()
    {
        line = std::make_unique<Qz_uart_inout>();
        ASSERT_EQ(line->usart1_init(2, 115200), 0);
        ASSERT_TRUE(line->opened());
        line4G = std::make_unique<Qz_uart_inout_4G>();
        ASSERT_EQ(line4G->usart1_init(1, 115200), 0);
        ASSERT_TRUE(line4G->opened());
    }
    void cardAnswers(const Bytes& answer)
    {
        PosixLock pass(fpga->pass_mutex);
        fpga->forward_card_reply(answer.data(), uint32_t(answer.size()), 0);
    }

    fpga_manage* fpga = nullptr;
    std::unique_ptr<Qz_uart_inout> line;
    std::unique_ptr<Qz_uart_inout_4G> line4G;
};

}

TEST_F(SerialTransportTest, FramesCutAnywhereOrBackToBackAreAllServed)
{
    openLines();
    for (int index : {2, 1}) {
        SCOPED_TRACE(index);
        LineTool tool(index);
        ASSERT_TRUE(tool.opened());
        // One frame over three writes.
        const Bytes w = Wire::stuff(Wire::readRegister(4, 0x37));
        ASSERT_TRUE(tool.send(Bytes(w.begin(), w.begin() + 4)));
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
        ASSERT_TRUE(tool.send(Bytes(w.begin() + 4, w.begin() + 11)));
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
        ASSERT_TRUE(tool.send(Bytes(w.begin() + 11, w.end())));
        EXPECT_EQ(tool.reply(), echoReply(0x37));
        EXPECT_TRUE(tool.silent(50)) << "answered once";
        // A read ending before the byte it echoes: the check byte is no part of the request.
        ASSERT_TRUE(tool.send(Wire::stuff(Wire::request(0xA1, {0x04}))));
        EXPECT_EQ(tool.reply(), echoReply(0));

        // Three frames in one write, a stray end byte and noise before them: all three served.
        Bytes burst = {0x5A, 0x11, 0x22};
        for (uint8_t i = 1; i <= 3; ++i) {
            const Bytes f = Wire::stuff(Wire::readRegister(4, i));
            burst.insert(burst.end(), f.begin(), f.end());
        }
        ASSERT_TRUE(tool.send(burst));
        for (uint8_t i = 1; i <= 3; ++i)
            EXPECT_EQ(tool.reply(), echoReply(i));
    }
}

TEST_F(SerialTransportTest, NothingIsSentForBadFramesOrEmptyReplies)
{
    openLines();
    LineTool tool(2);
    Bytes bad = Wire::readRegister(4, 0x37);
    bad.back() ^= 1;
    ASSERT_TRUE(tool.send(Wire::stuff(bad)));
    ASSERT_TRUE(tool.send(Wire::stuff(Wire::request(0x55, {0x00}))));
    ASSERT_TRUE(tool.send(Wire::stuff({0x00})));
    EXPECT_TRUE(tool.silent(300));
    ASSERT_TRUE(tool.send(Wire::stuff(Wire::readRegister(4, 9))));
    EXPECT_EQ(tool.reply(), echoReply(9));
}

TEST_F(SerialTransportTest, ReplyLargerThanTheLineRecordIsRefused)
{
    openLines();
    LineTool tool(2);
    // 65,535 bytes of FPGA 0's erased flash (FF, never escaped) fit the 65,556-byte record;
    // 60,000 bytes of 5A need twice that once stuffed.
    ASSERT_TRUE(tool.send(Wire::stuff(Wire::request(0x72, {0x00, 0x00, 0x00, 0x01, 0xFF, 0xFF}))));
    const Bytes whole = tool.reply(10000);
    ASSERT_EQ(whole.size(), 12u + 65535);
    EXPECT_EQ(whole[10], 0);

    platform::Sim::fpgaFlash().store(0x100000, Bytes(60000, 0x5A));
    ASSERT_TRUE(tool.send(Wire::stuff(Wire::request(0x72, {0x00, 0x00, 0x10, 0x01, 0x60, 0xEA}))));
    const Bytes refused = tool.reply(10000);
    ASSERT_EQ(refused.size(), 13u);
    EXPECT_EQ(refused[10], 1);
    EXPECT_TRUE(Wire::checkOk(refused));
}

TEST_F(SerialTransportTest, LineDriverIsOnOnlyWhileAReplyGoesOut)
{
    openLines();
    EXPECT_EQ(serialSim().rtsEdges(2), std::vector<bool>({true})) << "raised when the port opens";
    LineTool tool(2);
    ASSERT_TRUE(tool.send(Wire::stuff(Wire::readRegister(4, 1))));
    EXPECT_EQ(tool.reply(), echoReply(1));
    EXPECT_TRUE(waitFor([] { return serialSim().rtsEdges(2).size() == 3; }, 1000));
    EXPECT_EQ(serialSim().rtsEdges(2), std::vector<bool>({true, false, true}));

    // A port without modem lines answers all the same.
    serialSim().failRts(true);
    ASSERT_TRUE(tool.send(Wire::stuff(Wire::readRegister(4, 2))));
    EXPECT_EQ(tool.reply(), echoReply(2));
}

TEST_F(SerialTransportTest, UnsupportedSpeedOrMissingPortLeavesTheLineSilent)
{
    Qz_uart_inout odd;
    EXPECT_EQ(odd.usart1_init(2, 14400), 0);
    EXPECT_FALSE(odd.opened());

    serialSim().failOpen(1, true);
    Qz_uart_inout_4G missing;
    EXPECT_EQ(missing.usart1_init(1, 115200), 0);
    EXPECT_FALSE(missing.opened());
    serialSim().failOpen(1, false);
}

// Each speed the box offers reaches the line as its own termios code, and a reply gets the time
// its bytes take at that speed (8N1: ten bits a byte) before a send is given up.
TEST_F(SerialTransportTest, EverySpeedSetsItsLineCodeAndItsSendTime)
{
    const struct {
        int baud;
        speed_t code;
        uint32_t kiloByteMs; // 1000 bytes: 1 s of slack plus the line time, rounded up
    } rows[] = {{115200, B115200, 1087}, {57600, B57600, 1174}, {38400, B38400, 1261},
                {19200, B19200, 1521},   {9600, B9600, 2042},     {4800, B4800, 3084},
                {2400, B2400, 5167},     {1200, B1200, 9334},     {300, B300, 34334}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.baud);
        serial_modules port;
        ASSERT_GE(port.serial_init(2, row.baud), 0);
        const int peer = open(serialSim().peerPath(2).c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
        ASSERT_GE(peer, 0);
        termios t{};
        EXPECT_EQ(tcgetattr(peer, &t), 0);
        close(peer);
        EXPECT_EQ(cfgetospeed(&t), row.code);
        EXPECT_EQ(cfgetispeed(&t), row.code);
        EXPECT_EQ(port.sendDeadlineMs(1000), row.kiloByteMs);
    }
}

TEST_F(SerialTransportTest, CardAnswerGoesBackOnTheLineThatAsked)
{
    openLines();
    LineTool serial(2), modem(1);
    const Bytes toCard = Wire::request(0x61, {0, 0, 0, 0, 1, 0, 0, 0}, 0x0001, 0xF010);
    const Bytes answer = Wire::sealed({0x10, 0xF0, 0x01, 0x00, 0x10, 0x00, 1, 1, 0, 0x61, 0x00, 0xA5});

    for (int index : {1, 2}) {
        SCOPED_TRACE(index);
        LineTool& asker = index == 1 ? modem : serial;
        LineTool& other = index == 1 ? serial : modem;
        SerialTransport* transport = index == 1 ? static_cast<SerialTransport*>(line4G.get()) : line.get();
        ASSERT_TRUE(asker.send(Wire::stuff(toCard)));
        ASSERT_TRUE(waitFor([&] { return transport->passState() == 1; }, 2000));
        cardAnswers(answer);
        EXPECT_EQ(asker.reply(), answer);
        EXPECT_TRUE(other.silent(100));
        EXPECT_TRUE(waitFor([&] { return transport->passState() == 0; }, 1000));
    }
}

namespace {

// Nanoseconds run so far by this process's thread with the given name; -1 when there is none.
long long threadRunNs(const std::string& name)
{
    long long total = -1;
    DIR* dir = opendir("/proc/self/task");
    while (dirent* e = dir ? readdir(dir) : nullptr) {
        const std::string task = std::string("/proc/self/task/") + e->d_name;
        std::string comm;
        std::getline(std::ifstream(task + "/comm"), comm);
        if (comm != name)
            continue;
        std::ifstream stat(task + "/schedstat");
        long long ns = -1;
        stat >> ns;
        total = ns;
    }
    if (dir)
        closedir(dir);
    return total;
}

}

// The transports block in poll: idle, their threads take no measurable time, and a request that
// arrives wakes them at once.
TEST(TransportsTiming, IdleThreadsSleepAndWakeAtOnce)
{
    startManagersWithoutWorkers();
    Qz_uart_inout line;
    ASSERT_EQ(line.usart1_init(2, 115200), 0);
    udpnetManage udp;
    ASSERT_EQ(udp.initialize(0, 0), 0);
    const char* names[] = {"uart_inout", "udpnetManage", "udp13769"};
    std::this_thread::sleep_for(TimeLimit::of(200)); // their start-up has ended
    long long before[3];
    for (int i = 0; i < 3; ++i) {
        before[i] = threadRunNs(names[i]);
        ASSERT_GE(before[i], 0) << names[i];
    }
    std::this_thread::sleep_for(std::chrono::seconds(2));
    for (int i = 0; i < 3; ++i)
        EXPECT_LT(threadRunNs(names[i]) - before[i], TimeLimit::ms(5) * 1'000'000LL) << names[i] << " ran while idle";

    LineTool tool(2);
    const auto t0 = std::chrono::steady_clock::now();
    ASSERT_TRUE(tool.send(Wire::stuff(Wire::readRegister(4, 1))));
    EXPECT_EQ(tool.reply(), echoReply(1));
    // Two of those milliseconds are the line driver's lead before the reply.
    EXPECT_LT(std::chrono::steady_clock::now() - t0, TimeLimit::of(100));
}

TEST_F(SerialTransportTest, FrameLongerThanTheRecordIsDroppedAndTheLineGoesOn)
{
    openLines();
    LineTool tool(2);
    Bytes huge = {0xA5};
    huge.insert(huge.end(), SerialTransport::kRecordSize + 100, 0x11);
    huge.push_back(0x5A);
    const Bytes next = Wire::stuff(Wire::readRegister(4, 7));
    huge.insert(huge.end(), next.begin(), next.end());
    for (size_t at = 0; at < huge.size(); at += 4096) {
        ASSERT_TRUE(waitFor([&] { return tool.send(Bytes(huge.begin() + at, huge.begin() + std::min(huge.size(), at + 4096))); }, 2000));
    }
    EXPECT_EQ(tool.reply(), echoReply(7));
    EXPECT_TRUE(tool.silent(100));
}

TEST_F(SerialTransportTest, WaitForASilentCardEndsByTimeOut)
{
    openLines();
    LineTool tool(2);
    const Bytes toCard = Wire::request(0x61, {0, 0, 0, 0, 1, 0, 0, 0}, 0x0001, 0xF010);
    G_timeTicks = 1000;
    ASSERT_TRUE(tool.send(Wire::stuff(toCard)));
    ASSERT_TRUE(waitFor([&] { return line->passState() == 1; }, 2000));
    G_timeTicks = 1000 + CardLink::kWaitTicks;
    EXPECT_TRUE(tool.silent(100));
    EXPECT_EQ(line->passState(), 1);
    G_timeTicks = 1000 + CardLink::kWaitTicks + 1;
    EXPECT_TRUE(waitFor([&] { return line->passState() == 0; }, 1000));
    // A late answer finds nobody waiting on this line.
    const Bytes answer = Wire::sealed({0x10, 0xF0, 0x01, 0x00, 0, 0, 1, 1, 0, 0x61, 0x00});
    cardAnswers(answer);
    EXPECT_TRUE(tool.silent(100));
}
