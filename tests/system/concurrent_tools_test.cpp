// Several tools on the control port of the running program at once: two uploads that overlap,
// and a table of connections that say nothing.
#include "frame_client.h"
#include "program.h"
#include "test_root.h"

#include "platform/paths.h"

#include <gtest/gtest.h>
#include <chrono>
#include <memory>
#include <vector>

namespace {

Bytes start(const char* tag, uint32_t length) { return Wire::uploadStart(tag, length); }
Bytes block(const Bytes& data) { return Wire::uploadBlock(data); }
Bytes end(const Bytes& data) { return Wire::uploadEnd(data); }
// Reply bytes 10-12: status, sub-command, result.
Bytes result(const Bytes& reply)
{
    return reply.size() >= 14 ? Bytes(reply.begin() + 10, reply.begin() + 13) : Bytes();
}

class ConcurrentTools : public ::testing::Test {
protected:
    void SetUp() override
    {
        port = freeTcpPort();
        ASSERT_GT(port, 0);
        ASSERT_TRUE(TestRoot::writeFile("/data/configs/tcpip.ini", QByteArray("[config]\nTcpPort=") + QByteArray::number(port) + "\n"));
        program = std::make_unique<Program>(platform::Paths::root());
        first = std::make_unique<FrameClient>(port, 20000);
        ASSERT_TRUE(first->connected()) << program->report();
    }
    int port = 0;
    std::unique_ptr<Program> program;
    std::unique_ptr<FrameClient> first;
};

}

// Tool A sends an alias file, tool B an on-screen-menu file, started one after the other: A's
// file is stored as the alias file, B is told its start failed and may try again once A is done.
TEST_F(ConcurrentTools, OverlappingUploadsKeepTheirOwnFiles)
{
    const std::string aliasText = "{\"source\":[]}  \n";
    const std::string menuText = "{\"menu\":[]}    \n";
    const Bytes alias(aliasText.begin(), aliasText.end()), menu(menuText.begin(), menuText.end());
    ASSERT_EQ(alias.size(), 16u);
    const QByteArray menuBefore = TestRoot::readFile("/data/configs/omenu.json");
    FrameClient& a = *first;
    FrameClient b(port);
    EXPECT_EQ(result(a.request(start("ALIS", 16))), Bytes({0, 1, 0}));
    EXPECT_EQ(result(b.request(start("OSDS", 16))), Bytes({1, 1, 2}));
    ASSERT_EQ(a.request(block(alias)).size(), 13u);
    EXPECT_EQ(result(a.request(end(alias), 10000)), Bytes({0, 3, 0})) << program->report();
    EXPECT_EQ(TestRoot::readFile("/data/configs/alias.json"), QByteArray(aliasText.c_str()));
    EXPECT_EQ(TestRoot::readFile("/data/configs/omenu.json"), menuBefore);

    EXPECT_EQ(result(b.request(start("OSDS", 16))), Bytes({0, 1, 0}));
    ASSERT_EQ(b.request(block(menu)).size(), 13u);
    EXPECT_EQ(result(b.request(end(menu), 10000)), Bytes({0, 3, 0}));
    EXPECT_EQ(TestRoot::readFile("/data/configs/omenu.json"), QByteArray(menuText.c_str()));
    EXPECT_EQ(TestRoot::readFile("/data/configs/alias.json"), QByteArray(aliasText.c_str()));
}

// 128 connections that send nothing fill the program's table; a tool that comes then still gets
// its answer within a second, and the tool that was talking before keeps its connection.
TEST_F(ConcurrentTools, SilentConnectionsDoNotLockToolsOut)
{
    ASSERT_GT(first->request(Wire::readRegister(4, 1)).size(), 11u);
    std::vector<std::unique_ptr<FrameClient>> silent;
    for (int i = 0; i < 128; ++i) {
        silent.push_back(std::make_unique<FrameClient>(port));
        ASSERT_TRUE(silent.back()->connected()) << i;
    }
    for (uint8_t n = 0; n < 3; ++n) {
        SCOPED_TRACE(int(n));
        FrameClient tool(port);
        const auto t0 = std::chrono::steady_clock::now();
        const Bytes reply = tool.request(Wire::readRegister(4, uint8_t(0x40 + n)), 1000);
        ASSERT_GT(reply.size(), 11u) << "no answer within a second";
        EXPECT_EQ(reply[11], 0x40 + n);
        EXPECT_LT(std::chrono::steady_clock::now() - t0, TimeLimit::of(1000));
    }
    const Bytes reply = first->request(Wire::readRegister(4, 2), 1000);
    ASSERT_GT(reply.size(), 11u) << "the tool that talked first was closed";
    EXPECT_EQ(reply[11], 2);
    EXPECT_TRUE(program->running()) << program->report();
}
