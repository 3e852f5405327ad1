// A PC tool replaces the program over TCP: a hostile upload first (refused, the program keeps
// running), then a verified application upload and register 14, after which the simulated board
// reboots (exit code 77) with the new program in place under the root.
#include "frame_client.h"
#include "program.h"
#include "sample_program.h"
#include "test_root.h"

#include "base/md5.h"
#include "platform/paths.h"

#include <gtest/gtest.h>
#include <memory>
#include <sys/stat.h>

namespace {

using Wire::join;
using Wire::u32;

TEST(FileUpload, VerifiedApplicationReplacesTheProgramAfterRegisterFourteen)
{
    const int port = freeTcpPort();
    ASSERT_GT(port, 0);
    const QByteArray ini = QByteArray("[config]\nTcpPort=") + QByteArray::number(port) + "\n";
    ASSERT_TRUE(TestRoot::writeFile("/data/configs/tcpip.ini", ini));
    ASSERT_TRUE(TestRoot::writeFile("/data/app/vyrR58N", "old program"));
    Program program(platform::Paths::root());
    FrameClient tool(port, 20000);
    ASSERT_TRUE(tool.connected()) << program.report();

    // A named upload that tries to leave the card folder, then a block past the buffer.
    const QByteArray iniBefore = TestRoot::readFile("/data/configs/tcpip.ini");
    const std::string name = "../configs/tcpip.ini";
    Bytes reply = tool.request(Wire::request(0xC0, join({{7, 0, 0, uint8_t(name.size()), 0}, Bytes(name.begin(), name.end()),
                                                         {9}, u32(4)})));
    ASSERT_EQ(reply.size(), 14u);
    EXPECT_EQ(reply[10], 1);
    EXPECT_EQ(reply[12], 2);
    reply = tool.request(Wire::request(0xC0, join({{1, 0, 0, 'F', 'M', 'C', 'U', 0}, u32(64)})));
    ASSERT_EQ(reply.size(), 14u);
    ASSERT_EQ(reply[10], 0);
    reply = tool.request(Wire::request(0xC0, join({{2, 0, 0, 0, 0}, u32(5u * 1024 * 1024 - 2), u32(4), {1, 2, 3, 4}})));
    ASSERT_EQ(reply.size(), 13u);
    EXPECT_EQ(reply[10], 1);
    EXPECT_TRUE(program.running()) << program.report();
    EXPECT_EQ(TestRoot::readFile("/data/configs/tcpip.ini"), iniBefore);

    // The application (a program of this machine) in blocks of 20,000 bytes, then the end with its digest.
    const Bytes app = sampleProgram(70000);
    ASSERT_GE(app.size(), 70000u);
    reply = tool.request(Wire::request(0xC0, join({{1, 0, 0, 'F', 'M', 'C', 'U', 0}, u32(uint32_t(app.size()))})));
    ASSERT_EQ(reply.size(), 14u);
    ASSERT_EQ(reply[10], 0);
    for (size_t at = 0; at < app.size(); at += 20000) {
        const size_t n = std::min<size_t>(20000, app.size() - at);
        reply = tool.request(Wire::request(0xC0, join({{2, 0, 0, 0, 0}, u32(uint32_t(at)), u32(uint32_t(n)),
                                                       Bytes(app.begin() + long(at), app.begin() + long(at + n))})));
        ASSERT_EQ(reply.size(), 13u);
        ASSERT_EQ(reply[10], 0);
    }
    MD5 digest(app.data(), app.size());
    const uint8_t* d = digest.digest();
    reply = tool.request(Wire::request(0xC0, join({{3, 0, 0, 0, 0}, Bytes(d, d + 16)})), 20000);
    ASSERT_EQ(reply.size(), 14u);
    EXPECT_EQ(reply[11], 3);
    ASSERT_EQ(reply[12], 0) << program.report();
    EXPECT_EQ(TestRoot::readFile("/data/app/vyrR58N"), QByteArray("old program"));

    // Register 14 bit 0: the new program is moved in place and the board reboots 3 s later.
    reply = tool.request(Wire::request(0xA0, {14, 0x01, 0, 0x01}));
    ASSERT_EQ(reply.size(), 12u);
    EXPECT_EQ(reply[10], 0);
    ASSERT_TRUE(waitFor([&] { return !program.running(); }, 20000)) << program.report();
    EXPECT_NE(program.report().find("status " + std::to_string(77 << 8)), std::string::npos) << program.report();
    EXPECT_EQ(TestRoot::readFile("/data/app/vyrR58N"), QByteArray(reinterpret_cast<const char*>(app.data()), int(app.size())));
    EXPECT_FALSE(TestRoot::exists("/data/app/vyrR58N2"));
    struct stat st {};
    ASSERT_EQ(stat(TestRoot::path("/data/app/vyrR58N").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0755u);
}

} // namespace
